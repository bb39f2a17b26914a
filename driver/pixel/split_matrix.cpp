// The snapshot's colour matrix prepared for the SIMD members, once per frame.
#include "driver/pixel/pixel_levels.h"
#include "driver/streaming/color_pipeline.h"

namespace {

const LONG64 kMaxMultiplier = 32767;  // a signed 16-bit multiplier (pmaddwd)
const LONG64 kMaxSum16 = 65535;       // an unsigned 16-bit accumulator

LONG64 Magnitude(LONG entry) { return entry < 0 ? -(LONG64)entry : (LONG64)entry; }

}  // namespace

VOID SplitKernelMatrix(const ColorPipeline* pipeline, SplitMatrix* split) {
    bool fits16 = true;
    bool huge = false;
    for (int j = 0; j < 3; ++j) {
        LONG64 positiveBound = 0;
        LONG64 negativeBound = 0;
        for (int i = 0; i < 4; ++i) {
            const LONG64 magnitude = Magnitude(pipeline->kernelMatrix[4 * i + j]);
            const bool isPositive = pipeline->matrixPositive[4 * i + j] != 0;
            huge = huge || magnitude > kMaxMultiplier;
            const LONG kept = magnitude > kMaxMultiplier ? 0 : (LONG)magnitude;
            split->positive[i][j] = isPositive ? kept : 0;
            split->negative[i][j] = isPositive ? 0 : kept;
            // The largest input of rows 0..2 is 255; row 3 multiplies the constant 1.
            const LONG64 largest = (i < 3 ? 255 : 1) * magnitude;
            (isPositive ? positiveBound : negativeBound) += largest;
        }
        fits16 = fits16 && positiveBound <= kMaxSum16 && negativeBound <= kMaxSum16;
    }
    split->width = huge ? MatrixHuge : (fits16 ? MatrixFits16 : MatrixFits32);
}
