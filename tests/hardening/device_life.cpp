#include "tests/hardening/device_life.h"

#include <algorithm>
#include <memory>

#include "driver/device/camera_device.h"
#include "driver/entry/driver_entry.h"
#include "driver/streaming/frame_grabber.h"
#include "host/kernel/failure_injection.h"
#include "host/ks/ks_client.h"

namespace bayercam::testing {
namespace {

using Clock = std::chrono::steady_clock;
using host::ks::KsClient;
using namespace std::chrono_literals;

// Longer than a frame read that runs into its time-out and the next one. Without a grabber
// thread no picture can come, and the wait only confirms that none does.
constexpr auto kFrameWait = 6000ms;
constexpr auto kNoPictureWait = 500ms;

constexpr const char* kStepNames[kLifeSteps] = {
    "load",         "attach",      "open filter", "intersect",   "create pin", "acquire",
    "pause",        "run",         "frames",      "pause again", "stop",       "close pin",
    "close filter", "stop device", "detach",      "unload",
};

class Life {
  public:
    Life(PDEVICE_OBJECT physicalDevice, const std::function<void(LifeStep)>& onStep,
         LifeRecord& record)
        : physicalDevice_(physicalDevice), onStep_(onStep), record_(record) {}

    void live() {
        client_ = std::make_unique<KsClient>();
        goForward();
        tearDown();
    }

  private:
    // Runs one step and records what it reported; true when it succeeded.
    template <class Body>
    bool step(LifeStep which, Body&& body) {
        if (onStep_) onStep_(which);
        const NTSTATUS status = body();
        record_.status[std::size_t(which)] = status;
        if (!record_.hitStep && host::injection::injectedCount() != 0) record_.hitStep = which;
        // Not NT_SUCCESS: a frame wait that ran out reports STATUS_TIMEOUT, a success code.
        return status == STATUS_SUCCESS;
    }

    NTSTATUS setState(KSSTATE state) { return client_->setPinState(pin_, state); }

    void goForward() {
        // Each step only while the ones before it succeeded.
        (void)(step(LifeStep::Load, [&] { return client_->loadDriver(DriverEntry); }) &&
               step(LifeStep::Attach,
                    [&] { return client_->attachDevice(physicalDevice_, &device_); }) &&
               step(LifeStep::OpenFilter,
                    [&] { return client_->openFilter(device_, L"GLOBAL", &filter_); }) &&
               step(LifeStep::Intersect, [&] { return intersect(); }) &&
               step(LifeStep::CreatePin,
                    [&] { return client_->createPin(filter_, 0, &format_.DataFormat, &pin_); }) &&
               step(LifeStep::Acquire, [&] { return setState(KSSTATE_ACQUIRE); }) &&
               step(LifeStep::Pause, [&] { return setState(KSSTATE_PAUSE); }) &&
               step(LifeStep::Run, [&] { return setState(KSSTATE_RUN); }) &&
               step(LifeStep::Frames, [&] { return takePictures(); }) &&
               step(LifeStep::PauseAgain, [&] { return setState(KSSTATE_PAUSE); }));
    }

    // Whatever was set up goes, whatever failed on the way.
    void tearDown() {
        if (pin_ != nullptr) {
            step(LifeStep::Stop, [&] { return setState(KSSTATE_STOP); });
            step(LifeStep::ClosePin, [&] { return client_->closePin(pin_); });
        }
        if (filter_ != nullptr) {
            step(LifeStep::CloseFilter, [&] { return client_->closeFilter(filter_); });
        }
        if (device_ != nullptr) {
            step(LifeStep::StopDevice, [&] { return client_->stopDevice(device_); });
            step(LifeStep::Detach, [&] { return client_->detachDevice(device_); });
        }
        step(LifeStep::Unload, [&] {
            client_.reset();
            return STATUS_SUCCESS;
        });
    }

    NTSTATUS intersect() {
        CameraDevice* camera = CameraDeviceOf(client_->deviceObject(device_));
        ULONG returned = 0;
        return client_->intersect(filter_, 0, &camera->captureDescriptors.dataRange.DataRange,
                                  &format_, sizeof(format_), &returned);
    }

    // Waits for client frames until one carries a picture; STATUS_TIMEOUT past the deadline.
    NTSTATUS nextPicture(host::ks::StreamFrame* frame) {
        const ULONG bytes = format_.VideoInfoHeader.bmiHeader.biSizeImage;
        const auto deadline = Clock::now() + (record_.grabberThread ? kFrameWait : kNoPictureWait);
        while (Clock::now() < deadline) {
            NTSTATUS status = client_->queueFrame(pin_, bytes);
            if (status != STATUS_SUCCESS) return status;
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            status = client_->waitFrame(pin_, std::max(left, std::chrono::milliseconds(1)), frame);
            if (status != STATUS_SUCCESS || frame->header.DataUsed != 0) return status;
        }
        return STATUS_TIMEOUT;
    }

    NTSTATUS takePictures() {
        CameraDevice* camera = CameraDeviceOf(client_->deviceObject(device_));
        record_.grabberThread =
            camera->frameGrabber != nullptr && camera->frameGrabber->thread != nullptr;
        record_.deviceRegion = {camera->roiX, camera->roiY, camera->roiW, camera->roiH};
        record_.frameBytes = format_.VideoInfoHeader.bmiHeader.biSizeImage;
        for (int i = 0; i < kLifePictures; ++i) {
            host::ks::StreamFrame frame;
            NTSTATUS status = nextPicture(&frame);
            if (status != STATUS_SUCCESS) return status;
            record_.pictures.push_back(std::move(frame));
        }
        return STATUS_SUCCESS;
    }

    PDEVICE_OBJECT physicalDevice_;
    const std::function<void(LifeStep)>& onStep_;
    LifeRecord& record_;
    std::unique_ptr<KsClient> client_;
    host::ks::KsDeviceHandle device_ = nullptr;
    host::ks::KsFilterHandle filter_ = nullptr;
    host::ks::KsPinHandle pin_ = nullptr;
    VideoFormat format_{};
};

// Whether the picture is what one of the frames the camera sent converts to: first among the
// frames near its picture number, then among all of them (a loaded machine loses more frames
// to read time-outs than the near ones allow for).
bool IsCameraFrame(const sim::SimulatedCamera& camera, const host::ks::StreamFrame& frame,
                   const Region& region, LONG step) {
    if (MatchingCameraFrame(camera, frame, region, PictureSettings{}, step, false, false) >= 0) {
        return true;
    }
    const std::uint64_t sent = camera.counters().delivered;
    for (std::uint64_t n = 0; n < sent; ++n) {
        const std::vector<std::uint8_t> picture =
            ReferencePicture(camera.renderFrame(n), region, PictureSettings{});
        if (ExpectedClientFrame(picture, region, ULONG(frame.data.size()), step, false, false) ==
            frame.data) {
            return true;
        }
    }
    return false;
}

}  // namespace

const char* stepName(LifeStep step) { return kStepNames[std::size_t(step)]; }

std::optional<LifeStep> LifeRecord::firstFailure() const {
    for (std::size_t i = 0; i < kLifeSteps; ++i) {
        if (status[i] && *status[i] != STATUS_SUCCESS) return LifeStep(i);
    }
    return std::nullopt;
}

LifeRecord LiveDeviceLife(PDEVICE_OBJECT physicalDevice,
                          const std::function<void(LifeStep)>& onStep) {
    LifeRecord record;
    Life(physicalDevice, onStep, record).live();
    return record;
}

std::vector<std::string> PictureProblems(const LifeRecord& record,
                                         const sim::SimulatedCamera& camera, const Region& region) {
    std::vector<std::string> problems;
    const Region& device = record.deviceRegion;
    if (!record.pictures.empty() &&
        (device.x != region.x || device.y != region.y || device.width != region.width ||
         device.height != region.height)) {
        problems.push_back("the device's region is " + std::to_string(device.width) + " x " +
                           std::to_string(device.height) + ", not the stored one");
        return problems;
    }
    const LONG step = (region.width - region.width % 8) * 4;
    for (std::size_t i = 0; i < record.pictures.size(); ++i) {
        const host::ks::StreamFrame& frame = record.pictures[i];
        const std::string name = "picture " + std::to_string(i) + " (number " +
                                 std::to_string(frame.frameInfo.PictureNumber) + "): ";
        if (frame.header.DataUsed != record.frameBytes || frame.data.size() != record.frameBytes) {
            problems.push_back(name + std::to_string(frame.header.DataUsed) + " bytes used of " +
                               std::to_string(frame.data.size()) + ", expected " +
                               std::to_string(record.frameBytes));
        } else if (!IsCameraFrame(camera, frame, region, step)) {
            problems.push_back(name + "no whole camera frame");
        }
    }
    return problems;
}

}  // namespace bayercam::testing
