// Every camera this process could open: the simulated one and each attached USB camera with the
// build's ids, with why one cannot be opened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bayercam {

struct CameraListing {
    std::string camera;  // the --camera text that opens it
    bool simulated = false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint8_t bus = 0;  // USB only, as are the port and serial
    std::uint8_t address = 0;
    std::string port;
    std::string serial;
    bool openable = true;
    std::string problem;  // why not, when it cannot be opened: permission, busy, gone
};

std::vector<CameraListing> listCameras();

}  // namespace bayercam
