// Streaming from a camera that fails at random from a seed: stalls, frames never sent, short and
// failed chunks, failed, short and missing replies, a disabled port. The stream keeps going;
// every picture delivered is one whole camera frame, each newer than the last; the frames lost
// show in the driver's count against the camera's; and once the faults stop, pictures come again.
#include "sim/fault_schedule.h"

#include <gtest/gtest.h>

#include <optional>

#include "driver/control/camera_properties.h"
#include "driver/usb/frame_transfer.h"
#include "tests/driver/control/property_client.h"
#include "tests/hardening/stress_support.h"

namespace bayercam::testing {
namespace {

using sim::FaultKind;

constexpr auto kDeadline = std::chrono::seconds(90);
constexpr std::uint64_t kFaultsArmed = 6;

struct ScheduleCase {
    const char* name;
    std::uint64_t seed;
    std::vector<FaultKind> kinds;  // empty: every kind
    int pictures;                  // delivered under the faults before they stop
};

// The driver's count of whole frames read in this run, reported as the picture number.
ULONG FramesCounted(CameraDevice* device) {
    return ULONG(
        InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&device->frameCount), 0, 0));
}

class FaultScheduleTest : public StressTest, public ::testing::WithParamInterface<ScheduleCase> {};

TEST_P(FaultScheduleTest, StreamingKeepsGoingAndEveryPictureIsWhole) {
    const std::uint64_t seed = StressSeed(GetParam().seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (BAYERCAM_STRESS_SEED repeats it)");
    startStreaming();
    // A frame never sent costs a time-out of two pictures' time, whatever a picture takes here
    // (much longer under the sanitizers); a fault comes about every other time-out, so that
    // frames still get through between faults that wait to be taken.
    const auto start = std::chrono::steady_clock::now();
    StreamFrame first;
    ASSERT_EQ(nextPicture(kFullPicture, &first), STATUS_SUCCESS);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const LONG timeoutMs = std::max<LONG>(200, LONG(took.count() / 1000) * 2);
    InterlockedExchange(&transferTimeoutMs, timeoutMs);
    std::optional<sim::FaultSchedule> schedule;
    const std::vector<FaultKind>& kinds = GetParam().kinds;
    sim::FaultSchedule& faults =
        kinds.empty() ? schedule.emplace(seed, 0.5) : schedule.emplace(seed, 0.5, kinds);
    ActivityLog log;
    std::vector<StreamFrame> pictures;
    const std::uint64_t sentBefore = camera->counters().delivered;
    const ULONG countedBefore = FramesCounted(device());
    {
        CheckingConsumer consumer(*client, pin, imageBytes(), frameDuration(),
                                  std::size_t(GetParam().pictures) + 4);
        ActivityThreads threads;
        // Queries keep the reply pipe busy, so that reply faults meet a reader; a query may
        // fail, but only as a handler fails.
        threads.add(seed, [&](chaos::ChaosRng&, std::uint64_t round) {
            const auto id =
                ULONG(round % 2 == 0 ? CameraProperty::Clock : CameraProperty::CameraByte);
            LONG value = 0;
            PropertyBuffer data{};
            NTSTATUS status = id == ULONG(CameraProperty::Clock)
                                  ? GetCameraProperty(*client, filter, id, &value)
                                  : SendCameraProperty(*client, filter, id, KSPROPERTY_TYPE_GET,
                                                       data, PropertySize(id));
            ++log.requests;
            if (status != STATUS_SUCCESS && status != STATUS_UNSUCCESSFUL) {
                log.problem("a query of property " + std::to_string(id) + " gave status " +
                            std::to_string(status));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        {
            sim::FaultScheduleThread ticks(faults, *camera, std::chrono::milliseconds(timeoutMs));
            EXPECT_TRUE(Eventually(
                [&] {
                    return consumer.pictures() >= GetParam().pictures &&
                           faults.armedTotal() >= kFaultsArmed;
                },
                kDeadline))
                << consumer.pictures() << " pictures under " << faults.armedTotal() << " faults";
        }
        const int underFaults = consumer.pictures();
        EXPECT_TRUE(Eventually([&] { return consumer.pictures() >= underFaults + 2; }, kDeadline))
            << "pictures come again after the faults";
        WithDeadline(WithSeed("stopping the queries", seed), std::chrono::seconds(60), [&] {
            threads.stop();
            consumer.stop();
        });
        EXPECT_EQ(consumer.problems(), std::vector<std::string>{});
        pictures = consumer.keptPictures();
    }
    EXPECT_EQ(log.problems(), std::vector<std::string>{});
    // One frame may have been sent but not yet counted when the counts were taken at the start.
    const std::uint64_t sent = camera->counters().delivered - sentBefore;
    const ULONG counted = FramesCounted(device()) - countedBefore;
    EXPECT_LE(counted, sent + 1) << "the driver counts no frame the camera did not send whole";
    WithDeadline(WithSeed("stopping the capture", seed), std::chrono::seconds(60),
                 [this] { EXPECT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS); });
    InterlockedExchange(&transferTimeoutMs, 2000);
    std::int64_t previous = -1;
    for (const StreamFrame& picture : pictures) {
        expectWholePicture(picture);
        const std::int64_t number = PictureFrameNumber(picture).value_or(previous);
        EXPECT_GT(number, previous) << "a picture is not newer than the one before";
        previous = number;
    }
    expectCaptureWorks(seed);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, FaultScheduleTest,
    ::testing::Values(
        ScheduleCase{"EveryKind", 0xFA01, {}, 8}, ScheduleCase{"EveryKindAgain", 0xFA02, {}, 8},
        ScheduleCase{"Stalls", 0xFB01, {FaultKind::StallFramePipe}, 4},
        ScheduleCase{"FramesNeverSent", 0xFB02, {FaultKind::NeverAnswer}, 4},
        ScheduleCase{"Chunks", 0xFB03, {FaultKind::ShortChunk, FaultKind::FailChunk}, 4},
        ScheduleCase{"Replies", 0xFB04, {FaultKind::FailReply, FaultKind::ShortReply}, 4},
        ScheduleCase{"RepliesNeverSent", 0xFB05, {FaultKind::NeverReply}, 4},
        ScheduleCase{"DisabledPort", 0xFB06, {FaultKind::DisablePort}, 4}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bayercam::testing
