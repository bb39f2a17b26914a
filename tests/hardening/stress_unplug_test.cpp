// The camera unplugged at a random moment during each stress activity: every wait ends, every
// frame handed back is sane, the capture closes, and a camera plugged in again delivers whole
// pictures.
#include <gtest/gtest.h>

#include "tests/hardening/stress_activities.h"
#include "driver/usb/frame_transfer.h"

namespace bayercam::testing {
namespace {

enum class Activity { Properties, States, Filters, WhiteBalance, TimeOuts };

struct UnplugCase {
    Activity activity;
    const char* name;
    std::uint64_t seed;
};

class StressUnplugTest : public StressTest, public ::testing::WithParamInterface<UnplugCase> {
  protected:
    // Runs alongside streaming; with the camera gone, requests may fail but must not hang.
    void addActivity(ActivityThreads& threads, ActivityLog& log, std::uint64_t seed) {
        switch (GetParam().activity) {
            case Activity::Properties:
                AddPropertyChurn(threads, *client, filter, seed, 3, log, false);
                break;
            case Activity::States:
                AddStateWalk(threads, *client, pin, seed, log, false);
                break;
            case Activity::Filters:
                AddFilterChurn(threads, *client, handle, offeredRange(), seed, 2, log, false);
                break;
            case Activity::WhiteBalance:
                AddWhiteBalanceSwitching(threads, *client, filter, seed, log);
                break;
            case Activity::TimeOuts:
                camera->setPacing(sim::FramePacing::FixedRate, 20.0);
                AddTimeoutWobble(threads, seed, 20, 90);
                break;
        }
    }
};

TEST_P(StressUnplugTest, AtARandomMomentEverythingEndsAndAReplugWorks) {
    const std::uint64_t seed = StressSeed(GetParam().seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (BAYERCAM_STRESS_SEED repeats it)");
    std::mt19937_64 random(seed);
    open();
    const PropertyValues initial = ReadWritableProperties(*client, filter);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    ActivityLog log;
    {
        CheckingConsumer consumer(*client, pin, imageBytes(), frameDuration(), 0);
        ActivityThreads threads;
        addActivity(threads, log, seed);
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
        camera->unplug();
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 100));
        WithDeadline(WithSeed("stopping the activities after the unplug", seed),
                     std::chrono::seconds(60), [&] {
                         threads.stop();
                         consumer.stop();
                     });
        InterlockedExchange(&transferTimeoutMs, 2000);
        EXPECT_EQ(consumer.problems(), std::vector<std::string>{});
    }
    EXPECT_EQ(log.problems(), std::vector<std::string>{});
    closeCapture(seed);
    replug(seed);
    // The settings changed before the unplug were saved; the picture checked is the default one.
    RestoreProperties(*client, filter, initial);
    InterlockedExchange(&transferTimeoutMs, 2000);
    expectCaptureWorks(seed);
}

INSTANTIATE_TEST_SUITE_P(
    EachActivity, StressUnplugTest,
    ::testing::Values(UnplugCase{Activity::Properties, "Properties", 0x0A01},
                      UnplugCase{Activity::Properties, "PropertiesAgain", 0x0A02},
                      UnplugCase{Activity::States, "States", 0x0B01},
                      UnplugCase{Activity::States, "StatesAgain", 0x0B02},
                      UnplugCase{Activity::Filters, "Filters", 0x0C01},
                      UnplugCase{Activity::Filters, "FiltersAgain", 0x0C02},
                      UnplugCase{Activity::WhiteBalance, "WhiteBalance", 0x0D01},
                      UnplugCase{Activity::WhiteBalance, "WhiteBalanceAgain", 0x0D02},
                      UnplugCase{Activity::TimeOuts, "TimeOuts", 0x0E01},
                      UnplugCase{Activity::TimeOuts, "TimeOutsAgain", 0x0E02}),
    [](const ::testing::TestParamInfo<UnplugCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bayercam::testing
