#include "UiFixture.h"

#include "ui/panels/CalibrationView.h"
#include "ui/panels/PreferencesView.h"
#include "ui/shared/SegmentedPicker.h"
#include "ui/shared/ToggleSwitch.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

struct PrefsFixture : UiFixture {
    PrefsFixture() { view.resize(PreferencesView::windowWidth, PreferencesView::windowHeight); }
    void open() {
        view.show();
        saves = 0;
    }
    // What the shortcut can do in this session, as the application publishes it.
    Published<ShortcutStatus> shortcutStatus{ShortcutStatus::idle};
    const bool statusShown = (ctx.shortcutStatus = &shortcutStatus, true);
    PreferencesView view{ctx};
    int saves = 0;
    Subscription counter = settings.settings.subscribe([this](const FilterSettings&) { ++saves; });
};

double opacityOf(QWidget* w) {
    return static_cast<QGraphicsOpacityEffect*>(w->graphicsEffect())->opacity();
}

} // namespace

TEST(PreferencesView, ShowsTheStoredSettingsWhenItComesOnScreen) {
    PrefsFixture f;
    f.store.setInteger("filter_strength", 5);
    f.store.setInteger("capture_fps", 15);
    f.store.setInteger("battery_threshold", 0);
    f.settings.load();
    f.open();
    EXPECT_EQ(f.view.strengthSlider()->value(), 5);
    EXPECT_EQ(f.view.strengthValue()->text(), QStringLiteral("5"));
    EXPECT_EQ(f.view.fpsPicker()->selectedIndex(), 2);
    EXPECT_EQ(f.view.batteryPicker()->selectedIndex(), 0);
    EXPECT_EQ(f.view.batteryPicker()->segment(0)->text(), QStringLiteral("Désactivé"));
    EXPECT_EQ(f.view.delayPicker()->selectedIndex(), 2) << "1500 ms is \"1,5 s\"";
    grab(f.view, "preferences-default");
}

TEST(PreferencesView, AnUnknownDelaySelectsNoSegmentUntilOneIsChosen) {
    PrefsFixture f;
    f.store.setInteger("inattention_delay_ms", 1200);
    f.settings.load();
    f.open();
    EXPECT_EQ(f.view.delayPicker()->selectedIndex(), -1);
    QTest::mouseClick(f.view.delayPicker()->segment(4), Qt::LeftButton);
    EXPECT_EQ(f.view.delayPicker()->selectedIndex(), 4);
    EXPECT_EQ(f.settings.settings.get().inattentionDelayMs, 3000);
    EXPECT_EQ(f.store.readInt("inattention_delay_ms"), 3000);
}

TEST(PreferencesView, MatrixOffDimsAndDisablesItsSlidersAndKeepsTheirValues) {
    PrefsFixture f;
    f.open();
    EXPECT_TRUE(f.view.coefficientSlider()->isEnabled());
    EXPECT_DOUBLE_EQ(opacityOf(f.view.coefficientControl()), 1.0);
    QTest::mouseClick(f.view.matrixSwitch(), Qt::LeftButton);
    EXPECT_FALSE(f.settings.settings.get().privacyMatrixEnabled);
    EXPECT_FALSE(f.view.coefficientSlider()->isEnabled());
    EXPECT_FALSE(f.view.stripeAlphaSlider()->isEnabled());
    EXPECT_DOUBLE_EQ(opacityOf(f.view.coefficientControl()), 0.4);
    EXPECT_DOUBLE_EQ(opacityOf(f.view.stripeAlphaControl()), 0.4);
    EXPECT_FLOAT_EQ(f.settings.settings.get().privacyMatrixCoefficient, 2.0f);
    f.view.window()->resize(560, 1100);
    grab(f.view, "preferences-matrix-off");
}

TEST(PreferencesView, SliderTextsOfTheMatrix) {
    EXPECT_EQ(PreferencesView::stripeAlphaText(0.72f), QStringLiteral("72\u00a0%"));
    EXPECT_EQ(PreferencesView::stripeAlphaText(0.42f), QStringLiteral("42\u00a0%"));
    EXPECT_EQ(PreferencesView::stripeAlphaText(1.0f), QStringLiteral("100\u00a0%"));
    EXPECT_EQ(PreferencesView::coefficientText(2.0f), QStringLiteral("×2.0"));
    EXPECT_EQ(PreferencesView::coefficientText(0.5f), QStringLiteral("×0.5"));
    PrefsFixture f;
    f.open();
    // A stored opacity of 0.72 (the record's default) shows 72%, and a step up stores 0.75.
    FilterSettings s = f.settings.settings.get();
    s.matrixStripeAlpha = 0.72f;
    f.settings.save(s);
    PreferencesView fresh(f.ctx);
    fresh.show();
    EXPECT_EQ(fresh.stripeAlphaValue()->text(), QStringLiteral("72\u00a0%"));
    EXPECT_EQ(fresh.coefficientValue()->text(), QStringLiteral("×2.0"));
    fresh.stripeAlphaSlider()->setValue(fresh.stripeAlphaSlider()->value() + 1);
    EXPECT_FLOAT_EQ(f.settings.settings.get().matrixStripeAlpha, 0.75f);
    fresh.coefficientSlider()->setValue(fresh.coefficientSlider()->maximum());
    EXPECT_FLOAT_EQ(f.settings.settings.get().privacyMatrixCoefficient, 4.0f);
}

TEST(PreferencesView, SwitchesSaveTheirFields) {
    PrefsFixture f;
    f.open();
    QTest::mouseClick(f.view.glassesSwitch(), Qt::LeftButton);
    QTest::mouseClick(f.view.shortcutSwitch(), Qt::LeftButton);
    QTest::mouseClick(f.view.allScreensSwitch(), Qt::LeftButton);
    QTest::mouseClick(f.view.hapticSwitch(), Qt::LeftButton);
    QTest::mouseClick(f.view.fpsPicker()->segment(0), Qt::LeftButton);
    const FilterSettings s = f.settings.settings.get();
    EXPECT_FALSE(s.glassesCompat);
    EXPECT_FALSE(s.globalShortcutEnabled);
    EXPECT_FALSE(s.coverAllScreens);
    EXPECT_FALSE(s.hapticOnAlert);
    EXPECT_EQ(s.captureFps, 5);
    EXPECT_EQ(f.saves, 5);
    EXPECT_FALSE(f.store.readBool("glasses_compat"));
}

TEST(PreferencesView, TheLoginSwitchRegistersOnceShowsTheSystemStateAndPrintsFailuresOnly) {
    PrefsFixture on;
    on.open();
    QTest::mouseClick(on.view.launchAtLoginSwitch(), Qt::LeftButton);
    EXPECT_EQ(on.loginItem.requests, std::vector<bool>{true}) << "one registration per change";
    EXPECT_TRUE(on.settings.settings.get().launchAtLogin);

    PrefsFixture f;
    f.loginItem.enabled = true; // registered outside the application
    f.open();
    EXPECT_TRUE(f.view.launchAtLoginSwitch()->isChecked());
    EXPECT_TRUE(f.settings.settings.get().launchAtLogin);
    EXPECT_TRUE(f.loginItem.requests.empty()) << "showing the system's state changes nothing";

    f.loginItem.failWith = std::string("autostart directory is read-only");
    QTest::mouseClick(f.view.launchAtLoginSwitch(), Qt::LeftButton);
    EXPECT_FALSE(f.view.launchAtLoginSwitch()->isChecked()) << "the switch keeps the requested position";
    EXPECT_FALSE(f.settings.settings.get().launchAtLogin);
    EXPECT_NE(f.diagnostics.str().find("autostart error: autostart directory is read-only"),
              std::string::npos);
}

TEST(PreferencesView, CalibrationRowBeforeAndAfterACalibration) {
    PrefsFixture f;
    f.open();
    EXPECT_EQ(f.view.calibrationValue()->text(), QStringLiteral("Non calibré"));
    EXPECT_EQ(f.view.calibrationHint()->text(),
              QStringLiteral("Non calibré — les alertes utilisent la distance par défaut (60 cm)"));
    QTest::mouseClick(f.view.calibrateButton(), Qt::LeftButton);
    CalibrationDialog* dialog = f.view.calibrationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    // A result of 62 cm, accepted as it is.
    f.lastSession->phase = CalibrationSession::Phase::done(62);
    QTest::mouseClick(dialog->view()->primaryButton(), Qt::LeftButton);
    EXPECT_EQ(f.settings.settings.get().calibrationDistanceCm, 62);
    EXPECT_EQ(f.view.calibrationValue()->text(), QStringLiteral("62 cm"));
    EXPECT_EQ(f.view.calibrationHint()->text(), QStringLiteral("Distance mesurée lors de la calibration"));
    EXPECT_TRUE(f.view.draft().isCalibrated) << "the draft took the repository's record";
    // A later edit keeps the calibration.
    QTest::mouseClick(f.view.hapticSwitch(), Qt::LeftButton);
    EXPECT_EQ(f.store.readInt("calibration_distance_cm"), 62);
    EXPECT_TRUE(f.store.readBool("is_calibrated"));
}

// A shortcut that does not work everywhere says why, once, under its switch (the hint gives way); one
// that cannot work at all shows off and cannot be switched, while the stored choice stays.
TEST(PreferencesView, TheShortcutSwitchTellsWhatTheSessionAllows) {
    const QString hint = QStringLiteral("Activer / désactiver le filtre sans ouvrir le menu");
    struct Case {
        ShortcutStatus status;
        QString line;
        bool usable;
    };
    const Case cases[] = {
        {ShortcutStatus::working, hint, true},
        {ShortcutStatus::waiting, hint, true},
        {ShortcutStatus::x11WindowsOnly,
         QStringLiteral(
             "Seulement dans les fenêtres X11\u00a0: ce bureau n\u2019offre pas de raccourci global"),
         true},
        {ShortcutStatus::unsupported,
         QStringLiteral("Indisponible\u00a0: ce bureau n\u2019offre pas de raccourci global"), false},
        {ShortcutStatus::refused,
         QStringLiteral("Refusé par le bureau\u00a0: autorisez-le dans ses réglages, puis relancez Tavrine"),
         false},
        {ShortcutStatus::taken,
         QStringLiteral("Indisponible\u00a0: Super+Maj+C est déjà pris par un autre programme"), false},
    };
    PrefsFixture f;
    f.open();
    for (const Case& c : cases) {
        // The answer comes while the window is open, as a portal's refusal does.
        f.shortcutStatus = c.status;
        const auto name = c.line.toStdString();
        EXPECT_EQ(f.view.shortcutHint()->text(), c.line) << name;
        int shown = 0;
        for (auto* l : f.view.findChildren<QLabel*>()) {
            shown += l->text() == c.line ? 1 : 0;
        }
        EXPECT_EQ(shown, 1) << name;
        EXPECT_EQ(f.view.shortcutSwitch()->isEnabled(), c.usable) << name;
        EXPECT_EQ(f.view.shortcutSwitch()->isChecked(), c.usable) << name;
        QTest::mouseClick(f.view.shortcutSwitch(), Qt::LeftButton);
        EXPECT_EQ(f.settings.settings.get().globalShortcutEnabled, !c.usable) << name;
        if (c.usable) {
            QTest::mouseClick(f.view.shortcutSwitch(), Qt::LeftButton);
        }
        EXPECT_TRUE(f.settings.settings.get().globalShortcutEnabled) << name;
    }
    grab(f.view, "preferences-shortcut-taken");
}

TEST(PreferencesView, TheSessionLockIsOffByDefaultAndItsDelayWaitsForIt) {
    PrefsFixture f;
    f.open();
    EXPECT_FALSE(f.view.lockSwitch()->isChecked());
    EXPECT_FALSE(f.view.lockDelayPicker()->isEnabled());
    EXPECT_DOUBLE_EQ(opacityOf(f.view.lockDelayPicker()), 0.4);
    EXPECT_EQ(f.view.lockDelayPicker()->selectedIndex(), 1) << "one minute unless chosen otherwise";
    QStringList labels;
    for (QLabel* label : f.view.findChildren<QLabel*>()) {
        labels << label->text();
    }
    EXPECT_TRUE(labels.contains(QString::fromUtf8("Verrouiller la session quand je m\u2019absente")));
    const char* segments[] = {"30\u00a0s", "1\u00a0min", "2\u00a0min"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.view.lockDelayPicker()->segment(i)->text(), QString::fromUtf8(segments[i]));
    }
    QTest::mouseClick(f.view.lockSwitch(), Qt::LeftButton);
    EXPECT_TRUE(f.view.lockDelayPicker()->isEnabled());
    QTest::mouseClick(f.view.lockDelayPicker()->segment(0), Qt::LeftButton);
    const FilterSettings s = f.settings.settings.get();
    EXPECT_TRUE(s.lockOnAbsence);
    EXPECT_EQ(s.lockDelayMs, 30'000);
    EXPECT_TRUE(f.store.readBool("lock_on_absence"));
    EXPECT_EQ(f.store.readInt("lock_delay_ms"), 30'000);
    EXPECT_EQ(f.saves, 2);
}
