#include "core/overlay/TimingCurve.h"

#include <cmath>

namespace tavrine {

namespace {

double bezier(double s, double p1, double p2) {
    const double r = 1.0 - s;
    return 3.0 * r * r * s * p1 + 3.0 * r * s * s * p2 + s * s * s;
}

} // namespace

double TimingCurve::valueAt(double t) const {
    if (!(t > 0.0)) {
        return 0.0;
    }
    if (t >= 1.0) {
        return 1.0;
    }
    // x(s) is monotonic for control points inside the unit square: bisection always converges.
    double lo = 0.0;
    double hi = 1.0;
    double s = t;
    for (int i = 0; i < 40; ++i) {
        s = 0.5 * (lo + hi);
        if (bezier(s, x1_, x2_) < t) {
            lo = s;
        } else {
            hi = s;
        }
    }
    return bezier(s, y1_, y2_);
}

} // namespace tavrine
