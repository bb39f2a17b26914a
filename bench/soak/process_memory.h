// The process's resident memory now and at its peak, from /proc/self/status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bayercam::soak {

struct ProcessMemory {
    std::uint64_t residentKiB = 0;   // VmRSS
    std::uint64_t highWaterKiB = 0;  // VmHWM
};

// Nothing when the status file cannot be read or lacks either line.
std::optional<ProcessMemory> readProcessMemory();

// "12.3 MiB"
std::string mebibytes(std::uint64_t kib);

}  // namespace bayercam::soak
