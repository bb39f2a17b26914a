// Allocation-failure injection. Every allocation site of the stand-in (pool blocks, requests,
// MDLs, completion contexts, device objects, system threads) asks shouldFail() first, so one
// sequence numbers them all; a test makes the Nth allocation fail, the Nth of one tag, or walks
// an operation through every allocation failing in turn.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "host/kernel/pool.h"
#include "platform/kernel.h"

namespace bayercam::host::injection {

// The tags the stand-in's own allocation sites count under, for failNthOfTag. Pool blocks
// count under their own tags.
constexpr ULONG kIrpSite = pool::makeTag("Irp ");  // IoAllocateIrp, IoBuildDeviceIoControlRequest
constexpr ULONG kMdlSite = pool::makeTag("Mdl ");  // IoAllocateMdl
constexpr ULONG kDeviceSite = pool::makeTag("Devi");  // IoCreateDevice
constexpr ULONG kThreadSite = pool::makeTag("Thrd");  // PsCreateSystemThread

// The nth allocation from now (1 = the next one) fails, once.
void failNth(std::size_t n) noexcept;

// The nth allocation with this tag from now fails, once.
void failNthOfTag(ULONG tag, std::size_t n) noexcept;

// Decides which allocations the armed count sees: one for which the filter returns false
// neither counts nor fails. Without a filter (the default, and after reset()) every allocation
// counts. The filter runs only while an injection is armed, outside the injection's lock and on
// the allocating thread, possibly at raised IRQL; it must not allocate from the pool.
using CountFilter = std::function<bool(ULONG tag)>;
void setCountFilter(std::shared_ptr<const CountFilter> filter) noexcept;

// Disarms every injection, drops the count filter and zeroes the count of injected failures.
void reset() noexcept;

// Failures injected since the last reset().
std::size_t injectedCount() noexcept;

// Called by each allocation site; true means the site must fail as the platform would.
bool shouldFail(ULONG tag) noexcept;

// Runs operation with the 1st allocation failing, then the 2nd, and so on, until a run sees
// no injected failure. Returns the number of runs, the clean one included; the operation must
// clean up after itself every time.
std::size_t walkAllocationFailures(const std::function<void(std::size_t failing)>& operation);

}  // namespace bayercam::host::injection
