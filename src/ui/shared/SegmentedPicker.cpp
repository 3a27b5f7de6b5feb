#include "ui/shared/SegmentedPicker.h"

#include "ui/shared/AppColors.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

namespace tavrine {

SegmentedPicker::SegmentedPicker(std::vector<Option> options, int maxWidth, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), group_(new QButtonGroup(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setMaximumWidth(maxWidth);
    const QString accent = AppColors::css(AppColors::primaryButton());
    for (std::size_t i = 0; i < options_.size(); ++i) {
        auto* b = new QPushButton(options_[i].first, this);
        b->setCheckable(true);
        b->setFocusPolicy(Qt::TabFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const bool first = i == 0;
        const bool last = i + 1 == options_.size();
        b->setStyleSheet(
            QStringLiteral("QPushButton { padding: 3px 6px; font-size: 12px; border: 1px solid palette(mid);"
                           " border-left-width: %1px; border-top-left-radius: %2px;"
                           " border-bottom-left-radius: %2px; border-top-right-radius: %3px;"
                           " border-bottom-right-radius: %3px; background: palette(button); }"
                           " QPushButton:checked { background: %4; color: white; }"
                           " QPushButton:focus { border: 2px solid %5; }")
                .arg(first ? 1 : 0)
                .arg(first ? 5 : 0)
                .arg(last ? 5 : 0)
                .arg(accent, AppColors::textPrimary().name()));
        group_->addButton(b, int(i));
        layout->addWidget(b);
        buttons_.push_back(b);
    }
    connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
        if (id >= 0 && id < count()) {
            emit valueChosen(options_[std::size_t(id)].second);
        }
    });
}

void SegmentedPicker::setValue(std::int64_t value) {
    // An exclusive group cannot uncheck its last button; lift exclusivity for the moment of the change.
    group_->setExclusive(false);
    for (std::size_t i = 0; i < options_.size(); ++i) {
        buttons_[i]->setChecked(options_[i].second == value);
    }
    group_->setExclusive(true);
}

int SegmentedPicker::selectedIndex() const {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        if (buttons_[i]->isChecked()) {
            return int(i);
        }
    }
    return -1;
}

QPushButton* SegmentedPicker::segment(int index) const {
    return index >= 0 && index < count() ? buttons_[std::size_t(index)] : nullptr;
}

} // namespace tavrine
