// The per-input checks of the fuzz targets: the kernel as the baseline found it (see
// KernelSnapshot::problems), and a camera device's region inside the sensor with the data range
// the pin offers describing it. A failed check is printed and the process aborts, so that
// libFuzzer keeps the input that caused it.
#pragma once

#include <string_view>

#include "driver/device/camera_device.h"
#include "tests/support/kernel_snapshot.h"

namespace bayercam::fuzz {

class KernelBaseline {
  public:
    // `what` names the step for the report.
    void expectClean(std::string_view what) const;

  private:
    host::testing::KernelSnapshot snapshot_;
};

// Prints the message, then aborts.
[[noreturn]] void fuzzFailure(std::string_view message);

// Aborts with a report when the region or the offered data range is inconsistent.
void expectSoundRegion(CameraDevice* device, std::string_view what);

}  // namespace bayercam::fuzz
