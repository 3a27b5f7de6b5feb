#pragma once

#include "core/domain/FilterState.h"

#include <QColor>
#include <QIcon>
#include <QImage>

class QPainter;

namespace tavrine {

// The tray eye: open, closed, or closed and struck through, drawn at 18 x 18 logical pixels in one tint.
// The shape takes the tint and the white of the eye stays transparent. The theme icons are recoloured by
// the panel; the pixmaps (the XEmbed tray's only icon) carry a thin rim of the opposite lightness instead,
// so a dark eye still reads on a dark panel.
class TrayIcon {
  public:
    enum class IconState { nominal, inactive, alert, paused };
    static constexpr int logicalSize = 18;

    struct Look {
        IconState iconState;
        QColor tint;
    };

    // The icon state and tint for a filter state (label colour, red for an alert, secondary when paused).
    static Look lookFor(const FilterState& state);

    // One rendering at the given device pixel ratio (18 px logical, e.g. 36 device pixels at 2x).
    static QImage render(IconState state, const QColor& tint, qreal devicePixelRatio = 1.0);
    // A rendering with a thin rim of the opposite lightness around the eye, so that a pixmap reads on light
    // and dark panels alike.
    static QImage withHalo(const QImage& glyph, const QColor& tint);
    // The icon with its 1x and 2x renderings, each with its rim.
    static QIcon make(IconState state, const QColor& tint);

    // The symbolic icon of the hicolor theme that draws the same eye ("tavrine-active-symbolic", ...), which
    // tray hosts recolour for their panel.
    static const char* themeName(IconState state);
    // The directory that holds those icons' "hicolor" folder: the installed one when there is one, else
    // the one beside the executable's prefix, else the source tree's (a run from the build tree).
    static QString themeSearchPath();

    static QColor labelColor();
    static QColor secondaryLabelColor();
    static QColor systemRed() { return QColor(255, 59, 48); }

    static void drawOpenEye(QPainter& p, const QRectF& rect, const QColor& tint);
    static void drawClosedEye(QPainter& p, const QRectF& rect, const QColor& tint);
    static void drawStrikethrough(QPainter& p, const QRectF& rect, const QColor& tint);
};

} // namespace tavrine
