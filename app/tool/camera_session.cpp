#include "app/tool/camera_session.h"

namespace bayercam::app {

void CameraChoice::addOptions(CLI::App& tool) {
    tool.add_option("--camera", camera,
                    "sim[:scene=bars|moving|FILE.png][,exact][,fps=N|max][,clock=N], the "
                    "simulated camera; or usb (the first attached camera with the build's ids), "
                    "usb:VID:PID, usb:VID:PID:SERIAL or usb:VID:PID:BUS:ADDRESS")
        ->capture_default_str();
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
    const CameraOptions options = take(parseCameraOptions(camera));
    return take(Camera::open(options, registry));
}

ToolError toolError(const Error& error) {
    return ToolError(
        error.kind == Error::Kind::kBadValue ? ExitStatus::kUsage : ExitStatus::kFailure,
        error.message);
}

}  // namespace bayercam::app
