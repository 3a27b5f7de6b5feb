#pragma once

#include "core/domain/FilterSettings.h"
#include "core/util/Subscription.h"
#include "ui/UiContext.h"
#include "ui/panels/CalibrationView.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;

namespace tavrine {

class SegmentedPicker;
class ToggleSwitch;

// Every setting, in four sections. Each change is saved at once through the settings repository; there
// is no apply step. The draft is loaded from the repository when the view comes on screen.
class PreferencesView : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* windowTitle = "Préférences Tavrine";
    static constexpr int windowWidth = 560;
    static constexpr int windowHeight = 440;

    explicit PreferencesView(const UiContext& ctx, QWidget* parent = nullptr);

    const FilterSettings& draft() const { return draft_; }

    QSlider* strengthSlider() const { return strength_; }
    QSlider* sensitivitySlider() const { return sensitivity_; }
    QSlider* coefficientSlider() const { return coefficient_; }
    QSlider* stripeAlphaSlider() const { return stripeAlpha_; }
    QLabel* strengthValue() const { return strengthValue_; }
    QLabel* coefficientValue() const { return coefficientValue_; }
    QLabel* stripeAlphaValue() const { return stripeAlphaValue_; }
    QWidget* coefficientControl() const { return coefficientRow_; }
    QWidget* stripeAlphaControl() const { return stripeAlphaRow_; }
    SegmentedPicker* delayPicker() const { return delay_; }
    SegmentedPicker* fpsPicker() const { return fps_; }
    SegmentedPicker* batteryPicker() const { return battery_; }
    ToggleSwitch* glassesSwitch() const { return glasses_; }
    ToggleSwitch* launchAtLoginSwitch() const { return launchAtLogin_; }
    ToggleSwitch* shortcutSwitch() const { return shortcut_; }
    ToggleSwitch* allScreensSwitch() const { return allScreens_; }
    ToggleSwitch* hapticSwitch() const { return haptic_; }
    ToggleSwitch* matrixSwitch() const { return matrix_; }
    ToggleSwitch* lockSwitch() const { return lock_; }
    SegmentedPicker* lockDelayPicker() const { return lockDelay_; }
    QLabel* calibrationValue() const { return calibrationValue_; }
    QLabel* calibrationHint() const { return calibrationHint_; }
    QPushButton* calibrateButton() const { return calibrate_; }
    CalibrationDialog* calibrationDialog() const { return calibrationDialog_; }

    // The texts next to the sliders.
    static QString coefficientText(float coefficient);
    static QString stripeAlphaText(float alpha);
    // The line shown under the shortcut switch instead of its hint when the shortcut does not work
    // everywhere; empty when it does (or is still being set up). keys: "Super+Maj+C".
    static QString shortcutProblemText(ShortcutStatus status, const QString& keys);
    QLabel* shortcutHint() const { return shortcutHint_; }
    QLabel* launchAtLoginHint() const { return launchAtLoginHint_; }
    // The line above the sections that says the settings will not outlast the session; hidden otherwise.
    QLabel* unsavedLine() const { return unsavedLine_; }
    static constexpr const char* launchAtLoginHintText =
        "Tavrine se lance automatiquement à l’ouverture de session";
    static constexpr const char* launchAtLoginRefusedText =
        "Impossible d’inscrire Tavrine au lancement de session";

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Replaces the draft; a different draft is saved at once.
    void setDraft(const FilterSettings& next);
    template <typename F> void edit(F&& change) {
        FilterSettings next = draft_;
        change(next);
        setDraft(next);
    }
    void render();
    void setLaunchAtLogin(bool enabled);
    void openCalibration();

    const UiContext& ctx_;
    FilterSettings draft_{};
    bool appeared_ = false;

    QSlider* strength_;
    QSlider* sensitivity_;
    QSlider* coefficient_;
    QSlider* stripeAlpha_;
    QLabel* strengthValue_;
    QLabel* sensitivityValue_;
    QLabel* coefficientValue_;
    QLabel* stripeAlphaValue_;
    QWidget* coefficientRow_;
    QWidget* stripeAlphaRow_;
    SegmentedPicker* delay_;
    SegmentedPicker* fps_;
    SegmentedPicker* battery_;
    ToggleSwitch* glasses_;
    ToggleSwitch* launchAtLogin_;
    ToggleSwitch* shortcut_;
    ToggleSwitch* allScreens_;
    ToggleSwitch* haptic_;
    ToggleSwitch* matrix_;
    ToggleSwitch* lock_;
    SegmentedPicker* lockDelay_;
    QLabel* calibrationValue_;
    QLabel* calibrationHint_;
    QLabel* shortcutHint_ = nullptr;
    QLabel* launchAtLoginHint_ = nullptr;
    QLabel* unsavedLine_;
    QPushButton* calibrate_;
    QPointer<CalibrationDialog> calibrationDialog_;
    ShortcutStatus shortcutStatus_ = ShortcutStatus::idle;
    bool keptForSessionOnly_ = false;
    bool loginItemRefused_ = false;
    Subscription shortcutStatusSubscription_;
    Subscription settingsSubscription_;
    Subscription keptForSessionSubscription_;
    Subscription loginItemErrorSubscription_;
};

} // namespace tavrine
