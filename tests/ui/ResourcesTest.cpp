#include "UiFixture.h"

#include "ui/panels/OnboardingView.h"
#include "ui/panels/TrayPanel.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

// Every text of the panel's pages and the onboarding's comes from the translation: a key missing from it
// would show as the key itself ("stats_reset_confirm").
TEST(QtLocalizer, NoWindowShowsALookupKey) {
    UiFixture f;
    ASSERT_TRUE(f.localizer.isLoaded());
    TrayPanel panel(f.ctx);
    panel.setShowStats(true);
    panel.setShowAbout(true);
    OnboardingView onboarding(f.ctx);
    const QRegularExpression key(QStringLiteral("\\b[a-z]+(_[a-z]+)+\\b"));
    int texts = 0;
    for (QWidget* window : {static_cast<QWidget*>(&panel), static_cast<QWidget*>(&onboarding)}) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<QLabel*>(w);
            const auto* button = qobject_cast<QAbstractButton*>(w);
            const QString text = label ? label->text() : button ? button->text() : QString();
            texts += text.isEmpty() ? 0 : 1;
            EXPECT_FALSE(key.match(text).hasMatch()) << text.toStdString();
        }
    }
    EXPECT_GT(texts, 30);
    // Texts that only notifications show, and what a missing entry gives.
    EXPECT_EQ(f.localizer.text("notif_alert_title"), "Regard indiscret détecté");
    EXPECT_EQ(f.localizer.text("no_such_key"), "no_such_key");
    EXPECT_EQ(f.localizer.text(""), "");
}

// The application's icon, as the desktop entry names it: a square drawing with ink on it at the smallest
// theme size.
TEST(AppIcon, IsASquareSvgThatDrawsAtSixteenPixels) {
    QSvgRenderer renderer{QStringLiteral(TAVRINE_SOURCE_DIR "/data/icons/tavrine.svg")};
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.viewBox().width(), renderer.viewBox().height());
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    int opaque = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            opaque += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
        }
    }
    EXPECT_GT(opaque, 64);
}
