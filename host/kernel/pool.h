// The tagged pool behind ExAllocatePoolWithTag: accounting per tag, a leak report, fresh and
// freed memory filled with patterns, a quarantine that catches writes after free and double
// frees, and guarded tags whose blocks end against an inaccessible page.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/kernel.h"

namespace bayercam::host::pool {

// Fresh blocks are filled with kFreshFill so code that relies on zeroed pool shows up;
// freed blocks are filled with kFreedFill and kept a while in quarantine.
constexpr unsigned char kFreshFill = 0xCD;
constexpr unsigned char kFreedFill = 0xDD;

// The ULONG whose bytes in memory are the four characters, e.g. makeTag("Qvbz").
constexpr ULONG makeTag(const char (&text)[5]) noexcept {
    return static_cast<ULONG>(static_cast<unsigned char>(text[0])) |
           static_cast<ULONG>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<ULONG>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<ULONG>(static_cast<unsigned char>(text[3])) << 24;
}

// The four characters of a tag in memory order, non-printable ones as '.'.
std::string tagName(ULONG tag);

struct TagUsage {
    std::size_t blocks = 0;
    std::size_t bytes = 0;
    bool operator==(const TagUsage&) const = default;
};

// Live blocks per tag (tags with no live block are absent).
using Snapshot = std::map<ULONG, TagUsage>;
Snapshot snapshot();

TagUsage usage(ULONG tag);

// One line per tag whose live blocks differ from `before`, e.g.
// "tag 'Qvbz': 3 blocks, 192 bytes live (was 0 blocks, 0 bytes)"; empty when none differ.
std::string leakReport(const Snapshot& before = {});

// Blocks of these tags are placed so that their end touches an inaccessible page: an overrun
// faults at once. Blocks keep 16-byte alignment, so an overrun of less than the padding to the
// next multiple of 16 bytes goes unseen.
void setGuardedTags(std::vector<ULONG> tags);

// Releases quarantined blocks, reporting any whose freed-fill was overwritten.
void flushQuarantine() noexcept;

// Allocation for the I/O manager's own objects (requests, MDLs, device objects): counted,
// injected and quarantined like pool blocks, but a driver freeing one with ExFreePool is a
// verifier failure. Returns null when the allocation fails.
void* allocateSystem(SIZE_T bytes, ULONG tag) noexcept;
void freeSystem(void* block, ULONG tag) noexcept;

}  // namespace bayercam::host::pool
