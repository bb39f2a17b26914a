// Dispatcher objects (events and threads): the state lives in the object's DISPATCHER_HEADER,
// as on the platform; waiting happens on host-side wait buckets, hashed by object address, so
// no object needs an allocation of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

#include "platform/kernel.h"

namespace bayercam::host::dispatcher {

// DISPATCHER_HEADER.Type values, as on the platform.
constexpr UCHAR kNotificationEvent = 0;
constexpr UCHAR kSynchronizationEvent = 1;
constexpr UCHAR kThread = 6;

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

inline std::atomic_ref<LONG> signalState(DISPATCHER_HEADER& header) noexcept {
    return std::atomic_ref<LONG>(header.SignalState);
}

inline UCHAR typeOf(const DISPATCHER_HEADER& header) noexcept {
    return std::atomic_ref<const UCHAR>(header.Type).load(std::memory_order_relaxed);
}

// Sets up the header of a new object of the given type and state.
void initialize(DISPATCHER_HEADER& header, UCHAR type, LONG signalState) noexcept;

// Signals the object and wakes its waiters; returns the previous state.
LONG signal(DISPATCHER_HEADER& header) noexcept;

// Signals the object, wakes its waiters and runs `last` before any of them can return: a
// thread object drops its own reference there, so a waiter that then drops its reference
// finds the count it expects.
void signalThen(DISPATCHER_HEADER& header, const std::function<void()>& last) noexcept;

// Makes the object non-signalled; returns the previous state.
LONG reset(DISPATCHER_HEADER& header) noexcept;

// Waits until the object is signalled (a synchronization event is reset by the waiter it
// releases) or the deadline passes; nullopt waits forever. True when signalled.
bool wait(DISPATCHER_HEADER& header, Deadline deadline) noexcept;

}  // namespace bayercam::host::dispatcher
