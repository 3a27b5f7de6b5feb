#pragma once

#include "core/service/PrivacyFilterService.h"
#include "ui/FilterControl.h"

namespace tavrine {

// The real service seen through FilterControl.
class ServiceFilterControl final : public FilterControl {
  public:
    explicit ServiceFilterControl(PrivacyFilterService& service) : service_(service) {}
    Published<FilterState>& fsmState() override { return service_.fsmState; }
    Published<bool>& isActive() override { return service_.isActive; }
    Published<bool>& isAlert() override { return service_.isAlert; }
    Published<bool>& analysisUnavailable() override { return service_.analysisUnavailable; }
    void start(std::function<void()> done) override { service_.start(std::move(done)); }
    void stop() override { service_.stop(); }

  private:
    PrivacyFilterService& service_;
};

} // namespace tavrine
