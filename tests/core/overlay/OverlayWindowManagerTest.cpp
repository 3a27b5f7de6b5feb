#include "core/overlay/OverlayWindowManager.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace tavrine;
using tavrine::testing::RecordingWindowSystem;

namespace {

ScreenInfo screen(ScreenId id, int x, int w = 1280, int h = 800) {
    return {id, {x, 0, w, h}};
}

class OverlayWindowManagerTest : public ::testing::Test {
  protected:
    RecordingWindowSystem ws;
    OverlayWindowManager manager{ws};
};

} // namespace

TEST_F(OverlayWindowManagerTest, ASecondShowCoversEachScreenOnce) {
    ws.connected = {screen(1, 0), screen(2, 1280)};
    manager.show();
    manager.show();
    EXPECT_EQ(ws.log, (std::vector<std::string>{"create 1", "front 1", "create 2", "front 2"}));
}

TEST_F(OverlayWindowManagerTest, ScreenConnectedWhileShowingGetsAWindowWithTheCurrentValues) {
    ws.connected = {screen(1, 0)};
    manager.show();
    manager.setAlpha(0.55f);
    manager.setAlertMode(true);
    manager.updateMatrixConfig(false, 140, 0x00FF0000, 0.3f);
    ws.log.clear();

    ws.connected.push_back(screen(2, 1280));
    ws.announce();

    ASSERT_EQ(ws.log, (std::vector<std::string>{"create 2", "front 2"}));
    const auto& v = ws.windows.back()->values;
    EXPECT_FLOAT_EQ(v.alpha, 0.55f);
    EXPECT_TRUE(v.alert);
    EXPECT_FALSE(v.matrixEnabled);
    EXPECT_EQ(v.distanceCm, 140);
    EXPECT_EQ(v.colorArgb, 0x00FF0000u);
    EXPECT_FLOAT_EQ(v.stripeAlpha, 0.3f);
    EXPECT_EQ(manager.windowCount(), 2u);
}

TEST_F(OverlayWindowManagerTest, ScreenDisconnectedWhileShowingLosesOnlyItsWindow) {
    ws.connected = {screen(1, 0), screen(2, 1280), screen(3, 2560)};
    manager.show();
    ws.log.clear();

    ws.connected.erase(ws.connected.begin() + 1);
    ws.announce();

    EXPECT_EQ(ws.log, (std::vector<std::string>{"out 2", "destroy 2"}));
    EXPECT_EQ(manager.windowCount(), 2u);

    // The same screen coming back is covered again by a new window.
    ws.log.clear();
    ws.connected.push_back(screen(2, 1280));
    ws.announce();
    EXPECT_EQ(ws.log, (std::vector<std::string>{"create 2", "front 2"}));
}

TEST_F(OverlayWindowManagerTest, ScreensChangedWhileHiddenAreNotWatchedAndTheNextShowCoversThePresentOnes) {
    ws.connected = {screen(1, 0), screen(2, 1280)};
    manager.show();
    manager.hide();
    ws.connected = {screen(2, 0), screen(5, 1280)};
    ws.announce();
    ws.log.clear();

    manager.show();
    EXPECT_EQ(ws.log, (std::vector<std::string>{"create 2", "front 2", "create 5", "front 5"}));
    EXPECT_EQ(ws.observeCalls, 2);
    EXPECT_EQ(ws.changes.subscriberCount(), 1u);
}

TEST_F(OverlayWindowManagerTest, ValuesSetWhileHiddenSurviveHideAndShow) {
    ws.connected = {screen(1, 0)};
    manager.setAlpha(0.6f);
    manager.setAlertMode(true);
    manager.updateMatrixConfig(true, 200, 0xFF112233, 0.5f);
    manager.show();
    manager.hide();
    manager.show();

    EXPECT_FLOAT_EQ(manager.currentAlpha.get(), 0.6f);
    EXPECT_TRUE(manager.isAlertMode.get());
    EXPECT_EQ(manager.matrixDistanceCm.get(), 200);
    const auto& v = ws.windows.back()->values;
    EXPECT_FLOAT_EQ(v.alpha, 0.6f);
    EXPECT_TRUE(v.alert);
    EXPECT_EQ(v.distanceCm, 200);
    EXPECT_EQ(v.colorArgb, 0xFF112233u);
}

TEST_F(OverlayWindowManagerTest, EmptyScreenListStillShowsAndTheFirstScreenAnnouncedIsCovered) {
    ws.connected.clear();
    manager.show();
    EXPECT_TRUE(manager.isShowing.get());
    EXPECT_EQ(manager.windowCount(), 0u);
    ws.connected = {screen(7, 0)};
    ws.announce();
    EXPECT_EQ(ws.log, (std::vector<std::string>{"create 7", "front 7"}));
}

TEST_F(OverlayWindowManagerTest, ResizedScreenKeepsItsWindowWhichFollowsTheNewFrame) {
    ws.connected = {screen(1, 0), screen(2, 1280)};
    manager.show();
    ws.log.clear();

    // Same screen objects; the second one switches to a larger mode. An unchanged screen is left alone.
    ws.connected[1].frame = {1280, 0, 1920, 1080};
    ws.announce();
    EXPECT_EQ(ws.log, (std::vector<std::string>{"frame 2 1920x1080"}));
    EXPECT_EQ(ws.windows[1]->frame, (ScreenRect{1280, 0, 1920, 1080}));
    EXPECT_EQ(manager.windowCount(), 2u);

    ws.log.clear();
    ws.announce();
    EXPECT_TRUE(ws.log.empty());
}

TEST(OverlayWindowManagerAlpha, IsCappedAtPointEightWithNoLowerBound) {
    RecordingWindowSystem ws;
    OverlayWindowManager m(ws);
    const std::vector<std::pair<float, float>> cases{{1.0f, 0.8f},       {0.8f, 0.8f}, {0.35f, 0.35f},
                                                     {0.8000001f, 0.8f}, {0.0f, 0.0f}, {-0.2f, -0.2f}};
    for (auto [in, out] : cases) {
        m.setAlpha(in);
        EXPECT_FLOAT_EQ(m.currentAlpha.get(), out) << "setAlpha(" << in << ")";
    }
}
