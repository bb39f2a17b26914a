// Opening the device, its event thread, descriptors, configuration and port requests.
#include "host/usb/libusb_bus.h"

#include <libusb.h>
#include <pthread.h>

#include <cstring>

#include "host/kernel/verifier.h"
#include "host/usb/interface_information.h"

namespace bayercam::host {
namespace {

constexpr unsigned kControlTimeoutMs = 1000;
// Device to host, standard request, to the device.
constexpr std::uint8_t kGetDescriptorRequestType = 0x80;

// The 18 bytes of a device descriptor as the device sent them.
std::vector<std::uint8_t> deviceDescriptorBytes(const libusb_device_descriptor& d) {
    auto lo = [](unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](unsigned v) { return static_cast<std::uint8_t>(v >> 8); };
    return {d.bLength,       d.bDescriptorType,   lo(d.bcdUSB),      hi(d.bcdUSB),
            d.bDeviceClass,  d.bDeviceSubClass,   d.bDeviceProtocol, d.bMaxPacketSize0,
            lo(d.idVendor),  hi(d.idVendor),      lo(d.idProduct),   hi(d.idProduct),
            lo(d.bcdDevice), hi(d.bcdDevice),     d.iManufacturer,   d.iProduct,
            d.iSerialNumber, d.bNumConfigurations};
}

// A control transfer's failure as the platform reports it.
NTSTATUS failureOf(int result, USBD_STATUS* usbd) {
    switch (result) {
        case LIBUSB_ERROR_NO_DEVICE:
            *usbd = USBD_STATUS_DEVICE_GONE;
            return STATUS_DEVICE_NOT_CONNECTED;
        case LIBUSB_ERROR_PIPE:
            *usbd = USBD_STATUS_STALL_PID;
            return STATUS_UNSUCCESSFUL;
        case LIBUSB_ERROR_TIMEOUT:
            *usbd = USBD_STATUS_TIMEOUT;
            return STATUS_UNSUCCESSFUL;
        default:
            *usbd = USBD_STATUS_DEV_NOT_RESPONDING;
            return STATUS_UNSUCCESSFUL;
    }
}

}  // namespace

LibusbBus::LibusbBus(const UsbSelector& selector) {
    if (libusb_init(&context_) != 0) {
        throw UsbOpenError(UsbOpenProblem::Other, "libusb could not start");
    }
    try {
        handle_ = libusb_detail::openMatching(context_, selector, &interface_);
    } catch (...) {
        libusb_exit(context_);
        throw;
    }
    libusb_device* device = libusb_get_device(handle_);
    info_ = libusb_detail::describe(device, handle_);
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    deviceDescriptor_ = deviceDescriptorBytes(descriptor);
    const std::vector<std::uint8_t> header = readDescriptor(LIBUSB_DT_CONFIG, 9);
    if (header.size() >= 4) {
        configuration_ = readDescriptor(LIBUSB_DT_CONFIG, header[2] | header[3] << 8);
    }
    // The serial keeps each camera's settings apart; without one, the port it is plugged into.
    std::string tail = info_.serial.empty() ? "PORT_" + info_.port : info_.serial;
    setInstancePath(
        usbInstancePath(info_.vendor, info_.product, std::wstring(tail.begin(), tail.end())));
    events_ = std::thread([this] { runEvents(); });
    pthread_setname_np(events_.native_handle(), "usb-events");
}

LibusbBus::~LibusbBus() {
    cancelAllAndWait();
    stopping_ = true;
    libusb_interrupt_event_handler(context_);
    events_.join();
    libusb_release_interface(handle_, interface_);
    libusb_close(handle_);
    libusb_exit(context_);
}

// One thread handles every completion; it sleeps in libusb until one arrives or it is woken
// to stop.
void LibusbBus::runEvents() {
    while (!stopping_.load()) libusb_handle_events(context_);
}

std::vector<std::uint8_t> LibusbBus::readDescriptor(std::uint8_t type, std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    int got = watch(
        libusb_get_descriptor(handle_, type, 0, bytes.data(), static_cast<int>(bytes.size())));
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

int LibusbBus::watch(int result) noexcept {
    if (result == LIBUSB_ERROR_NO_DEVICE) gone_ = true;
    return result;
}

std::vector<std::uint8_t> LibusbBus::deviceDescriptor() const { return deviceDescriptor_; }

std::vector<std::uint8_t> LibusbBus::configurationDescriptor() const { return configuration_; }

std::uint8_t LibusbBus::configurationValue() const {
    std::lock_guard guard(lock_);
    return configurationValue_;
}

NTSTATUS LibusbBus::refuseIfPortDown(PIRP irp, PURB urb) noexcept {
    if (!gone_.load()) return STATUS_SUCCESS;
    if (urb != nullptr) urb->UrbHeader.Status = USBD_STATUS_DEVICE_GONE;
    complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    return STATUS_DEVICE_NOT_CONNECTED;
}

// A device that answers is connected and enabled; libusb sees no disabled port.
ULONG LibusbBus::portStatusBits() noexcept { return USBD_PORT_CONNECTED | USBD_PORT_ENABLED; }

// The reset keeps the configuration and the claimed interface; a device that comes back as a
// different one has, for this bus, left.
NTSTATUS LibusbBus::resetPort(PIRP irp) noexcept {
    NTSTATUS refused = refuseIfPortDown(irp, nullptr);
    if (refused != STATUS_SUCCESS) return refused;
    int result = watch(libusb_reset_device(handle_));
    if (result == LIBUSB_ERROR_NOT_FOUND) gone_ = true;
    NTSTATUS status = result == 0    ? STATUS_SUCCESS
                      : gone_.load() ? STATUS_DEVICE_NOT_CONNECTED
                                     : STATUS_UNSUCCESSFUL;
    complete(irp, status, 0);
    return status;
}

// Read from the device each time, into the request's own buffer, so the driver's checks see
// exactly what the device sent.
NTSTATUS LibusbBus::getDescriptor(PIRP irp, _URB_CONTROL_DESCRIPTOR_REQUEST& request) noexcept {
    std::uint8_t* buffer = urbTransferBuffer(request.TransferBufferMDL, request.TransferBuffer);
    if ((buffer == nullptr && request.TransferBufferLength != 0) ||
        request.TransferBufferLength > 0xFFFF) {
        return refuse(irp, request.Hdr, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    int got = watch(libusb_control_transfer(
        handle_, kGetDescriptorRequestType, LIBUSB_REQUEST_GET_DESCRIPTOR,
        static_cast<std::uint16_t>(request.DescriptorType << 8 | request.Index), request.LanguageId,
        buffer, static_cast<std::uint16_t>(request.TransferBufferLength), kControlTimeoutMs));
    if (got < 0) {
        request.TransferBufferLength = 0;
        USBD_STATUS usbd = USBD_STATUS_SUCCESS;
        NTSTATUS status = failureOf(got, &usbd);
        return refuse(irp, request.Hdr, status, usbd);
    }
    request.TransferBufferLength = static_cast<ULONG>(got);
    request.Hdr.Status = USBD_STATUS_SUCCESS;
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

// The interface was claimed at open, in the configuration the device was in. Selecting another
// configuration value is refused rather than pulling the device from under other interfaces'
// drivers; a null descriptor deconfigures: the pipes go, the claim stays until the bus closes.
NTSTATUS LibusbBus::selectConfiguration(PIRP irp, _URB_SELECT_CONFIGURATION& request) noexcept {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        verifier::report("URB_FUNCTION_SELECT_CONFIGURATION sent above passive level");
    }
    cancelAllAndWait();
    {
        std::lock_guard guard(lock_);
        pipes_.clear();
        configurationValue_ = 0;
    }
    if (request.ConfigurationDescriptor == nullptr) {
        request.Hdr.Status = USBD_STATUS_SUCCESS;
        complete(irp, STATUS_SUCCESS, 0);
        return STATUS_SUCCESS;
    }
    int active = 0;
    watch(libusb_get_configuration(handle_, &active));
    const std::uint8_t value = request.ConfigurationDescriptor->bConfigurationValue;
    if (active != value) {
        return refuse(irp, request.Hdr, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    std::vector<std::unique_ptr<Pipe>> pipes;
    NTSTATUS status = fillInterfaceInformation(request, [&](const USBD_PIPE_INFORMATION& info) {
        auto pipe = std::make_unique<Pipe>();
        pipe->info = info;
        pipe->info.PipeHandle = pipe.get();
        pipes.push_back(std::move(pipe));
        return pipes.back().get();
    });
    if (NT_SUCCESS(status)) {
        std::lock_guard guard(lock_);
        pipes_ = std::move(pipes);
        configurationValue_ = value;
        request.ConfigurationHandle = &configurationValue_;
        request.Hdr.Status = USBD_STATUS_SUCCESS;
    }
    complete(irp, status, 0);
    return status;
}

}  // namespace bayercam::host
