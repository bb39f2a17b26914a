// The conversion driver on an exhausted pool: a clear failure, nothing leaked.
#include "app/tool/raw_conversion.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/tool/tool_error.h"
#include "host/kernel/failure_injection.h"
#include "tests/support/kernel_test.h"

namespace bayercam::app {
namespace {

using RawConversion = host::testing::KernelTest;

// Each allocation fails in turn (the pipeline, then the work buffer): a clear failure each time,
// with nothing leaked, and then a clean run.
TEST_F(RawConversion, EveryAllocationFailingInTurnFailsCleanly) {
    const std::vector<std::uint8_t> raw(64 * 32, 90);
    const std::size_t runs = host::injection::walkAllocationFailures([&](std::size_t failing) {
        try {
            const ConvertedFrame frame = convertRawFrame(raw, {64, 32}, 1, ConversionSettings{});
            EXPECT_EQ(host::injection::injectedCount(), 0u)
                << "succeeded although allocation " << failing << " failed";
            EXPECT_EQ(frame.bgra.size(), 64u * 32u * 4u);
        } catch (const ToolError& error) {
            EXPECT_EQ(host::injection::injectedCount(), 1u) << error.what();
            EXPECT_EQ(error.status(), ExitStatus::kFailure);
            EXPECT_STREQ(error.what(), "out of memory for the conversion of a 64x32 frame");
        }
    });
    EXPECT_EQ(runs, 3u) << "two allocations, then the clean run";
}

}  // namespace
}  // namespace bayercam::app
