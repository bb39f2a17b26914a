// x = k * pi/2 + r with |r| <= pi/4, then a Taylor polynomial of sin or cos on r, all in
// double. pi/2 is split into three parts whose products with k (|k| < 2^16) are exact, so r
// carries no cancellation error; the dropped polynomial terms are below 2^-55 of the result.
#include "driver/streaming/single_math.h"

#include <emmintrin.h>

namespace {

const double kTwoOverPi = 0.63661977236758134308;
const double kHalfPi1 = 1.5707963267341256141;   // first 33 bits of pi/2
const double kHalfPi2 = 6.0771005063039659e-11;  // next 33 bits
const double kHalfPi3 = 2.0222662487959506e-21;  // the rest

// sin r / r and cos r as polynomials in r^2, coefficients (-1)^n / (2n+1)! and (-1)^n / (2n)!.
double SinPolynomial(double r) {
    const double z = r * r;
    double p = -1.0 / 1307674368000.0;  // -1/15!
    p = p * z + 1.0 / 6227020800.0;
    p = p * z - 1.0 / 39916800.0;
    p = p * z + 1.0 / 362880.0;
    p = p * z - 1.0 / 5040.0;
    p = p * z + 1.0 / 120.0;
    p = p * z - 1.0 / 6.0;
    p = p * z + 1.0;
    return r * p;
}

double CosPolynomial(double r) {
    const double z = r * r;
    double p = 1.0 / 20922789888000.0;  // 1/16!
    p = p * z - 1.0 / 87178291200.0;
    p = p * z + 1.0 / 479001600.0;
    p = p * z - 1.0 / 3628800.0;
    p = p * z + 1.0 / 40320.0;
    p = p * z - 1.0 / 720.0;
    p = p * z + 1.0 / 24.0;
    p = p * z - 0.5;
    return p * z + 1.0;
}

// The quadrant k mod 4 and the remainder r of x.
int Reduce(float x, double* r) {
    const double xd = (double)x;
    const double scaled = xd * kTwoOverPi;
    const long long k = (long long)(scaled >= 0.0 ? scaled + 0.5 : scaled - 0.5);
    const double kd = (double)k;
    *r = ((xd - kd * kHalfPi1) - kd * kHalfPi2) - kd * kHalfPi3;
    return (int)(k & 3);
}

}  // namespace

float SquareRootSingle(float x) { return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(x))); }

float SineSingle(float x) {
    double r = 0.0;
    switch (Reduce(x, &r)) {
        case 0:
            return (float)SinPolynomial(r);
        case 1:
            return (float)CosPolynomial(r);
        case 2:
            return (float)-SinPolynomial(r);
        default:
            return (float)-CosPolynomial(r);
    }
}

float CosineSingle(float x) {
    double r = 0.0;
    switch (Reduce(x, &r)) {
        case 0:
            return (float)CosPolynomial(r);
        case 1:
            return (float)-SinPolynomial(r);
        case 2:
            return (float)-CosPolynomial(r);
        default:
            return (float)SinPolynomial(r);
    }
}
