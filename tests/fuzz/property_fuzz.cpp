// Property requests from a client into the camera's property set, up to sixteen an input.
//
// One device and one open filter serve the whole run, as one client would use them: a request
// leaves nothing in the pool, so the per-input check against the baseline is exact, but the
// settings a request changes carry over to the next input (a crash found after a long run may
// need the inputs before it to reproduce).
#include <cstdint>

#include "tests/fuzz/camera_rig.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/property_request.h"

namespace bayercam::fuzz {
namespace {

constexpr std::size_t kRequestsPerInput = 16;

struct Run {
    OpenCamera open;
    KernelBaseline baseline;
};

}  // namespace
}  // namespace bayercam::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bayercam::fuzz;
    static Run run;
    FuzzInput in(data, size);
    for (std::size_t i = 0; i < kRequestsPerInput && !in.empty(); ++i) {
        SendPropertyRequest(run.open.rig.client(), run.open.rig.filter(), in);
    }
    expectSoundRegion(run.open.rig.camera(), "after the property requests");
    run.baseline.expectClean("after the property requests");
    return 0;
}
