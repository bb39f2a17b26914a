// The client side of the class driver, as applications use it: load a minidriver, attach it
// to a device, open filters, send property requests, negotiate a format, create pins, change
// their format and state, queue frame buffers and wait for the frames that come back.
// Every call returns the platform's status; nothing throws. Device arrival, start, stop and
// removal come from one thread, as PnP requests do; the other calls from any thread.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "host/ks/frame_queue.h"
#include "platform/ks.h"

namespace bayercam::host::ks {

class KsDevice;
class KsFilter;
class KsPin;

using KsDeviceHandle = KsDevice*;
using KsFilterHandle = KsFilter*;
using KsPinHandle = KsPin*;

class KsClient {
  public:
    KsClient() noexcept;
    // Detaches every device still attached (closing its pins and filters) and unloads.
    ~KsClient();
    KsClient(const KsClient&) = delete;
    KsClient& operator=(const KsClient&) = delete;

    // Runs the minidriver's load entry with a fresh driver object; returns its status.
    NTSTATUS loadDriver(
        PDRIVER_INITIALIZE driverEntry,
        PCWSTR registryPath = L"\\Registry\\Machine\\System\\Services\\ks") noexcept;
    PDRIVER_OBJECT driverObject() noexcept { return driver_.get(); }

    // Device arrival over lowerDevice: Add, then Start.
    NTSTATUS attachDevice(PDEVICE_OBJECT lowerDevice, KsDeviceHandle* device) noexcept;
    NTSTATUS startDevice(KsDeviceHandle device) noexcept;
    NTSTATUS stopDevice(KsDeviceHandle device) noexcept;
    // Removal: closes what is still open, stops, frees the device's bag, deletes the device.
    NTSTATUS detachDevice(KsDeviceHandle device) noexcept;
    // The KSDEVICE the minidriver sees (its context, its Started flag).
    PKSDEVICE deviceObject(KsDeviceHandle device) noexcept;

    // A device that is not started refuses with STATUS_DEVICE_NOT_READY.
    NTSTATUS openFilter(KsDeviceHandle device, PCWSTR referenceString,
                        KsFilterHandle* filter) noexcept;
    NTSTATUS closeFilter(KsFilterHandle filter) noexcept;
    PKSFILTER filterObject(KsFilterHandle filter) noexcept;

    // A property request with raw buffers; the verb is in the request's Flags. The class driver
    // answers a request of the pin property set (a KSP_PIN) itself: KSPROPERTY_PIN_DATARANGES
    // gives a pin factory's data ranges, as a KSMULTIPLE_ITEM followed by each range.
    NTSTATUS property(KsFilterHandle filter, const void* request, ULONG requestLength, void* data,
                      ULONG dataLength, ULONG* returned = nullptr) noexcept;
    // Data intersection for pin factory pinId; a zero dataLength asks for the size.
    NTSTATUS intersect(KsFilterHandle filter, ULONG pinId, const KSDATARANGE* range, void* data,
                       ULONG dataLength, ULONG* returned) noexcept;

    NTSTATUS createPin(KsFilterHandle filter, ULONG pinId, const KSDATAFORMAT* format,
                       KsPinHandle* pin) noexcept;
    NTSTATUS setPinFormat(KsPinHandle pin, const KSDATAFORMAT* format) noexcept;
    NTSTATUS setPinState(KsPinHandle pin, KSSTATE state) noexcept;
    NTSTATUS getPinState(KsPinHandle pin, KSSTATE* state) noexcept;
    NTSTATUS closePin(KsPinHandle pin) noexcept;
    PKSPIN pinObject(KsPinHandle pin) noexcept;

    // A frame buffer of dataSize bytes; its header carries KS_FRAME_INFO when asked.
    NTSTATUS queueFrame(KsPinHandle pin, ULONG dataSize, bool withFrameInfo = true) noexcept;
    // A buffer the client had back before, queued again as it is (no fresh zeroed memory per
    // frame); its size is the frame's extent.
    NTSTATUS queueFrame(KsPinHandle pin, std::vector<uint8_t> buffer,
                        bool withFrameInfo = true) noexcept;
    // The next frame handed back: STATUS_SUCCESS, or STATUS_TIMEOUT after timeout.
    NTSTATUS waitFrame(KsPinHandle pin, std::chrono::milliseconds timeout,
                       StreamFrame* frame) noexcept;

  private:
    KsDevice* checkDevice(KsDeviceHandle device) noexcept;
    KsDevice* lastDevice() noexcept;
    void closeEverything(KsDevice* device) noexcept;

    std::unique_ptr<DRIVER_OBJECT> driver_;
    std::unique_ptr<DRIVER_EXTENSION> extension_;
    // Clients look devices up from any thread while PnP adds and removes them.
    std::mutex devicesMutex_;
    std::vector<std::unique_ptr<KsDevice>> devices_;  // guarded by devicesMutex_
};

}  // namespace bayercam::host::ks
