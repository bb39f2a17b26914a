// Single-precision square root, sine and cosine for the hue matrix. The kernel exports no
// single-precision maths, so both builds use these: the same code, so the same matrices.
#pragma once

// The correctly rounded square root (the SSE instruction, part of the x86-64 baseline).
float SquareRootSingle(float x);

// Sine and cosine of x radians, |x| < 2^16, each the nearest float to the exact value: the
// reduction and the polynomials run in double precision, leaving far more margin than one
// rounding to float needs.
float SineSingle(float x);
float CosineSingle(float x);
