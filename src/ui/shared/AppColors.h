#pragma once

#include <QColor>
#include <QString>

#include <initializer_list>

namespace tavrine {

// The colours shared by the panels. The text and surface colours follow the desktop's palette (light or
// dark); every colour meant for text is adjusted until it reads at 4.5:1 or more against the window and
// the card surfaces, so the accents stay readable in both schemes.
struct AppColors {
    static constexpr double minimumTextContrast = 4.5;

    // The brand blue, for fills and pictograms (switch track, page dots, logo).
    static QColor primary() { return QColor::fromRgbF(0.18f, 0.56f, 0.92f); }
    // The brand blue as text and links.
    static QColor accent();
    // The background of prominent buttons, under white text.
    static QColor primaryButton();
    static QColor success();
    static QColor error();
    static QColor warning(); // the "not calibrated" orange
    static QColor textPrimary();
    static QColor textSecondary();
    static QColor surface();
    // CSS form for style sheets, e.g. "rgba(46,143,235,1)".
    static QString css(const QColor& color);

    // WCAG relative luminance and contrast ratio of two opaque colours.
    static double luminance(const QColor& color);
    // Dark enough that white reads better on it than black.
    static bool isDark(const QColor& color);
    static double contrast(const QColor& a, const QColor& b);
    // The colour, darkened on a light background or lightened on a dark one, until it reads at the
    // given ratio against every background (the hue kept as far as possible).
    static QColor readableOn(QColor color, std::initializer_list<QColor> backgrounds,
                             double ratio = minimumTextContrast);
    // True when the window colour is dark.
    static bool darkScheme();
};

} // namespace tavrine
