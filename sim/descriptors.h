// Device and configuration descriptors of the simulated camera, with variants for tests.
#pragma once

#include <cstdint>
#include <vector>

namespace bayercam::sim {

enum class DescriptorVariant {
    Standard,                  // interface 0: commands OUT, replies IN, frames IN (all bulk)
    InterfacesZeroAndTwo,      // two interfaces numbered 0 and 2 (no 1); 2 has no endpoints
    InterfaceWithoutPipes,     // interface 0 with no endpoints
    TwoPipes,                  // interface 0 with commands and replies only
    InterruptFramePipe,        // the frame endpoint is an interrupt endpoint
    ClassSpecificDescriptors,  // class-specific descriptors between and after the endpoints
};

std::vector<std::uint8_t> makeDeviceDescriptor();
std::vector<std::uint8_t> makeConfigurationDescriptor(DescriptorVariant variant);

}  // namespace bayercam::sim
