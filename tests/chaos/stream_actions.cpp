#include "tests/chaos/stream_actions.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "driver/device/camera_device.h"

namespace bayercam::chaos {
namespace {

using VideoFormat = KS_DATAFORMAT_VIDEOINFOHEADER;
constexpr std::size_t kMostQueued = 4;
constexpr ULONG kLargestFrame = 16u << 20;

// The range the device's pin offers now. It changes with the region, under the settings lock.
KS_DATARANGE_VIDEO offeredRange(CameraSlot& slot, host::ks::KsClient& client) {
    KS_DATARANGE_VIDEO range{};
    CameraDevice* device = CameraDeviceOf(client.deviceObject(slot.device));
    if (device == nullptr) return range;
    AcquireSettingsLock(device);
    range = device->captureDescriptors.dataRange;
    ReleaseSettingsLock(device);
    return range;
}

// The frame a client gets back must be the one it queued, of its size, with no more picture
// than the pin's format makes.
void checkFrame(CameraSlot& slot, const host::ks::StreamFrame& frame, ActionContext& context) {
    if (slot.queued.empty()) {
        context.fault("a frame came back that was never queued");
        return;
    }
    const QueuedFrame expected = slot.queued.front();
    slot.queued.erase(slot.queued.begin());
    const ULONG used = frame.header.DataUsed;
    if (frame.data.size() != expected.bytes) {
        context.fault("frame of " + std::to_string(frame.data.size()) + " bytes came back, " +
                      std::to_string(expected.bytes) + " were queued");
    }
    if ((used != 0 && used != slot.format.VideoInfoHeader.bmiHeader.biSizeImage) ||
        used > expected.bytes) {
        context.fault("frame carries DataUsed " + std::to_string(used) + " in a buffer of " +
                      std::to_string(expected.bytes) + " bytes");
    }
    if (frame.hasFrameInfo != expected.withFrameInfo) {
        context.fault("frame info present " + std::to_string(frame.hasFrameInfo) + ", expected " +
                      std::to_string(expected.withFrameInfo));
    }
    context.record.add(used != 0 ? Count::Pictures : Count::EmptyFrames);
}

}  // namespace

ActionResult openStreamFilter(CameraSlot& slot, ActionContext& context) {
    if (slot.device == nullptr || slot.streamFilter != nullptr) return std::nullopt;
    host::ks::KsFilterHandle filter = nullptr;
    NTSTATUS status = context.client.openFilter(slot.device, L"GLOBAL", &filter);
    if (NT_SUCCESS(status)) slot.streamFilter = filter;
    return status;
}

ActionResult closeStreamFilter(CameraSlot& slot, ActionContext& context) {
    if (slot.streamFilter == nullptr) return std::nullopt;
    NTSTATUS status = context.client.closeFilter(slot.streamFilter);
    slot.streamFilter = nullptr;
    slot.pin = nullptr;
    slot.queued.clear();
    return status;
}

ActionResult createStreamPin(CameraSlot& slot, ActionContext& context) {
    if (slot.streamFilter == nullptr || slot.pin != nullptr) return std::nullopt;
    const KS_DATARANGE_VIDEO range = offeredRange(slot, context.client);
    VideoFormat format{};
    ULONG returned = 0;
    NTSTATUS status = context.client.intersect(slot.streamFilter, 0, &range.DataRange, &format,
                                               sizeof(format), &returned);
    if (!NT_SUCCESS(status)) return status;
    const ULONG pinId = context.rng.chance(95) ? 0 : static_cast<ULONG>(context.rng.between(1, 3));
    if (pinId != 0) context.note("pin factory " + std::to_string(pinId));
    host::ks::KsPinHandle pin = nullptr;
    status = context.client.createPin(slot.streamFilter, pinId, &format.DataFormat, &pin);
    if (NT_SUCCESS(status)) {
        slot.pin = pin;
        slot.format = format;
        slot.queued.clear();
    }
    return status;
}

ActionResult closeStreamPin(CameraSlot& slot, ActionContext& context) {
    if (slot.pin == nullptr) return std::nullopt;
    NTSTATUS status = context.client.closePin(slot.pin);
    slot.pin = nullptr;
    slot.queued.clear();
    return status;
}

ActionResult setStreamPinState(CameraSlot& slot, ActionContext& context) {
    if (slot.pin == nullptr) return std::nullopt;
    // Mostly towards RUN, so frames flow between the other changes.
    static const KSSTATE kStates[] = {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN};
    static const char* const kNames[] = {"stop", "acquire", "pause", "run"};
    const auto which = context.rng.pick<std::size_t>({0, 1, 2, 3, 3, 3, 3, 3, 3, 3});
    context.note(kNames[which]);
    return context.client.setPinState(slot.pin, kStates[which]);
}

// The pin's own format again, while frames flow: format contents are the format fuzz target's.
ActionResult setStreamPinFormat(CameraSlot& slot, ActionContext& context) {
    if (slot.pin == nullptr) return std::nullopt;
    return context.client.setPinFormat(slot.pin, &slot.format.DataFormat);
}

ActionResult queueStreamFrames(CameraSlot& slot, ActionContext& context) {
    if (slot.pin == nullptr || slot.queued.size() >= kMostQueued) return std::nullopt;
    const auto count = context.rng.between(1, 3);
    // A format may claim a picture of gigabytes; the buffers stay within reason.
    const ULONG picture =
        std::min<ULONG>(slot.format.VideoInfoHeader.bmiHeader.biSizeImage, kLargestFrame);
    NTSTATUS status = STATUS_SUCCESS;
    for (std::int64_t i = 0; i < count && slot.queued.size() < kMostQueued; ++i) {
        ULONG bytes = picture;
        const auto shape = context.rng.below(10);
        if (shape == 0) bytes = static_cast<ULONG>(context.rng.below(std::uint64_t(picture) + 1));
        if (shape == 1) bytes = picture + static_cast<ULONG>(context.rng.below(65536));
        const bool withFrameInfo = context.rng.chance(85);
        context.note(std::to_string(bytes) + (withFrameInfo ? "+info" : ""));
        status = context.client.queueFrame(slot.pin, bytes, withFrameInfo);
        if (NT_SUCCESS(status)) slot.queued.push_back({bytes, withFrameInfo});
    }
    return status;
}

ActionResult takeStreamFrames(CameraSlot& slot, ActionContext& context) {
    if (slot.pin == nullptr || slot.queued.empty()) return std::nullopt;
    const auto count = context.rng.between(1, 3);
    NTSTATUS status = STATUS_SUCCESS;
    for (std::int64_t i = 0; i < count && !slot.queued.empty(); ++i) {
        const auto wait = std::chrono::milliseconds(context.rng.between(0, 400));
        context.note(std::to_string(wait.count()) + "ms");
        host::ks::StreamFrame frame;
        status = context.client.waitFrame(slot.pin, wait, &frame);
        if (status == STATUS_SUCCESS) checkFrame(slot, frame, context);
    }
    return status;
}

ActionResult fuzzIntersection(CameraSlot& slot, host::ks::KsFilterHandle filter,
                              ActionContext& context) {
    if (filter == nullptr) return std::nullopt;
    const KS_DATARANGE_VIDEO offered = offeredRange(slot, context.client);
    // The range as the client sends it: the offered one, then bytes changed and a size that
    // may claim more or less than the range holds (never more than the buffer).
    const auto size = context.rng.chance(70) ? sizeof(offered)
                                             : static_cast<std::size_t>(context.rng.between(
                                                   sizeof(KSDATARANGE), sizeof(offered) + 64));
    std::vector<std::uint8_t> range(size);
    std::memcpy(range.data(), &offered, std::min(size, sizeof(offered)));
    const auto damaged = context.rng.below(4);
    for (std::uint64_t i = 0; i < damaged; ++i) {
        range[context.rng.below(size)] = static_cast<std::uint8_t>(context.rng.next());
    }
    reinterpret_cast<KSDATARANGE*>(range.data())->FormatSize = static_cast<ULONG>(size);
    const ULONG dataLength =
        context.rng.pick<ULONG>({0, 1, sizeof(VideoFormat) - 1, sizeof(VideoFormat), 4096});
    std::vector<std::uint8_t> data(std::max<ULONG>(dataLength, 1));
    ULONG returned = 0;
    context.note("range " + std::to_string(size) + " bytes, " + std::to_string(damaged) +
                 " damaged, data " + std::to_string(dataLength));
    const ULONG pinId = context.rng.chance(90) ? 0 : static_cast<ULONG>(context.rng.next());
    return context.client.intersect(filter, pinId, reinterpret_cast<KSDATARANGE*>(range.data()),
                                    dataLength == 0 ? nullptr : data.data(), dataLength, &returned);
}

}  // namespace bayercam::chaos
