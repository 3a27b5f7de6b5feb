#include "UiFixture.h"

#include "ui/panels/AboutView.h"
#include "ui/panels/PanelRow.h"
#include "ui/panels/StatsView.h"
#include "ui/panels/TrayPanel.h"
#include "ui/shared/AnimatedEyeLogo.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/StatCard.h"
#include "ui/shared/Widgets.h"
#include "ui/tray/TrayController.h"
#include "ui/tray/TrayIcon.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <limits>

using namespace tavrine;
using namespace tavrine::testing;
using IconState = TrayIcon::IconState;

// The tray and the panel opened from it follow the filter through a walk of states: the tooltip names the
// state (and what to do when something is missing), the eye tells a pause from the filter switched off,
// and the panel's switch, status line (text and the colour it is drawn in), notice and pause controls
// agree; the status line shows whole beside the pause button, on two lines if need be. Switched on without a
// camera, the switch falls back to off and the notice says what to do until a start succeeds. The pauses are
// taken from the panel's pause menu, and "Reprendre maintenant" ends them. The switch and the pause button
// answer the mouse, Space, Enter and the keypad's Enter alike.
TEST(TrayController, ToolTipIconAndPanelFollowTheFilter) {
    const QString noCamera = QString::fromUtf8("Tavrine — Caméra indisponible\nBranchez une caméra ou fermez "
                                               "l’application qui l’utilise, puis réactivez la protection.");
    const QString refused =
        QString::fromUtf8("Tavrine — Caméra indisponible\nTavrine n’a pas le droit d’ouvrir "
                          "la caméra\u00a0: ajoutez votre compte au groupe «\u00a0video\u00a0», "
                          "puis rouvrez votre session.");
    const QString blind =
        QString::fromUtf8("Tavrine — La caméra ne voit rien\nOuvrez le cache de la caméra ou "
                          "éclairez la pièce\u00a0: sans image, aucun regard indiscret n’est "
                          "détecté.");
    const QString on = QStringLiteral("Tavrine — Protection active");
    const QString off = QStringLiteral("Tavrine — Protection désactivée");
    const QString paused = QStringLiteral("Tavrine — En pause, reprise dans ");
    UiFixture f;
    TrayController tray(f.ctx);
    tray.openPanel();
    TrayPanel& panel = *tray.panel();
    QApplication::setActiveWindow(tray.panelWindow());
    struct Step {
        const char* name;
        std::function<void()> change;
        QString toolTip;
        IconState icon;
        const char* status;
        QColor colour;
    };
    // The switch and the pause button are worked as a user may: by mouse (no key), Space, Enter or the
    // keypad's Enter with the focus on them.
    const auto press = [](QWidget* control, Qt::Key key) {
        if (key == Qt::Key_unknown) {
            QTest::mouseClick(control, Qt::LeftButton);
            return;
        }
        control->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(control->hasFocus());
        QTest::keyClick(control, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    };
    const auto clickSwitch = [&](bool cameraWorks, Qt::Key key) {
        f.cameraTaken(!cameraWorks);
        press(panel.activeSwitch(), key);
        EXPECT_FALSE(panel.activeSwitch()->isChecked()) << "the switch never moves by itself";
    };
    const auto pauseFor = [&](int entry, const char* label, Qt::Key key) {
        return [&panel, press, entry, label, key] {
            press(panel.pauseButton(), key);
            ASSERT_TRUE(panel.pauseMenu()->isVisible()) << "key " << key;
            EXPECT_EQ(panel.pauseMenu()->actions().at(entry)->text(), QString::fromUtf8(label));
            panel.pauseMenu()->actions().at(entry)->trigger();
            panel.pauseMenu()->hide();
        };
    };
    const Step steps[] = {
        {"off", [] {}, off, IconState::inactive, "Protection désactivée", AppColors::textSecondary()},
        // Switched on with the face models missing: nothing starts, and the camera is not to blame.
        {"analysis unavailable",
         [&] {
             f.rig.modelMissing = true;
             clickSwitch(true, Qt::Key_unknown);
         },
         QString::fromUtf8("Tavrine — Analyse du visage indisponible\nLa protection est arrêtée. "
                           "Réinstallez Tavrine pour la rétablir."),
         IconState::inactive, "Analyse du visage indisponible\nRéinstallez Tavrine", AppColors::error()},
        {"analysis back",
         [&] {
             f.rig.modelMissing = false;
             f.rig.svc().analysisUnavailable = false;
         },
         off, IconState::inactive, "Protection désactivée", AppColors::textSecondary()},
        {"alert", [&] { f.show(FilterState::alert()); }, "Tavrine — Regard indiscret détecté",
         IconState::alert, "Regard indiscret détecté", AppColors::error()},
        {"low battery", [&] { f.show(FilterState::autoPaused(PauseReason::lowBattery())); },
         "Tavrine — En pause", IconState::paused, "En pause", AppColors::textSecondary()},
        // A missing camera looks like a pause on the eye: the tooltip tells them apart.
        {"camera busy", [&] { f.show(FilterState::cameraBusy(5000)); }, noCamera, IconState::paused,
         "Caméra indisponible", AppColors::warning()},
        // Not allowed to open the camera: plugging one in or closing a program would not help.
        {"switched on without the right to the camera",
         [&] {
             f.show(FilterState::inactive());
             f.rig.source->access = FrameSource::Access::denied;
             clickSwitch(true, Qt::Key_Space);
         },
         refused, IconState::paused, "Caméra indisponible", AppColors::warning()},
        {"switched on without a camera",
         [&] {
             f.show(FilterState::inactive());
             f.rig.source->access = FrameSource::Access::authorized;
             clickSwitch(false, Qt::Key_Return);
         },
         noCamera, IconState::paused, "Caméra indisponible", AppColors::warning()},
        {"switched on with a camera",
         [&] {
             clickSwitch(true, Qt::Key_Enter);
             f.firstFrame();
         },
         on, IconState::nominal, "Protection active", AppColors::success()},
        // The lens covered: the state stays, but nothing is watched, and the eye says so as without a camera.
        {"the lens covered",
         [&] {
             for (int i = 0; i < 17; ++i) {
                 f.rig.see({}, 200, kDarkFrame);
             }
         },
         blind, IconState::paused, "La caméra ne voit rien", AppColors::warning()},
        {"uncovered", [&] { f.rig.see({}); }, on, IconState::nominal, "Protection active",
         AppColors::success()},
        {"looking away", [&] { f.show(FilterState::inattention(3)); }, on, IconState::nominal,
         "Protection active", AppColors::success()},
        {"paused for 15 min", pauseFor(0, "Suspendre 15\u00a0min", Qt::Key_Return), paused + "15\u00a0min",
         IconState::paused, "En pause — reprise dans 15\u00a0min", AppColors::textSecondary()},
        {"a minute later", [&] { f.executor.advanceBy(60'000); }, paused + "14\u00a0min", IconState::paused,
         "En pause — reprise dans 14\u00a0min", AppColors::textSecondary()},
        {"resumed", [&] { QTest::mouseClick(panel.resumeRow(), Qt::LeftButton); }, on, IconState::nominal,
         "Protection active", AppColors::success()},
        {"paused for an hour", pauseFor(1, "Suspendre 1\u00a0h", Qt::Key_Enter), paused + "1\u00a0h",
         IconState::paused, "En pause — reprise dans 1\u00a0h", AppColors::textSecondary()},
        // The longest status of a pause (one ends the next morning).
        {"7 h 05 left", [&] { f.timedPause.pauseUntil(f.executor.nowMs() + (7 * 60 + 5) * 60'000); },
         paused + "7\u00a0h\u00a005", IconState::paused, "En pause — reprise dans 7\u00a0h\u00a005",
         AppColors::textSecondary()},
    };
    for (const Step& step : steps) {
        step.change();
        f.settle();
        EXPECT_EQ(tray.toolTip(), step.toolTip) << step.name;
        EXPECT_EQ(tray.iconState(), step.icon) << step.name;
        if (step.icon == IconState::alert || step.icon == IconState::nominal) {
            EXPECT_EQ(tray.iconTint(),
                      step.icon == IconState::alert ? TrayIcon::systemRed() : TrayIcon::labelColor());
        }
        EXPECT_EQ(panel.statusLine()->text(), QString::fromUtf8(step.status)) << step.name;
        // Whole in its column, clear of the pause button and the switch beside it.
        QCoreApplication::processEvents();
        const QLabel* line = panel.statusLine();
        const QRect room = line->contentsRect();
        const int flags = int(line->alignment()) | (line->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect needed = line->fontMetrics().boundingRect(room, flags, line->text());
        EXPECT_TRUE(room.contains(needed)) << step.name << ": " << needed.width() << "x" << needed.height()
                                           << " in " << room.width() << "x" << room.height();
        for (const QWidget* beside :
             {static_cast<QWidget*>(panel.pauseButton()), static_cast<QWidget*>(panel.activeSwitch())}) {
            EXPECT_FALSE(beside->isVisible() && rectIn(line, &panel).intersects(rectIn(beside, &panel)))
                << step.name;
        }
        // A longer status leaves the rows under it whole, down to "Quitter".
        EXPECT_TRUE(panel.rect().contains(rectIn(panel.quitRow(), &panel)) &&
                    panel.quitRow()->height() >= panel.quitRow()->sizeHint().height())
            << step.name;
        const QRgb ink = readText(panel.grab().toImage(), rectIn(panel.statusLine(), &panel)).ink;
        EXPECT_LE(colorDistance(QColor(ink), step.colour), 40)
            << step.name << " " << QColor(ink).name().toStdString();
        EXPECT_EQ(panel.activeSwitch()->isChecked(), f.filter.isActive().get()) << step.name;
        EXPECT_EQ(panel.activeSwitch()->accessibleName(), panel.statusLine()->text())
            << step.name << ": a screen reader hears the state the panel shows";
        // What to do, in the tooltip and under the panel's header alike.
        const bool advice = step.toolTip == noCamera || step.toolTip == refused || step.toolTip == blind;
        EXPECT_EQ(panel.notice()->isVisible(), advice) << step.name;
        if (advice) {
            EXPECT_EQ(QStringLiteral("Tavrine — ") + panel.statusLine()->text() + QLatin1Char('\n') +
                          panel.notice()->text(),
                      step.toolTip)
                << step.name;
        }
        // During a timed pause "Reprendre maintenant" takes the pause button's place; the button is there
        // but disabled while the filter is off.
        const bool timedPause = step.toolTip.startsWith(paused);
        EXPECT_EQ(panel.resumeRow()->isVisible(), timedPause) << step.name;
        EXPECT_EQ(panel.pauseButton()->isVisible(), !timedPause) << step.name;
        EXPECT_EQ(panel.pauseButton()->isEnabled(), f.filter.isActive().get()) << step.name;
    }
    // Disabled, the pause symbol is drawn faded, not only greyed by the style (which hardly shows in dark).
    const auto opacity = [&](QIcon::Mode mode) {
        const QImage image = panel.pauseButton()->icon().pixmap(18, mode).toImage();
        int most = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                most = std::max(most, qAlpha(image.pixel(x, y)));
            }
        }
        return most;
    };
    EXPECT_LE(opacity(QIcon::Disabled), opacity(QIcon::Normal) / 2);
    // The last entry pauses until the next morning.
    f.timedPause.resumeNow();
    f.settle();
    pauseFor(2, "Suspendre jusqu\u2019\u00e0 demain", Qt::Key_Space)();
    f.settle();
    EXPECT_EQ(f.timedPause.status.get().resumeAtMs, nextMorningMs(f.executor.nowMs()));
}

// A call still holds the camera when a timed pause ends: the start is tried again every 5 s, and the panel
// keeps its switch on and says the protection comes back by itself (the tooltip too), rather than asking
// to switch it on again. Turning the switch off gives up the tries, and then nothing is missing, even after
// a start by hand that found no camera during the pause.
TEST(TrayController, AfterAPauseTheSwitchStaysOnWhileTheCameraIsAwaited) {
    UiFixture f;
    TrayController tray(f.ctx);
    tray.openPanel();
    TrayPanel& panel = *tray.panel();
    QTest::mouseClick(panel.activeSwitch(), Qt::LeftButton);
    f.settle();
    ASSERT_TRUE(f.filter.isActive().get());
    QTest::mouseClick(panel.pauseButton(), Qt::LeftButton);
    panel.pauseMenu()->actions().at(0)->trigger();
    panel.pauseMenu()->hide();
    f.settle();
    ASSERT_TRUE(f.timedPause.status.get().paused);
    f.cameraTaken(true);
    // Switched on by hand meanwhile: the switch falls back, the pause still runs, and the line under it says
    // why.
    QTest::mouseClick(panel.activeSwitch(), Qt::LeftButton);
    f.settle();
    EXPECT_FALSE(panel.activeSwitch()->isChecked());
    ASSERT_TRUE(f.timedPause.status.get().paused);
    EXPECT_TRUE(panel.statusLine()->text().startsWith(QStringLiteral("En pause"))) << "the pause still runs";
    EXPECT_TRUE(panel.notice()->isVisible());
    EXPECT_EQ(panel.notice()->text(), QString::fromUtf8(TrayPanel::cameraMissingAdvice));
    f.advance(15 * 60'000);

    const QString awaited = QString::fromUtf8(TrayPanel::cameraAwaitedAdvice);
    EXPECT_FALSE(f.filter.isActive().get());
    EXPECT_TRUE(panel.activeSwitch()->isChecked()) << "the protection asked for is on its way";
    EXPECT_TRUE(panel.notice()->isVisible());
    EXPECT_EQ(panel.notice()->text(), awaited);
    EXPECT_EQ(panel.statusLine()->text(), QString::fromUtf8("Caméra indisponible"));
    EXPECT_TRUE(tray.toolTip().endsWith(awaited)) << tray.toolTip().toStdString();
    const int starts = f.cameraStarts();
    f.advance(10'000);
    EXPECT_EQ(f.cameraStarts(), starts + 2) << "tried every 5 s";

    QTest::mouseClick(panel.activeSwitch(), Qt::LeftButton);
    f.settle();
    EXPECT_FALSE(f.timedPause.status.get().awaitingCamera);
    EXPECT_FALSE(panel.activeSwitch()->isChecked());
    EXPECT_FALSE(panel.notice()->isVisible()) << "switched off: nothing is missing any more";
    EXPECT_EQ(panel.statusLine()->text(), QStringLiteral("Protection désactivée"));
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection désactivée"));
    f.advance(60'000);
    EXPECT_EQ(f.cameraStarts(), starts + 2) << "no try after giving up";
    // The camera free again, the switch starts the filter as always.
    f.cameraTaken(false);
    QTest::mouseClick(panel.activeSwitch(), Qt::LeftButton);
    f.settle();
    EXPECT_TRUE(f.filter.isActive().get());
    EXPECT_TRUE(panel.activeSwitch()->isChecked());
    EXPECT_FALSE(panel.notice()->isVisible());
}

// Durations as the panel and its statistics write them: whole minutes, rounded up for the time left of a
// pause, down for the time protected.
TEST(TrayPanel, DurationsInWholeMinutes) {
    const std::pair<std::int64_t, const char*> timeLeft[] = {
        {14 * 60'000 + 1, "15\u00a0min"},   {0, "0\u00a0min"},
        {59 * 60'000 + 30'000, "1\u00a0h"}, {61 * 60'000, "1\u00a0h\u00a001"},
        {25 * 3'600'000, "25\u00a0h"},
    };
    for (const auto& [ms, text] : timeLeft) {
        EXPECT_EQ(TrayPanel::timeLeftText(ms), QString::fromUtf8(text)) << ms;
    }
    const std::pair<std::int64_t, const char*> protectedTime[] = {
        {0, "0m"},
        {59, "0m"},
        {3599, "59m"},
        {3600, "1h 0m"},
        {90061, "25h 1m"},
        {3600LL * 1000000 + 120, "1000000h 2m"},
        // Read from a damaged settings file.
        {-100, "0m"},
        {-7200, "0m"},
        {std::numeric_limits<std::int64_t>::min(), "0m"},
    };
    for (const auto& [seconds, text] : protectedTime) {
        EXPECT_EQ(StatsView::formatTime(seconds), QString::fromUtf8(text)) << seconds;
    }
    // A counter too long for its card even at half size ends in an ellipsis instead of losing digits at
    // both ends.
    StatCard card(QStringLiteral("0"), QStringLiteral("Temps protégé"), false);
    card.resize(120, 90);
    card.setValue(StatsView::formatTime(3600LL * 1000000 + 120));
    EXPECT_EQ(card.valuePixelSize(), 18);
    EXPECT_TRUE(card.shownValue().startsWith(QStringLiteral("10")) && card.shownValue().endsWith(u'…'))
        << card.shownValue().toStdString();
}

// Without a tray icon's place the panel opens at the pointer, in the lower half of the screen here (the
// desktop scenario "panel" opens it in the upper half). Opening and closing Statistiques and À propos
// resizes it, its size fixed at each (what a tiling compositor floats instead of tiling); with the pointer
// elsewhere each time, it keeps its centre line and its bottom edge. Every stop of the Tab key in À propos
// shows its focus. Counters below zero (a damaged settings file) show as 0. The statistics' reset asked by
// keyboard (the desktop scenario confirms it by mouse and reads the stored counters) asks inside the open
// panel with the focus on "Annuler", which keeps the counters; asked again, Tab reaches its "Réinitialiser",
// which zeroes them. Large counters shrink to stay on one line instead of wrapping; zeroed, they are back at
// full size. The Préférences row, by keyboard, makes the panel give way to the preferences, which a second
// request brings forward instead of duplicating, Escape closes, and a later request builds afresh.
TEST(TrayController, PanelStaysWhereItOpenedResetsByKeyboardAndMakesWayForThePreferences) {
    UiFixture f;
    f.stats.stats = FilterStats{1234567890123LL, 98765, 3600LL * 4321 + 59 * 60, 7};
    const QPoint pointer(400, 560);
    QCursor::setPos(pointer);
    TrayController tray(f.ctx);
    tray.togglePanel();
    QWidget* panel = tray.panelWindow();
    ASSERT_NE(panel, nullptr);
    ASSERT_GT(pointer.y(), panel->screen()->availableGeometry().center().y());
    const auto anchor = [&] { return QPoint(panel->geometry().center().x(), panel->geometry().bottom()); };
    const QPoint opened = anchor();
    const QRect home = panel->geometry();
    EXPECT_LE((opened - pointer).manhattanLength(), 6) << "it opens at the pointer";
    // Of fixed size, which a tiling Wayland compositor floats instead of giving it a tile.
    const auto fixedSize = [](const QWidget* w) {
        return w->minimumSize() == w->size() && w->maximumSize() == w->size();
    };
    EXPECT_TRUE(fixedSize(panel)) << "opened";

    TrayPanel* view = tray.panel();
    EXPECT_EQ(panel->focusWidget(), view->activeSwitch()) << "the keys go to the switch at once";
    const std::pair<const char*, std::function<QAbstractButton*()>> steps[] = {
        {"Statistiques", [&] { return view->statsRow(); }},
        {"Retour", [&] { return view->statsPage()->backButton(); }},
        {"À propos", [&] { return view->aboutRow(); }},
        {"Fermer", [&] { return view->aboutPage()->closeButton(); }},
    };
    int step = 0;
    for (const auto& [name, button] : steps) {
        QCursor::setPos(pointer + QPoint(++step % 2 ? 150 : -150, 120));
        const QSize before = panel->size();
        QTest::mouseClick(button(), Qt::LeftButton);
        QCoreApplication::processEvents();
        ASSERT_TRUE(panel->isVisible()) << name;
        EXPECT_NE(panel->size(), before) << name << ": the content changed size";
        EXPECT_TRUE(fixedSize(panel)) << name << ": the fixed size follows it";
        EXPECT_EQ(anchor(), opened) << name << ": the panel moved";
    }
    EXPECT_EQ(panel->geometry(), home) << "back home, back in place";

    // The keyboard in the sheets: Enter on no button takes the default one (back); Escape steps back one
    // level, the sheet first, then the panel.
    QApplication::setActiveWindow(panel);
    QTest::mouseClick(view->statsRow(), Qt::LeftButton);
    ASSERT_NE(view->statsPage(), nullptr);
    EXPECT_EQ(panel->focusWidget(), view->statsPage()->backButton());
    QTest::keyClick(view->statsPage()->alertsCard(), Qt::Key_Return);
    EXPECT_EQ(view->statsPage(), nullptr) << "Enter goes back";
    QTest::mouseClick(view->aboutRow(), Qt::LeftButton);
    // Round "À propos" with the Tab key from "Fermer": every stop shows that it has the focus.
    AboutView* about = view->aboutPage();
    ASSERT_TRUE(about->closeButton()->hasFocus());
    std::vector<QWidget*> stops;
    for (QWidget* focused = about->closeButton(); stops.size() < 8;) {
        QTest::keyClick(focused, Qt::Key_Tab);
        focused = QApplication::focusWidget();
        ASSERT_TRUE(focused && about->isAncestorOf(focused)) << "stop " << stops.size() + 1;
        if (focused == about->closeButton()) {
            break;
        }
        stops.push_back(focused);
    }
    EXPECT_LT(stops.size(), 8u) << "the Tab key comes round to Fermer";
    for (QWidget* stop : stops) {
        const QRect area = rectIn(stop, about).adjusted(-3, -3, 3, 3);
        stop->setFocus(Qt::TabFocusReason);
        const QImage shown = about->grab().toImage().copy(area);
        stop->clearFocus();
        EXPECT_NE(shown, about->grab().toImage().copy(area))
            << stop->metaObject()->className() << " shows no focus";
    }
    about->closeButton()->setFocus();
    QTest::keyClick(view->aboutPage()->closeButton(), Qt::Key_Escape);
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(view->aboutPage(), nullptr) << "Escape closes the sheet, not the panel";
    EXPECT_EQ(panel->focusWidget(), view->aboutRow()) << "back on the row that opened it";

    QTest::mouseClick(view->statsRow(), Qt::LeftButton);
    StatsView* stats = view->statsPage();
    ASSERT_NE(stats, nullptr);
    const auto shownCounters = [&] {
        return QStringList{stats->alertsCard()->value(), stats->sessionsCard()->value(),
                           stats->locksCard()->value(), stats->timeCard()->value()};
    };
    // A damaged settings file: what was read stays as it is, and nothing shows below zero.
    const FilterStats large = f.stats.stats.get();
    for (const auto& [key, value] : {std::pair{"stats_alert_count", -3},
                                     {"stats_session_count", 2},
                                     {"stats_total_active_seconds", -100},
                                     {"stats_lock_count", -1}}) {
        f.store.setInteger(key, value);
    }
    f.stats.stats = StatsRepository(f.store).stats.get();
    ASSERT_EQ(f.stats.stats.get().alertCount, -3);
    EXPECT_EQ(shownCounters(), QStringList({"0", "2", "0", "0m"}));
    f.stats.stats = large;
    for (const bool confirm : {false, true}) {
        stats->resetButton()->setFocus();
        QTest::keyClick(stats->resetButton(), Qt::Key_Space);
        EXPECT_EQ(stats->resetQuestion()->text(), "Remettre toutes les statistiques à zéro\u202f?");
        EXPECT_FALSE(stats->resetButton()->isVisible());
        EXPECT_TRUE(stats->cancelResetButton()->hasFocus()) << "the harmless answer has the focus";
        if (confirm) {
            QTest::keyClick(stats->cancelResetButton(), Qt::Key_Tab);
        }
        ASSERT_EQ(stats->confirmResetButton()->hasFocus(), confirm);
        // Confirmed with Enter on "Réinitialiser"; Escape answers no.
        QTest::keyClick(confirm ? stats->confirmResetButton() : stats->cancelResetButton(),
                        confirm ? Qt::Key_Return : Qt::Key_Escape);
        f.executor.runAll();
        QCoreApplication::processEvents();

        ASSERT_TRUE(tray.panelWindow() == panel && panel->isVisible()) << confirm;
        EXPECT_EQ(view->statsPage(), stats) << "the answer returns to the statistics";
        EXPECT_FALSE(stats->resetConfirmation()->isVisible()) << confirm;
        EXPECT_TRUE(stats->resetButton()->isVisible()) << confirm;
        EXPECT_EQ(shownCounters(), confirm ? QStringList({"0", "0", "0", "0m"})
                                           : QStringList({"1234567890123", "98765", "7", "4321h 59m"}));
        for (const StatCard* card :
             {stats->alertsCard(), stats->sessionsCard(), stats->locksCard(), stats->timeCard()}) {
            EXPECT_EQ(card->shownValue(), card->value()) << "drawn whole: " << card->label().toStdString();
            EXPECT_TRUE(card->findChild<QLabel*>(QStringLiteral("statValue"))
                            ->accessibleName()
                            .endsWith(card->value()));
        }
        const int alertsSize = stats->alertsCard()->valuePixelSize();
        EXPECT_TRUE(confirm ? alertsSize == 48 : alertsSize >= 24 && alertsSize < 48) << alertsSize;
        EXPECT_EQ(stats->sessionsCard()->valuePixelSize() == 36, confirm);
    }
    QTest::mouseClick(stats->backButton(), Qt::LeftButton);

    view->preferencesRow()->setFocus();
    QTest::keyClick(view->preferencesRow(), Qt::Key_Return);
    QTest::qWait(300); // the row's click animation
    QPointer<QWidget> first = tray.preferencesWindow();
    ASSERT_FALSE(first.isNull()) << "Enter activates a panel row";
    EXPECT_FALSE(tray.panelWindow() && tray.panelWindow()->isVisible()) << "the panel closes";
    const Qt::WindowFlags flags = first->windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)) << "a fixed size";
    EXPECT_TRUE(fixedSize(first)) << "floated by a tiling compositor";
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    f.appSignals.postOpenPreferences();
    EXPECT_EQ(tray.preferencesWindow(), first.data());
    QApplication::setActiveWindow(first);
    ASSERT_TRUE(QTest::qWaitForWindowActive(first));
    QTest::keyClick(first->focusWidget() ? first->focusWidget() : first.data(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "Escape closes it, and a closed window is not kept for reuse";
    tray.openPreferences();
    EXPECT_TRUE(tray.preferencesWindow() && tray.preferencesWindow()->isVisible()) << "built afresh";
}

// The point a tray host gives with a click can be anything a client sends: the panel stays on the screen, at
// the edge the point is beyond.
TEST(TrayController, APanelAskedBeyondTheScreenOpensAtItsEdge) {
    UiFixture f;
    TrayController tray(f.ctx);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    const std::pair<QPoint, QPoint> cases[] = {{{least, least}, {area.left(), area.top()}},
                                               {{most, least}, {area.right(), area.top()}},
                                               {{least, most}, {area.left(), area.bottom()}},
                                               {{most, most}, {area.right(), area.bottom()}}};
    for (const auto& [at, corner] : cases) {
        tray.openPanel(at);
        const QRect panel = tray.panelWindow()->geometry();
        EXPECT_TRUE(area.contains(panel)) << at.x() << "," << at.y();
        EXPECT_TRUE(panel.left() == corner.x() || panel.right() == corner.x()) << at.x() << "," << at.y();
        EXPECT_TRUE(panel.top() == corner.y() || panel.bottom() == corner.y()) << at.x() << "," << at.y();
        tray.closePanel();
    }
}

// The preferences open in the middle of the screen with their title bar on it, also on a screen smaller than
// they are: the test runs again at a scale of 2 (ui_scale_2), where the offscreen screen is 400x300. Where a
// window goes, for a few screens.
TEST(TrayController, PreferencesOpenInsideTheScreen) {
    struct Case {
        QRect area;
        QSize frame;
        QPoint at;
    };
    const Case cases[] = {
        {{0, 0, 1280, 800}, {560, 440}, {360, 180}},
        // 1280x800 at a scale of 2, under a top bar of 32 px: too low for the onboarding.
        {{0, 32, 640, 368}, {440, 420}, {100, 32}},
        // A second screen, smaller than the window both ways.
        {{1280, 0, 400, 300}, {560, 440}, {1280, 0}},
        {{-400, 0, 400, 700}, {560, 440}, {-400, 130}},
    };
    for (const auto& [area, frame, at] : cases) {
        const QPoint placed = widgets::centredInside(area, frame);
        EXPECT_EQ(std::pair(placed.x(), placed.y()), std::pair(at.x(), at.y()))
            << area.x() << "," << area.y();
    }
    UiFixture f;
    TrayController tray(f.ctx);
    tray.openPreferences();
    ASSERT_NE(tray.preferencesWindow(), nullptr);
    EXPECT_TRUE(openedInsideItsScreen(tray.preferencesWindow()));
}

// On screen the logo opens, then blinks every 5 s; calibrating, it pulses and never blinks. Hidden, it
// leaves no timer behind, and it comes back in the mode set meanwhile.
TEST(AnimatedEyeLogo, BlinksOrPulsesOnlyWhileOnScreen) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 64, true, false, AnimatedEyeLogo::Mode::idle);
    EXPECT_EQ(logo.params().openAmount, 0.0);
    logo.show();
    f.executor.advanceBy(2500 + 110);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9) << "the first blink";
    f.executor.advanceBy(5000 - 16);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0) << "open until the next blink";
    f.executor.advanceBy(16 + 110);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9) << "the second blink";
    logo.hide();
    f.executor.advanceBy(20000);
    EXPECT_EQ(f.executor.pendingCount(), 0u) << "a hidden logo leaves no timer behind";

    logo.setMode(AnimatedEyeLogo::Mode::calibrating);
    logo.show();
    double minOpen = 1.0, minPulse = 2.0, maxPulse = 0.0;
    for (int t = 0; t < 12000; t += 16) {
        f.executor.advanceBy(16);
        minOpen = std::min(minOpen, logo.params().openAmount);
        minPulse = std::min(minPulse, logo.params().pulseScale);
        maxPulse = std::max(maxPulse, logo.params().pulseScale);
    }
    EXPECT_GT(minOpen, 0.99) << "no blink while calibrating";
    EXPECT_NEAR(maxPulse, AnimatedEyeLogo::pulseHigh, 2e-3);
    EXPECT_NEAR(minPulse, AnimatedEyeLogo::pulseLow, 2e-3);
}
