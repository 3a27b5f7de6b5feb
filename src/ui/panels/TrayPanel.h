#pragma once

#include "core/util/Subscription.h"
#include "ui/UiContext.h"
#include "ui/shared/CameraTexts.h"

#include <QWidget>

class QLabel;
class QMenu;
class QStackedWidget;
class QToolButton;

namespace tavrine {

class AnimatedEyeLogo;
class PanelRow;
class ToggleSwitch;
class StatsView;
class AboutView;

// The tray panel: logo, name and status line, the on-off switch, the statistics / preferences / about
// rows and "Quitter". Built anew at every opening. The statistics and about pages replace the panel's
// content while they are shown.
class TrayPanel : public QWidget {
    Q_OBJECT
  public:
    static constexpr int panelWidth = 320;
    static constexpr int panelHeight = 280;
    // The statistics sheet: three rows of counters.
    static constexpr int statsHeight = 520;

    explicit TrayPanel(const UiContext& ctx, QWidget* parent = nullptr);

    // The status text for a state.
    static QString statusLabel(const UiContext& ctx, const FilterState& state);
    // Its colour: error for an alert, warning without a camera, secondary text when paused or off, success
    // otherwise.
    static QColor statusColor(const FilterState& state);
    // The time left of a timed pause, in whole minutes rounded up: "14 min", "1 h", "7 h 05".
    static QString timeLeftText(std::int64_t remainingMs);
    // The status line during a timed pause.
    static QString pausedStatusText(std::int64_t remainingMs);
    // The status text, in the error colour, while the face analysis cannot run, whatever the state.
    // Under "Caméra indisponible", in the panel and the tray tooltip: after a start that found no camera,
    // and while a running filter waits for its camera to come back.
    static constexpr const char* cameraMissingAdvice =
        "Branchez une caméra ou fermez l’application qui l’utilise, puis réactivez la protection.";
    static constexpr const char* cameraAwaitedAdvice =
        "Branchez une caméra ou fermez l’application qui l’utilise\u202f; la protection reprendra "
        "d’elle-même.";
    static constexpr const char* cameraRefusedAdvice = texts::cameraAccessRefused;
    // running: the filter runs, or starts by itself once the camera is free. refused: the camera stays
    // shut because this user may not open it; plugging one in or closing another program would not help.
    static QString cameraAdvice(bool running, bool refused);
    // While the running filter's camera sees nothing: the status line, in the warning colour, and what to do.
    static constexpr const char* seesNothingLabel = "La caméra ne voit rien";
    static constexpr const char* seesNothingAdvice =
        "Ouvrez le cache de la caméra ou éclairez la pièce\u00a0: sans image, aucun regard indiscret n’est "
        "détecté.";
    // Whether the state shows the watch that a camera seeing nothing cannot keep.
    static bool blindWatch(const FilterState& state, bool seesNothing);
    static constexpr const char* analysisUnavailableLine =
        "Analyse du visage indisponible\nRéinstallez Tavrine";

    QLabel* statusLine() const { return status_; }
    // Under the header while the camera is missing: what to do.
    QLabel* notice() const { return notice_; }
    ToggleSwitch* activeSwitch() const { return switch_; }
    // Beside the switch: opens the menu of timed pauses (absent without a timed pause).
    QToolButton* pauseButton() const { return pauseButton_; }
    QMenu* pauseMenu() const { return pauseMenu_; }
    // Shown during a timed pause, under the header.
    PanelRow* resumeRow() const { return resumeRow_; }
    PanelRow* statsRow() const { return statsRow_; }
    PanelRow* preferencesRow() const { return prefsRow_; }
    PanelRow* aboutRow() const { return aboutRow_; }
    PanelRow* quitRow() const { return quitRow_; }
    AnimatedEyeLogo* logo() const { return logo_; }
    bool showStats() const { return stats_ != nullptr; }
    bool showAbout() const { return about_ != nullptr; }
    StatsView* statsPage() const { return stats_; }
    AboutView* aboutPage() const { return about_; }

    void setShowStats(bool show);
    void setShowAbout(bool show);
    // Escape in the panel: answers the reset question "no", else closes the open sheet (the focus back on
    // the row that opened it). False when there was neither: the panel itself closes then.
    bool dismissSheet();
    // Gives the keyboard focus to the panel's main control, the on/off switch.
    void focusFirstControl();

  signals:
    // The panel's preferred size changed (a page opened or closed).
    void contentSizeChanged(QSize size);

  private:
    void render();
    void onSwitch(bool requested);
    // A timed pause is over and its start waits for the camera (see TimedPause::Status).
    bool awaitingCamera() const;
    void buildPauseControls(QWidget* parent);
    void showPage(QWidget* page, QWidget* focus);
    void closeSheet();

    const UiContext& ctx_;
    QStackedWidget* stack_;
    QWidget* home_;
    AnimatedEyeLogo* logo_;
    QLabel* status_;
    QLabel* notice_;
    ToggleSwitch* switch_;
    QToolButton* pauseButton_ = nullptr;
    QMenu* pauseMenu_ = nullptr;
    PanelRow* resumeRow_ = nullptr;
    PanelRow* statsRow_;
    PanelRow* prefsRow_;
    PanelRow* aboutRow_;
    PanelRow* quitRow_;
    StatsView* stats_ = nullptr;
    AboutView* about_ = nullptr;
    FilterState state_;
    bool active_ = false;
    bool alert_ = false;
    TimedPause::Status pause_;
    bool analysisUnavailable_ = false;
    bool cameraMissing_ = false;
    bool cameraRefused_ = false;
    bool seesNothing_ = false;
    Subscription stateSub_;
    Subscription analysisSub_;
    Subscription cameraSub_;
    Subscription refusedSub_;
    Subscription sightSub_;
    Subscription activeSub_;
    Subscription alertSub_;
    Subscription pauseSub_;
};

} // namespace tavrine
