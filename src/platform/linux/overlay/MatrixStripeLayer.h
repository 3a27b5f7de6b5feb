#pragma once

#include "core/overlay/StripeGeometry.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

class QPainter;

namespace tavrine {

// The privacy matrix of one overlay window: diagonal stripes of the given colour at stripeAlpha, the
// whole pattern at overlayAlpha. The pattern is rendered once into an image and kept until a value or
// the size changes, so repaints (the alert flash) only copy it.
class MatrixStripeLayer {
  public:
    struct Values {
        std::int64_t distanceCm = 80;
        std::uint64_t colorArgb = 0xFF000000ULL;
        float stripeAlpha = 0.42f;
        double overlayAlpha = 0.0;
        bool operator==(const Values&) const = default;
    };

    // The layer for a canvas of `logicalSize` points at `devicePixelRatio` device pixels per point,
    // as a premultiplied image in device pixels. Reuses the last image when nothing changed.
    const QImage& image(const Values& values, QSize logicalSize, qreal devicePixelRatio);
    void drop();

    // Renders the layer without any cache.
    static QImage render(const Values& values, QSize logicalSize, qreal devicePixelRatio);

    // Fills the stripes as rotated rectangles with QPainter. Slower: kept as the reference the fast
    // rendering is checked against.
    static void drawStripes(QPainter& painter, const Values& values, QSizeF size);

  private:
    static std::vector<std::uint32_t> pixelLine(const std::vector<float>& coverage, const Values& values);

    Values values_;
    QSize sizePx_;
    double periodPx_ = 0;
    std::vector<float> coverage_; // depends on size and period only
    QImage image_;
};

} // namespace tavrine
