#include "sim/descriptors.h"

#include "sim/camera_protocol.h"

namespace bayercam::sim {
namespace {

constexpr std::uint8_t kBulk = 2;
constexpr std::uint8_t kInterrupt = 3;

void put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void addInterface(std::vector<std::uint8_t>& out, std::uint8_t number, std::uint8_t endpoints) {
    out.insert(out.end(), {9, 4, number, 0, endpoints, 0xFF, 0x00, 0x00, 0});
}

void addEndpoint(std::vector<std::uint8_t>& out, std::uint8_t address, std::uint8_t type,
                 unsigned maxPacket) {
    out.insert(out.end(), {7, 5, address, type});
    put16(out, maxPacket);
    out.push_back(type == kInterrupt ? 1 : 0);
}

void addClassSpecific(std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {5, 0x24, 0x01, 0x10, 0x01});
}

}  // namespace

std::vector<std::uint8_t> makeDeviceDescriptor() {
    std::vector<std::uint8_t> out{18, 1};
    put16(out, 0x0200);
    out.insert(out.end(), {0xFF, 0xFF, 0xFF, 64});
    put16(out, kVendorId);
    put16(out, kProductId);
    put16(out, 0x0100);
    out.insert(out.end(), {1, 2, 3, 1});
    return out;
}

std::vector<std::uint8_t> makeConfigurationDescriptor(DescriptorVariant variant) {
    std::vector<std::uint8_t> out{9, 2, 0, 0, 1, 1, 0, 0x80, 250};
    switch (variant) {
        case DescriptorVariant::InterfaceWithoutPipes:
            addInterface(out, 0, 0);
            break;
        case DescriptorVariant::TwoPipes:
            addInterface(out, 0, 2);
            addEndpoint(out, kCommandEndpoint, kBulk, 64);
            addEndpoint(out, kReplyEndpoint, kBulk, 64);
            break;
        default:
            addInterface(out, 0, 3);
            if (variant == DescriptorVariant::ClassSpecificDescriptors) addClassSpecific(out);
            addEndpoint(out, kCommandEndpoint, kBulk, 64);
            addEndpoint(out, kReplyEndpoint, kBulk, 64);
            addEndpoint(out, kFrameEndpoint,
                        variant == DescriptorVariant::InterruptFramePipe ? kInterrupt : kBulk,
                        kFramePacketBytes);
            if (variant == DescriptorVariant::ClassSpecificDescriptors) addClassSpecific(out);
            break;
    }
    if (variant == DescriptorVariant::InterfacesZeroAndTwo) {
        out[4] = 2;
        addInterface(out, 2, 0);
    }
    out[2] = static_cast<std::uint8_t>(out.size() & 0xFF);
    out[3] = static_cast<std::uint8_t>(out.size() >> 8);
    return out;
}

}  // namespace bayercam::sim
