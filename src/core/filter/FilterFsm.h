#pragma once

#include "core/domain/DetectionInput.h"
#include "core/domain/FilterSettings.h"
#include "core/domain/FilterState.h"
#include "core/util/Published.h"

#include <cstdint>
#include <optional>

namespace tavrine {

// Turns detection inputs and system events into the published filter state. Main thread only.
class FilterFsm {
  public:
    struct SystemEvent {
        enum class Kind {
            userPause,
            screenOff,
            screenOn,
            lowBattery,
            batteryOk,
            cameraBusy,
            cameraAvailable
        };
        Kind kind;
        std::int64_t durationMs = 0; // userPause only

        static SystemEvent userPause(std::int64_t durationMs) { return {Kind::userPause, durationMs}; }
        static SystemEvent screenOff() { return {Kind::screenOff}; }
        static SystemEvent screenOn() { return {Kind::screenOn}; }
        static SystemEvent lowBattery() { return {Kind::lowBattery}; }
        static SystemEvent batteryOk() { return {Kind::batteryOk}; }
        static SystemEvent cameraBusy() { return {Kind::cameraBusy}; }
        static SystemEvent cameraAvailable() { return {Kind::cameraAvailable}; }
        bool operator==(const SystemEvent&) const = default;
    };

    static constexpr float attentionYawLimit = 30.0f;
    static constexpr float attentionPitchLimit = 25.0f;
    static constexpr std::int64_t onlookerFaceCount = 2;
    static constexpr std::int64_t alertRecoveryHoldMs = 3000;
    static constexpr std::int64_t flapWindowMs = 15000;
    static constexpr int flapLimit = 3;
    static constexpr std::int64_t flapLockMs = 30000;
    static constexpr std::int64_t cameraRetryMs = 5000;

    FilterFsm() = default;
    FilterFsm(const FilterFsm&) = delete;
    FilterFsm& operator=(const FilterFsm&) = delete;

    // Subscribe for changes; assigned only by the machine, never twice with an equal value.
    Published<FilterState> state{FilterState::inactive()};

    void activate();
    void deactivate();
    void updateSettings(const FilterSettings& settings);
    void onDetectionInput(const DetectionInput& input);
    void onSystemEvent(const SystemEvent& event);

    const FilterSettings& settings() const { return settings_; }

  private:
    void setState(const FilterState& next);
    void enterNominal();
    void enterAlert(std::int64_t t);
    void recordAlertEntry(std::int64_t t);
    void handleNominal(const DetectionInput& input);
    void handleInattention(const DetectionInput& input);
    void handleAlert(const DetectionInput& input);
    static bool isAttentive(const DetectionInput& input);

    FilterSettings settings_{};
    std::int64_t inattentionStartMs_ = 0;
    std::optional<std::int64_t> alertRecoveryStartMs_;
    std::int64_t alertFlapWindowStartMs_ = 0;
    int alertFlapCount_ = 0;
    std::int64_t alertLockedUntilMs_ = 0;
    std::optional<std::int64_t> lastInputMs_;
};

// Overlay opacity for a state at a strength, in single precision.
float filterAlpha(const FilterState& state, int strength);

} // namespace tavrine
