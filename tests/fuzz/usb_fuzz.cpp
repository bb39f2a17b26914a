// USB descriptors and answers offered by the camera: a device descriptor and a configuration of
// any bytes (or one of the simulated camera's variants with bytes patched: no endpoints, wrong
// endpoint types, a total length that lies), and answers of any length, NAKs, stalls and errors
// on the reply and frame pipes. The device is attached over them; when it starts, the input may
// ask for a clock query, a camera memory read and a raw frame read.
//
// Every input plugs a new simulated camera behind a new bus, attaches, detaches and unplugs, so
// the pool is back at the baseline (nothing plugged) after each. The device's settings go under
// a registry key nobody used before, so no input sees another's saved settings.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/control/camera_properties.h"
#include "driver/device/pool_tags.h"
#include "sim/camera_protocol.h"
#include "tests/fuzz/camera_rig.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/observed_camera.h"
#include "tests/support/test_camera.h"

namespace bayercam::fuzz {
namespace {

constexpr unsigned kInputsPerDatabase = 512;
constexpr std::size_t kAnswersPerPipe = 8;
constexpr std::size_t kLongestAnswer = 2 * 65536;

enum Action : std::uint8_t { kQueryClock = 1, kReadByte = 2, kReadFrame = 4 };

constexpr sim::DescriptorVariant kVariants[] = {
    sim::DescriptorVariant::Standard,
    sim::DescriptorVariant::InterfacesZeroAndTwo,
    sim::DescriptorVariant::InterfaceWithoutPipes,
    sim::DescriptorVariant::TwoPipes,
    sim::DescriptorVariant::InterruptFramePipe,
    sim::DescriptorVariant::ClassSpecificDescriptors,
};

struct Run {
    CameraRig rig;
    unsigned inputs = 0;
    KernelBaseline baseline;
};

testing::ScriptedAnswer chooseAnswer(FuzzInput& in) {
    testing::ScriptedAnswer answer;
    const std::uint8_t kind = in.u8();
    answer.handshake = static_cast<host::UsbHandshake>(kind % 4);
    answer.shortPacket = (kind & 0x10) == 0;
    if (answer.handshake != host::UsbHandshake::Ack) return answer;
    // Data of any length up to two chunks: the given bytes, repeated.
    const std::size_t length = in.u32() % (kLongestAnswer + 1);
    const auto given = in.block();
    answer.bytes.resize(length, 0);
    for (std::size_t i = 0; i < length && !given.empty(); ++i) {
        answer.bytes[i] = given[i % given.size()];
    }
    return answer;
}

void scriptPipe(FuzzInput& in, testing::ObservedCamera& function, std::uint8_t endpoint) {
    for (std::uint8_t n = in.u8() % (kAnswersPerPipe + 1); n > 0; --n) {
        function.script(endpoint, chooseAnswer(in));
    }
}

// The whole raw frame, in 64 KiB chunks, into a pool buffer as the grabber reads it.
void readFrame(CameraDevice* camera) {
    camera->StartSensor();
    ULONG size = 0;
    camera->GetFrameSize(&size);
    if (size == 0) return;
    auto* buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, size, POOL_TAG_FRAME));
    if (buffer == nullptr) fuzzFailure("no pool for a raw frame");
    bool ok = false;
    camera->ReadFrame(buffer, &ok);
    ExFreePoolWithTag(buffer, POOL_TAG_FRAME);
}

void getProperty(CameraRig& rig, CameraProperty id) {
    CameraPacketValue value{};
    value.property.Set = CameraPropertySetId;
    value.property.Id = static_cast<ULONG>(id);
    value.property.Flags = KSPROPERTY_TYPE_GET;
    const ULONG size =
        id == CameraProperty::CameraByte ? sizeof(CameraPacketValue) : sizeof(CameraPropertyValue);
    rig.client().property(rig.filter(), &value, size, &value, size);
}

void exercise(Run& run, FuzzInput& in) {
    sim::SimulatedCameraOptions options = testing::TestCameraOptions();
    options.descriptors = kVariants[in.u8() % std::size(kVariants)];
    sim::SimulatedCamera camera(options);
    testing::ObservedCamera function(camera);
    const std::uint8_t served = in.u8();
    if (served & 1) function.replaceDeviceDescriptor(in.bytesOrPatched(camera.deviceDescriptor()));
    if (served & 2)
        function.replaceConfiguration(in.bytesOrPatched(camera.configurationDescriptor()));
    scriptPipe(in, function, sim::kReplyEndpoint);
    scriptPipe(in, function, sim::kFrameEndpoint);
    const std::uint8_t actions = in.u8();

    run.rig.plug(function, "USB\\VID_1D50&PID_6A31\\usb-" + std::to_string(run.inputs));
    if (run.rig.attach() == STATUS_SUCCESS && run.rig.openFilter() == STATUS_SUCCESS) {
        if (actions & kQueryClock) getProperty(run.rig, CameraProperty::Clock);
        if (actions & kReadByte) getProperty(run.rig, CameraProperty::CameraByte);
        if (actions & kReadFrame) readFrame(run.rig.camera());
    }
    run.rig.unplug();
}

}  // namespace
}  // namespace bayercam::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bayercam::fuzz;
    static Run run;
    if (++run.inputs % kInputsPerDatabase == 0) run.rig.registry.fresh();
    FuzzInput in(data, size);
    exercise(run, in);
    run.baseline.expectClean("after a camera with these descriptors and answers");
    return 0;
}
