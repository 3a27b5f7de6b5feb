#pragma once

#include <cstddef>
#include <deque>

namespace tavrine {

// The pitch at which this user faces the screen, learned while the filter runs, so that a webcam above or
// below the screen does not read as looking up or down: a laptop camera sees its user from below (about
// +15 to +20 degrees read), a monitor-top camera from above. Pitch is reported relative to it.
//
// A frame teaches it only when the face is near frontal (|yaw| under 20 degrees) and within 15 degrees of
// what has been learned, so looking down at a phone never moves it; the first frames teach it whatever
// their pitch. It is used once 10 frames have taught it, is the median of the last 100 such frames, and
// stays within 20 degrees of level. When 300 frontal frames in a row (30 s at 10 fps) disagree with it,
// the camera or the seat moved: it starts learning again.
class PitchBaseline {
  public:
    static constexpr std::size_t window = 100;
    static constexpr std::size_t minSamples = 10;
    static constexpr std::size_t relearnAfter = 300;
    static constexpr double maxBaseline = 20.0;
    static constexpr double frontalYaw = 20.0;
    static constexpr double agreement = 15.0;

    // One analysed frame's primary face (degrees); returns its pitch relative to the baseline.
    double relative(double yawDegrees, double pitchDegrees);
    double baseline() const { return baseline_; }

    // The primary face's yaw and pitch of the last three analysed frames, each the median of the three:
    // a single frame whose landmarks slipped no longer flips the verdict (one frame later either way).
    struct Reading {
        double yaw = 0, pitch = 0;
    };
    Reading smoothed(Reading now);
    void forgetRecent() { recent_.clear(); }

  private:
    std::deque<Reading> recent_;
    std::deque<double> samples_;
    std::size_t disagreeing_ = 0;
    double baseline_ = 0;
};

} // namespace tavrine
