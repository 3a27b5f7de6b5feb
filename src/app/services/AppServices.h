#pragma once

#include "core/util/Executor.h"
#include "core/util/Localizer.h"

#include <memory>
#include <string>

namespace tavrine {

class CameraSession;
class KeyValueStore;
class LoginItem;
class OverlayWindowManager;
class PrivacyFilterService;
class SettingsRepository;
class StatsRepository;
class Notifier;
class SessionLocker;
class SystemEventMonitor;
class Clock;
class GlobalShortcut;

// Builds every real platform object of the running application and installs the factories of the five
// shared instances (PrivacyFilterService, CameraSession, OverlayWindowManager, SettingsRepository,
// StatsRepository), which are then created on first use. Create exactly one, on the main thread, after
// the QApplication and before anything calls a shared(); keep it alive until the event loop has ended.
// Destroying it stops nothing by itself (call PrivacyFilterService::shared().stop() first) and takes the
// shared instances down with it, the service first.
class AppServices {
  public:
    struct Options {
        // The --camera value: "" (built-in, else first webcam), "/dev/videoN", a video file or "demo".
        std::string cameraSpec;
    };

    // localizer: the application's translations; it must outlive this object.
    AppServices(const Localizer& localizer, Options options);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    // The main-thread executor on the Qt event loop, and the wall clock, for the UI as well.
    Executor& executor();
    const Clock& clock();
    // The settings file (QSettings INI) and the login item (XDG autostart entry).
    KeyValueStore& store();
    LoginItem& loginItem();
    // Display sleep and wake, session switches (also watched by the service while it runs).
    SystemEventMonitor& systemEvents();
    Notifier& notifier();
    // Locks the session the system monitor watches.
    SessionLocker& sessionLocker();
    // The global shortcut chosen for this session (X11 grab or desktop portal); its status is shown
    // in the preferences.
    GlobalShortcut& shortcut();

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace tavrine
