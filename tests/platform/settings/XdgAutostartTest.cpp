#include "platform/linux/settings/XdgAutostart.h"
#include "core/fakes/RecordingKeyValueStore.h"
#include "core/persistence/SettingsRepository.h"
#include "platform/settings/SettingsTestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <sstream>

using namespace tavrine;
using tavrine::testing::TempConfigHome;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// desktop-file-validate's verdict: empty when valid, else its complaints.
QString validate(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("desktop-file-validate"), {path});
    if (!p.waitForFinished(30000)) {
        return QStringLiteral("desktop-file-validate did not finish");
    }
    const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    if (p.exitCode() != 0) {
        return out.isEmpty() ? QStringLiteral("exit code %1").arg(p.exitCode()) : out;
    }
    return out;
}

bool haveValidator() {
    return !QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty();
}

QString execLine(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("Exec=")) {
            return QString::fromUtf8(line.mid(5));
        }
    }
    return {};
}

} // namespace

// Whatever the program's path, registering writes one entry that desktop-file-validate accepts and that
// starts that program; registering twice keeps one entry; unregistering removes it, and there being
// nothing to remove is no error.
TEST(XdgAutostart, RegisteringWritesAValidEntryAndUnregisteringRemovesIt) {
    TempConfigHome home;
    const struct {
        QString program;
        QString exec; // the entry's Exec line
    } cases[] = {
        {QStringLiteral("/usr/bin/tavrine"), QStringLiteral("/usr/bin/tavrine")},
        {QStringLiteral("/opt/My Apps/tavrine"), QStringLiteral("\"/opt/My Apps/tavrine\"")},
        {QStringLiteral("/opt/100%/tavrine"), QStringLiteral("/opt/100%%/tavrine")},
        {QStringLiteral("/opt/a\"b$c`d\\e/100%"),
         QStringLiteral("\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/100%%\"")},
        {QStringLiteral("/opt/é/tavrine"), QStringLiteral("/opt/é/tavrine")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        XdgAutostart item(c.program);
        EXPECT_FALSE(item.isEnabled());
        EXPECT_EQ(item.setEnabled(false), std::nullopt);
        EXPECT_EQ(item.setEnabled(true), std::nullopt);
        EXPECT_EQ(item.setEnabled(true), std::nullopt);
        EXPECT_TRUE(item.isEnabled());
        EXPECT_EQ(execLine(XdgAutostart::defaultEntryPath()), c.exec);
        if (haveValidator()) {
            EXPECT_EQ(validate(item.entryPath()), QString());
        }
        EXPECT_EQ(item.setEnabled(false), std::nullopt);
        EXPECT_FALSE(item.isEnabled());
        EXPECT_FALSE(QFileInfo::exists(item.entryPath()));
    }
}

TEST(XdgAutostart, HiddenTrueInTheMainGroupMeansDisabled) {
    TempConfigHome home;
    XdgAutostart item(QStringLiteral("/usr/bin/tavrine"));
    const struct {
        const char* text;
        bool enabled;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=tavrine\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = true \n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=tavrine\n[Desktop Action x]\nHidden=true\n", true},
        {"[Desktop Entry]\nX-Hidden=true\n", true},
        {"", true},
        {"\x01\x02\xff garbage", true},
    };
    for (const auto& c : cases) {
        writeFile(item.entryPath(), c.text);
        EXPECT_EQ(item.isEnabled(), c.enabled) << c.text;
    }
}

TEST(XdgAutostart, AFolderInPlaceOfTheEntryIsNotEnabledAndCannotBeRemoved) {
    TempConfigHome home;
    XdgAutostart item(QStringLiteral("/usr/bin/tavrine"));
    ASSERT_TRUE(QDir().mkpath(item.entryPath()));
    EXPECT_FALSE(item.isEnabled());
    const auto error = item.setEnabled(false);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("tavrine.desktop"), std::string::npos) << *error;
}
