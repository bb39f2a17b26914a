#include "host/kernel/live_objects.h"

#include <array>
#include <atomic>

namespace bayercam::host::live {
namespace {

std::array<std::atomic<std::size_t>, std::size(kAllKinds)> counts;

std::atomic<std::size_t>& counter(Kind kind) noexcept {
    return counts[static_cast<std::size_t>(kind)];
}

}  // namespace

void created(Kind kind) noexcept { counter(kind).fetch_add(1); }

void destroyed(Kind kind) noexcept { counter(kind).fetch_sub(1); }

std::size_t count(Kind kind) noexcept { return counter(kind).load(); }

const char* name(Kind kind) noexcept {
    switch (kind) {
        case Kind::Irp:
            return "IRPs";
        case Kind::Mdl:
            return "MDLs";
        case Kind::ThreadObject:
            return "thread objects";
        case Kind::DeviceObject:
            return "device objects";
    }
    return "objects";
}

}  // namespace bayercam::host::live
