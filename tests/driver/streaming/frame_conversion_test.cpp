// The frame conversion dispatch: the region copy and its border, the kernel choice, banded
// conversion and reads that stay inside guarded buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "driver/pixel/pixel_kernels.h"
#include "driver/streaming/color_pipeline.h"
#include "host/kernel/pool.h"
#include "tests/support/kernel_test.h"

namespace bayercam::testing {
namespace {

const ULONG kFrameTag = host::pool::makeTag("Tgno");
const int kRawWidth = 1360;
const int kRawHeight = 1024;

class FrameConversionTest : public host::testing::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        pipeline_ = CreateColorPipeline();
        ASSERT_NE(pipeline_, nullptr);
        raw_.resize(kRawWidth * kRawHeight);
        std::mt19937 rng(1234);
        for (auto& sample : raw_) sample = static_cast<UCHAR>(rng());
    }
    void TearDown() override {
        FreeColorPipeline(pipeline_);
        KernelTest::TearDown();
    }

    void startRun(int width, int height) {
        SetFrameSize(pipeline_, width, height);
        AllocateWorkBuffer(pipeline_);
        output_.assign(static_cast<std::size_t>(width) * height * 4, 0x5A);
        pipeline_->outputFrame = output_.data();
    }

    // The region at (x, y) of the raw frame, as ConvertFilledBuffer computes it.
    void convertRegion(int x, int y) {
        ConvertFrame(pipeline_, raw_.data(), y * kRawWidth + x, kRawWidth);
    }

    UCHAR work(int y, int x) const {
        return pipeline_->workOrigin[static_cast<std::ptrdiff_t>(y) * pipeline_->workStride + x];
    }

    // What a member of the reference writes for the pipeline's current snapshot.
    std::vector<UCHAR> referenceOutput(ConvertKernel kernel) {
        std::vector<UCHAR> out(output_.size());
        UCHAR* const saved = pipeline_->output;
        pipeline_->output = out.data();
        kernel(pipeline_);
        pipeline_->output = saved;
        return out;
    }

    const PixelKernelTable& reference() const { return *GetPixelKernelTable(PixelIsaReference); }

    ColorPipeline* pipeline_ = nullptr;
    std::vector<UCHAR> raw_;
    std::vector<UCHAR> output_;
};

// ---------------------------------------------------------------- region and border

TEST_F(FrameConversionTest, RegionIsCopiedAndBorderMirrored) {
    const int w = 40, h = 30, x0 = 8, y0 = 6;
    startRun(w, h);
    convertRegion(x0, y0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(work(y, x), raw_[(y0 + y) * kRawWidth + x0 + x]) << y << ", " << x;
        }
    }
    for (int x = -2; x < w + 2; ++x) {
        EXPECT_EQ(work(-2, x), work(2, x)) << "column " << x;
        EXPECT_EQ(work(-1, x), work(1, x)) << "column " << x;
        EXPECT_EQ(work(h, x), work(h - 4, x)) << "column " << x;
        EXPECT_EQ(work(h + 1, x), work(h - 3, x)) << "column " << x;
    }
    for (int y = -2; y < h + 2; ++y) {
        EXPECT_EQ(work(y, -1), work(y, 1)) << "row " << y;
        EXPECT_EQ(work(y, -2), work(y, 2)) << "row " << y;
        EXPECT_EQ(work(y, w), work(y, w - 2)) << "row " << y;
        EXPECT_EQ(work(y, w + 1), work(y, w - 3)) << "row " << y;
    }
}

// ---------------------------------------------------------------- dispatch and snapshot

// Without white balance a frame is filled and converted in bands, and a band whose rows are all
// image rows reads the middle of each row in place in the raw frame, so that only the ends of
// its rows are copied. At every level, across band edges, for odd heights and for rows short
// enough to be copied whole, the pictures must be those of one whole fill and one call of the
// reference; the work buffer is spoiled first, so reading a byte the fill left out shows.
TEST_F(FrameConversionTest, BandedConversionEqualsOneFillAndOneReferenceCall) {
    const std::pair<int, int> sizes[] = {{100, 8},  {100, 35}, {100, 97},  {300, 33}, {300, 34},
                                         {300, 66}, {301, 67}, {301, 130}, {1360, 99}};
    for (int level = PixelIsaReference; level < PixelIsaCount; ++level) {
        if (!SelectPixelKernelLevel(static_cast<PixelIsa>(level))) continue;
        for (auto [w, h] : sizes) {
            startRun(w, h);
            const int phase = (w + h) % 4;
            StoreBayerPhase(pipeline_, phase);
            for (LONG colour : {1, 0}) {
                StoreColorEnable(pipeline_, colour);
                std::memset(pipeline_->workBuffer, 0xA5, pipeline_->workBufferSize);
                convertRegion(3, 5);
                EXPECT_EQ(pipeline_->output, output_.data());
                EXPECT_EQ(pipeline_->kernelHeight, h);
                EXPECT_EQ(pipeline_->imageRows, nullptr);
                FillWorkBuffer(pipeline_, raw_.data(), 5 * kRawWidth + 3, kRawWidth);
                const auto& members = colour ? reference().convertColor : reference().convertGray;
                ASSERT_EQ(output_, referenceOutput(members[phase]))
                    << "level " << level << " W " << w << " H " << h << " colour " << colour;
            }
        }
    }
    SelectPixelKernelLevel(BestPixelIsa());
}

// The reads in place end at the last image column of the region: a region that ends the raw
// frame against an inaccessible page converts at every level. At a width 2 past a multiple of
// 64, the first whole chunk of every level that must come from the work rows would read one
// byte past its row in place.
TEST_F(FrameConversionTest, ReadsInPlaceStayInsideAGuardedRawFrame) {
    const ULONG rawTag = host::pool::makeTag("Rawt");
    host::pool::setGuardedTags({rawTag});
    // A pitch of whole 16-byte units leaves no slack between the frame's end and the guard.
    const int pitch = 1296, w = 1282, h = 130, x0 = pitch - w, y0 = 3;
    const std::size_t size = static_cast<std::size_t>(y0 + h) * pitch;
    auto* raw = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPoolNx, size, rawTag));
    ASSERT_NE(raw, nullptr);
    std::memcpy(raw, raw_.data(), size);
    startRun(w, h);
    for (int level = PixelIsaReference; level < PixelIsaCount; ++level) {
        if (!SelectPixelKernelLevel(static_cast<PixelIsa>(level))) continue;
        ConvertFrame(pipeline_, raw, y0 * pitch + x0, pitch);
        FillWorkBuffer(pipeline_, raw, y0 * pitch + x0, pitch);
        ASSERT_EQ(output_, referenceOutput(reference().convertColor[0])) << "level " << level;
    }
    SelectPixelKernelLevel(BestPixelIsa());
    ExFreePoolWithTag(raw, rawTag);
}

// Every kernel level, small and odd sizes: the work buffer ends against an inaccessible page,
// so a read past its end faults.
TEST_F(FrameConversionTest, KernelsStayInsideAGuardedWorkBuffer) {
    host::pool::setGuardedTags({kFrameTag});
    for (int level = PixelIsaReference; level < PixelIsaCount; ++level) {
        if (!SelectPixelKernelLevel(static_cast<PixelIsa>(level))) continue;
        for (int w : {1, 2, 5, 7, 8, 15, 16, 17, 31, 33, 63, 65, 1360}) {
            for (int h : {1, 2, 3, 7, 8, 9}) {
                startRun(w, h);
                for (LONG options = 0; options < 4; ++options) {
                    StoreColorEnable(pipeline_, options & 1);
                    StoreWhiteBalance(pipeline_, options & 2);
                    StoreBayerPhase(pipeline_, options);
                    convertRegion(0, 0);
                    ASSERT_EQ(output_[3], 255) << "level " << level << " W " << w << " H " << h;
                }
            }
        }
    }
    SelectPixelKernelLevel(BestPixelIsa());
}

}  // namespace
}  // namespace bayercam::testing
