#include "app/lib/camera.h"

#include <cstdio>
#include <cstdlib>

#include "app/lib/camera_impl.h"
#include "app/lib/camera_lock.h"
#include "app/lib/settings_store.h"
#include "driver/public/bayercam.h"
#include "host/kernel/pool.h"
#include "host/kernel/registry_config.h"
#include "host/pnp/installed_driver.h"
#include "host/usb/libusb_bus.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"

namespace bayercam {

namespace {

std::shared_ptr<const sim::Scene> sceneOf(const CameraOptions& options) {
    switch (options.scene) {
        case CameraOptions::Scene::kMoving:
            return sim::makeMovingPattern();
        case CameraOptions::Scene::kPng:
            return sim::makePngScene(options.pngScene, sim::PngFit::Cover);
        case CameraOptions::Scene::kBars:
            break;
    }
    return sim::makeColorBars();
}

Status openSimulatedCamera(Camera::Impl& impl, const CameraOptions& options) {
    try {
        auto camera = std::make_unique<sim::SimulatedCamera>(sim::SimulatedCameraOptions{
            .pacing = options.framesPerSecond ? sim::FramePacing::FixedRate
                                              : sim::FramePacing::AsFastAsPossible,
            .framesPerSecond = options.framesPerSecond.value_or(30.0),
            .clockMode = static_cast<std::uint8_t>(options.clockMode),
            .exact = options.exact,
            .scene = sceneOf(options),
            .logPackets = false});
        impl.simulated = camera.get();
        impl.bus = std::make_unique<host::UsbBus>(*camera);
        impl.device = std::move(camera);
    } catch (const std::exception& error) {
        return Error{std::string("cannot set up the simulated camera: ") + error.what()};
    }
    return Done{};
}

Status openUsbCamera(Camera::Impl& impl, const UsbCameraChoice& choice) {
    try {
        impl.bus = std::make_unique<host::LibusbBus>(choice);
    } catch (const std::exception& error) {
        return Error{std::string("cannot open the USB camera: ") + error.what()};
    }
    return Done{};
}

}  // namespace

std::filesystem::path defaultRegistryPath() {
    const char* chosen = std::getenv("BAYERCAM_REGISTRY");
    if (chosen != nullptr && *chosen != '\0') return chosen;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state != '\0') {
        return std::filesystem::path(state) / "bayercam" / "registry.db";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "state" / "bayercam" /
           "registry.db";
}

std::string describeStatus(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

Camera::Impl::~Impl() {
    if (pin != nullptr) {
        client->setPinState(pin, KSSTATE_STOP);
        client->closePin(pin);
    }
    if (filter != nullptr) client->closeFilter(filter);  // the driver saves the settings here
    if (handle != nullptr) client->detachDevice(handle);
    client.reset();
    if (bus) host::unbindDeviceRegistryKey(bus->physicalDeviceObject());
    bus.reset();  // before the camera behind it
    device.reset();
    host::closeRegistry();
    // Freed pool blocks wait in a quarantine that catches late use; nothing can use them now.
    host::pool::flushQuarantine();
}

// A missing value loads as 0, which for a width or height is the whole sensor, as the driver's
// own default is.
Region Camera::Impl::storedRegion() const {
    const auto stored = [this](CameraSetting setting) {
        return host::readDriverKeyDword(bus->physicalDeviceObject(), CAMERA_SETTINGS_KEY,
                                        CAMERA_SETTING_NAMES[setting])
            .value_or(0);
    };
    const CameraRegion request = LoadedRegionRequest(stored(SETTING_ROI_X), stored(SETTING_ROI_Y),
                                                     stored(SETTING_ROI_W), stored(SETTING_ROI_H));
    const CameraRegion taken =
        LimitCameraRegion(request.x, request.y, request.width, request.height);
    return Region{taken.x, taken.y, taken.width, taken.height};
}

Result<std::unique_ptr<Camera>> Camera::open(const CameraOptions& options,
                                             const std::filesystem::path& registry) {
    auto impl = std::make_unique<Impl>();
    impl->registry = registry.empty() ? defaultRegistryPath() : registry;
    const Result<StoreAccess> access = inspectSettingsStore(impl->registry);
    if (!access) return access.error();
    impl->storeWritable = access.value() == StoreAccess::kWritable;
    impl->framesPerSecond = options.framesPerSecond;
    Status attached =
        options.usb ? openUsbCamera(*impl, *options.usb) : openSimulatedCamera(*impl, options);
    if (!attached) return attached.error();
    // The instance path comes from the device's ids (and a real camera's serial), so every
    // process reaches the same stored settings, and each camera its own.
    const std::wstring& wide = impl->bus->instancePath();
    const std::string instancePath(wide.begin(), wide.end());
    Result<std::unique_ptr<CameraLock>> lock = CameraLock::take(instancePath, impl->registry);
    if (!lock) return lock.error();
    impl->lock = std::move(lock).value();
    // The driver opens its store for writing; a store it may only read is read from a copy.
    if (!impl->storeWritable) {
        Result<std::unique_ptr<StoreSnapshot>> snapshot = StoreSnapshot::take(impl->registry);
        if (!snapshot) return snapshot.error();
        impl->snapshot = std::move(snapshot).value();
    }
    host::setRegistryPath(impl->snapshot ? impl->snapshot->path() : impl->registry);
    host::bindDeviceRegistryKey(impl->bus->physicalDeviceObject(), instancePath);
    impl->client = std::make_unique<host::ks::KsClient>();
    NTSTATUS status = impl->client->loadDriver(host::installedCameraDriver());
    if (status != STATUS_SUCCESS)
        return Error{"the driver did not load: " + describeStatus(status)};
    status = impl->client->attachDevice(impl->bus->physicalDeviceObject(), &impl->handle);
    if (status != STATUS_SUCCESS) {
        impl->handle = nullptr;
        return Error{"the camera did not start: " + describeStatus(status)};
    }
    status = impl->client->openFilter(impl->handle, L"GLOBAL", &impl->filter);
    if (status != STATUS_SUCCESS) {
        impl->filter = nullptr;
        return Error{"the capture filter did not open: " + describeStatus(status)};
    }
    // The device's start has just loaded the stored settings, the region among them.
    impl->region = impl->storedRegion();
    return std::unique_ptr<Camera>(new Camera(std::move(impl)));
}

Camera::Camera(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Camera::~Camera() = default;

const std::filesystem::path& Camera::registryPath() const { return impl_->registry; }

std::optional<std::chrono::microseconds> Camera::frameInterval() const {
    if (!impl_->framesPerSecond) return std::nullopt;
    return std::chrono::microseconds(std::int64_t(1e6 / *impl_->framesPerSecond + 0.5));
}

CameraFrameCounts Camera::cameraFrameCounts() const {
    if (impl_->simulated == nullptr) return {};
    const sim::FrameCounters counters = impl_->simulated->counters();
    return CameraFrameCounts{counters.delivered, counters.missed, counters.abandoned};
}

}  // namespace bayercam
