// The tool's --json output: one JSON document, indented by two, with nothing else beside it on
// its stream. Keys are camelCase; names from the camera (properties, stored settings) are kept
// as they are.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "app/lib/camera.h"

namespace bayercam::app {

void printJson(std::ostream& out, const nlohmann::ordered_json& document);

nlohmann::ordered_json regionJson(const Region& region);

}  // namespace bayercam::app
