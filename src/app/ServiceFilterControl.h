#pragma once

#include "core/service/PrivacyFilterService.h"
#include "core/util/Subscription.h"
#include "ui/FilterControl.h"

namespace tavrine {

// The real service seen through FilterControl.
class ServiceFilterControl final : public FilterControl {
  public:
    explicit ServiceFilterControl(PrivacyFilterService& service) : service_(service) {
        runningSub_ = service_.isActive.subscribe([this](bool active) {
            if (active) {
                cameraMissing_ = false;
            }
        });
        // Stopped, however (the switch, the shortcut, a pause's tries given up): nothing is missing.
        stateSub_ = service_.fsmState.subscribe([this](const FilterState& state) {
            if (state.is(FilterState::Kind::inactive)) {
                cameraMissing_ = false;
            }
        });
    }
    Published<FilterState>& fsmState() override { return service_.fsmState; }
    Published<bool>& isActive() override { return service_.isActive; }
    Published<bool>& isAlert() override { return service_.isAlert; }
    Published<bool>& analysisUnavailable() override { return service_.analysisUnavailable; }
    Published<bool>& cameraMissing() override { return cameraMissing_; }
    Published<bool>& cameraAccessRefused() override { return service_.cameraAccessRefused; }
    Published<bool>& cameraSeesNothing() override { return service_.cameraSeesNothing; }
    void start(std::function<void()> done) override {
        // A start that ends with the machine waiting for a camera lacked one. One refused for another
        // reason (no compositing manager, no face analysis) or a second request while the camera opens
        // says nothing of the camera.
        service_.start([this, done = std::move(done)] {
            cameraMissing_ =
                !service_.isActive.get() && service_.fsmState.get().is(FilterState::Kind::cameraBusy);
            if (done) {
                done();
            }
        });
    }
    void stop() override { service_.stop(); }
    void armShortcut() override { service_.armShortcut(); }
    void shutDown() override { service_.shutDown(); }

  private:
    PrivacyFilterService& service_;
    Published<bool> cameraMissing_{false};
    Subscription runningSub_;
    Subscription stateSub_;
};

} // namespace tavrine
