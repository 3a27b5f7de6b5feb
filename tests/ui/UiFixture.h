#pragma once

#include "TextContrast.h"
#include "core/detection/CameraSession.h"
#include "core/fakes/ServiceRig.h"
#include "platform/linux/i18n/QtLocalizer.h"
#include "ui/UiContext.h"
#include "ui/shared/ToggleSwitch.h"

#include <QWidget>

namespace tavrine::testing {

// The filter as the views see it: a start succeeds or fails as the test says, after one task, unawaited.
class FakeFilterControl final : public FilterControl {
  public:
    explicit FakeFilterControl(Executor& executor) : executor_(executor) {}
    Published<FilterState>& fsmState() override { return state; }
    Published<bool>& isActive() override { return active; }
    Published<bool>& isAlert() override { return alert; }
    Published<bool>& analysisUnavailable() override { return blind; }
    Published<bool>& cameraMissing() override { return missing; }
    void start(std::function<void()>) override {
        startService();
        // As ServiceFilterControl: a start asked from the UI that left the filter waiting lacked a camera.
        executor_.post([this] {
            if (shutDowns == 0) {
                missing = !cameraWorks;
            }
        });
    }
    // What the service's own start does (a timed pause starts it so): a failed start leaves the machine
    // waiting for a camera, and says so.
    void startService() {
        ++starts;
        executor_.post([this] {
            if (shutDowns > 0) {
                return;
            }
            if (cameraWorks) {
                state = FilterState::nominal(3);
                active = true;
            } else {
                state = FilterState::cameraBusy(5000);
            }
        });
    }
    void stop() override {
        state = FilterState::inactive();
        active = false;
        missing = false;
    }
    void shutDown() override {
        ++shutDowns;
        stop();
    }

    Published<FilterState> state{FilterState::inactive()};
    Published<bool> blind{false};
    Published<bool> missing{false};
    Published<bool> active{false};
    Published<bool> alert{false};
    bool cameraWorks = true;
    int shutDowns = 0;
    int starts = 0;

  private:
    Executor& executor_;
};

// Everything a view needs, over fakes and virtual time.
struct UiFixture {
    VirtualExecutor executor;
    RecordingKeyValueStore store;
    FakeLoginItem loginItem;
    std::ostringstream diagnostics;
    SettingsRepository settings{store, loginItem, diagnostics};
    StatsRepository stats{store};
    FakeFilterControl filter{executor};
    QtLocalizer localizer;
    // A camera that never delivers a frame: calibrations measure nothing.
    CameraSession camera{std::make_shared<FakeFrameSource>(), executor};
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
                  [this] { return lastSession = CalibrationSession::create(executor, camera, settings); },
                  [] { return true; }};
    FakeSystemEvents systemEvents;
    TimedPause timedPause{TimedPause::Dependencies{
        executor, executor, filter.active, [this] { filter.stop(); }, [this] { filter.startService(); },
        // As the service: a start that left the machine waiting for a camera is tried again; nothing
        // else is.
        [this] {
            if (filter.active.get() || !filter.state.get().is(FilterState::Kind::cameraBusy)) {
                return false;
            }
            filter.startService();
            return true;
        },
        systemEvents}};

    UiFixture() { ctx.timedPause = &timedPause; }
};

inline int colorDistance(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

inline QRect rectIn(const QWidget* child, const QWidget* ancestor) {
    return QRect(child->mapTo(ancestor, QPoint(0, 0)), child->size());
}

} // namespace tavrine::testing
