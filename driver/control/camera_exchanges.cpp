// The raw command packet and the camera memory byte read.
#include "driver/control/camera_exchanges.h"

#include "driver/usb/command_protocol.h"

namespace {

constexpr LONG RAW_PAYLOAD_MAX = COMMAND_PACKET_SIZE - 1;

}  // namespace

bool SendRawPacket(CameraDevice* device, LONG count, const UCHAR* payload) {
    CommandLockGuard guard(device);
    PUCHAR packet = StartCommandPacket(device, CommandCode::RawPacket);
    if (count > 0) {
        RtlCopyMemory(packet + 1, payload, count < RAW_PAYLOAD_MAX ? count : RAW_PAYLOAD_MAX);
    }
    return SendCommand(device, COMMAND_PACKET_SIZE, packet);
}

void ReadCameraByte(CameraDevice* device, UCHAR* out) {
    CommandLockGuard guard(device);
    PUCHAR packet = StartCommandPacket(device, CommandCode::ReadByte);
    packet[1] = 0x51;
    packet[2] = 2;
    packet[3] = 1;
    packet[4] = static_cast<UCHAR>(device->memoryReadAddress >> 8);
    packet[5] = static_cast<UCHAR>(device->memoryReadAddress);
    UCHAR answer;
    if (RunQuery(device, &answer) && out != nullptr) *out = answer;
}
