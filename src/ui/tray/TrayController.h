#pragma once

#include "core/util/Subscription.h"
#include "ui/UiContext.h"
#include "ui/tray/StatusItem.h"
#include "ui/tray/TrayIcon.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class QFrame;

namespace tavrine {

class TrayPanel;

// The application's permanent presence: the tray eye that follows the filter state, the panel it opens,
// and the preferences window. The tray icon is created once a tray host exists, also when one appears
// later: a StatusNotifierItem that names its icon from the theme when a StatusNotifier host is there,
// else an XEmbed icon made of pixmaps. Without any host the panel stays reachable through a second
// launch and the shortcut works.
class TrayController : public QObject {
    Q_OBJECT
  public:
    explicit TrayController(const UiContext& ctx, QObject* parent = nullptr);
    ~TrayController() override;

    // Opens the panel at the point the tray host gave with the click, else at the tray icon, else at the
    // pointer; or closes it. The panel stays anchored there while its content changes size.
    void togglePanel(QPoint at = QPoint());
    // Opens the panel if it is not open.
    void openPanel(QPoint at = QPoint());
    void closePanel();
    // Opens the preferences window or brings the open one forward.
    void openPreferences();

    TrayPanel* panel() const;
    QWidget* panelWindow() const;
    QWidget* preferencesWindow() const { return prefsWindow_; }
    // The XEmbed icon, when the tray is an XEmbed one.
    QSystemTrayIcon* trayIcon() const { return tray_; }
    TrayIcon::IconState iconState() const { return iconState_; }
    QColor iconTint() const { return iconTint_; }
    const QIcon& icon() const { return icon_; }
    // The tray icon's tooltip: "Tavrine — " and the state as the panel's status line names it; during a
    // timed pause the time left; what to do when the camera or the face analysis is missing.
    const QString& toolTip() const { return toolTip_; }
    static constexpr const char* analysisUnavailableToolTip =
        "Tavrine — Analyse du visage indisponible\nLa protection est arrêtée. Réinstallez Tavrine pour la "
        "rétablir.";

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  signals:
    void iconChanged();
    void trayIconCreated();

  private:
    void updateStatusIcon(const FilterState& state);
    void showLastState() { updateStatusIcon(lastState_); }
    void updateToolTip();
    void updatePause(const TimedPause::Status& status);
    void ensureTrayIcon();
    void showIcon();

    const UiContext& ctx_;
    QPointer<QSystemTrayIcon> tray_;
    std::unique_ptr<StatusItem> sni_;
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
    // After a timed pause, its start waits for the camera.
    bool awaitingCamera_ = false;
    bool analysisUnavailable_ = false;
    bool cameraMissing_ = false;
    bool cameraRefused_ = false;
    bool seesNothing_ = false;
    QString pauseToolTip_; // empty unless a timed pause runs
    // A click on the tray icon while the panel is open first closes the panel (a click outside it);
    // the activation that follows must not open it again.
    QElapsedTimer closedByOutsideClick_;
    Subscription stateSub_;
    Subscription pauseSub_;
    Subscription analysisSub_;
    Subscription cameraSub_;
    Subscription refusedSub_;
    Subscription sightSub_;
    Subscription hostWatch_;
    Subscription prefsSub_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tavrine
