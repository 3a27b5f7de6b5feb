#include "ui/panels/PanelRow.h"

#include "ui/shared/AppColors.h"
#include "ui/shared/Symbols.h"
#include "ui/shared/Widgets.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QPainter>

namespace tavrine {

PanelRow::PanelRow(const QString& icon, const QString& label, QColor foreground, QWidget* parent)
    : QAbstractButton(parent), icon_(icon) {
    // In the palette, where a change of colour scheme finds it; none: the palette's own text colour.
    if (foreground.isValid()) {
        widgets::setTextColor(this, foreground);
    }
    setText(label);
    setFont(widgets::font(13));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

void PanelRow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

QSize PanelRow::sizeHint() const {
    return QSize(4 + 16 + 20 + 8 + fontMetrics().horizontalAdvance(text()) + 16 + 4,
                 8 + std::max(20, fontMetrics().height()) + 8);
}

void PanelRow::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PanelRow::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void PanelRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF content = QRectF(rect()).adjusted(4, 0, -4, 0);
    if (hovered_ || hasFocus()) {
        QColor bg = AppColors::primary();
        bg.setAlphaF(0.10f);
        p.setPen(Qt::NoPen);
        p.setBrush(bg);
        p.drawRoundedRect(content, 6, 6);
    }
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(AppColors::accent(), 1.5));
        p.drawRoundedRect(content.adjusted(1, 1, -1, -1), 6, 6);
    }
    const int iconSize = 15;
    const QRectF iconColumn(content.left() + 16, content.top(), 20, content.height());
    const QColor foreground = palette().color(QPalette::WindowText);
    const QPixmap pm = Symbols::pixmap(icon_, foreground, iconSize, devicePixelRatioF());
    p.drawPixmap(QPointF(iconColumn.center().x() - iconSize / 2.0, iconColumn.center().y() - iconSize / 2.0),
                 pm);
    p.setPen(foreground);
    p.setFont(font());
    const QRectF textRect(iconColumn.right() + 8, content.top(),
                          content.right() - 16 - iconColumn.right() - 8, content.height());
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text());
}

} // namespace tavrine
