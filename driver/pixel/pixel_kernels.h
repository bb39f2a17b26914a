// The per-frame pixel kernels: colour demosaicing with gains and colour matrix, grey
// conversion and white-balance measurement, one member per Bayer phase. Each reads the
// bordered work buffer and the per-frame snapshot of a ColorPipeline and runs on the caller's
// thread without locks or allocation.
//
// Every member has a scalar reference (the definition) and fast SIMD members for SSE2, AVX2
// and AVX-512BW. The fastest level the CPU supports is chosen once; all levels give the same
// bytes for every input.
#pragma once

#include "platform/kernel.h"

struct ColorPipeline;

typedef VOID (*ConvertKernel)(ColorPipeline* pipeline);
// Writes the measured red, green and blue gains (units of 1/128) through the three pointers.
typedef VOID (*MeasureKernel)(ColorPipeline* pipeline, ULONG* red, ULONG* green, ULONG* blue);

// One implementation level of the twelve members, each array indexed by Bayer phase.
struct PixelKernelTable {
    ConvertKernel convertColor[4];
    ConvertKernel convertGray[4];
    MeasureKernel measureWhiteBalance[4];
};

enum PixelIsa {
    PixelIsaReference,
    PixelIsaSse2,
    PixelIsaAvx2,
    PixelIsaAvx512,
    PixelIsaCount,
};

// The table of one level, or null when this CPU cannot run it.
const PixelKernelTable* GetPixelKernelTable(PixelIsa isa);
// The fastest level this CPU runs.
PixelIsa BestPixelIsa();
// The table the named members below use; chosen on first use.
const PixelKernelTable* SelectedPixelKernels();
// Makes the named members use one level (for benchmarks and tests); FALSE when the CPU lacks it.
BOOLEAN SelectPixelKernelLevel(PixelIsa isa);

// When a colour or grey member is given imageRows, every row it reads (two above and below
// each converted row) is an image row there, and the work buffer holds, of those rows, only the
// border and the kWorkEdgeColumns image columns at each end of a row: the members read the
// rest of a row in place, which saves copying it. No whole chunk of any level reads further
// than this from a row end.
const LONG kWorkEdgeColumns = 72;

// The twelve members (selected level). Colour and grey write kernelWidth x kernelHeight
// pixels (blue, green, red, 255) at output.
VOID ConvertColorGRBG(ColorPipeline* pipeline);
VOID ConvertColorBGGR(ColorPipeline* pipeline);
VOID ConvertColorRGGB(ColorPipeline* pipeline);
VOID ConvertColorGBRG(ColorPipeline* pipeline);
VOID ConvertGrayGRBG(ColorPipeline* pipeline);
VOID ConvertGrayBGGR(ColorPipeline* pipeline);
VOID ConvertGrayRGGB(ColorPipeline* pipeline);
VOID ConvertGrayGBRG(ColorPipeline* pipeline);
VOID MeasureWhiteBalanceGRBG(ColorPipeline* pipeline, ULONG* red, ULONG* green, ULONG* blue);
VOID MeasureWhiteBalanceBGGR(ColorPipeline* pipeline, ULONG* red, ULONG* green, ULONG* blue);
VOID MeasureWhiteBalanceRGGB(ColorPipeline* pipeline, ULONG* red, ULONG* green, ULONG* blue);
VOID MeasureWhiteBalanceGBRG(ColorPipeline* pipeline, ULONG* red, ULONG* green, ULONG* blue);
