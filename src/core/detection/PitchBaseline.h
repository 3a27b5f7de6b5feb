#pragma once

#include <cstddef>
#include <deque>

namespace tavrine {

// The pitch at which this user faces the screen, learned while the filter runs, so that a webcam above or
// below the screen does not read as looking up or down: a laptop camera sees its user from below (about
// +20 to +30 degrees read), a monitor-top camera from above. Pitch is reported relative to it.
//
// A frame teaches it only when the face is near frontal (|yaw| under 20 degrees) and within 15 degrees of
// what has been learned, so looking down at a phone never moves it. The first 3 seconds of frontal frames
// teach it whatever their pitch, so that a glance at the keyboard right after the start is outvoted rather
// than taken for the baseline; it is used from the first second on. It is the median of the last 10 seconds
// of such frames, and stays within 25 degrees of level. When 2 minutes of frontal frames in a row disagree
// with it, the camera or the seat moved: it starts learning again. A read on the phone, however long, is
// broken by any look back at the screen; one of 2 minutes without a glance up is rarer than a moved camera.
// Durations count analysed frames at the run's rate.
class PitchBaseline {
  public:
    static constexpr int useAfterSeconds = 1;
    static constexpr int learnAnySeconds = 3;
    static constexpr int windowSeconds = 10;
    static constexpr int relearnSeconds = 120;
    static constexpr double maxBaseline = 25.0;
    static constexpr double frontalYaw = 20.0;
    static constexpr double agreement = 15.0;

    explicit PitchBaseline(int framesPerSecond = 10);

    // One analysed frame's primary face (degrees); returns its pitch relative to the baseline.
    double relative(double yawDegrees, double pitchDegrees);
    double baseline() const { return baseline_; }
    // Whether the user's pitch has been learned: until then the camera's own is reported.
    bool learned() const { return samples_.size() >= minSamples_; }

    // The primary face's yaw and pitch of the last three analysed frames, each the median of the three:
    // a single frame whose landmarks slipped no longer flips the verdict (one frame later either way).
    struct Reading {
        double yaw = 0, pitch = 0;
    };
    Reading smoothed(Reading now);
    void forgetRecent() { recent_.clear(); }

  private:
    std::size_t minSamples_;
    std::size_t learnAny_;
    std::size_t window_;
    std::size_t relearnAfter_;
    std::deque<Reading> recent_;
    std::deque<double> samples_;
    std::size_t disagreeing_ = 0;
    double baseline_ = 0;
};

} // namespace tavrine
