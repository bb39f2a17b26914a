// The video format and the frames: a pin with the format the driver offers for the region,
// its states, and a few client buffers kept queued so the driver always has one to fill.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/lib/camera.h"
#include "app/lib/camera_impl.h"

namespace bayercam {

namespace {

using FormatRecord = KS_DATAFORMAT_VIDEOINFOHEADER;

// Client buffers kept queued: the driver drops a converted frame when it finds none, so these
// carry a client through about a quarter of a second without a call at 30 frames a second.
constexpr std::size_t kQueuedBuffers = 8;
constexpr ULONG kCapturePin = 0;  // the filter's one pin factory

VideoFormat describeFormat(const FormatRecord& format) {
    const KS_BITMAPINFOHEADER& bitmap = format.VideoInfoHeader.bmiHeader;
    VideoFormat video;
    video.width = bitmap.biWidth;
    video.height = bitmap.biHeight < 0 ? -bitmap.biHeight : bitmap.biHeight;
    video.rowStep = std::size_t(bitmap.biWidth) * 4;
    video.frameBytes = bitmap.biSizeImage;
    video.frameInterval = format.VideoInfoHeader.AvgTimePerFrame;
    return video;
}

const FormatRecord& formatOf(const std::vector<std::uint8_t>& bytes) {
    return *reinterpret_cast<const FormatRecord*>(bytes.data());
}

}  // namespace

std::vector<std::uint8_t> Frame::upright() const {
    std::vector<std::uint8_t> packed(std::size_t(width) * height * 4);
    for (std::int32_t y = 0; y < height; ++y) {
        std::memcpy(&packed[std::size_t(y) * width * 4], row(y), std::size_t(width) * 4);
    }
    return packed;
}

// The ranges come as a KSMULTIPLE_ITEM followed by each range, every one at an 8-byte boundary;
// the first RGB32 video range is the one the library streams.
Result<KS_DATARANGE_VIDEO> Camera::Impl::offeredRange() {
    KSP_PIN request{};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = KSPROPERTY_PIN_DATARANGES;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    request.PinId = kCapturePin;
    ULONG size = 0;
    NTSTATUS status = client->property(filter, &request, sizeof(request), nullptr, 0, &size);
    std::vector<std::uint8_t> answer(size);
    if (status == STATUS_BUFFER_OVERFLOW && size >= sizeof(KSMULTIPLE_ITEM)) {
        status = client->property(filter, &request, sizeof(request), answer.data(), size, &size);
    }
    if (status != STATUS_SUCCESS) {
        return Error{"the capture pin did not tell its formats (" + describeStatus(status) + ")"};
    }
    KSMULTIPLE_ITEM ranges;
    std::memcpy(&ranges, answer.data(), sizeof(ranges));
    for (std::size_t at = sizeof(ranges), n = 0; n < ranges.Count; ++n) {
        KSDATARANGE range;
        if (at + sizeof(range) > size) break;
        std::memcpy(&range, answer.data() + at, sizeof(range));
        if (range.FormatSize < sizeof(range) || at + range.FormatSize > size) break;
        if (range.FormatSize >= sizeof(KS_DATARANGE_VIDEO) &&
            IsEqualGUID(range.SubFormat, MEDIASUBTYPE_RGB32) &&
            IsEqualGUID(range.Specifier, KSDATAFORMAT_SPECIFIER_VIDEOINFO)) {
            KS_DATARANGE_VIDEO video;
            std::memcpy(&video, answer.data() + at, sizeof(video));
            return video;
        }
        at += (range.FormatSize + 7) & ~std::size_t{7};
    }
    return Error{"the capture pin offers no RGB32 video format"};
}

Result<VideoFormat> Camera::negotiateFormat() {
    if (impl_->pin != nullptr) return describeFormat(formatOf(impl_->formatBytes));
    Result<KS_DATARANGE_VIDEO> offered = impl_->offeredRange();
    if (!offered) return offered.error();
    KS_DATARANGE_VIDEO range = offered.value();
    std::vector<std::uint8_t> bytes(sizeof(FormatRecord));
    ULONG returned = 0;
    const NTSTATUS status = impl_->client->intersect(impl_->filter, kCapturePin, &range.DataRange,
                                                     bytes.data(), ULONG(bytes.size()), &returned);
    if (status != STATUS_SUCCESS) {
        return Error{"the driver offered no format for the region (" + describeStatus(status) +
                     ")"};
    }
    const VideoFormat video = describeFormat(formatOf(bytes));
    if (video.width <= 0 || video.height <= 0) {
        return Error{"the region gives an empty picture (" + std::to_string(video.width) + "x" +
                     std::to_string(video.height) +
                     "); set one at least 8 pixels wide with 'bayercam roi'"};
    }
    impl_->formatBytes = std::move(bytes);
    return video;
}

Status Camera::start() {
    if (impl_->running) return Done{};
    const bool fresh = impl_->pin == nullptr;
    if (fresh) {
        Result<VideoFormat> format = negotiateFormat();
        if (!format) return format.error();
        const NTSTATUS status = impl_->client->createPin(
            impl_->filter, kCapturePin, &formatOf(impl_->formatBytes).DataFormat, &impl_->pin);
        if (status != STATUS_SUCCESS) {
            impl_->pin = nullptr;
            return Error{"the capture pin could not be made (" + describeStatus(status) + ")"};
        }
        // A paused pin still holds its buffers; a new one has them before the first frame, so
        // that neither the frame nor the memory it lands in waits for the other.
        for (std::size_t i = 0; i < kQueuedBuffers; ++i) queueReplacement();
    }
    const NTSTATUS status = impl_->client->setPinState(impl_->pin, KSSTATE_RUN);
    if (status != STATUS_SUCCESS) {
        return Error{"streaming did not start (" + describeStatus(status) + ")"};
    }
    impl_->running = true;
    return Done{};
}

Status Camera::pause() {
    if (impl_->pin == nullptr) return Error{"not streaming"};
    const NTSTATUS status = impl_->client->setPinState(impl_->pin, KSSTATE_PAUSE);
    if (status != STATUS_SUCCESS)
        return Error{"streaming did not pause (" + describeStatus(status) + ")"};
    impl_->running = false;
    return Done{};
}

Status Camera::stop() {
    if (impl_->pin == nullptr) return Done{};
    impl_->client->setPinState(impl_->pin, KSSTATE_STOP);
    const NTSTATUS status = impl_->client->closePin(impl_->pin);
    impl_->pin = nullptr;
    impl_->running = false;
    if (status != STATUS_SUCCESS)
        return Error{"the capture pin did not close (" + describeStatus(status) + ")"};
    return Done{};
}

bool Camera::streaming() const { return impl_->running; }

void Camera::recycle(Frame&& frame) {
    if (impl_->spareBuffers.size() < kQueuedBuffers && !frame.pixels.empty()) {
        impl_->spareBuffers.push_back(std::move(frame.pixels));
    }
}

std::uint64_t Camera::framesWithoutPicture() const { return impl_->framesWithoutPicture; }

// Every buffer handed back is queued again, so the driver never runs dry.
void Camera::queueReplacement() {
    const ULONG bytes = formatOf(impl_->formatBytes).VideoInfoHeader.bmiHeader.biSizeImage;
    std::vector<std::vector<std::uint8_t>>& spares = impl_->spareBuffers;
    if (!spares.empty() && spares.back().size() == bytes) {
        impl_->client->queueFrame(impl_->pin, std::move(spares.back()));
        spares.pop_back();
    } else {
        spares.clear();  // of another format
        impl_->client->queueFrame(impl_->pin, bytes);
    }
}

Result<Frame> Camera::nextFrame(std::chrono::milliseconds timeout) {
    if (!impl_->running) return Error{"not streaming"};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    host::ks::StreamFrame delivered;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const NTSTATUS status = impl_->client->waitFrame(
            impl_->pin, std::max(left, std::chrono::milliseconds(0)), &delivered);
        if (!impl_->bus->present()) return Error{"the camera was unplugged"};
        if (status == STATUS_TIMEOUT) {
            return Error{"no frame within " + std::to_string(timeout.count()) + " ms",
                         Error::Kind::kTimedOut};
        }
        if (status != STATUS_SUCCESS)
            return Error{"the frame wait failed (" + describeStatus(status) + ")"};
        if (delivered.header.DataUsed != 0) break;
        // A processing pass found no camera frame ready; the buffer waits for the next one.
        ++impl_->framesWithoutPicture;
        impl_->client->queueFrame(impl_->pin, std::move(delivered.data));
    }
    queueReplacement();
    const VideoFormat video = describeFormat(formatOf(impl_->formatBytes));
    Frame frame;
    frame.width = video.width;
    frame.height = video.height;
    frame.rowStep = video.rowStep;
    frame.pixels = std::move(delivered.data);
    frame.presentationTime = delivered.header.PresentationTime.Time;
    frame.pictureNumber = delivered.hasFrameInfo ? delivered.frameInfo.PictureNumber : 0;
    return frame;
}

}  // namespace bayercam
