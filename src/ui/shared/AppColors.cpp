#include "ui/shared/AppColors.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace tavrine {
namespace {

QColor window() {
    return QGuiApplication::palette().color(QPalette::Window);
}

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(float(a.redF() * t + b.redF() * (1 - t)),
                            float(a.greenF() * t + b.greenF() * (1 - t)),
                            float(a.blueF() * t + b.blueF() * (1 - t)));
}

// Readable against the window and the cards alike.
QColor onPanels(const QColor& c) {
    return AppColors::readableOn(
        c, {window(), AppColors::surface(), QGuiApplication::palette().color(QPalette::Button)});
}

} // namespace

double AppColors::luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

bool AppColors::isDark(const QColor& c) {
    return luminance(c) < 0.18;
}

double AppColors::contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor AppColors::readableOn(QColor color, std::initializer_list<QColor> backgrounds, double ratio) {
    color.setAlphaF(1.0f);
    const auto worst = [&](const QColor& c) {
        double w = 1e9;
        for (const QColor& b : backgrounds) {
            w = std::min(w, contrast(c, b));
        }
        return w;
    };
    const bool anyDark =
        std::any_of(backgrounds.begin(), backgrounds.end(), [](const QColor& b) { return isDark(b); });
    // Towards black on light backgrounds, towards white on dark ones, in small steps.
    const QColor target = anyDark ? QColor(Qt::white) : QColor(Qt::black);
    for (int step = 0; step <= 40 && worst(color) < ratio; ++step) {
        color = mix(target, color, 0.05);
    }
    return color;
}

bool AppColors::darkScheme() {
    return isDark(window());
}

QColor AppColors::accent() {
    return onPanels(primary());
}

QColor AppColors::primaryButton() {
    return readableOn(primary(), {QColor(Qt::white)});
}

QColor AppColors::success() {
    return onPanels(QColor::fromRgbF(0.2f, 0.78f, 0.35f));
}

QColor AppColors::error() {
    return onPanels(QColor::fromRgbF(0.96f, 0.26f, 0.21f));
}

QColor AppColors::warning() {
    return onPanels(QColor::fromRgbF(1.0f, 0.58f, 0.0f));
}

QColor AppColors::textPrimary() {
    return QGuiApplication::palette().color(QPalette::WindowText);
}

QColor AppColors::textSecondary() {
    // A mix of the text and window colours: clearly quieter than the primary text, still readable.
    return onPanels(mix(textPrimary(), window(), 0.62));
}

QColor AppColors::surface() {
    const QColor base = QGuiApplication::palette().color(QPalette::Base);
    // Cards need to stand out from the window whatever the scheme.
    if (base == window()) {
        return darkScheme() ? window().lighter(125) : window().darker(106);
    }
    return base;
}

QString AppColors::css(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
}

} // namespace tavrine
