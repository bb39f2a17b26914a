#include "app/tool/json_output.h"

namespace bayercam::app {

void printJson(std::ostream& out, const nlohmann::ordered_json& document) {
    out << document.dump(2) << "\n";
}

nlohmann::ordered_json regionJson(const Region& region) {
    return {{"x", region.x}, {"y", region.y}, {"width", region.width}, {"height", region.height}};
}

}  // namespace bayercam::app
