#include "app/AppDelegate.h"

#include "ui/panels/OnboardingView.h"
#include "ui/shared/Widgets.h"
#include "ui/tray/TrayController.h"

#include <QVBoxLayout>

namespace tavrine {

AppDelegate::AppDelegate(const UiContext& ctx, QObject* parent) : QObject(parent), ctx_(ctx) {}

AppDelegate::~AppDelegate() {
    delete onboardingWindow_.data();
}

void AppDelegate::applicationDidFinishLaunching() {
    const bool firstLaunch = !ctx_.defaults.readBool(OnboardingView::completedKey);
    if (firstLaunch) {
        showOnboarding();
    }
    trayController_ = std::make_unique<TrayController>(ctx_);
    // Once set up, the filter starts on every launch; its outcome shows only in the service's state. At
    // the first launch no dialog of the system asks for the camera (the session may open it already), so
    // the camera stays shut until the user agrees on the onboarding's camera page ("Autoriser"); after
    // "Plus tard" the panel's switch starts the filter.
    // Super+Shift+C starts it then too.
    FilterControl* filter = &ctx_.filter;
    if (firstLaunch) {
        ctx_.executor.post([filter] { filter->armShortcut(); });
    } else {
        ctx_.executor.post([filter] { filter->start({}); });
    }
}

void AppDelegate::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    ctx_.filter.shutDown();
}

void AppDelegate::showOnboarding() {
    delete onboardingWindow_.data();
    auto* window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                            Qt::WindowStaysOnTopHint);
    window->setObjectName(QStringLiteral("OnboardingWindow"));
    window->setWindowTitle(QString::fromUtf8(onboardingTitle));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new OnboardingView(ctx_, window);
    layout->addWidget(view);
    window->setFixedSize(440, 420);
    widgets::centreOnScreen(window);
    connect(view, &OnboardingView::finished, window, &QWidget::close);
    connect(view, &OnboardingView::cameraAccessGranted, this, [this] { ctx_.filter.start({}); });
    onboardingWindow_ = window;
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace tavrine
