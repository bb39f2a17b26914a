#include "bench/soak/process_memory.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace bayercam::soak {

std::optional<ProcessMemory> readProcessMemory() {
    std::ifstream status("/proc/self/status");
    std::optional<std::uint64_t> resident;
    std::optional<std::uint64_t> highWater;
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string name;
        std::uint64_t kib = 0;
        if (!(fields >> name >> kib)) continue;
        if (name == "VmRSS:") resident = kib;
        if (name == "VmHWM:") highWater = kib;
    }
    if (!resident || !highWater) return std::nullopt;
    return ProcessMemory{*resident, *highWater};
}

std::string mebibytes(std::uint64_t kib) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MiB", double(kib) / 1024.0);
    return text;
}

}  // namespace bayercam::soak
