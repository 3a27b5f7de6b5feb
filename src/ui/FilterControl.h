#pragma once

#include "core/domain/FilterState.h"
#include "core/util/Published.h"

#include <functional>

namespace tavrine {

// What the tray and the panel need of the running filter: its published values and the on-off
// operations. The application hands the real service in; tests hand a fake that can fail to start.
class FilterControl {
  public:
    virtual ~FilterControl() = default;
    virtual Published<FilterState>& fsmState() = 0;
    virtual Published<bool>& isActive() = 0;
    virtual Published<bool>& isAlert() = 0;
    // True while the face analysis cannot run (its models failed to load): nothing is protected.
    virtual Published<bool>& analysisUnavailable() = 0;
    // True after a start that found no usable camera, until the filter runs.
    virtual Published<bool>& cameraMissing() = 0;
    // True while the camera stays shut because this user may not open it (access refused).
    virtual Published<bool>& cameraAccessRefused() = 0;
    // True while the running filter's camera sees nothing (a covered lens, darkness).
    virtual Published<bool>& cameraSeesNothing() = 0;
    // Asynchronous; done runs on the main thread once the camera started or failed.
    virtual void start(std::function<void()> done) = 0;
    virtual void stop() = 0;
    // The shortcut installed while the filter has not run yet, so that the keys can start it.
    virtual void armShortcut() = 0;
    // The stop at the application's end, after which starts do nothing.
    virtual void shutDown() = 0;
};

} // namespace tavrine
