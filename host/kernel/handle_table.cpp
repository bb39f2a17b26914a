#include "host/kernel/handle_table.h"

#include <mutex>
#include <unordered_map>

#include "host/kernel/irql.h"

namespace bayercam::host {
namespace {

struct Table {
    std::mutex lock;
    std::unordered_map<ULONG_PTR, std::shared_ptr<HandleObject>> objects;  // guarded by lock
    ULONG_PTR next = 4;                                                    // guarded by lock
};

Table& table() {
    static Table instance;
    return instance;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<HandleObject> object) noexcept {
    if (!object) return nullptr;
    Table& t = table();
    std::lock_guard guard(t.lock);
    try {
        // Handle values are multiples of four, as on the platform, and never reused soon.
        ULONG_PTR value = t.next;
        t.next += 4;
        t.objects.emplace(value, std::move(object));
        return reinterpret_cast<HANDLE>(value);
    } catch (...) {
        return nullptr;
    }
}

std::shared_ptr<HandleObject> lookupHandle(HANDLE handle) noexcept {
    Table& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<ULONG_PTR>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::size_t openHandleCount() noexcept {
    Table& t = table();
    std::lock_guard guard(t.lock);
    return t.objects.size();
}

}  // namespace bayercam::host

extern "C" NTSTATUS ZwClose(HANDLE Handle) {
    using namespace bayercam::host;
    irql::checkPassive("ZwClose");
    std::shared_ptr<HandleObject> released;
    {
        Table& t = table();
        std::lock_guard guard(t.lock);
        auto it = t.objects.find(reinterpret_cast<ULONG_PTR>(Handle));
        if (it == t.objects.end()) return STATUS_INVALID_HANDLE;
        released = std::move(it->second);
        t.objects.erase(it);
    }
    // The object goes outside the lock: its destructor may close a database or join nothing.
    return STATUS_SUCCESS;
}
