// Which camera to open and how the simulated one behaves, as the --camera option spells it:
// sim[:scene=bars|moving|FILE.png][,exact][,fps=N|max][,clock=N], or a camera on USB:
// usb (the first with the build's ids), usb:VID:PID, usb:VID:PID:SERIAL, usb:VID:PID:BUS:ADDRESS.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/lib/result.h"
#include "host/usb/libusb_devices.h"

namespace bayercam {

// A camera on USB: its ids, and a serial or a bus and address when several are attached.
using UsbCameraChoice = host::UsbSelector;

struct CameraOptions {
    std::optional<UsbCameraChoice> usb;  // nothing: the simulated camera below
    enum class Scene { kBars, kMoving, kPng };
    Scene scene = Scene::kBars;
    std::filesystem::path pngScene;  // kPng only
    bool exact = false;              // frames carry the scene's samples without sensor noise
    std::optional<double> framesPerSecond = 30.0;  // nothing: as fast as frames are asked for
    int clockMode = 1;                             // what the camera answers to a clock query

    // The option text that gives these options back.
    std::string text() const;
};

Result<CameraOptions> parseCameraOptions(std::string_view text);

}  // namespace bayercam
