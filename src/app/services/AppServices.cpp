#include "app/services/AppServices.h"

#include "core/detection/CameraSession.h"
#include "core/overlay/OverlayWindowManager.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/service/PrivacyFilterService.h"
#include "core/util/Clock.h"
#include "core/util/SharedInstance.h"
#include "platform/linux/capture/FrameSourceFactory.h"
#include "platform/linux/executor/QtExecutor.h"
#include "platform/linux/facemodel/FaceModelLoader.h"
#include "platform/linux/haptics/EvdevHaptics.h"
#include "platform/linux/monitors/DBusSystemEventMonitor.h"
#include "platform/linux/monitors/UPowerSource.h"
#include "platform/linux/notifications/FreedesktopNotifier.h"
#include "platform/linux/overlay/QtWindowSystem.h"
#include "platform/linux/sessionlock/LogindSessionLocker.h"
#include "platform/linux/settings/QSettingsStore.h"
#include "platform/linux/settings/XdgAutostart.h"
#include "platform/linux/shortcut/GlobalShortcutChoice.h"
#include "platform/linux/wayland/LayerShellWindowSystem.h"
#include "platform/linux/wayland/OverlayRoute.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <iostream>

namespace tavrine {

namespace {

// The overlay's window system on the route taken at start: layer surfaces where the Wayland compositor
// offers them, Qt's windows (X11 or XWayland) everywhere else.
std::unique_ptr<WindowSystem> makeWindowSystem(Executor& executor, const QString& badgeText) {
    if (OverlayRoute::chosen().kind == OverlayRoute::Kind::layerShell) {
        auto layerShell =
            std::make_unique<LayerShellWindowSystem>(executor, badgeText, QtWindowSystem::systemClock());
        if (layerShell->isConnected()) {
            return layerShell;
        }
    }
    return std::make_unique<QtWindowSystem>(executor, badgeText);
}

} // namespace

struct AppServices::Parts {
    Parts(const Localizer& localizer, const Options& options)
        : localizer(localizer), loginItem(QCoreApplication::applicationFilePath()),
          frameSource(makeFrameSource(options.cameraSpec)), models(executor, FaceModelPaths::locate()),
          windowSystem(makeWindowSystem(executor, QString::fromStdString(localizer.text("⌘⇧C")))),
          systemEvents(QDBusConnection::systemBus(), QDBusConnection::sessionBus()),
          power(QDBusConnection::systemBus()), notifier(QDBusConnection::sessionBus()),
          shortcut(chooseGlobalShortcut(QDBusConnection::sessionBus(), std::cerr)),
          sessionLocker(QDBusConnection::systemBus(), [this] { return systemEvents.sessionPath(); }) {}

    const Localizer& localizer;
    QtExecutor executor;
    SystemClock clock;
    QSettingsStore store;
    XdgAutostart loginItem;
    std::shared_ptr<GstFrameSource> frameSource;
    FaceModelLoader models;
    std::unique_ptr<WindowSystem> windowSystem;
    DBusSystemEventMonitor systemEvents;
    UPowerSource power;
    FreedesktopNotifier notifier;
    std::unique_ptr<GlobalShortcut> shortcut;
    EvdevHaptics haptics;
    LogindSessionLocker sessionLocker;
};

AppServices::AppServices(const Localizer& localizer, Options options)
    : parts_(std::make_unique<Parts>(localizer, options)) {
    Parts& p = *parts_;
    SharedInstance<SettingsRepository>::setFactory(
        [&p] { return std::make_unique<SettingsRepository>(p.store, p.loginItem); });
    SharedInstance<StatsRepository>::setFactory([&p] { return std::make_unique<StatsRepository>(p.store); });
    SharedInstance<CameraSession>::setFactory(
        [&p] { return std::make_unique<CameraSession>(p.frameSource, p.executor); });
    SharedInstance<OverlayWindowManager>::setFactory(
        [&p] { return std::make_unique<OverlayWindowManager>(*p.windowSystem); });
    // Each start tells the camera the analysis rate of the run, so that it drops the frames the analyzer
    // would not admit before converting them, and the analyzer tells it which frames it took.
    auto makeAnalyzer = [&p, make = p.models.analyzerFactory(p.executor, p.clock)](int fpsLimit) {
        p.frameSource->setFrameRateLimit(fpsLimit);
        auto analyzer = make(fpsLimit);
        if (analyzer) {
            analyzer->onAdmitted = [source = p.frameSource.get()] { source->frameAdmitted(); };
        }
        return analyzer;
    };
    SharedInstance<PrivacyFilterService>::setFactory([&p, makeAnalyzer] {
        return std::make_unique<PrivacyFilterService>(PrivacyFilterService::Dependencies{
            p.executor, p.clock, CameraSession::shared(), OverlayWindowManager::shared(),
            SettingsRepository::shared(), StatsRepository::shared(), makeAnalyzer, p.notifier, p.haptics,
            p.systemEvents, p.power, *p.shortcut, p.localizer});
    });
}

AppServices::~AppServices() {
    // The service holds the others; each goes before what it uses.
    SharedInstance<PrivacyFilterService>::resetForTests();
    SharedInstance<CameraSession>::resetForTests();
    SharedInstance<OverlayWindowManager>::resetForTests();
    SharedInstance<StatsRepository>::resetForTests();
    SharedInstance<SettingsRepository>::resetForTests();
    parts_->store.flush();
}

Executor& AppServices::executor() {
    return parts_->executor;
}
const Clock& AppServices::clock() {
    return parts_->clock;
}
KeyValueStore& AppServices::store() {
    return parts_->store;
}
LoginItem& AppServices::loginItem() {
    return parts_->loginItem;
}
SystemEventMonitor& AppServices::systemEvents() {
    return parts_->systemEvents;
}
Notifier& AppServices::notifier() {
    return parts_->notifier;
}
SessionLocker& AppServices::sessionLocker() {
    return parts_->sessionLocker;
}
GlobalShortcut& AppServices::shortcut() {
    return *parts_->shortcut;
}

} // namespace tavrine
