// MDLs for nonpaged buffers: allocation, building, partial MDLs and system addresses. No pages
// are locked or mapped on the host; an MDL describes its virtual range only.
#include "host/kernel/mdl.h"

#include <mutex>
#include <string>
#include <unordered_set>

#include "host/kernel/failure_injection.h"
#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"
#include "host/kernel/verifier.h"

namespace bayercam::host::mdls {
namespace {

constexpr ULONG kMdlTag = injection::kMdlSite;
constexpr ULONG_PTR kPageMask = PAGE_SIZE - 1;

struct Registry {
    std::mutex lock;
    std::unordered_set<const MDL*> live;  // guarded by lock
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// The Size the platform gives an MDL: the header and one page frame number per page spanned.
CSHORT sizeFor(ULONG_PTR address, ULONG length) {
    const ULONG_PTR pages = ((address & kPageMask) + length + kPageMask) / PAGE_SIZE;
    return static_cast<CSHORT>(sizeof(MDL) + pages * sizeof(ULONG_PTR));
}

void describe(PMDL mdl, PVOID address, ULONG length) {
    const auto va = reinterpret_cast<ULONG_PTR>(address);
    mdl->StartVa = reinterpret_cast<PVOID>(va & ~kPageMask);
    mdl->ByteOffset = static_cast<ULONG>(va & kPageMask);
    mdl->ByteCount = length;
}

bool check(const MDL* mdl, const char* service) {
    if (isMdl(mdl)) return true;
    verifier::report(std::string(service) + " on an object that is not a live MDL");
    return false;
}

// Chains of secondary buffers are not kept: no request here carries more than one MDL.
void attach(PMDL mdl, PIRP irp, BOOLEAN secondary) {
    if (secondary) verifier::report("IoAllocateMdl: secondary buffers are not supported");
    irp->MdlAddress = mdl;
}

}  // namespace

bool isMdl(const MDL* mdl) noexcept {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    return r.live.count(mdl) != 0;
}

}  // namespace bayercam::host::mdls

using namespace bayercam::host;

extern "C" PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN,
                              PIRP Irp) {
    auto* mdl = static_cast<PMDL>(pool::allocateSystem(sizeof(MDL), mdls::kMdlTag));
    if (!mdl) return nullptr;
    *mdl = MDL{};
    mdl->Size = mdls::sizeFor(reinterpret_cast<ULONG_PTR>(VirtualAddress), Length);
    mdls::describe(mdl, VirtualAddress, Length);
    try {
        auto& r = mdls::registry();
        std::lock_guard guard(r.lock);
        r.live.insert(mdl);
    } catch (...) {
        pool::freeSystem(mdl, mdls::kMdlTag);
        return nullptr;
    }
    live::created(live::Kind::Mdl);
    if (Irp) mdls::attach(mdl, Irp, SecondaryBuffer);
    return mdl;
}

extern "C" VOID IoFreeMdl(PMDL Mdl) {
    {
        auto& r = mdls::registry();
        std::lock_guard guard(r.lock);
        if (!r.live.erase(Mdl)) {
            verifier::report("IoFreeMdl of an object that is not a live MDL");
            return;
        }
    }
    pool::freeSystem(Mdl, mdls::kMdlTag);
    live::destroyed(live::Kind::Mdl);
}

extern "C" VOID MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList) {
    if (!mdls::check(MemoryDescriptorList, "MmBuildMdlForNonPagedPool")) return;
    MemoryDescriptorList->MappedSystemVa = MmGetMdlVirtualAddress(MemoryDescriptorList);
    MemoryDescriptorList->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
}

extern "C" VOID IoBuildPartialMdl(PMDL SourceMdl, PMDL TargetMdl, PVOID VirtualAddress,
                                  ULONG Length) {
    if (!mdls::check(SourceMdl, "IoBuildPartialMdl") ||
        !mdls::check(TargetMdl, "IoBuildPartialMdl")) {
        return;
    }
    const auto sourceStart = reinterpret_cast<ULONG_PTR>(MmGetMdlVirtualAddress(SourceMdl));
    const ULONG_PTR sourceEnd = sourceStart + SourceMdl->ByteCount;
    const auto start = reinterpret_cast<ULONG_PTR>(VirtualAddress);
    if (Length == 0 && start >= sourceStart && start <= sourceEnd) {
        Length = static_cast<ULONG>(sourceEnd - start);
    }
    if (start < sourceStart || start + Length > sourceEnd) {
        verifier::report("IoBuildPartialMdl: the range of " + std::to_string(Length) +
                         " bytes at offset " + std::to_string(LONG_PTR(start - sourceStart)) +
                         " lies outside the source MDL's " + std::to_string(SourceMdl->ByteCount) +
                         " bytes");
        return;
    }
    if (TargetMdl->Size < mdls::sizeFor(start, Length)) {
        verifier::report("IoBuildPartialMdl: the target MDL is too small for the range");
        return;
    }
    mdls::describe(TargetMdl, VirtualAddress, Length);
    TargetMdl->MdlFlags = MDL_PARTIAL;
    TargetMdl->MappedSystemVa = nullptr;
    if (SourceMdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) {
        TargetMdl->MappedSystemVa =
            static_cast<char*>(SourceMdl->MappedSystemVa) + (start - sourceStart);
        TargetMdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
        TargetMdl->MdlFlags |= SourceMdl->MdlFlags & MDL_SOURCE_IS_NONPAGED_POOL;
    }
}

extern "C" ULONG MmGetMdlByteCount(PMDL Mdl) { return Mdl->ByteCount; }

extern "C" PVOID MmGetMdlVirtualAddress(PMDL Mdl) {
    return static_cast<char*>(Mdl->StartVa) + Mdl->ByteOffset;
}

extern "C" PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, ULONG) {
    if (!mdls::check(Mdl, "MmGetSystemAddressForMdlSafe")) return nullptr;
    if (Mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) {
        return Mdl->MappedSystemVa;
    }
    verifier::report(
        "MmGetSystemAddressForMdlSafe of an MDL that is neither built for "
        "nonpaged pool nor mapped (locking pages is not implemented)");
    return nullptr;
}
