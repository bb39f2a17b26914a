// Reading one raw frame: command packets around a train of 64 KiB bulk reads posted at once on
// the frame pipe, a bounded wait for all of them, and cancel of what is still pending.
#pragma once

#include "driver/device/camera_device.h"

constexpr ULONG FRAME_PIPE = 2;
constexpr ULONG FRAME_CHUNK_SIZE = 65536;

// Longest wait for a frame in milliseconds, shared by all devices; read atomically at each
// wait, written by atomic exchange.
extern volatile LONG transferTimeoutMs;

// CameraOps slot 2; the grabber thread only, one read at a time per device. Passive level.
bool ReadFrame(CameraDevice* device, PUCHAR buffer, bool* ok);
NTSTATUS ReadFrameChunked(CameraDevice* device, ULONG length, PUCHAR buffer);
// RequestFrame, or ReadsPosted once the reads are posted; waits at most commandTimeoutMs.
VOID SendTransferControl(CameraDevice* device, bool posted);
// Completion routine of every chunk transfer; dispatch level or below, any processor.
NTSTATUS ChunkCompleted(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
