#include "platform/linux/overlay/OverlayContentView.h"

#include <QPaintEvent>
#include <QPainter>

namespace tavrine {

OverlayContentView::OverlayContentView(OverlayWindowManager& manager, Executor& executor, const Clock& clock,
                                       QString badgeText, QWidget* parent)
    : QWidget(parent), flash_(executor, clock, [this] { changed(); }), badge_(std::move(badgeText)) {
    // Each subscription delivers the current value first, then every change before the manager stores it:
    // the view keeps its own copy so that it paints the new value.
    watch(manager.isShowing, isShowing_);
    watch(manager.matrixEnabled, matrixEnabled_);
    watch(manager.matrixDistanceCm, stripeValues_.distanceCm);
    watch(manager.matrixColorArgb, stripeValues_.colorArgb);
    watch(manager.matrixStripeAlpha, stripeValues_.stripeAlpha);
    subscriptions_.push_back(manager.currentAlpha.subscribeDistinct([this](float alpha) {
        stripeValues_.overlayAlpha = static_cast<double>(alpha);
        changed();
    }));
    // Alert mode: a window created during an alert (a monitor plugged in) flashes with the others, so that
    // every screen shows the alert; later changes start or stop the flash.
    isAlertMode_ = manager.isAlertMode.get();
    if (isAlertMode_) {
        startFlash();
    }
    subscriptions_.push_back(manager.isAlertMode.subscribeDistinct([this, first = true](bool on) mutable {
        if (first) {
            first = false;
            return;
        }
        isAlertMode_ = on;
        if (on) {
            startFlash();
        } else {
            stopFlash();
        }
        changed();
    }));
    updateRequests_ = 0;
}

OverlayContentView::~OverlayContentView() = default;

template <typename T, typename V> void OverlayContentView::watch(Published<T>& published, V& copy) {
    subscriptions_.push_back(published.subscribeDistinct([this, &copy](const T& value) {
        copy = static_cast<V>(value);
        changed();
    }));
}

void OverlayContentView::changed() {
    ++updateRequests_;
    update();
    Q_EMIT contentChanged();
}

void OverlayContentView::startFlash() {
    flash_.start();
}

void OverlayContentView::stopFlash() {
    flash_.stop();
}

bool OverlayContentView::isStripeLayerPresent() const {
    return isShowing_ && matrixEnabled_ && stripeValues_.overlayAlpha > 0.0;
}

bool OverlayContentView::isFlashLayerPresent() const {
    return isAlertMode_ || flash_.isAnimating() || flash_.flashAlpha() > 0.0;
}

void OverlayContentView::paintLayers(QPainter& painter) {
    const QRect area(QPoint(0, 0), size());
    if (isStripeLayerPresent()) {
        const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : devicePixelRatioF();
        // The bottom layer over a cleared, transparent window: copying it is exact and cheaper than blending.
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), stripes_.image(stripeValues_, size(), dpr));
        painter.restore();
    } else {
        stripes_.drop();
    }
    if (isFlashLayerPresent()) {
        painter.fillRect(area, QColor::fromRgbF(1.0f, 0.0f, 0.0f, static_cast<float>(flash_.flashAlpha())));
    }
    badge_.paint(painter, area);
}

void OverlayContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintLayers(painter);
}

} // namespace tavrine
