// The whole device life, from driver load to unload, with an allocation failing at each of its
// allocation sites in turn: every run ends with the pool and the kernel objects as they were,
// and the failure shows in the status of the step it hit (or, where the driver absorbs it by
// design, in an outcome that is still right).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

#include "host/kernel/failure_injection.h"
#include "tests/hardening/allocation_sites.h"
#include "tests/hardening/device_life.h"
#include "tests/hardening/stress_support.h"
#include "tests/support/kernel_snapshot.h"
#include "tests/support/usb_port.h"

namespace bayercam::testing {
namespace {

namespace injection = host::injection;
// A small region keeps the comparison of each picture with the camera's frames cheap.
constexpr Region kRegion{64, 32, 128, 64};

std::string StatusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(status));
    return text;
}

// Every step the life reached, with what it reported.
std::string Steps(const LifeRecord& record) {
    std::string text;
    for (std::size_t i = 0; i < kLifeSteps; ++i) {
        if (!record.status[i]) continue;
        text += std::string(stepName(LifeStep(i))) + " " + StatusText(*record.status[i]) + ", ";
    }
    return text + std::to_string(record.pictures.size()) + " pictures";
}

class DeviceLifeWalk : public CameraTest {
  protected:
    void SetUp() override {
        CameraTest::SetUp();
        // Each run loads the driver itself.
        client.reset();
        instancePath_ = InstancePath(*bus);
        // A frame read whose ReadsPosted packet could not be sent waits this long for its
        // chunks (the start applies it from the stored settings). A loaded machine may lose
        // a frame to it now and then, which the pictures' wait allows for.
        storeSetting(L"Timeout", 1000);
        storeSetting(L"RoiX", ULONG(kRegion.x));
        storeSetting(L"RoiY", ULONG(kRegion.y));
        storeSetting(L"RoiW", ULONG(kRegion.width));
        storeSetting(L"RoiH", ULONG(kRegion.height));
    }

    // A camera fresh from the box on each run: its frame numbers start at zero again, as the
    // comparison of pictures with the camera's frames needs, and no run inherits a register
    // another left half written. The settings stay in the registry.
    void replug() {
        Unplug(bus);
        observed.reset();
        camera = std::make_unique<sim::SimulatedCamera>(options());
        observed = std::make_unique<ObservedCamera>(*camera);
        bus = PlugIn(*observed, instancePath_);  // the same port: the same driver key
    }

    // One life with the nth counted allocation of its sites failing; checks how it ended.
    void liveFailing(std::size_t failing) {
        std::shared_ptr<AllocationSites> sites = Sites();
        // Set before the camera is plugged in, whose allocations must not count.
        injection::setCountFilter(std::make_shared<const injection::CountFilter>(
            [sites](ULONG tag) { return sites->counts(tag); }));
        replug();
        const host::testing::KernelSnapshot before;
        LifeRecord record;
        WithDeadline("run " + std::to_string(failing), std::chrono::seconds(120), [&] {
            record = LiveDeviceLife(bus->physicalDeviceObject(),
                                    [sites](LifeStep step) { sites->enterStep(step); });
        });
        // From here on nothing counts: the checks allocate, and no failure may hit them.
        const bool injected = injection::injectedCount() != 0;
        injection::setCountFilter(
            std::make_shared<const injection::CountFilter>([](ULONG) { return false; }));
        const std::string where = "run " + std::to_string(failing) + ": " + Steps(record) + "\n" +
                                  sites->describe(failing);
        checkOutcome(record, injected, where);
        const std::string left = before.problems(std::chrono::seconds(2));
        EXPECT_TRUE(left.empty()) << where << "left behind:\n" << left;
        if (record.hitStep) ++hits_[std::size_t(*record.hitStep)];
        if (injected) ++(record.firstFailure() ? reported_ : absorbed_);
    }

    void checkOutcome(const LifeRecord& record, bool injected, const std::string& where);

    // Each site fails at its first allocation in the life, a site of the grabber's frame reads
    // also at its second. With BAYERCAM_WALK_EVERY_ALLOCATION=1 every allocation fails in turn,
    // each of the hundreds of register writes included: thousands of runs, for a long run by
    // hand.
    static std::shared_ptr<AllocationSites> Sites() {
        const char* every = std::getenv("BAYERCAM_WALK_EVERY_ALLOCATION");
        if (every != nullptr && std::string(every) == "1") {
            constexpr int kAll = std::numeric_limits<int>::max();
            return std::make_shared<AllocationSites>(kAll, kAll);
        }
        return std::make_shared<AllocationSites>(1, 2);
    }
    std::array<int, kLifeSteps> hits_{};
    int reported_ = 0;  // runs in which a step reported the failure
    int absorbed_ = 0;  // runs that absorbed it and still did everything
    std::string instancePath_;
};

void DeviceLifeWalk::checkOutcome(const LifeRecord& record, bool injected,
                                  const std::string& where) {
    for (const std::string& problem : PictureProblems(record, *camera, kRegion)) {
        ADD_FAILURE() << where << problem;
    }
    const std::optional<LifeStep> failed = record.firstFailure();
    if (!injected) {
        EXPECT_FALSE(failed) << where << "a step failed with no allocation failing";
        EXPECT_EQ(int(record.pictures.size()), kLifePictures) << where;
        return;
    }
    ASSERT_TRUE(record.hitStep) << where;
    if (!failed) {
        // Absorbed: a camera exchange or a frame read that failed for want of memory is silent
        // by design; what shows is that the life still does everything it should.
        EXPECT_EQ(int(record.pictures.size()), kLifePictures)
            << where << "the failure was swallowed";
        return;
    }
    if (*failed == LifeStep::Frames && *record.hitStep == LifeStep::Run && !record.grabberThread) {
        // A grabber thread that could not be created: RUN reports success (the run's buffers are
        // in place and a later RUN tries again), and the client sees no frames.
        EXPECT_EQ(*record.status[std::size_t(*failed)], STATUS_TIMEOUT) << where;
        EXPECT_TRUE(record.pictures.empty()) << where;
        return;
    }
    EXPECT_GE(int(*failed), int(*record.hitStep)) << where << "a step failed before the failure";
    const NTSTATUS status = *record.status[std::size_t(*failed)];
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES) << where << stepName(*failed);
}

TEST_F(DeviceLifeWalk, EveryAllocationSiteOfTheLifeFailsCleanly) {
    const auto started = std::chrono::steady_clock::now();
    const std::size_t runs =
        injection::walkAllocationFailures([&](std::size_t failing) { liveFailing(failing); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%zu runs in %.1f s; failures hit:", runs, seconds);
    for (std::size_t i = 0; i < kLifeSteps; ++i) {
        if (hits_[i] != 0) std::printf(" %s %d,", stepName(LifeStep(i)), hits_[i]);
    }
    std::printf("\n%d failures reported by a step, %d absorbed\n", reported_, absorbed_);
    // Every step that allocates was reached by a failure.
    for (LifeStep step : {LifeStep::Attach, LifeStep::OpenFilter, LifeStep::CreatePin,
                          LifeStep::Acquire, LifeStep::Run, LifeStep::Frames}) {
        EXPECT_GT(hits_[std::size_t(step)], 0) << stepName(step);
    }
}

}  // namespace
}  // namespace bayercam::testing
