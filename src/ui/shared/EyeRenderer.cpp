#include "ui/shared/EyeRenderer.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>

namespace tavrine {
namespace {

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(float(r), float(g), float(b));
}

QColor withOpacity(QColor c, double opacity) {
    c.setAlphaF(float(std::clamp(opacity, 0.0, 1.0)));
    return c;
}

} // namespace

const EyeRenderer::Palette& EyeRenderer::Palette::active() {
    static const Palette p{rgb(0.059, 0.09, 0.165),
                           rgb(0.49, 0.827, 0.988),
                           rgb(0.055, 0.647, 0.914),
                           rgb(0.047, 0.29, 0.431),
                           rgb(0.008, 0.024, 0.09),
                           rgb(0.22, 0.745, 0.973),
                           0.55};
    return p;
}

const EyeRenderer::Palette& EyeRenderer::Palette::alert() {
    static const Palette p{rgb(0.12, 0.04, 0.04),
                           rgb(1.0, 0.7, 0.5),
                           rgb(0.96, 0.26, 0.21),
                           rgb(0.5, 0.05, 0.05),
                           rgb(0.05, 0.01, 0.01),
                           rgb(0.96, 0.26, 0.21),
                           0.55};
    return p;
}

const EyeRenderer::Palette& EyeRenderer::Palette::inactive() {
    static const Palette p{rgb(0.1, 0.11, 0.13),
                           rgb(0.45, 0.48, 0.52),
                           rgb(0.28, 0.3, 0.33),
                           rgb(0.15, 0.16, 0.18),
                           rgb(0.08, 0.08, 0.09),
                           rgb(0.35, 0.38, 0.42),
                           0.0};
    return p;
}

const EyeRenderer::Palette& EyeRenderer::paletteFor(bool isActive, bool isAlert) {
    if (isAlert) {
        return Palette::alert();
    }
    return isActive ? Palette::active() : Palette::inactive();
}

void EyeRenderer::paint(QPainter& painter, const QRectF& rect, const Params& params) {
    const Palette& pal = paletteFor(params.isActive, params.isAlert);
    const double w = rect.width();
    const double h = rect.height();
    const double o = params.openAmount;
    const double s = params.pulseScale;

    const double cx = rect.x() + w * 0.5;
    const double cy = rect.y() + h * 0.5;
    const double e = w * 0.82;
    const double a = e * 0.5;
    const QPointF left(cx - a, cy);
    const QPointF right(cx + a, cy);
    const double k = e * 0.7058823529411765 * o * 0.5; // lid height: 12/17 of the width when open

    QPainterPath almond;
    almond.moveTo(left);
    almond.quadTo(QPointF(cx, cy - k), right);
    almond.quadTo(QPointF(cx, cy + k), left);
    almond.closeSubpath();
    almond.setFillRule(Qt::WindingFill);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // Iris, pupil and highlight never show outside the lids.
    painter.save();
    painter.setClipPath(almond);
    painter.setPen(Qt::NoPen);
    painter.fillPath(almond, pal.background);

    const double r = e * 0.182 * s;
    if (r > 0) {
        QRadialGradient iris(QPointF(cx, cy), r);
        iris.setColorAt(0.0, pal.irisInner);
        iris.setColorAt(0.55, pal.irisMiddle);
        iris.setColorAt(1.0, pal.irisOuter);
        painter.setBrush(iris);
        painter.drawEllipse(QPointF(cx, cy), r, r);
    }
    const double q = r * 0.3870967741935484; // 12/31 of the iris
    painter.setBrush(pal.pupil);
    painter.drawEllipse(QPointF(cx, cy), q, q);

    if (params.isActive && o > 0.5) {
        const double t = std::min(2.0 * (o - 0.5), 1.0);
        const double g = q * 0.42;
        painter.setBrush(withOpacity(rgb(0.88, 0.95, 0.99), t * 0.9));
        painter.drawEllipse(QRectF(cx - 0.73 * q - g, cy - 0.83 * q - 0.7 * g, 2 * g, 1.4 * g));
    }
    painter.restore();

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(pal.outline, std::max(w * 0.022, 1.0)));
    painter.drawPath(almond);

    if (w >= 40 && o > 0.7) {
        const double u = std::min((o - 0.7) * 3.33, 1.0) * pal.lashOpacity;
        if (u > 0) {
            const double l = a * 0.18;
            painter.setPen(QPen(withOpacity(pal.outline, u), std::max(w * 0.018, 1.0)));
            const QLineF lashes[] = {
                {cx - a, cy - a * 0.34, cx - a - l, cy - a * 0.41},
                {cx - a - 0.01, cy, cx - a - l * 1.15, cy},
                {cx - a, cy + a * 0.34, cx - a - l, cy + a * 0.41},
                {cx + a, cy - a * 0.34, cx + a + l, cy - a * 0.41},
                {cx + a + 0.01, cy, cx + a + l * 1.15, cy},
                {cx + a, cy + a * 0.34, cx + a + l, cy + a * 0.41},
            };
            for (const QLineF& lash : lashes) {
                painter.drawLine(lash);
            }
        }
    }
    painter.restore();
}

} // namespace tavrine
