#include "core/util/VirtualExecutor.h"
#include "core/util/SerialQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using tavrine::VirtualExecutor;

// Timers count elapsed virtual time: a cancelled one never runs, a negative delay is due now, a huge one
// does not wrap around, chained timers follow each other, and moving the wall clock (back or forward)
// brings no timer nearer nor pushes one further away.
TEST(VirtualExecutor, TimersFollowElapsedVirtualTime) {
    VirtualExecutor ex(100'000);
    std::vector<std::string> ran;
    auto task = [&ran](const char* name) { return [&ran, name] { ran.push_back(name); }; };
    ex.postAfter(10, task("cancelled")).cancel();
    ex.postAfter(-50, task("late"));
    ex.post(task("now"));
    std::function<void()> tick = [&] {
        ran.push_back("tick");
        if (std::ranges::count(ran, "tick") < 3) {
            ex.postAfter(1000, tick);
        }
    };
    ex.postAfter(1000, tick);
    EXPECT_EQ(ex.runPending(), 2);
    ex.setNowMs(40'000);
    EXPECT_EQ(ex.advanceBy(2999), 2) << "two ticks; the cancelled timer does not run";
    EXPECT_EQ(ex.advanceBy(1), 1);
    EXPECT_EQ(ex.nowMs(), 43'000);
    ex.postAfter(INT64_MAX, task("never"));
    ex.postAfter(5000, task("timer"));
    ex.setNowMs(10'000'000);
    EXPECT_EQ(ex.runPending(), 0);
    EXPECT_EQ(ex.advanceBy(5000), 1);
    EXPECT_EQ(ex.advanceBy(1'000'000'000), 0);
    EXPECT_EQ(ran, (std::vector<std::string>{"late", "now", "tick", "tick", "tick", "timer"}));
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
