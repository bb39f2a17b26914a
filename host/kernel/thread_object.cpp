#include "host/kernel/thread_object.h"

#include <mutex>
#include <new>
#include <unordered_set>

#include "host/kernel/dispatcher.h"
#include "host/kernel/live_objects.h"

namespace bayercam::host::threads {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_set<const void*> live;  // guarded by lock
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void destroy(PKTHREAD thread) noexcept {
    {
        Registry& r = registry();
        std::lock_guard guard(r.lock);
        r.live.erase(thread);
    }
    if (thread->thread.joinable()) {
        // The thread itself may drop the last reference as it ends; it cannot join itself.
        if (thread->thread.get_id() == std::this_thread::get_id()) {
            thread->thread.detach();
        } else {
            thread->thread.join();
        }
    }
    delete thread;
    live::destroyed(live::Kind::ThreadObject);
}

}  // namespace

PKTHREAD create(PKSTART_ROUTINE routine, PVOID context, LONG_PTR references) noexcept {
    auto* thread = new (std::nothrow) _KTHREAD;
    if (!thread) return nullptr;
    Registry& r = registry();
    try {
        std::lock_guard guard(r.lock);
        r.live.insert(thread);
    } catch (...) {
        delete thread;
        return nullptr;
    }
    dispatcher::initialize(thread->Header, dispatcher::kThread, 0);
    thread->references = references;
    thread->routine = routine;
    thread->context = context;
    live::created(live::Kind::ThreadObject);
    return thread;
}

bool isThreadObject(const void* object) noexcept {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    return r.live.count(object) != 0;
}

void reference(PKTHREAD thread) noexcept { thread->references.fetch_add(1); }

LONG_PTR dereference(PKTHREAD thread) noexcept {
    const LONG_PTR left = thread->references.fetch_sub(1) - 1;
    if (left == 0) destroy(thread);
    return left;
}

}  // namespace bayercam::host::threads
