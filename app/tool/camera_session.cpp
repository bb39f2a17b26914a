#include "app/tool/camera_session.h"

#include <cmath>

namespace bayercam::app {

namespace {
constexpr double kLongestWaitSeconds = 86400;
}  // namespace

void CameraChoice::addOptions(CLI::App& tool) {
    tool.add_option("--camera", camera,
                    "sim[:scene=bars|moving|FILE.png][,exact][,fps=N|max][,clock=N], the "
                    "simulated camera; or usb (the first attached camera with the build's ids), "
                    "usb:VID:PID, usb:VID:PID:SERIAL or usb:VID:PID:BUS:ADDRESS")
        ->capture_default_str();
    tool.add_option("--wait", waitSeconds,
                    "With a USB camera: wait up to SECONDS for one to be plugged in (default 0)")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](std::string& text) {
                double seconds = 0;
                const bool valid = CLI::detail::lexical_cast(text, seconds) && seconds >= 0 &&
                                   seconds <= kLongestWaitSeconds;  // false for NaN too
                return valid ? std::string()
                             : "a wait is 0 to " + CLI::detail::to_string(kLongestWaitSeconds) +
                                   " seconds, not " + text;
            },
            "", "SECONDS"));
    registryOption =
        tool.add_option("--registry", registry,
                        "Settings store file (default: " + defaultRegistryPath().string() + ")");
}

void CameraChoice::checkRegistry() const {
    if (registryOption->count() > 0 && registry.empty()) {
        throw usageError("--registry needs the name of a file; leave it out for the default store");
    }
}

std::unique_ptr<Camera> CameraChoice::open() const {
    checkRegistry();
    CameraOptions options = take(parseCameraOptions(camera));
    if (options.usb) {
        options.usb->arrivalWait = std::chrono::milliseconds(std::llround(waitSeconds * 1000));
    }
    return take(Camera::open(options, registry));
}

ToolError toolError(const Error& error) {
    return ToolError(
        error.kind == Error::Kind::kBadValue ? ExitStatus::kUsage : ExitStatus::kFailure,
        error.message);
}

}  // namespace bayercam::app
