#pragma once

#include "core/service/PrivacyFilterService.h"
#include "core/service/TimedPause.h"

namespace tavrine {

// The timed pause of the filter service: it stops and starts the service, tries the start again while the
// camera is taken, and, as the panel's switch does, takes the shortcut's press that turns off the
// protection such a wait holds out (once that start found the camera taken; while it still opens, the press
// lets it run). Built after the service, it goes before it.
class ServiceTimedPause {
  public:
    ServiceTimedPause(PrivacyFilterService& service, Executor& executor, const Clock& clock,
                      SystemEventMonitor& systemEvents)
        : pause(TimedPause::Dependencies{executor, clock, service.isActive, [&service] { service.stop(); },
                                         [&service] { service.start(); },
                                         [&service] { return service.retryStart(); }, systemEvents}),
          service_(service) {
        service_.shortcutEndsAWait = [this] {
            return pause.endWaitForCamera(service_.fsmState.get(), service_.isActive.get());
        };
    }
    ~ServiceTimedPause() { service_.shortcutEndsAWait = nullptr; }
    ServiceTimedPause(const ServiceTimedPause&) = delete;
    ServiceTimedPause& operator=(const ServiceTimedPause&) = delete;

    TimedPause pause;

  private:
    PrivacyFilterService& service_;
};

} // namespace tavrine
