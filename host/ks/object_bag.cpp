#include "host/ks/object_bag.h"

#include <mutex>
#include <unordered_set>

#include "host/kernel/pool.h"

namespace bayercam::host::ks {
namespace {

constexpr ULONG kBagEntryTag = pool::makeTag("KsOb");

struct BagSet {
    std::mutex mutex;
    std::unordered_set<const void*> bags;  // guarded by mutex
};

BagSet& liveBags() noexcept {
    static BagSet instance;
    return instance;
}

}  // namespace

ObjectBag::ObjectBag() noexcept {
    BagSet& set = liveBags();
    std::lock_guard lock(set.mutex);
    set.bags.insert(this);
}

ObjectBag::~ObjectBag() {
    releaseAll();
    BagSet& set = liveBags();
    std::lock_guard lock(set.mutex);
    set.bags.erase(this);
}

ObjectBag* ObjectBag::lookUp(KSOBJECT_BAG handle) noexcept {
    BagSet& set = liveBags();
    std::lock_guard lock(set.mutex);
    return set.bags.contains(handle) ? static_cast<ObjectBag*>(handle) : nullptr;
}

NTSTATUS ObjectBag::add(PVOID item, PFNKSFREE release) noexcept {
    if (contains(item)) return STATUS_SUCCESS;
    auto* entry =
        static_cast<Entry*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(Entry), kBagEntryTag));
    if (entry == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    entry->item = item;
    entry->release = release;
    std::lock_guard lock(mutex_);
    entry->next = newest_;
    newest_ = entry;
    return STATUS_SUCCESS;
}

bool ObjectBag::contains(PVOID item) noexcept {
    std::lock_guard lock(mutex_);
    for (Entry* e = newest_; e != nullptr; e = e->next) {
        if (e->item == item) return true;
    }
    return false;
}

ULONG ObjectBag::remove(PVOID item, bool release) noexcept {
    Entry* found = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (Entry** link = &newest_; *link != nullptr; link = &(*link)->next) {
            if ((*link)->item == item) {
                found = *link;
                *link = found->next;
                break;
            }
        }
    }
    if (found == nullptr) return 0;
    if (release) {
        releaseEntry(found);
    } else {
        ExFreePoolWithTag(found, kBagEntryTag);
    }
    return 1;
}

void ObjectBag::releaseAll() noexcept {
    Entry* list;
    {
        std::lock_guard lock(mutex_);
        list = newest_;
        newest_ = nullptr;
    }
    // Callbacks run outside the lock: a release may touch other bags.
    while (list != nullptr) {
        Entry* next = list->next;
        releaseEntry(list);
        list = next;
    }
}

void ObjectBag::releaseEntry(Entry* entry) noexcept {
    if (entry->release != nullptr) {
        entry->release(entry->item);
    } else {
        ExFreePool(entry->item);
    }
    ExFreePoolWithTag(entry, kBagEntryTag);
}

}  // namespace bayercam::host::ks
