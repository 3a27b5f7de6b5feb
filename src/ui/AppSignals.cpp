#include "ui/AppSignals.h"

namespace tavrine {

void AppSignals::postOpenPreferences() {
    openPreferencesRequested.notify();
}

void AppSignals::postQuit() {
    quitRequested.notify();
}

} // namespace tavrine
