// What `info` shows: the camera's USB descriptors and the pipes of the configuration its driver
// selected, both as the bus has them, and the format range the capture pin offers.
#include <cstdio>

#include "app/lib/camera.h"
#include "app/lib/camera_impl.h"

namespace bayercam {

namespace {

std::string printed(const char* format, auto... values) {
    char line[160];
    std::snprintf(line, sizeof(line), format, values...);
    return line;
}

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
                 std::vector<std::string>& lines) {
    if (device.size() >= 18) {
        lines.push_back(
            printed("USB device: vendor 0x%04X, product 0x%04X, release %X.%02X, "
                    "%u configuration(s)",
                    device[8] | device[9] << 8, device[10] | device[11] << 8, device[13],
                    device[12], device[17]));
    }
    if (config.size() >= 9) {
        lines.push_back(printed("Configuration %u: %u interface(s), %u bytes of descriptors",
                                config[5], config[4], unsigned(config.size())));
    }
}

// The pipes a driver gets when it selects the configuration: the endpoints of its first
// interface, in descriptor order.
void describePipes(const std::vector<std::uint8_t>& config, std::uint8_t selected,
                   std::vector<std::string>& lines) {
    if (selected == 0 || config.size() < 9 || config[5] != selected) {
        lines.push_back("Pipes: none open");
        return;
    }
    bool inInterface = false;
    unsigned pipe = 0;
    for (std::size_t at = config[0]; at + 2 <= config.size() && config[at] >= 2; at += config[at]) {
        const std::uint8_t* d = config.data() + at;
        if (at + d[0] > config.size()) break;
        if (d[1] == USB_INTERFACE_DESCRIPTOR_TYPE && d[0] >= 9) {
            if (inInterface) break;
            inInterface = true;
            lines.push_back(printed("Interface %u: %u pipe(s)", d[2], d[4]));
        } else if (d[1] == USB_ENDPOINT_DESCRIPTOR_TYPE && d[0] >= 7 && inInterface) {
            lines.push_back(printed("  pipe %u: endpoint 0x%02X %s %s, packets of %u bytes", pipe++,
                                    d[2], pipeTypeName(d[3]),
                                    USB_ENDPOINT_DIRECTION_IN(d[2]) != 0 ? "in" : "out",
                                    unsigned(d[4] | (d[5] & 0x07) << 8)));
        }
    }
}

void describeRange(const KS_DATARANGE_VIDEO& range, std::vector<std::string>& lines) {
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
    const std::vector<std::uint8_t> config = impl_->bus->configurationDescriptor();
    describeUsb(impl_->bus->deviceDescriptor(), config, lines);
    const std::wstring& instance = impl_->bus->instancePath();
    lines.push_back("Instance path: " + std::string(instance.begin(), instance.end()));
    describePipes(config, impl_->bus->configurationValue(), lines);
    if (Result<KS_DATARANGE_VIDEO> range = impl_->offeredRange())
        describeRange(range.value(), lines);
    lines.push_back("Settings store: " + impl_->registry.string() +
                    " (key Control\\Class\\<instance>\\Settings)");
    return lines;
}

}  // namespace bayercam
