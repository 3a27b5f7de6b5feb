#include "app/shell/CommandLine.h"

#include <gtest/gtest.h>

using namespace tavrine;
using Action = CommandLine::Action;

// Every row: the arguments after "tavrine", the action they ask for and the camera they name.
TEST(CommandLine, ArgumentsGiveTheActionAndTheCamera) {
    const struct {
        std::vector<const char*> args;
        Action action;
        const char* camera = "";
    } cases[] = {
        {{}, Action::run},
        {{"--camera", "demo"}, Action::run, "demo"},
        {{"--camera=/dev/video2"}, Action::run, "/dev/video2"},
        {{"--camera", "/tmp/clip with space.webm"}, Action::run, "/tmp/clip with space.webm"},
        {{"--camera=a=b.webm"}, Action::run, "a=b.webm"},
        {{"--camera"}, Action::error},
        {{"--camera="}, Action::error},
        {{"stray"}, Action::error},
        {{"--frobnicate"}, Action::error},
        // Help and version win wherever they stand.
        {{"--help"}, Action::help},
        {{"-h"}, Action::help},
        {{"--camera", "demo", "--version"}, Action::version},
    };
    for (const auto& c : cases) {
        QStringList args{QStringLiteral("tavrine")};
        for (const char* a : c.args) {
            args << QString::fromUtf8(a);
        }
        const CommandLine cl = CommandLine::parse(args);
        const std::string name = args.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(cl.action, c.action) << name;
        if (c.action == Action::run) {
            EXPECT_EQ(cl.camera, QString::fromUtf8(c.camera)) << name;
        }
    }
    EXPECT_TRUE(
        CommandLine::parse({"tavrine", "--frobnicate"}).error.contains(QStringLiteral("--frobnicate")));
    EXPECT_TRUE(CommandLine::helpText().contains(QStringLiteral("--camera SOURCE")));
    EXPECT_EQ(CommandLine::versionText(), QStringLiteral("Tavrine " TAVRINE_VERSION "\n"));
}
