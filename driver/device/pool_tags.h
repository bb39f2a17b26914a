// Pool tags of the driver, each the ULONG whose bytes in memory are its four characters.
#pragma once

#include "platform/kernel.h"

constexpr ULONG MakePoolTag(char a, char b, char c, char d) {
    return static_cast<ULONG>(static_cast<UCHAR>(a)) |
           static_cast<ULONG>(static_cast<UCHAR>(b)) << 8 |
           static_cast<ULONG>(static_cast<UCHAR>(c)) << 16 |
           static_cast<ULONG>(static_cast<UCHAR>(d)) << 24;
}

// CameraDevice, FilterContext, FrameGrabber, PinContext.
constexpr ULONG POOL_TAG_CAMERA = MakePoolTag('K', 'C', 'N', 'w');
// URBs, descriptor copies, the pipe table copy, pipe marks, transfer slots.
constexpr ULONG POOL_TAG_USB = MakePoolTag('Q', 'v', 'b', 'z');
// ColorPipeline.
constexpr ULONG POOL_TAG_COLOR = MakePoolTag('I', 's', 'y', 'R');
// Raw frame buffers, the converted frame, the work buffer, per-pin descriptor copies.
constexpr ULONG POOL_TAG_FRAME = MakePoolTag('T', 'g', 'n', 'o');
