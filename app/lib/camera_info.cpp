// What `info` shows: the camera's USB identity, the pipes the driver opened, the format range
// the capture pin offers.
#include <cstdio>

#include "app/lib/camera.h"
#include "app/lib/camera_impl.h"
#include "driver/device/camera_device.h"

namespace bayercam {

namespace {

std::string printed(const char* format, auto... values) {
    char line[160];
    std::snprintf(line, sizeof(line), format, values...);
    return line;
}

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

void describeUsb(sim::SimulatedCamera& camera, std::vector<std::string>& lines) {
    const std::vector<std::uint8_t> device = camera.deviceDescriptor();
    if (device.size() >= 18) {
        lines.push_back(
            printed("USB device: vendor 0x%04X, product 0x%04X, release %X.%02X, "
                    "%u configuration(s)",
                    device[8] | device[9] << 8, device[10] | device[11] << 8, device[13],
                    device[12], device[17]));
    }
    const std::vector<std::uint8_t> config = camera.configurationDescriptor();
    if (config.size() >= 9) {
        lines.push_back(printed("Configuration %u: %u interface(s), %u bytes of descriptors",
                                config[5], config[4], unsigned(config.size())));
    }
}

void describePipes(const CameraDevice& device, std::vector<std::string>& lines) {
    const PUSBD_INTERFACE_INFORMATION interface = device.usb.interfaceInfo;
    if (interface == nullptr) {
        lines.push_back("Pipes: none open");
        return;
    }
    lines.push_back(printed("Interface %u: %u pipe(s)", interface->InterfaceNumber,
                            unsigned(interface->NumberOfPipes)));
    for (ULONG i = 0; i < interface->NumberOfPipes; ++i) {
        const USBD_PIPE_INFORMATION& pipe = interface->Pipes[i];
        lines.push_back(printed("  pipe %u: endpoint 0x%02X %s %s, packets of %u bytes",
                                unsigned(i), pipe.EndpointAddress, pipeTypeName(pipe.PipeType),
                                (pipe.EndpointAddress & 0x80) != 0 ? "in" : "out",
                                pipe.MaximumPacketSize));
    }
}

void describeRange(const CameraDevice& device, std::vector<std::string>& lines) {
    const KS_DATARANGE_VIDEO& range = device.captureDescriptors.dataRange;
    const KS_BITMAPINFOHEADER& bitmap = range.VideoInfoHeader.bmiHeader;
    lines.push_back(printed("Offered format: RGB32 %dx%d, %u bytes a frame, %lld x 100 ns a frame",
                            int(bitmap.biWidth), int(bitmap.biHeight), unsigned(bitmap.biSizeImage),
                            static_cast<long long>(range.VideoInfoHeader.AvgTimePerFrame)));
    const KS_VIDEO_STREAM_CONFIG_CAPS& caps = range.ConfigCaps;
    lines.push_back(
        printed("Data range: input %dx%d, output %dx%d to %dx%d, "
                "frame interval %lld to %lld x 100 ns",
                int(caps.InputSize.cx), int(caps.InputSize.cy), int(caps.MinOutputSize.cx),
                int(caps.MinOutputSize.cy), int(caps.MaxOutputSize.cx), int(caps.MaxOutputSize.cy),
                static_cast<long long>(caps.MinFrameInterval),
                static_cast<long long>(caps.MaxFrameInterval)));
}

}  // namespace

std::vector<std::string> Camera::describeDevice() const {
    std::vector<std::string> lines;
    describeUsb(*impl_->camera, lines);
    const std::wstring& instance = impl_->bus->instancePath();
    lines.push_back("Instance path: " + std::string(instance.begin(), instance.end()));
    if (const CameraDevice* device = impl_->device()) {
        describePipes(*device, lines);
        describeRange(*device, lines);
    }
    lines.push_back("Settings store: " + impl_->registry.string() +
                    " (key Control\\Class\\<instance>\\Settings" +
                    (impl_->storeWritable ? ")" : "; read only)"));
    return lines;
}

}  // namespace bayercam
