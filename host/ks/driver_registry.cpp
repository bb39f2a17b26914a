#include "host/ks/driver_registry.h"

#include <mutex>
#include <unordered_map>

namespace bayercam::host::ks {
namespace {

struct Drivers {
    std::mutex mutex;
    std::unordered_map<PDRIVER_OBJECT, const KSDEVICE_DESCRIPTOR*> descriptors;  // guarded
};

Drivers& drivers() noexcept {
    static Drivers instance;
    return instance;
}

}  // namespace

void rememberDriver(PDRIVER_OBJECT driver, const KSDEVICE_DESCRIPTOR* descriptor) noexcept {
    std::lock_guard lock(drivers().mutex);
    drivers().descriptors[driver] = descriptor;
}

void forgetDriver(PDRIVER_OBJECT driver) noexcept {
    std::lock_guard lock(drivers().mutex);
    drivers().descriptors.erase(driver);
}

const KSDEVICE_DESCRIPTOR* registeredDescriptor(PDRIVER_OBJECT driver) noexcept {
    std::lock_guard lock(drivers().mutex);
    auto it = drivers().descriptors.find(driver);
    return it == drivers().descriptors.end() ? nullptr : it->second;
}

}  // namespace bayercam::host::ks
