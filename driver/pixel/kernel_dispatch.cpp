// Chooses the kernel level once by CPU features; the twelve named members call through it.
#include "driver/pixel/bayer_sites.h"
#include "driver/pixel/pixel_levels.h"
#include "driver/pixel/vector_state.h"

namespace {

// The chosen table; written once (racing writers store the same value).
PVOID volatile gSelectedKernels = nullptr;

// Every call of a member goes through here: a wider level runs inside a save of the vector
// state it changes, and when that state cannot be saved the SSE2 member (same bytes) runs.
template <class Kernel, class... Args>
VOID RunSelected(Kernel const (PixelKernelTable::*members)[4], int phase, Args... args) {
    const PixelKernelTable* table = SelectedPixelKernels();
    VectorStateSave save;
    if (!SaveVectorState(table, &save)) {
        (kSse2Kernels.*members)[phase](args...);
        return;
    }
    (table->*members)[phase](args...);
    RestoreVectorState(&save);
}

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

// The named members. The 2 x 2 cell at image sample (0, 0) of each phase:
//   GRBG  G R    BGGR  B G    RGGB  R G    GBRG  G B
//         B G          G R          G B          R G
VOID ConvertColorGRBG(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertColor, PhaseGRBG, p);
}
VOID ConvertColorBGGR(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertColor, PhaseBGGR, p);
}
VOID ConvertColorRGGB(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertColor, PhaseRGGB, p);
}
VOID ConvertColorGBRG(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertColor, PhaseGBRG, p);
}
VOID ConvertGrayGRBG(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertGray, PhaseGRBG, p);
}
VOID ConvertGrayBGGR(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertGray, PhaseBGGR, p);
}
VOID ConvertGrayRGGB(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertGray, PhaseRGGB, p);
}
VOID ConvertGrayGBRG(ColorPipeline* p) {
    RunSelected(&PixelKernelTable::convertGray, PhaseGBRG, p);
}

VOID MeasureWhiteBalanceGRBG(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    RunSelected(&PixelKernelTable::measureWhiteBalance, PhaseGRBG, p, red, green, blue);
}
VOID MeasureWhiteBalanceBGGR(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    RunSelected(&PixelKernelTable::measureWhiteBalance, PhaseBGGR, p, red, green, blue);
}
VOID MeasureWhiteBalanceRGGB(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    RunSelected(&PixelKernelTable::measureWhiteBalance, PhaseRGGB, p, red, green, blue);
}
VOID MeasureWhiteBalanceGBRG(ColorPipeline* p, ULONG* red, ULONG* green, ULONG* blue) {
    RunSelected(&PixelKernelTable::measureWhiteBalance, PhaseGBRG, p, red, green, blue);
}
