#pragma once

#include "core/overlay/FlashLoop.h"
#include "core/overlay/OverlayWindowManager.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "core/util/Subscription.h"
#include "platform/linux/overlay/MatrixStripeLayer.h"
#include "platform/linux/overlay/OverlayBadge.h"

#include <QWidget>

#include <vector>

namespace tavrine {

// What one overlay window shows, bottom to top: the privacy matrix (while showing, enabled and with an
// alpha above 0), the red alert flash (while alert mode is on, and during its fade-out), and the
// shortcut badge. It keeps a copy of the manager's values and repaints only when one of them changes or
// the flash moves.
class OverlayContentView : public QWidget {
    Q_OBJECT
  public:
    OverlayContentView(OverlayWindowManager& manager, Executor& executor, const Clock& clock,
                       QString badgeText, QWidget* parent = nullptr);
    ~OverlayContentView() override;

    // Paints the three layers for a canvas of this view's size into `painter`.
    void paintLayers(QPainter& painter);

    bool isStripeLayerPresent() const;
    bool isFlashLayerPresent() const;
    double flashAlpha() const { return flash_.flashAlpha(); }
    const OverlayBadge& badge() const { return badge_; }
    // How many times a repaint was asked for (tests check that nothing is redrawn without a change).
    int updateRequests() const { return updateRequests_; }

  Q_SIGNALS:
    // Something it shows changed. A window that paints the view into buffers of its own, without
    // showing it, repaints on this.
    void contentChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void startFlash();
    void stopFlash();
    void changed();
    template <typename T, typename V> void watch(Published<T>& published, V& copy);

    bool isShowing_ = false;
    bool isAlertMode_ = false;
    bool matrixEnabled_ = true;
    MatrixStripeLayer::Values stripeValues_;

    FlashLoop flash_;
    OverlayBadge badge_;
    MatrixStripeLayer stripes_;
    std::vector<Subscription> subscriptions_;
    int updateRequests_ = 0;
};

} // namespace tavrine
