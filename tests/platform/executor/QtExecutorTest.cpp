#include "platform/linux/executor/QtExecutor.h"

#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace tavrine;

// Cancelled tasks never run, also one cancelled by a task due in the same turn before it; a task posted
// from another thread runs on the executor's thread, unless the executor is gone by then. A task that
// re-posts itself leaves the event loop its turn.
TEST(QtExecutor, TasksRunOnTheOwningThreadUnlessCancelledOrGoneAndNeverStarveTheEventLoop) {
    QtExecutor ex;
    auto doomed = std::make_unique<QtExecutor>();
    std::vector<int> ran;
    QThread* ranOn = nullptr;
    std::atomic<bool> ranOnDoomed{false};
    TaskHandle now = ex.post([&] { ran.push_back(1); });
    TaskHandle later;
    ex.postAfter(20, [&] { later.cancel(); });
    later = ex.postAfter(20, [&] { ran.push_back(2); });
    std::thread poster([&] {
        ex.postAfter(30, [&] {
            ranOn = QThread::currentThread();
            ran.push_back(3);
        });
        doomed->post([&] { ranOnDoomed = true; });
        doomed->postAfter(10, [&] { ranOnDoomed = true; });
    });
    poster.join();
    doomed.reset();
    now.cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ran.empty(); }));
    QTest::qWait(50);
    EXPECT_EQ(ran, std::vector<int>{3});
    EXPECT_EQ(ranOn, QThread::currentThread());
    EXPECT_FALSE(ranOnDoomed);
    EXPECT_EQ(ex.pendingCount(), 0u);

    int spins = 0;
    bool timerFired = false;
    bool stop = false;
    std::function<void()> again = [&] {
        ++spins;
        if (!stop) {
            ex.post(again);
        }
    };
    ex.post(again);
    QTimer::singleShot(20, [&] { timerFired = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return timerFired; }));
    stop = true;
    QTest::qWait(20);
    EXPECT_GT(spins, 1);
}

// After the event loop has ended for good, the tasks posted to run now still run, in order, but not a
// cancelled one, one posted meanwhile, or one delayed to later.
TEST(QtExecutor, TasksPostedForNowRunAtTheEndWithoutTheEventLoop) {
    QtExecutor ex;
    std::vector<int> ran;
    ex.post([&] {
        ran.push_back(1);
        ex.post([&] { ran.push_back(9); });
    });
    ex.post([&] { ran.push_back(2); }).cancel();
    ex.postAfter(1000, [&] { ran.push_back(3); });
    ex.post([&] { ran.push_back(4); });
    ex.runPosted();
    EXPECT_EQ(ran, (std::vector<int>{1, 4}));
    EXPECT_EQ(ex.pendingCount(), 2u);
}
