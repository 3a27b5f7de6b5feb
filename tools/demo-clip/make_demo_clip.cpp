// Writes the frames of the demonstration clip as PNG files: one person facing the camera, turning the
// head away and back, then a second person coming into view and leaving. Every frame is made from one
// public-domain portrait (see data/demo/PROVENANCE.md); the head turn is a synthetic rotation of the head
// about its vertical axis, the second person a mirrored, smaller copy of the same portrait.
//
// Usage: make_demo_clip PORTRAIT.png OUTDIR [FRAME]   (writes OUTDIR/frame0000.png ... at 10 frames a
// second; with FRAME, only that one)

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFps = 10;
constexpr double kPi = 3.14159265358979323846;

// The head in the portrait scaled to 640 wide (measured on the 512x512 original, times 1.25).
// The head, hair included, is an upright ellipsoid: each row of it a circle turning about the axis.
constexpr double kHeadCx = 282.0; // vertical axis of the head
constexpr double kHeadCy = 125.0;
constexpr double kHeadRadius = 96.0; // half the width of head and hair
constexpr double kHeadHalfHeight = 110.0;
constexpr double kHeadTop = kHeadCy - kHeadHalfHeight;
constexpr double kChinY = 225.0; // below this the turn fades out over the neck
constexpr double kNeckFade = 40.0;
constexpr double kNoseX = 278.0, kNoseY = 160.0; // tip of the nose
constexpr double kNoseDepth = 50.0;              // how far the nose stands out of the head's cylinder
constexpr double kNoseSpreadX = 22.0, kNoseSpreadY = 45.0;

double smooth(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Head yaw in degrees at time t (seconds): away between 6 s and 13 s.
double yawAt(double t) {
    constexpr double away = 35.0;
    if (t < 6.0 || t >= 13.0) {
        return 0.0;
    }
    if (t < 7.0) {
        return away * smooth(t - 6.0);
    }
    if (t >= 12.0) {
        return away * (1.0 - smooth(t - 12.0));
    }
    return away + 2.0 * std::sin((t - 7.0) * 2.0);
}

// How far the second person has come into view (0 = outside, 1 = fully in): 16 s to 22 s.
double visitorAt(double t) {
    if (t < 16.0 || t >= 22.0) {
        return 0.0;
    }
    if (t < 17.0) {
        return smooth(t - 16.0);
    }
    if (t >= 21.0) {
        return 1.0 - smooth(t - 21.0);
    }
    return 1.0;
}

double radiusAt(double y) {
    const double v = (y - kHeadCy) / kHeadHalfHeight;
    return v * v >= 1.0 ? 0.0 : kHeadRadius * std::sqrt(1.0 - v * v);
}

double noseBump(double x, double y) {
    const double dx = (x - kNoseX) / kNoseSpreadX;
    const double dy = (y - kNoseY) / kNoseSpreadY;
    return kNoseDepth * std::exp(-(dx * dx + dy * dy));
}

// Turns the head by `yawDeg` about its vertical axis: each column of the head is a point on a cylinder
// (plus the nose standing out of it) that moves sideways as the cylinder turns. Output pixels are looked
// up in the source by inverting that motion; what comes round from the back of the head is hair.
cv::Mat turnHead(const cv::Mat& src, double yawDeg, const cv::Vec3b& hair) {
    if (std::abs(yawDeg) < 0.01) {
        return src.clone();
    }
    const double theta = yawDeg * kPi / 180.0;
    cv::Mat mapX(src.size(), CV_32F), mapY(src.size(), CV_32F), back(src.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < src.rows; ++y) {
        const double weight =
            y < kHeadTop ? 0.0 : (y <= kChinY ? 1.0 : 1.0 - smooth((y - kChinY) / kNeckFade));
        const double radius = std::max(radiusAt(y), 40.0);
        for (int x = 0; x < src.cols; ++x) {
            double sx = x;
            const double u = (x - kHeadCx) / radius;
            if (weight > 0.0 && std::abs(u) < 1.0) {
                // Solve R sin(phi + theta) + d(sx) sin(theta) = x - cx for the source angle phi.
                double phi = std::asin(u) - theta * weight;
                for (int i = 0; i < 4; ++i) {
                    const double srcX = kHeadCx + radius * std::sin(phi);
                    const double d = noseBump(srcX, y) * weight;
                    const double v =
                        std::clamp((x - kHeadCx - d * std::sin(theta * weight)) / radius, -1.0, 1.0);
                    phi = std::asin(v) - theta * weight;
                }
                if (std::abs(phi) > kPi / 2 && y < kChinY - 30) {
                    back.at<std::uint8_t>(y, x) = 255;
                }
                sx = kHeadCx + radius * std::sin(std::clamp(phi, -kPi / 2, kPi / 2));
            }
            mapX.at<float>(y, x) = static_cast<float>(sx);
            mapY.at<float>(y, x) = static_cast<float>(y);
        }
    }
    cv::Mat turned;
    cv::remap(src, turned, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::Mat hairLayer(src.size(), src.type(), cv::Scalar(hair[0], hair[1], hair[2]));
    hairLayer.copyTo(turned, back);
    cv::Mat softened;
    cv::GaussianBlur(turned, softened, cv::Size(0, 0), 2.0);
    cv::dilate(back, back, cv::Mat(), cv::Point(-1, -1), 3);
    softened.copyTo(turned, back);
    // Only the head turns: the turned image is blended in through a soft oval around it.
    cv::Mat mask(src.size(), CV_32F, cv::Scalar(0));
    cv::ellipse(mask, cv::Point(static_cast<int>(kHeadCx), static_cast<int>(kHeadCy)),
                cv::Size(static_cast<int>(kHeadRadius) - 3, static_cast<int>(kHeadHalfHeight) - 3), 0, 0, 360,
                cv::Scalar(1.0), cv::FILLED);
    cv::GaussianBlur(mask, mask, cv::Size(0, 0), 5.0);
    cv::Mat out = src.clone();
    for (int y = 0; y < src.rows; ++y) {
        for (int x = 0; x < src.cols; ++x) {
            const float a = mask.at<float>(y, x);
            if (a <= 0.0f) {
                continue;
            }
            const auto& t = turned.at<cv::Vec3b>(y, x);
            auto& o = out.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c) {
                o[c] = cv::saturate_cast<std::uint8_t>(o[c] * (1.0f - a) + t[c] * a);
            }
        }
    }
    return out;
}

// Lays a mirrored, smaller copy of the portrait's head and shoulders at the right of the frame.
void addVisitor(cv::Mat& frame, const cv::Mat& portrait, double presence) {
    if (presence <= 0.0) {
        return;
    }
    const cv::Rect bust(150, 0, 270, 330); // head and shoulders in the 640-wide portrait
    cv::Mat person;
    cv::flip(portrait(bust), person, 1);
    constexpr double scale = 0.62;
    cv::resize(person, person, cv::Size(), scale, scale, cv::INTER_AREA);
    // A soft oval mask, so the copy blends into the background.
    cv::Mat mask(person.size(), CV_32F, cv::Scalar(0));
    cv::ellipse(mask, cv::Point(person.cols / 2, person.rows / 2 + 4),
                cv::Size(person.cols / 2 - 14, person.rows / 2 - 10), 0, 0, 360, cv::Scalar(1.0), cv::FILLED);
    cv::GaussianBlur(mask, mask, cv::Size(0, 0), 5.0);

    const int restX = kWidth - person.cols - 12;
    const int x0 = static_cast<int>(std::lround(kWidth + (restX - kWidth) * presence));
    const int y0 = 150;
    for (int y = 0; y < person.rows; ++y) {
        const int fy = y0 + y;
        if (fy < 0 || fy >= kHeight) {
            continue;
        }
        for (int x = 0; x < person.cols; ++x) {
            const int fx = x0 + x;
            if (fx < 0 || fx >= kWidth) {
                continue;
            }
            const float a = mask.at<float>(y, x);
            auto& dst = frame.at<cv::Vec3b>(fy, fx);
            const auto& s = person.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c) {
                dst[c] = cv::saturate_cast<std::uint8_t>(dst[c] * (1.0f - a) + s[c] * a);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s PORTRAIT.png OUTDIR [FRAME]\n", argv[0]);
        return 2;
    }
    const cv::Mat original = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (original.empty() || original.cols != 512 || original.rows != 512) {
        std::fprintf(stderr, "%s: expected the 512x512 portrait\n", argv[1]);
        return 1;
    }
    cv::Mat portrait;
    cv::resize(original, portrait, cv::Size(kWidth, kWidth), 0, 0, cv::INTER_CUBIC);
    const cv::Scalar hairMean = cv::mean(portrait(cv::Rect(240, 40, 12, 12)));
    const cv::Vec3b hair(static_cast<std::uint8_t>(hairMean[0]), static_cast<std::uint8_t>(hairMean[1]),
                         static_cast<std::uint8_t>(hairMean[2]));

    constexpr double kSeconds = 26.0;
    const int frames = static_cast<int>(kSeconds * kFps);
    const int first = argc == 4 ? std::atoi(argv[3]) : 0;
    const int last = argc == 4 ? first + 1 : frames;
    for (int i = first; i < last; ++i) {
        const double t = static_cast<double>(i) / kFps;
        // A little sway and breathing, as a person in front of a webcam never holds still.
        const double dx = 3.0 * std::sin(t * 1.3), dy = 2.0 * std::sin(t * 0.9 + 1.0);
        const double zoom = 1.0 + 0.01 * std::sin(t * 0.7);
        cv::Mat turned = turnHead(portrait, yawAt(t), hair);
        cv::Mat moved;
        const cv::Mat m =
            (cv::Mat_<double>(2, 3) << zoom, 0, dx + (1 - zoom) * kHeadCx, 0, zoom, dy + (1 - zoom) * 150);
        cv::warpAffine(turned, moved, m, turned.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        cv::Mat frame = moved(cv::Rect(0, 0, kWidth, kHeight)).clone();
        addVisitor(frame, portrait, visitorAt(t));
        char name[32];
        std::snprintf(name, sizeof name, "/frame%04d.png", i);
        if (!cv::imwrite(std::string(argv[2]) + name, frame)) {
            std::fprintf(stderr, "cannot write %s%s\n", argv[2], name);
            return 1;
        }
    }
    std::printf("%d frames\n", frames);
    return 0;
}
