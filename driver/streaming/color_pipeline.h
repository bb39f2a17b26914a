// ColorPipeline: the colour processing state of one capture acquisition. Live settings, the
// adjustment matrices and their fixed-point product, the geometry and buffers of the frame
// conversion, and the per-frame snapshot the pixel kernels read.
#pragma once

#include "platform/kernel.h"

// Pool tags, four characters in memory order.
constexpr ULONG PoolTag(char a, char b, char c, char d) {
    return (ULONG)(UCHAR)a | (ULONG)(UCHAR)b << 8 | (ULONG)(UCHAR)c << 16 | (ULONG)(UCHAR)d << 24;
}
constexpr ULONG COLOR_PIPELINE_TAG = PoolTag('I', 's', 'y', 'R');  // the ColorPipeline record
constexpr ULONG FRAME_BUFFER_TAG = PoolTag('T', 'g', 'n', 'o');    // frame and work buffers

struct ColorPipeline {
    // Per-run geometry and per-frame snapshot. Written by AllocateWorkBuffer (run start) and
    // ConvertFrame (each frame) on the processing thread; the kernels read only these.
    PUCHAR workOrigin;  // image sample (0, 0) inside workBuffer
    PUCHAR output;      // destination of the conversion in progress
    LONG workStride;
    ULONG kernelRedGain;  // units of 1/128; the white-balance measurement writes here
    ULONG kernelGreenGain;
    ULONG kernelBlueGain;
    LONG kernelWidth;
    LONG kernelHeight;
    LONG kernelMatrix[16];  // snapshot of matrixFixed, taken under matrixLock
    // Colour and grey only, null otherwise: image sample (0, 0) of the rows being converted in
    // the raw frame, read in place there (see kWorkEdgeColumns); imagePitch bytes a row.
    const UCHAR* imageRows;
    LONG imagePitch;

    // Geometry of the run: SetFrameSize and AllocateWorkBuffer, while no conversion runs.
    LONG width;
    LONG height;
    LONG paddedStride;
    LONG workBufferSize;
    PUCHAR outputFrame;  // the grabber's converted frame; null outside a run
    PUCHAR workBuffer;   // padded work buffer, tag "Tgno"

    // Live settings: every access goes through the Interlocked operations.
    volatile LONG bayerPhase;
    volatile LONG colorEnable;
    volatile LONG whiteBalance;
    volatile LONG redGain;
    volatile LONG greenGain;
    volatile LONG blueGain;
    volatile LONG colorCorrection;
    volatile LONG brightness;
    volatile LONG contrast;
    volatile LONG saturation;
    volatile LONG hue;

    // Adjustment matrices, row-major, a pixel is the row vector (R, G, B, 1) on the left.
    // Touched only by the builders, which hold matrixLock.
    double baseMatrix[16];
    double correctionMatrix[16];
    double brightnessMatrix[16];
    double contrastMatrix[16];
    double saturationMatrix[16];
    double hueMatrix[16];
    double combinedMatrix[16];
    LONG matrixFixed[16];      // Q6 (64 = 1.0); guarded by matrixLock
    UCHAR matrixPositive[16];  // 1 where kernelMatrix[i] > 0; written with the snapshot
    KSPIN_LOCK matrixLock;     // serialises the builders and the per-frame snapshot
};

// ---------------------------------------------------------------- lifetime (PASSIVE_LEVEL)

// Allocates a zeroed record from nonpaged pool (tag "IsyR") with the default settings and
// matrices; null when the pool is exhausted.
ColorPipeline* CreateColorPipeline();
// Frees the record and a work buffer it may still hold. Accepts null.
VOID FreeColorPipeline(ColorPipeline* pipeline);

// ---------------------------------------------------------------- settings (<= APC_LEVEL)

// Plain setters: store by atomic exchange, nothing else.
VOID StoreBayerPhase(ColorPipeline* pipeline, LONG value);
VOID StoreColorEnable(ColorPipeline* pipeline, LONG value);
VOID StoreWhiteBalance(ColorPipeline* pipeline, LONG value);
VOID StoreRedGain(ColorPipeline* pipeline, LONG value);
VOID StoreGreenGain(ColorPipeline* pipeline, LONG value);
VOID StoreBlueGain(ColorPipeline* pipeline, LONG value);

// Rebuilding setters: when the value differs from the stored one, store it and rebuild the
// matching matrix; an equal value rebuilds nothing.
VOID UpdateColorCorrection(ColorPipeline* pipeline, LONG value);
VOID UpdateBrightness(ColorPipeline* pipeline, LONG value);
VOID UpdateContrast(ColorPipeline* pipeline, LONG value);
VOID UpdateSaturation(ColorPipeline* pipeline, LONG value);
VOID UpdateHue(ColorPipeline* pipeline, LONG value);

// ---------------------------------------------------------------- matrices (<= DISPATCH_LEVEL)

// Builders: rebuild one matrix from the value, then combine. Concurrent builders on one
// pipeline are serialised by matrixLock, so the double matrices are never torn.
VOID BuildCorrectionMatrix(ColorPipeline* pipeline, LONG enabled);
VOID BuildBrightnessMatrix(ColorPipeline* pipeline, LONG value);
VOID BuildContrastMatrix(ColorPipeline* pipeline, LONG value);
VOID BuildSaturationMatrix(ColorPipeline* pipeline, LONG value);
VOID BuildHueMatrix(ColorPipeline* pipeline, LONG value);

// Sets every matrix to the state of the default settings and combines them.
VOID InitMatrices(ColorPipeline* pipeline);
// combinedMatrix = hue x saturation x brightness x contrast x correction x base, then its Q6
// image into matrixFixed.
VOID CombineMatrices(ColorPipeline* pipeline);
// out = b x a (b on the left); out may alias a or b.
VOID MultiplyMatrix(const double* a, const double* b, double* out);

// ---------------------------------------------------------------- conversion

// Geometry of the padded work buffer for a w x h region (run start, no conversion active).
VOID SetFrameSize(ColorPipeline* pipeline, LONG width, LONG height);
// (Re)allocates the work buffer (tag "Tgno"); leaves it null when the pool is exhausted.
VOID AllocateWorkBuffer(ColorPipeline* pipeline);
// Copies the region at raw + offset (rows pitch bytes apart) into the work buffer and writes
// its two-sample border.
VOID FillWorkBuffer(ColorPipeline* pipeline, const UCHAR* raw, ULONG offset, ULONG pitch);
// Converts one raw frame into outputFrame; does nothing without a raw frame, output frame or
// work buffer. Runs on the processing thread, one frame at a time.
VOID ConvertFrame(ColorPipeline* pipeline, const UCHAR* raw, LONG offset, LONG pitch);
