#include "ui/shared/Widgets.h"

#include "ui/shared/AppColors.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

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

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette p = line->palette();
    QColor c = AppColors::textSecondary();
    c.setAlphaF(0.35f);
    p.setColor(QPalette::WindowText, c);
    line->setPalette(p);
    return line;
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
