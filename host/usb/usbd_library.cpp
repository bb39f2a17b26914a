// The USBD library helpers a client driver uses to find interfaces and build the
// select-configuration request, with the platform's behaviour.
#include <cstring>

#include "platform/usb.h"

namespace {

// Pool tag of the library's allocations ("USBD" in memory).
constexpr ULONG kUsbdTag = 'U' | ('S' << 8) | ('B' << 16) | ('D' << 24);

}  // namespace

extern "C" PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol) {
    auto* base = reinterpret_cast<PUCHAR>(ConfigurationDescriptor);
    PUCHAR end = base + ConfigurationDescriptor->wTotalLength;
    PUCHAR at = static_cast<PUCHAR>(StartPosition);
    auto matches = [](LONG wanted, UCHAR value) { return wanted == -1 || wanted == value; };
    while (at + 2 <= end && at[0] >= 2 && at + at[0] <= end) {
        if (at[1] == USB_INTERFACE_DESCRIPTOR_TYPE && at[0] >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            auto* interface = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(at);
            if (matches(InterfaceNumber, interface->bInterfaceNumber) &&
                matches(AlternateSetting, interface->bAlternateSetting) &&
                matches(InterfaceClass, interface->bInterfaceClass) &&
                matches(InterfaceSubClass, interface->bInterfaceSubClass) &&
                matches(InterfaceProtocol, interface->bInterfaceProtocol)) {
                return interface;
            }
        }
        at += at[0];
    }
    return nullptr;
}

extern "C" PURB USBD_CreateConfigurationRequestEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
    PUSBD_INTERFACE_LIST_ENTRY InterfaceList) {
    SIZE_T size = offsetof(_URB_SELECT_CONFIGURATION, Interface);
    for (auto* entry = InterfaceList; entry->InterfaceDescriptor != nullptr; ++entry) {
        size += GET_USBD_INTERFACE_SIZE(entry->InterfaceDescriptor->bNumEndpoints);
    }
    if (size < sizeof(_URB_SELECT_CONFIGURATION)) size = sizeof(_URB_SELECT_CONFIGURATION);
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, kUsbdTag));
    if (urb == nullptr) return nullptr;
    std::memset(urb, 0, size);
    auto* info = &urb->UrbSelectConfiguration.Interface;
    for (auto* entry = InterfaceList; entry->InterfaceDescriptor != nullptr; ++entry) {
        const USB_INTERFACE_DESCRIPTOR* descriptor = entry->InterfaceDescriptor;
        info->Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(descriptor->bNumEndpoints));
        info->InterfaceNumber = descriptor->bInterfaceNumber;
        info->AlternateSetting = descriptor->bAlternateSetting;
        info->NumberOfPipes = descriptor->bNumEndpoints;
        for (ULONG p = 0; p < info->NumberOfPipes; ++p) {
            info->Pipes[p].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        }
        entry->Interface = info;
        info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<PUCHAR>(info) +
                                                             info->Length);
    }
    urb->UrbHeader.Length = static_cast<USHORT>(size);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = ConfigurationDescriptor;
    return urb;
}
