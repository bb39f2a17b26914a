// The sizes and field offsets of the platform's records that the driver relies on, checked in
// both builds: on the host against platform/'s own declarations, on the Windows build against
// the platform's headers. Compiled for the checks alone; it defines nothing.
#include "platform/kernel.h"
#include "platform/ks.h"
#include "platform/usb.h"

// ---------------------------------------------------------------- kernel

static_assert(sizeof(ULONG) == 4 && sizeof(LONG) == 4, "ULONG and LONG are 32 bits");
static_assert(sizeof(PVOID) == 8 && sizeof(ULONG_PTR) == 8, "64-bit pointers");
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER layout");
static_assert(sizeof(GUID) == 16, "GUID layout");
static_assert(sizeof(UNICODE_STRING) == 16, "UNICODE_STRING layout");
static_assert(sizeof(KEVENT) == 24, "KEVENT layout");
static_assert(sizeof(OBJECT_ATTRIBUTES) == 48, "OBJECT_ATTRIBUTES layout");
static_assert(sizeof(MDL) == 48, "MDL layout");
static_assert(sizeof(IO_STATUS_BLOCK) == 16, "IO_STATUS_BLOCK layout");
static_assert(offsetof(DRIVER_OBJECT, MajorFunction) == 0x70, "DRIVER_OBJECT layout");
static_assert(sizeof(IO_STACK_LOCATION) == 72, "IO_STACK_LOCATION layout");
static_assert(offsetof(IO_STACK_LOCATION, Parameters) == 8, "IO_STACK_LOCATION layout");
static_assert(offsetof(KEY_VALUE_BASIC_INFORMATION, Name) == 12,
              "KEY_VALUE_BASIC_INFORMATION layout");
static_assert(offsetof(KEY_VALUE_FULL_INFORMATION, Name) == 20,
              "KEY_VALUE_FULL_INFORMATION layout");
static_assert(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12,
              "KEY_VALUE_PARTIAL_INFORMATION layout");

// ---------------------------------------------------------------- kernel streaming

static_assert(sizeof(KSPROPERTY) == 24, "KSPROPERTY layout");
static_assert(offsetof(KSIDENTIFIER, Id) == 16 && offsetof(KSIDENTIFIER, Flags) == 20,
              "KSIDENTIFIER layout");
static_assert(sizeof(KSP_PIN) == 32, "KSP_PIN layout");
static_assert(sizeof(KSPROPERTY_ITEM) == 72, "KSPROPERTY_ITEM layout");
static_assert(offsetof(KSPROPERTY_ITEM, MinProperty) == 16 &&
                  offsetof(KSPROPERTY_ITEM, SetPropertyHandler) == 24,
              "KSPROPERTY_ITEM layout");
static_assert(sizeof(KSPROPERTY_SET) == 40, "KSPROPERTY_SET layout");
static_assert(sizeof(KSMETHOD_ITEM) == 40, "KSMETHOD_ITEM layout");
static_assert(sizeof(KSEVENT_ITEM) == 40, "KSEVENT_ITEM layout");
static_assert(sizeof(KSAUTOMATION_TABLE) == 48, "KSAUTOMATION_TABLE layout");
static_assert(sizeof(KSDATAFORMAT) == 64, "KSDATAFORMAT layout");
static_assert(offsetof(KSDATAFORMAT, MajorFormat) == 16 && offsetof(KSDATAFORMAT, Specifier) == 48,
              "KSDATAFORMAT layout");
static_assert(sizeof(KS_BITMAPINFOHEADER) == 40, "KS_BITMAPINFOHEADER layout");
static_assert(offsetof(KS_VIDEOINFOHEADER, AvgTimePerFrame) == 40, "KS_VIDEOINFOHEADER layout");
static_assert(offsetof(KS_VIDEOINFOHEADER, bmiHeader) == 48, "KS_VIDEOINFOHEADER layout");
static_assert(sizeof(KS_VIDEOINFOHEADER) == 88, "KS_VIDEOINFOHEADER layout");
static_assert(sizeof(KS_VIDEO_STREAM_CONFIG_CAPS) == 128, "KS_VIDEO_STREAM_CONFIG_CAPS layout");
static_assert(offsetof(KS_VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104,
              "KS_VIDEO_STREAM_CONFIG_CAPS layout");
static_assert(sizeof(KS_DATARANGE_VIDEO) == 296, "KS_DATARANGE_VIDEO layout");
static_assert(offsetof(KS_DATARANGE_VIDEO, ConfigCaps) == 80, "KS_DATARANGE_VIDEO layout");
static_assert(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) == 208, "KS_DATARANGE_VIDEO layout");
static_assert(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) == 152, "KS_DATAFORMAT_VIDEOINFOHEADER layout");
static_assert(offsetof(KS_DATAFORMAT_VIDEOINFOHEADER, VideoInfoHeader) == 64,
              "KS_DATAFORMAT_VIDEOINFOHEADER layout");
static_assert(sizeof(KS_FRAMING_ITEM) == 88, "KS_FRAMING_ITEM layout");
static_assert(sizeof(KSALLOCATOR_FRAMING_EX) == 112, "KSALLOCATOR_FRAMING_EX layout");
static_assert(offsetof(KSALLOCATOR_FRAMING_EX, FramingItem) == 24, "KSALLOCATOR_FRAMING_EX layout");
static_assert(sizeof(KSSTREAM_HEADER) == 56, "KSSTREAM_HEADER layout");
static_assert(offsetof(KSSTREAM_HEADER, PresentationTime) == 8 &&
                  offsetof(KSSTREAM_HEADER, Duration) == 24 &&
                  offsetof(KSSTREAM_HEADER, DataUsed) == 36 &&
                  offsetof(KSSTREAM_HEADER, Data) == 40 &&
                  offsetof(KSSTREAM_HEADER, OptionsFlags) == 48,
              "KSSTREAM_HEADER layout");
static_assert(sizeof(KS_FRAME_INFO) == 72, "KS_FRAME_INFO layout");
static_assert(offsetof(KS_FRAME_INFO, PictureNumber) == 8 &&
                  offsetof(KS_FRAME_INFO, DropCount) == 16,
              "KS_FRAME_INFO layout");
static_assert(sizeof(KSSTREAM_POINTER_OFFSET) == 16, "KSSTREAM_POINTER_OFFSET layout");
static_assert(sizeof(KSSTREAM_POINTER) == 64, "KSSTREAM_POINTER layout");
static_assert(offsetof(KSSTREAM_POINTER, StreamHeader) == 16, "KSSTREAM_POINTER layout");
static_assert(sizeof(KSDEVICE_DISPATCH) == 14 * 8, "KSDEVICE_DISPATCH layout");
static_assert(offsetof(KSDEVICE_DISPATCH, Stop) == 40, "KSDEVICE_DISPATCH layout");
static_assert(sizeof(KSDEVICE_DESCRIPTOR) == 32, "KSDEVICE_DESCRIPTOR layout");
static_assert(sizeof(KSNODE_DESCRIPTOR) == 24, "KSNODE_DESCRIPTOR layout");
static_assert(sizeof(KSFILTER_DESCRIPTOR) == 104, "KSFILTER_DESCRIPTOR layout");
static_assert(offsetof(KSFILTER_DESCRIPTOR, PinDescriptorsCount) == 32 &&
                  offsetof(KSFILTER_DESCRIPTOR, Categories) == 56,
              "KSFILTER_DESCRIPTOR layout");
static_assert(sizeof(KSPIN_DESCRIPTOR) == 88, "KSPIN_DESCRIPTOR layout");
static_assert(offsetof(KSPIN_DESCRIPTOR, DataRanges) == 40 &&
                  offsetof(KSPIN_DESCRIPTOR, Category) == 56,
              "KSPIN_DESCRIPTOR layout");
static_assert(sizeof(KSPIN_DISPATCH) == 80, "KSPIN_DISPATCH layout");
static_assert(sizeof(KSPIN_DESCRIPTOR_EX) == 136, "KSPIN_DESCRIPTOR_EX layout");
static_assert(offsetof(KSPIN_DESCRIPTOR_EX, Flags) == 104 &&
                  offsetof(KSPIN_DESCRIPTOR_EX, AllocatorFraming) == 120,
              "KSPIN_DESCRIPTOR_EX layout");
static_assert(sizeof(KSDEVICE) == 64, "KSDEVICE layout");
static_assert(offsetof(KSDEVICE, Context) == 16 && offsetof(KSDEVICE, NextDeviceObject) == 40 &&
                  offsetof(KSDEVICE, Started) == 48,
              "KSDEVICE layout");
static_assert(sizeof(KSFILTER) == 24, "KSFILTER layout");
static_assert(sizeof(KSPIN) == 136, "KSPIN layout");
static_assert(offsetof(KSPIN, Context) == 16 && offsetof(KSPIN, ConnectionFormat) == 96 &&
                  offsetof(KSPIN, DeviceState) == 120,
              "KSPIN layout");

// ---------------------------------------------------------------- USB

static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18, "USB_DEVICE_DESCRIPTOR layout");
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9, "USB_CONFIGURATION_DESCRIPTOR layout");
static_assert(offsetof(USB_CONFIGURATION_DESCRIPTOR, wTotalLength) == 2, "wTotalLength at 2");
static_assert(offsetof(USB_CONFIGURATION_DESCRIPTOR, bNumInterfaces) == 4, "bNumInterfaces at 4");
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9, "USB_INTERFACE_DESCRIPTOR layout");
static_assert(sizeof(USB_ENDPOINT_DESCRIPTOR) == 7, "USB_ENDPOINT_DESCRIPTOR layout");
static_assert(sizeof(USBD_PIPE_INFORMATION) == 24, "USBD_PIPE_INFORMATION layout");
static_assert(offsetof(USBD_PIPE_INFORMATION, PipeHandle) == 8, "PipeHandle at 8");
static_assert(offsetof(USBD_PIPE_INFORMATION, MaximumTransferSize) == 16, "MaximumTransferSize");
static_assert(sizeof(USBD_INTERFACE_INFORMATION) == 48, "USBD_INTERFACE_INFORMATION layout");
static_assert(offsetof(USBD_INTERFACE_INFORMATION, NumberOfPipes) == 16, "NumberOfPipes at 16");
static_assert(offsetof(USBD_INTERFACE_INFORMATION, Pipes) == 24, "Pipes at 24");
static_assert(sizeof(USBD_INTERFACE_LIST_ENTRY) == 16, "USBD_INTERFACE_LIST_ENTRY layout");
static_assert(sizeof(_URB_HEADER) == 24, "_URB_HEADER layout");
static_assert(sizeof(_URB_HCD_AREA) == 64, "_URB_HCD_AREA layout");
static_assert(sizeof(_URB_SELECT_CONFIGURATION) == 88, "_URB_SELECT_CONFIGURATION layout");
static_assert(offsetof(_URB_SELECT_CONFIGURATION, Interface) == 40, "Interface at 40");
static_assert(sizeof(_URB_PIPE_REQUEST) == 40, "_URB_PIPE_REQUEST layout");
static_assert(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER) == 128, "bulk transfer URB layout");
static_assert(offsetof(_URB_BULK_OR_INTERRUPT_TRANSFER, TransferBufferLength) == 36,
              "TransferBufferLength at 36");
static_assert(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST) == 136, "descriptor request URB layout");
static_assert(offsetof(_URB_CONTROL_DESCRIPTOR_REQUEST, Index) == 130, "Index at 130");
static_assert(offsetof(_URB_CONTROL_DESCRIPTOR_REQUEST, DescriptorType) == 131,
              "DescriptorType at 131");
// The union's own size differs: the platform's holds more kinds of request than the host's.
static_assert(sizeof(URB) >= sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST),
              "a URB holds every request the driver sends");
static_assert(IOCTL_INTERNAL_USB_SUBMIT_URB == 0x220003, "IOCTL_INTERNAL_USB_SUBMIT_URB");
static_assert(IOCTL_INTERNAL_USB_RESET_PORT == 0x220007, "IOCTL_INTERNAL_USB_RESET_PORT");
static_assert(IOCTL_INTERNAL_USB_GET_PORT_STATUS == 0x220013, "IOCTL_INTERNAL_USB_GET_PORT_STATUS");
