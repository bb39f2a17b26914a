// An object bag: items with their release callbacks, released together with the object that
// owns the bag. Entries come from the tagged pool, so an insertion can fail as on the platform.
#pragma once

#include <mutex>

#include "platform/ks.h"

namespace bayercam::host::ks {

class ObjectBag {
  public:
    ObjectBag() noexcept;
    ~ObjectBag();
    ObjectBag(const ObjectBag&) = delete;
    ObjectBag& operator=(const ObjectBag&) = delete;

    // The handle the minidriver holds (KSOBJECT_BAG); lookUp turns it back into the bag.
    KSOBJECT_BAG handle() noexcept { return this; }
    static ObjectBag* lookUp(KSOBJECT_BAG handle) noexcept;

    // Adds item once; adding an item already in the bag succeeds without a second entry.
    // A null release callback means the item is pool memory, freed with ExFreePool.
    NTSTATUS add(PVOID item, PFNKSFREE release) noexcept;
    bool contains(PVOID item) noexcept;
    // Removes item, releasing it when release is set; returns how many entries were removed.
    ULONG remove(PVOID item, bool release) noexcept;
    // Releases every item, newest first, each exactly once. The bag may be used again after.
    void releaseAll() noexcept;

  private:
    struct Entry {
        Entry* next;
        PVOID item;
        PFNKSFREE release;
    };
    static void releaseEntry(Entry* entry) noexcept;

    std::mutex mutex_;
    Entry* newest_ = nullptr;  // guarded by mutex_
};

}  // namespace bayercam::host::ks
