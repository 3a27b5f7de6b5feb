#include "core/service/TimedPause.h"

#include <algorithm>
#include <ctime>
#include <utility>

namespace tavrine {

namespace {
constexpr std::int64_t minuteMs = 60'000;
constexpr std::int64_t dayMs = 24 * 60 * minuteMs;
constexpr int morningHour = 8;
constexpr int nightEndsHour = 4;
} // namespace

std::int64_t nextMorningMs(std::int64_t nowMs) {
    // Whole seconds, rounded down also before 1970.
    const std::time_t now = static_cast<std::time_t>(nowMs / 1000 - (nowMs % 1000 < 0 ? 1 : 0));
    const std::tm* local = std::localtime(&now);
    if (!local) {
        return nowMs + dayMs;
    }
    std::tm target = *local;
    if (target.tm_hour >= nightEndsHour) {
        ++target.tm_mday; // mktime carries it into the next month or year
    }
    target.tm_hour = morningHour;
    target.tm_min = 0;
    target.tm_sec = 0;
    target.tm_isdst = -1; // whatever daylight-saving time applies on that morning
    const std::time_t morning = std::mktime(&target);
    const std::int64_t morningMs = static_cast<std::int64_t>(morning) * 1000;
    if (morning == static_cast<std::time_t>(-1) || morningMs <= nowMs) {
        return nowMs + dayMs;
    }
    return morningMs;
}

std::int64_t TimedPause::lengthMs(Length length, std::int64_t nowMs) {
    switch (length) {
    case Length::fifteenMinutes:
        return 15 * minuteMs;
    case Length::oneHour:
        return 60 * minuteMs;
    case Length::untilTomorrow:
        return nextMorningMs(nowMs) - nowMs;
    }
    return 0;
}

TimedPause::TimedPause(Dependencies deps) : deps_(std::move(deps)) {
    activeSub_ = deps_.filterActive.subscribe([this](bool active) {
        // Started by the switch or the shortcut meanwhile, or by a try after the pause: the pause is over,
        // nothing more to start.
        if (active && (status.get().paused || status.get().awaitingCamera)) {
            clear();
        }
    });
    wakeSub_ = deps_.systemEvents.observe([this](SystemEventMonitor::Event event) {
        using Event = SystemEventMonitor::Event;
        if (event == Event::displayAsleep || event == Event::displayAwake) {
            displayAsleep_ = event == Event::displayAsleep;
        } else {
            sessionAway_ = event == Event::sessionInactive;
        }
        if (event == Event::displayAwake || event == Event::sessionActive) {
            // The user is back in front of the screen: a pause whose end came meanwhile ends now, and an
            // awaited start is tried at once (not twice, when the pause ends here).
            const bool awaited = status.get().awaitingCamera;
            checkClock();
            if (awaited && status.get().awaitingCamera && !nobodyThere() && retryTimer_) {
                retryTimer_->cancel();
                retryTimer_.reset();
                tryAgain();
            }
        }
    });
}

TimedPause::~TimedPause() {
    cancelTimers();
}

void TimedPause::pause(Length length) {
    const std::int64_t now = deps_.clock.nowMs();
    pauseUntil(now + lengthMs(length, now));
}

void TimedPause::pauseUntil(std::int64_t resumeAtMs) {
    cancelTimers();
    endDue_ = false;
    const std::int64_t remaining = std::max<std::int64_t>(0, resumeAtMs - deps_.clock.nowMs());
    status = Status{true, resumeAtMs, remaining};
    endsAtElapsedMs_ = deps_.clock.elapsedMs() + remaining;
    deps_.stopFilter();
    // The timer counts running time: it ends the pause even when the wall clock is set back meanwhile.
    TaskHandle end = deps_.executor.postAfter(remaining, [this] { endOrHold(); });
    endTimer_ = end;
    scheduleCheck();
}

void TimedPause::scheduleCheck() {
    checkTimer_ = deps_.executor.postAfter(clockCheckMs, [this] {
        checkTimer_.reset();
        checkClock();
        if (status.get().paused) {
            scheduleCheck();
        }
    });
}

void TimedPause::checkClock() {
    const Status current = status.get();
    if (!current.paused) {
        return;
    }
    const std::int64_t now = deps_.clock.nowMs();
    if (endDue_ || now >= current.resumeAtMs) {
        endOrHold();
        return;
    }
    // Whichever end comes first: the wall clock's, or the running time's when the clock was set back.
    const std::int64_t runningLeft = std::max<std::int64_t>(0, endsAtElapsedMs_ - deps_.clock.elapsedMs());
    status = Status{true, current.resumeAtMs, std::min(current.resumeAtMs - now, runningLeft)};
}

void TimedPause::endOrHold() {
    // Nobody in front of a sleeping display or a session switched away: the filter would open the camera
    // for nobody (its light on in an empty room). The pause holds, with nothing left, until they are back.
    if (nobodyThere()) {
        endDue_ = true;
        status = Status{true, status.get().resumeAtMs, 0};
        return;
    }
    resumeNow();
}

void TimedPause::resumeNow() {
    if (!status.get().paused) {
        return;
    }
    clear();
    if (deps_.retryStart) {
        // Until the start succeeds: a start that finds the camera taken is tried again.
        status = Status{false, 0, 0, true};
    }
    deps_.startFilter();
    scheduleRetry();
}

bool TimedPause::stopAwaitingCamera() {
    if (!status.get().awaitingCamera) {
        return false;
    }
    clear();
    deps_.stopFilter();
    return true;
}

void TimedPause::scheduleRetry() {
    if (!deps_.retryStart) {
        return;
    }
    retryTimer_ = deps_.executor.postAfter(cameraRetryMs, [this] {
        retryTimer_.reset();
        tryAgain();
    });
}

void TimedPause::tryAgain() {
    // Nobody watches a sleeping display or a session switched away: the camera is not opened for it (its
    // light would come on in an empty room). The tries go on once the user is back.
    if (nobodyThere() || deps_.retryStart()) {
        scheduleRetry();
    } else if (status.get().awaitingCamera) {
        status = Status{};
    }
}

void TimedPause::clear() {
    cancelTimers();
    endDue_ = false;
    status = Status{};
}

void TimedPause::cancelTimers() {
    for (auto* timer : {&endTimer_, &checkTimer_, &retryTimer_}) {
        if (*timer) {
            (*timer)->cancel();
            timer->reset();
        }
    }
}

} // namespace tavrine
