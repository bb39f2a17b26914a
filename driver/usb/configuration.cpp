// Configuration at start and deconfiguration at stop: the device and configuration
// descriptors, the selection of the configuration with every interface at alternate setting 0,
// and the copy of the first interface's pipe table.
#include "driver/usb/usb_requests.h"

namespace {

constexpr ULONG DEVICE_DESCRIPTOR_LENGTH = sizeof(USB_DEVICE_DESCRIPTOR);
constexpr ULONG CONFIGURATION_HEADER_LENGTH = sizeof(USB_CONFIGURATION_DESCRIPTOR);
constexpr LONG LAST_INTERFACE_NUMBER = 255;

void BuildDescriptorRequest(PURB urb, UCHAR descriptorType, PVOID buffer, ULONG length) {
    _URB_CONTROL_DESCRIPTOR_REQUEST& request = urb->UrbControlDescriptorRequest;
    request.Hdr.Length = sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST);
    request.Hdr.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    request.DescriptorType = descriptorType;
    request.Index = 0;
    request.LanguageId = 0;
    request.TransferBuffer = buffer;
    request.TransferBufferLength = length;
    request.TransferBufferMDL = nullptr;
    request.UrbLink = nullptr;
}

// A configuration is used only when the device delivered all of it and every descriptor in it
// has a length that keeps it inside; the parsers below then never read past what was sent.
bool ConfigurationIsSound(const UCHAR* bytes, ULONG totalLength, ULONG delivered) {
    if (delivered < totalLength || bytes[0] < CONFIGURATION_HEADER_LENGTH ||
        bytes[1] != USB_CONFIGURATION_DESCRIPTOR_TYPE ||
        static_cast<ULONG>(bytes[2] | bytes[3] << 8) != totalLength) {
        return false;
    }
    for (ULONG at = 0; at < totalLength;) {
        if (totalLength - at < 2) return false;
        ULONG length = bytes[at];
        if (length == 0 || length > totalLength - at) return false;
        if (bytes[at + 1] == USB_INTERFACE_DESCRIPTOR_TYPE &&
            length < sizeof(USB_INTERFACE_DESCRIPTOR)) {
            return false;
        }
        at += length;
    }
    return true;
}

// Keeps a copy of the selected interface's information and one zeroed mark per pipe.
NTSTATUS KeepPipeTable(UsbTarget* usb, const USBD_INTERFACE_INFORMATION* selected) {
    auto* copy = static_cast<PUSBD_INTERFACE_INFORMATION>(AllocateUsbBuffer(selected->Length));
    if (copy == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(copy, selected, selected->Length);
    usb->interfaceInfo = copy;
    if (copy->NumberOfPipes == 0) return STATUS_SUCCESS;
    auto* marks = static_cast<PUCHAR>(AllocateUsbBuffer(copy->NumberOfPipes));
    if (marks == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(marks, copy->NumberOfPipes);
    usb->pipeInUse = marks;
    return STATUS_SUCCESS;
}

// Interfaces are looked up by number, skipping absent numbers, until bNumInterfaces are found
// or the numbers run out.
ULONG FindInterfaces(PUSB_CONFIGURATION_DESCRIPTOR config, PUSBD_INTERFACE_LIST_ENTRY list) {
    ULONG found = 0;
    for (LONG number = 0; number <= LAST_INTERFACE_NUMBER && found < config->bNumInterfaces;
         ++number) {
        PUSB_INTERFACE_DESCRIPTOR descriptor =
            USBD_ParseConfigurationDescriptorEx(config, config, number, 0, -1, -1, -1);
        if (descriptor == nullptr) continue;
        list[found].InterfaceDescriptor = descriptor;
        list[found].Interface = nullptr;
        ++found;
    }
    list[found].InterfaceDescriptor = nullptr;
    list[found].Interface = nullptr;
    return found;
}

NTSTATUS SelectConfiguration(UsbTarget* usb) {
    PUSB_CONFIGURATION_DESCRIPTOR config = usb->configDescriptor;
    auto* list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(
        AllocateUsbBuffer((config->bNumInterfaces + 1) * sizeof(USBD_INTERFACE_LIST_ENTRY)));
    if (list == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    // A configuration without any interface has nothing the camera could use.
    if (FindInterfaces(config, list) == 0) {
        FreeUsbBuffer(list);
        return STATUS_UNSUCCESSFUL;
    }
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    PURB urb = USBD_CreateConfigurationRequestEx(config, list);
    if (urb != nullptr) {
        PUSBD_INTERFACE_INFORMATION first = &urb->UrbSelectConfiguration.Interface;
        for (ULONG i = 0; i < first->NumberOfPipes; ++i) {
            first->Pipes[i].MaximumTransferSize = 0xFFFFFFFF;
        }
        status = SubmitUrbSync(usb, urb);
        if (NT_SUCCESS(status)) status = KeepPipeTable(usb, first);
        ExFreePool(urb);
    }
    FreeUsbBuffer(list);
    return status;
}

// Reads the configuration header, then the whole configuration, and selects it.
NTSTATUS ReadConfiguration(UsbTarget* usb) {
    PURB urb = static_cast<PURB>(AllocateUsbBuffer(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST)));
    auto* header =
        static_cast<PUCHAR>(urb ? AllocateUsbBuffer(CONFIGURATION_HEADER_LENGTH) : nullptr);
    if (header == nullptr) {
        FreeUsbBuffer(urb);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    BuildDescriptorRequest(urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, header,
                           CONFIGURATION_HEADER_LENGTH);
    NTSTATUS status = SubmitUrbSync(usb, urb);
    ULONG totalLength = header[2] | header[3] << 8;
    if (NT_SUCCESS(status) &&
        (urb->UrbControlDescriptorRequest.TransferBufferLength < CONFIGURATION_HEADER_LENGTH ||
         totalLength < CONFIGURATION_HEADER_LENGTH)) {
        status = STATUS_UNSUCCESSFUL;
    }
    FreeUsbBuffer(header);
    PUCHAR whole = nullptr;
    if (NT_SUCCESS(status)) {
        whole = static_cast<PUCHAR>(AllocateUsbBuffer(totalLength));
        if (whole == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
    }
    if (NT_SUCCESS(status)) {
        BuildDescriptorRequest(urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, whole, totalLength);
        status = SubmitUrbSync(usb, urb);
    }
    if (NT_SUCCESS(status) &&
        !ConfigurationIsSound(whole, totalLength,
                              urb->UrbControlDescriptorRequest.TransferBufferLength)) {
        status = STATUS_UNSUCCESSFUL;
    }
    if (NT_SUCCESS(status)) {
        usb->configDescriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(whole);
        status = SelectConfiguration(usb);
    }
    FreeUsbBuffer(urb);
    if (reinterpret_cast<PUCHAR>(usb->configDescriptor) != whole) FreeUsbBuffer(whole);
    return status;
}

}  // namespace

NTSTATUS ConfigureDevice(UsbTarget* usb) {
    usb->configDescriptor = nullptr;
    usb->interfaceInfo = nullptr;
    usb->pipeInUse = nullptr;
    PURB urb = static_cast<PURB>(AllocateUsbBuffer(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST)));
    PVOID descriptor = urb ? AllocateUsbBuffer(DEVICE_DESCRIPTOR_LENGTH) : nullptr;
    if (descriptor == nullptr) {
        FreeUsbBuffer(urb);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, descriptor, DEVICE_DESCRIPTOR_LENGTH);
    NTSTATUS status = SubmitUrbSync(usb, urb);
    if (NT_SUCCESS(status)) status = ReadConfiguration(usb);
    FreeUsbBuffer(urb);
    FreeUsbBuffer(descriptor);
    return status;
}

VOID ReleaseConfiguration(UsbTarget* usb) {
    FreeUsbBuffer(usb->configDescriptor);
    usb->configDescriptor = nullptr;
    FreeUsbBuffer(usb->interfaceInfo);
    usb->interfaceInfo = nullptr;
    FreeUsbBuffer(usb->pipeInUse);
    usb->pipeInUse = nullptr;
}

VOID DeconfigureDevice(UsbTarget* usb) {
    PURB urb = static_cast<PURB>(AllocateUsbBuffer(sizeof(_URB_SELECT_CONFIGURATION)));
    if (urb == nullptr) return;
    urb->UrbSelectConfiguration.Hdr.Length = sizeof(_URB_SELECT_CONFIGURATION);
    urb->UrbSelectConfiguration.Hdr.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = nullptr;
    SubmitUrbSync(usb, urb);
    FreeUsbBuffer(urb);
}
