#pragma once

#include "core/detection/CameraSession.h"
#include "core/persistence/SettingsRepository.h"
#include "core/util/Executor.h"
#include "core/util/Published.h"
#include "core/util/Subscription.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrine {

// Measures the viewing distance: 3 s countdown, 3 s of face widths, median, distance in cm.
// Main thread only. Owned by shared_ptr (create()): its tasks hold it weakly.
class CalibrationSession : public std::enable_shared_from_this<CalibrationSession> {
  public:
    struct Phase {
        enum class Kind { idle, counting, measuring, done, failed };
        Kind kind = Kind::idle;
        int remaining = 0;   // counting
        int distanceCm = 0;  // done
        std::string message; // failed

        static Phase idle() { return {}; }
        static Phase counting(int remaining) { return {Kind::counting, remaining, 0, {}}; }
        static Phase measuring() { return {Kind::measuring, 0, 0, {}}; }
        static Phase done(int distanceCm) { return {Kind::done, 0, distanceCm, {}}; }
        static Phase failed(std::string message) { return {Kind::failed, 0, 0, std::move(message)}; }
        bool operator==(const Phase&) const = default;
    };

    static constexpr const char* noFaceMessage =
        "Aucun visage détecté. Assurez-vous d\u2019être bien en face de la caméra.";
    // When nothing was analysed, the failure names the reason rather than the user's position.
    static constexpr const char* filterOffMessage =
        "La protection est désactivée\u00a0: la caméra ne mesure rien. Activez-la, puis recommencez.";
    static constexpr const char* pausedMessage =
        "La protection est en pause\u00a0: la caméra ne mesure rien. Recommencez une fois la pause finie "
        "(sur secteur, si la batterie est faible).";
    static constexpr const char* suspendedMessage =
        "La protection est suspendue\u00a0: la caméra ne mesure rien. Reprenez-la depuis le panneau, puis "
        "recommencez.";
    static constexpr const char* noCameraMessage = "Caméra indisponible\u00a0: branchez une caméra ou fermez "
                                                   "l\u2019application qui l\u2019utilise, puis recommencez.";

    // suspendedByUser tells whether the filter is off for a pause the user asked for (it ends by itself, or
    // from the panel); empty: never.
    static std::shared_ptr<CalibrationSession> create(Executor& executor, CameraSession& camera,
                                                      SettingsRepository& settings,
                                                      std::function<bool()> suspendedByUser = {});

    Published<Phase> phase{Phase::idle()};

    void start();
    void cancel();
    void accept(int distanceCm);

    // The distance for a median face width: 12600 / (m * 1280), rounded half away from zero, 30..200.
    static int distanceForMedianWidth(double medianWidth);

  private:
    CalibrationSession(Executor& executor, CameraSession& camera, SettingsRepository& settings,
                       std::function<bool()> suspendedByUser);
    void startCountdown();
    void countdownTick(TaskHandle task, int remaining);
    void beginMeasuring();
    void finalizeMeasurement();

    Executor& executor_;
    CameraSession& camera_;
    SettingsRepository& settings_;
    std::function<bool()> suspendedByUser_;
    std::vector<double> samples_;
    std::optional<TaskHandle> countdownTask_;
    std::optional<TaskHandle> pollTask_;
    Subscription sampling_; // the analyzer's samples, while measuring
};

} // namespace tavrine
