#pragma once

#include <cstdint>
#include <string>

namespace tavrine {

// Why the filter is paused. Built only through the factories, so unused payloads stay zero and the
// defaulted equality is the structural one.
struct PauseReason {
    enum class Kind { userPaused, screenOff, lowBattery };

    Kind kind = Kind::screenOff;
    std::int64_t durationMs = 0; // userPaused only

    static PauseReason userPaused(std::int64_t durationMs) { return {Kind::userPaused, durationMs}; }
    static PauseReason screenOff() { return {Kind::screenOff, 0}; }
    static PauseReason lowBattery() { return {Kind::lowBattery, 0}; }

    bool operator==(const PauseReason&) const = default;
};

// The state of the privacy filter: an enum with payloads. Same-case values compare by payload.
struct FilterState {
    enum class Kind { nominal, inattention, autoPaused, cameraBusy, inactive, alert };
    using PauseReason = tavrine::PauseReason;

    Kind kind = Kind::inactive;
    int intensity = 0;          // nominal, inattention
    PauseReason reason{};       // autoPaused
    std::int64_t retryInMs = 0; // cameraBusy

    static FilterState nominal(int intensity) { return {Kind::nominal, intensity, {}, 0}; }
    static FilterState inattention(int intensity) { return {Kind::inattention, intensity, {}, 0}; }
    static FilterState autoPaused(PauseReason reason) { return {Kind::autoPaused, 0, reason, 0}; }
    static FilterState cameraBusy(std::int64_t retryInMs) { return {Kind::cameraBusy, 0, {}, retryInMs}; }
    static FilterState inactive() { return {}; }
    static FilterState alert() { return {Kind::alert, 0, {}, 0}; }

    bool is(Kind k) const { return kind == k; }
    bool operator==(const FilterState&) const = default;
};

// For test messages and diagnostics, e.g. "nominal(3)", "autoPaused(userPaused(1000))".
std::string toString(const FilterState& state);

} // namespace tavrine
