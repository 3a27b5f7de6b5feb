#include "UiFixture.h"

#include "ui/shared/AnimatedEyeLogo.h"
#include "ui/shared/EyeRenderer.h"
#include "ui/shared/Tween.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

QImage renderEye(int size, EyeRenderer::Params params, const QString& artifact = QString()) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    EyeRenderer::paint(p, QRectF(0, 0, size, size), params);
    p.end();
    if (!artifact.isEmpty()) {
        saveArtifact(image.scaled(size * 4, size * 4), artifact);
    }
    return image;
}

int opaquePixels(const QImage& image, const QRect& rect) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            n += qAlpha(image.pixel(x, y)) > 40 ? 1 : 0;
        }
    }
    return n;
}

} // namespace

TEST(EyeRenderer, OpenEyeShowsPupilIrisAndAlmondInThePaletteColours) {
    const QImage img = renderEye(100, {true, false, 1.0, 1.0}, "eye-active-100");
    const auto& pal = EyeRenderer::Palette::active();
    // Centre: the pupil.
    EXPECT_LE(colorDistance(QColor::fromRgba(img.pixel(50, 50)), pal.pupil), 6);
    // Between iris rim (r = 14.9) and lid: the almond's background.
    EXPECT_LE(colorDistance(QColor::fromRgba(img.pixel(50 + 24, 50)), pal.background), 6);
    // Inside the iris ring but outside the pupil: a blue of the gradient, far from the background.
    EXPECT_GT(colorDistance(QColor::fromRgba(img.pixel(50 + 9, 50)), pal.background), 150);
    // Corners stay transparent.
    EXPECT_EQ(qAlpha(img.pixel(2, 2)), 0);
}

TEST(EyeRenderer, ShutEyeDrawsOnlyTheFlatOutline) {
    const QImage img = renderEye(100, {true, false, 0.0, 1.0}, "eye-shut-100");
    // The outline stroke along the centre line, nothing above or below it.
    EXPECT_GT(qAlpha(img.pixel(50, 50)), 100);
    EXPECT_EQ(opaquePixels(img, QRect(0, 0, 100, 46)), 0);
    EXPECT_EQ(opaquePixels(img, QRect(0, 54, 100, 46)), 0);
    // No pupil: the centre pixel is the outline colour, not the pupil's.
    EXPECT_LE(colorDistance(QColor::fromRgba(img.pixel(50, 50)), EyeRenderer::Palette::active().outline), 40);
}

TEST(EyeRenderer, LashesFromFortyPixelsOnAndNeverForTheInactivePalette) {
    // The lashes stand outside the almond: left of its leftmost point (cx - a).
    auto lashPixels = [](int size, bool active, bool alert) {
        const QImage img = renderEye(size, {active, alert, 1.0, 1.0});
        const double a = size * 0.82 * 0.5;
        const int leftOfAlmond = int(size * 0.5 - a) - 1;
        return opaquePixels(img, QRect(0, 0, std::max(leftOfAlmond, 1), size));
    };
    EXPECT_EQ(lashPixels(39, true, false), 0);
    EXPECT_GT(lashPixels(40, true, false), 0);
    EXPECT_GT(lashPixels(40, false, true), 0);
    EXPECT_EQ(lashPixels(80, false, false), 0);
}

TEST(EyeRenderer, AlertWinsOverActiveAndDrawsNoHighlightWhenInactive) {
    EXPECT_EQ(&EyeRenderer::paletteFor(true, true), &EyeRenderer::Palette::alert());
    EXPECT_EQ(&EyeRenderer::paletteFor(false, true), &EyeRenderer::Palette::alert());
    EXPECT_EQ(&EyeRenderer::paletteFor(false, false), &EyeRenderer::Palette::inactive());
    // The highlight sits up-left of the pupil: present when active, absent for an alert without isActive.
    const int size = 200;
    const double q = size * 0.82 * 0.182 * 0.3870967741935484;
    const QPoint spot(int(100 - 0.73 * q), int(100 - 0.83 * q));
    const QColor highlight = QColor::fromRgbF(0.88f, 0.95f, 0.99f);
    const QImage active = renderEye(size, {true, true, 1.0, 1.0}, "eye-alert-active-200");
    const QImage alertOnly = renderEye(size, {false, true, 1.0, 1.0}, "eye-alert-200");
    EXPECT_LE(colorDistance(QColor::fromRgba(active.pixel(spot)), highlight), 60);
    EXPECT_GT(colorDistance(QColor::fromRgba(alertOnly.pixel(spot)), highlight), 200);
}

TEST(EyeRenderer, PulsedIrisIsClippedByTheLids) {
    // At 1.14 the iris radius is e * 0.20748; with the eye half shut it exceeds the lids and is clipped.
    const QImage img = renderEye(100, {true, false, 0.3, 1.14});
    EXPECT_EQ(opaquePixels(img, QRect(0, 0, 100, 40)), 0);
}

TEST(Tween, CurvesStartAtZeroAndEndAtOne) {
    for (auto c : {Tween::Curve::easeIn, Tween::Curve::easeOut, Tween::Curve::easeInOut}) {
        EXPECT_NEAR(Tween::progress(c, 0, 100), 0.0, 1e-6);
        EXPECT_DOUBLE_EQ(Tween::progress(c, 100, 100), 1.0);
    }
    // Ease-in is slow at first, ease-out fast.
    EXPECT_LT(Tween::progress(Tween::Curve::easeIn, 30, 100), 0.2);
    EXPECT_GT(Tween::progress(Tween::Curve::easeOut, 30, 100), 0.4);
    // The spring overshoots before it settles.
    double peak = 0;
    for (int t = 0; t < 1500; t += 5) {
        peak = std::max(peak, Tween::progress(Tween::Curve::spring, t, 0));
    }
    EXPECT_GT(peak, 1.02);
    EXPECT_DOUBLE_EQ(Tween::progress(Tween::Curve::spring, 5000, 0), 1.0);
}

TEST(AnimatedEyeLogo, OpensWithASpringThenBlinksAtTheStatedTimes) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 64, true, false, AnimatedEyeLogo::Mode::idle);
    EXPECT_EQ(logo.params().openAmount, 0.0);
    logo.show();
    f.executor.advanceBy(1500);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    f.executor.advanceBy(2500 + 110 - 1500);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9);
    f.executor.advanceBy(180);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    // Open until the next blink starts at 2610 + 5000 ms.
    f.executor.advanceBy(7610 - 2790 - 16);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    f.executor.advanceBy(16 + 110);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9);
    EXPECT_EQ(logo.params().pulseScale, 1.0);
}

TEST(AnimatedEyeLogo, CalibratingPulsesAndNeverBlinks) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 72, true, false, AnimatedEyeLogo::Mode::calibrating);
    logo.show();
    double minOpen = 1.0;
    double maxPulse = 0, minPulse = 2;
    f.executor.advanceBy(1500);
    for (int t = 0; t < 12000; t += 16) {
        f.executor.advanceBy(16);
        minOpen = std::min(minOpen, logo.params().openAmount);
        maxPulse = std::max(maxPulse, logo.params().pulseScale);
        minPulse = std::min(minPulse, logo.params().pulseScale);
    }
    EXPECT_GT(minOpen, 0.99);
    EXPECT_NEAR(maxPulse, AnimatedEyeLogo::pulseHigh, 2e-3);
    EXPECT_NEAR(minPulse, AnimatedEyeLogo::pulseLow, 2e-3);
}

TEST(AnimatedEyeLogo, LeavingTheScreenStopsTheLoopAndComingBackRestartsInTheNewMode) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 40, true, false, AnimatedEyeLogo::Mode::idle);
    logo.show();
    f.executor.advanceBy(2000);
    logo.hide();
    EXPECT_FALSE(logo.isLooping());
    f.executor.advanceBy(20000);
    EXPECT_EQ(f.executor.pendingCount(), 0u) << "a hidden logo leaves no timer behind";
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    logo.setMode(AnimatedEyeLogo::Mode::calibrating);
    logo.show();
    f.executor.advanceBy(800);
    EXPECT_NEAR(logo.params().pulseScale, AnimatedEyeLogo::pulseHigh, 1e-9);
}
