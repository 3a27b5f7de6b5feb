#include "ui/panels/StatsView.h"

#include "ui/shared/AppColors.h"
#include "ui/shared/StatCard.h"
#include "ui/shared/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrine {
namespace {

// A damaged settings file may hold a negative counter: nothing was counted, so it shows as none.
QString counterText(std::int64_t count) {
    return QString::number(std::max<std::int64_t>(0, count));
}

} // namespace

QString StatsView::formatTime(std::int64_t seconds) {
    const std::int64_t s = std::max<std::int64_t>(0, seconds);
    const std::int64_t m = (s % 3600) / 60;
    if (s < 3600) {
        return QStringLiteral("%1m").arg(m);
    }
    return QStringLiteral("%1h %2m").arg(s / 3600).arg(m);
}

StatsView::StatsView(const UiContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("StatsView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* title = widgets::label(ctx.tr("stats_title"), 18, QFont::Bold, AppColors::textPrimary(), this);
    title->setAlignment(Qt::AlignHCenter);
    title->setContentsMargins(0, 24, 0, 0);
    layout->addWidget(title);
    auto* subtitle =
        widgets::label(ctx.tr("stats_header"), 13, QFont::Normal, AppColors::textSecondary(), this);
    subtitle->setAlignment(Qt::AlignHCenter);
    subtitle->setWordWrap(true);
    subtitle->setContentsMargins(16, 4, 16, 16);
    layout->addWidget(subtitle);

    alerts_ = new StatCard(QStringLiteral("0"), ctx.tr("stats_alerts_label"), true, this);
    auto* alertsRow = new QHBoxLayout;
    alertsRow->setContentsMargins(32, 0, 32, 0);
    alertsRow->addWidget(alerts_);
    layout->addLayout(alertsRow);
    layout->addSpacing(12);

    sessions_ = new StatCard(QStringLiteral("0"), ctx.tr("stats_sessions_label"), false, this);
    time_ = new StatCard(QStringLiteral("0m"), ctx.tr("stats_time_label"), false, this);
    locks_ = new StatCard(QStringLiteral("0"), ctx.tr("stats_locks_label"), false, this);
    auto* pairRow = new QHBoxLayout;
    pairRow->setContentsMargins(32, 0, 32, 0);
    pairRow->setSpacing(12);
    pairRow->addWidget(sessions_);
    pairRow->addWidget(time_);
    layout->addLayout(pairRow);
    // The locks get a row of their own: a third card beside them would leave the time too narrow for
    // "4321h 59m" even at half size.
    layout->addSpacing(12);
    auto* locksRow = new QHBoxLayout;
    locksRow->setContentsMargins(32, 0, 32, 0);
    locksRow->addWidget(locks_);
    layout->addLayout(locksRow);

    layout->addStretch(1);
    auto* footer = widgets::websiteFooter(this);
    footer->setContentsMargins(0, 8, 0, 16);
    layout->addLayout(footer);

    // Toolbar: the destructive reset on the left, the confirming "back" on the right.
    toolbar_ = new QWidget(this);
    auto* toolbar = new QHBoxLayout(toolbar_);
    toolbar->setContentsMargins(16, 0, 16, 12);
    reset_ = new QPushButton(ctx.tr("stats_reset"), toolbar_);
    widgets::makeBordered(reset_);
    widgets::setTextColor(reset_, AppColors::error());
    back_ = new QPushButton(ctx.tr("stats_back"), toolbar_);
    widgets::makeBordered(back_);
    back_->setDefault(true);
    widgets::clickOnEnter(this, back_);
    toolbar->addWidget(reset_);
    toolbar->addStretch(1);
    toolbar->addWidget(back_);
    layout->addWidget(toolbar_);

    // The confirmation takes the toolbar's place; cancelling is the default answer.
    confirm_ = new QWidget(this);
    confirm_->setObjectName(QStringLiteral("resetConfirmation"));
    auto* confirmLayout = new QVBoxLayout(confirm_);
    confirmLayout->setContentsMargins(16, 0, 16, 12);
    confirmLayout->setSpacing(8);
    question_ = widgets::label(ctx.tr("stats_reset_confirm"), 13, QFont::DemiBold, AppColors::textPrimary(),
                               confirm_);
    question_->setWordWrap(true);
    question_->setAlignment(Qt::AlignHCenter);
    confirmLayout->addWidget(question_);
    auto* answers = new QHBoxLayout;
    cancelReset_ = new QPushButton(ctx.tr("stats_reset_cancel"), confirm_);
    widgets::makeBordered(cancelReset_);
    cancelReset_->setObjectName(QStringLiteral("cancelReset"));
    confirmReset_ = new QPushButton(ctx.tr("stats_reset_yes"), confirm_);
    widgets::makeBordered(confirmReset_);
    confirmReset_->setObjectName(QStringLiteral("confirmReset"));
    widgets::setTextColor(confirmReset_, AppColors::error());
    answers->addWidget(cancelReset_);
    answers->addStretch(1);
    answers->addWidget(confirmReset_);
    confirmLayout->addLayout(answers);
    layout->addWidget(confirm_);
    confirm_->hide();

    connect(back_, &QPushButton::clicked, this, &StatsView::dismissed);
    connect(reset_, &QPushButton::clicked, this, &StatsView::askReset);
    connect(cancelReset_, &QPushButton::clicked, this, &StatsView::endAsking);
    connect(confirmReset_, &QPushButton::clicked, this, [this] {
        endAsking();
        ctx_.executor.post([repo = &ctx_.statsRepo] { repo->reset(); });
    });

    statsSub_ = ctx.statsRepo.stats.subscribe([this](const FilterStats& s) {
        alerts_->setValue(counterText(s.alertCount));
        sessions_->setValue(counterText(s.sessionCount));
        time_->setValue(formatTime(s.totalActiveSeconds));
        locks_->setValue(counterText(s.lockCount));
    });
}

void StatsView::askReset() {
    toolbar_->hide();
    confirm_->show();
    back_->setDefault(false);
    cancelReset_->setDefault(true);
    cancelReset_->setFocus();
}

void StatsView::endAsking() {
    confirm_->hide();
    toolbar_->show();
    cancelReset_->setDefault(false);
    back_->setDefault(true);
    reset_->setFocus();
}

} // namespace tavrine
