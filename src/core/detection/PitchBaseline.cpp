#include "core/detection/PitchBaseline.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavrine {

PitchBaseline::PitchBaseline(int framesPerSecond)
    : minSamples_(static_cast<std::size_t>(std::max(1, framesPerSecond)) * useAfterSeconds),
      learnAny_(static_cast<std::size_t>(std::max(1, framesPerSecond)) * learnAnySeconds),
      window_(static_cast<std::size_t>(std::max(1, framesPerSecond)) * windowSeconds),
      relearnAfter_(static_cast<std::size_t>(std::max(1, framesPerSecond)) * relearnSeconds) {}

double PitchBaseline::relative(double yawDegrees, double pitchDegrees) {
    if (!std::isfinite(yawDegrees) || !std::isfinite(pitchDegrees)) {
        return pitchDegrees - baseline_;
    }
    if (std::fabs(yawDegrees) < frontalYaw) {
        const bool learning = samples_.size() < learnAny_;
        if (learning || std::fabs(pitchDegrees - baseline_) < agreement) {
            samples_.push_back(pitchDegrees);
            if (samples_.size() > window_) {
                samples_.pop_front();
            }
            disagreeing_ = 0;
        } else if (++disagreeing_ >= relearnAfter_) {
            samples_.clear();
            disagreeing_ = 0;
            baseline_ = 0;
        }
        if (learned()) {
            std::vector<double> sorted(samples_.begin(), samples_.end());
            std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                             sorted.end());
            baseline_ = std::clamp(sorted[sorted.size() / 2], -maxBaseline, maxBaseline);
        }
    }
    return pitchDegrees - baseline_;
}

PitchBaseline::Reading PitchBaseline::smoothed(Reading now) {
    recent_.push_back(now);
    if (recent_.size() > 3) {
        recent_.pop_front();
    }
    if (recent_.size() < 3) {
        return now;
    }
    auto median = [](double a, double b, double c) {
        return std::max(std::min(a, b), std::min(std::max(a, b), c));
    };
    return {median(recent_[0].yaw, recent_[1].yaw, recent_[2].yaw),
            median(recent_[0].pitch, recent_[1].pitch, recent_[2].pitch)};
}

} // namespace tavrine
