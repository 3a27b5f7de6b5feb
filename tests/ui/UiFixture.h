#pragma once

#include "TextContrast.h"
#include "app/ServiceFilterControl.h"
#include "core/detection/CameraSession.h"
#include "core/fakes/ServiceRig.h"
#include "core/service/ServiceTimedPause.h"
#include "platform/linux/i18n/QtLocalizer.h"
#include "ui/UiContext.h"
#include "ui/shared/ToggleSwitch.h"

#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace tavrine::testing {

// Everything a view needs: the real filter service, seen as the application's views see it, on the
// platform fakes and in virtual time. Its camera never delivers a frame, so calibrations measure nothing.
struct UiFixture {
    Rig rig;
    VirtualExecutor& executor = rig.exec;
    RecordingKeyValueStore& store = rig.store;
    FakeLoginItem& loginItem = rig.loginItem;
    SettingsRepository& settings = rig.settings;
    StatsRepository& stats = rig.stats;
    ServiceFilterControl filter{rig.svc()};
    QtLocalizer localizer;
    std::shared_ptr<CalibrationSession> lastSession;
    AppSignals appSignals;
    UiContext ctx{executor,
                  executor,
                  filter,
                  settings,
                  stats,
                  localizer,
                  store,
                  appSignals,
                  [this] {
                      return lastSession = CalibrationSession::create(executor, rig.camera, settings, [this] {
                                 return timedPause.status.get().paused;
                             });
                  },
                  [] { return true; }};
    // The application's own timed pause of the service.
    ServiceTimedPause servicePause{rig.svc(), executor, executor, rig.events};
    TimedPause& timedPause = servicePause.pause;

    UiFixture() { ctx.timedPause = &timedPause; }

    // Another program holds the camera (every start finds none), or lets it go.
    void cameraTaken(bool taken) { rig.source->failingStarts = taken ? 1'000'000 : 0; }
    // How often the camera was asked to open.
    int cameraStarts() const { return rig.source->starts; }
    // What the machine publishes, set for a view to show.
    void show(const FilterState& state) { rig.svc().fsmState = state; }
    // Runs what is due now: the main-thread tasks, the camera queue and the analysis workers.
    void settle() { rig.settle(); }
    // Lets time pass in steps of at most 100 ms, the camera answering within each, as it does.
    void advance(std::int64_t ms) {
        for (std::int64_t left = ms; left > 0; left -= 100) {
            rig.advance(std::min<std::int64_t>(left, 100));
        }
    }
    // The camera's first frame, with the user in view.
    void firstFrame() { rig.see({face(0.2)}); }
};

inline int colorDistance(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

inline QRect rectIn(const QWidget* child, const QWidget* ancestor) {
    return QRect(child->mapTo(ancestor, QPoint(0, 0)), child->size());
}

// A window opened on its screen: along each side its frame fits, centred in the available area (give or take
// the frame's edges, unknown until it shows); along one it does not, at the area's top or left edge (the
// title bar on the screen).
inline ::testing::AssertionResult openedInsideItsScreen(const QWidget* window) {
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    const auto placed = [](int start, int length, int edges, int areaStart, int areaLength) {
        return length <= areaLength ? std::abs(2 * (start - areaStart) + length - areaLength) <= edges + 1
                                    : start == areaStart;
    };
    if (placed(frame.x(), frame.width(), frame.width() - window->width(), area.x(), area.width()) &&
        placed(frame.y(), frame.height(), frame.height() - window->height(), area.y(), area.height())) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << window->objectName().toStdString() << " at " << frame.x() << "," << frame.y() << " "
           << frame.width() << "x" << frame.height() << " on " << area.x() << "," << area.y() << " "
           << area.width() << "x" << area.height();
}

} // namespace tavrine::testing
