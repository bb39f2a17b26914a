// How fast the simulated camera renders a frame, and how fast a whole frame travels through the
// USB bus stand-in as 22 reads of 64 KiB posted at once (the camera sending as fast as possible).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"

namespace {

using bayercam::host::UsbBus;
namespace sim = bayercam::sim;

constexpr ULONG kTag = 'B' | ('n' << 8) | ('c' << 16) | ('h' << 24);
constexpr std::size_t kChunk = 65536;

void renderFrame(benchmark::State& state) {
    sim::SimulatedCamera camera({.descriptors = sim::DescriptorVariant::Standard,
                                 .pacing = sim::FramePacing::AsFastAsPossible,
                                 .framesPerSecond = 30.0,
                                 .clockMode = 1,
                                 .exact = state.range(0) != 0,
                                 .scene = sim::makeMovingPattern()});
    std::uint64_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(camera.renderFrame(n++));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sim::kFrameBytes));
}
BENCHMARK(renderFrame)->ArgName("exact")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The client side of one frame: configuration once, then per frame the packet handshake and 22
// posted reads whose completions count down an event.
class FrameReader {
  public:
    FrameReader() : bus_(camera_) {
        pdo_ = bus_.physicalDeviceObject();
        configure();
        buffer_ =
            static_cast<std::uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, sim::kFrameBytes, kTag));
        frameMdl_ = IoAllocateMdl(buffer_, sim::kFrameBytes, FALSE, FALSE, nullptr);
        MmBuildMdlForNonPagedPool(frameMdl_);
        KeInitializeEvent(&done_, NotificationEvent, FALSE);
    }
    ~FrameReader() {
        IoFreeMdl(frameMdl_);
        ExFreePoolWithTag(buffer_, kTag);
        if (configUrb_ != nullptr) ExFreePool(configUrb_);
    }

    bool readFrame() {
        command(sim::CommandCode::RequestFrame);
        command(sim::CommandCode::RequestFrame);
        KeClearEvent(&done_);
        remaining_ = 22;
        PIRP irps[22];
        PMDL mdls[22];
        _URB_BULK_OR_INTERRUPT_TRANSFER urbs[22];
        for (std::size_t i = 0; i < 22; ++i) {
            std::size_t offset = i * kChunk;
            ULONG size = static_cast<ULONG>(std::min(kChunk, sim::kFrameBytes - offset));
            irps[i] = IoAllocateIrp(static_cast<CCHAR>(pdo_->StackSize + 1), FALSE);
            mdls[i] = IoAllocateMdl(buffer_, sim::kFrameBytes, FALSE, FALSE, nullptr);
            IoBuildPartialMdl(frameMdl_, mdls[i], buffer_ + offset, size);
            std::memset(&urbs[i], 0, sizeof(urbs[i]));
            urbs[i].Hdr.Length = sizeof(urbs[i]);
            urbs[i].Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
            urbs[i].PipeHandle = pipes_[2];
            urbs[i].TransferFlags = USBD_SHORT_TRANSFER_OK | USBD_TRANSFER_DIRECTION_IN;
            urbs[i].TransferBufferMDL = mdls[i];
            urbs[i].TransferBufferLength = size;
            PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irps[i]);
            next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
            next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
            next->Parameters.Others.Argument1 = &urbs[i];
            IoSetCompletionRoutine(irps[i], &FrameReader::completed, this, TRUE, TRUE, TRUE);
            IofCallDriver(pdo_, irps[i]);
        }
        command(sim::CommandCode::ReadsPosted);
        KeWaitForSingleObject(&done_, Executive, KernelMode, FALSE, nullptr);
        bool ok = true;
        for (std::size_t i = 0; i < 22; ++i) {
            ok &= irps[i]->IoStatus.Status == STATUS_SUCCESS;
            IoFreeIrp(irps[i]);
            IoFreeMdl(mdls[i]);
        }
        return ok;
    }

  private:
    static NTSTATUS completed(PDEVICE_OBJECT, PIRP, PVOID context) {
        auto* self = static_cast<FrameReader*>(context);
        if (InterlockedDecrement(&self->remaining_) == 0) KeSetEvent(&self->done_, 1, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    NTSTATUS submit(PURB urb) {
        KEVENT event;
        IO_STATUS_BLOCK iosb{};
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, pdo_, nullptr, 0,
                                                 nullptr, 0, TRUE, &event, &iosb);
        IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
        NTSTATUS status = IofCallDriver(pdo_, irp);
        if (status == STATUS_PENDING) {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
            status = iosb.Status;
        }
        return status;
    }

    void configure() {
        config_ = sim::makeConfigurationDescriptor(sim::DescriptorVariant::Standard);
        auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(config_.data());
        USBD_INTERFACE_LIST_ENTRY list[2] = {
            {USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1), nullptr},
            {nullptr, nullptr}};
        configUrb_ = USBD_CreateConfigurationRequestEx(config, list);
        for (ULONG p = 0; p < 3; ++p) list[0].Interface->Pipes[p].MaximumTransferSize = 0xFFFFFFFF;
        submit(configUrb_);
        for (ULONG p = 0; p < 3; ++p) pipes_[p] = list[0].Interface->Pipes[p].PipeHandle;
    }

    void command(sim::CommandCode code) {
        std::uint8_t packet[64] = {static_cast<std::uint8_t>(code)};
        _URB_BULK_OR_INTERRUPT_TRANSFER urb{};
        urb.Hdr.Length = sizeof(urb);
        urb.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
        urb.PipeHandle = pipes_[0];
        urb.TransferFlags = USBD_SHORT_TRANSFER_OK;
        urb.TransferBuffer = packet;
        urb.TransferBufferLength = sizeof(packet);
        submit(reinterpret_cast<PURB>(&urb));
    }

    sim::SimulatedCamera camera_{{.descriptors = sim::DescriptorVariant::Standard,
                                  .pacing = sim::FramePacing::AsFastAsPossible,
                                  .framesPerSecond = 30.0,
                                  .clockMode = 1,
                                  .exact = true,
                                  .scene = sim::makeColorBars()}};
    UsbBus bus_;
    PDEVICE_OBJECT pdo_ = nullptr;
    std::vector<std::uint8_t> config_;
    PURB configUrb_ = nullptr;
    USBD_PIPE_HANDLE pipes_[3] = {};
    std::uint8_t* buffer_ = nullptr;
    PMDL frameMdl_ = nullptr;
    KEVENT done_;
    volatile LONG remaining_ = 0;
};

void readFrameThroughBus(benchmark::State& state) {
    FrameReader reader;
    for (auto _ : state) {
        if (!reader.readFrame()) state.SkipWithError("a chunk failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sim::kFrameBytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(readFrameThroughBus)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
