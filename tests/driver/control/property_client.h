// The capture fixture with the camera property set reached the way a client reaches it: raw
// request and data buffers through the class driver.
#pragma once

#include <array>
#include <cstdint>

#include "driver/control/camera_properties.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::testing {

// Room for the largest value layout (96 bytes); the request and the data share the layout.
using PropertyBuffer = std::array<std::uint8_t, sizeof(CameraPacketValue)>;

class PropertyTest : public CaptureTest {
  protected:
    // One request: the header of request is filled in; data starts as a copy of request.
    NTSTATUS send(ULONG id, ULONG verb, PropertyBuffer& data, ULONG length);
    NTSTATUS get(ULONG id, LONG* value);
    NTSTATUS set(ULONG id, LONG value, LONG second = 0);
    // get that must succeed.
    LONG read(ULONG id);
    NTSTATUS setRegion(LONG x, LONG y, LONG width, LONG height);
};

// The minimum request and data size of an id.
ULONG PropertySize(ULONG id);

// One request on a filter: the header of data is filled in, the request is a copy of data.
NTSTATUS SendCameraProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter, ULONG id,
                            ULONG verb, PropertyBuffer& data, ULONG length);
NTSTATUS GetCameraProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter, ULONG id,
                           LONG* value);
NTSTATUS SetCameraProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter, ULONG id,
                           LONG value, LONG second = 0);
// A region request (property 44).
NTSTATUS SetCameraRegion(host::ks::KsClient& client, host::ks::KsFilterHandle filter, LONG x,
                         LONG y, LONG width, LONG height);

}  // namespace bayercam::testing
