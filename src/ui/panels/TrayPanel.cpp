#include "ui/panels/TrayPanel.h"

#include "ui/AppSignals.h"
#include "ui/panels/AboutView.h"
#include "ui/panels/PanelRow.h"
#include "ui/panels/StatsView.h"
#include "ui/shared/AnimatedEyeLogo.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/Symbols.h"
#include "ui/shared/ToggleSwitch.h"
#include "ui/shared/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace tavrine {

QString TrayPanel::statusLabel(const UiContext& ctx, const FilterState& state) {
    switch (state.kind) {
    case FilterState::Kind::nominal:
    case FilterState::Kind::inattention:
        return ctx.tr("home_status_active");
    case FilterState::Kind::autoPaused:
        return QStringLiteral("En pause");
    case FilterState::Kind::cameraBusy:
        return QStringLiteral("Caméra indisponible");
    case FilterState::Kind::inactive:
        return ctx.tr("home_status_inactive");
    case FilterState::Kind::alert:
        return ctx.tr("notif_alert_title");
    }
    return {};
}

QColor TrayPanel::statusColor(const FilterState& state) {
    switch (state.kind) {
    case FilterState::Kind::alert:
        return AppColors::error();
    case FilterState::Kind::autoPaused:
    case FilterState::Kind::inactive:
        return AppColors::textSecondary();
    case FilterState::Kind::cameraBusy:
        return AppColors::warning();
    case FilterState::Kind::nominal:
    case FilterState::Kind::inattention:
        break;
    }
    return AppColors::success();
}

bool TrayPanel::blindWatch(const FilterState& state, bool seesNothing) {
    return seesNothing && (state.is(FilterState::Kind::nominal) || state.is(FilterState::Kind::inattention));
}

QString TrayPanel::cameraAdvice(bool running, bool refused) {
    return QString::fromUtf8(refused   ? cameraRefusedAdvice
                             : running ? cameraAwaitedAdvice
                                       : cameraMissingAdvice);
}

QString TrayPanel::timeLeftText(std::int64_t remainingMs) {
    const std::int64_t minutes = std::max<std::int64_t>(0, (remainingMs + 59'999) / 60'000);
    if (minutes < 60) {
        return QStringLiteral("%1\u00a0min").arg(minutes);
    }
    if (minutes % 60 == 0) {
        return QStringLiteral("%1\u00a0h").arg(minutes / 60);
    }
    return QStringLiteral("%1\u00a0h\u00a0%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString TrayPanel::pausedStatusText(std::int64_t remainingMs) {
    return QStringLiteral("En pause \u2014 reprise dans ") + timeLeftText(remainingMs);
}

TrayPanel::TrayPanel(const UiContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("TrayPanel"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    stack_ = new QStackedWidget(this);
    outer->addWidget(stack_);

    home_ = new QWidget(stack_);
    home_->setFixedWidth(panelWidth);
    auto* layout = new QVBoxLayout(home_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 12);
    header->setSpacing(12);
    logo_ = new AnimatedEyeLogo(ctx.executor, ctx.clock, 36, ctx.filter.isActive().get(),
                                ctx.filter.isAlert().get(), AnimatedEyeLogo::Mode::idle, home_);
    header->addWidget(logo_, 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(widgets::label(ctx.tr("Tavrine"), 16, QFont::DemiBold, AppColors::accent(), home_));
    status_ = widgets::label(QString(), 10, QFont::Normal, QColor(), home_);
    status_->setObjectName(QStringLiteral("statusLine"));
    // Wrapped in the column the pause button and the switch leave: "Analyse du visage indisponible" takes
    // two lines there rather than losing its end under the pause button.
    status_->setWordWrap(true);
    titles->addWidget(status_);
    header->addLayout(titles, 1);
    if (ctx.timedPause) {
        buildPauseControls(home_);
        header->addWidget(pauseButton_, 0, Qt::AlignVCenter);
    }
    switch_ = new ToggleSwitch(home_, AppColors::primary());
    switch_->setFollowsModel(true);
    setAccessibleName(QStringLiteral("Tavrine"));
    header->addWidget(switch_, 0, Qt::AlignVCenter);
    layout->addLayout(header);
    notice_ = widgets::label(QString::fromUtf8(cameraMissingAdvice), 11, QFont::Normal,
                             AppColors::textPrimary(), home_);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setWordWrap(true);
    notice_->setContentsMargins(16, 0, 16, 10);
    notice_->hide();
    layout->addWidget(notice_);
    layout->addWidget(widgets::divider(home_));

    layout->addSpacing(4);
    if (resumeRow_) {
        layout->addWidget(resumeRow_);
    }
    statsRow_ = new PanelRow(QStringLiteral("office-chart-bar"), ctx.tr("home_open_stats"), QColor(), home_);
    prefsRow_ =
        new PanelRow(QStringLiteral("preferences-system"), ctx.tr("home_open_settings"), QColor(), home_);
    aboutRow_ = new PanelRow(QStringLiteral("help-about"), ctx.tr("about_title"), QColor(), home_);
    for (auto* row : {statsRow_, prefsRow_, aboutRow_}) {
        layout->addWidget(row);
    }
    layout->addSpacing(4);
    layout->addWidget(widgets::divider(home_));
    layout->addSpacing(4);
    quitRow_ = new PanelRow(QStringLiteral("application-exit"), QStringLiteral("Quitter"),
                            AppColors::textSecondary(), home_);
    layout->addWidget(quitRow_);
    layout->addSpacing(8);
    layout->addStretch(1);
    stack_->addWidget(home_);

    // Enter on the switch or the pause button acts as Space does (the rows handle it themselves).
    widgets::clickOnEnter(home_);
    connect(switch_, &ToggleSwitch::toggleRequested, this, &TrayPanel::onSwitch);
    connect(statsRow_, &QAbstractButton::clicked, this, [this] { setShowStats(true); });
    connect(prefsRow_, &QAbstractButton::clicked, this, [this] { ctx_.appSignals.postOpenPreferences(); });
    connect(aboutRow_, &QAbstractButton::clicked, this, [this] { setShowAbout(true); });
    connect(quitRow_, &QAbstractButton::clicked, this, [this] { ctx_.appSignals.postQuit(); });

    setFixedSize(panelWidth, panelHeight);
    // A delivery arrives before the published value reads back, so keep the delivered values.
    stateSub_ = ctx.filter.fsmState().subscribe([this](const FilterState& s) {
        state_ = s;
        render();
    });
    if (ctx.timedPause) {
        pauseSub_ = ctx.timedPause->status.subscribe([this](const TimedPause::Status& s) {
            pause_ = s;
            render();
        });
    }
    const auto follow = [this](Published<bool>& source, bool& flag) {
        return source.subscribe([this, &flag](bool value) {
            flag = value;
            render();
        });
    };
    analysisSub_ = follow(ctx.filter.analysisUnavailable(), analysisUnavailable_);
    cameraSub_ = follow(ctx.filter.cameraMissing(), cameraMissing_);
    refusedSub_ = follow(ctx.filter.cameraAccessRefused(), cameraRefused_);
    sightSub_ = follow(ctx.filter.cameraSeesNothing(), seesNothing_);
    activeSub_ = follow(ctx.filter.isActive(), active_);
    alertSub_ = follow(ctx.filter.isAlert(), alert_);
}

void TrayPanel::buildPauseControls(QWidget* parent) {
    pauseButton_ = new QToolButton(parent);
    pauseButton_->setObjectName(QStringLiteral("pauseButton"));
    pauseButton_->setAutoRaise(true);
    pauseButton_->setStyleSheet(
        QStringLiteral("QToolButton { border: 2px solid transparent; border-radius: 6px; }"
                       " QToolButton:focus { border-color: %1; }")
            .arg(AppColors::accent().name()));
    pauseButton_->setIcon(
        Symbols::icon(QStringLiteral("media-playback-pause"), AppColors::textSecondary(), 18));
    pauseButton_->setIconSize(QSize(18, 18));
    pauseButton_->setFixedSize(26, 26);
    pauseButton_->setCursor(Qt::PointingHandCursor);
    pauseButton_->setToolTip(QStringLiteral("Suspendre la protection pour un moment"));
    pauseButton_->setAccessibleName(QStringLiteral("Suspendre"));

    pauseMenu_ = new QMenu(pauseButton_);
    pauseMenu_->setObjectName(QStringLiteral("pauseMenu"));
    TimedPause* pause = ctx_.timedPause;
    Executor* executor = &ctx_.executor;
    for (const auto& [label, length] :
         {std::pair{QStringLiteral("Suspendre 15\u00a0min"), TimedPause::Length::fifteenMinutes},
          std::pair{QStringLiteral("Suspendre 1\u00a0h"), TimedPause::Length::oneHour},
          std::pair{QStringLiteral("Suspendre jusqu\u2019\u00e0 demain"),
                    TimedPause::Length::untilTomorrow}}) {
        connect(pauseMenu_->addAction(label), &QAction::triggered, this, [pause, executor, length = length] {
            executor->post([pause, length] { pause->pause(length); });
        });
    }
    connect(pauseButton_, &QToolButton::clicked, this,
            [this] { pauseMenu_->popup(pauseButton_->mapToGlobal(QPoint(0, pauseButton_->height()))); });

    resumeRow_ = new PanelRow(QStringLiteral("media-playback-start"), QStringLiteral("Reprendre maintenant"),
                              AppColors::accent(), parent);
    resumeRow_->setObjectName(QStringLiteral("resumeRow"));
    resumeRow_->hide();
    connect(resumeRow_, &QAbstractButton::clicked, this,
            [pause, executor] { executor->post([pause] { pause->resumeNow(); }); });
}

void TrayPanel::render() {
    if (analysisUnavailable_) {
        status_->setText(QString::fromUtf8(analysisUnavailableLine));
        widgets::setTextColor(status_, AppColors::error());
    } else if (pause_.paused) {
        status_->setText(pausedStatusText(pause_.remainingMs));
        widgets::setTextColor(status_, AppColors::textSecondary());
    } else if (blindWatch(state_, seesNothing_)) {
        status_->setText(QString::fromUtf8(seesNothingLabel));
        widgets::setTextColor(status_, AppColors::warning());
    } else if (cameraMissing_ && !active_) {
        status_->setText(statusLabel(ctx_, FilterState::cameraBusy(0)));
        widgets::setTextColor(status_, statusColor(FilterState::cameraBusy(0)));
    } else {
        status_->setText(statusLabel(ctx_, state_));
        widgets::setTextColor(status_, statusColor(state_));
    }
    // Without a camera the switch cannot stay on: the line under the header says what to do. After a
    // timed pause the start is tried again until the camera is free: the switch shows the protection the
    // user asked for, and turning it off gives up the tries.
    const bool noCamera = state_.is(FilterState::Kind::cameraBusy) || (cameraMissing_ && !active_);
    const bool awaited = awaitingCamera();
    // Also during a timed pause: a start by hand that found the camera taken says why the switch fell back.
    const bool blind = !pause_.paused && blindWatch(state_, seesNothing_);
    notice_->setVisible(!analysisUnavailable_ && (noCamera || blind));
    notice_->setText(blind ? QString::fromUtf8(seesNothingAdvice)
                           : cameraAdvice(active_ || awaited, cameraRefused_));
    logo_->setState(active_, alert_);
    switch_->setChecked(active_ || awaited);
    // A screen reader hears what the status line shows, with the switch's own on or off.
    switch_->setAccessibleName(status_->text());
    if (pauseButton_) {
        // Only a running filter can be paused; during a pause the row under the header resumes it.
        pauseButton_->setVisible(!pause_.paused);
        pauseButton_->setEnabled(active_);
        resumeRow_->setVisible(pause_.paused);
    }
}

bool TrayPanel::awaitingCamera() const {
    return ctx_.timedPause && ctx_.timedPause->waitsForCamera(state_, active_);
}

void TrayPanel::onSwitch(bool requested) {
    // The switch never moves by itself: it shows isActive (or a start awaited after a pause), which
    // changes only when the start succeeds or the stop has run.
    FilterControl* filter = &ctx_.filter;
    if (!requested && awaitingCamera()) {
        // A try that succeeded just before this turn ends the wait: then the filter runs, and off it goes.
        TimedPause* pause = ctx_.timedPause;
        ctx_.executor.post([pause, filter] {
            if (!pause->stopAwaitingCamera()) {
                filter->stop();
            }
        });
        return;
    }
    ctx_.executor.post([filter, requested] {
        if (requested) {
            filter->start({});
        } else {
            filter->stop();
        }
    });
}

void TrayPanel::setShowStats(bool show) {
    if (show && !stats_) {
        closeSheet();
        stats_ = new StatsView(ctx_, stack_);
        stats_->setFixedSize(panelWidth + 40, statsHeight);
        connect(stats_, &StatsView::dismissed, this, [this] { setShowStats(false); });
        showPage(stats_, stats_->backButton());
    } else if (!show && stats_) {
        closeSheet();
    }
}

void TrayPanel::setShowAbout(bool show) {
    if (show && !about_) {
        closeSheet();
        about_ = new AboutView(ctx_, stack_);
        connect(about_, &AboutView::dismissed, this, [this] { setShowAbout(false); });
        showPage(about_, about_->closeButton());
    } else if (!show && about_) {
        closeSheet();
    }
}

void TrayPanel::showPage(QWidget* page, QWidget* focus) {
    stack_->addWidget(page);
    stack_->setCurrentWidget(page);
    setFixedSize(page->size());
    emit contentSizeChanged(size());
    focus->setFocus();
}

bool TrayPanel::dismissSheet() {
    if (stats_ && stats_->resetConfirmation()->isVisible()) {
        stats_->cancelResetButton()->click();
        return true;
    }
    PanelRow* opener = stats_ ? statsRow_ : about_ ? aboutRow_ : nullptr;
    if (!opener) {
        return false;
    }
    closeSheet();
    opener->setFocus();
    return true;
}

void TrayPanel::focusFirstControl() {
    switch_->setFocus();
}

void TrayPanel::closeSheet() {
    QWidget* page = stats_ ? static_cast<QWidget*>(stats_) : static_cast<QWidget*>(about_);
    stats_ = nullptr;
    about_ = nullptr;
    if (!page) {
        return;
    }
    stack_->setCurrentWidget(home_);
    stack_->removeWidget(page);
    page->deleteLater();
    setFixedSize(panelWidth, panelHeight);
    emit contentSizeChanged(size());
}

} // namespace tavrine
