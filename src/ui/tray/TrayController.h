#pragma once

#include "core/util/Subscription.h"
#include "ui/UiContext.h"
#include "ui/tray/TrayIcon.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

class QFrame;

namespace tavrine {

class TrayPanel;

// The application's permanent presence: the tray eye that follows the filter state, the panel it opens,
// and the preferences window. The tray icon is created once a tray host exists, also when one appears
// later; without any host the panel stays reachable through a second launch and the shortcut works.
class TrayController : public QObject {
    Q_OBJECT
  public:
    explicit TrayController(const UiContext& ctx, QObject* parent = nullptr);
    ~TrayController() override;

    // Opens the panel at the tray icon (at the pointer when the icon's place is unknown), or closes it.
    // The panel stays anchored there while its content changes size.
    void togglePanel();
    // Opens the panel if it is not open.
    void openPanel();
    void closePanel();
    // Opens the preferences window or brings the open one forward.
    void openPreferences();

    TrayPanel* panel() const;
    QWidget* panelWindow() const;
    QWidget* preferencesWindow() const { return prefsWindow_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    TrayIcon::IconState iconState() const { return iconState_; }
    QColor iconTint() const { return iconTint_; }
    const QIcon& icon() const { return icon_; }
    // The tray icon's tooltip: during a timed pause the time left; "Tavrine — En pause" or "Tavrine — Caméra
    // indisponible" for the two states the paused eye stands for; what to do when the face analysis cannot
    // run; otherwise "Tavrine".
    const QString& toolTip() const { return toolTip_; }
    static constexpr const char* analysisUnavailableToolTip =
        "Tavrine\u00a0: analyse du visage indisponible, la protection est arrêtée. Réinstallez Tavrine pour "
        "la rétablir.";

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  signals:
    void iconChanged();
    void trayIconCreated();

  private:
    void updateStatusIcon(const FilterState& state);
    void updateToolTip();
    void updatePause(const TimedPause::Status& status);
    void ensureTrayIcon();

    const UiContext& ctx_;
    QPointer<QSystemTrayIcon> tray_;
    QPointer<QFrame> popup_;
    // The same panel as a plain object, for the event filter: it also sees events while the panel is being
    // destroyed, when the QPointer's downcast is no longer valid.
    const QObject* popupObject_ = nullptr;
    QPointer<QWidget> prefsWindow_;
    TrayIcon::IconState iconState_ = TrayIcon::IconState::inactive;
    QColor iconTint_;
    QIcon icon_;
    QString toolTip_ = QStringLiteral("Tavrine");
    FilterState lastState_;
    bool paused_ = false;
    QString pauseToolTip_; // empty unless a timed pause runs
    // A click on the tray icon while the panel is open first closes the panel (a click outside it);
    // the activation that follows must not open it again.
    QElapsedTimer closedByOutsideClick_;
    Subscription stateSub_;
    Subscription pauseSub_;
    Subscription analysisSub_;
    Subscription hostWatch_;
    Subscription prefsSub_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tavrine
