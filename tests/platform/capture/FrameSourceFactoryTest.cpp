#include "platform/linux/capture/FrameSourceFactory.h"

#include <gtest/gtest.h>

#include <filesystem>

using tavrine::demoClipPath;
using tavrine::makeFrameSource;

TEST(FrameSourceFactory, ReadsTheCameraOption) {
    const std::string demo = demoClipPath();
    ASSERT_FALSE(demo.empty()) << "the demonstration clip is part of the tree and of the installation";
    EXPECT_TRUE(std::filesystem::is_regular_file(demo));
    const struct {
        const char* option;
        std::string source;
    } cases[] = {
        {"", "webcam"},
        {"webcam", "webcam"},
        {"/dev/video3", "/dev/video3"},
        {"clips/office.webm", "clips/office.webm"},
        {"./demo", "./demo"}, // only the bare word names the demonstration clip
        {"demo", demo},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(makeFrameSource(c.option)->describe(), c.source) << '"' << c.option << '"';
    }
}
