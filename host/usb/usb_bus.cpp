// Port requests and the bus thread of the USB bus stand-in.
#include "host/usb/usb_bus.h"

#include <pthread.h>

#include <mutex>
#include <set>
#include <string>

namespace bayercam::host {
namespace {

// Ports of the buses alive in this process. A new bus takes the lowest free one, so a camera
// plugged in again where it was gets its old instance path, and with it its stored settings.
std::mutex portsLock;
std::set<unsigned> portsInUse;  // guarded by portsLock

unsigned takePort() {
    std::lock_guard guard(portsLock);
    unsigned port = 1;
    while (portsInUse.count(port) != 0) ++port;
    portsInUse.insert(port);
    return port;
}

void releasePort(unsigned port) {
    std::lock_guard guard(portsLock);
    portsInUse.erase(port);
}

std::wstring makeInstancePath(const std::vector<std::uint8_t>& deviceDescriptor, unsigned port) {
    unsigned vendor = 0;
    unsigned product = 0;
    if (deviceDescriptor.size() >= sizeof(USB_DEVICE_DESCRIPTOR)) {
        vendor = deviceDescriptor[8] | (deviceDescriptor[9] << 8);
        product = deviceDescriptor[10] | (deviceDescriptor[11] << 8);
    }
    return usbInstancePath(vendor, product, L"5&2C1A3F&0&" + std::to_wstring(port));
}

}  // namespace

UsbBus::UsbBus(UsbFunction& function) : function_(function) {
    port_ = takePort();
    setInstancePath(makeInstancePath(function_.deviceDescriptor(), port_));
    function_.bind(this);
    thread_ = std::thread([this] { run(); });
    pthread_setname_np(thread_.native_handle(), "usb-bus");
}

UsbBus::~UsbBus() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    function_.bind(nullptr);
    std::vector<Completion> done;
    {
        std::unique_lock lock(lock_);
        abortAllLocked(STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE, done);
    }
    completeRequests(done);
    releasePort(port_);
}

std::size_t UsbBus::pendingTransfers() const {
    std::lock_guard guard(lock_);
    std::size_t count = 0;
    for (const auto& pipe : pipes_) count += pipe->queue.size();
    return count;
}

std::vector<std::uint8_t> UsbBus::deviceDescriptor() const { return function_.deviceDescriptor(); }

std::vector<std::uint8_t> UsbBus::configurationDescriptor() const {
    return function_.configurationDescriptor();
}

std::uint8_t UsbBus::configurationValue() const {
    std::lock_guard guard(lock_);
    return configurationValue_;
}

// A device that has gone refuses everything; a disabled port moves no data.
NTSTATUS UsbBus::refuseIfPortDown(PIRP irp, PURB urb) noexcept {
    UsbPortState port = function_.portState();
    NTSTATUS status = STATUS_SUCCESS;
    if (!port.connected) {
        status = STATUS_DEVICE_NOT_CONNECTED;
        if (urb != nullptr) urb->UrbHeader.Status = USBD_STATUS_DEVICE_GONE;
    } else if (!port.enabled && urb != nullptr) {
        status = STATUS_UNSUCCESSFUL;
        urb->UrbHeader.Status = USBD_STATUS_DEV_NOT_RESPONDING;
    }
    if (status != STATUS_SUCCESS) complete(irp, status, 0);
    return status;
}

ULONG UsbBus::portStatusBits() noexcept {
    UsbPortState port = function_.portState();
    return (port.connected ? USBD_PORT_CONNECTED : 0) | (port.enabled ? USBD_PORT_ENABLED : 0);
}

// The reset keeps the configuration and the queued transfers, as the platform restores the
// configuration after resetting the port.
NTSTATUS UsbBus::resetPort(PIRP irp) noexcept {
    NTSTATUS refused = refuseIfPortDown(irp, nullptr);
    if (refused != STATUS_SUCCESS) return refused;
    function_.resetPort();
    functionChanged();
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

void UsbBus::functionChanged() noexcept {
    {
        std::lock_guard guard(lock_);
        workSignalled_ = true;
    }
    changed_.notify_all();
}

void UsbBus::run() {
    std::unique_lock lock(lock_);
    while (!stopping_) {
        workSignalled_ = false;
        lock.unlock();
        failWhilePortDown();
        lock.lock();
        UsbClock::time_point wakeAt = UsbClock::time_point::max();
        bool progress = false;
        for (std::size_t i = 0; i < pipes_.size() && !stopping_; ++i) {
            progress |= serviceHead(lock, *pipes_[i], wakeAt);
        }
        if (progress || workSignalled_ || stopping_) continue;
        if (wakeAt == UsbClock::time_point::max()) {
            changed_.wait(lock);
        } else {
            changed_.wait_until(lock, wakeAt);
        }
    }
}

}  // namespace bayercam::host
