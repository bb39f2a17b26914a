// Interface information for a selected configuration, shared by the bus backends.
#include "host/usb/interface_information.h"

#include <cstdint>
#include <vector>

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

NTSTATUS fillInterfaceInformation(
    _URB_SELECT_CONFIGURATION& request,
    const std::function<USBD_PIPE_HANDLE(const USBD_PIPE_INFORMATION&)>& makePipe) {
    const auto* config = request.ConfigurationDescriptor;
    const auto* start = reinterpret_cast<const std::uint8_t*>(config);
    const std::uint8_t* end = start + config->wTotalLength;
    auto* info = &request.Interface;
    auto* urbEnd = reinterpret_cast<std::uint8_t*>(&request) + request.Hdr.Length;
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
            pipeInfo.PipeHandle = makePipe(pipeInfo);
        }
        info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(infoBytes + info->Length);
    }
    return STATUS_SUCCESS;
}

}  // namespace bayercam::host
