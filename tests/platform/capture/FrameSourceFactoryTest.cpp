#include "platform/linux/capture/FrameSourceFactory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
