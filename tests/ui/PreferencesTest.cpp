#include "UiFixture.h"

#include "ui/panels/CalibrationView.h"
#include "ui/panels/PreferencesView.h"
#include "ui/shared/AnimatedEyeLogo.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/SegmentedPicker.h"
#include "ui/shared/ToggleSwitch.h"
#include "ui/shared/Widgets.h"
#include "ui/tray/TrayController.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

using namespace tavrine;
using namespace tavrine::testing;
using Phase = CalibrationSession::Phase;

namespace {

struct PrefsFixture : UiFixture {
    PrefsFixture() { view.resize(PreferencesView::windowWidth, PreferencesView::windowHeight); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    // What the shortcut can do in this session, as the application publishes it.
    Published<ShortcutStatus> shortcutStatus{ShortcutStatus::idle};
    const bool statusShown = (ctx.shortcutStatus = &shortcutStatus, true);
    PreferencesView view{ctx};
    int saves = 0;
    Subscription counter = settings.settings.subscribe([this](const FilterSettings&) { ++saves; });
};

// How a control looks: its opacity, and whether its input takes changes.
std::pair<double, bool> shade(QWidget* control, QWidget* input) {
    return {static_cast<QGraphicsOpacityEffect*>(control->graphicsEffect())->opacity(), input->isEnabled()};
}

} // namespace

// The window shows the stored settings when it comes on screen (a delay no segment offers selects none,
// the login switch shows the system's login item), and every control saves its own field at once (the
// login item is asked once per change; a refused request leaves the switch where the user put it). A
// switched-off option dims and disables what depends on it, keeping the values: the matrix's sliders, the
// session lock's delay (off by default, one minute unless chosen otherwise). A shortcut that does not work
// everywhere says why, once, under its switch (the hint gives way); one that cannot work at all shows off
// and cannot be switched, while the stored choice stays.
TEST(PreferencesView, ShowsTheStoredSettingsAndEveryControlSavesItsField) {
    PrefsFixture f;
    f.store.setInteger("filter_strength", 5);
    f.store.setInteger("capture_fps", 15);
    f.store.setInteger("battery_threshold", 0);
    f.store.setInteger("inattention_delay_ms", 1200);
    f.settings.load();
    f.loginItem.enabled = true; // registered outside the application
    f.view.show();
    f.saves = 0;
    EXPECT_EQ(f.view.strengthSlider()->value(), 5);
    EXPECT_EQ(f.view.strengthValue()->text(), QStringLiteral("5"));
    EXPECT_EQ(f.view.fpsPicker()->selectedIndex(), 2);
    EXPECT_EQ(f.view.batteryPicker()->selectedIndex(), 0);
    EXPECT_EQ(f.view.batteryPicker()->segment(0)->text(), QStringLiteral("Désactivé"));
    EXPECT_EQ(f.view.delayPicker()->selectedIndex(), -1);
    EXPECT_EQ(f.view.stripeAlphaValue()->text(), QStringLiteral("42\u00a0%")) << "0.42 in single precision";
    EXPECT_EQ(f.view.coefficientValue()->text(), QStringLiteral("×2.0"));
    // A screen reader names each control by its row and says a slider's value as shown.
    for (QWidget* control : std::initializer_list<QWidget*>{
             f.view.glassesSwitch(), f.view.launchAtLoginSwitch(), f.view.shortcutSwitch(),
             f.view.allScreensSwitch(), f.view.hapticSwitch(), f.view.matrixSwitch(), f.view.lockSwitch(),
             f.view.strengthSlider(), f.view.sensitivitySlider(), f.view.coefficientSlider(),
             f.view.stripeAlphaSlider()}) {
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
    }
    EXPECT_EQ(f.view.hapticSwitch()->accessibleName(), QStringLiteral("Vibration lors d’une alerte"));
    EXPECT_EQ(f.view.coefficientSlider()->accessibleName(), QStringLiteral("Coefficient de distance"));
    EXPECT_EQ(f.view.coefficientSlider()->accessibleDescription(), QStringLiteral("×2.0"));
    EXPECT_EQ(f.view.fpsPicker()->segment(0)->accessibleDescription(),
              QStringLiteral("Fréquence de capture"));

    f.click(f.view.delayPicker()->segment(4));
    EXPECT_EQ(f.view.delayPicker()->selectedIndex(), 4);
    f.click(f.view.glassesSwitch());
    f.click(f.view.shortcutSwitch());
    f.click(f.view.allScreensSwitch());
    f.click(f.view.hapticSwitch());
    f.click(f.view.launchAtLoginSwitch());
    f.click(f.view.fpsPicker()->segment(0));
    f.view.stripeAlphaSlider()->setValue(f.view.stripeAlphaSlider()->value() + 1);
    f.view.coefficientSlider()->setValue(f.view.coefficientSlider()->maximum());
    const FilterSettings s = f.settings.settings.get();
    EXPECT_EQ(f.saves, 9) << "one save per change";
    EXPECT_EQ(s.inattentionDelayMs, 3000);
    EXPECT_FALSE(s.glassesCompat || s.globalShortcutEnabled || s.coverAllScreens || s.hapticOnAlert ||
                 s.launchAtLogin);
    EXPECT_EQ(s.captureFps, 5);
    EXPECT_FLOAT_EQ(s.matrixStripeAlpha, 0.45f);
    EXPECT_FLOAT_EQ(s.privacyMatrixCoefficient, 4.0f);

    EXPECT_EQ(shade(f.view.coefficientControl(), f.view.coefficientSlider()), std::pair(1.0, true));
    f.click(f.view.matrixSwitch());
    EXPECT_FALSE(f.settings.settings.get().privacyMatrixEnabled);
    EXPECT_EQ(shade(f.view.coefficientControl(), f.view.coefficientSlider()), std::pair(0.4, false));
    EXPECT_EQ(shade(f.view.stripeAlphaControl(), f.view.stripeAlphaSlider()), std::pair(0.4, false));
    EXPECT_FLOAT_EQ(f.settings.settings.get().privacyMatrixCoefficient, 4.0f);

    EXPECT_EQ(shade(f.view.lockDelayPicker(), f.view.lockDelayPicker()), std::pair(0.4, false));
    EXPECT_EQ(f.view.lockDelayPicker()->selectedIndex(), 1);
    f.click(f.view.lockSwitch());
    f.click(f.view.lockDelayPicker()->segment(0));
    EXPECT_TRUE(f.store.readBool("lock_on_absence"));
    EXPECT_EQ(f.store.readInt("lock_delay_ms"), 30'000);
    EXPECT_EQ(f.saves, 12);

    f.loginItem.failWith = std::string("autostart directory is read-only");
    f.click(f.view.launchAtLoginSwitch());
    EXPECT_EQ(f.loginItem.requests, (std::vector<bool>{false, true}));
    EXPECT_TRUE(f.view.launchAtLoginSwitch()->isChecked()) << "the switch keeps the requested position";

    f.click(f.view.shortcutSwitch());
    const char* hint = "Activer / désactiver le filtre sans ouvrir le menu";
    const struct {
        ShortcutStatus status;
        const char* line;
        bool usable;
    } cases[] = {
        {ShortcutStatus::working, hint, true},
        {ShortcutStatus::waiting, hint, true},
        {ShortcutStatus::x11WindowsOnly,
         "Seulement dans les fenêtres X11\u00a0: ce bureau n\u2019offre pas de raccourci global", true},
        {ShortcutStatus::unsupported, "Indisponible\u00a0: ce bureau n\u2019offre pas de raccourci global",
         false},
        {ShortcutStatus::refused,
         "Refusé par le bureau\u00a0: autorisez-le dans ses réglages, puis relancez Tavrine", false},
        {ShortcutStatus::taken, "Indisponible\u00a0: Super+Maj+C est déjà pris par un autre programme",
         false},
    };
    for (const auto& c : cases) {
        // The answer comes while the window is open, as a portal's refusal does.
        f.shortcutStatus = c.status;
        SCOPED_TRACE(c.line);
        EXPECT_EQ(f.view.shortcutHint()->text(), c.line);
        // Said once: the line under the switch, no other label.
        const auto shown = f.view.findChildren<QLabel*>();
        EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [&](auto* l) { return l->text() == c.line; }), 1);
        EXPECT_EQ(f.view.shortcutSwitch()->isEnabled(), c.usable);
        EXPECT_EQ(f.view.shortcutSwitch()->isChecked(), c.usable);
        f.click(f.view.shortcutSwitch());
        EXPECT_EQ(f.settings.settings.get().globalShortcutEnabled, !c.usable);
        if (c.usable) {
            f.click(f.view.shortcutSwitch());
        }
    }
}

// A wheel turned over the page scrolls it, also where a slider passes under the pointer, and also over the
// slider just dragged (it keeps the focus): the slider keeps its value and nothing is saved. The keyboard
// still moves a focused slider.
TEST(PreferencesView, TheWheelScrollsThePageAndNeverMovesASlider) {
    PrefsFixture f;
    f.view.show();
    QApplication::setActiveWindow(&f.view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.view));
    auto* scroll = f.view.findChild<QScrollArea*>();
    QScrollBar* page = scroll->verticalScrollBar();
    ASSERT_GT(page->maximum(), 0) << "the page is taller than its window";
    // A notch towards the end the page has further to go, delivered as the window system's is: to the widget
    // under the pointer, then to each parent in turn until one takes it.
    const auto turnWheelOver = [&](QWidget* w) {
        const QPointF global = w->mapToGlobal(QRectF(w->rect()).center());
        const int notch = page->value() > 0 ? 120 : -120;
        for (; w; w = w->parentWidget()) {
            QWheelEvent wheel(w->mapFromGlobal(global), global, QPoint(), QPoint(0, notch), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(w, &wheel);
            if (wheel.isAccepted()) {
                return;
            }
        }
    };
    for (QSlider* slider : {f.view.strengthSlider(), f.view.sensitivitySlider(), f.view.coefficientSlider(),
                            f.view.stripeAlphaSlider()}) {
        SCOPED_TRACE(slider->accessibleName().toStdString());
        scroll->ensureWidgetVisible(slider);
        const int before = slider->value(), saves = f.saves;
        for (const bool dragged : {false, true}) {
            if (dragged) {
                QTest::mouseClick(slider, Qt::LeftButton, {},
                                  QPoint(slider->width() / 2, slider->height() / 2));
                ASSERT_TRUE(slider->hasFocus());
                slider->setValue(before);
            }
            const int scrolled = page->value(), saved = f.saves;
            turnWheelOver(slider);
            EXPECT_EQ(slider->value(), before) << dragged;
            EXPECT_EQ(f.saves, saved) << dragged;
            EXPECT_NE(page->value(), scrolled) << dragged << ": the page scrolls on";
        }
        QTest::keyClick(slider, slider->value() < slider->maximum() ? Qt::Key_Right : Qt::Key_Left);
        EXPECT_NE(slider->value(), before);
        EXPECT_GT(f.saves, saves);
    }
}

// The calibration as the user reaches it from the preferences: the dialog walks through its phases, each
// with its content and buttons ("Annuler" stops the countdown, a camera that sees no face fails,
// "Recommencer" counts from 3 again); the result is adjusted by 5 cm steps within 30 to 200 cm, and
// "Valider" stores it, which the preferences row then shows and later edits keep.
// Qt's own texts, such as the menu of the page's scroll bar, read in French like the rest of the window.
TEST(PreferencesView, QtsOwnTextsAreFrenchToo) {
    PrefsFixture f;
    ASSERT_TRUE(f.localizer.installQtTranslations()) << "qt6-translations-l10n is installed with the tests";
    EXPECT_TRUE(f.localizer.installQtTranslations()) << "installed once, still there";
    for (const char* text : {"Scroll here", "Top", "Bottom", "Page up"}) {
        const QString shown = QCoreApplication::translate("QScrollBar", text);
        EXPECT_NE(shown, QString::fromLatin1(text));
        EXPECT_FALSE(shown.isEmpty()) << text;
    }
}

TEST(PreferencesView, CalibrationFromItsRow) {
    PrefsFixture f;
    f.view.show();
    EXPECT_EQ(f.view.calibrationValue()->text(), QStringLiteral("Non calibré"));
    EXPECT_EQ(f.view.calibrationHint()->text(),
              QStringLiteral("Non calibré — les alertes utilisent la distance par défaut (60\u00a0cm)"));
    f.click(f.view.calibrateButton());
    CalibrationDialog* dialog = f.view.calibrationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    CalibrationView& view = *dialog->view();
    const auto primary = [&] { f.click(view.primaryButton()); };
    const auto wait = [&](std::int64_t ms) { f.executor.advanceBy(ms); };
    const struct {
        const char* name;
        std::function<void()> act;
        Phase phase;
        const char* text; // a label shown, if any is to be read
        const char* primary;
        bool secondary = false;
    } steps[] = {
        {"opened", [] {}, Phase::idle(),
         "Installez-vous à votre distance de travail habituelle, regardez droit vers la caméra et appuyez "
         "sur Démarrer.",
         "Démarrer"},
        {"Démarrer", primary, Phase::counting(3), "3", "Annuler"},
        {"a second later", [&] { wait(1000); }, Phase::counting(2), "2", "Annuler"},
        {"Annuler", primary, Phase::idle(), nullptr, "Démarrer"},
        {"counted down", [&] { primary(), wait(3000); }, Phase::measuring(), "3\u00a0secondes", "Annuler"},
        // The fixture's filter is off: nothing was analysed, and the failure says so.
        {"nothing measured", [&] { wait(4000); }, Phase::failed(CalibrationSession::filterOffMessage),
         CalibrationSession::filterOffMessage, "Réessayer"},
        {"Réessayer", primary, Phase::idle(), nullptr, "Démarrer"},
        {"a result", [&] { view.session().phase = Phase::done(78); }, Phase::done(78),
         "Distance estimée\u00a0: <b>78\u00a0cm</b>", "Valider", true},
        {"Recommencer", [&] { f.click(view.secondaryButton()); }, Phase::idle(), nullptr, "Démarrer"},
        {"Démarrer again", primary, Phase::counting(3), nullptr, "Annuler"},
    };
    for (const auto& step : steps) {
        step.act();
        f.settle();
        EXPECT_EQ(view.session().phase.get(), step.phase) << step.name;
        QStringList texts;
        for (auto* label : view.findChildren<QLabel*>()) {
            texts << (label->isVisibleTo(&view) ? label->text() : QString());
            // A wrapped text shows whole: none of its lines is cut off.
            if (label->isVisibleTo(&view) && label->wordWrap()) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                    << step.name << ": \"" << label->text().toStdString() << "\"";
            }
        }
        EXPECT_TRUE(!step.text || texts.contains(QString::fromUtf8(step.text))) << step.name;
        EXPECT_EQ(view.primaryButton()->text(), step.primary) << step.name;
        EXPECT_EQ(view.secondaryButton()->isVisible(), step.secondary) << step.name;
        const bool measuring =
            step.phase.kind == Phase::Kind::counting || step.phase.kind == Phase::Kind::measuring;
        EXPECT_EQ(view.logo()->mode(),
                  measuring ? AnimatedEyeLogo::Mode::calibrating : AnimatedEyeLogo::Mode::idle)
            << step.name;
    }

    view.session().phase = Phase::done(32);
    f.click(view.minusButton());
    EXPECT_EQ(view.currentDistance(), 30);
    view.session().phase = Phase::done(198);
    f.click(view.plusButton());
    f.click(view.plusButton());
    EXPECT_EQ(view.distanceField()->text(), QString::fromUtf8("200\u00a0cm"));
    f.click(view.minusButton());
    f.click(view.minusButton());
    primary();
    EXPECT_EQ(view.session().phase.get(), Phase::idle());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(f.view.calibrationValue()->text(), QStringLiteral("190\u00a0cm"));
    EXPECT_EQ(f.view.calibrationHint()->text(), QStringLiteral("Distance mesurée lors de la calibration"));
    f.click(f.view.hapticSwitch());
    EXPECT_EQ(f.store.readInt("calibration_distance_cm"), 190);
    EXPECT_TRUE(f.store.readBool("is_calibrated"));

    // The onboarding, open beside this window, stores another calibration and the login item: the row
    // shows them, and the next edit here keeps them.
    FilterSettings fromOnboarding = f.settings.settings.get();
    fromOnboarding.calibrationDistanceCm = 62;
    f.settings.save(fromOnboarding);
    ASSERT_FALSE(f.settings.setLaunchAtLogin(true));
    EXPECT_EQ(f.view.calibrationValue()->text(), QStringLiteral("62\u00a0cm"));
    EXPECT_TRUE(f.view.launchAtLoginSwitch()->isChecked());
    f.click(f.view.hapticSwitch());
    EXPECT_EQ(f.store.readInt("calibration_distance_cm"), 62);
    EXPECT_TRUE(f.store.readBool("is_calibrated"));
    EXPECT_TRUE(f.loginItem.enabled);
    EXPECT_EQ(f.loginItem.requests, std::vector<bool>{true});
}

// Opened from the tray over a settings file that cannot be written, the window says at its top, in view,
// where the settings could not go and that they hold until Tavrine closes; a save that goes through takes
// the line away. A login item that refuses a change says so under its switch, until the window is opened
// again and the switch shows the item as it is.
TEST(PreferencesView, SaysWhatCouldNotBeSaved) {
    UiFixture f;
    f.store.where = "/home/léa/.config/tavrine/tavrine.conf";
    TrayController tray(f.ctx);
    tray.openPreferences();
    ASSERT_NE(tray.preferencesWindow(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tray.preferencesWindow()));
    auto* view = tray.preferencesWindow()->findChild<PreferencesView*>();
    ASSERT_NE(view, nullptr);
    const auto lineShown = [&] { return view->unsavedLine()->isVisibleTo(view); };
    EXPECT_FALSE(lineShown());

    f.store.flushFails = true;
    QTest::mouseClick(view->glassesSwitch(), Qt::LeftButton);
    ASSERT_TRUE(lineShown());
    EXPECT_EQ(view->unsavedLine()->text(),
              QStringLiteral(
                  "Impossible d’enregistrer les réglages dans /home/léa/.config/tavrine/tavrine.conf\u00a0: "
                  "vos changements valent jusqu’à la fermeture de Tavrine."));
    QCoreApplication::processEvents();
    QLabel* line = view->unsavedLine();
    EXPECT_GE(line->height(), line->heightForWidth(line->width())) << "the whole text shows";
    const QRect inView = rectIn(line, view);
    EXPECT_TRUE(view->rect().contains(inView)) << "seen without scrolling";
    EXPECT_LT(inView.bottom(), rectIn(view->strengthSlider(), view).top()) << "above the first section";
    QTest::mouseClick(view->hapticSwitch(), Qt::LeftButton);
    EXPECT_TRUE(lineShown()) << "still not saved";
    f.store.flushFails = false;
    QTest::mouseClick(view->hapticSwitch(), Qt::LeftButton);
    EXPECT_FALSE(lineShown());

    const QString usual = QString::fromUtf8(PreferencesView::launchAtLoginHintText);
    EXPECT_EQ(view->launchAtLoginHint()->text(), usual);
    f.loginItem.failWith = std::string("cannot write the autostart entry");
    QTest::mouseClick(view->launchAtLoginSwitch(), Qt::LeftButton);
    EXPECT_EQ(view->launchAtLoginHint()->text(),
              QString::fromUtf8(PreferencesView::launchAtLoginRefusedText));
    const auto hintInk = [&] {
        QLabel* hint = view->launchAtLoginHint();
        return QColor(readText(hint->grab().toImage(), hint->rect()).ink);
    };
    EXPECT_LE(colorDistance(hintInk(), AppColors::warning()), 40);
    QCoreApplication::processEvents();
    QLabel* hint = view->launchAtLoginHint();
    EXPECT_GE(hint->height(), hint->heightForWidth(hint->width())) << "the whole text shows";
    tray.preferencesWindow()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    tray.openPreferences();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tray.preferencesWindow()));
    view = tray.preferencesWindow()->findChild<PreferencesView*>();
    EXPECT_FALSE(view->launchAtLoginSwitch()->isChecked()) << "the item as it is";
    EXPECT_EQ(view->launchAtLoginHint()->text(), usual);
    const QColor usualInk = hintInk();
    EXPECT_GT(colorDistance(usualInk, AppColors::warning()), 40);

    // Refused again, then switched back to the item's state in the same window: nothing is left refused.
    QTest::mouseClick(view->launchAtLoginSwitch(), Qt::LeftButton);
    EXPECT_EQ(view->launchAtLoginHint()->text(),
              QString::fromUtf8(PreferencesView::launchAtLoginRefusedText));
    QTest::mouseClick(view->launchAtLoginSwitch(), Qt::LeftButton);
    EXPECT_EQ(view->launchAtLoginHint()->text(), usual);
    EXPECT_EQ(hintInk(), usualInk);
}

// Round the window with the Tab key: it reaches every control that takes input (a picker once), each brought
// into view when reached and showing that it has the focus, and comes back to where it started.
TEST(PreferencesView, EveryTabStopIsInViewAndShowsItsFocus) {
    UiFixture f;
    TrayController tray(f.ctx);
    tray.openPreferences();
    QWidget* window = tray.preferencesWindow();
    ASSERT_NE(window, nullptr);
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const PreferencesView& view = *window->findChild<PreferencesView*>();
    QWidget* first = QApplication::focusWidget();
    ASSERT_EQ(first, view.strengthSlider()) << "the window opens with the focus on its first control";
    const auto name = [](const QWidget* w) {
        const auto* button = qobject_cast<const QAbstractButton*>(w);
        return std::string(w->metaObject()->className()) + " \"" +
               (w->accessibleName().isEmpty() && button ? button->text() : w->accessibleName())
                   .toStdString() +
               "\"";
    };
    std::vector<QWidget*> stops;
    for (QWidget* focused = first; stops.size() < 60;) {
        QTest::keyClick(focused, Qt::Key_Tab);
        QCoreApplication::processEvents();
        focused = QApplication::focusWidget();
        ASSERT_TRUE(focused && window->isAncestorOf(focused)) << "stop " << stops.size() + 1;
        stops.push_back(focused);
        const QRect area = rectIn(focused, window);
        EXPECT_TRUE(window->rect().contains(area)) << name(focused) << " is out of view";
        const QImage shown = window->grab().toImage().copy(area.adjusted(-3, -3, 3, 3));
        focused->clearFocus();
        QCoreApplication::processEvents();
        EXPECT_NE(shown, window->grab().toImage().copy(area.adjusted(-3, -3, 3, 3)))
            << name(focused) << " shows no focus";
        focused->setFocus(Qt::TabFocusReason);
        if (focused == first) {
            break;
        }
    }
    ASSERT_EQ(stops.back(), first) << "the Tab key comes round";
    const QWidget* controls[] = {
        view.strengthSlider(),   view.sensitivitySlider(),   view.delayPicker(),
        view.glassesSwitch(),    view.launchAtLoginSwitch(), view.shortcutSwitch(),
        view.allScreensSwitch(), view.hapticSwitch(),        view.lockSwitch(),
        view.matrixSwitch(),     view.coefficientSlider(),   view.stripeAlphaSlider(),
        view.fpsPicker(),        view.batteryPicker(),       view.calibrateButton()};
    EXPECT_EQ(stops.size(), std::size(controls)) << "one stop each";
    for (const QWidget* control : controls) {
        EXPECT_TRUE(std::ranges::any_of(
            stops, [&](QWidget* stop) { return stop == control || control->isAncestorOf(stop); }))
            << name(control) << " is never reached";
    }
}

// The calibration opens centred on the preferences, inside them, and inside their screen whatever part of
// the preferences the user dragged off it: its title bar and its buttons stay reachable.
TEST(PreferencesView, CalibrationOpensInsideTheScreen) {
    struct Case {
        QRect area, frame;
        QPoint at;
    };
    const Case cases[] = {
        {{0, 0, 1280, 800}, {100, 100, 400, 300}, {100, 100}},  // inside: where it was asked
        {{0, 0, 1280, 800}, {1100, 700, 400, 300}, {880, 500}}, // past the far edges
        {{0, 32, 1280, 768}, {-50, 0, 400, 300}, {0, 32}},      // past the near edges, under a top bar
        {{0, 0, 300, 200}, {-50, 100, 400, 300}, {0, 0}},       // larger than the area: the title bar on it
        {{1280, 0, 800, 600}, {1200, 500, 400, 300}, {1280, 300}},
    };
    for (const auto& [area, frame, at] : cases) {
        const QPoint placed = widgets::keptInside(area, frame);
        EXPECT_EQ(std::pair(placed.x(), placed.y()), std::pair(at.x(), at.y()))
            << frame.x() << "," << frame.y();
    }

    UiFixture f;
    TrayController tray(f.ctx);
    tray.openPreferences();
    QWidget* window = tray.preferencesWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QRect screen = window->screen()->availableGeometry();
    for (const QPoint corner :
         {screen.center() - window->rect().center(), screen.bottomRight() - QPoint(100, 80),
          screen.topLeft() - QPoint(400, 300)}) {
        window->move(corner);
        auto* view = window->findChild<PreferencesView*>();
        QTest::mouseClick(view->calibrateButton(), Qt::LeftButton);
        CalibrationDialog* dialog = view->calibrationDialog();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        EXPECT_TRUE(screen.contains(dialog->frameGeometry())) << corner.x() << "," << corner.y();
        if (window->geometry().contains(dialog->geometry().adjusted(-20, -20, 20, 20))) {
            EXPECT_LE((dialog->geometry().center() - window->geometry().center()).manhattanLength(), 2);
        }
        dialog->reject();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Calibrating during a pause asked from the panel: the failure says the protection is suspended and how to
// resume it, not that it is switched off.
TEST(PreferencesView, CalibrationDuringATimedPauseSaysSo) {
    UiFixture f;
    f.filter.start({});
    f.settle();
    f.firstFrame();
    f.timedPause.pause(TimedPause::Length::fifteenMinutes);
    f.settle();
    ASSERT_FALSE(f.filter.isActive().get());
    TrayController tray(f.ctx);
    tray.openPreferences();
    auto* view = tray.preferencesWindow()->findChild<PreferencesView*>();
    QTest::mouseClick(view->calibrateButton(), Qt::LeftButton);
    ASSERT_NE(view->calibrationDialog(), nullptr);
    QTest::mouseClick(view->calibrationDialog()->view()->primaryButton(), Qt::LeftButton);
    f.advance(7000);
    EXPECT_EQ(f.lastSession->phase.get(), Phase::failed(CalibrationSession::suspendedMessage));
    QStringList shown;
    for (auto* label : view->calibrationDialog()->findChildren<QLabel*>()) {
        shown << label->text();
    }
    EXPECT_TRUE(shown.join('\n').contains(QStringLiteral("La protection est suspendue")))
        << shown.join('\n').toStdString();
}
