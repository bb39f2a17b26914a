#include "app/gst/camera_source.h"

#include "app/gst/setting_properties.h"

namespace bayercam::app {

namespace {

const std::size_t kFlipV = settingIndex("FlipV");

std::string describe(const Region& region) {
    return std::to_string(region.x) + "," + std::to_string(region.y) + "," +
           std::to_string(region.width) + "," + std::to_string(region.height);
}

}  // namespace

CameraSource::CameraSource(Warn warn)
    : warn_(std::move(warn)),
      pending_(settingProperties().size(), false),
      region_{0, 0, kSensorWidth, kSensorHeight} {
    for (const SettingProperty& setting : settingProperties()) {
        values_.push_back(setting.range.defaultValue);
    }
}

CameraSource::~CameraSource() { close(); }

// Its own inverse: the element's value to the driver's and back.
std::int32_t CameraSource::toDriver(std::size_t index, std::int32_t value) const {
    return index == kFlipV ? std::int32_t(value == 0) : value;
}

Status CameraSource::open(std::string_view camera, const std::filesystem::path& registry) {
    Result<CameraOptions> options = parseCameraOptions(camera);
    if (!options) return options.error();
    Result<std::unique_ptr<Camera>> opened = Camera::open(options.value(), registry);
    if (!opened) return opened.error();
    std::vector<std::string> warnings;
    Status status = openLocked(std::move(opened).value(), warnings);
    for (const std::string& warning : warnings) {
        if (!warning.empty()) warn_(warning);
    }
    return status;
}

Status CameraSource::openLocked(std::unique_ptr<Camera> camera,
                                std::vector<std::string>& warnings) {
    std::scoped_lock lock(streamMutex_, settingsMutex_);
    camera_ = std::move(camera);
    // FlipV is written whether or not it was set: the driver must hold the opposite.
    if (!pending_[kFlipV]) {
        if (Result<std::int32_t> stored = camera_->get("FlipV"))
            values_[kFlipV] = stored.value() != 0;
        pending_[kFlipV] = true;
    }
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i]) warnings.push_back(writeLocked(i, values_[i]));
        pending_[i] = false;
    }
    // A region that does not fit stays asked for, to be seen and mended.
    if (Status region = regionChanged_ ? camera_->setRoi(region_) : Done{}; !region) {
        closeLocked();
        return region.error();
    }
    regionChanged_ = false;
    Result<VideoFormat> format = camera_->negotiateFormat();
    if (!format) {
        closeLocked();
        return format.error();
    }
    region_ = camera_->roi().value();
    format_ = format.value();
    return Done{};
}

void CameraSource::close() {
    std::scoped_lock lock(streamMutex_, settingsMutex_);
    closeLocked();
}

void CameraSource::closeLocked() {
    if (!camera_) return;
    camera_->stop();
    const std::span<const SettingProperty> settings = settingProperties();
    for (std::size_t i = 0; i < settings.size(); ++i) {
        if (Result<std::int32_t> value = camera_->get(settings[i].name)) {
            values_[i] = toDriver(i, value.value());
        }
    }
    if (!regionChanged_) region_ = camera_->roi().value();
    // The driver stores its settings as the camera closes: FlipV as the element shows it.
    camera_->set("FlipV", values_[kFlipV]);
    camera_.reset();
    format_.reset();
    lender_->dropReturned();
}

std::string CameraSource::writeLocked(std::size_t index, std::int32_t value) {
    const SettingProperty& setting = settingProperties()[index];
    Result<std::int32_t> set = camera_->set(setting.name, toDriver(index, value));
    if (!set) return set.error().message;
    values_[index] = toDriver(index, set.value());
    if (values_[index] == value) return {};
    return hyphenatedName(setting.name) + " " + std::to_string(value) +
           " was not taken: the driver keeps " + std::to_string(values_[index]);
}

std::int32_t CameraSource::setting(std::size_t index) {
    std::lock_guard lock(settingsMutex_);
    if (camera_) {
        if (Result<std::int32_t> value = camera_->get(settingProperties()[index].name)) {
            values_[index] = toDriver(index, value.value());
        }
    }
    return values_[index];
}

void CameraSource::setSetting(std::size_t index, std::int32_t value) {
    std::string warning;
    {
        std::lock_guard lock(settingsMutex_);
        values_[index] = value;
        pending_[index] = !camera_;
        if (camera_) warning = writeLocked(index, value);
    }
    if (!warning.empty()) warn_(warning);
}

Region CameraSource::region() const {
    std::lock_guard lock(settingsMutex_);
    return region_;
}

void CameraSource::setRegionSide(std::int32_t Region::*side, std::int32_t value) {
    std::lock_guard lock(settingsMutex_);
    region_.*side = value;
    regionChanged_ = true;
}

std::optional<VideoFormat> CameraSource::format() const {
    std::lock_guard lock(settingsMutex_);
    return format_;
}

Result<bool> CameraSource::applyRegionChange() {
    std::lock_guard stream(streamMutex_);
    Region wanted;
    {
        std::lock_guard lock(settingsMutex_);
        if (!regionChanged_ || !camera_) return false;
        regionChanged_ = false;
        wanted = region_;
    }
    const Region current = camera_->roi().value();
    camera_->stop();  // the region is locked while a pin exists
    if (Status set = camera_->setRoi(wanted); !set) {
        warn_(set.error().message + "; the region stays " + describe(current));
        return false;
    }
    Result<VideoFormat> format = camera_->negotiateFormat();
    if (!format) return format.error();
    lender_->dropReturned();
    std::lock_guard lock(settingsMutex_);
    format_ = format.value();
    if (!regionChanged_) region_ = camera_->roi().value();
    return true;
}

Result<Frame> CameraSource::nextFrame(std::chrono::milliseconds wait, bool* restarted) {
    std::lock_guard stream(streamMutex_);
    *restarted = false;
    if (!camera_) return Error{"the camera is not open"};
    if (!camera_->streaming()) {
        if (Status started = camera_->start(); !started) return started.error();
        *restarted = true;
    }
    if (std::optional<std::vector<std::uint8_t>> memory = lender_->takeReturned()) {
        Frame returned;
        returned.pixels = std::move(*memory);
        camera_->recycle(std::move(returned));
    }
    return camera_->nextFrame(wait);
}

void CameraSource::stopStreaming() {
    std::lock_guard stream(streamMutex_);
    if (camera_) camera_->stop();
}

}  // namespace bayercam::app
