#include "app/shell/CommandLine.h"

#include <gtest/gtest.h>

using namespace tavrine;
using Action = CommandLine::Action;

// What a command line asks for, with the camera it names (in either spelling, its value kept whole) or a word
// of the error it reports; help and version win wherever they stand.
TEST(CommandLine, ReadsTheActionAndTheCameraOrSaysWhatIsWrong) {
    const struct {
        QStringList args;
        Action action;
        QString text; // the camera, or a word of the error
    } cases[] = {
        {{}, Action::run, ""},
        {{"--camera", "demo"}, Action::run, "demo"},
        {{"--camera=/dev/video2"}, Action::run, "/dev/video2"},
        {{"--camera", "/tmp/clip with space.webm"}, Action::run, "/tmp/clip with space.webm"},
        {{"--camera=a=b.webm"}, Action::run, "a=b.webm"},
        {{"--camera"}, Action::error, "--camera"},
        {{"--camera="}, Action::error, "--camera"},
        {{"--frobnicate"}, Action::error, "--frobnicate"},
        {{"stray"}, Action::error, "stray"},
        {{"--help"}, Action::help, ""},
        {{"-h"}, Action::help, ""},
        {{"--camera", "demo", "--version"}, Action::version, ""},
    };
    for (const auto& c : cases) {
        const QStringList args = QStringList{QStringLiteral("tavrine")} + c.args;
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const CommandLine cl = CommandLine::parse(args);
        EXPECT_EQ(cl.action, c.action);
        EXPECT_TRUE(c.action == Action::run ? cl.camera == c.text : cl.error.contains(c.text));
    }
    EXPECT_TRUE(CommandLine::helpText().contains(QStringLiteral("--camera SOURCE")));
    EXPECT_EQ(CommandLine::versionText(), QStringLiteral("Tavrine " TAVRINE_VERSION "\n"));
}
