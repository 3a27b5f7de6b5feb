#include "platform/linux/overlay/MatrixStripeLayer.h"

#include <QPainter>
#include <QtMath>

#include <cmath>
#include <cstring>

namespace tavrine {

namespace {

QSize devicePixels(QSize logicalSize, qreal devicePixelRatio) {
    return QSize(qCeil(logicalSize.width() * devicePixelRatio),
                 qCeil(logicalSize.height() * devicePixelRatio));
}

void fillRows(QImage& image, const std::vector<std::uint32_t>& line) {
    const int w = image.width();
    // Row y is the line shifted by y pixels: the pattern depends on x + y only.
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(image.scanLine(y), line.data() + y, static_cast<std::size_t>(w) * sizeof(std::uint32_t));
    }
}

} // namespace

std::vector<std::uint32_t> MatrixStripeLayer::pixelLine(const std::vector<float>& coverage,
                                                        const Values& values) {
    const StripeGeometry::Color color = StripeGeometry::color(values.colorArgb, values.stripeAlpha);
    // 256 coverage levels are finer than the 8-bit alpha they end in.
    std::uint32_t levels[256];
    for (int i = 0; i < 256; ++i) {
        levels[i] = StripeGeometry::premultipliedPixel(color, values.overlayAlpha * (i / 255.0));
    }
    std::vector<std::uint32_t> line(coverage.size());
    for (std::size_t i = 0; i < coverage.size(); ++i) {
        line[i] = levels[static_cast<int>(std::lround(coverage[i] * 255.0f))];
    }
    return line;
}

QImage MatrixStripeLayer::render(const Values& values, QSize logicalSize, qreal devicePixelRatio) {
    MatrixStripeLayer layer;
    return layer.image(values, logicalSize, devicePixelRatio);
}

const QImage& MatrixStripeLayer::image(const Values& values, QSize logicalSize, qreal devicePixelRatio) {
    const QSize sizePx = devicePixels(logicalSize, devicePixelRatio);
    const double periodPx = StripeGeometry::period(values.distanceCm) * devicePixelRatio;
    if (!image_.isNull() && sizePx == sizePx_ && values == values_ &&
        image_.devicePixelRatio() == devicePixelRatio) {
        return image_;
    }
    if (sizePx != sizePx_ || periodPx != periodPx_ || coverage_.empty()) {
        coverage_ = StripeGeometry::lineCoverage(sizePx.width(), sizePx.height(), periodPx);
        sizePx_ = sizePx;
        periodPx_ = periodPx;
    }
    values_ = values;
    if (sizePx.isEmpty()) {
        image_ = QImage();
        return image_;
    }
    if (image_.size() != sizePx) {
        image_ = QImage(sizePx, QImage::Format_ARGB32_Premultiplied);
    }
    fillRows(image_, pixelLine(coverage_, values));
    image_.setDevicePixelRatio(devicePixelRatio);
    return image_;
}

void MatrixStripeLayer::drop() {
    image_ = QImage();
    coverage_.clear();
    coverage_.shrink_to_fit();
    sizePx_ = QSize();
}

void MatrixStripeLayer::drawStripes(QPainter& painter, const Values& values, QSizeF size) {
    const StripeGeometry::Color c = StripeGeometry::color(values.colorArgb, values.stripeAlpha);
    painter.save();
    painter.setOpacity(values.overlayAlpha);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(size.width() * 0.5, size.height() * 0.5);
    painter.rotate(StripeGeometry::kRotationDegrees);
    const QColor fill = QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                                         static_cast<float>(c.blue), static_cast<float>(c.alpha));
    for (const StripeGeometry::Rect& r :
         StripeGeometry::rects(size.width(), size.height(), values.distanceCm)) {
        painter.fillRect(QRectF(r.x, r.y, r.width, r.height), fill);
    }
    painter.restore();
}

} // namespace tavrine
