#include "app/lib/camera_list.h"

#include <cstdio>

#include "bayercam/usb_ids.h"
#include "host/usb/libusb_devices.h"
#include "sim/camera_protocol.h"

namespace bayercam {
namespace {

// usb:VID:PID:SERIAL when the serial tells the camera apart, else usb:VID:PID:BUS:ADDRESS.
std::string usbChoiceText(const host::UsbDeviceInfo& device) {
    char ids[64];
    std::snprintf(ids, sizeof ids, "usb:%04x:%04x:", device.vendor, device.product);
    std::string text = ids;
    if (!device.serial.empty() && device.serial.find(':') == std::string::npos) {
        return text.append(device.serial);
    }
    return text.append(std::to_string(device.bus))
        .append(":")
        .append(std::to_string(device.address));
}

}  // namespace

std::vector<CameraListing> listCameras() {
    std::vector<CameraListing> cameras;
    CameraListing simulated;
    simulated.camera = "sim";
    simulated.simulated = true;
    simulated.vendor = sim::kVendorId;
    simulated.product = sim::kProductId;
    cameras.push_back(simulated);
    host::UsbSelector selector;
    selector.vendor = kCameraUsbVendorId;
    selector.product = kCameraUsbProductId;
    for (const host::UsbDeviceInfo& device : host::listUsbDevices(selector)) {
        CameraListing listing;
        listing.camera = usbChoiceText(device);
        listing.vendor = device.vendor;
        listing.product = device.product;
        listing.bus = device.bus;
        listing.address = device.address;
        listing.port = device.port;
        listing.serial = device.serial;
        listing.openable = device.problem == host::UsbOpenProblem::None;
        listing.problem = device.reason;
        cameras.push_back(listing);
    }
    return cameras;
}

}  // namespace bayercam
