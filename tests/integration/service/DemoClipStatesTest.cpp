// The demonstration clip as a user without a webcam sees it: the file source plays it (in real time, as
// the application does), every frame goes through the real face models and analyzer into the running
// filter, and virtual time advances by one frame interval per frame, so the states are judged against
// the clip's own time line:
//   0-6 s facing, 6-7 s turning away, 7-12 s looking away, 12-13 s turning back, 13-16 s facing,
//   16-17 s a second person comes in, 17-21 s two faces, 21-22 s the second person leaves, 22-26 s facing.
#include "core/fakes/ServiceRig.h"
#include "core/service/AlertAnnouncer.h"
#include "platform/linux/capture/FrameSourceFactory.h"
#include "platform/linux/facemodel/BlazeFaceDetector.h"
#include "platform/linux/facemodel/FaceModelLoader.h"
#include "platform/linux/facemodel/FaceModelPaths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tavrine {
namespace {

using testing::Rig;
using Kind = FilterState::Kind;

constexpr std::int64_t kFrameMs = 100; // the clip has 10 frames a second, the analyzer takes 10
constexpr std::size_t kClipFrames = 260;

struct Change {
    std::int64_t atMs; // clip time of the frame that caused it
    FilterState state;
};

std::string describe(const std::vector<Change>& changes) {
    std::string text;
    for (const Change& c : changes) {
        text += std::to_string(c.atMs) + " ms " + toString(c.state) + "; ";
    }
    return text;
}

// Frames of the clip in the order the file source delivers them, one playthrough.
class ClipFrames {
  public:
    explicit ClipFrames(std::shared_ptr<FrameSource> source) : source_(std::move(source)) {}
    ~ClipFrames() { source_->stop(); }

    std::optional<CameraError> start() {
        return source_->start([this](const VideoFrame& frame) {
            std::lock_guard lock(mutex_);
            if (delivered_ < kClipFrames) { // the file source loops: keep the first playthrough
                frames_.push_back(frame);
                ++delivered_;
                ready_.notify_all();
            }
        });
    }
    // The next frame, or nothing when the source delivered none for a while.
    std::optional<VideoFrame> next() {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_for(lock, std::chrono::seconds(10), [this] { return !frames_.empty(); })) {
            return std::nullopt;
        }
        VideoFrame frame = frames_.front();
        frames_.pop_front();
        return frame;
    }

  private:
    std::shared_ptr<FrameSource> source_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<VideoFrame> frames_;
    std::size_t delivered_ = 0;
};

TEST(DemoClipStates, FacingLookingAwayAndAnOnlookerWalkTheFilterThroughItsStates) {
    if (demoClipPath().empty()) {
        GTEST_SKIP() << "the demonstration clip is not in this tree (data/demo/tavrine-demo.webm)";
    }
    BlazeFaceDetector::Loaded loaded =
        BlazeFaceDetector::load(FaceModelPaths::locate(), FaceModelLoader::liveOptions());
    if (!loaded.detector) {
        GTEST_SKIP() << "face models unavailable (scripts/fetch-models.sh): " << loaded.error;
    }

    Rig r;
    r.analysisDetector = loaded.detector;
    ASSERT_TRUE(r.start());
    ASSERT_EQ(r.state(), FilterState::nominal(3));

    std::vector<Change> changes;
    std::int64_t clipMs = 0;
    auto sub = r.svc().fsmState.subscribe([&](const FilterState& s) { changes.push_back({clipMs, s}); });
    changes.clear(); // the current value, delivered on subscription

    ClipFrames clip(makeFrameSource("demo"));
    ASSERT_EQ(clip.start(), std::nullopt);
    std::size_t played = 0;
    for (; played < kClipFrames; ++played) {
        std::optional<VideoFrame> frame = clip.next();
        if (!frame) {
            break;
        }
        clipMs = static_cast<std::int64_t>(played) * kFrameMs;
        r.exec.advanceBy(kFrameMs);
        r.settle();
        ASSERT_TRUE(r.source->pushFrame(*frame));
        r.settle();
    }
    // Frames are never dropped on the way in (the sink hands them over faster than they play), so the
    // frame count is the clip's time line.
    ASSERT_EQ(played, kClipFrames) << "the file source stopped delivering";

    std::printf("state changes on the clip's time line: %s\n", describe(changes).c_str());
    std::vector<Kind> kinds;
    for (const Change& c : changes) {
        kinds.push_back(c.state.kind);
    }
    ASSERT_EQ(kinds, (std::vector<Kind>{Kind::inattention, Kind::nominal, Kind::alert, Kind::nominal}))
        << describe(changes);
    // Looking away from 6-7 s, plus the 1.5 s inattention delay; back once the head has turned back.
    EXPECT_GE(changes[0].atMs, 6000 + 1500) << describe(changes);
    EXPECT_LE(changes[0].atMs, 7000 + 1500 + 500) << describe(changes);
    EXPECT_GE(changes[1].atMs, 12000) << describe(changes);
    EXPECT_LE(changes[1].atMs, 13500) << describe(changes);
    // The onlooker raises the alert once seen (16-17 s) and it ends 3 s after they left (21-22 s).
    EXPECT_GE(changes[2].atMs, 16000) << describe(changes);
    EXPECT_LE(changes[2].atMs, 18000) << describe(changes);
    EXPECT_GE(changes[3].atMs, 21000 + 3000) << describe(changes);
    EXPECT_LE(changes[3].atMs, 22000 + 3000 + 500) << describe(changes);

    // One notification for the one onlooker, withdrawn when the alert ended; the overlay stayed up.
    ASSERT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.notifier.posts[0].identifier, AlertAnnouncer::notificationId);
    EXPECT_EQ(r.notifier.log.back(), std::string("remove ") + AlertAnnouncer::notificationId);
    EXPECT_EQ(r.stats.stats.get().alertCount, 1);
    EXPECT_TRUE(r.overlay.isShowing.get());
    EXPECT_FALSE(r.svc().isAlert.get());
}

} // namespace
} // namespace tavrine
