#pragma once

#include <QColor>

namespace tavrine {

// The colours shared by the panels. The three text/surface colours follow the desktop's palette.
struct AppColors {
    static QColor primary() { return QColor::fromRgbF(0.18f, 0.56f, 0.92f); }
    static QColor accent() { return primary(); }
    static QColor success() { return QColor::fromRgbF(0.2f, 0.78f, 0.35f); }
    static QColor error() { return QColor::fromRgbF(0.96f, 0.26f, 0.21f); }
    static QColor warning(); // the "not calibrated" orange
    static QColor textPrimary();
    static QColor textSecondary();
    static QColor surface();
    // CSS form for style sheets, e.g. "rgb(46,143,235)".
    static QString css(const QColor& color);
};

} // namespace tavrine
