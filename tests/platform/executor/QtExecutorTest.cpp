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
