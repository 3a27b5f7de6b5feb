#include "platform/linux/executor/QtExecutor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using tavrine::QtExecutor;
using tavrine::TaskHandle;

namespace {

// Spins the event loop until done() or a generous safety limit; the limit only keeps a broken
// build from hanging and is no claim about speed.
bool spinUntil(const std::function<bool()>& done, int limitMs = 10000) {
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void spinFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

} // namespace

TEST(QtExecutor, PostedTasksRunLaterOnTheLoopInPostingOrder) {
    QtExecutor ex;
    std::vector<int> order;
    for (int i = 0; i < 100; ++i) {
        ex.post([&order, i] { order.push_back(i); });
    }
    EXPECT_TRUE(order.empty()) << "post must never run a task synchronously";
    ASSERT_TRUE(spinUntil([&] { return order.size() == 100; }));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_EQ(ex.pendingCount(), 0u);
}

TEST(QtExecutor, DelayedTasksRunByDueTimeThenPostingOrderAndNeverEarly) {
    QtExecutor ex;
    std::vector<std::string> order;
    QElapsedTimer clock;
    clock.start();
    qint64 ranAt40 = -1;
    ex.postAfter(40, [&] {
        order.push_back("a40");
        ranAt40 = clock.elapsed();
    });
    ex.postAfter(10, [&] { order.push_back("b10"); });
    ex.post([&] { order.push_back("c0"); });
    ex.postAfter(10, [&] { order.push_back("d10"); });
    ex.postAfter(-5, [&] { order.push_back("e0"); });
    ASSERT_TRUE(spinUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<std::string>{"c0", "e0", "b10", "d10", "a40"}));
    EXPECT_GE(ranAt40, 40);
}

TEST(QtExecutor, CancelledTasksNeverRun) {
    QtExecutor ex;
    std::vector<int> ran;
    TaskHandle now = ex.post([&] { ran.push_back(1); });
    TaskHandle later = ex.postAfter(20, [&] { ran.push_back(2); });
    ex.postAfter(30, [&] { ran.push_back(3); });
    now.cancel();
    EXPECT_EQ(ex.pendingCount(), 2u);
    // A running task cancels one that is not yet due.
    ex.post([&] { later.cancel(); });
    ASSERT_TRUE(spinUntil([&] { return !ran.empty(); }));
    spinFor(50);
    EXPECT_EQ(ran, std::vector<int>{3});
    EXPECT_EQ(ex.pendingCount(), 0u);
}

TEST(QtExecutor, TasksFromOtherThreadsRunOnTheOwningThreadInEachPostersOrder) {
    QtExecutor ex;
    constexpr int threads = 4;
    constexpr int perThread = 500;
    std::vector<std::vector<int>> seen(threads);
    std::atomic<int> total{0};
    std::atomic<bool> wrongThread{false};
    const auto mainThread = QThread::currentThread();
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                auto task = [&, t, i] {
                    if (QThread::currentThread() != mainThread) {
                        wrongThread = true;
                    }
                    seen[t].push_back(i);
                    ++total;
                };
                if (i % 50 == 49) {
                    ex.postAfter(0, task);
                } else {
                    ex.post(task);
                }
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    ASSERT_TRUE(spinUntil([&] { return total == threads * perThread; }));
    EXPECT_FALSE(wrongThread);
    for (int t = 0; t < threads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(perThread));
        for (int i = 0; i < perThread; ++i) {
            ASSERT_EQ(seen[t][i], i) << "thread " << t;
        }
    }
}

TEST(QtExecutor, ADelayedTaskPostedFromAnotherThreadRunsOnTheOwningThread) {
    QtExecutor ex;
    std::atomic<bool> ran{false};
    QThread* ranOn = nullptr;
    std::thread poster([&] {
        ex.postAfter(15, [&] {
            ranOn = QThread::currentThread();
            ran = true;
        });
    });
    poster.join();
    ASSERT_TRUE(spinUntil([&] { return ran.load(); }));
    EXPECT_EQ(ranOn, QThread::currentThread());
}

TEST(QtExecutor, ATaskThatRepostsItselfDoesNotStarveTheEventLoop) {
    QtExecutor ex;
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
    ASSERT_TRUE(spinUntil([&] { return timerFired; }));
    stop = true;
    spinFor(20);
    EXPECT_GT(spins, 1);
}

TEST(QtExecutor, ChainedTimersKeepTheirOrder) {
    QtExecutor ex;
    std::vector<int> ticks;
    std::function<void()> tick = [&] {
        ticks.push_back(static_cast<int>(ticks.size()));
        if (ticks.size() < 5) {
            ex.postAfter(5, tick);
        }
    };
    ex.postAfter(5, tick);
    ASSERT_TRUE(spinUntil([&] { return ticks.size() == 5; }));
    EXPECT_EQ(ticks, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(QtExecutor, DestroyingTheExecutorDropsItsPendingTasks) {
    bool ran = false;
    {
        auto ex = std::make_unique<QtExecutor>();
        ex->post([&] { ran = true; });
        ex->postAfter(10, [&] { ran = true; });
    }
    spinFor(30);
    EXPECT_FALSE(ran);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
