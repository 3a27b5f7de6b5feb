#include "app/AppWiring.h"

#include "app/ServiceFilterControl.h"
#include "core/detection/CalibrationSession.h"
#include "core/detection/CameraSession.h"
#include "core/overlay/OverlayWindowManager.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/service/AbsenceLock.h"
#include "core/service/PrivacyFilterService.h"
#include "core/service/ServiceTimedPause.h"
#include "core/service/TimedPause.h"
#include "core/util/Clock.h"
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
#include "platform/linux/tray/StatusNotifierItem.h"
#include "platform/linux/trayhost/DesktopTrayHost.h"
#include "platform/linux/wayland/LayerShellWindowSystem.h"
#include "platform/linux/x11/X11Display.h"
#include "ui/tray/TrayIcon.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <iostream>

namespace tavrine {

namespace {

// The overlay's window system on the route taken at start: layer surfaces where the Wayland compositor
// offers them, Qt's windows (X11 or XWayland) everywhere else.
std::unique_ptr<WindowSystem> makeWindowSystem(OverlayRoute::Kind route, Executor& executor,
                                               const QString& badgeText) {
    if (route == OverlayRoute::Kind::layerShell) {
        auto layerShell =
            std::make_unique<LayerShellWindowSystem>(executor, badgeText, QtWindowSystem::systemClock());
        if (layerShell->isConnected()) {
            return layerShell;
        }
    }
    return std::make_unique<QtWindowSystem>(executor, badgeText);
}

// The tray controller's item, exported on the session bus as a StatusNotifierItem.
class ExportedStatusItem final : public StatusItem {
  public:
    ExportedStatusItem() {
        item_.setIconThemePath(TrayIcon::themeSearchPath());
        QObject::connect(&item_, &StatusNotifierItem::activated, &item_, [this](QPoint at) {
            if (onActivated) {
                onActivated(at);
            }
        });
    }

    bool registerWithHost() override { return item_.registerWithWatcher(); }
    void setIcon(const QString& themeName, const QIcon& pixmaps) override {
        item_.setIcon(themeName, pixmaps);
    }
    void setNeedsAttention(bool attention) override { item_.setNeedsAttention(attention); }
    void setToolTip(const QString& text) override { item_.setToolTip(text); }

  private:
    StatusNotifierItem item_;
};

} // namespace

// Members are built in declaration order and destroyed in reverse: the platform first, then the core
// objects over it, then what the views share.
struct AppWiring::Parts {
    Parts(const Options& options, const Localizer& localizer)
        : localizer(localizer), loginItem(QCoreApplication::applicationFilePath()),
          frameSource(makeFrameSource(options.camera.toStdString())),
          models(executor, FaceModelPaths::locate()),
          windowSystem(makeWindowSystem(options.overlayRoute, executor,
                                        QString::fromStdString(localizer.text("⌘⇧C")))),
          systemEvents(QDBusConnection::systemBus(), QDBusConnection::sessionBus(),
                       options.overlayRoute == OverlayRoute::Kind::x11 ? x11::connection() : nullptr),
          power(QDBusConnection::systemBus()), notifier(QDBusConnection::sessionBus()),
          shortcut(chooseGlobalShortcut(QDBusConnection::sessionBus(), std::cerr)),
          sessionLocker(QDBusConnection::systemBus(), [this] { return systemEvents.sessionPath(); }),
          trayHost(QDBusConnection::sessionBus()),
          service(PrivacyFilterService::Dependencies{executor, clock, camera, overlay, settings, stats,
                                                     analyzerFactory(), notifier, haptics, systemEvents,
                                                     power, *shortcut, localizer, awaitModels()}),
          timedPause(service, executor, clock, systemEvents),
          absenceLock(AbsenceLock::Dependencies{executor, settings, stats, notifier, sessionLocker,
                                                service.fsmState, service.detections,
                                                [this] { return calibrating(); }}),
          context{executor,
                  clock,
                  filter,
                  settings,
                  stats,
                  localizer,
                  store,
                  appSignals,
                  [this] {
                      auto session = CalibrationSession::create(executor, camera, settings, [this] {
                          return timedPause.pause.status.get().paused;
                      });
                      lastCalibration = session;
                      return session;
                  },
                  [this] { return camera.requestAccess(); },
                  &timedPause.pause,
                  &trayHost} {
        context.shortcutStatus = &shortcut->status();
        context.makeStatusItem = [] { return std::make_unique<ExportedStatusItem>(); };
    }

    ~Parts() { store.flush(); }

    // Each start tells the camera the analysis rate of the run, so that it drops the frames the analyzer
    // would not admit before converting them, and the analyzer tells it which frames it took.
    PrivacyFilterService::AnalyzerFactory analyzerFactory() {
        return [this, make = models.analyzerFactory(executor, clock)](int fpsLimit) {
            frameSource->setFrameRateLimit(fpsLimit);
            auto analyzer = make(fpsLimit);
            if (analyzer) {
                analyzer->onAdmitted = [source = frameSource.get()] { source->frameAdmitted(); };
            }
            return analyzer;
        };
    }

    // A start waits for the face models (a cold disk at login can take seconds to read them): no camera
    // nor stripes until the analysis can watch, or until a failed load tells the user.
    std::function<bool(std::function<void()>)> awaitModels() {
        return [this](std::function<void()> ready) {
            if (models.isReady()) {
                return true;
            }
            models.whenReady([ready = std::move(ready)](const BlazeFaceDetector::Loaded&) { ready(); });
            return false;
        };
    }

    // Whether the calibration view's session is measuring: the absence lock waits meanwhile.
    bool calibrating() const {
        const auto session = lastCalibration.lock();
        if (!session) {
            return false;
        }
        const auto kind = session->phase.get().kind;
        return kind == CalibrationSession::Phase::Kind::counting ||
               kind == CalibrationSession::Phase::Kind::measuring;
    }

    const Localizer& localizer;
    // The platform.
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
    DesktopTrayHost trayHost;
    // The core over it.
    SettingsRepository settings{store, loginItem};
    StatsRepository stats{store};
    CameraSession camera{frameSource, executor};
    OverlayWindowManager overlay{*windowSystem};
    PrivacyFilterService service;
    ServiceTimedPause timedPause;
    AbsenceLock absenceLock;
    // What the views share.
    ServiceFilterControl filter{service};
    AppSignals appSignals;
    // The calibration view's session, while one is open (one at a time).
    std::weak_ptr<CalibrationSession> lastCalibration;
    UiContext context;
};

AppWiring::AppWiring(const Options& options, const Localizer& localizer)
    : parts_(std::make_unique<Parts>(options, localizer)) {}

AppWiring::~AppWiring() = default;

void AppWiring::runPostedTasks() {
    parts_->executor.runPosted();
}

const UiContext& AppWiring::context() const {
    return parts_->context;
}

} // namespace tavrine
