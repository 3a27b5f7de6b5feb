#pragma once

#include "core/domain/DetectionInput.h"
#include "core/domain/FilterState.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/service/Notifier.h"
#include "core/service/SessionLocker.h"
#include "core/util/Executor.h"
#include "core/util/Published.h"
#include "core/util/Signal.h"
#include "core/util/Subscription.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tavrine {

// Locks the session when the user has left: with the setting on, while the filter runs (not paused, camera
// working, no calibration), once no face has been in view for the chosen delay, counted from the first
// frame without one, a notification warns that the session locks in 10 s; a face in view within those
// 10 s cancels the countdown and withdraws the notification, otherwise the session is locked. One absence
// locks at most once: the next lock needs a face seen first. Main thread only.
class AbsenceLock {
  public:
    struct Dependencies {
        Executor& executor;
        SettingsRepository& settingsRepo;
        StatsRepository& statsRepo;
        Notifier& notifier;
        SessionLocker& locker;
        // The filter's published state and its analysed frames.
        Published<FilterState>& filterState;
        Signal<DetectionInput>& detections;
        // Whether a distance calibration is under way.
        std::function<bool()> isCalibrating;
    };

    static constexpr std::int64_t warningMs = 10'000;
    // A damaged setting never locks sooner than the shortest delay offered.
    static constexpr std::int64_t shortestDelayMs = 30'000;
    static constexpr const char* notificationId = "tavrine.lock";
    static constexpr const char* notificationTitle = "Verrouillage de la session";
    static constexpr const char* notificationBody =
        "Verrouillage dans 10\u00a0s \u2014 revenez devant l\u2019\u00e9cran pour annuler";

    explicit AbsenceLock(Dependencies deps);
    ~AbsenceLock();
    AbsenceLock(const AbsenceLock&) = delete;
    AbsenceLock& operator=(const AbsenceLock&) = delete;

  private:
    bool mayLock() const;
    void onDetection(const DetectionInput& input);
    void warn();
    void lock();
    void cancelCountdown();

    Dependencies deps_;
    FilterState state_;
    bool enabled_ = false;
    std::int64_t delayMs_ = shortestDelayMs;
    // The pending step: the warning after the delay, then the lock after the warning.
    std::optional<TaskHandle> timer_;
    bool warned_ = false;
    bool lockedThisAbsence_ = false;
    // Lock answers may come after this object is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    Subscription stateSub_;
    Subscription settingsSub_;
    Subscription detectionSub_;
};

} // namespace tavrine
