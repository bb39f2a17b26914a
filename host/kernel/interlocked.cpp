// The Interlocked family as sequentially consistent atomics, visible to the thread sanitizer.
#include <atomic>

#include "platform/kernel.h"

namespace {

template <class T>
std::atomic_ref<T> atomic(T volatile* target) noexcept {
    return std::atomic_ref<T>(*const_cast<T*>(target));
}

}  // namespace

extern "C" LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
    return atomic(Target).exchange(Value);
}

extern "C" LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange,
                                           LONG Comparand) {
    atomic(Destination).compare_exchange_strong(Comparand, Exchange);
    return Comparand;
}

extern "C" LONG InterlockedIncrement(LONG volatile* Addend) {
    return atomic(Addend).fetch_add(1) + 1;
}

extern "C" LONG InterlockedDecrement(LONG volatile* Addend) {
    return atomic(Addend).fetch_sub(1) - 1;
}

extern "C" LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value) {
    return atomic(Addend).fetch_add(Value);
}

extern "C" PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value) {
    return atomic(Target).exchange(Value);
}

extern "C" PVOID InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange,
                                                   PVOID Comparand) {
    atomic(Destination).compare_exchange_strong(Comparand, Exchange);
    return Comparand;
}
