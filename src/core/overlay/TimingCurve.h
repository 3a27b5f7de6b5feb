#pragma once

namespace tavrine {

// A cubic Bezier timing curve from (0, 0) to (1, 1) through the control points (x1, y1) and (x2, y2),
// the usual shape of ease-in-out and ease-out animations.
class TimingCurve {
  public:
    constexpr TimingCurve(double x1, double y1, double x2, double y2) : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}

    static constexpr TimingCurve easeInOut() { return {0.42, 0.0, 0.58, 1.0}; }
    static constexpr TimingCurve easeOut() { return {0.0, 0.0, 0.58, 1.0}; }

    // Progress (0..1) at time fraction t; t is clamped to 0..1.
    double valueAt(double t) const;

  private:
    double x1_, y1_, x2_, y2_;
};

} // namespace tavrine
