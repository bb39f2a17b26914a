// What the simulated camera speaks: sensor geometry, endpoints, command codes and packet sizes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bayercam::sim {

inline constexpr int kSensorWidth = 1360;
inline constexpr int kSensorHeight = 1024;
inline constexpr std::size_t kFrameBytes = std::size_t{kSensorWidth} * kSensorHeight;

inline constexpr std::size_t kCommandPacketBytes = 64;
inline constexpr std::size_t kFramePacketBytes = 512;

inline constexpr std::uint8_t kCommandEndpoint = 0x01;  // OUT, pipe 0
inline constexpr std::uint8_t kReplyEndpoint = 0x82;    // IN, pipe 1
inline constexpr std::uint8_t kFrameEndpoint = 0x83;    // IN, pipe 2

inline constexpr std::uint16_t kVendorId = 0x1D50;
inline constexpr std::uint16_t kProductId = 0x6A31;

enum class CommandCode : std::uint8_t {
    RequestFrame = 0x02,
    ReadsPosted = 0x03,
    WriteRegister = 0x04,
    Prepare = 0x06,
    SensorStart = 0x0A,
    Control = 0x25,
    ClockQuery = 0x26,
    RawPacket = 0x40,
    ReadByte = 0x41,
};

// Control selector of the external trigger mode (value 1 on, 0 off).
inline constexpr std::uint8_t kTriggerSelector = 11;

inline constexpr std::size_t kCameraMemoryBytes = 64 * 1024;

}  // namespace bayercam::sim
