// The pin's states walked in every order the class driver allows, thousands of times, while a
// consumer queues frames. The camera is in trigger mode: a frame it renders holds it for a long
// time under the sanitizers, so frames come only when the test pulls the trigger, and every run
// still starts the sensor, the buffers and the thread. (State changes of one pin are serialised
// by the class driver, so two threads changing them would show the driver nothing more.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "driver/control/camera_properties.h"
#include "driver/usb/frame_transfer.h"
#include "tests/driver/control/property_client.h"
#include "tests/hardening/stress_support.h"

namespace bayercam::testing {
namespace {

constexpr auto kPictureDeadline = std::chrono::seconds(60);

class StressStatesTest : public StressTest {
  protected:
    void triggerMode(bool on) {
        ASSERT_EQ(SetCameraProperty(*client, filter, ULONG(CameraProperty::ExTrigger), on ? 1 : 0),
                  STATUS_SUCCESS);
    }
    // Pulls the trigger until the consumer has one more picture.
    bool triggeredPicture(const CheckingConsumer& consumer) {
        const int before = consumer.pictures();
        return Eventually(
            [&] {
                camera->trigger();
                return consumer.pictures() > before;
            },
            kPictureDeadline);
    }
};

// Sixteen rounds of every order are over 1500 transitions; a slow build (the thread sanitizer
// makes each run's start cost a hundred times more) stops early at the time budget, after one
// round at least.
constexpr int kRounds = 16;
constexpr auto kBudget = std::chrono::seconds(20);

// Every order of the four states; walked one after another they hold every transition.
std::vector<std::array<KSSTATE, 4>> EveryOrder() {
    std::array<KSSTATE, 4> order{KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN};
    std::vector<std::array<KSSTATE, 4>> orders;
    do {
        orders.push_back(order);
    } while (std::next_permutation(order.begin(), order.end()));
    return orders;
}

TEST_F(StressStatesTest, EveryTransitionThousandsOfTimesWithFramesQueued) {
    const std::uint64_t seed = StressSeed(0x57A7E);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (BAYERCAM_STRESS_SEED repeats it)");
    open();
    triggerMode(true);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    std::vector<std::array<KSSTATE, 4>> orders = EveryOrder();
    std::mt19937_64 random(seed);
    CheckingConsumer consumer(*client, pin, imageBytes(), frameDuration(), 0);
    int step = 0;
    const auto end = std::chrono::steady_clock::now() + kBudget;
    int round = 0;
    for (; round < kRounds && (round == 0 || std::chrono::steady_clock::now() < end); ++round) {
        std::shuffle(orders.begin(), orders.end(), random);
        for (const auto& order : orders) {
            for (KSSTATE state : order) {
                ASSERT_EQ(setState(state), STATUS_SUCCESS)
                    << "state " << state << " at step " << step;
                KSSTATE reached = KSSTATE_STOP;
                ASSERT_EQ(client->getPinState(pin, &reached), STATUS_SUCCESS);
                ASSERT_EQ(reached, state);
                ++step;
            }
        }
        ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
        EXPECT_TRUE(triggeredPicture(consumer)) << "a frame comes after round " << round;
    }
    RecordProperty("transitions", std::to_string(step));
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
    consumer.stop();
    EXPECT_EQ(consumer.problems(), std::vector<std::string>{});
    triggerMode(false);
    expectCaptureWorks(seed);
}

// A stop that comes while the grabber is between reads, or before its first one, finds no read
// to abort; the read posted next must still end with the stop, not when its time-out runs out.
TEST_F(StressStatesTest, AStopRightAfterTheRunStartsDoesNotWaitOutTheFrameTimeOut) {
    open();
    triggerMode(true);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    InterlockedExchange(&transferTimeoutMs, 3600 * 1000);
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
        std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 4));
        WithDeadline("a stop of run " + std::to_string(cycle) + " waiting for a trigger",
                     std::chrono::seconds(60),
                     [this] { EXPECT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS); });
    }
    InterlockedExchange(&transferTimeoutMs, 2000);
    ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
    pin = nullptr;
}

}  // namespace
}  // namespace bayercam::testing
