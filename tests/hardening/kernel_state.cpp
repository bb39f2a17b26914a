#include "tests/hardening/kernel_state.h"

#include <chrono>
#include <thread>

#include "host/kernel/handle_table.h"

namespace bayercam::testing {
namespace {

namespace live = host::live;
using namespace std::chrono_literals;

std::string Differences(const KernelState& before) {
    std::string report = host::pool::leakReport(before.pool);
    const KernelState now = CurrentKernelState();
    for (std::size_t i = 0; i < std::size(live::kAllKinds); ++i) {
        if (now.objects[i] != before.objects[i]) {
            report += std::string(live::name(live::kAllKinds[i])) + ": " +
                      std::to_string(now.objects[i]) + " live (expected " +
                      std::to_string(before.objects[i]) + ")\n";
        }
    }
    if (now.handles != before.handles) {
        report += "handles: " + std::to_string(now.handles) + " open (expected " +
                  std::to_string(before.handles) + ")\n";
    }
    return report;
}

}  // namespace

KernelState CurrentKernelState() {
    KernelState state{host::pool::snapshot(), {}, host::openHandleCount()};
    for (std::size_t i = 0; i < std::size(live::kAllKinds); ++i) {
        state.objects[i] = live::count(live::kAllKinds[i]);
    }
    return state;
}

std::string LeaksSince(const KernelState& before) {
    // A request completed on another thread or a thread object whose thread is just ending
    // goes a moment after the call that ended it returned.
    const auto patience = std::chrono::steady_clock::now() + 2s;
    std::string report = Differences(before);
    while (!report.empty() && std::chrono::steady_clock::now() < patience) {
        std::this_thread::sleep_for(1ms);
        report = Differences(before);
    }
    return report;
}

}  // namespace bayercam::testing
