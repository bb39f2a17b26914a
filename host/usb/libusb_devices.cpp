// Enumerating, describing and opening devices through libusb.
#include "host/usb/libusb_devices.h"

#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

namespace bayercam::host {
namespace {

struct ContextCloser {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
struct ListFreer {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};

std::string nodeOf(const UsbDeviceInfo& info) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", info.bus, info.address);
    return path;
}

// Another process that holds the device node open, found through /proc; 0 when none is seen.
pid_t holderOf(const std::string& node) {
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = process.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        if (pid == getpid()) continue;
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(fd.path(), linkError) == node) return pid;
        }
    }
    return 0;
}

void explain(UsbDeviceInfo& info, int result) {
    const std::string node = nodeOf(info);
    switch (result) {
        case LIBUSB_ERROR_ACCESS:
            info.problem = UsbOpenProblem::Permission;
            info.reason = "permission denied on " + node + ": install the udev rule tools/udev/" +
                          kUdevRuleName + " (see the README) and plug the camera in again";
            break;
        case LIBUSB_ERROR_BUSY: {
            info.problem = UsbOpenProblem::Busy;
            info.reason = "busy: another program has claimed the camera";
            if (pid_t holder = holderOf(node); holder != 0) {
                info.reason += " (process " + std::to_string(holder) + ")";
            }
            break;
        }
        case LIBUSB_ERROR_NO_DEVICE:
            info.problem = UsbOpenProblem::Gone;
            info.reason = "the camera was unplugged";
            break;
        default:
            info.problem = UsbOpenProblem::Other;
            info.reason = std::string("cannot open ") + node + ": " + libusb_strerror(result);
            break;
    }
}

std::string serialOf(libusb_device_handle* handle, std::uint8_t index) {
    if (handle == nullptr || index == 0) return {};
    std::array<unsigned char, 256> text{};
    int length = libusb_get_string_descriptor_ascii(handle, index, text.data(), text.size());
    return length > 0 ? std::string(reinterpret_cast<const char*>(text.data()), length)
                      : std::string();
}

int firstInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return 0;
    int number = config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0
                     ? config->interface[0].altsetting[0].bInterfaceNumber
                     : 0;
    libusb_free_config_descriptor(config);
    return number;
}

// Opens the device and claims its first interface; the handle, or null with info explained.
libusb_device_handle* openAndClaim(libusb_device* device, UsbDeviceInfo& info, int* claimed) {
    libusb_device_handle* handle = nullptr;
    int result = libusb_open(device, &handle);
    if (result != 0) {
        explain(info, result);
        return nullptr;
    }
    libusb_set_auto_detach_kernel_driver(handle, 1);
    const int interface = firstInterface(device);
    result = libusb_claim_interface(handle, interface);
    if (result != 0) {
        explain(info, result);
        libusb_close(handle);
        return nullptr;
    }
    *claimed = interface;
    return handle;
}

bool matches(const UsbSelector& selector, const UsbDeviceInfo& info) {
    return info.vendor == selector.vendor && info.product == selector.product &&
           (!selector.bus || *selector.bus == info.bus) &&
           (!selector.address || *selector.address == info.address);
}

std::string selectionText(const UsbSelector& selector) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", selector.vendor, selector.product);
    std::string text = ids;
    if (selector.serial) text += " with serial " + *selector.serial;
    if (selector.bus && selector.address) {
        text += " at bus " + std::to_string(*selector.bus) + " address " +
                std::to_string(*selector.address);
    }
    return text;
}

// Sleeps in libusb's event handling until a device with the selector's ids is plugged in.
// Registered before the devices are listed, so an arrival between listing and waiting counts.
class ArrivalWatch {
  public:
    ArrivalWatch(libusb_context* context, const UsbSelector& selector) : context_(context) {
        if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) &&
            libusb_hotplug_register_callback(
                context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, LIBUSB_HOTPLUG_NO_FLAGS,
                selector.vendor, selector.product, LIBUSB_HOTPLUG_MATCH_ANY, &ArrivalWatch::arrived,
                &arrivals_, &callback_) == LIBUSB_SUCCESS) {
            registered_ = true;
        }
    }
    ~ArrivalWatch() {
        if (registered_) libusb_hotplug_deregister_callback(context_, callback_);
    }
    ArrivalWatch(const ArrivalWatch&) = delete;
    ArrivalWatch& operator=(const ArrivalWatch&) = delete;

    // False when the deadline passed first. Without hot-plug support, the devices are listed
    // again twice a second instead.
    bool awaitUntil(std::chrono::steady_clock::time_point deadline) {
        using namespace std::chrono;
        for (int seen = arrivals_; arrivals_ == seen;) {
            const auto left = duration_cast<microseconds>(deadline - steady_clock::now());
            if (left <= microseconds::zero()) return false;
            if (!registered_) {
                std::this_thread::sleep_for(std::min<microseconds>(left, milliseconds(500)));
                return true;
            }
            timeval step{static_cast<time_t>(left.count() / 1000000),
                         static_cast<suseconds_t>(left.count() % 1000000)};
            libusb_handle_events_timeout_completed(context_, &step, nullptr);
        }
        return true;
    }

  private:
    static int LIBUSB_CALL arrived(libusb_context*, libusb_device*, libusb_hotplug_event,
                                   void* arrivals) {
        ++*static_cast<int*>(arrivals);
        return 0;  // stay registered: the arrival may be another camera than the one chosen
    }

    libusb_context* context_;
    libusb_hotplug_callback_handle callback_{};
    bool registered_ = false;
    int arrivals_ = 0;
};

libusb_device_handle* openAttached(libusb_context* context, const UsbSelector& selector,
                                   int* claimedInterface) {
    libusb_device** raw = nullptr;
    ssize_t count = libusb_get_device_list(context, &raw);
    if (count < 0) throw UsbOpenError(UsbOpenProblem::Other, "cannot list the USB devices");
    std::unique_ptr<libusb_device*, ListFreer> list(raw);
    std::optional<UsbDeviceInfo> refused;
    for (ssize_t i = 0; i < count; ++i) {
        UsbDeviceInfo info = libusb_detail::describe(list.get()[i], nullptr);
        if (!matches(selector, info)) continue;
        libusb_device_handle* handle = openAndClaim(list.get()[i], info, claimedInterface);
        if (handle == nullptr) {
            if (!refused) refused = info;
            continue;
        }
        if (selector.serial &&
            libusb_detail::describe(list.get()[i], handle).serial != *selector.serial) {
            libusb_release_interface(handle, *claimedInterface);
            libusb_close(handle);
            continue;
        }
        return handle;
    }
    if (refused) {
        throw UsbOpenError(refused->problem,
                           "USB camera " + selectionText(selector) + ": " + refused->reason);
    }
    throw UsbOpenError(UsbOpenProblem::NotFound,
                       "no USB camera " + selectionText(selector) + " is attached");
}

}  // namespace

namespace libusb_detail {

UsbDeviceInfo describe(libusb_device* device, libusb_device_handle* handle) {
    UsbDeviceInfo info;
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    info.vendor = descriptor.idVendor;
    info.product = descriptor.idProduct;
    info.bus = libusb_get_bus_number(device);
    info.address = libusb_get_device_address(device);
    std::array<std::uint8_t, 8> ports{};
    int depth = libusb_get_port_numbers(device, ports.data(), ports.size());
    info.port = std::to_string(info.bus);
    for (int i = 0; i < depth; ++i) {
        info.port += i == 0 ? '-' : '.';
        info.port += std::to_string(ports[i]);
    }
    info.serial = serialOf(handle, descriptor.iSerialNumber);
    return info;
}

libusb_device_handle* openMatching(libusb_context* context, const UsbSelector& selector,
                                   int* claimedInterface) {
    if (selector.arrivalWait <= std::chrono::milliseconds::zero()) {
        return openAttached(context, selector, claimedInterface);
    }
    ArrivalWatch watch(context, selector);
    const auto deadline = std::chrono::steady_clock::now() + selector.arrivalWait;
    for (;;) {
        try {
            return openAttached(context, selector, claimedInterface);
        } catch (const UsbOpenError& error) {
            if (error.problem() != UsbOpenProblem::NotFound) throw;
            if (!watch.awaitUntil(deadline)) {
                char waited[32];
                std::snprintf(waited, sizeof waited, "%g s",
                              std::chrono::duration<double>(selector.arrivalWait).count());
                throw UsbOpenError(UsbOpenProblem::NotFound,
                                   "no USB camera " + selectionText(selector) +
                                       " was plugged in within " + waited);
            }
        }
    }
}

}  // namespace libusb_detail

std::vector<UsbDeviceInfo> listUsbDevices(const UsbSelector& selector) {
    libusb_context* raw = nullptr;
    if (libusb_init(&raw) != 0) return {};
    std::unique_ptr<libusb_context, ContextCloser> context(raw);
    libusb_device** rawList = nullptr;
    ssize_t count = libusb_get_device_list(context.get(), &rawList);
    if (count < 0) return {};
    std::unique_ptr<libusb_device*, ListFreer> list(rawList);
    std::vector<UsbDeviceInfo> found;
    for (ssize_t i = 0; i < count; ++i) {
        UsbDeviceInfo info = libusb_detail::describe(list.get()[i], nullptr);
        if (info.vendor != selector.vendor || info.product != selector.product) continue;
        int interface = 0;
        if (libusb_device_handle* handle = openAndClaim(list.get()[i], info, &interface)) {
            info.serial = libusb_detail::describe(list.get()[i], handle).serial;
            libusb_release_interface(handle, interface);
            libusb_close(handle);
        }
        found.push_back(info);
    }
    return found;
}

}  // namespace bayercam::host
