// What a run did and saw: actions by kind (run and skipped), the statuses they returned, frames
// delivered and empty, faults injected, and the faults found. Thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "tests/chaos/action_catalogue.h"

namespace bayercam::chaos {

class RunTally {
  public:
    void ran(ActionKind kind);
    void skipped(ActionKind kind);
    void status(NTSTATUS status);
    void frame(bool carriedPicture);
    void cameraFault();
    // The frames a camera sent, counted when it leaves the bus.
    void cameraFramesSent(std::uint64_t frames);
    void allocationFaultArmed();
    // A fault of the system under test, with the context to read it by.
    void finding(std::string what);

    std::size_t findings() const;
    // The summary lines; injectedAllocations is the count the failure injection reports.
    std::vector<std::string> summary(std::size_t injectedAllocations) const;

  private:
    struct Counts {
        std::uint64_t ran = 0;
        std::uint64_t skipped = 0;
    };
    mutable std::mutex mutex_;
    std::array<Counts, kActionKinds> actions_{};  // guarded by mutex_
    std::map<ULONG, std::uint64_t> statuses_;     // guarded by mutex_
    std::uint64_t pictures_ = 0;                  // guarded by mutex_
    std::uint64_t emptyFrames_ = 0;               // guarded by mutex_
    std::uint64_t cameraFaults_ = 0;              // guarded by mutex_
    std::uint64_t cameraFrames_ = 0;              // guarded by mutex_
    std::uint64_t allocationFaults_ = 0;          // guarded by mutex_
    std::vector<std::string> findings_;           // guarded by mutex_
};

// The status as the platform headers spell it in hex: 0xC0000001.
std::string statusName(NTSTATUS status);

}  // namespace bayercam::chaos
