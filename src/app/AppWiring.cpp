#include "app/AppWiring.h"

#include "app/services/AppServices.h"
#include "core/detection/AVCaptureManager.h"
#include "core/detection/CalibrationSession.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/service/PrivacyFilterService.h"

namespace tavrine {
namespace {

// The views drive the one running service through this seam.
class ServiceFilterControl final : public FilterControl {
  public:
    explicit ServiceFilterControl(PrivacyFilterService& service) : service_(service) {}
    Published<FilterState>& fsmState() override { return service_.fsmState; }
    Published<bool>& isActive() override { return service_.isActive; }
    Published<bool>& isAlert() override { return service_.isAlert; }
    void start(std::function<void()> done) override { service_.start(std::move(done)); }
    void stop() override { service_.stop(); }

  private:
    PrivacyFilterService& service_;
};

} // namespace

struct AppWiring::Impl {
    Impl(const QString& cameraSpec, const Localizer& localizer)
        : services(localizer, AppServices::Options{cameraSpec.toStdString()}),
          filter(PrivacyFilterService::shared()),
          context{services.executor(),
                  services.clock(),
                  filter,
                  SettingsRepository::shared(),
                  StatsRepository::shared(),
                  localizer,
                  services.store(),
                  services.loginItem(),
                  [this] {
                      return CalibrationSession::create(services.executor(), AVCaptureManager::shared(),
                                                        SettingsRepository::shared());
                  },
                  [] { return AVCaptureManager::shared().requestAccess(); }} {}

    AppServices services;
    ServiceFilterControl filter;
    UiContext context;
};

AppWiring::AppWiring(const QString& camera, const Localizer& localizer)
    : impl_(std::make_unique<Impl>(camera, localizer)) {}

AppWiring::~AppWiring() = default;

const UiContext& AppWiring::context() const {
    return impl_->context;
}

} // namespace tavrine
