#pragma once

#include <QString>
#include <QStringList>

namespace tavrine {

// What the command line asks for. Arguments Qt itself understands (-platform, -display, ...) are
// removed by QApplication before this sees them.
struct CommandLine {
    enum class Action { run, help, version, error };
    Action action = Action::run;
    // --camera: "" (the built-in webcam), "/dev/videoN", a video file, or "demo".
    QString camera;
    // For Action::error: what was wrong.
    QString error;

    static CommandLine parse(const QStringList& arguments);
    static QString helpText();
    static QString versionText();
};

} // namespace tavrine
