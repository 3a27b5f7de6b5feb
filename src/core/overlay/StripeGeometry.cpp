#include "core/overlay/StripeGeometry.h"

#include <algorithm>
#include <cmath>

namespace tavrine {

namespace {

// Fraction of a pixel's area, projected on the rotated axis, that falls left of t. The projection of a
// unit square on a 45-degree axis is a triangle of half-width 1/sqrt(2) around the pixel centre.
double tentCdf(double t, double halfWidth) {
    if (t <= -halfWidth) {
        return 0.0;
    }
    if (t >= halfWidth) {
        return 1.0;
    }
    const double a2 = 2.0 * halfWidth * halfWidth;
    if (t < 0.0) {
        return (t + halfWidth) * (t + halfWidth) / a2;
    }
    return 1.0 - (halfWidth - t) * (halfWidth - t) / a2;
}

std::uint32_t toByte(double v) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

} // namespace

double StripeGeometry::period(std::int64_t distanceCm) {
    const double d = static_cast<double>(std::max<std::int64_t>(distanceCm, 30));
    return 8.0 * std::sqrt(d / 60.0);
}

std::vector<StripeGeometry::Rect> StripeGeometry::rects(double width, double height,
                                                        std::int64_t distanceCm) {
    std::vector<Rect> out;
    const double diagonal = std::sqrt(width * width + height * height);
    if (!(diagonal > 0.0)) {
        return out;
    }
    const double p = period(distanceCm);
    const double w = p * 0.5;
    double x = -diagonal;
    do {
        out.push_back(Rect{x, -diagonal, w, 2.0 * diagonal});
        x += p;
    } while (x < diagonal);
    return out;
}

StripeGeometry::Color StripeGeometry::color(std::uint64_t colorArgb, float stripeAlpha) {
    Color c;
    c.red = static_cast<double>((colorArgb >> 16) & 0xFF) / 255.0;
    c.green = static_cast<double>((colorArgb >> 8) & 0xFF) / 255.0;
    c.blue = static_cast<double>(colorArgb & 0xFF) / 255.0;
    c.alpha = static_cast<double>(stripeAlpha);
    return c;
}

double StripeGeometry::phaseAt(double x, double y, double width, double height, double period) {
    const double diagonal = std::sqrt(width * width + height * height);
    const double u = ((x - width * 0.5) + (y - height * 0.5)) / std::sqrt(2.0);
    double phase = std::fmod(u + diagonal, period);
    if (phase < 0.0) {
        phase += period;
    }
    return phase;
}

std::vector<float> StripeGeometry::lineCoverage(int widthPx, int heightPx, double periodPx) {
    std::vector<float> line;
    if (widthPx <= 0 || heightPx <= 0 || !(periodPx > 0.0)) {
        return line;
    }
    const double stripe = periodPx * 0.5;
    const double halfWidth = 1.0 / std::sqrt(2.0);
    line.resize(static_cast<std::size_t>(widthPx) + static_cast<std::size_t>(heightPx) - 1);
    for (std::size_t s = 0; s < line.size(); ++s) {
        // Pixel (x, y) with x + y = s has its centre at (x + 0.5, y + 0.5).
        const double sum = static_cast<double>(s) + 1.0;
        const double centre = phaseAt(sum, 0.0, widthPx, heightPx, periodPx);
        double covered = 0.0;
        // The stripe width and the gap both exceed the footprint (2 x 0.707 px) at every period in use,
        // but summing three neighbouring stripes keeps the result right for finer patterns too.
        for (int k = -1; k <= 1; ++k) {
            const double start = k * periodPx - centre;
            const double end = start + stripe;
            covered += tentCdf(end, halfWidth) - tentCdf(start, halfWidth);
        }
        line[s] = static_cast<float>(std::clamp(covered, 0.0, 1.0));
    }
    return line;
}

std::uint32_t StripeGeometry::premultipliedPixel(const Color& color, double opacity) {
    const double a = std::clamp(color.alpha * opacity, 0.0, 1.0);
    const std::uint32_t a8 = toByte(a);
    if (a8 == 0) {
        return 0;
    }
    // Premultiply against the stored alpha byte so that every channel stays at or below it.
    const double stored = a8 / 255.0;
    return (a8 << 24) | (toByte(color.red * stored) << 16) | (toByte(color.green * stored) << 8) |
           toByte(color.blue * stored);
}

} // namespace tavrine
