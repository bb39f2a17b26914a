// What `info` shows: the camera's USB descriptors and the pipes of the configuration its driver
// selected, both as the bus has them, the format range the capture pin offers, and the store.
#include "app/lib/camera.h"
#include "app/lib/camera_impl.h"

namespace bayercam {

namespace {

const char* pipeTypeName(std::uint8_t attributes) {
    switch (attributes & USB_ENDPOINT_TYPE_MASK) {
        case 0:
            return "control";
        case 1:
            return "isochronous";
        case 2:
            return "bulk";
        default:
            return "interrupt";
    }
}

void describeUsb(const std::vector<std::uint8_t>& device, const std::vector<std::uint8_t>& config,
                 DeviceDescription& description) {
    if (device.size() >= 18) {
        description.vendorId = std::uint16_t(device[8] | device[9] << 8);
        description.productId = std::uint16_t(device[10] | device[11] << 8);
        description.release = std::uint16_t(device[12] | device[13] << 8);
        description.configurations = device[17];
    }
    if (config.size() >= 9) {
        description.configurationValue = config[5];
        description.interfaces = config[4];
        description.descriptorBytes = config.size();
    }
}

// The pipes a driver gets when it selects the configuration: the endpoints of its first
// interface, in descriptor order.
void describePipes(const std::vector<std::uint8_t>& config, std::uint8_t selected,
                   DeviceDescription& description) {
    if (selected == 0 || config.size() < 9 || config[5] != selected) return;
    for (std::size_t at = config[0]; at + 2 <= config.size() && config[at] >= 2; at += config[at]) {
        const std::uint8_t* d = config.data() + at;
        if (at + d[0] > config.size()) break;
        if (d[1] == USB_INTERFACE_DESCRIPTOR_TYPE && d[0] >= 9) {
            if (description.interfaceNumber) break;
            description.interfaceNumber = d[2];
        } else if (d[1] == USB_ENDPOINT_DESCRIPTOR_TYPE && d[0] >= 7 &&
                   description.interfaceNumber) {
            description.pipes.push_back(
                {d[2], pipeTypeName(d[3]), std::uint16_t(d[4] | (d[5] & 0x07) << 8)});
        }
    }
}

void describeRange(const KS_DATARANGE_VIDEO& range, DeviceDescription& description) {
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
    const std::vector<std::uint8_t> config = impl_->bus->configurationDescriptor();
    describeUsb(impl_->bus->deviceDescriptor(), config, description);
    const std::wstring& instance = impl_->bus->instancePath();
    description.instancePath.assign(instance.begin(), instance.end());
    describePipes(config, impl_->bus->configurationValue(), description);
    if (Result<KS_DATARANGE_VIDEO> range = impl_->offeredRange()) describeRange(range.value(), description);
    description.store = impl_->registry;
    description.storeWritable = impl_->storeWritable;
    return description;
}

}  // namespace bayercam
