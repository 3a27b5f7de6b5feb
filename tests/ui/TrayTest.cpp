#include "UiFixture.h"

#include "ui/AppDelegate.h"
#include "ui/AppSignals.h"
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
    AppSignals::instance().postOpenPreferences();
    QPointer<QWidget> first = tray.preferencesWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Préférences Tavrine"));
    EXPECT_EQ(first->size(), QSize(560, 440));
    AppSignals::instance().postOpenPreferences();
    EXPECT_EQ(tray.preferencesWindow(), first.data());
    int visiblePrefs = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        visiblePrefs += w->objectName() == QLatin1String("PreferencesWindow") && w->isVisible() ? 1 : 0;
    }
    EXPECT_EQ(visiblePrefs, 1);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "a closed window is not kept for reuse";
    tray.openPreferences();
    ASSERT_NE(tray.preferencesWindow(), nullptr);
    EXPECT_TRUE(tray.preferencesWindow()->isVisible());
}
