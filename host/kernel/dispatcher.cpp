#include "host/kernel/dispatcher.h"

#include <array>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace bayercam::host::dispatcher {
namespace {

// Every change of a signal state and every wait happens under the bucket's lock, so a waiter
// cannot miss a wake-up. Objects that share a bucket only cost each other spurious wake-ups.
struct WaitBucket {
    std::mutex lock;
    std::condition_variable changed;
};

constexpr std::size_t kBuckets = 64;

WaitBucket& bucketOf(const void* object) noexcept {
    static std::array<WaitBucket, kBuckets> buckets;
    return buckets[std::hash<const void*>{}(object) % kBuckets];
}

}  // namespace

void initialize(DISPATCHER_HEADER& header, UCHAR type, LONG state) noexcept {
    WaitBucket& bucket = bucketOf(&header);
    std::lock_guard guard(bucket.lock);
    std::atomic_ref<UCHAR>(header.Type).store(type, std::memory_order_relaxed);
    header.Reserved[0] = header.Reserved[1] = header.Reserved[2] = 0;
    header.WaitListHead.Flink = header.WaitListHead.Blink = &header.WaitListHead;
    signalState(header).store(state);
}

LONG signal(DISPATCHER_HEADER& header) noexcept {
    WaitBucket& bucket = bucketOf(&header);
    std::lock_guard guard(bucket.lock);
    const LONG previous = signalState(header).exchange(1);
    // The object may be freed as soon as a waiter returns, so nothing of it is touched after
    // the lock is released; the condition variable belongs to the bucket.
    bucket.changed.notify_all();
    return previous;
}

void signalThen(DISPATCHER_HEADER& header, const std::function<void()>& last) noexcept {
    WaitBucket& bucket = bucketOf(&header);
    std::lock_guard guard(bucket.lock);
    signalState(header).store(1);
    bucket.changed.notify_all();
    last();
}

LONG reset(DISPATCHER_HEADER& header) noexcept {
    WaitBucket& bucket = bucketOf(&header);
    std::lock_guard guard(bucket.lock);
    return signalState(header).exchange(0);
}

bool wait(DISPATCHER_HEADER& header, Deadline deadline) noexcept {
    WaitBucket& bucket = bucketOf(&header);
    std::unique_lock guard(bucket.lock);
    for (;;) {
        if (signalState(header).load() != 0) {
            if (typeOf(header) == kSynchronizationEvent) signalState(header).store(0);
            return true;
        }
        if (!deadline) {
            bucket.changed.wait(guard);
        } else if (bucket.changed.wait_until(guard, *deadline) == std::cv_status::timeout &&
                   signalState(header).load() == 0) {
            return false;
        }
    }
}

}  // namespace bayercam::host::dispatcher
