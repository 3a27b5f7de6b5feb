#include "ui/shared/EyeLogo.h"

#include <QPainter>

namespace tavrine {

EyeLogo::EyeLogo(bool isActive, bool isAlert, int size, double openAmount, double pulseScale, QWidget* parent)
    : QWidget(parent), params_{isActive, isAlert, openAmount, pulseScale}, size_(size) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TranslucentBackground);
}

void EyeLogo::setState(bool isActive, bool isAlert) {
    if (params_.isActive != isActive || params_.isAlert != isAlert) {
        params_.isActive = isActive;
        params_.isAlert = isAlert;
        update();
    }
}

void EyeLogo::setOpenAmount(double openAmount) {
    params_.openAmount = openAmount;
    update();
}

void EyeLogo::setPulseScale(double pulseScale) {
    params_.pulseScale = pulseScale;
    update();
}

void EyeLogo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    EyeRenderer::paint(p, QRectF(0, 0, size_, size_), params_);
}

} // namespace tavrine
