#pragma once

#include "core/detection/CalibrationSession.h"
#include "core/persistence/KeyValueStore.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/service/GlobalShortcut.h"
#include "core/service/TimedPause.h"
#include "core/service/TrayHost.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "core/util/Localizer.h"
#include "ui/AppSignals.h"
#include "ui/FilterControl.h"
#include "ui/tray/StatusItem.h"

#include <QString>

#include <functional>
#include <memory>

namespace tavrine {

// The shared objects every view reads and calls. The views own only their view state; whoever builds the
// context (the application, or a test over fakes) owns everything it refers to.
struct UiContext {
    Executor& executor;
    const Clock& clock;
    FilterControl& filter;
    SettingsRepository& settingsRepo;
    StatsRepository& statsRepo;
    const Localizer& localizer;
    // The store that also holds the "has_completed_onboarding" flag.
    KeyValueStore& defaults;
    // Requests from the panels (open the preferences, quit).
    AppSignals& appSignals;
    // A fresh calibration session for each calibration view.
    std::function<std::shared_ptr<CalibrationSession>()> makeCalibrationSession;
    // Asks for camera access; true when granted.
    std::function<bool()> requestCameraAccess;
    // The timed pause the panel offers; none leaves the panel without pause entries.
    TimedPause* timedPause = nullptr;
    // The desktop's tray; none leaves the application without a tray icon (the panel still opens).
    TrayHost* trayHost = nullptr;
    // What the global shortcut can do in this session; none shows the switch without a warning.
    Published<ShortcutStatus>* shortcutStatus = nullptr;
    // A fresh tray item for a StatusNotifier host; none leaves such hosts without the item (an XEmbed
    // tray still shows the icon).
    std::function<std::unique_ptr<StatusItem>()> makeStatusItem = nullptr;

    QString tr(const char* key) const { return QString::fromStdString(localizer.text(key)); }
};

} // namespace tavrine
