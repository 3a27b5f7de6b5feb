#include "core/detection/HeadPoseSolver.h"

#include "core/detection/HeadModelData.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace tavrine {

namespace {

// yaw, pitch, roll (radians, the model's own axes), scale, tx, ty.
using Params = std::array<double, 6>;
using Matrix3 = std::array<std::array<double, 3>, 3>;
constexpr std::size_t kPoints = HeadPoseSolver::pointCount;
constexpr double kDeg = 180.0 / std::numbers::pi;
// Past this the face shows its profile and the fit is not trusted (about 83 degrees).
constexpr double kMaxAngle = 1.45;
constexpr int kMaxIterations = 30;
// dlib's outer eye corners (their line gives the first roll), nose tip and base, mouth corners, chin, the
// jaw's corners and the middle of each brow.
constexpr std::size_t kLeftEyeOuter = 36, kRightEyeOuter = 45, kNoseTip = 30, kNoseBase = 33, kMouthLeft = 48,
                      kMouthRight = 54, kChin = 8, kLeftJaw = 3, kRightJaw = 13, kLeftBrowMiddle = 19,
                      kRightBrowMiddle = 24;

// R = Rz(roll) Rx(pitch) Ry(yaw); camera axes x right, y down, z away from the camera.
Matrix3 rotation(double yaw, double pitch, double roll) {
    const double cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
    const double cr = std::cos(roll), sr = std::sin(roll);
    const Matrix3 ry{{{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}}};
    const Matrix3 rx{{{1, 0, 0}, {0, cp, -sp}, {0, sp, cp}}};
    const Matrix3 rz{{{cr, -sr, 0}, {sr, cr, 0}, {0, 0, 1}}};
    auto mul = [](const Matrix3& a, const Matrix3& b) {
        Matrix3 m{};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 3; ++k) {
                    m[i][j] += a[i][k] * b[k][j];
                }
            }
        }
        return m;
    };
    return mul(rz, mul(rx, ry));
}

// The model projected at p: 2 values per point.
void projectModel(const Params& p, std::array<double, 2 * kPoints>& out) {
    const Matrix3 r = rotation(p[0], p[1], p[2]);
    for (std::size_t j = 0; j < kPoints; ++j) {
        const auto& m = headmodel::kShape[j];
        out[2 * j] = p[3] * (r[0][0] * m[0] + r[0][1] * m[1] + r[0][2] * m[2]) + p[4];
        out[2 * j + 1] = p[3] * (r[1][0] * m[0] + r[1][1] * m[1] + r[1][2] * m[2]) + p[5];
    }
}

// Solves a x = b for a symmetric positive 6x6 system; false when singular.
bool solve6(std::array<std::array<double, 6>, 6> a, std::array<double, 6> b, std::array<double, 6>& x) {
    for (int c = 0; c < 6; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 6; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) {
                pivot = r;
            }
        }
        if (!(std::fabs(a[pivot][c]) > 1e-12)) {
            return false;
        }
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = c + 1; r < 6; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < 6; ++k) {
                a[r][k] -= f * a[c][k];
            }
            b[r] -= f * b[c];
        }
    }
    for (int r = 5; r >= 0; --r) {
        double s = b[r];
        for (int k = r + 1; k < 6; ++k) {
            s -= a[r][k] * x[k];
        }
        x[r] = s / a[r][r];
    }
    return true;
}

struct Fit {
    Params p{};
    double error = 0;
};

// Gauss-Newton from one start; the Jacobian by forward differences.
std::optional<Fit> refine(Params p, const std::vector<HeadPoseSolver::Point>& points) {
    std::array<double, 2 * kPoints> model{}, moved{};
    std::array<std::array<double, 2 * kPoints>, 6> jacobian{};
    for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
        projectModel(p, model);
        for (int k = 0; k < 6; ++k) {
            const double h = k < 3 ? 1e-5 : (k == 3 ? 1e-5 * p[3] : 1e-3);
            Params q = p;
            q[static_cast<std::size_t>(k)] += h;
            projectModel(q, moved);
            for (std::size_t i = 0; i < 2 * kPoints; ++i) {
                jacobian[static_cast<std::size_t>(k)][i] = (moved[i] - model[i]) / h;
            }
        }
        std::array<std::array<double, 6>, 6> normal{};
        std::array<double, 6> rhs{};
        for (std::size_t i = 0; i < 2 * kPoints; ++i) {
            const double target = (i % 2 == 0) ? points[i / 2].x : points[i / 2].y;
            const double residual = target - model[i];
            for (std::size_t a = 0; a < 6; ++a) {
                rhs[a] += jacobian[a][i] * residual;
                for (std::size_t b = 0; b < 6; ++b) {
                    normal[a][b] += jacobian[a][i] * jacobian[b][i];
                }
            }
        }
        for (std::size_t a = 0; a < 6; ++a) {
            normal[a][a] += 1e-6;
        }
        std::array<double, 6> step{};
        if (!solve6(normal, rhs, step)) {
            return std::nullopt;
        }
        for (std::size_t a = 0; a < 6; ++a) {
            p[a] += step[a];
        }
        if (!std::all_of(p.begin(), p.end(), [](double v) { return std::isfinite(v); })) {
            return std::nullopt;
        }
        if (std::max({std::fabs(step[0]), std::fabs(step[1]), std::fabs(step[2])}) < 1e-6) {
            break;
        }
    }
    Fit fit{p, 0};
    projectModel(p, model);
    for (std::size_t i = 0; i < 2 * kPoints; ++i) {
        const double target = (i % 2 == 0) ? points[i / 2].x : points[i / 2].y;
        fit.error += (target - model[i]) * (target - model[i]);
    }
    return fit;
}

// The pitch from the model's rotation about x (degrees, positive looking up) and from heights measured
// across the eye line in eye-to-mouth units, which no size or roll moves: looking up raises the nose tip
// and the jaw's corners towards the eyes and lengthens the chin below the mouth; looking down does the
// opposite. Mouth corners on or next to the eye line give no reading.
std::optional<double> pitchFrom(double modelPitch, const std::vector<HeadPoseSolver::Point>& p) {
    const double a =
        std::atan2(p[kRightEyeOuter].y - p[kLeftEyeOuter].y, p[kRightEyeOuter].x - p[kLeftEyeOuter].x);
    const double dx = -std::sin(a), dy = std::cos(a);
    auto across = [&](std::size_t i) { return p[i].x * dx + p[i].y * dy; };
    auto between = [&](std::size_t i, std::size_t j) { return (across(i) + across(j)) / 2; };
    const double eyes = between(kLeftEyeOuter, kRightEyeOuter);
    const double span = between(kMouthLeft, kMouthRight) - eyes;
    // A face's mouth sits at least a third of the eyes' distance below them even when it looks up or down
    // by 60 degrees: one within a tenth of it is no face, and its heights would read hundreds of degrees.
    const double eyeDistance =
        std::hypot(p[kRightEyeOuter].x - p[kLeftEyeOuter].x, p[kRightEyeOuter].y - p[kLeftEyeOuter].y);
    if (!(std::fabs(span) > 0.1 * eyeDistance)) {
        return std::nullopt;
    }
    const double nose = (across(kNoseTip) - eyes) / span;
    const std::array<double, headmodel::kPitch.size() - 1> terms{
        modelPitch,
        modelPitch * std::fabs(modelPitch) / 30,
        nose,
        nose * nose,
        (eyes - between(kLeftBrowMiddle, kRightBrowMiddle)) / span,
        (across(kChin) - eyes - span) / span,
        (between(kLeftJaw, kRightJaw) - eyes) / span,
        (across(kNoseBase) - eyes) / span,
    };
    double pitch = headmodel::kPitch[0];
    for (std::size_t i = 0; i < terms.size(); ++i) {
        pitch += headmodel::kPitch[i + 1] * terms[i];
    }
    return pitch;
}

} // namespace

std::optional<HeadPoseReading> HeadPoseSolver::solve(const std::vector<Point>& points) {
    if (points.size() != kPoints) {
        return std::nullopt;
    }
    double cx = 0, cy = 0;
    for (const Point& pt : points) {
        if (!std::isfinite(pt.x) || !std::isfinite(pt.y)) {
            return std::nullopt;
        }
        cx += pt.x;
        cy += pt.y;
    }
    cx /= kPoints;
    cy /= kPoints;
    // The covariance of the points: a face that collapsed to a point or a line cannot be read.
    double sxx = 0, syy = 0, sxy = 0;
    for (const Point& pt : points) {
        sxx += (pt.x - cx) * (pt.x - cx);
        syy += (pt.y - cy) * (pt.y - cy);
        sxy += (pt.x - cx) * (pt.y - cy);
    }
    const double spread = std::sqrt((sxx + syy) / kPoints);
    if (!(spread > 1e-3) || sxx * syy - sxy * sxy < 1e-6 * (sxx + syy) * (sxx + syy)) {
        return std::nullopt;
    }
    double modelSpread = 0;
    for (const auto& m : headmodel::kShape) {
        modelSpread += m[0] * m[0] + m[1] * m[1];
    }
    modelSpread = std::sqrt(modelSpread / kPoints);
    const double roll0 = std::atan2(points[kRightEyeOuter].y - points[kLeftEyeOuter].y,
                                    points[kRightEyeOuter].x - points[kLeftEyeOuter].x);
    // A turned face can settle on the wrong side from a frontal start: try a start on either side too.
    std::optional<Fit> best;
    for (const double yaw0 : {0.0, -0.6, 0.6}) {
        const auto fit = refine(Params{yaw0, 0.0, roll0, spread / modelSpread, cx, cy}, points);
        if (fit && std::fabs(fit->p[0]) < kMaxAngle && std::fabs(fit->p[1]) < kMaxAngle &&
            (!best || fit->error < best->error)) {
            best = fit;
        }
    }
    const auto pitch = best ? pitchFrom(-best->p[1] * kDeg, points) : std::nullopt;
    if (!pitch) {
        return std::nullopt;
    }
    // The model's nose points at the camera (negative z): a positive rotation about y moves it to the
    // image's left and one about x moves it down.
    HeadPoseReading reading;
    reading.yawDegrees = -best->p[0] * kDeg * headmodel::kYawGain;
    reading.pitchDegrees = *pitch;
    reading.rollDegrees = std::remainder(best->p[2], 2 * std::numbers::pi) * kDeg;
    return reading;
}

std::vector<HeadPoseSolver::Point> HeadPoseSolver::project(const HeadPoseReading& rotation, double scale,
                                                           Point centre) {
    const Params p{-rotation.yawDegrees / kDeg,
                   -rotation.pitchDegrees / kDeg,
                   rotation.rollDegrees / kDeg,
                   scale,
                   centre.x,
                   centre.y};
    std::array<double, 2 * kPoints> out{};
    projectModel(p, out);
    std::vector<Point> points(kPoints);
    for (std::size_t j = 0; j < kPoints; ++j) {
        points[j] = {out[2 * j], out[2 * j + 1]};
    }
    return points;
}

} // namespace tavrine
