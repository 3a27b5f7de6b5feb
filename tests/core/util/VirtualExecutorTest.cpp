#include "core/util/VirtualExecutor.h"
#include "core/util/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using tavrine::VirtualExecutor;

TEST(VirtualExecutor, CancelledTasksDoNotRunAndChainedTimersFollowVirtualTime) {
    VirtualExecutor ex(0);
    int ticks = 0;
    auto h = ex.postAfter(10, [&] { ++ticks; });
    h.cancel();
    std::function<void()> tick = [&] {
        ++ticks;
        if (ticks < 3) {
            ex.postAfter(1000, tick);
        }
    };
    ex.postAfter(1000, tick);
    ex.advanceBy(2999);
    EXPECT_EQ(ticks, 2);
    ex.advanceBy(1);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(ex.pendingCount(), 0u);
}

TEST(VirtualExecutor, TimersFollowElapsedTimeWhenTheWallClockJumps) {
    VirtualExecutor ex(100'000);
    int fired = 0;
    ex.postAfter(5000, [&] { ++fired; });
    ex.setNowMs(40'000); // wall clock steps back an hour's worth of nothing: the timer is not delayed
    EXPECT_EQ(ex.nowMs(), 40'000);
    ex.advanceBy(4999);
    EXPECT_EQ(fired, 0);
    ex.advanceBy(1);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(ex.nowMs(), 45'000);

    ex.postAfter(5000, [&] { ++fired; });
    ex.setNowMs(1'000'000); // and a jump forward does not make it due
    EXPECT_EQ(ex.runPending(), 0);
    EXPECT_EQ(ex.advanceBy(5000), 1);
}

TEST(VirtualExecutor, NegativeDelaysRunNowAndHugeOnesDoNotWrapAround) {
    VirtualExecutor ex(0);
    std::vector<int> order;
    ex.postAfter(INT64_MAX, [&] { order.push_back(3); });
    ex.postAfter(-50, [&] { order.push_back(1); });
    ex.post([&] { order.push_back(2); });
    EXPECT_EQ(ex.runPending(), 2);
    EXPECT_EQ(ex.advanceBy(1'000'000'000), 0);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(SerialQueue, ATaskMayDestroyItsOwnQueue) {
    auto q = std::make_unique<tavrine::SerialQueue>("self");
    std::atomic<bool> done{false};
    tavrine::SerialQueue* raw = q.get();
    raw->submit([&q, &done] {
        q.reset();
        done = true;
    });
    while (!done) {
        std::this_thread::yield();
    }
    EXPECT_EQ(q, nullptr);
}

TEST(SerialQueue, DrainFromInsideATaskDoesNotDeadlock) {
    tavrine::SerialQueue q("inner");
    std::atomic<int> ran{0};
    q.submit([&] {
        q.drain();
        ++ran;
    });
    q.drain();
    EXPECT_EQ(ran, 1);
}
