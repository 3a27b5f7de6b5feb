#include "app/AppWiring.h"

#include "app/services/AppServices.h"
#include "core/detection/CalibrationSession.h"
#include "core/detection/CameraSession.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/service/AbsenceLock.h"
#include "core/service/GlobalShortcut.h"
#include "core/service/PrivacyFilterService.h"
#include "core/service/TimedPause.h"
#include "ui/ServiceFilterControl.h"

namespace tavrine {
struct AppWiring::Impl {
    Impl(const QString& cameraSpec, const Localizer& localizer)
        : services(localizer, AppServices::Options{cameraSpec.toStdString()}),
          filter(PrivacyFilterService::shared()), context{
                                                      services.executor(),
                                                      services.clock(),
                                                      filter,
                                                      SettingsRepository::shared(),
                                                      StatsRepository::shared(),
                                                      localizer,
                                                      services.store(),
                                                      services.loginItem(),
                                                      [this] {
                                                          auto session = CalibrationSession::create(
                                                              services.executor(), CameraSession::shared(),
                                                              SettingsRepository::shared());
                                                          lastCalibration = session;
                                                          return session;
                                                      },
                                                      [] { return CameraSession::shared().requestAccess(); }},
          timedPause(TimedPause::Dependencies{
              services.executor(), services.clock(), PrivacyFilterService::shared().isActive,
              [] { PrivacyFilterService::shared().stop(); }, [] { PrivacyFilterService::shared().start(); },
              services.systemEvents()}),
          absenceLock(AbsenceLock::Dependencies{
              services.executor(), SettingsRepository::shared(), StatsRepository::shared(),
              services.notifier(), services.sessionLocker(), PrivacyFilterService::shared().fsmState,
              PrivacyFilterService::shared().detections, [this] { return calibrating(); }}) {
        context.timedPause = &timedPause;
        context.shortcutStatus = &services.shortcut().status();
    }

    bool calibrating() const {
        const auto session = lastCalibration.lock();
        if (!session) {
            return false;
        }
        const auto kind = session->phase.get().kind;
        return kind == CalibrationSession::Phase::Kind::counting ||
               kind == CalibrationSession::Phase::Kind::measuring;
    }

    AppServices services;
    ServiceFilterControl filter;
    UiContext context;
    TimedPause timedPause;
    AbsenceLock absenceLock;
    // The calibration view's session, while one is open (one at a time).
    std::weak_ptr<CalibrationSession> lastCalibration;
};

AppWiring::AppWiring(const QString& camera, const Localizer& localizer)
    : impl_(std::make_unique<Impl>(camera, localizer)) {}

AppWiring::~AppWiring() = default;

const UiContext& AppWiring::context() const {
    return impl_->context;
}

} // namespace tavrine
