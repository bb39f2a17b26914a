// The capture pin's format negotiation and the region of interest it offers: intersection
// checks and the size query, quoted image sizes, wider, narrower and top-down formats, format
// changes, the region lock while a pin exists and the range a new pin is offered.
#include <gtest/gtest.h>

#include "control/region_of_interest.h"
#include "tests/streaming/capture_fixture.h"

namespace bayercam::testing {
namespace {

using FormatTest = CaptureTest;

TEST_F(FormatTest, SmokeDeliversAFrame) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(1360 * 1024 * 4, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame.header.DataUsed, 1360u * 1024 * 4);
    EXPECT_GE(matchingCameraFrame(frame, Region{}, PictureSettings{}, 1360 * 4, false, false), 0);
}

}  // namespace
}  // namespace bayercam::testing
