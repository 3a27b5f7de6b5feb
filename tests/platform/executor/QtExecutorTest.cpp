#include "platform/linux/executor/QtExecutor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using tavrine::QtExecutor;
using tavrine::TaskHandle;

namespace {

// Spins the event loop until done() or a generous safety limit; the limit only keeps a broken
// build from hanging and is no claim about speed.
bool spinUntil(const std::function<bool()>& done, int limitMs = 10000) {
    QDeadlineTimer deadline(limitMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

void spinFor(int ms) {
    spinUntil([] { return false; }, ms);
}

} // namespace

TEST(QtExecutor, CancelledTasksNeverRun) {
    QtExecutor ex;
    std::vector<int> ran;
    TaskHandle now = ex.post([&] { ran.push_back(1); });
    TaskHandle later;
    // A running task cancels one due in the same turn, after it.
    ex.postAfter(20, [&] { later.cancel(); });
    later = ex.postAfter(20, [&] { ran.push_back(2); });
    ex.postAfter(30, [&] { ran.push_back(3); });
    now.cancel();
    EXPECT_EQ(ex.pendingCount(), 3u);
    ASSERT_TRUE(spinUntil([&] { return !ran.empty(); }));
    spinFor(50);
    EXPECT_EQ(ran, std::vector<int>{3});
    EXPECT_EQ(ex.pendingCount(), 0u);
}

TEST(QtExecutor, ATaskPostedFromAnotherThreadRunsOnTheOwningThreadUnlessTheExecutorIsGone) {
    QtExecutor ex;
    auto doomed = std::make_unique<QtExecutor>();
    std::atomic<bool> ran{false};
    std::atomic<bool> ranOnDoomed{false};
    QThread* ranOn = nullptr;
    std::thread poster([&] {
        ex.postAfter(15, [&] {
            ranOn = QThread::currentThread();
            ran = true;
        });
        doomed->post([&] { ranOnDoomed = true; });
        doomed->postAfter(10, [&] { ranOnDoomed = true; });
    });
    poster.join();
    doomed.reset();
    ASSERT_TRUE(spinUntil([&] { return ran.load(); }));
    EXPECT_EQ(ranOn, QThread::currentThread());
    spinFor(30);
    EXPECT_FALSE(ranOnDoomed);
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
