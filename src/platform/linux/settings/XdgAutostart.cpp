#include "platform/linux/settings/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace tavrine {

namespace {

// The Exec field: an argument holding a reserved character is double-quoted, with the quote, backtick,
// dollar and backslash escaped inside the quotes; then the value as a whole escapes each backslash again
// (string escaping) and % as %%.
QString execField(const QString& program) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = program.isEmpty();
    for (const QChar c : program) {
        if (reserved.contains(c)) {
            needsQuotes = true;
            break;
        }
    }
    QString argument;
    if (needsQuotes) {
        argument += QLatin1Char('"');
        for (const QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\')) {
                argument += QLatin1Char('\\');
            }
            argument += c;
        }
        argument += QLatin1Char('"');
    } else {
        argument = program;
    }
    QString value;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            value += QStringLiteral("\\\\");
        } else if (c == QLatin1Char('%')) {
            value += QStringLiteral("%%");
        } else if (c == QLatin1Char('\n')) {
            value += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\t')) {
            value += QStringLiteral("\\t");
        } else {
            value += c;
        }
    }
    return value;
}

// The trimmed value of the first `key` of the [Desktop Entry] group, if it has one.
std::optional<QByteArray> mainGroupValue(const QByteArray& text, const QByteArray& key) {
    bool inMainGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const int eq = line.indexOf('=');
        if (inMainGroup && eq > 0 && line.left(eq).trimmed() == key) {
            return line.mid(eq + 1).trimmed();
        }
    }
    return std::nullopt;
}

// Switched off by the user's desktop: Hidden=true (the standard way), or GNOME's own key.
bool isSwitchedOff(const QByteArray& text) {
    return mainGroupValue(text, "Hidden") == "true" ||
           mainGroupValue(text, "X-GNOME-Autostart-enabled") == "false";
}

// The program the entry's Exec line starts: its first argument with the string escapes, the quoting and
// the %% undone. Empty without an Exec line.
QString execProgram(const QByteArray& text) {
    const QString value = QString::fromUtf8(mainGroupValue(text, "Exec").value_or(QByteArray()));
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == QLatin1Char('s')   ? QChar(' ')
                         : next == QLatin1Char('t') ? QChar('\t')
                         : next == QLatin1Char('n') ? QChar('\n')
                         : next == QLatin1Char('r') ? QChar('\r')
                                                    : next;
        } else {
            unescaped += value[i];
        }
    }
    QString program;
    if (unescaped.startsWith(QLatin1Char('"'))) {
        for (qsizetype i = 1; i < unescaped.size() && unescaped[i] != QLatin1Char('"'); ++i) {
            if (unescaped[i] == QLatin1Char('\\') && i + 1 < unescaped.size()) {
                ++i;
            }
            program += unescaped[i];
        }
    } else {
        program = unescaped.section(QRegularExpression(QStringLiteral("[ \t]")), 0, 0);
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

// Whether the desktop can start `program` at login: an executable file, or a name found on the PATH.
bool runnable(const QString& program) {
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !program.isEmpty() && !QStandardPaths::findExecutable(program).isEmpty();
}

// The entry switched on or off, with the user's other lines kept (another Exec, keys of their own).
QByteArray switched(const QByteArray& text, bool on) {
    QByteArray out;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const int eq = line.indexOf('=');
        const QByteArray key = eq > 0 ? line.left(eq).trimmed() : QByteArray();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && key == "Hidden") {
            continue;
        } else if (inMainGroup && key == "X-GNOME-Autostart-enabled") {
            out += on ? "X-GNOME-Autostart-enabled=true\n" : "X-GNOME-Autostart-enabled=false\n";
            continue;
        }
        out += rawLine + '\n';
        if (line == "[Desktop Entry]" && !on) {
            out += "Hidden=true\n";
        }
    }
    out.chop(1);
    return out;
}

} // namespace

XdgAutostart::XdgAutostart(QString execPath) : XdgAutostart(defaultEntryPath(), std::move(execPath)) {}

XdgAutostart::XdgAutostart(QString entryPath, QString execPath)
    : entryPath_(std::move(entryPath)), execPath_(std::move(execPath)) {}

QString XdgAutostart::defaultEntryPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/autostart/tavrine.desktop");
}

QByteArray XdgAutostart::entryText(const QString& execPath) {
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Version=1.0\n");
    text += QStringLiteral("Name=Tavrine\n");
    text += QStringLiteral("Comment=Filtre de confidentialité pour l’écran\n");
    text += QStringLiteral("Exec=") + execField(execPath) + QLatin1Char('\n');
    text += QStringLiteral("Icon=tavrine\n");
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool XdgAutostart::isEnabled() const {
    const auto text = readEntry();
    return text && usable(*text);
}

std::optional<QByteArray> XdgAutostart::readEntry() const {
    QFile file(entryPath_);
    // An autostart entry is a few hundred bytes; a huge file is not ours.
    constexpr qint64 maxEntrySize = 1 << 20;
    if (!QFileInfo(entryPath_).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > maxEntrySize) {
        return std::nullopt;
    }
    return file.readAll();
}

// Switched on, and starting a program that is there: ours, or one the user chose that still exists. An
// entry left by an older install whose program has gone starts nothing.
bool XdgAutostart::usable(const QByteArray& text) const {
    const QString program = execProgram(text);
    return !isSwitchedOff(text) && (program == execPath_ || runnable(program));
}

// Our own entry is written whole and removed whole. An entry the user edited (another Exec line, keys of
// their own) is switched off with Hidden=true and on again by taking it away, so their edits survive.
std::optional<std::string> XdgAutostart::setEnabled(bool enabled) {
    const QByteArray ours = entryText(execPath_);
    const std::optional<QByteArray> current = readEntry();
    const bool edited = current && *current != ours && runnable(execProgram(*current));
    if (!enabled) {
        QFileInfo info(entryPath_);
        if (!info.exists() && !info.isSymLink()) {
            return std::nullopt;
        }
        if (edited) {
            return isSwitchedOff(*current) ? std::nullopt : write(switched(*current, false));
        }
        QFile file(entryPath_);
        if (!file.remove()) {
            return "cannot remove " + entryPath_.toStdString() + ": " + file.errorString().toStdString();
        }
        return std::nullopt;
    }
    return write(edited ? switched(*current, true) : ours);
}

std::optional<std::string> XdgAutostart::write(const QByteArray& text) const {
    const QString folder = QFileInfo(entryPath_).absolutePath();
    if (!QDir().mkpath(folder)) {
        return "cannot create the folder " + folder.toStdString();
    }
    QSaveFile file(entryPath_);
    if (!file.open(QIODevice::WriteOnly)) {
        return "cannot write " + entryPath_.toStdString() + ": " + file.errorString().toStdString();
    }
    if (file.write(text) != text.size() || !file.commit()) {
        return "cannot write " + entryPath_.toStdString() + ": " + file.errorString().toStdString();
    }
    return std::nullopt;
}

} // namespace tavrine
