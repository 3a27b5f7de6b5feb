#include "core/overlay/OverlayWindowManager.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tavrine {
namespace {

ScreenInfo screen(ScreenId id, int x, int width = 1280, int height = 800, int y = 0) {
    return {id, {x, y, width, height}};
}

// The screens' life in one walk: each step shows, hides or changes the connected screens and checks the
// window-system calls it caused, in any order. Values set before survive the hides and shows; the alpha is
// capped at 0.8, with no lower bound.
TEST(OverlayWindowManager, CoversEachConnectedScreenWithOneWindowWhileShowingAndKeepsItsValues) {
    testing::RecordingWindowSystem ws;
    OverlayWindowManager manager{ws};
    manager.setAlpha(0.6f);
    manager.setAlertMode(true);
    manager.updateMatrixConfig(false, 200, 0xFF112233, 0.5f);
    const auto show = [&] { manager.show(); };
    const auto connect = [&](std::vector<ScreenInfo> screens) {
        return [&ws, screens] {
            ws.connected = screens;
            ws.changes.notify();
        };
    };
    const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> steps = {
        {connect({}), {}},
        {show, {}},
        {connect({screen(7, 0)}), {"create 7", "front 7"}},
        {show, {}},
        {connect({screen(7, 0), screen(1, 1280), screen(2, 2560)}),
         {"create 1", "create 2", "front 1", "front 2"}},
        {connect({screen(7, 0), screen(2, 2560)}), {"destroy 1", "out 1"}},
        {connect({screen(7, 0), screen(1, 1280), screen(2, 2560)}), {"create 1", "front 1"}},
        // A new mode: the window follows it, and an unchanged screen is left alone.
        {connect({screen(7, 0), screen(1, 1280, 1920, 1080), screen(2, 3200)}),
         {"frame 1 1280,0 1920x1080", "frame 2 3200,0 1280x800"}},
        {connect({screen(7, 0), screen(1, 1280, 1920, 1080), screen(2, 3200)}), {}},
        {[&] { manager.hide(); }, {"destroy 1", "destroy 2", "destroy 7", "out 1", "out 2", "out 7"}},
        // Not watched while hidden; the next show covers the screens present then.
        {connect({screen(2, 0), screen(5, 1280)}), {}},
        {show, {"create 2", "create 5", "front 2", "front 5"}},
        // A mirror of screen 2 and a projector shown inside it are covered by its window already: a second
        // window would double the stripes. Once screen 2 leaves, its mirror gets a window of its own.
        {connect({screen(2, 0), screen(5, 1280), screen(6, 0), screen(8, 100, 1024, 768, 20)}), {}},
        {connect({screen(5, 1280), screen(6, 0), screen(8, 100, 1024, 768, 20)}),
         {"create 6", "destroy 2", "front 6", "out 2"}},
        // Screens that only overlap each keep their window.
        {connect({screen(5, 1280), screen(6, 0), screen(9, 1200, 1280, 800, 400)}), {"create 9", "front 9"}},
        // Windows made for one output each (layer shell, where outputs may all say they are at 0, 0):
        // every output gets its own, wherever it says it is.
        {[&] { ws.byArea = false; }, {}},
        {connect({screen(5, 0), screen(6, 0), screen(8, 0, 1024, 768)}),
         {"create 8", "destroy 9", "frame 5 0,0 1280x800", "front 8", "out 9"}},
        // The main screen only, the first listed: another one listed first (made primary) takes the window.
        // Hidden and shown again, still that one alone; all screens again at once.
        {[&] { manager.setCoversAllScreens(false); }, {"destroy 6", "destroy 8", "out 6", "out 8"}},
        {connect({screen(8, 0), screen(5, 0), screen(6, 0)}), {"create 8", "destroy 5", "front 8", "out 5"}},
        {connect({screen(8, 0, 1920, 1080), screen(5, 0), screen(6, 0)}), {"frame 8 0,0 1920x1080"}},
        {[&] { manager.hide(); }, {"destroy 8", "out 8"}},
        {[&] {
             manager.setCoversAllScreens(true);
             manager.setCoversAllScreens(false);
         },
         {}},
        {show, {"create 8", "front 8"}},
        {connect({}), {"destroy 8", "out 8"}},
        {connect({screen(6, 0), screen(5, 0)}), {"create 6", "front 6"}},
        {[&] { manager.setCoversAllScreens(false); }, {}},
        {[&] { manager.setCoversAllScreens(true); }, {"create 5", "front 5"}},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        ws.log.clear();
        steps[i].first();
        std::ranges::sort(ws.log);
        EXPECT_EQ(ws.log, steps[i].second) << "step " << i;
    }
    EXPECT_EQ(std::tuple(manager.currentAlpha.get(), manager.isAlertMode.get(), manager.matrixEnabled.get(),
                         manager.matrixDistanceCm.get(), manager.matrixColorArgb.get(),
                         manager.matrixStripeAlpha.get()),
              std::tuple(0.6f, true, false, std::int64_t{200}, std::uint64_t{0xFF112233}, 0.5f));
    for (auto [in, out] : {std::pair{1.0f, 0.8f}, {0.8000001f, 0.8f}, {0.35f, 0.35f}, {-0.2f, -0.2f}}) {
        manager.setAlpha(in);
        EXPECT_FLOAT_EQ(manager.currentAlpha.get(), out) << "setAlpha(" << in << ")";
    }
}

} // namespace
} // namespace tavrine
