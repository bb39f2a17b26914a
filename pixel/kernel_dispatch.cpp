// Chooses the kernel level once by CPU features; the twelve named members call through it.
#include "pixel/bayer_sites.h"
#include "pixel/pixel_levels.h"

namespace {

// The chosen table; written once (racing writers store the same value).
PVOID volatile gSelectedKernels = nullptr;

}  // namespace

const PixelKernelTable* GetPixelKernelTable(PixelIsa isa) {
    switch (isa) {
        case PixelIsaReference:
            return &kReferenceKernels;
        case PixelIsaSse2:
            return &kSse2Kernels;  // part of the x86-64 baseline
        case PixelIsaAvx2:
            return CpuSupportsAvx2() ? &kAvx2Kernels : nullptr;
        case PixelIsaAvx512:
            return CpuSupportsAvx512Bw() ? &kAvx512Kernels : nullptr;
        default:
            return nullptr;
    }
}

PixelIsa BestPixelIsa() {
    if (CpuSupportsAvx512Bw()) return PixelIsaAvx512;
    if (CpuSupportsAvx2()) return PixelIsaAvx2;
    return PixelIsaSse2;
}

const PixelKernelTable* SelectedPixelKernels() {
    PVOID table = InterlockedCompareExchangePointer(&gSelectedKernels, nullptr, nullptr);
    if (table == nullptr) {
        table = (PVOID)GetPixelKernelTable(BestPixelIsa());
        InterlockedExchangePointer(&gSelectedKernels, table);
    }
    return static_cast<const PixelKernelTable*>(table);
}

BOOLEAN SelectPixelKernelLevel(PixelIsa isa) {
    const PixelKernelTable* table = GetPixelKernelTable(isa);
    if (table == nullptr) return FALSE;
    InterlockedExchangePointer(&gSelectedKernels, (PVOID)table);
    return TRUE;
}

VOID ConvertColorGRBG(ColorPipeline* p) { SelectedPixelKernels()->convertColor[PhaseGRBG](p); }
VOID ConvertColorBGGR(ColorPipeline* p) { SelectedPixelKernels()->convertColor[PhaseBGGR](p); }
VOID ConvertColorRGGB(ColorPipeline* p) { SelectedPixelKernels()->convertColor[PhaseRGGB](p); }
VOID ConvertColorGBRG(ColorPipeline* p) { SelectedPixelKernels()->convertColor[PhaseGBRG](p); }
VOID ConvertGrayGRBG(ColorPipeline* p) { SelectedPixelKernels()->convertGray[PhaseGRBG](p); }
VOID ConvertGrayBGGR(ColorPipeline* p) { SelectedPixelKernels()->convertGray[PhaseBGGR](p); }
VOID ConvertGrayRGGB(ColorPipeline* p) { SelectedPixelKernels()->convertGray[PhaseRGGB](p); }
VOID ConvertGrayGBRG(ColorPipeline* p) { SelectedPixelKernels()->convertGray[PhaseGBRG](p); }

VOID MeasureWhiteBalanceGRBG(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    SelectedPixelKernels()->measureWhiteBalance[PhaseGRBG](p, red, green, blue);
}
VOID MeasureWhiteBalanceBGGR(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    SelectedPixelKernels()->measureWhiteBalance[PhaseBGGR](p, red, green, blue);
}
VOID MeasureWhiteBalanceRGGB(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    SelectedPixelKernels()->measureWhiteBalance[PhaseRGGB](p, red, green, blue);
}
VOID MeasureWhiteBalanceGBRG(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    SelectedPixelKernels()->measureWhiteBalance[PhaseGBRG](p, red, green, blue);
}
