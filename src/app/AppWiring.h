#pragma once

#include "core/util/Localizer.h"
#include "platform/linux/wayland/OverlayRoute.h"
#include "ui/UiContext.h"

#include <QString>

#include <memory>

namespace tavrine {

// The composition root: builds every real platform object, the core objects over them and the context
// the views share, each exactly once, and owns them all. Create exactly one, on the main thread, after
// the QApplication; keep it alive until the event loop has ended. Destroying it stops nothing by itself
// (stop the filter first); each object goes before what it uses, and the settings file is flushed last.
class AppWiring {
  public:
    struct Options {
        // The --camera value: "" (built-in, else first webcam), "/dev/videoN", a video file or "demo".
        QString camera;
        // How the overlay reaches the screen, as chosen before the QApplication was made.
        OverlayRoute::Kind overlayRoute = OverlayRoute::Kind::x11;
    };

    // localizer: the application's translations; it must outlive this object.
    AppWiring(const Options& options, const Localizer& localizer);
    ~AppWiring();
    AppWiring(const AppWiring&) = delete;
    AppWiring& operator=(const AppWiring&) = delete;

    const UiContext& context() const;

    // Runs the tasks posted to run now, once the event loop has returned for good: what the filter's
    // stop posted at the end of the process (the run's seconds in the statistics).
    void runPostedTasks();

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace tavrine
