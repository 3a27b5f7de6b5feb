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
    const QRectF track = QRectF(rect()).adjusted(1, 2, -1, -2);
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
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(tint_, 1.2));
        p.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
    }
}

} // namespace tavrine
