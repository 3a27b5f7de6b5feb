#include "core/util/VirtualExecutor.h"
#include "core/util/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

using tavrine::VirtualExecutor;

// Cancels, chained timers and a wall clock set by hand are exercised by every timed test; the longest
// delay must not wrap around into the past.
TEST(VirtualExecutor, TheLongestDelayNeverComesDue) {
    VirtualExecutor ex(100'000);
    ex.advanceBy(1000);
    bool ran = false;
    ex.postAfter(INT64_MAX, [&ran] { ran = true; });
    EXPECT_EQ(ex.advanceBy(1'000'000'000), 0);
    EXPECT_FALSE(ran);
}

TEST(SerialQueue, ATaskMayDrainOrDestroyItsOwnQueue) {
    auto q = std::make_unique<tavrine::SerialQueue>("self");
    std::atomic<int> ran{0};
    q->submit([&] {
        q->drain();
        ++ran;
    });
    q->drain();
    EXPECT_EQ(ran, 1);
    q->submit([&] {
        q.reset();
        ++ran;
    });
    while (ran < 2) {
        std::this_thread::yield();
    }
    EXPECT_EQ(q, nullptr);
}
