#include "tests/fuzz/camera_rig.h"

#include "driver/entry/driver_entry.h"
#include "driver/usb/command_protocol.h"
#include "driver/usb/frame_transfer.h"
#include "host/kernel/pool.h"
#include "host/kernel/registry_config.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/support/test_camera.h"
#include "tests/support/usb_port.h"

namespace bayercam::fuzz {

CameraRig::CameraRig() {
    // A camera that does not answer costs the run this long per exchange, not seconds.
    InterlockedExchange(&commandTimeoutMs, 50);
    InterlockedExchange(&transferTimeoutMs, 200);
    client_ = std::make_unique<host::ks::KsClient>();
    if (client_->loadDriver(DriverEntry) != STATUS_SUCCESS) fuzzFailure("the driver did not load");
}

CameraRig::~CameraRig() {
    unplug();
    client_.reset();
    // Blocks waiting in the pool's quarantine would count as leaked when the process ends.
    host::pool::flushQuarantine();
}

void CameraRig::plug(host::UsbFunction& function, const std::string& instancePath) {
    unplug();
    bus_ = testing::PlugIn(function, instancePath);
}

void CameraRig::unplug() {
    detach();
    testing::Unplug(bus_);
}

void CameraRig::rebindRegistry(const std::string& instancePath) {
    host::bindDeviceRegistryKey(bus_->physicalDeviceObject(), instancePath);
}

NTSTATUS CameraRig::attach() {
    detach();
    NTSTATUS status = client_->attachDevice(bus_->physicalDeviceObject(), &device_);
    // A device whose start failed stays added; it is removed like any other.
    if (client_->deviceObject(device_) == nullptr) device_ = nullptr;
    return status;
}

void CameraRig::detach() {
    closeFilter();
    if (device_ == nullptr) return;
    client_->detachDevice(device_);
    device_ = nullptr;
}

NTSTATUS CameraRig::openFilter() {
    closeFilter();
    if (device_ == nullptr) return STATUS_DEVICE_NOT_READY;
    NTSTATUS status = client_->openFilter(device_, L"GLOBAL", &filter_);
    if (!NT_SUCCESS(status)) filter_ = nullptr;
    return status;
}

void CameraRig::closeFilter() {
    if (filter_ == nullptr) return;
    client_->closeFilter(filter_);
    filter_ = nullptr;
}

CameraDevice* CameraRig::camera() {
    return device_ == nullptr ? nullptr : CameraDeviceOf(client_->deviceObject(device_));
}

OpenCamera::OpenCamera() : camera(testing::TestCameraOptions()) {
    rig.plug(camera, "USB\\VID_1D50&PID_6A31\\fuzz");
    if (rig.attach() != STATUS_SUCCESS) fuzzFailure("the simulated camera did not start");
    if (rig.openFilter() != STATUS_SUCCESS) fuzzFailure("the filter did not open");
}

}  // namespace bayercam::fuzz
