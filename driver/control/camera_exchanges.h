// Command exchanges that clients ask for directly: a raw command packet and a byte of camera
// memory. Passive level; each holds the device's command lock for its whole exchange.
#pragma once

#include "driver/device/camera_device.h"

// Sends the RawPacket command with the first min(count, 63) payload bytes behind its code
// (none when count is 0 or negative); true when the camera took the whole packet.
bool SendRawPacket(CameraDevice* device, LONG count, const UCHAR* payload);
// Reads the byte at memoryReadAddress (bits 0 to 15) into *out; on any failed step, or when out
// is null, *out is left as it was.
void ReadCameraByte(CameraDevice* device, UCHAR* out);
