// Descriptor requests and configuration selection of the USB bus stand-in.
#include <algorithm>
#include <cstring>

#include "host/kernel/verifier.h"
#include "host/usb/usb_bus.h"

namespace bayercam::host {
namespace {

// The endpoint descriptors that follow an interface descriptor, up to the next interface.
std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpointsOf(const std::uint8_t* interfaceStart,
                                                        const std::uint8_t* end) {
    std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpoints;
    const std::uint8_t* at = interfaceStart + interfaceStart[0];
    while (at + 2 <= end && at[0] >= 2 && at + at[0] <= end) {
        if (at[1] == USB_INTERFACE_DESCRIPTOR_TYPE) break;
        if (at[1] == USB_ENDPOINT_DESCRIPTOR_TYPE && at[0] >= sizeof(USB_ENDPOINT_DESCRIPTOR)) {
            endpoints.push_back(reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(at));
        }
        at += at[0];
    }
    return endpoints;
}

}  // namespace

NTSTATUS UsbBus::getDescriptor(PIRP irp, _URB_CONTROL_DESCRIPTOR_REQUEST& request) noexcept {
    std::vector<std::uint8_t> descriptor;
    if (request.DescriptorType == USB_DEVICE_DESCRIPTOR_TYPE && request.Index == 0) {
        descriptor = function_.deviceDescriptor();
    } else if (request.DescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE && request.Index == 0) {
        descriptor = function_.configurationDescriptor();
    } else {
        // The device stalls the control pipe on a descriptor it does not have.
        request.Hdr.Status = USBD_STATUS_STALL_PID;
        request.TransferBufferLength = 0;
        complete(irp, STATUS_UNSUCCESSFUL, 0);
        return STATUS_UNSUCCESSFUL;
    }
    void* buffer = urbTransferBuffer(request.TransferBufferMDL, request.TransferBuffer);
    if (buffer == nullptr && request.TransferBufferLength != 0) {
        request.Hdr.Status = USBD_STATUS_INVALID_PARAMETER;
        complete(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    std::size_t moved = std::min<std::size_t>(request.TransferBufferLength, descriptor.size());
    if (moved != 0) std::memcpy(buffer, descriptor.data(), moved);
    request.TransferBufferLength = static_cast<ULONG>(moved);
    request.Hdr.Status = USBD_STATUS_SUCCESS;
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

NTSTATUS UsbBus::selectConfiguration(PIRP irp, _URB_SELECT_CONFIGURATION& request) noexcept {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        verifier::report("URB_FUNCTION_SELECT_CONFIGURATION sent above passive level");
    }
    // Whatever was configured goes: its transfers are cancelled and awaited.
    std::vector<Completion> done;
    {
        std::unique_lock lock(lock_);
        abortAllLocked(STATUS_CANCELLED, USBD_STATUS_CANCELED, done);
        lock.unlock();
        completeRequests(done);
        lock.lock();
        waitUntilDrained(lock);
        pipes_.clear();
        configurationValue_ = 0;
    }
    NTSTATUS status = STATUS_SUCCESS;
    if (request.ConfigurationDescriptor == nullptr) {
        function_.setConfiguration(0);
        request.Hdr.Status = USBD_STATUS_SUCCESS;
    } else {
        status = configure(request);
    }
    complete(irp, status, 0);
    return status;
}

// Fills each interface's information from the caller's configuration descriptor and creates the
// pipes. Each interface information block is Length bytes; all must lie inside the URB.
NTSTATUS UsbBus::configure(_URB_SELECT_CONFIGURATION& request) {
    const auto* config = request.ConfigurationDescriptor;
    const auto* start = reinterpret_cast<const std::uint8_t*>(config);
    const std::uint8_t* end = start + config->wTotalLength;
    auto* info = &request.Interface;
    auto* urbEnd = reinterpret_cast<std::uint8_t*>(&request) + request.Hdr.Length;
    std::vector<std::unique_ptr<Pipe>> pipes;
    for (unsigned i = 0; i < config->bNumInterfaces; ++i) {
        auto* infoBytes = reinterpret_cast<std::uint8_t*>(info);
        // A URB that lists fewer interfaces than the configuration has ends here.
        if (infoBytes + GET_USBD_INTERFACE_SIZE(0) > urbEnd) {
            request.Hdr.Status = USBD_STATUS_INVALID_PARAMETER;
            return STATUS_INVALID_PARAMETER;
        }
        PUSB_INTERFACE_DESCRIPTOR interface = USBD_ParseConfigurationDescriptorEx(
            request.ConfigurationDescriptor, request.ConfigurationDescriptor, info->InterfaceNumber,
            info->AlternateSetting, -1, -1, -1);
        if (interface == nullptr) {
            request.Hdr.Status = USBD_STATUS_INVALID_PARAMETER;
            return STATUS_INVALID_PARAMETER;
        }
        auto endpoints = endpointsOf(reinterpret_cast<const std::uint8_t*>(interface), end);
        if (info->Length < GET_USBD_INTERFACE_SIZE(endpoints.size()) ||
            infoBytes + info->Length > urbEnd) {
            request.Hdr.Status = USBD_STATUS_INVALID_PARAMETER;
            return STATUS_INVALID_PARAMETER;
        }
        info->Class = interface->bInterfaceClass;
        info->SubClass = interface->bInterfaceSubClass;
        info->Protocol = interface->bInterfaceProtocol;
        info->InterfaceHandle = info;
        info->NumberOfPipes = static_cast<ULONG>(endpoints.size());
        for (std::size_t p = 0; p < endpoints.size(); ++p) {
            USBD_PIPE_INFORMATION& pipeInfo = info->Pipes[p];
            pipeInfo.MaximumPacketSize = endpoints[p]->wMaxPacketSize;
            pipeInfo.EndpointAddress = endpoints[p]->bEndpointAddress;
            pipeInfo.Interval = endpoints[p]->bInterval;
            pipeInfo.PipeType =
                static_cast<USBD_PIPE_TYPE>(endpoints[p]->bmAttributes & USB_ENDPOINT_TYPE_MASK);
            auto pipe = std::make_unique<Pipe>();
            pipeInfo.PipeHandle = pipe.get();
            pipe->info = pipeInfo;
            pipes.push_back(std::move(pipe));
        }
        info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(infoBytes + info->Length);
    }
    function_.setConfiguration(config->bConfigurationValue);
    std::lock_guard guard(lock_);
    pipes_ = std::move(pipes);
    configurationValue_ = config->bConfigurationValue;
    request.ConfigurationHandle = &configurationValue_;
    request.Hdr.Status = USBD_STATUS_SUCCESS;
    return STATUS_SUCCESS;
}

}  // namespace bayercam::host
