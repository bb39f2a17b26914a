// The capture pin's format negotiation and the region of interest it offers: intersection and
// the size query, connection formats and their changes, the region lock while a pin exists and
// the range a new pin is offered.
#include <gtest/gtest.h>

#include <limits>

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

// ---------------------------------------------------------------- intersection

TEST_F(FormatTest, IntersectionMatchesOnlyTheOfferedRangeAndSizesTheImage) {
    open();
    struct Case {
        const char* what;
        void (*change)(KS_DATARANGE_VIDEO&);
        NTSTATUS status;
        ULONG sizeImage;
    };
    const Case cases[] = {
        {"a frame interval off by one", [](auto& r) { r.ConfigCaps.MinFrameInterval += 1; },
         STATUS_NO_MATCH, 0},
        {"a shorter range", [](auto& r) { r.DataRange.FormatSize = 295; }, STATUS_NO_MATCH, 0},
        {"top-down rows", [](auto& r) { r.VideoInfoHeader.bmiHeader.biHeight = -1024; },
         STATUS_SUCCESS, 5570560},
        {"24-bit rows rounded up to 32 bits",
         [](auto& r) {
             r.VideoInfoHeader.bmiHeader.biBitCount = 24;
             r.VideoInfoHeader.bmiHeader.biWidth = 1361;
         },
         STATUS_SUCCESS, 4084 * 1024},
        {"a 41-byte header in a 296-byte range",
         [](auto& r) { r.VideoInfoHeader.bmiHeader.biSize = 41; }, STATUS_INVALID_PARAMETER, 0},
        {"an image size beyond 32 bits",
         [](auto& r) { r.VideoInfoHeader.bmiHeader.biWidth = std::numeric_limits<LONG>::max(); },
         STATUS_INVALID_PARAMETER, 0},
        {"the lowest height",
         [](auto& r) { r.VideoInfoHeader.bmiHeader.biHeight = std::numeric_limits<LONG>::min(); },
         STATUS_INVALID_PARAMETER, 0},
        {"2^34 row bytes times 2^30 rows",
         [](auto& r) {
             r.VideoInfoHeader.bmiHeader.biBitCount = 128;
             r.VideoInfoHeader.bmiHeader.biWidth = 1 << 30;
             r.VideoInfoHeader.bmiHeader.biHeight = 1 << 30;
         },
         STATUS_INVALID_PARAMETER, 0},
    };
    for (const Case& c : cases) {
        LongRange caller{};
        caller.range = offeredRange();
        c.change(caller.range);
        VideoFormat format;
        EXPECT_EQ(intersect(caller.range, &format), c.status) << c.what;
        if (c.status == STATUS_SUCCESS) {
            EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, c.sizeImage) << c.what;
            EXPECT_EQ(format.DataFormat.SampleSize, c.sizeImage) << c.what;
        }
    }
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
    EXPECT_EQ(format.VideoInfoHeader.AvgTimePerFrame, 333333) << "passed through from the caller";
}

// ---------------------------------------------------------------- connection formats

TEST_F(FormatTest, ConnectionFormatsNarrowerShortOrForeignAreRefused) {
    open();
    struct Case {
        const char* what;
        void (*change)(KS_BITMAPINFOHEADER&);
        NTSTATUS status;
    };
    const Case cases[] = {
        {"narrower", [](auto& h) { h.biWidth = 1352; }, STATUS_NO_MATCH},
        {"a short image size", [](auto& h) { h.biSizeImage = 5570559; }, STATUS_INVALID_PARAMETER},
        {"a foreign compression", [](auto& h) { h.biCompression = 3; }, STATUS_NO_MATCH},
        {"rows wider than 31 bits",
         [](auto& h) {
             h.biWidth = 0x40000000;
             h.biSizeImage = 0xFFFFFFFFu;
         },
         STATUS_INVALID_PARAMETER},
        {"top-down", [](auto& h) { h.biHeight = -1024; }, STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        VideoFormat format = offeredFormat();
        c.change(format.VideoInfoHeader.bmiHeader);
        EXPECT_EQ(createPin(format), c.status) << c.what;
        EXPECT_EQ(device()->roiLocked, c.status == STATUS_SUCCESS ? 1 : 0) << c.what;
    }
    const KS_FRAMING_ITEM& item =
        client->pinObject(pin)->Descriptor->AllocatorFraming->FramingItem[0];
    EXPECT_EQ(item.FramingRange.Range.MaxFrameSize, 5570560u) << "frames of the pin's format";
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
    SetRegion(device(), {7, 3, 100, 100});
    EXPECT_EQ(offeredRange().DataRange.SampleSize, 38400u);
    VideoFormat format = offeredFormat();
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biWidth, 96);
    ASSERT_EQ(createPin(format), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(38400, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame.header.DataUsed, 38400u);
}

TEST_F(PinRegionTest, TheRegionStaysLockedUntilThePinOfEveryFilterCloses) {
    open();
    host::ks::KsFilterHandle second = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &second), STATUS_SUCCESS);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    host::ks::KsPinHandle other = nullptr;
    VideoFormat format = offeredFormat();
    ASSERT_EQ(client->createPin(second, 0, &format.DataFormat, &other), STATUS_SUCCESS);
    ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
    SetRegion(device(), {8, 8, 200, 200});
    EXPECT_EQ(device()->roiW, 1360) << "the other pin still holds the region";
    EXPECT_EQ(offeredRange().DataRange.SampleSize, 5570560u);
    ASSERT_EQ(client->closePin(other), STATUS_SUCCESS);
    SetRegion(device(), {8, 8, 200, 200});
    EXPECT_EQ(device()->roiW, 200);
    EXPECT_EQ(offeredRange().DataRange.SampleSize, 200u * 200 * 4);
}

}  // namespace
}  // namespace bayercam::testing
