#include "ui/tray/TrayController.h"

#include "ui/AppSignals.h"
#include "ui/panels/PreferencesView.h"
#include "ui/panels/TrayPanel.h"
#include "ui/shared/Widgets.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <iostream>

namespace tavrine {
namespace {

// Where the panel goes for an anchor fixed at its opening: centred on it, below it in the upper half of
// its screen and above it in the lower half (a tray at the bottom), inside that screen. The side depends on
// the anchor only, so the anchored edge stays put whatever the panel's size.
QPoint placeAt(const QRect& anchor, const QSize& size) {
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    // In 64 bits: the point comes from the tray host, any client may send the extremes of an int.
    const qint64 x = qint64(anchor.center().x()) - size.width() / 2;
    const qint64 y = anchor.center().y() < area.center().y() ? qint64(anchor.bottom()) + 4
                                                             : qint64(anchor.top()) - 4 - size.height();
    // Flush with the far edges at most (a rectangle's right is its left plus its width minus one).
    const int lastX = std::max(area.left(), area.left() + area.width() - size.width());
    const int lastY = std::max(area.top(), area.top() + area.height() - size.height());
    return {int(std::clamp<qint64>(x, area.left(), lastX)), int(std::clamp<qint64>(y, area.top(), lastY))};
}

} // namespace

TrayController::TrayController(const UiContext& ctx, QObject* parent) : QObject(parent), ctx_(ctx) {
    iconTint_ = TrayIcon::labelColor();
    icon_ = TrayIcon::make(iconState_, iconTint_);

    if (ctx.trayHost) {
        hostWatch_ = ctx.trayHost->watch([this] { ensureTrayIcon(); });
    }
    ensureTrayIcon();

    // The icon follows the state one main-loop turn after the change.
    std::weak_ptr<bool> alive = alive_;
    stateSub_ = ctx.filter.fsmState().subscribe([this, alive](const FilterState& state) {
        ctx_.executor.post([this, alive, state] {
            if (alive.lock()) {
                updateStatusIcon(state);
            }
        });
    });
    // What the camera and the analysis can do, taken in the same turn as the state.
    const auto follow = [this, alive](Published<bool>& source, bool& flag, void (TrayController::*show)()) {
        return source.subscribe([this, alive, &flag, show](bool value) {
            ctx_.executor.post([this, alive, &flag, show, value] {
                if (alive.lock()) {
                    flag = value;
                    (this->*show)();
                }
            });
        });
    };
    analysisSub_ =
        follow(ctx.filter.analysisUnavailable(), analysisUnavailable_, &TrayController::updateToolTip);
    cameraSub_ = follow(ctx.filter.cameraMissing(), cameraMissing_, &TrayController::updateToolTip);
    refusedSub_ = follow(ctx.filter.cameraAccessRefused(), cameraRefused_, &TrayController::updateToolTip);
    sightSub_ = follow(ctx.filter.cameraSeesNothing(), seesNothing_, &TrayController::showLastState);
    prefsSub_ = ctx.appSignals.openPreferencesRequested.subscribe([this] { openPreferences(); });
    if (ctx.timedPause) {
        pauseSub_ = ctx.timedPause->status.subscribe([this](const TimedPause::Status& s) { updatePause(s); });
    }
}

void TrayController::updatePause(const TimedPause::Status& status) {
    pauseToolTip_ = status.paused ? QStringLiteral("Tavrine — En pause, reprise dans ") +
                                        TrayPanel::timeLeftText(status.remainingMs)
                                  : QString();
    awaitingCamera_ = status.awaitingCamera;
    updateToolTip();
    if (status.paused != paused_) {
        paused_ = status.paused;
        updateStatusIcon(lastState_);
    }
}

TrayController::~TrayController() {
    stateSub_.cancel();
    pauseSub_.cancel();
    analysisSub_.cancel();
    cameraSub_.cancel();
    refusedSub_.cancel();
    sightSub_.cancel();
    hostWatch_.cancel();
    prefsSub_.cancel();
    delete popup_.data();
    delete prefsWindow_.data();
}

void TrayController::ensureTrayIcon() {
    if (ctx_.trayHost && ctx_.trayHost->statusNotifierHost()) {
        if (!sni_ && ctx_.makeStatusItem) {
            sni_ = ctx_.makeStatusItem();
            sni_->onActivated = [this](QPoint at) { togglePanel(at); };
            showIcon();
        }
        // Also when the watcher came back after a restart: it forgot the item.
        if (sni_ && sni_->registerWithHost()) {
            if (tray_) {
                delete tray_.data();
            }
            emit trayIconCreated();
            return;
        }
    }
    if (tray_ || sni_) {
        return;
    }
    if (!ctx_.trayHost || !ctx_.trayHost->available()) {
        static bool told = false;
        if (!told) {
            told = true;
            std::cerr << "tavrine\u00a0: aucune zone de notification n\u2019a été trouvée. L\u2019icône "
                         "apparaîtra dès "
                         "qu\u2019une zone de notification sera disponible\u202f; en attendant, relancer "
                         "tavrine ouvre son panneau."
                      << std::endl;
        }
        return;
    }
    tray_ = new QSystemTrayIcon(icon_, this);
    tray_->setToolTip(toolTip_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
            togglePanel();
        }
    });
    tray_->show();
    emit trayIconCreated();
}

void TrayController::showIcon() {
    if (tray_) {
        tray_->setIcon(icon_);
        tray_->setToolTip(toolTip_);
    }
    if (sni_) {
        sni_->setIcon(QString::fromLatin1(TrayIcon::themeName(iconState_)), icon_);
        sni_->setNeedsAttention(lastState_.is(FilterState::Kind::alert));
        sni_->setToolTip(toolTip_);
    }
}

void TrayController::updateStatusIcon(const FilterState& state) {
    lastState_ = state;
    // A timed pause stops the filter, yet it is a pause, not the filter switched off.
    // A camera that sees nothing keeps no watch: the eye looks as it does without a camera.
    const TrayIcon::Look look =
        TrayIcon::lookFor(paused_ ? FilterState::autoPaused(PauseReason::userPaused(0))
                          : TrayPanel::blindWatch(state, seesNothing_) ? FilterState::cameraBusy(0)
                                                                       : state);
    iconState_ = look.iconState;
    iconTint_ = look.tint;
    icon_ = TrayIcon::make(iconState_, iconTint_);
    updateToolTip();
    showIcon();
    emit iconChanged();
}

void TrayController::updateToolTip() {
    // The tooltip names the state, which the eye alone cannot tell apart (a pause from a missing
    // camera), with the time a pause has left and what to do when something is missing.
    QString tip;
    if (analysisUnavailable_) {
        tip = QString::fromUtf8(analysisUnavailableToolTip);
    } else if (!pauseToolTip_.isEmpty()) {
        tip = pauseToolTip_;
    } else {
        const bool running = ctx_.filter.isActive().get();
        const bool noCamera = lastState_.is(FilterState::Kind::cameraBusy) || (cameraMissing_ && !running);
        if (noCamera) {
            tip = QStringLiteral("Tavrine — ") + TrayPanel::statusLabel(ctx_, FilterState::cameraBusy(0)) +
                  QLatin1Char('\n') + TrayPanel::cameraAdvice(running || awaitingCamera_, cameraRefused_);
        } else if (TrayPanel::blindWatch(lastState_, seesNothing_)) {
            tip = QStringLiteral("Tavrine — ") + QString::fromUtf8(TrayPanel::seesNothingLabel) +
                  QLatin1Char('\n') + QString::fromUtf8(TrayPanel::seesNothingAdvice);
        } else {
            tip = QStringLiteral("Tavrine — ") + TrayPanel::statusLabel(ctx_, lastState_);
        }
    }
    if (tip != toolTip_) {
        toolTip_ = tip;
        showIcon();
    }
}

TrayPanel* TrayController::panel() const {
    return popup_ ? popup_->findChild<TrayPanel*>() : nullptr;
}

QWidget* TrayController::panelWindow() const {
    return popup_;
}

void TrayController::closePanel() {
    if (popup_) {
        popup_->close();
    }
}

void TrayController::togglePanel(QPoint at) {
    if (popup_ && popup_->isVisible()) {
        closePanel();
        return;
    }
    if (closedByOutsideClick_.isValid() && closedByOutsideClick_.elapsed() < 300) {
        closedByOutsideClick_.invalidate();
        return;
    }
    openPanel(at);
}

void TrayController::openPanel(QPoint at) {
    if (popup_ && popup_->isVisible()) {
        popup_->raise();
        popup_->activateWindow();
        return;
    }
    // Every opening builds a fresh panel, so it never reopens on a page.
    auto* frame = new QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    frame->setObjectName(QStringLiteral("TavrinePanel"));
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setWindowTitle(QStringLiteral("Tavrine"));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    // Of the content's size, fixed (minimum and maximum alike), and following it when a page opens or
    // closes. A popup without a parent window is an ordinary toplevel on Wayland, which a tiling compositor
    // (sway) would otherwise tile; one of fixed size it floats, at that size.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* view = new TrayPanel(ctx_, frame);
    layout->addWidget(view);
    frame->adjustSize();
    // Anchored once, where it opens: the point the tray host gave with the click, else the tray icon when
    // the host tells where it is, else the pointer now. A later resize (a page opening or closing) keeps
    // that anchor, wherever the pointer has gone since.
    const QRect iconRect = tray_ ? tray_->geometry() : QRect();
    // The host's point is whatever its client sent: far beyond any screen it is brought back within reach
    // of a rectangle's int arithmetic (a QRect at the int's end overflows).
    constexpr int farthest = 1 << 24;
    const QPoint near(std::clamp(at.x(), -farthest, farthest), std::clamp(at.y(), -farthest, farthest));
    const QRect anchor = !at.isNull()         ? QRect(near, QSize(1, 1))
                         : iconRect.isValid() ? iconRect
                                              : QRect(QCursor::pos(), QSize(1, 1));
    frame->move(placeAt(anchor, frame->sizeHint()));
    connect(view, &TrayPanel::contentSizeChanged, frame, [frame, anchor](QSize) {
        frame->adjustSize();
        frame->move(placeAt(anchor, frame->sizeHint()));
    });
    // Escape steps back one level: the reset question, an open sheet, then the panel.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), frame);
    connect(escape, &QShortcut::activated, frame, [frame, view] {
        if (!view->dismissSheet()) {
            frame->close();
        }
    });
    frame->installEventFilter(this);
    popup_ = frame;
    popupObject_ = frame;
    frame->show();
    frame->activateWindow();
    view->focusFirstControl();
}

bool TrayController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == popupObject_ && event->type() == QEvent::Hide &&
        QGuiApplication::mouseButtons() != Qt::NoButton) {
        closedByOutsideClick_.start();
    }
    return QObject::eventFilter(watched, event);
}

void TrayController::openPreferences() {
    // A window opened from the panel takes the user's attention; the panel would only hide part of it.
    closePanel();
    if (prefsWindow_ && prefsWindow_->isVisible()) {
        prefsWindow_->raise();
        prefsWindow_->activateWindow();
        return;
    }
    // A closed window is never reused: a new one loads the settings afresh.
    delete prefsWindow_.data();
    // Of fixed size: neither maximised nor minimised (the panel brings it back).
    auto* window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setObjectName(QStringLiteral("PreferencesWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QString::fromUtf8(PreferencesView::windowTitle));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new PreferencesView(ctx_, window));
    window->setFixedSize(PreferencesView::windowWidth, PreferencesView::windowHeight);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    connect(escape, &QShortcut::activated, window, &QWidget::close);
    widgets::centreOnScreen(window);
    prefsWindow_ = window;
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace tavrine
