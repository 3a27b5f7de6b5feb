#pragma once

#include <cstdint>
#include <vector>

namespace tavrine {

// The arithmetic of the privacy matrix: diagonal stripes whose spacing follows the viewing distance.
// The stripes are drawn in a frame centred on the canvas and rotated by 45 degrees (clockwise on a
// y-down screen); in that frame stripe k covers u in [-diagonal + k * period, ... + stripe width).
// A pixel's coverage therefore depends only on x + y, which lets a renderer compute one line of
// coverage and shift it by one pixel per row.
class StripeGeometry {
  public:
    struct Rect {
        double x = 0, y = 0, width = 0, height = 0;
    };
    struct Color {
        double red = 0, green = 0, blue = 0, alpha = 0; // 0..1, not premultiplied
        bool operator==(const Color&) const = default;
    };

    static constexpr double kRotationDegrees = 45.0;

    // 8 x sqrt(max(distance, 30) / 60): distances of 30 cm or less give the finest pattern.
    static double period(std::int64_t distanceCm);
    static double stripeWidth(std::int64_t distanceCm) { return period(distanceCm) * 0.5; }

    // The stripes in the rotated frame, for a canvas of w x h, in drawing order.
    static std::vector<Rect> rects(double width, double height, std::int64_t distanceCm);

    // The stripe colour: RGB from bits 16-23, 8-15, 0-7 of colorArgb; the alpha byte is replaced by
    // stripeAlpha, so a colour with a zero alpha byte still shows.
    static Color color(std::uint64_t colorArgb, float stripeAlpha);

    // Where a point of the canvas falls within its period, in [0, period): below the stripe width it
    // is on a stripe, above it in a gap. Same units as width and height.
    static double phaseAt(double x, double y, double width, double height, double period);

    // Area coverage (0..1) of the pixels of a widthPx x heightPx canvas by the stripes, indexed by
    // x + y (widthPx + heightPx - 1 entries). periodPx is the period in pixels.
    static std::vector<float> lineCoverage(int widthPx, int heightPx, double periodPx);

    // A premultiplied 0xAARRGGBB pixel of `color` drawn at `opacity` (layer opacity x coverage).
    static std::uint32_t premultipliedPixel(const Color& color, double opacity);
};

} // namespace tavrine
