// Register writes, control commands, the clock query and the register-backed settings.
// Each exchange holds the device's command lock from building the packet to its last reply.
#include "driver/control/sensor.h"

#include "driver/usb/command_protocol.h"

namespace {

constexpr ULONG EXPOSURE_MIN = 3;
constexpr ULONG EXPOSURE_MAX = 1070;
constexpr ULONG GLOBAL_GAIN_MAX = 1023;
constexpr int TRIGGER_SELECTOR = 11;
constexpr LONGLONG CONTROL_SETTLE = -800;  // 0.08 ms

// Value mask and serial bit count of a register, by address range.
void RegisterWidth(ULONG reg, ULONG* mask, UCHAR* bitCount) {
    if (reg < 256) {
        *mask = 0x3F;
        *bitCount = 16;
    } else if (reg < 384) {
        *mask = 0xFFFF;
        *bitCount = 26;
    } else {
        *mask = 0x3FFFFF;
        *bitCount = 32;
    }
}

}  // namespace

VOID DelayThread(LONGLONG interval) {
    LARGE_INTEGER delay;
    delay.QuadPart = interval;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
}

bool WriteSensorRegister(CameraDevice* device, ULONG reg, LONG value) {
    // The word carries ten bits of address: a larger one would write the register its low
    // bits name.
    if (reg >= SENSOR_REGISTER_COUNT) return false;
    ULONG mask;
    UCHAR bitCount;
    RegisterWidth(reg, &mask, &bitCount);
    ULONG word = ((static_cast<ULONG>(value) & mask) << 10) + (reg & 0x3FF);
    CommandLockGuard guard(device);
    PUCHAR packet = StartCommandPacket(device, CommandCode::WriteRegister);
    packet[1] = bitCount;
    packet[2] = static_cast<UCHAR>(word);
    packet[3] = static_cast<UCHAR>(word >> 8);
    packet[4] = static_cast<UCHAR>(word >> 16);
    packet[5] = static_cast<UCHAR>(word >> 24);
    if (!SendCommand(device, COMMAND_PACKET_SIZE, packet)) return false;
    device->registerShadow[reg] = static_cast<ULONG>(value);
    return true;
}

bool SendControl(CameraDevice* device, int selector, int value) {
    CommandLockGuard guard(device);
    PUCHAR packet = StartCommandPacket(device, CommandCode::Control);
    packet[1] = static_cast<UCHAR>(selector);
    packet[2] = static_cast<UCHAR>(value);
    return SendCommand(device, COMMAND_PACKET_SIZE, packet);
}

int QueryClock(CameraDevice* device) {
    CommandLockGuard guard(device);
    PUCHAR packet = StartCommandPacket(device, CommandCode::ClockQuery);
    packet[1] = 0x0F;
    UCHAR mode;
    if (RunQuery(device, &mode)) device->clock = mode == 3 ? 2 : mode;
    return static_cast<int>(device->clock);
}

bool SetExposure(CameraDevice* device, ULONG value) {
    ULONG e = value < EXPOSURE_MIN ? EXPOSURE_MIN : value > EXPOSURE_MAX ? EXPOSURE_MAX : value;
    WriteSensorRegister(device, 152, 1);
    if (e == EXPOSURE_MAX) {
        WriteSensorRegister(device, 154, 1);
        WriteSensorRegister(device, 157, 1);
        WriteSensorRegister(device, 160, 1);
        WriteSensorRegister(device, 163, 1);
    } else {
        WriteSensorRegister(device, 154, 0);
        WriteSensorRegister(device, 157, 1);
        WriteSensorRegister(device, 160, 0);
        WriteSensorRegister(device, 163, 0);
        WriteSensorRegister(device, 158, e & 0x3F);
        WriteSensorRegister(device, 159, (e >> 6) & 0x3F);
        WriteSensorRegister(device, 161, e & 0x3F);
        WriteSensorRegister(device, 162, (e >> 6) & 0x3F);
    }
    device->exposure = e;
    return true;
}

bool SetGlobalGain(CameraDevice* device, ULONG value) {
    ULONG g = value > GLOBAL_GAIN_MAX ? GLOBAL_GAIN_MAX : value;
    bool low = WriteSensorRegister(device, 6, g & 0x3F);
    bool high = WriteSensorRegister(device, 7, (g >> 6) & 0x0F);
    if (!low || !high) return false;
    device->globalGain = g;
    return true;
}

bool SetExternalTrigger(CameraDevice* device, bool on) {
    if (!SendControl(device, TRIGGER_SELECTOR, on ? 1 : 0)) return false;
    ULONG r32 = device->registerShadow[32];
    ULONG r33 = device->registerShadow[33];
    if (on) {
        WriteSensorRegister(device, 32, r32 & ~0x10u);
        WriteSensorRegister(device, 33, (r33 & ~0x1Fu) + 0x1C);
    } else {
        WriteSensorRegister(device, 32, r32 | 0x10u);
        WriteSensorRegister(device, 33, (r33 & ~0x1Fu) + 1);
    }
    device->exTrigger = on ? 1 : 0;
    return true;
}

// Under the settings lock: it rewrites the trigger, exposure and gain settings that property
// requests change from other threads.
bool StartSensor(CameraDevice* device) {
    SettingsLockGuard guard(device);
    InitSensor(device);
    device->rawOffset = 0;
    device->rawStride = SENSOR_WIDTH;
    device->rawFrameSize = SENSOR_WIDTH * SENSOR_HEIGHT;
    static constexpr int controls[][2] = {{0, 0}, {1, 64}, {2, 21}, {3, 0}};
    for (const auto& control : controls) {
        SendControl(device, control[0], control[1]);
        DelayThread(CONTROL_SETTLE);
    }
    UCHAR start[COMMAND_PACKET_SIZE] = {};
    start[0] = static_cast<UCHAR>(CommandCode::SensorStart);
    start[1] = 1;
    {
        CommandLockGuard guard(device);
        SendCommand(device, COMMAND_PACKET_SIZE, start);
    }
    SendControl(device, 14, 0);
    DelayThread(CONTROL_SETTLE);
    SetExternalTrigger(device, (device->exTrigger & 0xFF) != 0);
    SetExposure(device, device->exposure);
    bool result = SetGlobalGain(device, device->globalGain);
    device->bayerPhase = device->nativeBayerPhase;
    return result;
}
