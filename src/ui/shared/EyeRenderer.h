#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace tavrine {

// Draws the logo's eye: almond, radial-gradient iris, pupil, highlight and, at 40 px and up, six lashes.
class EyeRenderer {
  public:
    struct Palette {
        QColor background;
        QColor irisInner;
        QColor irisMiddle;
        QColor irisOuter;
        QColor pupil;
        QColor outline;
        double lashOpacity;

        static const Palette& active();
        static const Palette& alert();
        static const Palette& inactive();
    };

    struct Params {
        bool isActive = true;
        bool isAlert = false;
        double openAmount = 1.0; // 1 open, 0 shut
        double pulseScale = 1.0; // iris and pupil scale
    };

    // The alert palette wins over the active one.
    static const Palette& paletteFor(bool isActive, bool isAlert);

    // Draws into rect (normally a square of the logo's size).
    static void paint(QPainter& painter, const QRectF& rect, const Params& params);
};

} // namespace tavrine
