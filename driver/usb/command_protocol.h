// The camera's 64-byte command packets: commands on pipe 0, replies on pipe 1.
#pragma once

#include "driver/device/camera_device.h"

enum class CommandCode : UCHAR {
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

constexpr ULONG COMMAND_PIPE = 0;
constexpr ULONG REPLY_PIPE = 1;

// Longest wait for one command or reply transfer, in milliseconds; a transfer still pending
// then is cancelled and fails. Driver-wide; read atomically at each transfer.
extern volatile LONG commandTimeoutMs;

// Moves one 64-byte packet on the pipe, in the direction of the pipe's endpoint. Passive level.
NTSTATUS TransferPacket(CameraDevice* device, ULONG pipe, PUCHAR packet, ULONG* transferred);
// True when the packet went out on pipe 0 whole (length bytes).
bool SendCommand(CameraDevice* device, ULONG length, PUCHAR packet);
// True when a whole 64-byte reply came in on pipe 1.
bool ReadReply(CameraDevice* device, PUCHAR packet);

// The device's commandPacket zero-filled with the code in byte 0. Caller holds the command lock.
PUCHAR StartCommandPacket(CameraDevice* device, CommandCode code);
// A query already built in commandPacket: send it, read its two replies into commandPacket;
// true with byte 0 of the second reply in *answer. Caller holds the command lock.
bool RunQuery(CameraDevice* device, UCHAR* answer);
