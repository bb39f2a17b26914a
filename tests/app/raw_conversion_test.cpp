// The conversion driver on an exhausted pool: a clear failure, nothing leaked.
#include "app/tool/raw_conversion.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/tool/tool_error.h"
#include "host/kernel/failure_injection.h"
#include "driver/streaming/color_pipeline.h"
#include "tests/support/kernel_test.h"

namespace bayercam::app {
namespace {

class RawConversion : public host::testing::KernelTest {
  protected:
    void expectOutOfMemory(ULONG tag) {
        host::injection::failNthOfTag(tag, 1);
        try {
            convertRawFrame(raw_, size_, 1, ConversionSettings{});
            ADD_FAILURE() << "expected a failure when the pool has no room";
        } catch (const ToolError& error) {
            EXPECT_EQ(error.status(), ExitStatus::kFailure);
            EXPECT_STREQ(error.what(), "out of memory for the conversion of a 64x32 frame");
        }
        EXPECT_EQ(host::injection::injectedCount(), 1u);
    }

    const FrameSize size_{64, 32};
    const std::vector<std::uint8_t> raw_ = std::vector<std::uint8_t>(64 * 32, 90);
};

TEST_F(RawConversion, NoRoomForThePipelineIsReported) { expectOutOfMemory(COLOR_PIPELINE_TAG); }

TEST_F(RawConversion, NoRoomForTheWorkBufferIsReportedAndThePipelineFreed) {
    expectOutOfMemory(FRAME_BUFFER_TAG);
}

TEST_F(RawConversion, EveryAllocationFailingInTurnFailsCleanly) {
    const std::size_t runs = host::injection::walkAllocationFailures([&](std::size_t failing) {
        try {
            const ConvertedFrame frame = convertRawFrame(raw_, size_, 1, ConversionSettings{});
            EXPECT_EQ(host::injection::injectedCount(), 0u)
                << "succeeded although allocation " << failing << " failed";
            EXPECT_EQ(frame.bgra.size(), 64u * 32u * 4u);
        } catch (const ToolError& error) {
            EXPECT_EQ(host::injection::injectedCount(), 1u) << error.what();
        }
    });
    EXPECT_EQ(runs, 3u) << "two allocations, then the clean run";
}

}  // namespace
}  // namespace bayercam::app
