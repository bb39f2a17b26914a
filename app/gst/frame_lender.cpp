#include "app/gst/frame_lender.h"

#include <gst/video/video.h>

namespace bayercam::app {

namespace {

// As many as the camera keeps queued: more would only wait here.
constexpr std::size_t kKeptForReuse = 3;

}  // namespace

struct FrameLender::Loan {
    std::vector<std::uint8_t> pixels;
    std::shared_ptr<FrameLender> lender;
};

GstBuffer* FrameLender::lend(Frame&& frame) {
    const std::size_t bytes = std::size_t(frame.height) * frame.rowStep;
    auto* loan = new Loan{std::move(frame.pixels), shared_from_this()};
    GstMemory* memory = gst_memory_new_wrapped(GstMemoryFlags(0), loan->pixels.data(),
                                               loan->pixels.size(), 0, bytes, loan, giveBack);
    {
        std::lock_guard lock(mutex_);
        ++outstanding_;
    }
    GstBuffer* buffer = gst_buffer_new();
    gst_buffer_append_memory(buffer, memory);
    gsize offsets[GST_VIDEO_MAX_PLANES] = {0};
    gint strides[GST_VIDEO_MAX_PLANES] = {gint(frame.rowStep)};
    gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_BGRx,
                                   guint(frame.width), guint(frame.height), 1, offsets, strides);
    return buffer;
}

void FrameLender::giveBack(gpointer data) {
    std::unique_ptr<Loan> loan(static_cast<Loan*>(data));
    FrameLender& lender = *loan->lender;
    std::lock_guard lock(lender.mutex_);
    --lender.outstanding_;
    if (lender.returned_.size() < kKeptForReuse)
        lender.returned_.push_back(std::move(loan->pixels));
}

std::optional<std::vector<std::uint8_t>> FrameLender::takeReturned() {
    std::lock_guard lock(mutex_);
    if (returned_.empty()) return std::nullopt;
    std::vector<std::uint8_t> pixels = std::move(returned_.back());
    returned_.pop_back();
    return pixels;
}

std::size_t FrameLender::outstanding() const {
    std::lock_guard lock(mutex_);
    return outstanding_;
}

void FrameLender::dropReturned() {
    std::lock_guard lock(mutex_);
    returned_.clear();
}

}  // namespace bayercam::app
