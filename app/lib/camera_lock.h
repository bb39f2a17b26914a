// A camera is used by one process at a time, as a USB interface is claimed by one driver: two
// processes would be two driver instances on one device, each saving the settings it loaded.
// The claim is an advisory lock on a file named after the camera's instance path and the
// settings store that holds its settings; the lock itself tells a second process the first
// one's process id, and it ends with the process however that ends.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/lib/result.h"

namespace bayercam {

class CameraLock {
  public:
    // An error "camera ... is in use by process N" when another holder has it, this process
    // included.
    static Result<std::unique_ptr<CameraLock>> take(const std::string& instancePath,
                                                    const std::filesystem::path& store);
    ~CameraLock();
    CameraLock(const CameraLock&) = delete;
    CameraLock& operator=(const CameraLock&) = delete;

  private:
    CameraLock(int fd, std::string key) : fd_(fd), key_(std::move(key)) {}
    int fd_;
    std::string key_;
};

}  // namespace bayercam
