#include "ui/shared/ToggleSwitch.h"

#include "ui/shared/AppColors.h"

#include <QPainter>

namespace tavrine {

ToggleSwitch::ToggleSwitch(QWidget* parent, QColor tint)
    : QAbstractButton(parent), tint_(tint.isValid() ? tint : AppColors::primary()) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::StrongFocus);
}

void ToggleSwitch::nextCheckState() {
    if (followsModel_) {
        emit toggleRequested(!isChecked());
        return;
    }
    QAbstractButton::nextCheckState();
    emit toggleRequested(isChecked());
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(2.5, 3, -2.5, -3);
    const double radius = track.height() / 2;
    QColor on = tint_;
    QColor off = palette().color(QPalette::Mid);
    if (!isEnabled()) {
        on.setAlphaF(0.4f);
        off.setAlphaF(0.4f);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? on : off);
    p.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        // In the text colour, around the track: visible on the track's blue and on the window alike.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(palette().color(QPalette::WindowText), 1.5));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), radius + 1, radius + 1);
    }
}

} // namespace tavrine
