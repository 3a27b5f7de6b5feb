#include "app/AppWiring.h"

#include "core/detection/AVCaptureManager.h"
#include "core/detection/CalibrationSession.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/util/Clock.h"
#include "platform/linux/capture/FrameSourceFactory.h"
#include "platform/linux/executor/QtExecutor.h"
#include "platform/linux/settings/QSettingsStore.h"
#include "platform/linux/settings/XdgAutostart.h"

#include <QCoreApplication>

namespace tavrine {
namespace {

// Until the capture pipeline is wired into this build, a start reports the camera as unavailable.
class CameraUnavailableFilter final : public FilterControl {
  public:
    explicit CameraUnavailableFilter(Executor& executor) : executor_(executor) {}
    Published<FilterState>& fsmState() override { return state_; }
    Published<bool>& isActive() override { return active_; }
    Published<bool>& isAlert() override { return alert_; }
    void start(std::function<void()> done) override {
        executor_.post([this, done] {
            state_ = FilterState::cameraBusy(5000);
            if (done) {
                done();
            }
        });
    }
    void stop() override {
        state_ = FilterState::inactive();
        active_ = false;
        alert_ = false;
    }

  private:
    Executor& executor_;
    Published<FilterState> state_{FilterState::inactive()};
    Published<bool> active_{false};
    Published<bool> alert_{false};
};

} // namespace

struct AppWiring::Impl {
    Impl(const QString& cameraSpec, const Localizer& localizer)
        : loginItem(QCoreApplication::applicationFilePath()), settings(store, loginItem), stats(store),
          camera(makeFrameSource(cameraSpec.toStdString()), executor), filter(executor), context{executor,
                                    clock,
                                    filter,
                                    settings,
                                    stats,
                                    localizer,
                                    store,
                                    loginItem,
                                    [] { return std::shared_ptr<CalibrationSession>(); },
                                    [] { return false; }} {}

    QtExecutor executor;
    SystemClock clock;
    QSettingsStore store;
    XdgAutostart loginItem;
    SettingsRepository settings;
    StatsRepository stats;
    AVCaptureManager camera;
    CameraUnavailableFilter filter;
    UiContext context;
};

AppWiring::AppWiring(const QString& camera, const Localizer& localizer)
    : impl_(std::make_unique<Impl>(camera, localizer)) {}

AppWiring::~AppWiring() = default;

const UiContext& AppWiring::context() const {
    return impl_->context;
}

} // namespace tavrine
