#pragma once

#include "core/domain/FilterState.h"
#include "core/service/SystemEventMonitor.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "core/util/Published.h"
#include "core/util/Subscription.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace tavrine {

// The end of a pause "until tomorrow": 08:00 local time on the coming morning. Before 04:00 the night
// is not over yet, so that morning is today's. Daylight-saving changes in between are taken into account.
std::int64_t nextMorningMs(std::int64_t nowMs);

// A pause of the filter for a while: the filter stops (camera released, overlay hidden) and starts again
// by itself when the time is up; a camera taken at that moment (a call running past the pause) is tried
// again every 5 s until the filter runs or is switched off. While the display sleeps or the session is
// switched away, neither the end nor the tries open the camera: they wait until the user is back, and come
// at once then. The end is a wall-clock time: a timer ends the
// pause after its length of running time, and the wall clock is also read every 15 s and at every wake of the
// display or session, so a suspend of the machine across the end cannot stretch the pause. Starting the
// filter by any other way (the switch, the shortcut) forgets the pause, and so does the end of the process:
// nothing is stored. Main thread only.
class TimedPause {
  public:
    enum class Length { fifteenMinutes, oneHour, untilTomorrow };

    struct Dependencies {
        Executor& executor;
        const Clock& clock;
        // Whether the filter runs; it turning true while paused ends the pause without a second start.
        Published<bool>& filterActive;
        std::function<void()> stopFilter;
        std::function<void()> startFilter;
        // Starts the filter again after a start that found the camera taken (see retryStart); false when
        // there is nothing to retry. Empty: no retries.
        std::function<bool()> retryStart;
        SystemEventMonitor& systemEvents;
    };

    struct Status {
        bool paused = false;
        std::int64_t resumeAtMs = 0;  // wall clock
        std::int64_t remainingMs = 0; // at the last look at the clock
        // The pause is over and its start is tried again every 5 s until the filter runs: what the user
        // asked for is protection, which comes as soon as the camera is free.
        bool awaitingCamera = false;
        bool operator==(const Status&) const = default;
    };

    static constexpr std::int64_t clockCheckMs = 15'000;
    static constexpr std::int64_t cameraRetryMs = 5'000;

    explicit TimedPause(Dependencies deps);
    ~TimedPause();
    TimedPause(const TimedPause&) = delete;
    TimedPause& operator=(const TimedPause&) = delete;

    // Changes at every pause and resume, and with the time left at every look at the clock.
    Published<Status> status{Status{}};

    void pause(Length length);
    // Stops the filter until that wall-clock time; a time already past ends the pause at the next turn.
    void pauseUntil(std::int64_t resumeAtMs);
    // Ends the pause now and starts the filter.
    void resumeNow();
    // Gives up the tries of a start after the pause (the user switched the filter off meanwhile): the
    // filter stays off. False when no start was awaited (the filter may have started meanwhile).
    bool stopAwaitingCamera();
    // Whether the start after the pause found the camera taken and waits for it, with the filter in that
    // state: what the panel's switch shows as on and what it and the shortcut turn off. While the start
    // still opens the camera, it is not.
    bool waitsForCamera(const FilterState& filterState, bool filterActive) const {
        return status.get().awaitingCamera && !filterActive && filterState.is(FilterState::Kind::cameraBusy);
    }
    // Gives up those tries when the start waits so (see waitsForCamera): true when it did. The shortcut's
    // press, which turns that awaited protection off rather than starting a run of its own.
    bool endWaitForCamera(const FilterState& filterState, bool filterActive) {
        return waitsForCamera(filterState, filterActive) && stopAwaitingCamera();
    }
    // Ends the pause if its end has passed by the wall clock; otherwise refreshes the time left.
    void checkClock();

    static std::int64_t lengthMs(Length length, std::int64_t nowMs);

  private:
    void scheduleCheck();
    void scheduleRetry();
    void tryAgain();
    // The pause's time is up: it ends, or holds while nobody is there.
    void endOrHold();
    // A sleeping display or a session switched away: nobody in front of the screen.
    bool nobodyThere() const { return displayAsleep_ || sessionAway_; }
    void clear();
    void cancelTimers();

    Dependencies deps_;
    std::optional<TaskHandle> endTimer_;
    std::optional<TaskHandle> checkTimer_;
    std::optional<TaskHandle> retryTimer_;
    Subscription activeSub_;
    Subscription wakeSub_;
    bool displayAsleep_ = false;
    bool sessionAway_ = false;
    bool endDue_ = false;              // the running-time end came while nobody was there
    std::int64_t endsAtElapsedMs_ = 0; // the running-time end, on Clock::elapsedMs()
};

} // namespace tavrine
