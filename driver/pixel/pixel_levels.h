// The implementation levels behind pixel_kernels.h, and the pieces they share. Each level lives
// in its own source file, compiled with only the instructions of its level.
#pragma once

#include "driver/pixel/pixel_kernels.h"

extern const PixelKernelTable kReferenceKernels;
extern const PixelKernelTable kSse2Kernels;
extern const PixelKernelTable kAvx2Kernels;
extern const PixelKernelTable kAvx512Kernels;

// Whether the CPU (and the OS, for the wider registers) supports a level.
bool CpuSupportsAvx2();
bool CpuSupportsAvx512Bw();

// Grey-world gains from the channel sums of a frame: green 128, red and blue relative to it,
// limited to 1..65535. A zero sum (a black frame) leaves the three gains as they were.
VOID WhiteBalanceGains(ULONG64 sumRed, ULONG64 sumGreen, ULONG64 sumBlue, ULONG* red, ULONG* green,
                       ULONG* blue);

// The colour matrix of the snapshot as the SIMD members apply it, once per frame: magnitudes
// split into positive and negative parts by matrixPositive, and how wide the arithmetic must be.
enum MatrixWidth {
    MatrixFits16,  // no accumulator of any pixel can pass 65535
    MatrixFits32,  // every magnitude fits a signed 16-bit multiplier
    MatrixHuge,    // only 64-bit arithmetic is exact
};
struct SplitMatrix {
    LONG positive[4][3];  // [input row][output channel], magnitude or 0
    LONG negative[4][3];
    MatrixWidth width;
};
VOID SplitKernelMatrix(const ColorPipeline* pipeline, SplitMatrix* split);
