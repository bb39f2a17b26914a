#include "sim/descriptors.h"

#include "sim/camera_protocol.h"

namespace bayercam::sim {
namespace {

constexpr std::uint8_t kBulk = 2;
constexpr std::uint8_t kInterrupt = 3;

// Appends descriptor bytes one at a time.
class DescriptorWriter {
  public:
    void bytes(std::initializer_list<std::uint8_t> values) {
        for (std::uint8_t v : values) out_.push_back(v);
    }
    void word(unsigned value) {
        bytes({static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)});
    }
    std::vector<std::uint8_t>& out() { return out_; }

  private:
    std::vector<std::uint8_t> out_;
};

void addInterface(DescriptorWriter& out, std::uint8_t number, std::uint8_t endpoints) {
    out.bytes({9, 4, number, 0, endpoints, 0xFF, 0x00, 0x00, 0});
}

void addEndpoint(DescriptorWriter& out, std::uint8_t address, std::uint8_t type,
                 unsigned maxPacket) {
    out.bytes({7, 5, address, type});
    out.word(maxPacket);
    out.bytes({static_cast<std::uint8_t>(type == kInterrupt ? 1 : 0)});
}

void addClassSpecific(DescriptorWriter& out) { out.bytes({5, 0x24, 0x01, 0x10, 0x01}); }

}  // namespace

std::vector<std::uint8_t> makeDeviceDescriptor() {
    DescriptorWriter out;
    out.bytes({18, 1});
    out.word(0x0200);
    out.bytes({0xFF, 0xFF, 0xFF, 64});
    out.word(kVendorId);
    out.word(kProductId);
    out.word(0x0100);
    out.bytes({1, 2, 3, 1});
    return std::move(out.out());
}

std::vector<std::uint8_t> makeConfigurationDescriptor(DescriptorVariant variant) {
    DescriptorWriter out;
    out.bytes({9, 2, 0, 0, 1, 1, 0, 0x80, 250});
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
    if (variant == DescriptorVariant::InterfacesZeroAndTwo) addInterface(out, 2, 0);
    std::vector<std::uint8_t>& bytes = out.out();
    bytes[2] = static_cast<std::uint8_t>(bytes.size() & 0xFF);
    bytes[3] = static_cast<std::uint8_t>(bytes.size() >> 8);
    bytes[4] = variant == DescriptorVariant::InterfacesZeroAndTwo ? 2 : 1;
    return std::move(bytes);
}

}  // namespace bayercam::sim
