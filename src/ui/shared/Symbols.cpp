#include "ui/shared/Symbols.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>
#include <map>

namespace tavrine {
namespace {

// Every pictogram is drawn on a 20 x 20 unit square; the painter is scaled to the requested size.
using Draw = std::function<void(QPainter&, const QColor&)>;

void clearMode(QPainter& p) {
    p.setCompositionMode(QPainter::CompositionMode_Clear);
}

QPen roundPen(const QColor& c, qreal w) {
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void filledCircleWith(QPainter& p, const QColor& c, const std::function<void(QPainter&)>& cutOut) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QRectF(1, 1, 18, 18));
    clearMode(p);
    cutOut(p);
}

// A filled polygon whose corners the pen rounds.
void filledPolygon(QPainter& p, const QColor& c, const QPolygonF& corners) {
    QPainterPath path;
    path.addPolygon(corners);
    path.closeSubpath();
    p.setPen(roundPen(c, 1.5));
    p.setBrush(c);
    p.drawPath(path);
}

const std::map<QString, Draw>& drawings() {
    static const std::map<QString, Draw> table = {
        {"office-chart-bar",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawRoundedRect(QRectF(2, 11, 4, 7), 1, 1);
             p.drawRoundedRect(QRectF(8, 6, 4, 12), 1, 1);
             p.drawRoundedRect(QRectF(14, 2, 4, 16), 1, 1);
         }},
        {"preferences-system",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             for (int i = 0; i < 8; ++i) {
                 p.save();
                 p.translate(10, 10);
                 p.rotate(i * 45.0);
                 p.drawRoundedRect(QRectF(-1.8, -9.5, 3.6, 5), 0.8, 0.8);
                 p.restore();
             }
             p.drawEllipse(QPointF(10, 10), 6.6, 6.6);
             clearMode(p);
             p.drawEllipse(QPointF(10, 10), 2.8, 2.8);
         }},
        {"help-about",
         [](QPainter& p, const QColor& c) {
             filledCircleWith(p, c, [](QPainter& q) {
                 q.setBrush(Qt::black);
                 q.drawEllipse(QPointF(10, 6), 1.4, 1.4);
                 q.drawRoundedRect(QRectF(8.8, 8.6, 2.4, 7.4), 1, 1);
             });
         }},
        {"application-exit",
         [](QPainter& p, const QColor& c) {
             filledCircleWith(p, c, [](QPainter& q) {
                 q.setPen(roundPen(Qt::black, 2.0));
                 q.drawLine(QPointF(6.8, 6.8), QPointF(13.2, 13.2));
                 q.drawLine(QPointF(13.2, 6.8), QPointF(6.8, 13.2));
             });
         }},
        {"emblem-ok",
         [](QPainter& p, const QColor& c) {
             filledCircleWith(p, c, [](QPainter& q) {
                 q.setPen(roundPen(Qt::black, 2.0));
                 q.setBrush(Qt::NoBrush);
                 q.drawPolyline(QPolygonF({QPointF(5.8, 10.4), QPointF(8.8, 13.4), QPointF(14.4, 7.0)}));
             });
         }},
        {"view-visible",
         [](QPainter& p, const QColor& c) {
             QPainterPath almond;
             almond.moveTo(1, 10);
             almond.cubicTo(6, 3, 14, 3, 19, 10);
             almond.cubicTo(14, 17, 6, 17, 1, 10);
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawPath(almond);
             clearMode(p);
             p.drawEllipse(QPointF(10, 10), 4.2, 4.2);
             p.setCompositionMode(QPainter::CompositionMode_SourceOver);
             p.drawEllipse(QPointF(10, 10), 2.4, 2.4);
         }},
        {"slider.horizontal.3",
         [](QPainter& p, const QColor& c) {
             p.setPen(roundPen(c, 1.6));
             for (int i = 0; i < 3; ++i) {
                 p.drawLine(QPointF(2, 4 + i * 6), QPointF(18, 4 + i * 6));
             }
             p.setBrush(c);
             p.drawEllipse(QPointF(13, 4), 2, 2);
             p.drawEllipse(QPointF(6, 10), 2, 2);
             p.drawEllipse(QPointF(11, 16), 2, 2);
         }},
        {"dot.squareshape.split.2x2",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             for (int i = 0; i < 4; ++i) {
                 p.drawRoundedRect(QRectF(2 + (i % 2) * 9, 2 + (i / 2) * 9, 7, 7), 1.5, 1.5);
             }
         }},
        {"preferences-other",
         [](QPainter& p, const QColor& c) {
             p.setPen(roundPen(c, 2.2));
             p.drawLine(QPointF(4, 16), QPointF(12.5, 7.5));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QPointF(14.3, 5.7), 3, 3);
             p.setPen(roundPen(c, 1.8));
             p.drawLine(QPointF(4, 4), QPointF(15, 15));
             p.setPen(roundPen(c, 3.2));
             p.drawLine(QPointF(14, 14), QPointF(17, 17));
         }},
        {"avatar-default",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawEllipse(QPointF(10, 6), 4, 4);
             p.drawChord(QRectF(3, 11, 14, 14), 0, 180 * 16);
         }},
        {"dialog-warning",
         [](QPainter& p, const QColor& c) {
             filledPolygon(p, c, {QPointF(10, 1.5), QPointF(19, 18), QPointF(1, 18)});
             clearMode(p);
             p.setPen(Qt::NoPen);
             p.setBrush(Qt::black);
             p.drawRoundedRect(QRectF(9, 6.5, 2, 6.5), 1, 1);
             p.drawEllipse(QPointF(10, 15.3), 1.2, 1.2);
         }},
        {"list-remove",
         [](QPainter& p, const QColor& c) {
             p.setPen(roundPen(c, 1.5));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QRectF(1.5, 1.5, 17, 17));
             p.drawLine(QPointF(6, 10), QPointF(14, 10));
         }},
        {"list-add",
         [](QPainter& p, const QColor& c) {
             p.setPen(roundPen(c, 1.5));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QRectF(1.5, 1.5, 17, 17));
             p.drawLine(QPointF(6, 10), QPointF(14, 10));
             p.drawLine(QPointF(10, 6), QPointF(10, 14));
         }},
        {"video-display",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawRoundedRect(QRectF(4, 2, 12, 2), 1, 1);
             p.drawRoundedRect(QRectF(2.5, 5, 15, 2), 1, 1);
             p.drawRoundedRect(QRectF(1, 8.5, 18, 10), 2, 2);
         }},
        {"preferences-desktop-notification",
         [](QPainter& p, const QColor& c) {
             QPainterPath bell;
             bell.moveTo(3, 15);
             bell.lineTo(17, 15);
             bell.cubicTo(15, 13, 15.5, 11, 15.5, 8.5);
             bell.cubicTo(15.5, 5, 13, 3, 10, 3);
             bell.cubicTo(7, 3, 4.5, 5, 4.5, 8.5);
             bell.cubicTo(4.5, 11, 5, 13, 3, 15);
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawPath(bell);
             p.drawEllipse(QPointF(10, 17), 2, 2);
             p.drawEllipse(QPointF(10, 2.5), 1.3, 1.3);
         }},
        {"camera-web",
         [](QPainter& p, const QColor& c) {
             p.setPen(roundPen(c, 1.5));
             p.setBrush(Qt::NoBrush);
             p.drawRoundedRect(QRectF(1.5, 3.5, 17, 13), 2.5, 2.5);
             p.drawEllipse(QPointF(10, 10), 4, 4);
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawEllipse(QPointF(10, 10), 1.6, 1.6);
         }},
        {"system-shutdown",
         [](QPainter& p, const QColor& c) {
             p.setPen(roundPen(c, 2.0));
             p.setBrush(Qt::NoBrush);
             // The ring opens at the top, where the bar stands.
             p.drawArc(QRectF(2.5, 3.5, 15, 15), 55 * 16, -290 * 16);
             p.drawLine(QPointF(10, 1.5), QPointF(10, 9.5));
         }},
        {"media-playback-pause",
         [](QPainter& p, const QColor& c) {
             p.setPen(roundPen(c, 1.5));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QRectF(1.5, 1.5, 17, 17));
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawRoundedRect(QRectF(6.5, 6, 2.4, 8), 0.8, 0.8);
             p.drawRoundedRect(QRectF(11.1, 6, 2.4, 8), 0.8, 0.8);
         }},
        {"media-playback-start",
         [](QPainter& p, const QColor& c) {
             filledPolygon(p, c, {QPointF(5, 3), QPointF(17, 10), QPointF(5, 17)});
         }},
    };
    return table;
}

} // namespace

QPixmap Symbols::pixmap(const QString& name, const QColor& color, int sizePx, qreal dpr) {
    QPixmap pm(QSize(sizePx, sizePx) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(sizePx / 20.0, sizePx / 20.0);
    const auto& table = drawings();
    if (auto it = table.find(name); it != table.end()) {
        it->second(p, color);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QPointF(10, 10), 4, 4);
    }
    return pm;
}

QIcon Symbols::icon(const QString& name, const QColor& color, int sizePx) {
    QIcon icon;
    icon.addPixmap(pixmap(name, color, sizePx, 1.0));
    icon.addPixmap(pixmap(name, color, sizePx, 2.0));
    // Disabled, the symbol fades: the style's own greying of a grey symbol hardly shows on a dark panel.
    QColor faded = color;
    faded.setAlphaF(0.35f);
    icon.addPixmap(pixmap(name, faded, sizePx, 1.0), QIcon::Disabled);
    icon.addPixmap(pixmap(name, faded, sizePx, 2.0), QIcon::Disabled);
    return icon;
}

QStringList Symbols::knownNames() {
    QStringList names;
    for (const auto& [name, draw] : drawings()) {
        names << name;
    }
    return names;
}

} // namespace tavrine
