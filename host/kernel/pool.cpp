#include "host/kernel/pool.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "host/kernel/failure_injection.h"
#include "host/kernel/guarded_block.h"
#include "host/kernel/verifier.h"

namespace bayercam::host::pool {
namespace {

// Freed blocks stay poisoned and unreused for a while; the oldest leave first.
constexpr std::size_t kQuarantineBlocks = 256;
constexpr std::size_t kQuarantineBytes = 32u << 20;

struct Block {
    ULONG tag = 0;
    SIZE_T bytes = 0;
    bool system = false;   // an I/O manager object, not a driver's pool block
    bool guarded = false;  // placed by allocateGuarded
};

struct FreedBlock {
    void* address = nullptr;
    Block block;
};

struct State {
    std::mutex lock;
    std::unordered_map<void*, Block> live;  // guarded by lock
    Snapshot perTag;                        // guarded by lock
    std::deque<FreedBlock> quarantine;      // guarded by lock, oldest first
    std::size_t quarantineBytes = 0;        // guarded by lock
    std::set<ULONG> guardedTags;            // guarded by lock
};

State& state() {
    static State instance;
    return instance;
}

// Offset of the first byte that is no longer kFreedFill, or `size` when there is none. Compared a
// page at a time with memcmp: a frame's MDLs are kilobytes each, freed many times a frame.
SIZE_T firstWrittenByte(const unsigned char* bytes, SIZE_T size) {
    static const auto fill = [] {
        std::array<unsigned char, 4096> page;
        page.fill(kFreedFill);
        return page;
    }();
    for (SIZE_T start = 0; start < size; start += fill.size()) {
        const SIZE_T length = std::min<SIZE_T>(fill.size(), size - start);
        if (std::memcmp(bytes + start, fill.data(), length) != 0) {
            return SIZE_T(std::mismatch(bytes + start, bytes + start + length, fill.data()).first -
                          bytes);
        }
    }
    return size;
}

void release(const FreedBlock& freed) noexcept {
    const Block& b = freed.block;
    if (b.guarded) {
        releaseGuarded(freed.address, b.bytes);
        return;
    }
    const SIZE_T written =
        firstWrittenByte(static_cast<const unsigned char*>(freed.address), b.bytes);
    if (written < b.bytes) {
        verifier::report("pool block with tag '" + tagName(b.tag) + "' (" +
                         std::to_string(b.bytes) + " bytes) was written at offset " +
                         std::to_string(written) + " after it was freed");
    }
    std::free(freed.address);
}

// Moves a freed block into quarantine; returns the blocks pushed out, to release unlocked.
std::vector<FreedBlock> quarantine(State& s, FreedBlock freed) {
    s.quarantineBytes += freed.block.bytes;
    s.quarantine.push_back(freed);
    std::vector<FreedBlock> evicted;
    while (s.quarantine.size() > kQuarantineBlocks ||
           (s.quarantineBytes > kQuarantineBytes && s.quarantine.size() > 1)) {
        s.quarantineBytes -= s.quarantine.front().block.bytes;
        evicted.push_back(s.quarantine.front());
        s.quarantine.pop_front();
    }
    return evicted;
}

bool inQuarantine(const State& s, const void* address) {
    for (const FreedBlock& f : s.quarantine) {
        if (f.address == address) return true;
    }
    return false;
}

void* allocate(SIZE_T bytes, ULONG tag, bool system) noexcept {
    if (injection::shouldFail(tag)) return nullptr;
    State& s = state();
    bool guarded;
    {
        std::lock_guard guard(s.lock);
        guarded = s.guardedTags.count(tag) != 0;
    }
    void* memory = guarded ? allocateGuarded(bytes) : std::malloc(bytes);
    if (!memory) return nullptr;
    std::memset(memory, kFreshFill, bytes);
    std::lock_guard guard(s.lock);
    try {
        s.live.emplace(memory, Block{tag, bytes, system, guarded});
        TagUsage& use = s.perTag[tag];
        ++use.blocks;
        use.bytes += bytes;
    } catch (...) {
        s.live.erase(memory);
        guarded ? releaseGuarded(memory, bytes) : std::free(memory);
        return nullptr;
    }
    return memory;
}

// Validates a free under the lock; returns the block when it may be released.
std::optional<Block> takeLive(State& s, void* address, std::optional<ULONG> tag, bool system) {
    auto it = s.live.find(address);
    if (it == s.live.end()) {
        verifier::report(inQuarantine(s, address) ? "double free of a pool block"
                                                  : "free of an address that is not a pool block");
        return std::nullopt;
    }
    const Block block = it->second;
    if (block.system && !system) {
        verifier::report("ExFreePool on an I/O manager object (tag '" + tagName(block.tag) +
                         "'); free it with its own service");
        return std::nullopt;
    }
    if (tag && *tag != block.tag) {
        verifier::report("pool block freed with tag '" + tagName(*tag) +
                         "' but allocated with tag '" + tagName(block.tag) + "'");
    }
    s.live.erase(it);
    TagUsage& use = s.perTag[block.tag];
    --use.blocks;
    use.bytes -= block.bytes;
    if (use.blocks == 0) s.perTag.erase(block.tag);
    return block;
}

void freeBlock(void* address, std::optional<ULONG> tag, bool system) noexcept {
    State& s = state();
    std::vector<FreedBlock> evicted;
    {
        std::lock_guard guard(s.lock);
        std::optional<Block> block = takeLive(s, address, tag, system);
        if (!block) return;
        // Poisoned under the lock so no reader of the quarantine sees it half filled.
        std::memset(address, kFreedFill, block->bytes);
        if (block->guarded) revokeGuarded(address, block->bytes);
        try {
            evicted = quarantine(s, FreedBlock{address, *block});
        } catch (...) {
            evicted.clear();
            release(FreedBlock{address, *block});
            return;
        }
    }
    for (const FreedBlock& f : evicted) release(f);
}

}  // namespace

std::string tagName(ULONG tag) {
    std::string name(4, '.');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        if (c >= 0x20 && c < 0x7F) name[i] = c;
    }
    return name;
}

Snapshot snapshot() {
    State& s = state();
    std::lock_guard guard(s.lock);
    return s.perTag;
}

TagUsage usage(ULONG tag) {
    State& s = state();
    std::lock_guard guard(s.lock);
    auto it = s.perTag.find(tag);
    return it == s.perTag.end() ? TagUsage{} : it->second;
}

std::string leakReport(const Snapshot& before) {
    const Snapshot now = snapshot();
    std::set<ULONG> tags;
    for (const auto& entry : now) tags.insert(entry.first);
    for (const auto& entry : before) tags.insert(entry.first);
    std::string report;
    for (ULONG tag : tags) {
        const auto a = before.find(tag);
        const auto b = now.find(tag);
        const TagUsage was = a == before.end() ? TagUsage{} : a->second;
        const TagUsage is = b == now.end() ? TagUsage{} : b->second;
        if (was == is) continue;
        report += "tag '" + tagName(tag) + "': " + std::to_string(is.blocks) + " blocks, " +
                  std::to_string(is.bytes) + " bytes live (was " + std::to_string(was.blocks) +
                  " blocks, " + std::to_string(was.bytes) + " bytes)\n";
    }
    return report;
}

void setGuardedTags(std::vector<ULONG> tags) {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.guardedTags = std::set<ULONG>(tags.begin(), tags.end());
}

void flushQuarantine() noexcept {
    State& s = state();
    std::deque<FreedBlock> freed;
    {
        std::lock_guard guard(s.lock);
        freed.swap(s.quarantine);
        s.quarantineBytes = 0;
    }
    for (const FreedBlock& f : freed) release(f);
}

void* allocateSystem(SIZE_T bytes, ULONG tag) noexcept { return allocate(bytes, tag, true); }

void freeSystem(void* block, ULONG tag) noexcept { freeBlock(block, tag, true); }

}  // namespace bayercam::host::pool

using namespace bayercam::host;

extern "C" PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    if (PoolType == PagedPool && KeGetCurrentIrql() >= DISPATCH_LEVEL) {
        verifier::report("paged pool allocated at DISPATCH_LEVEL (tag '" + pool::tagName(Tag) +
                         "')");
    }
    if (NumberOfBytes == 0) {
        verifier::report("pool allocation of zero bytes (tag '" + pool::tagName(Tag) + "')");
        return nullptr;
    }
    return pool::allocate(NumberOfBytes, Tag, false);
}

extern "C" VOID ExFreePoolWithTag(PVOID P, ULONG Tag) { pool::freeBlock(P, Tag, false); }

extern "C" VOID ExFreePool(PVOID P) { pool::freeBlock(P, std::nullopt, false); }
