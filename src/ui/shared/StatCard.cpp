#include "ui/shared/StatCard.h"

#include "ui/shared/AppColors.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrine {

StatCard::StatCard(const QString& value, const QString& label, bool highlight, QWidget* parent)
    : QWidget(parent), value_(value), valueLabel_(new QLabel(value, this)),
      labelLabel_(new QLabel(label, this)), highlight_(highlight) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 16, 12, 16);
    layout->setSpacing(4);
    valueLabel_->setObjectName(QStringLiteral("statValue"));
    labelLabel_->setObjectName(QStringLiteral("statLabel"));
    valueLabel_->setAlignment(Qt::AlignCenter);
    labelLabel_->setAlignment(Qt::AlignCenter);
    valueLabel_->setWordWrap(false);
    valueLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QPalette vp = valueLabel_->palette();
    vp.setColor(QPalette::WindowText, highlight ? AppColors::accent() : AppColors::textPrimary());
    valueLabel_->setPalette(vp);
    QFont lf = labelLabel_->font();
    lf.setPixelSize(11);
    lf.setWeight(QFont::Medium);
    labelLabel_->setFont(lf);
    QPalette lp = labelLabel_->palette();
    lp.setColor(QPalette::WindowText, AppColors::textSecondary());
    labelLabel_->setPalette(lp);
    layout->addWidget(valueLabel_);
    layout->addWidget(labelLabel_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    fitValue();
}

void StatCard::setValue(const QString& value) {
    value_ = value;
    fitValue();
}

QString StatCard::value() const {
    return value_;
}
QString StatCard::shownValue() const {
    return valueLabel_->text();
}
QString StatCard::label() const {
    return labelLabel_->text();
}
int StatCard::valuePixelSize() const {
    return valueLabel_->font().pixelSize();
}

void StatCard::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitValue();
}

void StatCard::fitValue() {
    // A screen reader hears the card as one item, with the whole value even when it is drawn cut short.
    valueLabel_->setAccessibleName(labelLabel_->text() + QStringLiteral("\u00a0: ") + value_);
    const int full = highlight_ ? 48 : 36;
    QFont f = valueLabel_->font();
    f.setWeight(QFont::Black);
    f.setPixelSize(full);
    const int available = std::max(1, width() - 24);
    const int needed = QFontMetrics(f).horizontalAdvance(value_);
    QString shown = value_;
    if (needed > available && width() > 0) {
        const int fitted = std::max(full / 2, full * available / needed);
        f.setPixelSize(fitted);
        // Still too long at half size: cut at the end with an ellipsis, which says so, rather than let the
        // label clip both ends into another number.
        shown = QFontMetrics(f).elidedText(value_, Qt::ElideRight, available);
    }
    valueLabel_->setText(shown);
    valueLabel_->setFont(f);
    valueLabel_->setMinimumHeight(QFontMetrics([&] {
                                      QFont big = f;
                                      big.setPixelSize(full);
                                      return big;
                                  }())
                                      .height());
}

void StatCard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(AppColors::surface());
    p.drawRoundedRect(rect(), 12, 12);
}

} // namespace tavrine
