#include "sim/frame_pacer.h"

#include <gtest/gtest.h>

namespace bayercam::sim {
namespace {

using namespace std::chrono_literals;
using host::UsbClock;

const UsbClock::time_point kStart = UsbClock::time_point(1000s);

FramePacer fixedRateFrom(UsbClock::time_point start) {
    FramePacer pacer;
    pacer.configure(FramePacing::FixedRate, 10.0);
    pacer.restart(start);
    return pacer;
}

TEST(FramePacer, SlotsAreCountedFromTheStreamStartWithoutDrift) {
    FramePacer pacer = fixedRateFrom(kStart);
    EXPECT_EQ(pacer.schedule(kStart), kStart);
    // Each request comes a little after the previous frame was due; frames stay on the grid.
    for (int n = 1; n <= 50; ++n) {
        auto asked = kStart + 100ms * (n - 1) + 3ms;
        EXPECT_EQ(pacer.schedule(asked), kStart + 100ms * n) << "frame " << n;
    }
    EXPECT_EQ(pacer.missed(), 0u);
    pacer.restart(kStart + 5s + 7ms);
    EXPECT_EQ(pacer.schedule(kStart + 5s + 7ms), kStart + 5s + 7ms)
        << "a restart begins a new grid";
}

TEST(FramePacer, SlotsThatPassWithoutARequestAreMissed) {
    FramePacer pacer = fixedRateFrom(kStart);
    pacer.schedule(kStart);                     // slot 0
    auto due = pacer.schedule(kStart + 350ms);  // slots 1 and 2 passed unasked; 3 is running
    EXPECT_EQ(due, kStart + 350ms);
    EXPECT_EQ(pacer.missed(), 2u);
    EXPECT_EQ(pacer.schedule(kStart + 360ms), kStart + 450ms)
        << "the late frame starts the grid again: the next is one interval after it";
}

}  // namespace
}  // namespace bayercam::sim
