// Descriptor requests and configuration selection of the USB bus stand-in.
#include <algorithm>
#include <cstring>

#include "host/kernel/verifier.h"
#include "host/usb/interface_information.h"
#include "host/usb/usb_bus.h"

namespace bayercam::host {

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

// Creates the pipes of the interfaces the request names.
NTSTATUS UsbBus::configure(_URB_SELECT_CONFIGURATION& request) {
    const auto* config = request.ConfigurationDescriptor;
    std::vector<std::unique_ptr<Pipe>> pipes;
    NTSTATUS status = fillInterfaceInformation(request, [&](const USBD_PIPE_INFORMATION& info) {
        auto pipe = std::make_unique<Pipe>();
        pipe->info = info;
        pipe->info.PipeHandle = pipe.get();
        pipes.push_back(std::move(pipe));
        return pipes.back().get();
    });
    if (!NT_SUCCESS(status)) return status;
    function_.setConfiguration(config->bConfigurationValue);
    std::lock_guard guard(lock_);
    pipes_ = std::move(pipes);
    configurationValue_ = config->bConfigurationValue;
    request.ConfigurationHandle = &configurationValue_;
    request.Hdr.Status = USBD_STATUS_SUCCESS;
    return STATUS_SUCCESS;
}

}  // namespace bayercam::host
