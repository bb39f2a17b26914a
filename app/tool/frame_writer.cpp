#include "app/tool/frame_writer.h"

#include <utility>

namespace bayercam::app {

FrameWriter::FrameWriter(std::function<void(const FrameJob&)> sink, std::size_t capacity)
    : sink_(std::move(sink)),
      capacity_(capacity),
      thread_([this] { run(); }) {}

FrameWriter::~FrameWriter() {
    {
        std::lock_guard guard(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FrameWriter::write(FrameJob job) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.size() < capacity_ || failure_; });
    rethrowLocked();
    jobs_.push_back(std::move(job));
    lock.unlock();
    changed_.notify_all();
}

void FrameWriter::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (jobs_.empty() && !busy_) || failure_; });
    rethrowLocked();
}

std::vector<std::vector<std::uint8_t>> FrameWriter::takeSpentPixels() {
    std::lock_guard guard(mutex_);
    return std::exchange(spent_, {});
}

void FrameWriter::rethrowLocked() {
    if (failure_) std::rethrow_exception(failure_);
}

void FrameWriter::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return !jobs_.empty() || closing_; });
        if (jobs_.empty() || failure_) return;
        FrameJob job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        std::exception_ptr failure;
        try {
            sink_(job);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        spent_.push_back(std::move(job.pixels));
        busy_ = false;
        if (failure && !failure_) failure_ = failure;
        changed_.notify_all();
    }
}

}  // namespace bayercam::app
