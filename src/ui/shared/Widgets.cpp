#include "ui/shared/Widgets.h"

#include "ui/shared/AppColors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace tavrine::widgets {

QFont font(int pixelSize, QFont::Weight weight) {
    QFont f;
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    p.setColor(QPalette::ButtonText, color);
    widget->setPalette(p);
}

QLabel* label(const QString& text, int pixelSize, QFont::Weight weight, QColor color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font(pixelSize, weight));
    if (color.isValid()) {
        setTextColor(l, color);
    }
    return l;
}

namespace {

// Filled whole, so that a scale of 1.5 (a logical pixel of 1.5 device pixels) cannot round it away.
class Hairline final : public QWidget {
  public:
    explicit Hairline(QWidget* parent) : QWidget(parent) { setFixedHeight(1); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QColor c = AppColors::textSecondary();
        c.setAlphaF(0.35f);
        QPainter(this).fillRect(rect(), c);
    }
};

class EnterClicks final : public QObject {
  public:
    EnterClicks(QWidget* view, QAbstractButton* fallback) : QObject(view), view_(view), fallback_(fallback) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != view_ || event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        QAbstractButton* target = focused && view_->isAncestorOf(focused) ? focused : fallback_.data();
        if (!target || !target->isVisible() || !target->isEnabled()) {
            return false;
        }
        target->click();
        return true;
    }

  private:
    QWidget* view_;
    QPointer<QAbstractButton> fallback_;
};

} // namespace

QWidget* divider(QWidget* parent) {
    return new Hairline(parent);
}

void clickOnEnter(QWidget* view, QAbstractButton* fallback) {
    view->installEventFilter(new EnterClicks(view, fallback));
}

QPoint centredInside(const QRect& area, const QSize& frame) {
    // Centred, the far edges stay inside whenever the frame fits; only the near ones need a bound.
    return {std::max(area.left(), area.left() + (area.width() - frame.width()) / 2),
            std::max(area.top(), area.top() + (area.height() - frame.height()) / 2)};
}

QPoint keptInside(const QRect& area, const QRect& frame) {
    // The far edges first, then the near ones, which win when the frame is the larger.
    return {std::max(area.left(), std::min(frame.left(), area.left() + area.width() - frame.width())),
            std::max(area.top(), std::min(frame.top(), area.top() + area.height() - frame.height()))};
}

void centreOnScreen(QWidget* window) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // move() places the frame; before the first show it is known as the window's own size.
        window->move(centredInside(screen->availableGeometry(), window->frameGeometry().size()));
    }
}

QLabel* link(const QString& host, int pixelSize, QWidget* parent) {
    auto* l =
        new QLabel(QStringLiteral("<a href=\"https://%1\" style=\"color:%2; text-decoration:none\">%1</a>")
                       .arg(host.toHtmlEscaped(), AppColors::accent().name()),
                   parent);
    l->setFont(font(pixelSize));
    l->setTextFormat(Qt::RichText);
    l->setOpenExternalLinks(true);
    l->setTextInteractionFlags(Qt::TextBrowserInteraction);
    l->setStyleSheet(QStringLiteral("QLabel { border: 2px solid transparent; border-radius: 4px; }"
                                    " QLabel:focus { border-color: %1; }")
                         .arg(AppColors::accent().name()));
    return l;
}

QHBoxLayout* websiteFooter(QWidget* parent) {
    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    footer->addWidget(link(QStringLiteral("brightfen.expert"), 11, parent));
    footer->addWidget(label(QStringLiteral("·"), 11, QFont::Normal, AppColors::textSecondary(), parent));
    footer->addWidget(link(QStringLiteral("tavrine.brightfen.expert"), 11, parent));
    footer->addStretch(1);
    return footer;
}

void makeProminent(QPushButton* button) {
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: 2px solid %1; border-radius: 7px;"
                       " padding: 4px 16px; font-weight: 600; }"
                       " QPushButton:pressed { background: %2; border-color: %2; }"
                       " QPushButton:focus { border-color: %3; }")
            .arg(AppColors::primaryButton().name(), AppColors::primaryButton().darker(125).name(),
                 AppColors::textPrimary().name()));
}

namespace {

QString hoverTint() {
    QColor c = AppColors::primary();
    c.setAlphaF(0.10f);
    return AppColors::css(c);
}

} // namespace

void makeBordered(QPushButton* button) {
    button->setStyleSheet(QStringLiteral("QPushButton { border: 1px solid palette(mid); border-radius: 6px;"
                                         " padding: 4px 12px; background: palette(button); }"
                                         " QPushButton:hover { background: %2; }"
                                         " QPushButton:focus { border: 2px solid %1; padding: 3px 11px; }")
                              .arg(AppColors::accent().name(), hoverTint()));
}

void showFocusRing(QPushButton* button) {
    button->setStyleSheet(QStringLiteral("QPushButton { border: 2px solid transparent; border-radius: 6px;"
                                         " padding: 3px 10px; background: transparent; }"
                                         " QPushButton:focus { border-color: %1; }"
                                         " QPushButton:hover { background: %2; }")
                              .arg(AppColors::accent().name(), hoverTint()));
}

} // namespace tavrine::widgets
