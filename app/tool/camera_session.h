// What every camera subcommand shares: the global --camera, --wait and --registry options,
// opening the camera they name, and library errors turned into the tool's errors and exit
// statuses.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <utility>

#include "app/lib/camera.h"
#include "app/tool/tool_error.h"

namespace bayercam::app {

struct CameraChoice {
    std::string camera = "sim";
    std::string registry;  // empty: the default store
    double waitSeconds = 0;  // how long a USB camera may take to be plugged in
    CLI::Option* registryOption = nullptr;

    // Registers --camera, --wait and --registry on the tool.
    void addOptions(CLI::App& tool);
    // Throws a usage ToolError for a --registry given as an empty name.
    void checkRegistry() const;
    // Throws a ToolError (usage for a malformed --camera, failure when it cannot open).
    std::unique_ptr<Camera> open() const;
};

// An error of the library as the tool reports it: bad values are usage errors.
ToolError toolError(const Error& error);

template <class T>
T take(Result<T> result) {
    if (!result) throw toolError(result.error());
    return std::move(result).value();
}

}  // namespace bayercam::app
