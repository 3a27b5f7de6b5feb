#include "platform/linux/overlay/OverlayBadge.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace tavrine {

OverlayBadge::OverlayBadge(QString text)
    : text_(std::move(text)), textFont_(QFontDatabase::systemFont(QFontDatabase::FixedFont)),
      eyeFont_(QFontDatabase::systemFont(QFontDatabase::GeneralFont)) {
    textFont_.setPointSizeF(kTextPointSize);
    textFont_.setWeight(QFont::Medium);
    textFont_.setStyleHint(QFont::Monospace);
    eyeFont_.setPointSizeF(kEyePointSize);
}

QRect OverlayBadge::rowRect(const QRect& windowRect) const {
    const QFontMetrics textMetrics(textFont_);
    const QFontMetrics eyeMetrics(eyeFont_);
    // The pictogram is as tall as the capitals of a 14-point font and a little wider than tall.
    const int eyeHeight = eyeMetrics.capHeight();
    const int eyeWidth = eyeHeight * 3 / 2;
    const int textWidth = text_.isEmpty() ? 0 : textMetrics.horizontalAdvance(text_);
    const int width = eyeWidth + (text_.isEmpty() ? 0 : kSpacing + textWidth);
    const int height = std::max(eyeHeight, textMetrics.height());
    return QRect(windowRect.right() + 1 - kPadding - width, windowRect.top() + kPadding, width, height);
}

void OverlayBadge::paint(QPainter& painter, const QRect& windowRect) const {
    const QRect row = rowRect(windowRect);
    const QFontMetrics eyeMetrics(eyeFont_);
    const int eyeHeight = eyeMetrics.capHeight();
    const int eyeWidth = eyeHeight * 3 / 2;

    painter.save();
    painter.setOpacity(kOpacity);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QRectF eyeBox(row.left(), row.center().y() + 0.5 - eyeHeight / 2.0, eyeWidth, eyeHeight);
    paintEye(painter, eyeBox);
    if (!text_.isEmpty()) {
        painter.setFont(textFont_);
        painter.setPen(Qt::white);
        const QRect textRect(row.left() + eyeWidth + kSpacing, row.top(),
                             row.right() + 1 - (row.left() + eyeWidth + kSpacing), row.height());
        painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text_);
    }
    painter.restore();
}

void OverlayBadge::paintEye(QPainter& painter, const QRectF& box) {
    // A filled almond with a round pupil cut out and a dot in its middle.
    QPainterPath almond;
    const QPointF left(box.left(), box.center().y());
    const QPointF right(box.right(), box.center().y());
    const double bulge = box.height() * 0.95;
    almond.moveTo(left);
    almond.quadTo(QPointF(box.center().x(), box.center().y() - bulge), right);
    almond.quadTo(QPointF(box.center().x(), box.center().y() + bulge), left);
    almond.closeSubpath();
    const double r = box.height() * 0.32;
    QPainterPath iris;
    iris.addEllipse(box.center(), r, r);
    QPainterPath pupil;
    pupil.addEllipse(box.center(), r * 0.5, r * 0.5);
    painter.fillPath(almond.subtracted(iris).united(pupil), Qt::white);
}

} // namespace tavrine
