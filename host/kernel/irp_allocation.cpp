// IoAllocateIrp and IoFreeIrp.
#include <cstring>
#include <new>
#include <string>

#include "host/kernel/failure_injection.h"
#include "host/kernel/irp.h"
#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"
#include "host/kernel/verifier.h"

namespace bayercam::host::irps {
namespace {

constexpr ULONG kIrpTag = injection::kIrpSite;
constexpr ULONG kMagic = pool::makeTag("IRP!");
constexpr CSHORT kIoTypeIrp = 6;

SIZE_T trailerOffset(CCHAR stackCount) noexcept {
    const SIZE_T end = sizeof(IRP) + SIZE_T(stackCount) * sizeof(IO_STACK_LOCATION);
    return (end + alignof(IrpTrailer) - 1) & ~(alignof(IrpTrailer) - 1);
}

}  // namespace

IrpTrailer& trailerOf(PIRP irp) noexcept {
    return *reinterpret_cast<IrpTrailer*>(reinterpret_cast<char*>(irp) +
                                          trailerOffset(irp->StackCount));
}

bool checkIrp(PIRP irp, const char* service) noexcept {
    if (irp && irp->Type == kIoTypeIrp && irp->StackCount > 0 && trailerOf(irp).magic == kMagic) {
        return true;
    }
    verifier::report(std::string(service) +
                     " on an object that is not a live request (freed, or completed and freed "
                     "by the I/O manager?)");
    return false;
}

void release(PIRP irp) noexcept {
    IrpTrailer& trailer = trailerOf(irp);
    trailer.magic = 0;
    trailer.~IrpTrailer();
    pool::freeSystem(irp, kIrpTag);
    live::destroyed(live::Kind::Irp);
}

}  // namespace bayercam::host::irps

using namespace bayercam::host;

extern "C" PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
    if (StackSize < 1) {
        verifier::report("IoAllocateIrp with " + std::to_string(StackSize) + " stack locations");
        return nullptr;
    }
    const SIZE_T bytes = irps::trailerOffset(StackSize) + sizeof(irps::IrpTrailer);
    auto* irp = static_cast<PIRP>(pool::allocateSystem(bytes, irps::kIrpTag));
    if (!irp) return nullptr;
    std::memset(irp, 0, bytes);
    irp->Type = irps::kIoTypeIrp;
    irp->Size = static_cast<USHORT>(bytes);
    irp->StackCount = StackSize;
    irp->CurrentLocation = static_cast<CHAR>(StackSize + 1);
    irp->ThreadListEntry.Flink = irp->ThreadListEntry.Blink = &irp->ThreadListEntry;
    irp->Tail.Overlay.ListEntry.Flink = irp->Tail.Overlay.ListEntry.Blink =
        &irp->Tail.Overlay.ListEntry;
    // The current location starts one past the last: the first IofCallDriver steps onto it.
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + StackSize;
    new (&irps::trailerOf(irp)) irps::IrpTrailer{};
    irps::trailerOf(irp).magic = irps::kMagic;
    live::created(live::Kind::Irp);
    return irp;
}

extern "C" VOID IoFreeIrp(PIRP Irp) {
    if (!irps::checkIrp(Irp, "IoFreeIrp")) return;
    irps::IrpTrailer& trailer = irps::trailerOf(Irp);
    const irps::Phase phase = trailer.phase.load();
    if (phase != irps::Phase::Owned) {
        verifier::report(phase == irps::Phase::Dispatched
                             ? "IoFreeIrp of a request still in a driver's hands (passed down "
                               "and not completed)"
                             : "IoFreeIrp of a request that is being completed");
        return;
    }
    if (trailer.threaded) {
        verifier::report(
            "IoFreeIrp of a request from IoBuildDeviceIoControlRequest: complete "
            "it with IoCompleteRequest instead");
    }
    irps::release(Irp);
}
