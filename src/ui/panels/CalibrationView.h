#pragma once

#include "core/detection/CalibrationSession.h"
#include "core/util/Subscription.h"
#include "ui/UiContext.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace tavrine {

class AnimatedEyeLogo;

// Runs one distance calibration: instructions, countdown, measurement, then the result, which the user
// may adjust by 5 cm steps within 30..200 before accepting it.
class CalibrationView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int minDistanceCm = 30;
    static constexpr int maxDistanceCm = 200;
    static constexpr int stepCm = 5;

    CalibrationView(const UiContext& ctx, std::function<void()> onDone = {}, QWidget* parent = nullptr);
    ~CalibrationView() override;

    CalibrationSession& session() { return *session_; }
    // The distance of the result screen: the adjusted value when set, else the measured one.
    int currentDistance() const;
    bool isMeasuring() const;

    QPushButton* primaryButton() const { return primary_; }
    QPushButton* secondaryButton() const { return secondary_; }
    QPushButton* minusButton() const { return minus_; }
    QPushButton* plusButton() const { return plus_; }
    QLabel* distanceField() const { return distanceField_; }
    // "60 cm", with a no-break space.
    static QString distanceText(int cm);
    AnimatedEyeLogo* logo() const { return logo_; }

  private:
    void showPhase(const CalibrationSession::Phase& phase);
    void adjust(int deltaCm);
    void onPrimary();
    void onSecondary();

    const UiContext& ctx_;
    std::shared_ptr<CalibrationSession> session_;
    std::function<void()> onDone_;
    CalibrationSession::Phase phase_;
    int adjustedDistance_ = 0;

    AnimatedEyeLogo* logo_;
    QStackedWidget* pages_;
    QLabel* countdown_;
    QLabel* result_;
    QLabel* distanceField_;
    QLabel* failure_;
    QPushButton* minus_;
    QPushButton* plus_;
    QPushButton* primary_;
    QPushButton* secondary_;
    Subscription phaseSub_;
};

// The calibration view as a window-modal dialog with a close button. The dialog closes itself after a
// result has been accepted.
class CalibrationDialog : public QDialog {
    Q_OBJECT
  public:
    // closeLabel: "Fermer" from the preferences, "Passer" from the onboarding.
    // Smaller than the onboarding and preferences windows, so that it sits inside the one it opens from.
    static constexpr QSize fixedSize{400, 390};

    CalibrationDialog(const UiContext& ctx, const QString& closeLabel, QWidget* parent);
    CalibrationView* view() const { return view_; }
    QPushButton* closeButton() const { return close_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    CalibrationView* view_;
    QPushButton* close_;
};

} // namespace tavrine
