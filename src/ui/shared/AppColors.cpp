#include "ui/shared/AppColors.h"

#include <QGuiApplication>
#include <QPalette>

namespace tavrine {

QColor AppColors::warning() {
    return QColor::fromRgbF(1.0f, 0.58f, 0.0f);
}

QColor AppColors::textPrimary() {
    return QGuiApplication::palette().color(QPalette::WindowText);
}

QColor AppColors::textSecondary() {
    // An opaque mix of the text and window colours: readable, clearly quieter than the primary text.
    const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    const float t = 0.55f;
    return QColor::fromRgbF(text.redF() * t + window.redF() * (1 - t),
                            text.greenF() * t + window.greenF() * (1 - t),
                            text.blueF() * t + window.blueF() * (1 - t));
}

QColor AppColors::surface() {
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    const QColor base = QGuiApplication::palette().color(QPalette::Base);
    // Cards need to stand out from the window whatever the theme.
    return base == window ? window.darker(106) : base;
}

QString AppColors::css(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
}

} // namespace tavrine
