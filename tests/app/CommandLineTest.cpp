#include "app/shell/CommandLine.h"

#include <gtest/gtest.h>

using namespace tavrine;
using Action = CommandLine::Action;

namespace {
CommandLine parse(std::initializer_list<const char*> args) {
    QStringList list{QStringLiteral("tavrine")};
    for (const char* a : args) {
        list << QString::fromUtf8(a);
    }
    return CommandLine::parse(list);
}
} // namespace

TEST(CommandLine, NoArgumentsRunsWithTheDefaultCamera) {
    const CommandLine cl = parse({});
    EXPECT_EQ(cl.action, Action::run);
    EXPECT_TRUE(cl.camera.isEmpty());
}

TEST(CommandLine, CameraInBothSpellings) {
    EXPECT_EQ(parse({"--camera", "demo"}).camera, QStringLiteral("demo"));
    EXPECT_EQ(parse({"--camera=/dev/video2"}).camera, QStringLiteral("/dev/video2"));
    EXPECT_EQ(parse({"--camera", "/tmp/clip with space.webm"}).camera,
              QStringLiteral("/tmp/clip with space.webm"));
    EXPECT_EQ(parse({"--camera=a=b.webm"}).camera, QStringLiteral("a=b.webm"));
    EXPECT_EQ(parse({"--camera", "demo"}).action, Action::run);
}

TEST(CommandLine, MissingOrEmptyCameraValueAndUnknownOptionsAreErrors) {
    EXPECT_EQ(parse({"--camera"}).action, Action::error);
    EXPECT_EQ(parse({"--camera="}).action, Action::error);
    const CommandLine unknown = parse({"--frobnicate"});
    EXPECT_EQ(unknown.action, Action::error);
    EXPECT_TRUE(unknown.error.contains(QStringLiteral("--frobnicate")));
    EXPECT_EQ(parse({"stray"}).action, Action::error);
}

TEST(CommandLine, HelpAndVersionWinWhereverTheyStand) {
    EXPECT_EQ(parse({"--help"}).action, Action::help);
    EXPECT_EQ(parse({"-h"}).action, Action::help);
    EXPECT_EQ(parse({"--camera", "demo", "--version"}).action, Action::version);
    EXPECT_TRUE(CommandLine::helpText().contains(QStringLiteral("--camera SOURCE")));
    EXPECT_EQ(CommandLine::versionText(), QStringLiteral("Tavrine " TAVRINE_VERSION "\n"));
}
