#include "core/util/SerialQueue.h"
#include "core/util/VirtualExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

using tavrine::VirtualExecutor;

TEST(VirtualExecutor, RunsDueTasksInTimeThenPostingOrderWithTheClockAtTheirDueTime) {
    VirtualExecutor ex(1000);
    std::vector<std::string> log;
    ex.postAfter(300, [&] { log.push_back("b@" + std::to_string(ex.nowMs())); });
    ex.postAfter(100, [&] { log.push_back("a@" + std::to_string(ex.nowMs())); });
    ex.postAfter(300, [&] { log.push_back("c@" + std::to_string(ex.nowMs())); });
    ex.post([&] { log.push_back("now@" + std::to_string(ex.nowMs())); });
    EXPECT_EQ(ex.advanceBy(299), 2);
    EXPECT_EQ(ex.nowMs(), 1299);
    EXPECT_EQ(ex.advanceBy(1), 2);
    EXPECT_EQ(log, (std::vector<std::string>{"now@1000", "a@1100", "b@1300", "c@1300"}));
}

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

TEST(SerialQueue, RunsTasksInOrderOnOneOtherThread) {
    std::vector<int> order;
    std::atomic<bool> otherThread{true};
    const auto mainId = std::this_thread::get_id();
    {
        tavrine::SerialQueue q("test");
        for (int i = 0; i < 100; ++i) {
            q.submit([&, i] {
                order.push_back(i);
                if (std::this_thread::get_id() == mainId) {
                    otherThread = false;
                }
            });
        }
        q.drain();
    }
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_TRUE(otherThread);
}
