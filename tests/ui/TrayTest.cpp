#include "UiFixture.h"

#include "ui/panels/AboutView.h"
#include "ui/panels/PanelRow.h"
#include "ui/panels/PreferencesView.h"
#include "ui/panels/StatsView.h"
#include "ui/panels/TrayPanel.h"
#include "ui/shared/StatCard.h"
#include "ui/tray/TrayController.h"
#include "ui/tray/TrayIcon.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;
using IconState = TrayIcon::IconState;

TEST(TrayController, IconFollowsTheStateOneTurnLater) {
    UiFixture f;
    TrayController tray(f.ctx);
    EXPECT_EQ(tray.iconState(), IconState::inactive);
    f.turn();
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection désactivée"));
    f.filter.state = FilterState::alert();
    EXPECT_EQ(tray.iconState(), IconState::inactive) << "not in the same turn as the change";
    f.turn();
    EXPECT_EQ(tray.iconState(), IconState::alert);
    EXPECT_EQ(tray.iconTint(), TrayIcon::systemRed());
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Regard indiscret détecté"));
    f.filter.state = FilterState::autoPaused(PauseReason::lowBattery());
    f.turn();
    EXPECT_EQ(tray.iconState(), IconState::paused);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — En pause"));
    // A missing camera looks like a pause on the eye: the tooltip tells them apart.
    f.filter.state = FilterState::cameraBusy(5000);
    f.turn();
    EXPECT_EQ(tray.iconState(), IconState::paused);
    EXPECT_EQ(tray.toolTip(),
              QString::fromUtf8("Tavrine — Caméra indisponible\nBranchez une caméra ou fermez "
                                "l’application qui l’utilise, puis réactivez la protection."));
    // A start that found no camera leaves the filter off: the tooltip says why and what to do.
    f.filter.state = FilterState::inactive();
    f.filter.cameraWorks = false;
    f.filter.start({});
    f.turn();
    f.turn();
    EXPECT_EQ(tray.toolTip(),
              QString::fromUtf8("Tavrine — Caméra indisponible\nBranchez une caméra ou fermez "
                                "l’application qui l’utilise, puis réactivez la protection."));
    f.filter.cameraWorks = true;
    f.filter.state = FilterState::nominal(4);
    f.filter.active = true;
    f.turn();
    EXPECT_EQ(tray.iconState(), IconState::nominal);
    EXPECT_EQ(tray.iconTint(), TrayIcon::labelColor());
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection active"));
    f.filter.state = FilterState::inactive();
    f.turn();
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection désactivée"));
}

TEST(TrayController, FaceAnalysisThatCannotRunShowsInTheToolTipAndTheOpenedPanel) {
    UiFixture f;
    TrayController tray(f.ctx);
    f.turn();
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection désactivée"));
    f.filter.blind = true;
    f.turn();
    EXPECT_EQ(tray.toolTip(),
              QString::fromUtf8("Tavrine\u00a0: analyse du visage indisponible, la protection est "
                                "arrêtée. Réinstallez Tavrine pour la rétablir."));
    EXPECT_EQ(tray.iconState(), IconState::inactive) << "the icon claims no protection";
    tray.openPanel();
    ASSERT_NE(tray.panel(), nullptr);
    EXPECT_EQ(tray.panel()->statusLine()->text(),
              QString::fromUtf8("Analyse du visage indisponible\nRéinstallez Tavrine"));
    f.filter.blind = false;
    f.turn();
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection désactivée"));
    EXPECT_EQ(tray.panel()->statusLine()->text(), QStringLiteral("Protection désactivée"));
}

TEST(TrayController, WithoutATrayHostThereIsNoIconButThePanelStillOpens) {
    UiFixture f;
    TrayController tray(f.ctx);
    EXPECT_EQ(tray.trayIcon(), nullptr);
    tray.openPanel();
    ASSERT_NE(tray.panelWindow(), nullptr);
    EXPECT_TRUE(tray.panelWindow()->isVisible());
    EXPECT_TRUE(tray.panelWindow()->windowFlags().testFlag(Qt::Popup));
}

TEST(TrayController, PreferencesAreBroughtForwardNotDuplicatedAndRebuiltAfterClosing) {
    UiFixture f;
    TrayController tray(f.ctx);
    tray.openPanel();
    // From the panel's row, by keyboard: the panel makes way for the window.
    tray.panel()->preferencesRow()->setFocus();
    QTest::keyClick(tray.panel()->preferencesRow(), Qt::Key_Return);
    QTest::qWait(300); // the row's click animation
    QPointer<QWidget> first = tray.preferencesWindow();
    ASSERT_FALSE(first.isNull()) << "Enter activates a panel row";
    EXPECT_FALSE(tray.panelWindow() && tray.panelWindow()->isVisible()) << "the panel closes";
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Préférences Tavrine"));
    EXPECT_EQ(first->size(), QSize(560, 440));
    const Qt::WindowFlags flags = first->windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)) << "a fixed size";
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    f.appSignals.postOpenPreferences();
    EXPECT_EQ(tray.preferencesWindow(), first.data());
    int visiblePrefs = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        visiblePrefs += w->objectName() == QLatin1String("PreferencesWindow") && w->isVisible() ? 1 : 0;
    }
    EXPECT_EQ(visiblePrefs, 1);
    QApplication::setActiveWindow(first);
    ASSERT_TRUE(QTest::qWaitForWindowActive(first));
    QTest::keyClick(first->focusWidget() ? first->focusWidget() : first.data(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "Escape closes it, and a closed window is not kept for reuse";
    tray.openPreferences();
    ASSERT_NE(tray.preferencesWindow(), nullptr);
    EXPECT_TRUE(tray.preferencesWindow()->isVisible());
}

TEST(TrayController, ATimedPauseFromThePanelShowsInTheTooltipAndIconUntilResumed) {
    UiFixture f;
    f.filter.start({});
    f.turn();
    TrayController tray(f.ctx);
    f.turn();
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection active"));
    EXPECT_EQ(tray.iconState(), IconState::nominal);
    tray.openPanel();
    ASSERT_NE(tray.panel(), nullptr);
    tray.panel()->pauseMenu()->actions().at(0)->trigger(); // "Suspendre 15 min"
    f.turn();
    EXPECT_EQ(tray.toolTip(), QString::fromUtf8("Tavrine\u00a0: en pause, reprise dans 15\u00a0min"));
    EXPECT_EQ(tray.iconState(), IconState::paused) << "a pause, not the filter switched off";
    f.executor.advanceBy(60'000);
    EXPECT_EQ(tray.toolTip(), QString::fromUtf8("Tavrine\u00a0: en pause, reprise dans 14\u00a0min"))
        << "the time left follows the clock";
    ASSERT_TRUE(tray.panel()->resumeRow()->isVisible());
    QTest::mouseClick(tray.panel()->resumeRow(), Qt::LeftButton);
    f.turn();
    f.turn();
    EXPECT_EQ(f.filter.starts, 2);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tavrine — Protection active"));
    EXPECT_EQ(tray.iconState(), IconState::nominal);
    EXPECT_FALSE(tray.panel()->resumeRow()->isVisible());
}

// The reset asked from the panel opened at the tray: the question stays inside the open panel, and only
// "Réinitialiser" zeroes the stored counters. By mouse (also the desktop scenario "panel"), or by keyboard:
// Space on "Réinitialiser" asks with the focus on "Annuler", Tab reaches the question's "Réinitialiser".
class PanelStatsReset : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(PanelStatsReset, AnswerKeepsThePanelOpenAndDecidesTheStoredCounters) {
    const auto [confirm, keyboard] = GetParam();
    UiFixture f;
    f.countOneOfEach();
    TrayController tray(f.ctx);
    tray.togglePanel();
    ASSERT_NE(tray.panel(), nullptr);
    QTest::mouseClick(tray.panel()->statsRow(), Qt::LeftButton);
    StatsView* stats = tray.panel()->statsPage();
    ASSERT_NE(stats, nullptr);
    if (keyboard) {
        stats->resetButton()->setFocus();
        QTest::keyClick(stats->resetButton(), Qt::Key_Space);
    } else {
        QTest::mouseClick(stats->resetButton(), Qt::LeftButton);
    }
    QCoreApplication::processEvents();

    QWidget* question = stats->resetConfirmation();
    ASSERT_TRUE(tray.panelWindow() && tray.panelWindow()->isVisible()) << "asking must not close the panel";
    EXPECT_TRUE(question->isVisible());
    EXPECT_EQ(question->window(), tray.panelWindow()) << "the question is part of the panel";
    EXPECT_EQ(stats->resetQuestion()->text(),
              QString::fromUtf8("Remettre toutes les statistiques à zéro\u202f?"));
    EXPECT_EQ(stats->cancelResetButton()->text(), QStringLiteral("Annuler"));
    EXPECT_EQ(stats->confirmResetButton()->text(), QStringLiteral("Réinitialiser"));
    EXPECT_FALSE(stats->resetButton()->isVisible());
    grab(*tray.panelWindow(), QStringLiteral("panel-stats-reset-question"));

    if (keyboard) {
        EXPECT_TRUE(stats->cancelResetButton()->hasFocus()) << "the harmless answer has the focus";
        if (confirm) {
            QTest::keyClick(stats->cancelResetButton(), Qt::Key_Tab);
        }
        ASSERT_TRUE(stats->confirmResetButton()->hasFocus() == confirm);
        QTest::keyClick(confirm ? stats->confirmResetButton() : stats->cancelResetButton(), Qt::Key_Space);
    } else {
        QTest::mouseClick(confirm ? stats->confirmResetButton() : stats->cancelResetButton(), Qt::LeftButton);
    }
    f.executor.runAll();
    QCoreApplication::processEvents();
    ASSERT_TRUE(tray.panelWindow() && tray.panelWindow()->isVisible());
    EXPECT_EQ(tray.panel()->statsPage(), stats) << "the answer returns to the statistics";
    EXPECT_FALSE(question->isVisible());
    EXPECT_TRUE(stats->resetButton()->isVisible());
    const int expected = confirm ? 0 : 1;
    for (const char* key : {"stats_alert_count", "stats_session_count", "stats_lock_count"}) {
        EXPECT_EQ(f.store.readInt(key), expected) << key;
    }
    EXPECT_EQ(f.store.readInt("stats_total_active_seconds"), confirm ? 0 : 4000);
    EXPECT_EQ(stats->alertsCard()->value(), QString::number(expected));
}

INSTANTIATE_TEST_SUITE_P(CancelOrConfirm, PanelStatsReset,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(true)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Confirm" : "Cancel") +
                                    (std::get<1>(info.param) ? "ByKeyboard" : "ByMouse");
                         });

// Readable failures for points.
void PrintTo(const QPoint& p, std::ostream* os) {
    *os << "(" << p.x() << ", " << p.y() << ")";
}

// Without a tray icon's place the panel opens at the pointer. Opening and closing Statistiques and
// À propos resizes it; with the pointer elsewhere each time, it keeps its centre line and the edge
// facing the anchor (the top when it opened in the upper half of the screen, the bottom in the lower; the
// desktop scenario "panel" opens it in the upper half).
class PanelAnchor : public ::testing::TestWithParam<QPoint> {};

TEST_P(PanelAnchor, StaysWhereItOpenedWhileItsContentChanges) {
    UiFixture f;
    QCursor::setPos(GetParam());
    TrayController tray(f.ctx);
    tray.togglePanel();
    QWidget* panel = tray.panelWindow();
    ASSERT_NE(panel, nullptr);
    const bool below = GetParam().y() < panel->screen()->availableGeometry().center().y();
    const auto anchoredEdge = [&] {
        const QRect g = panel->geometry();
        return QPoint(g.left() + g.width() / 2, below ? g.top() : g.bottom());
    };
    const QPoint opened = anchoredEdge();
    const QRect home = panel->geometry();
    EXPECT_LE(std::abs(opened.x() - GetParam().x()), 1);
    EXPECT_LE(std::abs(opened.y() - GetParam().y()), 5) << "it opens at the pointer";

    TrayPanel* view = tray.panel();
    const std::vector<std::pair<const char*, std::function<QAbstractButton*()>>> steps{
        {"Statistiques", [&] { return view->statsRow(); }},
        {"Retour", [&] { return view->statsPage()->backButton(); }},
        {"À propos", [&] { return view->aboutRow(); }},
        {"Fermer", [&] { return view->aboutPage()->closeButton(); }},
    };
    int step = 0;
    for (const auto& [name, button] : steps) {
        ++step;
        QCursor::setPos(GetParam() + QPoint(step % 2 ? 150 : -150, below ? 120 : -120));
        const QSize before = panel->size();
        QTest::mouseClick(button(), Qt::LeftButton);
        QCoreApplication::processEvents();
        ASSERT_TRUE(panel->isVisible()) << name;
        EXPECT_NE(panel->size(), before) << name << ": the content changed size";
        EXPECT_EQ(anchoredEdge(), opened) << name << ": the panel moved";
    }
    EXPECT_EQ(panel->geometry(), home) << "back home, back in place";
}

INSTANTIATE_TEST_SUITE_P(LowerHalf, PanelAnchor, ::testing::Values(QPoint(400, 560)),
                         [](const auto& info) { return info.param.y() < 300 ? "Upper" : "Lower"; });
