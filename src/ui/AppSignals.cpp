#include "ui/AppSignals.h"

namespace tavrine {

AppSignals& AppSignals::instance() {
    static AppSignals hub;
    return hub;
}

} // namespace tavrine
