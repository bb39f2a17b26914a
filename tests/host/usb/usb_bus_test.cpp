// The USB bus stand-in with the simulated camera behind it, driven by the tests' own client.
#include "host/usb/usb_bus.h"

#include <gtest/gtest.h>

#include "sim/descriptors.h"
#include "tests/host/usb/usb_bus_fixture.h"

namespace bayercam::host::testing {
namespace {

using sim::CommandCode;
using sim::DescriptorVariant;
using sim::kFrameBytes;

// ---------------------------------------------------------------- descriptors

TEST_F(UsbBusTest, DeviceDescriptorIsCopiedWhole) {
    USB_DEVICE_DESCRIPTOR device{};
    ULONG length = sizeof(device);
    ASSERT_EQ(client->getDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, &device, length), STATUS_SUCCESS);
    EXPECT_EQ(length, 18u);
    EXPECT_EQ(device.idVendor, sim::kVendorId);
    EXPECT_EQ(device.idProduct, sim::kProductId);
    EXPECT_NE(bus->instancePath().find(L"USB\\VID_1D50&PID_6A31\\"), std::wstring::npos);
}

// A camera plugged in again where it was gets its old instance path, and so its stored
// settings; two cameras at once get two.
TEST_F(UsbBusTest, ANewBusTakesTheLowestFreePort) {
    sim::SimulatedCamera second;
    std::wstring secondPath;
    {
        const UsbBus other(second);
        secondPath = other.instancePath();
        EXPECT_NE(secondPath, bus->instancePath());
    }
    const UsbBus again(second);
    EXPECT_EQ(again.instancePath(), secondPath);
}

TEST_F(UsbBusTest, DescriptorRequestCopiesWhatFitsAndReportsTheBytesMoved) {
    std::uint8_t buffer[200];
    ULONG length = 9;
    ASSERT_EQ(client->getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, buffer, length),
              STATUS_SUCCESS);
    EXPECT_EQ(length, 9u);
    unsigned total = buffer[2] | (buffer[3] << 8);
    EXPECT_EQ(total, 39u);
    length = sizeof(buffer);
    ASSERT_EQ(client->getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, buffer, length),
              STATUS_SUCCESS);
    EXPECT_EQ(length, total) << "only the descriptor's bytes move into a larger buffer";
}

TEST_F(UsbBusTest, DescriptorTheDeviceLacksStallsTheRequest) {
    std::uint8_t buffer[64];
    ULONG length = sizeof(buffer);
    USBD_STATUS usbd = 0;
    EXPECT_EQ(client->getDescriptor(USB_STRING_DESCRIPTOR_TYPE, buffer, length, &usbd),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(usbd, USBD_STATUS_STALL_PID);
    EXPECT_EQ(length, 0u);
}

// ---------------------------------------------------------------- USBD helpers

TEST_F(UsbBusTest, ParseFindsInterfacesByNumberAndCriteria) {
    auto bytes = sim::makeConfigurationDescriptor(DescriptorVariant::InterfacesZeroAndTwo);
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
    auto* zero = USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1);
    auto* two = USBD_ParseConfigurationDescriptorEx(config, config, 2, 0, -1, -1, -1);
    ASSERT_NE(zero, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->bInterfaceNumber, 2);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 1, 0, -1, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 0, 1, -1, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, -1, -1, 0x0E, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, reinterpret_cast<PUCHAR>(zero) + 9, -1,
                                                  -1, 0xFF, -1, -1),
              two)
        << "the search starts at the given position";
}

TEST_F(UsbBusTest, CreateConfigurationRequestIsSizedForEachInterfacesPipes) {
    auto bytes = sim::makeConfigurationDescriptor(DescriptorVariant::InterfacesZeroAndTwo);
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
    USBD_INTERFACE_LIST_ENTRY list[3] = {
        {USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1), nullptr},
        {USBD_ParseConfigurationDescriptorEx(config, config, 2, 0, -1, -1, -1), nullptr},
        {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(config, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(urb->UrbHeader.Length, 40u + (24u + 3 * 24u) + 24u);
    EXPECT_EQ(urb->UrbSelectConfiguration.ConfigurationDescriptor, config);
    ASSERT_EQ(list[0].Interface, &urb->UrbSelectConfiguration.Interface);
    EXPECT_EQ(list[0].Interface->Length, 96u);
    EXPECT_EQ(list[0].Interface->NumberOfPipes, 3u);
    EXPECT_EQ(list[0].Interface->Pipes[2].MaximumTransferSize, ULONG{PAGE_SIZE});
    EXPECT_EQ(reinterpret_cast<PUCHAR>(list[1].Interface),
              reinterpret_cast<PUCHAR>(list[0].Interface) + 96);
    EXPECT_EQ(list[1].Interface->InterfaceNumber, 2);
    EXPECT_EQ(list[1].Interface->NumberOfPipes, 0u);
    ExFreePool(urb);
}

TEST_F(UsbBusTest, SelectListingFewerInterfacesThanTheConfigurationHasIsRefused) {
    auto bytes = sim::makeConfigurationDescriptor(DescriptorVariant::InterfacesZeroAndTwo);
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
    USBD_INTERFACE_LIST_ENTRY list[2] = {
        {USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1), nullptr},
        {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(config, list);
    ASSERT_NE(urb, nullptr);
    // The bus looks for a second interface block and must find the URB's end, not read on.
    EXPECT_EQ(client->submit(urb), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(urb->UrbHeader.Status, USBD_STATUS_INVALID_PARAMETER);
    ExFreePool(urb);
}

// ---------------------------------------------------------------- configuration round trip

struct InterfaceShape {
    UCHAR number;
    ULONG pipes;
};
struct VariantCase {
    DescriptorVariant variant;
    std::vector<InterfaceShape> interfaces;
    USBD_PIPE_TYPE framePipeType;
};

class UsbBusConfigurationTest : public UsbBusTest,
                                public ::testing::WithParamInterface<VariantCase> {
  protected:
    sim::SimulatedCameraOptions options() const override {
        auto o = UsbBusTest::options();
        o.descriptors = GetParam().variant;
        return o;
    }
};

TEST_P(UsbBusConfigurationTest, SelectFillsThePipeTableAndDeconfigureEndsIt) {
    const VariantCase& expected = GetParam();
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 1);
    ASSERT_EQ(client->interfaceCount(), expected.interfaces.size());
    static const UCHAR kEndpoints[] = {sim::kCommandEndpoint, sim::kReplyEndpoint,
                                       sim::kFrameEndpoint};
    static const USHORT kPacketSizes[] = {64, 64, 512};
    for (std::size_t i = 0; i < expected.interfaces.size(); ++i) {
        const USBD_INTERFACE_INFORMATION* info = client->interface(i);
        EXPECT_EQ(info->InterfaceNumber, expected.interfaces[i].number) << "interface " << i;
        EXPECT_EQ(info->NumberOfPipes, expected.interfaces[i].pipes) << "interface " << i;
        EXPECT_EQ(info->Length, GET_USBD_INTERFACE_SIZE(info->NumberOfPipes));
        EXPECT_EQ(info->Class, 0xFF);
        EXPECT_NE(info->InterfaceHandle, nullptr);
        for (ULONG p = 0; p < info->NumberOfPipes; ++p) {
            const USBD_PIPE_INFORMATION& pipe = info->Pipes[p];
            EXPECT_EQ(pipe.EndpointAddress, kEndpoints[p]) << "pipe " << p;
            EXPECT_EQ(pipe.MaximumPacketSize, kPacketSizes[p]) << "pipe " << p;
            EXPECT_EQ(pipe.PipeType, p == 2 ? expected.framePipeType : UsbdPipeTypeBulk);
            EXPECT_EQ(pipe.MaximumTransferSize, 0xFFFFFFFFu) << "the caller's size is kept";
            EXPECT_NE(pipe.PipeHandle, nullptr);
            for (ULONG q = 0; q < p; ++q) EXPECT_NE(pipe.PipeHandle, info->Pipes[q].PipeHandle);
        }
    }
    ASSERT_EQ(client->deconfigure(), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 0);
    if (client->interface(0)->NumberOfPipes > 0) {
        std::uint8_t packet[64] = {};
        ULONG length = sizeof(packet);
        USBD_STATUS usbd = 0;
        EXPECT_EQ(client->transfer(client->pipe(0), packet, length, kOutFlags, &usbd),
                  STATUS_INVALID_PARAMETER);
        EXPECT_EQ(usbd, USBD_STATUS_INVALID_PIPE_HANDLE) << "pipes go with the configuration";
    }
}

std::string variantName(const ::testing::TestParamInfo<VariantCase>& info) {
    static const char* const kNames[] = {"Standard", "InterfacesZeroAndTwo", "WithoutPipes",
                                         "TwoPipes", "InterruptFrame",       "ClassSpecific"};
    return kNames[static_cast<int>(info.param.variant)];
}

INSTANTIATE_TEST_SUITE_P(
    Variants, UsbBusConfigurationTest,
    ::testing::Values(
        VariantCase{DescriptorVariant::Standard, {{0, 3}}, UsbdPipeTypeBulk},
        VariantCase{DescriptorVariant::InterfacesZeroAndTwo, {{0, 3}, {2, 0}}, UsbdPipeTypeBulk},
        VariantCase{DescriptorVariant::InterfaceWithoutPipes, {{0, 0}}, UsbdPipeTypeBulk},
        VariantCase{DescriptorVariant::TwoPipes, {{0, 2}}, UsbdPipeTypeBulk},
        VariantCase{DescriptorVariant::InterruptFramePipe, {{0, 3}}, UsbdPipeTypeInterrupt},
        VariantCase{DescriptorVariant::ClassSpecificDescriptors, {{0, 3}}, UsbdPipeTypeBulk}),
    variantName);

// ---------------------------------------------------------------- command and reply packets

TEST_F(UsbBusTest, QueryIsAnsweredWithTwoReplyPackets) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    camera->setClockMode(2);
    ASSERT_EQ(sendCommand(CommandCode::ClockQuery, {0x0F}), STATUS_SUCCESS);
    std::uint8_t reply[64];
    ULONG length = sizeof(reply);
    ASSERT_EQ(client->transfer(client->pipe(1), reply, length, kInFlags), STATUS_SUCCESS);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(reply[0], 0x26);
    length = sizeof(reply);
    ASSERT_EQ(client->transfer(client->pipe(1), reply, length, kInFlags), STATUS_SUCCESS);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(reply[0], 2);
}

TEST_F(UsbBusTest, RecordedPacketLogHoldsEveryCommandInOrder) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    auto before = UsbClock::now();
    sendCommand(CommandCode::Prepare);
    sendCommand(CommandCode::WriteRegister, {0x10, 0x06, 0x14, 0x00, 0x00});
    sendCommand(CommandCode::Control, {11, 1});
    sendCommand(CommandCode::SensorStart, {1});
    auto log = camera->packetLog().snapshot();
    ASSERT_EQ(log.size(), 4u);
    const std::vector<std::uint8_t> heads[] = {
        {0x06, 0, 0}, {0x04, 0x10, 0x06, 0x14, 0, 0}, {0x25, 11, 1}, {0x0A, 1, 0}};
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].endpoint, sim::kCommandEndpoint);
        ASSERT_EQ(log[i].bytes.size(), 64u);
        EXPECT_EQ(
            std::vector<std::uint8_t>(log[i].bytes.begin(), log[i].bytes.begin() + heads[i].size()),
            heads[i])
            << "packet " << i;
        EXPECT_GE(log[i].time, i == 0 ? before : log[i - 1].time) << "packet " << i;
    }
    EXPECT_EQ(camera->registerEntry(6).value, 5u);
    EXPECT_TRUE(camera->externalTriggerMode());
}

TEST_F(UsbBusTest, ShortReplyIsAcceptedOnlyWithShortTransferOk) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    std::uint8_t reply[64];
    sendCommand(CommandCode::ClockQuery, {0x0F});
    camera->faults().shortReplyBytes = 10;
    ULONG length = sizeof(reply);
    USBD_STATUS usbd = 0;
    EXPECT_EQ(client->transfer(client->pipe(1), reply, length, kInFlags, &usbd), STATUS_SUCCESS);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(usbd, USBD_STATUS_SUCCESS);
    camera->faults().shortReplyBytes = 20;
    length = sizeof(reply);
    EXPECT_EQ(client->transfer(client->pipe(1), reply, length, USBD_TRANSFER_DIRECTION_IN, &usbd),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(length, 20u) << "the bytes moved are still reported";
    EXPECT_EQ(usbd, USBD_STATUS_ERROR_SHORT_TRANSFER);
}

TEST_F(UsbBusTest, FailedReplyReportsAUsbError) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    sendCommand(CommandCode::ReadByte, {0x51, 2, 1, 0, 0});
    camera->faults().failReply = true;
    std::uint8_t reply[64];
    ULONG length = sizeof(reply);
    USBD_STATUS usbd = 0;
    EXPECT_EQ(client->transfer(client->pipe(1), reply, length, kInFlags, &usbd),
              STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(USBD_ERROR(usbd)) << std::hex << usbd;
    EXPECT_EQ(length, 0u);
}

// ---------------------------------------------------------------- frame reads

TEST_F(UsbBusTest, FullFrameArrivesIn22ReadsWithTheRightBytesAndCounts) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(kFrameBytes);
    ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, kFrameBytes);
    ASSERT_EQ(read.chunks().size(), 22u);
    EXPECT_EQ(postFrameReads(read), 22u);
    ASSERT_TRUE(read.waitAll(10000));
    for (std::size_t i = 0; i < 22; ++i) {
        auto& chunk = *read.chunks()[i];
        EXPECT_EQ(chunk.callStatus, STATUS_PENDING) << "chunk " << i;
        EXPECT_FALSE(chunk.completedInsideCall) << "chunk " << i;
        EXPECT_EQ(chunk.completions.load(), 1) << "chunk " << i;
        EXPECT_EQ(read.status(i), STATUS_SUCCESS) << "chunk " << i;
        EXPECT_EQ(read.usbdStatus(i), USBD_STATUS_SUCCESS) << "chunk " << i;
        EXPECT_EQ(read.moved(i), i < 21 ? 65536u : 16384u) << "chunk " << i;
    }
    EXPECT_TRUE(frame.copy() == camera->renderFrame(0)) << "frame bytes differ";
    EXPECT_EQ(sim::decodeFrameNumber({frame.bytes, frame.size}, sim::kSensorWidth), 0u);
    auto counters = camera->counters();
    EXPECT_EQ(counters.delivered, 1u);
    EXPECT_EQ(counters.packets, 21u * 128 + 32);
    EXPECT_EQ(bus->pendingTransfers(), 0u);
}

TEST_F(UsbBusTest, ShortAndFailedChunksAreReportedPerChunk) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(kFrameBytes, 0xEE);
    ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, kFrameBytes);
    camera->faults().shortChunkBytes = 1000;
    postFrameReads(read, 1);
    ASSERT_TRUE(read.waitAll(10000));
    camera->faults().failChunk = true;
    read.post(22);
    ASSERT_TRUE(read.waitAll(10000));
    EXPECT_EQ(read.status(0), STATUS_SUCCESS);
    EXPECT_EQ(read.moved(0), 1000u) << "short chunk";
    EXPECT_EQ(read.status(1), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(read.usbdStatus(1), USBD_STATUS_CRC);
    EXPECT_EQ(read.moved(1), 0u) << "failed chunk";
    auto expected = camera->renderFrame(0);
    EXPECT_EQ(frame.bytes[1000], 0xEE) << "the rest of the short chunk is untouched";
    EXPECT_TRUE(std::equal(frame.bytes + 2 * 65536, frame.bytes + kFrameBytes,
                           expected.begin() + 2 * 65536))
        << "the frame stays aligned after the faults";
    EXPECT_EQ(camera->counters().delivered, 1u);
}

TEST_F(UsbBusTest, ReadLargerThanThePipesMaximumTransferSizeIsRefused) {
    ASSERT_EQ(client->configure(USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE), STATUS_SUCCESS);
    PoolBuffer buffer(65536);
    ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), buffer.bytes, 65536);
    EXPECT_EQ(read.post(), 0u);
    EXPECT_EQ(read.chunks()[0]->callStatus, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(read.usbdStatus(0), USBD_STATUS_INVALID_PARAMETER);
}

TEST_F(UsbBusTest, StalledFramePipeFailsUntilResetPipe) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(kFrameBytes);
    {
        ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, kFrameBytes);
        camera->faults().stallFramePipe = true;
        postFrameReads(read);
        ASSERT_TRUE(read.waitAll(10000));
        for (std::size_t i = 0; i < 22; ++i) {
            EXPECT_EQ(read.usbdStatus(i), USBD_STATUS_STALL_PID) << "chunk " << i;
            EXPECT_EQ(read.status(i), STATUS_UNSUCCESSFUL) << "chunk " << i;
        }
    }
    EXPECT_EQ(client->pipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, client->pipe(2)),
              STATUS_SUCCESS);
    ChunkedRead again(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, kFrameBytes);
    postFrameReads(again);
    ASSERT_TRUE(again.waitAll(10000));
    for (std::size_t i = 0; i < 22; ++i) EXPECT_EQ(again.status(i), STATUS_SUCCESS) << i;
}

// ---------------------------------------------------------------- port and unplug

TEST_F(UsbBusTest, DisabledPortRefusesTransfersUntilThePortIsReset) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    ULONG port = 0;
    ASSERT_EQ(client->portStatus(port), STATUS_SUCCESS);
    EXPECT_EQ(port, ULONG{USBD_PORT_CONNECTED | USBD_PORT_ENABLED});
    camera->disablePort();
    ASSERT_EQ(client->portStatus(port), STATUS_SUCCESS);
    EXPECT_EQ(port, ULONG{USBD_PORT_CONNECTED});
    EXPECT_EQ(sendCommand(CommandCode::Prepare), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(client->pipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, client->pipe(2)),
              STATUS_UNSUCCESSFUL)
        << "a pipe reset does not help a disabled port";
    ASSERT_EQ(client->resetPort(), STATUS_SUCCESS);
    ASSERT_EQ(client->portStatus(port), STATUS_SUCCESS);
    EXPECT_EQ(port, ULONG{USBD_PORT_CONNECTED | USBD_PORT_ENABLED});
    EXPECT_EQ(sendCommand(CommandCode::Prepare), STATUS_SUCCESS) << "the configuration survives";
}

TEST_F(UsbBusTest, UnplugMidFrameFailsPendingReadsAndRefusesNewRequests) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(kFrameBytes);
    ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, kFrameBytes);
    postFrameReads(read, 11);
    ASSERT_TRUE(read.waitAll(10000));
    camera->faults().neverAnswer = true;  // the next frame never comes: these reads stay pending
    sendCommand(CommandCode::RequestFrame);
    read.post(15);
    sendCommand(CommandCode::ReadsPosted);
    camera->unplug();
    ASSERT_TRUE(read.waitAll(10000));
    for (std::size_t i = 11; i < 15; ++i) {
        EXPECT_EQ(read.status(i), STATUS_DEVICE_NOT_CONNECTED) << i;
        EXPECT_EQ(read.usbdStatus(i), USBD_STATUS_DEVICE_GONE) << i;
    }
    EXPECT_EQ(read.post(), 15u) << "the next read is refused at once";
    EXPECT_EQ(read.chunks()[15]->callStatus, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(read.usbdStatus(15), USBD_STATUS_DEVICE_GONE);
    ULONG port = 0;
    EXPECT_EQ(client->portStatus(port), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(client->resetPort(), STATUS_DEVICE_NOT_CONNECTED);
    std::uint8_t buffer[18];
    ULONG length = sizeof(buffer);
    EXPECT_EQ(client->getDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, buffer, length),
              STATUS_DEVICE_NOT_CONNECTED);
}

// ---------------------------------------------------------------- misuse

TEST_F(UsbBusTest, UnknownRequestsAreRefused) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    USBD_STATUS usbd = 0;
    EXPECT_EQ(client->pipeRequest(0x0077, client->pipe(0), &usbd), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(usbd, USBD_STATUS_INVALID_URB_FUNCTION);
    expectVerifierFailure("not implemented");
    std::uint8_t packet[64] = {};
    ULONG length = sizeof(packet);
    EXPECT_EQ(client->transfer(reinterpret_cast<USBD_PIPE_HANDLE>(0x1234), packet, length,
                               kOutFlags, &usbd),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(usbd, USBD_STATUS_INVALID_PIPE_HANDLE);
}

TEST_F(UsbBusTest, PhysicalDeviceCompletesPlugAndPlayRequests) {
    for (UCHAR minor : {UCHAR{IRP_MN_START_DEVICE}, UCHAR{0x07}}) {
        PIRP irp = IoAllocateIrp(bus->physicalDeviceObject()->StackSize, FALSE);
        ASSERT_NE(irp, nullptr);
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_PNP;
        next->MinorFunction = minor;
        IoSetCompletionRoutine(
            irp, [](PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; },
            nullptr, TRUE, TRUE, TRUE);
        NTSTATUS status = IofCallDriver(bus->physicalDeviceObject(), irp);
        EXPECT_EQ(status, minor == IRP_MN_START_DEVICE ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED)
            << "minor " << int(minor);
        IoFreeIrp(irp);
    }
}

TEST_F(UsbBusTest, UrbShorterThanItsRequestIsAVerifierFailure) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    _URB_BULK_OR_INTERRUPT_TRANSFER urb{};
    std::uint8_t packet[64] = {};
    urb.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
    urb.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    urb.PipeHandle = client->pipe(0);
    urb.TransferBuffer = packet;
    urb.TransferBufferLength = sizeof(packet);
    EXPECT_EQ(client->submit(reinterpret_cast<PURB>(&urb)), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(urb.Hdr.Status, USBD_STATUS_INVALID_PARAMETER);
    expectVerifierFailure("below the 128 bytes");
    EXPECT_EQ(camera->packetLog().snapshot().size(), 0u) << "nothing reached the camera";
}

TEST_F(UsbBusTest, ExternalTriggerReleasesOneFramePerTrigger) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    sendCommand(CommandCode::Control, {sim::kTriggerSelector, 1});
    PoolBuffer frame(kFrameBytes);
    for (std::uint32_t n = 0; n < 2; ++n) {
        ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, kFrameBytes);
        postFrameReads(read);
        EXPECT_FALSE(read.waitAll(30)) << "no frame before the trigger";
        camera->trigger();
        ASSERT_TRUE(read.waitAll(10000));
        EXPECT_EQ(sim::decodeFrameNumber({frame.bytes, frame.size}, sim::kSensorWidth), n);
    }
}

TEST_F(UsbBusTest, FrameReadsWorkOnAnInterruptPipeToo) {
    auto interruptCamera = options();
    interruptCamera.descriptors = DescriptorVariant::InterruptFramePipe;
    plugIn(interruptCamera);
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    ASSERT_EQ(client->interface(0)->Pipes[2].PipeType, UsbdPipeTypeInterrupt);
    PoolBuffer frame(kFrameBytes);
    ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, kFrameBytes);
    postFrameReads(read);
    ASSERT_TRUE(read.waitAll(10000));
    EXPECT_TRUE(frame.copy() == camera->renderFrame(0));
}

}  // namespace
}  // namespace bayercam::host::testing
