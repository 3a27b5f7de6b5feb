#include "core/domain/FilterState.h"

namespace tavrine {

namespace {
std::string toString(const PauseReason& r) {
    switch (r.kind) {
    case PauseReason::Kind::userPaused:
        return "userPaused(" + std::to_string(r.durationMs) + ")";
    case PauseReason::Kind::screenOff:
        return "screenOff";
    case PauseReason::Kind::lowBattery:
        return "lowBattery";
    }
    return "?";
}
} // namespace

std::string toString(const FilterState& s) {
    switch (s.kind) {
    case FilterState::Kind::nominal:
        return "nominal(" + std::to_string(s.intensity) + ")";
    case FilterState::Kind::inattention:
        return "inattention(" + std::to_string(s.intensity) + ")";
    case FilterState::Kind::autoPaused:
        return "autoPaused(" + toString(s.reason) + ")";
    case FilterState::Kind::cameraBusy:
        return "cameraBusy(" + std::to_string(s.retryInMs) + ")";
    case FilterState::Kind::inactive:
        return "inactive";
    case FilterState::Kind::alert:
        return "alert";
    }
    return "?";
}

} // namespace tavrine
