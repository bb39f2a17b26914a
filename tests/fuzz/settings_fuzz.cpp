// Stored settings of any type, size and name read by the device's settings load at start: each
// input writes up to 32 values into the Settings subkey of a device key nobody used before,
// starts the device over the simulated camera, checks what the load made of them, and stops it
// again (the stop saves the settings back).
//
// One simulated camera and one added device serve the run; every input is a whole stop-start
// cycle, so the pool is back at the baseline (the stopped device) after each. The registry
// database is replaced now and then, so that it does not grow with every input.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/fuzz/camera_rig.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/settings_key.h"
#include "tests/support/test_camera.h"

namespace bayercam::fuzz {
namespace {

constexpr std::size_t kValuesPerInput = 32;
constexpr unsigned kInputsPerDatabase = 512;

// Value types: the ones a registry editor offers, then any.
constexpr ULONG kTypes[] = {REG_DWORD, REG_BINARY, REG_SZ, REG_QWORD, REG_NONE, REG_EXPAND_SZ};

struct Run {
    Run();

    sim::SimulatedCamera camera;
    CameraRig rig;
    unsigned inputs = 0;
    std::optional<KernelBaseline> baseline;  // taken once the device is added and stopped
};

Run::Run() : camera(testing::TestCameraOptions()) {
    rig.plug(camera, "USB\\VID_1D50&PID_6A31\\settings");
    if (rig.attach() != STATUS_SUCCESS) fuzzFailure("the simulated camera did not start");
    rig.client().stopDevice(rig.device());
    baseline.emplace();
}

// A setting's name, the same name in other letter case, or any name.
std::wstring chooseName(FuzzInput& in) {
    const std::uint8_t choice = in.u8();
    if (choice < 0xC0) return CAMERA_SETTING_NAMES[choice % CAMERA_SETTING_COUNT];
    if (choice < 0xE0) {
        std::wstring name = CAMERA_SETTING_NAMES[choice % CAMERA_SETTING_COUNT];
        for (WCHAR& c : name) c = (c >= L'a' && c <= L'z') ? c - L'a' + L'A' : c;
        return name;
    }
    std::wstring name;
    for (std::uint8_t c : in.block()) name.push_back(c);
    return name;
}

ULONG chooseType(FuzzInput& in) {
    const std::uint8_t choice = in.u8();
    return choice < 0xF0 ? kTypes[choice % std::size(kTypes)] : in.u32();
}

void storeValues(PDEVICE_OBJECT physicalDevice, FuzzInput& in) {
    HANDLE driverKey = nullptr;
    HANDLE key = host::testing::OpenSettingsKey(physicalDevice, &driverKey);
    if (key == nullptr) fuzzFailure("cannot open the Settings key");
    for (std::size_t i = 0; i < kValuesPerInput && !in.empty(); ++i) {
        std::wstring name = chooseName(in);
        const ULONG type = chooseType(in);
        const auto given = in.block();
        std::vector<std::uint8_t> bytes(given.begin(), given.end());
        UNICODE_STRING valueName;
        valueName.Buffer = name.data();
        valueName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
        valueName.MaximumLength = valueName.Length;
        // Names the store refuses (empty, too long) are refused as the platform would.
        ZwSetValueKey(key, &valueName, 0, type, bytes.empty() ? nullptr : bytes.data(),
                      static_cast<ULONG>(bytes.size()));
    }
    ZwClose(key);
    ZwClose(driverKey);
}

}  // namespace
}  // namespace bayercam::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bayercam::fuzz;
    static Run run;
    if (++run.inputs % kInputsPerDatabase == 0) run.rig.registry.fresh();
    run.rig.rebindRegistry("USB\\VID_1D50&PID_6A31\\settings-" + std::to_string(run.inputs));
    FuzzInput in(data, size);
    storeValues(run.rig.client().deviceObject(run.rig.device())->PhysicalDeviceObject, in);
    if (run.rig.client().startDevice(run.rig.device()) != STATUS_SUCCESS) {
        fuzzFailure("the device did not start over stored settings");
    }
    expectSoundRegion(run.rig.camera(), "after loading the settings");
    run.rig.client().stopDevice(run.rig.device());
    run.baseline->expectClean("after a start and stop over stored settings");
    return 0;
}
