#include "platform/linux/capture/FrameSourceFactory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

using tavrine::demoClipPath;
using tavrine::makeFrameSource;

TEST(FrameSourceFactory, ReadsTheCameraOption) {
    EXPECT_EQ(makeFrameSource("")->describe(), "webcam");
    EXPECT_EQ(makeFrameSource("webcam")->describe(), "webcam");
    EXPECT_EQ(makeFrameSource("/dev/video3")->describe(), "/dev/video3");
    EXPECT_EQ(makeFrameSource("clips/office.webm")->describe(), "clips/office.webm");
    EXPECT_EQ(makeFrameSource("./demo")->describe(), "./demo") << "only the bare word names the demo clip";
    const std::string demo = makeFrameSource("demo")->describe();
    EXPECT_EQ(std::filesystem::path(demo).filename(), "tavrine-demo.webm");
}

TEST(FrameSourceFactory, FindsTheDemoClipAndDocumentsTheOption) {
    const std::string path = demoClipPath();
    ASSERT_FALSE(path.empty()) << "the demonstration clip is part of the tree and of the installation";
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    EXPECT_EQ(makeFrameSource("demo")->describe(), path);
    const std::string help = tavrine::kCameraOptionHelp;
    for (const char* word : {"--camera", "/dev/videoN", "demo", "file"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

TEST(FrameSourceFactory, TheDemoClipPlaysAsCameraFrames) {
    auto source = makeFrameSource("demo");
    ASSERT_EQ(source->accessStatus(), tavrine::FrameSource::Access::authorized);
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<tavrine::VideoFrame> frames;
    ASSERT_EQ(source->start([&](const tavrine::VideoFrame& f) {
        std::lock_guard lock(mutex);
        frames.push_back(f);
        cv.notify_all();
    }),
              std::nullopt);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(15), [&] { return frames.size() >= 3; }));
    for (const auto& f : frames) {
        EXPECT_EQ(f.width, 640);
        EXPECT_EQ(f.height, 480);
        ASSERT_TRUE(f.pixels);
        EXPECT_EQ(f.pixels->size(), std::size_t(640 * 480 * 4));
    }
    // The first frame shows the portrait, not a black or empty picture.
    const auto& px = *frames.front().pixels;
    long sum = 0;
    for (std::size_t i = 0; i < px.size(); i += 4) {
        sum += px[i] + px[i + 1] + px[i + 2];
    }
    EXPECT_GT(sum / static_cast<long>(px.size() / 4), 150);
    lock.unlock();
    source->stop();
}
