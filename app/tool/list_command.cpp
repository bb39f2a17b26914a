#include "app/tool/list_command.h"

#include <cstdio>

#include "app/lib/camera_list.h"
#include "app/tool/json_output.h"

namespace bayercam::app {
namespace {

std::string hexId(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id);
    return text;
}

std::string describe(const CameraListing& c) {
    std::string text = c.camera + ": ";
    text += c.simulated ? "simulated camera" : "USB camera";
    text += ", ids " + hexId(c.vendor) + ":" + hexId(c.product);
    if (!c.simulated) {
        text += ", bus " + std::to_string(c.bus) + " address " + std::to_string(c.address) +
                " (port " + c.port + ")";
        text += c.serial.empty() ? ", no serial" : ", serial " + c.serial;
    }
    return text + (c.openable ? ", can be opened" : "; cannot be opened: " + c.problem);
}

nlohmann::ordered_json listingJson(const CameraListing& c) {
    nlohmann::ordered_json item = {{"camera", c.camera},
                                   {"kind", c.simulated ? "simulated" : "usb"},
                                   {"vendor_id", hexId(c.vendor)},
                                   {"product_id", hexId(c.product)}};
    if (!c.simulated) {
        item["bus"] = c.bus;
        item["address"] = c.address;
        item["port"] = c.port;
        item["serial"] = c.serial;
    }
    item["openable"] = c.openable;
    if (!c.openable) item["problem"] = c.problem;
    return item;
}

}  // namespace

ListCommand::ListCommand(CLI::App& tool)
    : command_(tool.add_subcommand(
          "list", "Every camera that can be named with --camera, and whether it can be opened")) {
    command_->add_flag("--json", json_, "The same as JSON");
}

void ListCommand::run(std::ostream& out) const {
    const std::vector<CameraListing> cameras = listCameras();
    if (json_) {
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const CameraListing& camera : cameras) items.push_back(listingJson(camera));
        return printJson(out, {{"cameras", items}});
    }
    for (const CameraListing& camera : cameras) out << describe(camera) << "\n";
}

}  // namespace bayercam::app
