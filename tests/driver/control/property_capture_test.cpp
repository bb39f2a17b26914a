// The property set while a capture runs: gains read back live from the white-balance
// measurement, the measured gains kept when the balance is switched off, the register shadow's
// end, and the region locked by the pin.
#include <gtest/gtest.h>

#include "tests/driver/control/property_client.h"

namespace bayercam::testing {
namespace {

constexpr ULONG kFullFrame = 1360 * 1024 * 4;

class PropertyCaptureTest : public PropertyTest {
  protected:
    // Colour bars: a scene whose colours never balance out, so the measurement always moves
    // the gains away from 1.0.
    sim::SimulatedCameraOptions options() const override {
        sim::SimulatedCameraOptions chosen = PropertyTest::options();
        chosen.scene = sim::makeColorBars();
        return chosen;
    }
};

TEST_F(PropertyCaptureTest, GainsAreReadLiveAndKeptWhenTheBalanceIsSwitchedOff) {
    open();
    ASSERT_EQ(set(13, 1), STATUS_SUCCESS);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ColorPipeline* pipeline = device()->colorPipeline;
    ASSERT_NE(pipeline, nullptr);
    const LONG measured[3] = {Atomic(&pipeline->redGain), Atomic(&pipeline->greenGain),
                              Atomic(&pipeline->blueGain)};
    EXPECT_FALSE(measured[0] == 128 && measured[1] == 128 && measured[2] == 128)
        << "the measurement moved the gains";
    EXPECT_EQ(read(14), measured[0]) << "live red gain";
    EXPECT_EQ(read(15), measured[1]) << "live green gain";
    EXPECT_EQ(read(16), measured[2]) << "live blue gain";

    device()->redGain = 1;
    ASSERT_EQ(set(13, 0), STATUS_SUCCESS);
    EXPECT_EQ(Atomic(&pipeline->whiteBalance), 0);
    EXPECT_EQ(device()->redGain, ULONG(measured[0])) << "the measured gains become the manual";
    EXPECT_EQ(device()->greenGain, ULONG(measured[1]));
    EXPECT_EQ(device()->blueGain, ULONG(measured[2]));
    ASSERT_EQ(set(13, 1), STATUS_SUCCESS);
    EXPECT_EQ(device()->blueGain, ULONG(measured[2])) << "switching on leaves them alone";
    ASSERT_EQ(set(13, 0), STATUS_SUCCESS);

    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    PictureSettings manual;
    manual.redGain = measured[0];
    manual.greenGain = measured[1];
    manual.blueGain = measured[2];
    EXPECT_GE(matchingCameraFrame(frame, {}, manual), 0)
        << "the picture is converted with the kept gains";
}

// Address 1024 lies one past the register shadow; a capture runs so that the picture count,
// stored next to the shadow, is not zero.
TEST_F(PropertyCaptureTest, RegisterAddress1024LiesBeyondTheShadow) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    ASSERT_EQ(set(58, 1024), STATUS_SUCCESS);
    EXPECT_EQ(read(58), 0) << "RegisterRead of address 1024";
    EXPECT_NE(set(57, 1024, 1000000), STATUS_SUCCESS)
        << "a register write to address 1024 is refused";
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    EXPECT_LT(frame.frameInfo.PictureNumber, 1000000) << "a register write to address 1024";
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
}

}  // namespace
}  // namespace bayercam::testing
