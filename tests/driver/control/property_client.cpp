#include "tests/driver/control/property_client.h"

#include <cstring>

namespace bayercam::testing {

NTSTATUS PropertyTest::send(ULONG id, ULONG verb, PropertyBuffer& data, ULONG length) {
    return SendCameraProperty(*client, filter, id, verb, data, length);
}

NTSTATUS PropertyTest::get(ULONG id, LONG* value) {
    return GetCameraProperty(*client, filter, id, value);
}

NTSTATUS PropertyTest::set(ULONG id, LONG value, LONG second) {
    return SetCameraProperty(*client, filter, id, value, second);
}

LONG PropertyTest::read(ULONG id) {
    LONG value = -12345;
    EXPECT_EQ(get(id, &value), STATUS_SUCCESS) << "get of property " << id;
    return value;
}

NTSTATUS PropertyTest::setRegion(LONG x, LONG y, LONG width, LONG height) {
    return SetCameraRegion(*client, filter, x, y, width, height);
}

NTSTATUS SetCameraRegion(host::ks::KsClient& client, host::ks::KsFilterHandle filter, LONG x,
                         LONG y, LONG width, LONG height) {
    CameraRoiValue region{};
    region.subSampling = 3;
    region.x = x;
    region.y = y;
    region.width = width;
    region.height = height;
    PropertyBuffer data{};
    std::memcpy(data.data(), &region, sizeof(region));
    return SendCameraProperty(client, filter, ULONG(CameraProperty::Roi), KSPROPERTY_TYPE_SET, data,
                              sizeof(region));
}

ULONG PropertySize(ULONG id) {
    if (id == 44) return 48;
    if (id == 59 || id == 60) return 96;
    return 32;
}

NTSTATUS SendCameraProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter, ULONG id,
                            ULONG verb, PropertyBuffer& data, ULONG length) {
    KSPROPERTY header{};
    header.Set = CameraPropertySetId;
    header.Id = id;
    header.Flags = verb;
    std::memcpy(data.data(), &header, sizeof(header));
    PropertyBuffer request = data;
    return client.property(filter, request.data(), length, data.data(), length);
}

NTSTATUS GetCameraProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter, ULONG id,
                           LONG* value) {
    PropertyBuffer data{};
    NTSTATUS status =
        SendCameraProperty(client, filter, id, KSPROPERTY_TYPE_GET, data, PropertySize(id));
    std::memcpy(value, data.data() + offsetof(CameraPropertyValue, value), sizeof(LONG));
    return status;
}

NTSTATUS SetCameraProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter, ULONG id,
                           LONG value, LONG second) {
    PropertyBuffer data{};
    std::memcpy(data.data() + offsetof(CameraPropertyValue, value), &value, sizeof(LONG));
    std::memcpy(data.data() + offsetof(CameraPropertyValue, secondValue), &second, sizeof(LONG));
    return SendCameraProperty(client, filter, id, KSPROPERTY_TYPE_SET, data, PropertySize(id));
}

}  // namespace bayercam::testing
