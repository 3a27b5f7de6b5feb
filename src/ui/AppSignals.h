#pragma once

#include "core/util/Signal.h"

namespace tavrine {

// Requests from the panels to the tray controller and the application. The composition root owns the
// one instance and hands it to the views through their context.
struct AppSignals {
    Signal<> openPreferencesRequested;
    Signal<> quitRequested;

    // Out of line: Qt's emit keyword, defined wherever a Qt header came first, would eat the calls.
    void postOpenPreferences();
    void postQuit();
};

} // namespace tavrine
