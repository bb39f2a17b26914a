// The padded work buffer and the per-frame conversion dispatch.
//
// Work buffer: H + (H & 1) + 4 rows of paddedStride bytes. Image sample (y, x), y = -2 .. H+1,
// x = -2 .. W+1, lies at workBuffer + (y + 2) x paddedStride + 5 + x; rows -2, -1, H, H+1 and
// columns -2, -1, W, W+1 are the border. The row length leaves room for the kernels' whole
// 16-sample chunks up to column 16 x ceil(W / 16) + 2.
#include "driver/pixel/bayer_sites.h"
#include "driver/pixel/pixel_kernels.h"
#include "driver/streaming/color_pipeline.h"

namespace {

LONG ReadSetting(volatile LONG* field) { return InterlockedCompareExchange(field, 0, 0); }

PUCHAR WorkRow(ColorPipeline* p, LONG y) { return p->workOrigin + (ptrdiff_t)y * p->paddedStride; }

// Rows -2, -1 mirror rows 2, 1; rows H, H+1 repeat rows H-4, H-3 (same colour parity).
void FillBorderRows(ColorPipeline* p) {
    const size_t width = (size_t)p->width;
    const LONG h = p->height;
    memcpy(WorkRow(p, -2), WorkRow(p, 2), width);
    memcpy(WorkRow(p, -1), WorkRow(p, 1), width);
    memcpy(WorkRow(p, h), WorkRow(p, h - 4), width);
    memcpy(WorkRow(p, h + 1), WorkRow(p, h - 3), width);
}

// Columns -1, -2 mirror columns 1, 2; columns W, W+1 mirror W-2, W-3.
void FillBorderColumns(ColorPipeline* p, LONG y) {
    const LONG w = p->width;
    PUCHAR row = WorkRow(p, y);
    row[-1] = row[1];
    row[-2] = row[2];
    row[w] = row[w - 2];
    row[w + 1] = row[w - 3];
}

// Every row from -2 to H+1, so the corners come from the border rows.
void FillBorderColumns(ColorPipeline* p) {
    for (LONG y = -2; y < p->height + 2; ++y) FillBorderColumns(p, y);
}

// Image row y with its border columns: whole, or only the columns near its ends that the
// kernels still read from the work buffer when the rest is read in place.
void FillImageRow(ColorPipeline* p, const UCHAR* raw, ULONG offset, ULONG pitch, LONG y,
                  bool whole) {
    const LONG w = p->width;
    const UCHAR* from = raw + offset + (size_t)y * pitch;
    PUCHAR to = WorkRow(p, y);
    if (whole || w <= 2 * kWorkEdgeColumns) {
        memcpy(to, from, (size_t)w);
    } else {
        memcpy(to, from, (size_t)kWorkEdgeColumns);
        memcpy(to + w - kWorkEdgeColumns, from + w - kWorkEdgeColumns, (size_t)kWorkEdgeColumns);
    }
    FillBorderColumns(p, y);
}

// Rows converted per band: few enough that the work rows a band reads are still in the nearest
// cache when the kernel reads them just after the copy. Even, so every band starts on the row
// parity of the frame.
const LONG kBandRows = 32;

// Fills the work buffer band by band, each band just before its rows are converted; every row
// the kernel reads (two above and below each row) is filled before the band that reads it.
// A band that reads only image rows is converted from the raw frame in place, so its rows need
// only their ends copied; the first band and the bands from `tail` on read border rows and get
// whole rows. The frame is at least 8 x 8; the pictures are those of FillWorkBuffer followed by
// one call.
void ConvertInBands(ColorPipeline* p, ConvertKernel kernel, const UCHAR* raw, ULONG offset,
                    ULONG pitch) {
    const LONG h = p->height;
    const size_t outputRow = 4 * (size_t)p->kernelWidth;
    LONG tail = 0;
    while (tail + kBandRows + 2 <= h) tail += kBandRows;
    PUCHAR origin = p->workOrigin;
    p->imagePitch = (LONG)pitch;
    LONG filled = 0;
    for (LONG first = 0; first < h; first += kBandRows) {
        const LONG end = first + kBandRows < h ? first + kBandRows : h;
        const LONG needed = end + 2 < h ? end + 2 : h;
        p->workOrigin = origin;  // the fill addresses rows from the frame's origin
        for (; filled < needed; ++filled) {
            const bool readByABorderBand = filled < kBandRows + 2 || filled >= tail - 2;
            FillImageRow(p, raw, offset, pitch, filled, readByABorderBand);
        }
        if (first == 0) {
            memcpy(WorkRow(p, -2) - 2, WorkRow(p, 2) - 2, (size_t)p->width + 4);
            memcpy(WorkRow(p, -1) - 2, WorkRow(p, 1) - 2, (size_t)p->width + 4);
        }
        if (needed == h) {
            memcpy(WorkRow(p, h) - 2, WorkRow(p, h - 4) - 2, (size_t)p->width + 4);
            memcpy(WorkRow(p, h + 1) - 2, WorkRow(p, h - 3) - 2, (size_t)p->width + 4);
        }
        const bool inPlace = first > 0 && first < tail;
        p->imageRows = inPlace ? raw + offset + (size_t)first * pitch : nullptr;
        p->workOrigin = origin + (ptrdiff_t)first * p->workStride;
        p->output = p->outputFrame + (size_t)first * outputRow;
        p->kernelHeight = end - first;
        kernel(p);
    }
    p->imageRows = nullptr;
    p->workOrigin = origin;
    p->output = p->outputFrame;
    p->kernelHeight = h;
}

// Takes the matrix snapshot: kernelMatrix and matrixPositive always come from one matrixFixed.
void SnapshotMatrix(ColorPipeline* p) {
    const KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&p->matrixLock);
    for (int i = 0; i < 16; ++i) {
        p->matrixPositive[i] = p->matrixFixed[i] > 0 ? 1 : 0;
        p->kernelMatrix[i] = p->matrixFixed[i];
    }
    KeReleaseSpinLock(&p->matrixLock, oldIrql);
}

// Phase 3 and any value out of range take the phase-3 members.
int KernelPhase(LONG bayerPhase) {
    return (bayerPhase >= PhaseGRBG && bayerPhase <= PhaseGBRG) ? (int)bayerPhase : (int)PhaseGBRG;
}

const MeasureKernel kMeasure[4] = {
    MeasureWhiteBalanceGRBG,  // G R / B G
    MeasureWhiteBalanceBGGR,  // B G / G R
    MeasureWhiteBalanceRGGB,  // R G / G B
    MeasureWhiteBalanceGBRG,  // G B / R G
};
const ConvertKernel kColor[4] = {
    ConvertColorGRBG,
    ConvertColorBGGR,
    ConvertColorRGGB,
    ConvertColorGBRG,
};
const ConvertKernel kGray[4] = {
    ConvertGrayGRBG,
    ConvertGrayBGGR,
    ConvertGrayRGGB,
    ConvertGrayGBRG,
};

}  // namespace

VOID SetFrameSize(ColorPipeline* pipeline, LONG width, LONG height) {
    pipeline->height = height;
    pipeline->width = width;
    pipeline->paddedStride = ((width + 16) & ~15) + 11;
    pipeline->workBufferSize = pipeline->paddedStride * (height + (height & 1) + 4);
}

VOID AllocateWorkBuffer(ColorPipeline* pipeline) {
    if (pipeline->workBuffer != nullptr) {
        ExFreePoolWithTag(pipeline->workBuffer, FRAME_BUFFER_TAG);
        pipeline->workBuffer = nullptr;
    }
    pipeline->workBuffer = static_cast<PUCHAR>(
        ExAllocatePoolWithTag(NonPagedPoolNx, (SIZE_T)pipeline->workBufferSize, FRAME_BUFFER_TAG));
    pipeline->workStride = pipeline->paddedStride;
    pipeline->workOrigin = pipeline->workBuffer == nullptr
                               ? nullptr
                               : pipeline->workBuffer + 2 * pipeline->paddedStride + 5;
    pipeline->kernelWidth = pipeline->width;
    pipeline->kernelHeight = pipeline->height;
}

VOID FillWorkBuffer(ColorPipeline* pipeline, const UCHAR* raw, ULONG offset, ULONG pitch) {
    const size_t width = (size_t)pipeline->width;
    for (LONG y = 0; y < pipeline->height; ++y) {
        memcpy(WorkRow(pipeline, y), raw + offset + (size_t)y * pitch, width);
    }
    // Too small to mirror: the border keeps what it held.
    if (pipeline->width < 8 || pipeline->height < 8) return;
    FillBorderRows(pipeline);
    FillBorderColumns(pipeline);
}

VOID ConvertFrame(ColorPipeline* pipeline, const UCHAR* raw, LONG offset, LONG pitch) {
    if (pipeline->outputFrame == nullptr || raw == nullptr || pipeline->workBuffer == nullptr) {
        return;
    }
    pipeline->output = pipeline->outputFrame;
    pipeline->kernelRedGain = (ULONG)ReadSetting(&pipeline->redGain);
    pipeline->kernelGreenGain = (ULONG)ReadSetting(&pipeline->greenGain);
    pipeline->kernelBlueGain = (ULONG)ReadSetting(&pipeline->blueGain);
    const int phase = KernelPhase(ReadSetting(&pipeline->bayerPhase));
    const bool measure = ReadSetting(&pipeline->whiteBalance) != 0;
    // The measurement needs the whole frame before any pixel is converted.
    const bool banded = !measure && pipeline->width >= 8 && pipeline->height >= 8 &&
                        pipeline->kernelWidth == pipeline->width &&
                        pipeline->kernelHeight == pipeline->height;
    if (!banded) FillWorkBuffer(pipeline, raw, (ULONG)offset, (ULONG)pitch);

    if (measure) {
        // Measured gains apply to this frame and become the live gains for the next ones.
        kMeasure[phase](pipeline, &pipeline->kernelRedGain, &pipeline->kernelGreenGain,
                        &pipeline->kernelBlueGain);
        InterlockedExchange(&pipeline->redGain, (LONG)pipeline->kernelRedGain);
        InterlockedExchange(&pipeline->greenGain, (LONG)pipeline->kernelGreenGain);
        InterlockedExchange(&pipeline->blueGain, (LONG)pipeline->kernelBlueGain);
    }

    SnapshotMatrix(pipeline);
    const ConvertKernel kernel =
        ReadSetting(&pipeline->colorEnable) != 0 ? kColor[phase] : kGray[phase];
    if (banded) {
        ConvertInBands(pipeline, kernel, raw, (ULONG)offset, (ULONG)pitch);
    } else {
        kernel(pipeline);
    }
}
