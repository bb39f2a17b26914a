// What `info` shows: the camera's USB identity, the pipes the driver opened, the format range
// the capture pin offers.
#include "app/lib/camera.h"
#include "app/lib/camera_impl.h"
#include "driver/device/camera_device.h"

namespace bayercam {

namespace {

const char* pipeTypeName(USBD_PIPE_TYPE type) {
    switch (type) {
        case UsbdPipeTypeControl:
            return "control";
        case UsbdPipeTypeIsochronous:
            return "isochronous";
        case UsbdPipeTypeBulk:
            return "bulk";
        case UsbdPipeTypeInterrupt:
            return "interrupt";
    }
    return "unknown";
}

void describeUsb(sim::SimulatedCamera& camera, DeviceDescription& description) {
    const std::vector<std::uint8_t> device = camera.deviceDescriptor();
    if (device.size() >= 18) {
        description.vendorId = std::uint16_t(device[8] | device[9] << 8);
        description.productId = std::uint16_t(device[10] | device[11] << 8);
        description.release = std::uint16_t(device[12] | device[13] << 8);
        description.configurations = device[17];
    }
    const std::vector<std::uint8_t> config = camera.configurationDescriptor();
    if (config.size() >= 9) {
        description.configurationValue = config[5];
        description.interfaces = config[4];
        description.descriptorBytes = config.size();
    }
}

void describePipes(const CameraDevice& device, DeviceDescription& description) {
    const PUSBD_INTERFACE_INFORMATION interface = device.usb.interfaceInfo;
    if (interface == nullptr) return;
    description.interfaceNumber = interface->InterfaceNumber;
    for (ULONG i = 0; i < interface->NumberOfPipes; ++i) {
        const USBD_PIPE_INFORMATION& pipe = interface->Pipes[i];
        description.pipes.push_back(
            {pipe.EndpointAddress, pipeTypeName(pipe.PipeType), pipe.MaximumPacketSize});
    }
}

void describeRange(const CameraDevice& device, DeviceDescription& description) {
    const KS_DATARANGE_VIDEO& range = device.captureDescriptors.dataRange;
    const KS_BITMAPINFOHEADER& bitmap = range.VideoInfoHeader.bmiHeader;
    description.offered = {bitmap.biWidth, bitmap.biHeight, 0, bitmap.biSizeImage,
                           range.VideoInfoHeader.AvgTimePerFrame};
    const KS_VIDEO_STREAM_CONFIG_CAPS& caps = range.ConfigCaps;
    description.input = {caps.InputSize.cx, caps.InputSize.cy};
    description.smallestOutput = {caps.MinOutputSize.cx, caps.MinOutputSize.cy};
    description.largestOutput = {caps.MaxOutputSize.cx, caps.MaxOutputSize.cy};
    description.shortestFrameInterval = caps.MinFrameInterval;
    description.longestFrameInterval = caps.MaxFrameInterval;
}

}  // namespace

DeviceDescription Camera::describeDevice() const {
    DeviceDescription description;
    describeUsb(*impl_->camera, description);
    const std::wstring& instance = impl_->bus->instancePath();
    description.instancePath.assign(instance.begin(), instance.end());
    if (const CameraDevice* device = impl_->device()) {
        describePipes(*device, description);
        describeRange(*device, description);
    }
    description.store = impl_->registry;
    description.storeWritable = impl_->storeWritable;
    return description;
}

}  // namespace bayercam
