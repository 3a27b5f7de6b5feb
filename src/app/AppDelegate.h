#pragma once

#include "ui/UiContext.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace tavrine {

class TrayController;

// The launch and termination steps of the application: onboarding on first use, the tray, the filter
// started once the event loop runs (at the first launch, once the user allows the camera), and stopped when
// the application ends.
class AppDelegate : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* onboardingTitle = "Bienvenue dans Tavrine";

    explicit AppDelegate(const UiContext& ctx, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    TrayController* trayController() const { return trayController_.get(); }
    QWidget* onboardingWindow() const { return onboardingWindow_; }

  private:
    void showOnboarding();

    const UiContext& ctx_;
    std::unique_ptr<TrayController> trayController_;
    QPointer<QWidget> onboardingWindow_;
    bool terminated_ = false;
};

} // namespace tavrine
