// Format negotiation from a client: data intersection with any data range and buffer size, pin
// creation with any connection format, format changes of a created pin, in any order, up to eight
// steps an input. A range or format is either raw bytes or the device's own offered range (or the
// format it answers) with bytes patched; its FormatSize may say less than the buffer holds, never
// more (the class driver checks that against the request's length before any driver sees it).
//
// One device and one open filter serve the whole run; every input ends with its pin closed, so
// the pool is back at the baseline and the region lock released.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/camera_rig.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/fuzz_input.h"

namespace bayercam::fuzz {
namespace {

constexpr std::size_t kStepsPerInput = 8;
constexpr ULONG kLargestFormat = 1u << 20;

enum Step : std::uint8_t { kIntersect, kCreatePin, kSetFormat, kClosePin, kStepCount };

struct Run {
    Run();

    OpenCamera open;
    std::vector<std::uint8_t> offeredRange;   // the pin's data range as the device offers it
    std::vector<std::uint8_t> offeredFormat;  // the device's answer to its own range
    KernelBaseline baseline;
};

Run::Run() {
    const KS_DATARANGE_VIDEO& range = open.rig.camera()->captureDescriptors.dataRange;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&range);
    offeredRange.assign(bytes, bytes + sizeof(range));
    offeredFormat.resize(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER));
    ULONG returned = 0;
    if (open.rig.client().intersect(open.rig.filter(), 0, &range.DataRange, offeredFormat.data(),
                                    static_cast<ULONG>(offeredFormat.size()),
                                    &returned) != STATUS_SUCCESS) {
        fuzzFailure("the device refused its own data range");
    }
    offeredFormat.resize(returned);
}

// A range or format: raw bytes, or a base with patches (offset, byte count, bytes), then a
// FormatSize no larger than the buffer.
std::vector<std::uint8_t> chooseFormat(FuzzInput& in, const std::vector<std::uint8_t>& base) {
    std::vector<std::uint8_t> bytes = in.bytesOrPatched(base);
    bytes.resize(std::max(bytes.size(), sizeof(KSDATAFORMAT)), 0);
    ULONG formatSize;
    std::memcpy(&formatSize, bytes.data(), sizeof(formatSize));
    if (formatSize <= kLargestFormat) {
        bytes.resize(std::max<std::size_t>(bytes.size(), formatSize), 0);
    } else {
        formatSize = static_cast<ULONG>(bytes.size());
        std::memcpy(bytes.data(), &formatSize, sizeof(formatSize));
    }
    return bytes;
}

ULONG choosePin(FuzzInput& in) { return in.u8() % 4 == 3 ? in.u32() : 0; }

// A zero length asks for the size; kQueriedSize asks first and then passes exactly the size
// answered, as a client does; the others are the whole header, one short, and anything.
constexpr ULONG kQueriedSize = ~0u;

ULONG chooseDataLength(FuzzInput& in) {
    constexpr ULONG kLengths[] = {0, kQueriedSize, sizeof(KS_DATAFORMAT_VIDEOINFOHEADER),
                                  sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) - 1};
    const std::uint8_t choice = in.u8() % (std::size(kLengths) + 1);
    return choice < std::size(kLengths) ? kLengths[choice] : in.u16();
}

// What the device answers must describe itself: its FormatSize is the length returned.
void intersect(Run& run, FuzzInput& in) {
    const ULONG pin = choosePin(in);
    std::vector<std::uint8_t> range = chooseFormat(in, run.offeredRange);
    const auto* caller = reinterpret_cast<const KSDATARANGE*>(range.data());
    host::ks::KsClient& client = run.open.rig.client();
    ULONG length = chooseDataLength(in);
    ULONG returned = 0;
    if (length == kQueriedSize) {
        client.intersect(run.open.rig.filter(), pin, caller, nullptr, 0, &returned);
        length = returned;
    }
    std::vector<std::uint8_t> answer(length, 0);
    const NTSTATUS status =
        client.intersect(run.open.rig.filter(), pin, caller, length != 0 ? answer.data() : nullptr,
                         length, &returned);
    if (status != STATUS_SUCCESS) return;
    ULONG formatSize = 0;
    if (returned >= sizeof(formatSize)) std::memcpy(&formatSize, answer.data(), sizeof(formatSize));
    if (returned < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) - sizeof(KS_BITMAPINFOHEADER) ||
        formatSize != returned) {
        fuzzFailure("an intersection answered " + std::to_string(returned) +
                    " bytes with FormatSize " + std::to_string(formatSize));
    }
}

void createPin(Run& run, FuzzInput& in, host::ks::KsPinHandle* pin) {
    const ULONG id = choosePin(in);
    std::vector<std::uint8_t> format = chooseFormat(in, run.offeredFormat);
    host::ks::KsPinHandle created = nullptr;
    if (run.open.rig.client().createPin(run.open.rig.filter(), id,
                                        reinterpret_cast<const KSDATAFORMAT*>(format.data()),
                                        &created) == STATUS_SUCCESS) {
        *pin = created;
    }
}

void setFormat(Run& run, FuzzInput& in, host::ks::KsPinHandle pin) {
    std::vector<std::uint8_t> format = chooseFormat(in, run.offeredFormat);
    if (pin == nullptr) return;
    run.open.rig.client().setPinFormat(pin, reinterpret_cast<const KSDATAFORMAT*>(format.data()));
}

}  // namespace
}  // namespace bayercam::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bayercam::fuzz;
    static Run run;
    FuzzInput in(data, size);
    bayercam::host::ks::KsPinHandle pin = nullptr;
    for (std::size_t i = 0; i < kStepsPerInput && !in.empty(); ++i) {
        switch (in.u8() % kStepCount) {
            case kIntersect:
                intersect(run, in);
                break;
            case kCreatePin:
                createPin(run, in, &pin);
                break;
            case kSetFormat:
                setFormat(run, in, pin);
                break;
            default:
                if (pin != nullptr) run.open.rig.client().closePin(pin);
                pin = nullptr;
                break;
        }
    }
    if (pin != nullptr) run.open.rig.client().closePin(pin);
    if (run.open.rig.camera()->roiLocked != 0) {
        fuzzFailure("the region stays locked with every pin closed");
    }
    expectSoundRegion(run.open.rig.camera(), "after format negotiation");
    run.baseline.expectClean("after format negotiation");
    return 0;
}
