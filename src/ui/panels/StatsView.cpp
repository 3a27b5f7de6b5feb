#include "ui/panels/StatsView.h"

#include "ui/shared/AppColors.h"
#include "ui/shared/StatCard.h"
#include "ui/shared/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrine {

QString StatsView::formatTime(std::int64_t s) {
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
    pairRow->addWidget(locks_);
    layout->addLayout(pairRow);

    layout->addStretch(1);
    auto* footer = widgets::websiteFooter(this);
    footer->setContentsMargins(0, 8, 0, 16);
    layout->addLayout(footer);

    // Toolbar: the destructive reset on the left, the confirming "back" on the right.
    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(16, 0, 16, 12);
    reset_ = new QPushButton(ctx.tr("stats_reset"), this);
    widgets::setTextColor(reset_, AppColors::error());
    back_ = new QPushButton(ctx.tr("stats_back"), this);
    back_->setDefault(true);
    toolbar->addWidget(reset_);
    toolbar->addStretch(1);
    toolbar->addWidget(back_);
    layout->addLayout(toolbar);

    connect(back_, &QPushButton::clicked, this, &StatsView::dismissed);
    connect(reset_, &QPushButton::clicked, this, &StatsView::askReset);

    statsSub_ = ctx.statsRepo.stats.subscribe([this](const FilterStats& s) {
        alerts_->setValue(QString::number(s.alertCount));
        sessions_->setValue(QString::number(s.sessionCount));
        time_->setValue(formatTime(s.totalActiveSeconds));
        locks_->setValue(QString::number(s.lockCount));
    });
}

void StatsView::askReset() {
    if (confirm_) {
        return;
    }
    confirm_ = new QMessageBox(QMessageBox::Warning, ctx_.tr("stats_title"), ctx_.tr("stats_reset_confirm"),
                               QMessageBox::NoButton, this);
    confirm_->setObjectName(QStringLiteral("resetConfirmation"));
    confirm_->setWindowModality(Qt::WindowModal);
    auto* yes = confirm_->addButton(ctx_.tr("stats_reset_yes"), QMessageBox::DestructiveRole);
    auto* no = confirm_->addButton(ctx_.tr("stats_reset_cancel"), QMessageBox::RejectRole);
    yes->setObjectName(QStringLiteral("confirmReset"));
    no->setObjectName(QStringLiteral("cancelReset"));
    confirm_->setDefaultButton(no);
    confirm_->setAttribute(Qt::WA_DeleteOnClose);
    connect(confirm_, &QMessageBox::buttonClicked, this, [this, yes](QAbstractButton* clicked) {
        if (clicked == yes) {
            ctx_.executor.post([repo = &ctx_.statsRepo] { repo->reset(); });
        }
    });
    confirm_->open();
}

} // namespace tavrine
