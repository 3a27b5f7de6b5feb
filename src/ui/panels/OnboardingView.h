#pragma once

#include "core/util/Subscription.h"
#include "ui/UiContext.h"
#include "ui/panels/CalibrationView.h"
#include "ui/shared/CameraTexts.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace tavrine {

// One onboarding page: picture, title, text, main button and an optional plain secondary button.
class OnboardingPageLayout : public QWidget {
    Q_OBJECT
  public:
    OnboardingPageLayout(QWidget* header, const QString& title, const QString& text,
                         const QString& primaryLabel, std::function<void()> primaryAction,
                         const QString& secondaryLabel, std::function<void()> secondaryAction,
                         QWidget* parent);

    QPushButton* primaryButton() const { return primary_; }
    QPushButton* secondaryButton() const { return secondary_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* textLabel() const { return text_; }

  private:
    QLabel* title_;
    QLabel* text_;
    QPushButton* primary_;
    QPushButton* secondary_ = nullptr;
};

// The first-run walk-through: camera, overlay, notifications, calibration, login. Finishing the last
// page records "has_completed_onboarding" and emits finished (the window then closes).
class OnboardingView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int pageCount = 5;
    static constexpr const char* completedKey = "has_completed_onboarding";
    // Under the camera page's text once the request was refused: on Linux nothing else would say why.
    static constexpr const char* cameraRefusedNote = texts::cameraAccessRefused;

    explicit OnboardingView(const UiContext& ctx, QWidget* parent = nullptr);

    int page() const { return page_; }
    void setPage(int page);
    OnboardingPageLayout* pageWidget(int index) const { return pages_[std::size_t(index)]; }
    // The colour of each page dot, as drawn.
    QColor dotColor(int index) const;
    QWidget* dots() const { return dots_; }
    CalibrationDialog* calibrationDialog() const { return calibrationDialog_; }
    bool cameraGranted() const { return cameraGranted_; }
    bool notificationsGranted() const { return notificationsGranted_; }
    bool loginEnabled() const { return loginEnabled_; }

  signals:
    void finished();
    // The camera page's request was granted: the user agreed that the camera be opened.
    void cameraAccessGranted();

  private:
    void requestCamera();
    void allowNotifications();
    void openCalibration();
    void enableLogin();
    void done();
    void renderLabels();

    const UiContext& ctx_;
    int page_ = 0;
    bool cameraGranted_ = false;
    bool notificationsGranted_ = false; // set when the user agrees
    bool loginEnabled_ = false;
    QStackedWidget* stack_;
    std::array<OnboardingPageLayout*, pageCount> pages_{};
    QWidget* dots_;
    QPointer<CalibrationDialog> calibrationDialog_;
    Subscription settingsSub_;
};

} // namespace tavrine
