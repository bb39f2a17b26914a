// Camera properties by name: requests in the property set's value layouts, and the checks a
// person needs before a value is sent (the driver itself clamps silently).
#include <algorithm>
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
    if (!info.value().gettable()) {
        return Error{std::string(info.value().name) + " cannot be read" +
                         std::string(info.value().layout() == ValueLayout::kPlain
                                         ? ""
                                         : "; it is " + std::string(info.value().description)),
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

Status Camera::checkStoreWritable(std::string_view what) const {
    if (impl_->storeWritable) return Done{};
    return Error{"the settings store " + impl_->registry.string() + " is read only: " +
                 std::string(what) + " could not be stored"};
}

Status Camera::check(std::string_view nameOrId, std::int64_t value) {
    Result<PropertyInfo> info = property(nameOrId);
    if (!info) return info.error();
    const PropertyInfo& p = info.value();
    const std::string name(p.name);
    if (!p.settable()) {
        const bool ignored = p.writable() && p.layout() == ValueLayout::kPlain;
        return Error{name + " cannot be set; " +
                         (ignored ? std::string("the driver ignores writes to it")
                                  : "it is " + std::string(p.description)),
                     Error::Kind::kBadValue};
    }
    Limits limits{INT32_MIN, INT32_MAX};
    if (p.ranged()) {
        Result<Range> published = range(nameOrId);
        if (!published) return published.error();
        limits = {published.value().minimum, published.value().maximum};
    } else if (p.limits) {
        limits = *p.limits;
    }
    if (p.type == ValueType::kSwitch && (value < 0 || value > 1)) {
        return Error{name + " is a switch: 0 or 1, not " + std::to_string(value),
                     Error::Kind::kBadValue};
    }
    if (value < limits.minimum || value > limits.maximum) {
        return Error{std::to_string(value) + " is out of range for " + name + ": " +
                         std::to_string(limits.minimum) + " to " + std::to_string(limits.maximum),
                     Error::Kind::kBadValue};
    }
    if (changesStoredSettings(p)) return checkStoreWritable(name);
    return Done{};
}

Result<std::int32_t> Camera::set(std::string_view nameOrId, std::int64_t value) {
    if (Status checked = check(nameOrId, value); !checked) return checked.error();
    const PropertyInfo p = property(nameOrId).value();
    LONG sent = LONG(value);
    const NTSTATUS status = impl_->sendValue(p.id, KSPROPERTY_TYPE_SET, &sent);
    if (status != STATUS_SUCCESS) return refused(p, "set", status);
    // Re-initialising reloads the stored settings, the region too unless a pin holds it.
    if (p.id == ULONG(CameraProperty::Reinitialize) && impl_->pin == nullptr) {
        impl_->region = impl_->storedRegion();
    }
    if (!p.gettable()) return std::int32_t(value);
    // While white balance runs, a colour gain reads back as the gain it measured.
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

Status Camera::checkRoi(const Region& region) const {
    if (impl_->pin != nullptr) return Error{"the region cannot change while streaming"};
    const std::string text = std::to_string(region.x) + "," + std::to_string(region.y) + "," +
                             std::to_string(region.width) + "," + std::to_string(region.height);
    if (region.width <= 0 || region.height <= 0 || region.x < 0 || region.y < 0 ||
        region.x + std::int64_t(region.width) > SENSOR_WIDTH ||
        region.y + std::int64_t(region.height) > SENSOR_HEIGHT) {
        return Error{"region " + text + " does not fit the sensor's 1360 x 1024 pixels",
                     Error::Kind::kBadValue};
    }
    // The driver moves an odd left edge one pixel right and delivers whole groups of 8 columns.
    const CameraRegion taken = LimitCameraRegion(region.x, region.y, region.width, region.height);
    if (PictureWidthOf(taken.width) <= 0) {
        return Error{"region " + text + " gives an empty picture: its width is delivered in whole "
                         "groups of 8 pixels; the smallest region there is " +
                         std::to_string(std::min(region.x, CAMERA_REGION_MAX_X)) + " " +
                         std::to_string(region.y) + " 8 " + std::to_string(region.height),
                     Error::Kind::kBadValue};
    }
    return checkStoreWritable("the region");
}

Status Camera::setRoi(const Region& region) {
    if (Status checked = checkRoi(region); !checked) return checked;
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
