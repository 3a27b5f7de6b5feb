#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

namespace {

QImage renderIcon(int side) {
    QSvgRenderer renderer{QStringLiteral(TAVRINE_ICON_SVG)};
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (!renderer.isValid()) {
        return {};
    }
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

// Points of the 256-pixel design: the eye is drawn at 84 % of the tile around its centre.
QPoint at(double x, double y, int side) {
    const double scale = side / 256.0;
    return {int(x * scale), int(y * scale)};
}

} // namespace

TEST(AppIcon, IsAValidSquareSvg) {
    QSvgRenderer renderer{QStringLiteral(TAVRINE_ICON_SVG)};
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.viewBox(), QRect(0, 0, 256, 256));
}

TEST(AppIcon, DrawsTheEyeAtEveryThemeSize) {
    for (int side : {16, 48, 128, 256}) {
        SCOPED_TRACE(side);
        const QImage icon = renderIcon(side);
        ASSERT_FALSE(icon.isNull());
        // At 16 pixels the pupil is under two pixels wide and blends with the iris around it.
        const QColor pupil = icon.pixelColor(at(128, 128, side));
        EXPECT_LT(pupil.lightness(), side >= 48 ? 40 : 110) << "the pupil is dark";
        EXPECT_GT(icon.pixelColor(at(14, 128, side)).lightness(), 200) << "the tile is light";
        EXPECT_EQ(icon.pixelColor(at(0.5, 0.5, side)).alpha(), 0) << "the corner outside the tile is clear";
    }
}

int main(int argc, char** argv) {
    // Rendering needs no display; this also lets the test list be read at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
