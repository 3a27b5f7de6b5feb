#include "platform/linux/settings/XdgAutostart.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence_fakes/RecordingKeyValueStore.h"
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

TEST(XdgAutostart, RegisteringWritesAValidEntryAndUnregisteringRemovesIt) {
    TempConfigHome home;
    XdgAutostart item(QStringLiteral("/usr/bin/tavrine"));
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(item.setEnabled(false), std::nullopt); // nothing to remove is not an error
    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(execLine(item.entryPath()), QStringLiteral("/usr/bin/tavrine"));
    if (haveValidator()) {
        EXPECT_EQ(validate(item.entryPath()), QString());
    }
    EXPECT_EQ(item.setEnabled(true), std::nullopt); // again: still one valid entry
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(item.setEnabled(false), std::nullopt);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_FALSE(QFileInfo::exists(item.entryPath()));
}

TEST(XdgAutostart, AwkwardProgramPathsAreQuotedSoTheEntryStaysValid) {
    if (!haveValidator()) {
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is not installed";
    }
    TempConfigHome home;
    const QString paths[] = {QStringLiteral("/opt/My Apps/tavrine"), QStringLiteral("/opt/100%/tavrine"),
                             QStringLiteral("/opt/a\"b$c`d\\e/tavrine"), QStringLiteral("/opt/é/tavrine")};
    for (const QString& path : paths) {
        XdgAutostart item(path);
        ASSERT_EQ(item.setEnabled(true), std::nullopt);
        EXPECT_EQ(validate(item.entryPath()), QString()) << path.toStdString();
    }
    EXPECT_EQ(execLine(XdgAutostart::defaultEntryPath()), QStringLiteral("/opt/é/tavrine"));
    XdgAutostart spaced(QStringLiteral("/opt/My Apps/tavrine"));
    ASSERT_EQ(spaced.setEnabled(true), std::nullopt);
    EXPECT_EQ(execLine(spaced.entryPath()), QStringLiteral("\"/opt/My Apps/tavrine\""));
    XdgAutostart weird(QStringLiteral("/opt/a\"b$c`d\\e/100%"));
    ASSERT_EQ(weird.setEnabled(true), std::nullopt);
    EXPECT_EQ(execLine(weird.entryPath()), QStringLiteral("\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/100%%\""));
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
