// Finding cameras among the USB devices libusb sees: which ones match a selection, what each
// is (ids, bus and address, port, serial) and whether this process may open it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace bayercam::host {

// Which device to take: the first one that matches every field given.
struct UsbSelector {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<std::string> serial;
    std::optional<std::uint8_t> bus;
    std::optional<std::uint8_t> address;
    // How long opening waits for a matching device to be plugged in when none is attached.
    std::chrono::milliseconds arrivalWait{0};
};

// Why a device cannot be opened, in the words a person acts on.
enum class UsbOpenProblem { None, NotFound, Permission, Busy, Gone, Other };

struct UsbDeviceInfo {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::string port;    // the chain of port numbers from the root hub, e.g. "1-4.2"
    std::string serial;  // empty when the device has none or could not be opened to read it
    UsbOpenProblem problem = UsbOpenProblem::None;
    std::string reason;  // what is wrong, when problem is not None
};

class UsbOpenError : public std::runtime_error {
  public:
    UsbOpenError(UsbOpenProblem problem, const std::string& message)
        : std::runtime_error(message), problem_(problem) {}
    UsbOpenProblem problem() const noexcept { return problem_; }

  private:
    UsbOpenProblem problem_;
};

// Every attached device with the selector's ids (bus, address and serial ignored), each opened
// briefly to read its serial and to learn whether it can be claimed.
std::vector<UsbDeviceInfo> listUsbDevices(const UsbSelector& selector);

// The udev rule a person installs to use the camera without root.
inline constexpr const char* kUdevRuleName = "70-bayercam.rules";

namespace libusb_detail {

// Opens the first device that matches and claims the first interface of its active
// configuration, detaching a kernel driver for as long as the interface is claimed; with an
// arrival wait, a matching device plugged in meanwhile is taken. Throws UsbOpenError saying why
// no device could be opened.
libusb_device_handle* openMatching(libusb_context* context, const UsbSelector& selector,
                                   int* claimedInterface);

// What a device is, read without claiming it; the serial needs the handle.
UsbDeviceInfo describe(libusb_device* device, libusb_device_handle* handle);

}  // namespace libusb_detail
}  // namespace bayercam::host
