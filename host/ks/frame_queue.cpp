#include "host/ks/frame_queue.h"

#include <utility>

namespace bayercam::host::ks {

FrameQueue::~FrameQueue() = default;

NTSTATUS FrameQueue::queue(ULONG dataSize, bool withFrameInfo) noexcept {
    return queue(std::vector<uint8_t>(dataSize, 0), withFrameInfo);
}

NTSTATUS FrameQueue::queue(std::vector<uint8_t> buffer, bool withFrameInfo) noexcept {
    if (buffer.size() > ULONG(~0u)) return STATUS_INVALID_PARAMETER;
    auto frame = std::make_unique<ClientFrame>();
    RtlZeroMemory(frame->header, sizeof(frame->header));
    frame->data = std::move(buffer);
    KSSTREAM_HEADER* header = frame->streamHeader();
    header->Size = withFrameInfo ? sizeof(frame->header) : sizeof(KSSTREAM_HEADER);
    header->FrameExtent = static_cast<ULONG>(frame->data.size());
    header->Data = frame->data.data();
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(frame));
    return STATUS_SUCCESS;
}

PKSSTREAM_POINTER FrameQueue::lockLeadingEdge() noexcept {
    std::lock_guard lock(mutex_);
    if (locked_ || queued_.empty()) return nullptr;
    KSSTREAM_HEADER* header = queued_.front()->streamHeader();
    pointer_ = KSSTREAM_POINTER{};
    pointer_.Pin = pin_;
    pointer_.StreamHeader = header;
    pointer_.OffsetOut.Data = static_cast<PUCHAR>(header->Data);
    pointer_.OffsetOut.Count = header->FrameExtent;
    pointer_.OffsetOut.Remaining = header->FrameExtent;
    pointer_.Offset = &pointer_.OffsetOut;
    locked_ = true;
    return &pointer_;
}

bool FrameQueue::unlock(PKSSTREAM_POINTER pointer, bool eject) noexcept {
    std::lock_guard lock(mutex_);
    if (!locked_ || pointer != &pointer_) return false;
    locked_ = false;
    if (eject) {
        std::unique_ptr<ClientFrame> frame = std::move(queued_.front());
        queued_.pop_front();
        handBackLocked(std::move(frame));
    }
    return true;
}

bool FrameQueue::locked() noexcept {
    std::lock_guard lock(mutex_);
    return locked_;
}

void FrameQueue::flush() noexcept {
    std::lock_guard lock(mutex_);
    locked_ = false;
    while (!queued_.empty()) {
        std::unique_ptr<ClientFrame> frame = std::move(queued_.front());
        queued_.pop_front();
        frame->streamHeader()->DataUsed = 0;
        handBackLocked(std::move(frame));
    }
}

void FrameQueue::handBackLocked(std::unique_ptr<ClientFrame> frame) {
    StreamFrame done;
    KSSTREAM_HEADER* header = frame->streamHeader();
    done.header = *header;
    done.hasFrameInfo = header->Size >= sizeof(frame->header);
    if (done.hasFrameInfo) {
        RtlCopyMemory(&done.frameInfo, frame->header + sizeof(KSSTREAM_HEADER),
                      sizeof(KS_FRAME_INFO));
    }
    done.data = std::move(frame->data);
    done.header.Data = done.data.data();
    completed_.push_back(std::move(done));
    handedBack_.notify_all();
}

NTSTATUS FrameQueue::wait(std::chrono::milliseconds timeout, StreamFrame* frame) noexcept {
    std::unique_lock lock(mutex_);
    if (!handedBack_.wait_for(lock, timeout, [this] { return !completed_.empty(); })) {
        return STATUS_TIMEOUT;
    }
    *frame = std::move(completed_.front());
    completed_.pop_front();
    return STATUS_SUCCESS;
}

}  // namespace bayercam::host::ks
