#include "ui/AppSignals.h"

namespace tavrine {

void AppSignals::postOpenPreferences() {
    openPreferencesRequested.emit();
}

void AppSignals::postQuit() {
    quitRequested.emit();
}

} // namespace tavrine
