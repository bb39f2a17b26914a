// What the kernel stand-in's checking costs on the paths a frame read takes: pool blocks of
// request size and of frame size (filled, poisoned and quarantined), a request with an MDL
// through a one-device stack, and an event handed between two threads.
#include <benchmark/benchmark.h>

#include <thread>

#include "host/kernel/pool.h"
#include "platform/kernel.h"

namespace {

constexpr ULONG kTag = bayercam::host::pool::makeTag("Qvbz");

void poolBlock(benchmark::State& state) {
    const auto bytes = static_cast<SIZE_T>(state.range(0));
    for (auto _ : state) {
        void* block = ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kTag);
        benchmark::DoNotOptimize(block);
        ExFreePoolWithTag(block, kTag);
    }
    bayercam::host::pool::flushQuarantine();
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(poolBlock)->Arg(96)->Arg(64 * 1024)->Arg(1360 * 1024);

NTSTATUS completeAtOnce(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS keep(PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; }

void requestWithMdl(benchmark::State& state) {
    DRIVER_OBJECT driver{};
    for (auto& entry : driver.MajorFunction) entry = completeAtOnce;
    PDEVICE_OBJECT device = nullptr;
    IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    static unsigned char buffer[64 * 1024];
    for (auto _ : state) {
        PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
        PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, irp);
        MmBuildMdlForNonPagedPool(mdl);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, keep, nullptr, TRUE, TRUE, TRUE);
        IoCallDriver(device, irp);
        IoFreeMdl(mdl);
        IoFreeIrp(irp);
    }
    IoDeleteDevice(device);
    bayercam::host::pool::flushQuarantine();
}
BENCHMARK(requestWithMdl);

void eventPingPong(benchmark::State& state) {
    KEVENT ping, pong;
    KeInitializeEvent(&ping, SynchronizationEvent, FALSE);
    KeInitializeEvent(&pong, SynchronizationEvent, FALSE);
    volatile LONG stop = 0;
    std::thread partner([&] {
        for (;;) {
            KeWaitForSingleObject(&ping, Executive, KernelMode, FALSE, nullptr);
            if (InterlockedCompareExchange(&stop, 0, 0)) return;
            KeSetEvent(&pong, IO_NO_INCREMENT, FALSE);
        }
    });
    for (auto _ : state) {
        KeSetEvent(&ping, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(&pong, Executive, KernelMode, FALSE, nullptr);
    }
    InterlockedExchange(&stop, 1);
    KeSetEvent(&ping, IO_NO_INCREMENT, FALSE);
    partner.join();
}
BENCHMARK(eventPingPong)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
