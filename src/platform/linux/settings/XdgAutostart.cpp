#include "platform/linux/settings/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

// Whether the [Desktop Entry] group says Hidden=true.
bool isHidden(const QByteArray& text) {
    bool inMainGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const int eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed() == "Hidden") {
            return line.mid(eq + 1).trimmed() == "true";
        }
    }
    return false;
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
    QFile file(entryPath_);
    if (!QFileInfo(entryPath_).isFile() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    // An autostart entry is a few hundred bytes; a huge file is not ours and reads as disabled.
    constexpr qint64 maxEntrySize = 1 << 20;
    if (file.size() > maxEntrySize) {
        return false;
    }
    return !isHidden(file.readAll());
}

std::optional<std::string> XdgAutostart::setEnabled(bool enabled) {
    if (!enabled) {
        QFileInfo info(entryPath_);
        if (!info.exists() && !info.isSymLink()) {
            return std::nullopt;
        }
        QFile file(entryPath_);
        if (!file.remove()) {
            return "cannot remove " + entryPath_.toStdString() + ": " + file.errorString().toStdString();
        }
        return std::nullopt;
    }
    const QString folder = QFileInfo(entryPath_).absolutePath();
    if (!QDir().mkpath(folder)) {
        return "cannot create the folder " + folder.toStdString();
    }
    QSaveFile file(entryPath_);
    if (!file.open(QIODevice::WriteOnly)) {
        return "cannot write " + entryPath_.toStdString() + ": " + file.errorString().toStdString();
    }
    const QByteArray text = entryText(execPath_);
    if (file.write(text) != text.size() || !file.commit()) {
        return "cannot write " + entryPath_.toStdString() + ": " + file.errorString().toStdString();
    }
    return std::nullopt;
}

} // namespace tavrine
