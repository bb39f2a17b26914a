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
#include "tests/fuzz/device_checks.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/kernel_baseline.h"
#include "tests/support/settings_key.h"

namespace bayercam::fuzz {
namespace {

constexpr std::size_t kValuesPerInput = 32;
constexpr unsigned kInputsPerDatabase = 512;

// The names the device stores its settings under.
constexpr const WCHAR* kSettingNames[] = {
    L"Timeout",      L"Exposure",        L"GlobalGain", L"FlipH",    L"FlipV",      L"ColorEnable",
    L"WhiteBalance", L"ColorCorrection", L"Brightness", L"Contrast", L"Saturation", L"Hue",
    L"RedGain",      L"GreenGain",       L"BlueGain",   L"AGC",      L"AEC",        L"Clock",
    L"ExTrigger",    L"SubSample",       L"RoiX",       L"RoiY",     L"RoiW",       L"RoiH"};
constexpr std::size_t kSettingCount = std::size(kSettingNames);

// Value types: the ones a registry editor offers, then any.
constexpr ULONG kTypes[] = {REG_DWORD, REG_BINARY, REG_SZ, REG_QWORD, REG_NONE, REG_EXPAND_SZ};

struct Run {
    Run();

    sim::SimulatedCamera camera;
    CameraRig rig;
    unsigned inputs = 0;
    std::optional<KernelBaseline> baseline;  // taken once the device is added and stopped
};

sim::SimulatedCameraOptions patternCamera() {
    return {.descriptors = sim::DescriptorVariant::Standard,
            .pacing = sim::FramePacing::AsFastAsPossible,
            .exact = true,
            .scene = sim::makeMovingPattern()};
}

Run::Run() : camera(patternCamera()) {
    rig.plug(camera, "USB\\VID_1D50&PID_6A31\\settings");
    if (rig.attach() != STATUS_SUCCESS) fuzzFailure("the simulated camera did not start");
    rig.client().stopDevice(rig.device());
    baseline.emplace();
}

// A setting's name, the same name in other letter case, or any name.
std::wstring chooseName(FuzzInput& in) {
    const std::uint8_t choice = in.u8();
    if (choice < 0xC0) return kSettingNames[choice % kSettingCount];
    if (choice < 0xE0) {
        std::wstring name = kSettingNames[choice % kSettingCount];
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

// Seeds: every setting as a DWORD with its default, then with values at and beyond the ends of
// its range; the region as a QWORD; a short and a long binary value.
namespace {

FuzzSeed& dword(FuzzSeed& seed, std::size_t setting, std::uint32_t value) {
    return seed.u8(static_cast<std::uint8_t>(setting)).u8(0).u16(4).u32(value);
}

}  // namespace

std::vector<NamedSeed> fuzzSeeds() {
    const std::uint32_t defaults[kSettingCount] = {
        3000, 3, 0, 0, 0, 1, 0, 1, 255, 10, 10, 0, 128, 128, 128, 0, 0, 0, 0, 0, 0, 0, 1360, 1024};
    FuzzSeed all;
    for (std::size_t s = 0; s < kSettingCount; ++s) dword(all, s, defaults[s]);
    FuzzSeed ends;
    for (std::size_t s = 0; s < kSettingCount; ++s) dword(ends, s, 0xFFFFFFFF);
    FuzzSeed region;
    dword(region, 20, 1353);
    dword(region, 21, 1017);
    dword(region, 22, 0x7FFFFFFF);
    dword(region, 23, 0x80000000);
    FuzzSeed odd;
    odd.u8(1).u8(1).u16(2).u16(0x1234);          // Exposure, 2 binary bytes
    odd.u8(2).u8(3).u16(8).u32(0x10).u32(0x20);  // GlobalGain as a QWORD
    odd.u8(22).u8(1).u16(64).bytes(std::vector<std::uint8_t>(64, 0x7F));  // RoiW, 64 bytes
    odd.u8(0xE0).u16(7).bytes(std::vector<std::uint8_t>{'T', 'i', 'm', 'e', 'o', 'u', 't'});
    odd.u8(0).u16(4).u32(1);
    return {{"defaults", all.data()},
            {"all-ones", ends.data()},
            {"region-edges", region.data()},
            {"odd-types", odd.data()}};
}

}  // namespace bayercam::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bayercam::fuzz;
    static Run run;
    if (++run.inputs % kInputsPerDatabase == 0) run.rig.freshRegistry();
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
