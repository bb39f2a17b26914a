// The capture pin's format negotiation and the region of interest it offers: intersection
// checks and the size query, quoted image sizes, wider, narrower and top-down formats, format
// changes, the region lock while a pin exists and the range a new pin is offered.
#include <gtest/gtest.h>

#include <limits>

#include "driver/control/region_of_interest.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::testing {
namespace {

using FormatTest = CaptureTest;
using PinRegionTest = CaptureTest;

// A caller range with room behind the stored one, so a longer bitmap header can be described.
struct LongRange {
    KS_DATARANGE_VIDEO range;
    std::uint8_t tail[64];
};

// A connection format with room for a bitmap header longer than 40 bytes.
struct LongFormat {
    VideoFormat format;
    std::uint8_t tail[16];
};

void SetRegion(CameraDevice* device, LONG x, LONG y, LONG width, LONG height) {
    SettingsLockGuard guard(device);
    SetRoi(device, x, y, width, height, 0);
}

// ---------------------------------------------------------------- stored values

TEST_F(FormatTest, TheStoredRangeHoldsTheFullSensorAtItsOwnFrameInterval) {
    const KS_DATARANGE_VIDEO& r = CaptureDataRange;
    EXPECT_EQ(r.DataRange.FormatSize, 296u);
    EXPECT_EQ(r.DataRange.SampleSize, 5570560u);
    EXPECT_EQ(r.bFixedSizeSamples, 1);
    EXPECT_EQ(r.bTemporalCompression, 1);
    EXPECT_EQ(r.ConfigCaps.CropGranularityX, 8);
    EXPECT_EQ(r.ConfigCaps.CropAlignX, 8);
    EXPECT_EQ(r.ConfigCaps.OutputGranularityX, 8);
    EXPECT_EQ(r.ConfigCaps.MinFrameInterval, 333667);
    EXPECT_EQ(r.ConfigCaps.MaxFrameInterval, 640000000);
    EXPECT_EQ(r.ConfigCaps.MaxBitsPerSecond, 1336934400);
    EXPECT_EQ(r.VideoInfoHeader.dwBitRate, 167116800u);
    EXPECT_EQ(r.VideoInfoHeader.AvgTimePerFrame, 333667);
    EXPECT_EQ(r.VideoInfoHeader.bmiHeader.biHeight, 1024);
    EXPECT_EQ(r.VideoInfoHeader.bmiHeader.biBitCount, 32);
    EXPECT_TRUE(IsEqualGUID(r.DataRange.SubFormat, MEDIASUBTYPE_RGB32));
}

TEST_F(FormatTest, ThePinDescriptorAndItsFraming) {
    const KSPIN_DESCRIPTOR_EX& pin = CapturePinDescriptor;
    EXPECT_EQ(pin.Flags, 0x00010050u);
    EXPECT_EQ(pin.InstancesPossible, 1u);
    EXPECT_EQ(pin.InstancesNecessary, 1u);
    EXPECT_EQ(pin.PinDescriptor.DataFlow, KSPIN_DATAFLOW_OUT);
    EXPECT_EQ(pin.PinDescriptor.Communication, KSPIN_COMMUNICATION_BOTH);
    EXPECT_TRUE(IsEqualGUID(*pin.PinDescriptor.Category, PIN_CATEGORY_CAPTURE));
    EXPECT_EQ(pin.IntersectHandler, &IntersectFormat);
    EXPECT_EQ(pin.Dispatch->Process, &ProcessPin);
    EXPECT_EQ(pin.Dispatch->Reset, nullptr);
    const KS_FRAMING_ITEM& item = CaptureFraming.FramingItem[0];
    EXPECT_EQ(item.Flags, 0x80000002u);
    EXPECT_EQ(item.Frames, 2u);
    EXPECT_EQ(item.PhysicalRange.MaxFrameSize, 0xFFFFFFFFu);
    EXPECT_EQ(item.FramingRange.Range.MinFrameSize, 8192u);
}

// ---------------------------------------------------------------- intersection

TEST_F(FormatTest, AnyDifferenceInConfigCapsIsNoMatch) {
    open();
    KS_DATARANGE_VIDEO range = offeredRange();
    range.ConfigCaps.MinFrameInterval += 1;
    VideoFormat format;
    EXPECT_EQ(intersect(range, &format), STATUS_NO_MATCH);
    range = offeredRange();
    range.bTemporalCompression = 0;
    EXPECT_EQ(intersect(range, &format), STATUS_NO_MATCH);
    range = offeredRange();
    range.DataRange.FormatSize = 295;
    EXPECT_EQ(intersect(range, &format), STATUS_NO_MATCH);
}

TEST_F(FormatTest, SizeQueryAnswersOverflowWithTheSizeThenTooSmall) {
    open();
    ULONG returned = 0;
    EXPECT_EQ(client->intersect(filter, 0, &offeredRange().DataRange, nullptr, 0, &returned),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(returned, 152u);
    VideoFormat format{};
    EXPECT_EQ(client->intersect(filter, 0, &offeredRange().DataRange, &format, 151, &returned),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(client->intersect(filter, 0, &offeredRange().DataRange, &format, 152, &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, 152u);
    EXPECT_EQ(format.DataFormat.FormatSize, 152u);
    EXPECT_EQ(format.VideoInfoHeader.AvgTimePerFrame, 333333) << "passed through from the caller";
}

TEST_F(FormatTest, TopDownHeightGivesThePositiveImageSize) {
    open();
    KS_DATARANGE_VIDEO range = offeredRange();
    range.VideoInfoHeader.bmiHeader.biHeight = -1024;
    VideoFormat format;
    ASSERT_EQ(intersect(range, &format), STATUS_SUCCESS);
    EXPECT_EQ(format.DataFormat.SampleSize, 5570560u);
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, 5570560u);
}

TEST_F(FormatTest, RowsAreRoundedUpToThirtyTwoBits) {
    open();
    KS_DATARANGE_VIDEO range = offeredRange();
    range.VideoInfoHeader.bmiHeader.biBitCount = 24;
    range.VideoInfoHeader.bmiHeader.biWidth = 1361;
    VideoFormat format;
    ASSERT_EQ(intersect(range, &format), STATUS_SUCCESS);
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, 4084u * 1024);
}

TEST_F(FormatTest, HeaderSizesBeyondTheRangeOrThirtyTwoBitsAreInvalid) {
    open();
    LongRange caller{};
    caller.range = offeredRange();
    caller.range.VideoInfoHeader.bmiHeader.biSize = 41;
    VideoFormat format;
    EXPECT_EQ(intersect(caller.range, &format), STATUS_INVALID_PARAMETER)
        << "a 41-byte header does not fit a 296-byte range";
    caller.range.VideoInfoHeader.bmiHeader.biSize = 0xFFFFFFF0u;
    EXPECT_EQ(intersect(caller.range, &format), STATUS_INVALID_PARAMETER);
    caller.range.VideoInfoHeader.bmiHeader.biSize = 20;
    EXPECT_EQ(intersect(caller.range, &format), STATUS_INVALID_PARAMETER)
        << "a 20-byte header has no room for the image size the answer carries";

    KS_DATARANGE_VIDEO range = offeredRange();
    range.VideoInfoHeader.bmiHeader.biWidth = std::numeric_limits<LONG>::max();
    EXPECT_EQ(intersect(range, &format), STATUS_INVALID_PARAMETER)
        << "an image size beyond 32 bits is refused, not wrapped";
    range = offeredRange();
    range.VideoInfoHeader.bmiHeader.biHeight = std::numeric_limits<LONG>::min();
    EXPECT_EQ(intersect(range, &format), STATUS_INVALID_PARAMETER);
    range = offeredRange();
    range.VideoInfoHeader.bmiHeader.biBitCount = 128;
    range.VideoInfoHeader.bmiHeader.biWidth = 1 << 30;
    range.VideoInfoHeader.bmiHeader.biHeight = 1 << 30;
    EXPECT_EQ(intersect(range, &format), STATUS_INVALID_PARAMETER)
        << "2^34 row bytes times 2^30 rows is refused, not wrapped to 0";
}

// ---------------------------------------------------------------- connection formats

TEST_F(FormatTest, CreationCopiesTheHeaderAndSizesThePinsOwnFraming) {
    open();
    VideoFormat format = offeredFormat();
    ASSERT_EQ(createPin(format), STATUS_SUCCESS);
    PinContext* pinContext = context();
    ASSERT_NE(pinContext, nullptr);
    EXPECT_EQ(std::memcmp(&pinContext->videoInfo, &format.VideoInfoHeader, 88), 0);
    EXPECT_EQ(pinContext->rowBytes, 1360 * 4) << "the connection format's rows";
    EXPECT_EQ(device()->roiLocked, 1);
    const KSPIN_DESCRIPTOR_EX* own = client->pinObject(pin)->Descriptor;
    ASSERT_NE(own, &device()->captureDescriptors.pin) << "the pin edits a private copy";
    const KS_FRAMING_ITEM& item = own->AllocatorFraming->FramingItem[0];
    EXPECT_EQ(item.PhysicalRange.MinFrameSize, 5570560u);
    EXPECT_EQ(item.FramingRange.Range.MaxFrameSize, 5570560u);
    EXPECT_EQ(item.FramingRange.Range.Stepping, 0u);
    EXPECT_EQ(CaptureFraming.FramingItem[0].FramingRange.Range.MinFrameSize, 8192u)
        << "the shared framing is untouched";
}

TEST_F(FormatTest, WiderAndTopDownFormatsAreTakenNarrowerOnesAreNot) {
    open();
    VideoFormat format = offeredFormat();
    format.VideoInfoHeader.bmiHeader.biWidth = 1352;
    EXPECT_EQ(createPin(format), STATUS_NO_MATCH);
    EXPECT_EQ(device()->roiLocked, 0);

    format = offeredFormat();
    format.VideoInfoHeader.bmiHeader.biHeight = -1024;
    ASSERT_EQ(createPin(format), STATUS_SUCCESS);
    format.VideoInfoHeader.bmiHeader.biWidth = 1400;
    format.VideoInfoHeader.bmiHeader.biSizeImage = 1400 * 1024 * 4;
    ASSERT_EQ(client->setPinFormat(pin, &format.DataFormat), STATUS_SUCCESS);
    EXPECT_EQ(context()->rowBytes, 5600);
    EXPECT_EQ(context()->videoInfo.bmiHeader.biWidth, 1400);
}

TEST_F(FormatTest, AShortImageSizeOrAForeignCompressionIsRefused) {
    open();
    VideoFormat format = offeredFormat();
    format.VideoInfoHeader.bmiHeader.biSizeImage = 5570559;
    EXPECT_EQ(createPin(format), STATUS_INVALID_PARAMETER);
    format = offeredFormat();
    format.VideoInfoHeader.bmiHeader.biCompression = 3;
    EXPECT_EQ(createPin(format), STATUS_NO_MATCH);
    format = offeredFormat();
    format.VideoInfoHeader.bmiHeader.biWidth = 0x40000000;
    format.VideoInfoHeader.bmiHeader.biSizeImage = 0xFFFFFFFFu;
    EXPECT_EQ(createPin(format), STATUS_INVALID_PARAMETER) << "rows wider than 31 bits";
    EXPECT_EQ(device()->roiLocked, 0);
}

TEST_F(FormatTest, ABitmapHeaderLongerThanFortyBytesIsRefused) {
    open();
    LongFormat longer{};
    longer.format = offeredFormat();
    longer.format.DataFormat.FormatSize = sizeof(LongFormat);
    longer.format.VideoInfoHeader.bmiHeader.biSize = 44;
    EXPECT_EQ(client->createPin(filter, 0, &longer.format.DataFormat, &pin),
              STATUS_INVALID_PARAMETER);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    EXPECT_EQ(client->setPinFormat(pin, &longer.format.DataFormat), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(context()->videoInfo.bmiHeader.biSize, 40u);
}

TEST_F(FormatTest, AChangeWhileRunningIsRefusedWithoutSideEffects) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    VideoFormat wider = offeredFormat();
    wider.VideoInfoHeader.bmiHeader.biWidth = 1368;
    wider.VideoInfoHeader.bmiHeader.biSizeImage = 1368 * 1024 * 4;
    ASSERT_EQ(client->setPinFormat(pin, &wider.DataFormat), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    VideoFormat widest = wider;
    widest.VideoInfoHeader.bmiHeader.biWidth = 2000;
    widest.VideoInfoHeader.bmiHeader.biSizeImage = 2000 * 1024 * 4;
    EXPECT_EQ(client->setPinFormat(pin, &widest.DataFormat), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(context()->rowBytes, 1368 * 4) << "the running delivery keeps its row step";
    EXPECT_EQ(context()->videoInfo.bmiHeader.biWidth, 1368);
}

// ---------------------------------------------------------------- region of interest

TEST_F(PinRegionTest, TheOfferedRangeFollowsTheRegion) {
    open();
    SetRegion(device(), 7, 3, 100, 100);
    const KS_DATARANGE_VIDEO& r = offeredRange();
    EXPECT_EQ(r.DataRange.SampleSize, 38400u);
    EXPECT_EQ(r.ConfigCaps.InputSize.cx, 96);
    EXPECT_EQ(r.ConfigCaps.MaxOutputSize.cy, 100);
    EXPECT_EQ(r.ConfigCaps.MinFrameInterval, 333333);
    EXPECT_EQ(r.ConfigCaps.MinBitsPerSecond, 96 * 100 * 960);
    EXPECT_EQ(r.VideoInfoHeader.rcSource.right, 96);
    EXPECT_EQ(r.VideoInfoHeader.rcSource.bottom, 100);
    EXPECT_EQ(r.VideoInfoHeader.dwBitRate, 96u * 100 * 120);
    EXPECT_EQ(r.VideoInfoHeader.AvgTimePerFrame, 333333);
    EXPECT_EQ(r.VideoInfoHeader.bmiHeader.biSizeImage, 38400u);
    EXPECT_EQ(r.ConfigCaps.CropGranularityX, 8) << "fields outside the region keep their value";
    EXPECT_EQ(r.bTemporalCompression, 1);

    VideoFormat format = offeredFormat();
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biWidth, 96);
    ASSERT_EQ(createPin(format), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(38400, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame.header.DataUsed, 38400u);
}

TEST_F(PinRegionTest, TheRegionIsLockedWhileAPinExists) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    SetRegion(device(), 8, 8, 200, 200);
    EXPECT_EQ(device()->roiW, 1360) << "locked while the pin exists";
    EXPECT_EQ(offeredRange().DataRange.SampleSize, 5570560u);
    ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiLocked, 0);
    SetRegion(device(), 8, 8, 200, 200);
    EXPECT_EQ(device()->roiW, 200);
    EXPECT_EQ(offeredRange().DataRange.SampleSize, 200u * 200 * 4);
}

TEST_F(PinRegionTest, ASecondFiltersPinKeepsTheRegionLockedAfterTheFirstCloses) {
    open();
    host::ks::KsFilterHandle second = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &second), STATUS_SUCCESS);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    host::ks::KsPinHandle other = nullptr;
    VideoFormat format = offeredFormat();
    ASSERT_EQ(client->createPin(second, 0, &format.DataFormat, &other), STATUS_SUCCESS);
    ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
    SetRegion(device(), 8, 8, 200, 200);
    EXPECT_EQ(device()->roiW, 1360) << "the other pin still holds the region";
    ASSERT_EQ(client->closePin(other), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiLocked, 0);
}

}  // namespace
}  // namespace bayercam::testing
