// The whole device life, from driver load to unload, with an allocation failing at each of its
// allocation sites in turn: load, attach (Add and Start), filter open, format intersection, pin
// creation, ACQUIRE, PAUSE, RUN with a few pictures, PAUSE, and then the teardown of whatever was
// set up. The life goes forward only while its steps succeed. Every run ends with the pool and
// the kernel objects as they were, and the failure shows in the status of the step it hit (or,
// where the driver absorbs it by design, in an outcome that is still right).
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "driver/entry/driver_entry.h"
#include "host/kernel/failure_injection.h"
#include "tests/hardening/allocation_sites.h"
#include "tests/hardening/stress_support.h"
#include "tests/support/kernel_snapshot.h"
#include "tests/support/usb_port.h"

namespace bayercam::testing {
namespace {

namespace injection = host::injection;
// A small region keeps the comparison of each picture with the camera's frames cheap.
constexpr Region kRegion{64, 32, 128, 64};

constexpr int kLifePictures = 2;

struct LifeRecord {
    // What each step reported; unset for the steps the life did not reach.
    std::array<std::optional<NTSTATUS>, kLifeSteps> status{};
    // The step during which the injected failure hit (the first whose end saw it counted).
    std::optional<LifeStep> hitStep;
    std::vector<StreamFrame> pictures;
    Region deviceRegion;  // as the pictures were taken
    ULONG frameBytes = 0;
    bool grabberThread = false;  // while the pictures were awaited

    std::optional<LifeStep> firstFailure() const {
        for (std::size_t i = 0; i < kLifeSteps; ++i) {
            if (status[i] && *status[i] != STATUS_SUCCESS) return LifeStep(i);
        }
        return std::nullopt;
    }
};

// Every step the life reached, with what it reported.
std::string Steps(const LifeRecord& record) {
    std::string text;
    for (std::size_t i = 0; i < kLifeSteps; ++i) {
        char status[16];
        if (!record.status[i]) continue;
        std::snprintf(status, sizeof status, " 0x%08X, ", unsigned(*record.status[i]));
        text += stepName(LifeStep(i)) + std::string(status);
    }
    return text + std::to_string(record.pictures.size()) + " pictures";
}

// Whether the picture is what one of the frames the camera sent converts to: first among the
// frames near its picture number, then among all of them (a loaded machine loses more frames
// to read time-outs than the near ones allow for).
bool IsCameraFrame(const sim::SimulatedCamera& camera, const StreamFrame& frame, LONG step) {
    if (MatchingCameraFrame(camera, frame, kRegion, PictureSettings{}, step, false, false) >= 0) {
        return true;
    }
    for (std::uint64_t n = 0; n < camera.counters().delivered; ++n) {
        const std::vector<std::uint8_t> picture =
            ReferencePicture(camera.renderFrame(n), kRegion, PictureSettings{});
        if (ExpectedClientFrame(picture, kRegion, ULONG(frame.data.size()), step, false, false) ==
            frame.data) {
            return true;
        }
    }
    return false;
}

class DeviceLifeWalk : public CaptureTest {
  protected:
    void SetUp() override {
        CaptureTest::SetUp();
        // Each run loads the driver itself.
        client.reset();
        instancePath_ = InstancePath(*bus);
        // A frame read whose ReadsPosted packet could not be sent waits this long for its
        // chunks (the start applies it from the stored settings). A loaded machine may lose
        // a frame to it now and then, which the pictures' wait allows for.
        storeSetting(L"Timeout", 1000);
        storeSetting(L"RoiX", ULONG(kRegion.x));
        storeSetting(L"RoiY", ULONG(kRegion.y));
        storeSetting(L"RoiW", ULONG(kRegion.width));
        storeSetting(L"RoiH", ULONG(kRegion.height));
    }

    // A camera fresh from the box on each run: its frame numbers start at zero again, as the
    // comparison of pictures with the camera's frames needs, and no run inherits a register
    // another left half written. The settings stay in the registry.
    void replug() {
        Unplug(bus);
        observed.reset();
        camera = std::make_unique<sim::SimulatedCamera>(options());
        observed = std::make_unique<ObservedCamera>(*camera);
        bus = PlugIn(*observed, instancePath_);  // the same port: the same driver key
    }

    // One life with the nth counted allocation of its sites failing; checks how it ended.
    void liveFailing(std::size_t failing) {
        std::shared_ptr<AllocationSites> sites = Sites();
        // Set before the camera is plugged in, whose allocations must not count.
        injection::setCountFilter(std::make_shared<const injection::CountFilter>(
            [sites](ULONG tag) { return sites->counts(tag); }));
        replug();
        const host::testing::KernelSnapshot before;
        LifeRecord record;
        WithDeadline("run " + std::to_string(failing), std::chrono::seconds(120),
                     [&] { record = live(*sites); });
        // From here on nothing counts: the checks allocate, and no failure may hit them.
        const bool injected = injection::injectedCount() != 0;
        injection::setCountFilter(
            std::make_shared<const injection::CountFilter>([](ULONG) { return false; }));
        const std::string where = "run " + std::to_string(failing) + ": " + Steps(record) + "\n" +
                                  sites->describe(failing);
        checkOutcome(record, injected, where);
        const std::string left = before.problems(std::chrono::seconds(2));
        EXPECT_TRUE(left.empty()) << where << "left behind:\n" << left;
        if (record.hitStep) ++hits_[std::size_t(*record.hitStep)];
    }

    LifeRecord live(AllocationSites& sites);
    NTSTATUS takePictures(LifeRecord& record, const VideoFormat& format);
    void checkOutcome(const LifeRecord& record, bool injected, const std::string& where);

    // Each site fails at its first allocation in the life, a site of the grabber's frame reads
    // also at its second. With BAYERCAM_WALK_EVERY_ALLOCATION=1 every allocation fails in turn,
    // each of the hundreds of register writes included: thousands of runs, for a long run by
    // hand.
    static std::shared_ptr<AllocationSites> Sites() {
        const char* every = std::getenv("BAYERCAM_WALK_EVERY_ALLOCATION");
        if (every != nullptr && std::string(every) == "1") {
            constexpr int kAll = std::numeric_limits<int>::max();
            return std::make_shared<AllocationSites>(kAll, kAll);
        }
        return std::make_shared<AllocationSites>(1, 2);
    }
    std::array<int, kLifeSteps> hits_{};
    std::string instancePath_;
};

LifeRecord DeviceLifeWalk::live(AllocationSites& sites) {
    LifeRecord record;
    // Runs one step and records what it reported; true when it succeeded (not NT_SUCCESS: a
    // picture wait that ran out reports STATUS_TIMEOUT, a success code).
    auto step = [&](LifeStep which, auto&& body) {
        sites.enterStep(which);
        const NTSTATUS status = body();
        record.status[std::size_t(which)] = status;
        if (!record.hitStep && injection::injectedCount() != 0) record.hitStep = which;
        return status == STATUS_SUCCESS;
    };
    auto toState = [&](LifeStep which, KSSTATE state) {
        return step(which, [&] { return setState(state); });
    };
    VideoFormat format{};
    client = std::make_unique<host::ks::KsClient>();
    (void)(step(LifeStep::Load, [&] { return client->loadDriver(DriverEntry); }) &&
           step(LifeStep::Attach, [&] { return attach(); }) &&
           step(LifeStep::OpenFilter,
                [&] { return client->openFilter(handle, L"GLOBAL", &filter); }) &&
           step(LifeStep::Intersect, [&] { return intersect(offeredRange(), &format); }) &&
           step(LifeStep::CreatePin, [&] { return createPin(format); }) &&
           toState(LifeStep::Acquire, KSSTATE_ACQUIRE) && toState(LifeStep::Pause, KSSTATE_PAUSE) &&
           toState(LifeStep::Run, KSSTATE_RUN) &&
           step(LifeStep::Frames, [&] { return takePictures(record, format); }) &&
           toState(LifeStep::PauseAgain, KSSTATE_PAUSE));
    // Whatever was set up goes, whatever failed on the way.
    if (pin != nullptr) {
        toState(LifeStep::Stop, KSSTATE_STOP);
        step(LifeStep::ClosePin, [&] { return client->closePin(std::exchange(pin, nullptr)); });
    }
    if (filter != nullptr) {
        step(LifeStep::CloseFilter,
             [&] { return client->closeFilter(std::exchange(filter, nullptr)); });
    }
    if (handle != nullptr) {
        step(LifeStep::StopDevice, [&] { return client->stopDevice(handle); });
        step(LifeStep::Detach,
             [&] { return client->detachDevice(std::exchange(handle, nullptr)); });
    }
    step(LifeStep::Unload, [&] {
        client.reset();
        return STATUS_SUCCESS;
    });
    return record;
}

// Longer than a frame read that runs into its time-out and the next one. Without a grabber
// thread no picture can come, and the wait only confirms that none does.
NTSTATUS DeviceLifeWalk::takePictures(LifeRecord& record, const VideoFormat& format) {
    const CameraDevice* cameraDevice = device();
    const FrameGrabber* frameGrabber = cameraDevice->frameGrabber;
    record.grabberThread = frameGrabber != nullptr && frameGrabber->thread != nullptr;
    record.deviceRegion = {cameraDevice->roiX, cameraDevice->roiY, cameraDevice->roiW,
                           cameraDevice->roiH};
    record.frameBytes = format.VideoInfoHeader.bmiHeader.biSizeImage;
    frameWait = std::chrono::milliseconds(record.grabberThread ? 6000 : 500);
    for (int i = 0; i < kLifePictures; ++i) {
        StreamFrame frame;
        const NTSTATUS status = nextPicture(record.frameBytes, &frame);
        if (status != STATUS_SUCCESS) return status;
        record.pictures.push_back(std::move(frame));
    }
    return STATUS_SUCCESS;
}

void DeviceLifeWalk::checkOutcome(const LifeRecord& record, bool injected,
                                  const std::string& where) {
    const Region& region = record.deviceRegion;
    if (!record.pictures.empty()) {
        ASSERT_EQ((std::array{region.x, region.y, region.width, region.height}),
                  (std::array{kRegion.x, kRegion.y, kRegion.width, kRegion.height}))
            << where << "the device's region is not the stored one";
    }
    const LONG step = (kRegion.width - kRegion.width % 8) * 4;
    for (std::size_t i = 0; i < record.pictures.size(); ++i) {
        const StreamFrame& frame = record.pictures[i];
        EXPECT_EQ(frame.header.DataUsed, record.frameBytes) << where << "picture " << i;
        EXPECT_EQ(frame.data.size(), record.frameBytes) << where << "picture " << i;
        EXPECT_TRUE(frame.data.size() != record.frameBytes || IsCameraFrame(*camera, frame, step))
            << where << "picture " << i << " (number " << frame.frameInfo.PictureNumber
            << ") is no whole camera frame";
    }
    const std::optional<LifeStep> failed = record.firstFailure();
    if (!injected) {
        EXPECT_FALSE(failed) << where << "a step failed with no allocation failing";
        EXPECT_EQ(int(record.pictures.size()), kLifePictures) << where;
        return;
    }
    ASSERT_TRUE(record.hitStep) << where;
    if (!failed) {
        // Absorbed: a camera exchange or a frame read that failed for want of memory is silent
        // by design; what shows is that the life still does everything it should.
        EXPECT_EQ(int(record.pictures.size()), kLifePictures)
            << where << "the failure was swallowed";
        return;
    }
    if (*failed == LifeStep::Frames && *record.hitStep == LifeStep::Run && !record.grabberThread) {
        // A grabber thread that could not be created: RUN reports success (the run's buffers are
        // in place and a later RUN tries again), and the client sees no frames.
        EXPECT_EQ(*record.status[std::size_t(*failed)], STATUS_TIMEOUT) << where;
        EXPECT_TRUE(record.pictures.empty()) << where;
        return;
    }
    EXPECT_GE(int(*failed), int(*record.hitStep)) << where << "a step failed before the failure";
    const NTSTATUS status = *record.status[std::size_t(*failed)];
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES) << where << stepName(*failed);
}

TEST_F(DeviceLifeWalk, EveryAllocationSiteOfTheLifeFailsCleanly) {
    const auto started = std::chrono::steady_clock::now();
    const std::size_t runs =
        injection::walkAllocationFailures([&](std::size_t failing) { liveFailing(failing); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%zu runs in %.1f s; failures hit:", runs, seconds);
    for (std::size_t i = 0; i < kLifeSteps; ++i) {
        if (hits_[i] != 0) std::printf(" %s %d,", stepName(LifeStep(i)), hits_[i]);
    }
    std::printf("\n");
    // Every step that allocates was reached by a failure.
    for (LifeStep step : {LifeStep::Attach, LifeStep::OpenFilter, LifeStep::CreatePin,
                          LifeStep::Acquire, LifeStep::Run, LifeStep::Frames}) {
        EXPECT_GT(hits_[std::size_t(step)], 0) << stepName(step);
    }
}

}  // namespace
}  // namespace bayercam::testing
