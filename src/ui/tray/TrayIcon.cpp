#include "ui/tray/TrayIcon.h"

#include "ui/shared/AppColors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStandardPaths>

#include <algorithm>

namespace tavrine {
namespace {

// The geometry is given with y pointing up from the centre; Qt's y points down.
QPointF at(const QRectF& r, double dx, double dyUp) {
    return QPointF(r.center().x() + dx, r.center().y() - dyUp);
}

QPen roundPen(const QColor& c, double width) {
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

} // namespace

TrayIcon::Look TrayIcon::lookFor(const FilterState& state) {
    switch (state.kind) {
    case FilterState::Kind::nominal:
    case FilterState::Kind::inattention:
        return {IconState::nominal, labelColor()};
    case FilterState::Kind::alert:
        return {IconState::alert, systemRed()};
    case FilterState::Kind::inactive:
        return {IconState::inactive, labelColor()};
    case FilterState::Kind::autoPaused:
    case FilterState::Kind::cameraBusy:
        return {IconState::paused, secondaryLabelColor()};
    }
    return {IconState::inactive, labelColor()};
}

QColor TrayIcon::labelColor() {
    return QGuiApplication::palette().color(QPalette::WindowText);
}

QColor TrayIcon::secondaryLabelColor() {
    QColor c = labelColor();
    c.setAlphaF(0.55f);
    return c;
}

void TrayIcon::drawOpenEye(QPainter& p, const QRectF& r, const QColor& tint) {
    QPainterPath outline;
    outline.moveTo(at(r, -7.5, 0));
    outline.cubicTo(at(r, -2.5, -4.25), at(r, 2.5, -4.25), at(r, 7.5, 0));
    outline.cubicTo(at(r, 2.5, 4.25), at(r, -2.5, 4.25), at(r, -7.5, 0));
    outline.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(outline, tint);
    // The white of the eye: cut out of the shape.
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(at(r, -4.42, 4.42), QSizeF(8.84, 8.84)));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setBrush(tint);
    p.drawEllipse(QRectF(at(r, -2.0332, 2.0332), QSizeF(4.0664, 4.0664)));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(tint, 0.8));
    p.drawPath(outline);
}

void TrayIcon::drawClosedEye(QPainter& p, const QRectF& r, const QColor& tint) {
    QPainterPath lid;
    lid.moveTo(at(r, -7.5, 0));
    lid.cubicTo(at(r, -1.5, 4.42), at(r, 1.5, 4.42), at(r, 7.5, 0));
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(tint, 1.5));
    p.drawPath(lid);
}

void TrayIcon::drawStrikethrough(QPainter& p, const QRectF& r, const QColor& tint) {
    const double dy = 6 * 0.6;
    p.setPen(roundPen(tint, 1.5));
    p.drawLine(at(r, -6, -dy), at(r, 6, dy));
}

QImage TrayIcon::render(IconState state, const QColor& tint, qreal dpr) {
    QImage image(QSize(logicalSize, logicalSize) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF rect(0, 0, logicalSize, logicalSize);
    switch (state) {
    case IconState::nominal:
    case IconState::alert:
        drawOpenEye(p, rect, tint);
        break;
    case IconState::inactive:
        drawClosedEye(p, rect, tint);
        break;
    case IconState::paused:
        drawClosedEye(p, rect, tint);
        drawStrikethrough(p, rect, tint);
        break;
    }
    return image;
}

QImage TrayIcon::withHalo(const QImage& glyph, const QColor& tint) {
    // A pixmap cannot be recoloured by the panel it lands on: a one-pixel rim of the opposite lightness
    // keeps a dark eye visible on a dark panel and a light one on a light panel.
    QImage rim = glyph;
    {
        QPainter p(&rim);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(rim.rect(), AppColors::isDark(tint) ? QColor(255, 255, 255, 230) : QColor(0, 0, 0, 230));
    }
    QImage out(glyph.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(glyph.devicePixelRatio());
    out.fill(Qt::transparent);
    QPainter p(&out);
    const int step = std::max(1, qRound(glyph.devicePixelRatio()));
    rim.setDevicePixelRatio(1.0);
    QImage plain = glyph;
    plain.setDevicePixelRatio(1.0);
    for (int dy = -step; dy <= step; dy += step) {
        for (int dx = -step; dx <= step; dx += step) {
            p.drawImage(QPoint(dx, dy), rim);
        }
    }
    p.drawImage(QPoint(0, 0), plain);
    return out;
}

QIcon TrayIcon::make(IconState state, const QColor& tint) {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(withHalo(render(state, tint, 1.0), tint)));
    icon.addPixmap(QPixmap::fromImage(withHalo(render(state, tint, 2.0), tint)));
    return icon;
}

const char* TrayIcon::themeName(IconState state) {
    switch (state) {
    case IconState::nominal:
        return "tavrine-active-symbolic";
    case IconState::alert:
        return "tavrine-alert-symbolic";
    case IconState::inactive:
        return "tavrine-inactive-symbolic";
    case IconState::paused:
        return "tavrine-paused-symbolic";
    }
    return "tavrine-inactive-symbolic";
}

QString TrayIcon::themeSearchPath() {
    const QString probe = QStringLiteral("hicolor/scalable/status/") +
                          QString::fromLatin1(themeName(IconState::nominal)) + QStringLiteral(".svg");
    const QString installed =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("icons/") + probe);
    if (!installed.isEmpty()) {
        return QDir::cleanPath(QFileInfo(installed).absolutePath() + QStringLiteral("/../../.."));
    }
    QStringList candidates{QCoreApplication::applicationDirPath() + QStringLiteral("/../share/icons")};
#ifdef TAVRINE_SOURCE_ICON_DIR
    candidates << QStringLiteral(TAVRINE_SOURCE_ICON_DIR);
#endif
    for (const QString& dir : candidates) {
        if (QFileInfo::exists(dir + QLatin1Char('/') + probe)) {
            return QDir::cleanPath(dir);
        }
    }
    return {};
}

} // namespace tavrine
