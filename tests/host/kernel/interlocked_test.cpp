#include <thread>
#include <vector>

#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using InterlockedTest = testing::KernelTest;

TEST_F(InterlockedTest, ReturnValuesFollowThePlatform) {
    volatile LONG v = 5;
    EXPECT_EQ(InterlockedIncrement(&v), 6);
    EXPECT_EQ(InterlockedDecrement(&v), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&v, 10), 5);  // the old value
    EXPECT_EQ(v, 15);
    EXPECT_EQ(InterlockedExchange(&v, 3), 15);
    EXPECT_EQ(InterlockedOr(&v, 4), 3);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(InterlockedAnd(&v, 6), 7);
    EXPECT_EQ(v, 6);
}

TEST_F(InterlockedTest, CompareExchangeReturnsInitialValue) {
    volatile LONG v = 1;
    EXPECT_EQ(InterlockedCompareExchange(&v, 9, 2), 1);  // no match: unchanged
    EXPECT_EQ(v, 1);
    EXPECT_EQ(InterlockedCompareExchange(&v, 9, 1), 1);  // match: swapped
    EXPECT_EQ(v, 9);
}

TEST_F(InterlockedTest, PointerOperations) {
    int a = 0, b = 0;
    PVOID volatile slot = &a;
    EXPECT_EQ(InterlockedExchangePointer(&slot, &b), &a);
    EXPECT_EQ(InterlockedCompareExchangePointer(&slot, nullptr, &a), &b);  // no match
    EXPECT_EQ(slot, &b);
    EXPECT_EQ(InterlockedCompareExchangePointer(&slot, nullptr, &b), &b);
    EXPECT_EQ(slot, nullptr);
}

TEST_F(InterlockedTest, IncrementsFromManyThreadsAreNotLost) {
    volatile LONG counter = 0;
    constexpr int kThreads = 4, kPerThread = 50000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) InterlockedIncrement(&counter);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, kThreads * kPerThread);
}

}  // namespace
}  // namespace bayercam::host
