#include "app/tool/frame_writer.h"

#include "app/tool/image_writers.h"

namespace bayercam::app {

FrameWriter::FrameWriter(std::filesystem::path folder, OutputFormat format, std::size_t capacity)
    : folder_(std::move(folder)),
      format_(format),
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

void FrameWriter::write(std::string name, std::vector<std::uint8_t> pixels, FrameSize size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.size() < capacity_ || failure_; });
    rethrowLocked();
    jobs_.push_back(Job{std::move(name), std::move(pixels), size});
    lock.unlock();
    changed_.notify_all();
}

void FrameWriter::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (jobs_.empty() && !busy_) || failure_; });
    rethrowLocked();
}

void FrameWriter::rethrowLocked() {
    if (failure_) std::rethrow_exception(failure_);
}

void FrameWriter::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return !jobs_.empty() || closing_; });
        if (jobs_.empty() || failure_) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        std::exception_ptr failure;
        try {
            writeImageFile(folder_ / job.name, format_, job.pixels, job.size);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        busy_ = false;
        if (failure && !failure_) failure_ = failure;
        changed_.notify_all();
    }
}

}  // namespace bayercam::app
