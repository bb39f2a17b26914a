// Camera properties by name: requests in the property set's value layouts, and the checks a
// person needs before a value is sent (the driver itself clamps silently).
#include <cstring>

#include "app/lib/camera.h"
#include "app/lib/camera_impl.h"
#include "driver/public/bayercam.h"

namespace bayercam {

namespace {

template <class Value>
NTSTATUS sendLayout(host::ks::KsClient& client, host::ks::KsFilterHandle filter, std::uint32_t id,
                    ULONG verb, Value* value) {
    value->property.Set = CameraPropertySetId;
    value->property.Id = id;
    value->property.Flags = verb;
    Value request = *value;
    return client.property(filter, &request, sizeof(request), value, sizeof(*value));
}

Error refused(const PropertyInfo& info, std::string_view verb, NTSTATUS status) {
    return Error{"the camera refused to " + std::string(verb) + " " + std::string(info.name) +
                 " (status " + describeStatus(status) + ")"};
}

}  // namespace

NTSTATUS Camera::Impl::sendValue(std::uint32_t id, ULONG verb, LONG* value, LONG second) {
    CameraPropertyValue data{};
    data.value = *value;
    data.secondValue = second;
    const NTSTATUS status = sendLayout(*client, filter, id, verb, &data);
    *value = data.value;
    return status;
}

Result<PropertyInfo> Camera::property(std::string_view nameOrId) const {
    return lookupProperty(nameOrId);
}

Result<std::int32_t> Camera::get(std::string_view nameOrId) {
    Result<PropertyInfo> info = property(nameOrId);
    if (!info) return info.error();
    if (!info.value().readable() || info.value().layout != ValueLayout::kPlain) {
        return Error{std::string(info.value().name) + " cannot be read" +
                         (info.value().id == 44 ? "; 'bayercam roi' shows the region" : ""),
                     Error::Kind::kBadValue};
    }
    LONG value = 0;
    const NTSTATUS status = impl_->sendValue(info.value().id, KSPROPERTY_TYPE_GET, &value);
    if (status != STATUS_SUCCESS) return refused(info.value(), "read", status);
    return std::int32_t(value);
}

Result<Range> Camera::range(std::string_view nameOrId) {
    Result<PropertyInfo> info = property(nameOrId);
    if (!info) return info.error();
    const PropertyInfo& p = info.value();
    if (!p.ranged()) return Error{std::string(p.name) + " has no published range"};
    Range range;
    for (auto [id, field] :
         {std::pair{*p.minimumId, &range.minimum}, std::pair{*p.maximumId, &range.maximum},
          std::pair{*p.defaultId, &range.defaultValue}}) {
        Result<std::int32_t> value = get(std::to_string(id));
        if (!value) return value.error();
        *field = value.value();
    }
    return range;
}

Result<std::int32_t> Camera::set(std::string_view nameOrId, std::int64_t value) {
    Result<PropertyInfo> info = property(nameOrId);
    if (!info) return info.error();
    const PropertyInfo& p = info.value();
    if (!p.writable() || p.layout != ValueLayout::kPlain) {
        return Error{std::string(p.name) + " cannot be set" +
                         (p.layout == ValueLayout::kRegion     ? "; use 'bayercam roi X Y W H'"
                          : p.layout == ValueLayout::kRegister ? "; use R[N]=VALUE"
                                                               : ""),
                     Error::Kind::kBadValue};
    }
    if (p.ranged()) {
        Result<Range> limits = range(nameOrId);
        if (!limits) return limits.error();
        if (value < limits.value().minimum || value > limits.value().maximum) {
            return Error{std::to_string(value) + " is out of range for " + std::string(p.name) +
                             ": " + std::to_string(limits.value().minimum) + " to " +
                             std::to_string(limits.value().maximum),
                         Error::Kind::kBadValue};
        }
    } else if (value < INT32_MIN || value > UINT32_MAX) {
        return Error{
            std::to_string(value) + " does not fit the 32-bit value of " + std::string(p.name),
            Error::Kind::kBadValue};
    }
    LONG sent = LONG(std::uint32_t(value));
    const NTSTATUS status = impl_->sendValue(p.id, KSPROPERTY_TYPE_SET, &sent);
    if (status != STATUS_SUCCESS) return refused(p, "set", status);
    // Re-initialising reloads the stored settings, the region too unless a pin holds it.
    if (p.id == ULONG(CameraProperty::Reinitialize) && impl_->pin == nullptr) {
        impl_->region = impl_->storedRegion();
    }
    if (!p.readable()) return std::int32_t(value);
    return get(nameOrId);
}

Status Camera::writeRegister(std::uint32_t n, std::uint32_t value) {
    if (n >= SENSOR_REGISTER_COUNT)
        return Error{"register " + std::to_string(n) + " is out of range: 0 to 1023",
                     Error::Kind::kBadValue};
    LONG reg = LONG(n);
    const NTSTATUS status = impl_->sendValue(57, KSPROPERTY_TYPE_SET, &reg, LONG(value));
    if (status != STATUS_SUCCESS) {
        return Error{"the camera did not take the write of register " + std::to_string(n)};
    }
    return Done{};
}

Result<std::uint32_t> Camera::readRegister(std::uint32_t n) {
    if (n >= SENSOR_REGISTER_COUNT)
        return Error{"register " + std::to_string(n) + " is out of range: 0 to 1023",
                     Error::Kind::kBadValue};
    LONG value = LONG(n);
    NTSTATUS status = impl_->sendValue(58, KSPROPERTY_TYPE_SET, &value);
    if (status == STATUS_SUCCESS) status = impl_->sendValue(58, KSPROPERTY_TYPE_GET, &value);
    if (status != STATUS_SUCCESS)
        return Error{"register " + std::to_string(n) + " could not be read back"};
    return std::uint32_t(value);
}

Result<std::uint8_t> Camera::readMemory(std::uint16_t address) {
    CameraPacketValue data{};
    data.address = address;
    NTSTATUS status = sendLayout(*impl_->client, impl_->filter, 60, KSPROPERTY_TYPE_SET, &data);
    // The driver succeeds even when the camera does not answer, leaving the byte as sent: 0.
    std::memset(data.payload, 0, sizeof(data.payload));
    if (status == STATUS_SUCCESS) {
        status = sendLayout(*impl_->client, impl_->filter, 60, KSPROPERTY_TYPE_GET, &data);
    }
    if (status != STATUS_SUCCESS) return Error{"camera memory could not be read"};
    return data.payload[0];
}

// The property set has no read of the region: its origin is what the library knows the driver
// took, its size what the capture pin offers (a region up to 7 pixels wider than the picture
// keeps its own width).
Result<Region> Camera::roi() const {
    Result<KS_DATARANGE_VIDEO> range = impl_->offeredRange();
    if (!range) return range.error();
    const KS_BITMAPINFOHEADER& picture = range.value().VideoInfoHeader.bmiHeader;
    Region region = impl_->region;
    if (PictureWidthOf(region.width) != picture.biWidth || region.height != picture.biHeight) {
        region.width = picture.biWidth;
        region.height = picture.biHeight;
    }
    return region;
}

Status Camera::setRoi(const Region& region) {
    if (impl_->pin != nullptr) return Error{"the region cannot change while streaming"};
    if (region.width <= 0 || region.height <= 0 || region.x < 0 || region.y < 0 ||
        region.x + std::int64_t(region.width) > SENSOR_WIDTH ||
        region.y + std::int64_t(region.height) > SENSOR_HEIGHT) {
        return Error{"region " + std::to_string(region.x) + "," + std::to_string(region.y) + "," +
                         std::to_string(region.width) + "," + std::to_string(region.height) +
                         " does not fit the sensor's 1360 x 1024 pixels",
                     Error::Kind::kBadValue};
    }
    CameraRoiValue data{};
    data.subSampling = 3;
    data.x = region.x;
    data.y = region.y;
    data.width = region.width;
    data.height = region.height;
    const NTSTATUS status =
        sendLayout(*impl_->client, impl_->filter, 44, KSPROPERTY_TYPE_SET, &data);
    if (status != STATUS_SUCCESS) return Error{"the camera refused the region"};
    const CameraRegion taken = LimitCameraRegion(region.x, region.y, region.width, region.height);
    impl_->region = Region{taken.x, taken.y, taken.width, taken.height};
    return Done{};
}

}  // namespace bayercam
