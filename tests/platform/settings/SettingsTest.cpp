// The settings on disk: the INI file and its typed text, and the XDG autostart entry.
#include "core/fakes/RecordingKeyValueStore.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/persistence/StoredValueConversion.h"
#include "platform/PlatformTestSupport.h"
#include "platform/linux/settings/QSettingsStore.h"
#include "platform/linux/settings/XdgAutostart.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

// The settings as the application loads them from the file, saved with every field changed if asked.
FilterSettings load(bool thenSaveEveryFieldChanged = false) {
    QSettingsStore store;
    FakeLoginItem login;
    SettingsRepository repo(store, login);
    if (thenSaveEveryFieldChanged) {
        repo.save(everyFieldChanged());
    }
    return repo.settings.get();
}

} // namespace

// The file is found under XDG_CONFIG_HOME (a relative one is ignored). What is written reads the same before
// and after a restart, a float in the shortest text that gives it back; settings and statistics share the
// file without clobbering each other. The file is a new one renamed over the old, not the old one rewritten
// in place (a crash mid-write leaves one whole file or the other), and no temporary file is left.
TEST(QSettingsStore, ValuesReadTheSameAfterARestartFromAFileReplacedWhole) {
    TempConfigHome home;
    EXPECT_EQ(QSettingsStore::defaultFilePath(), home.confPath());
    writeFile(home.confPath(), "[General]\nfilter_strength=2\n");
    // A second name keeps the old file alive, so its inode cannot be handed to the new file.
    const QString oldFile = home.path() + QStringLiteral("/old.conf");
    ASSERT_EQ(::link(home.confPath().toLocal8Bit().constData(), oldFile.toLocal8Bit().constData()), 0);
    const float floats[] = {0.42f, 2.0f, 1e-45f, 123456.789f};
    const std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    {
        QSettingsStore store;
        for (std::size_t i = 0; i < std::size(floats); ++i) {
            store.setFloat("f" + std::to_string(i), floats[i]);
        }
        store.setBool("b", true);
        store.setInteger("i", lowest);
        EXPECT_EQ(store.read("f0"), StoredValue{0.42});
        EXPECT_EQ(store.read("b"), StoredValue{true});
        EXPECT_EQ(store.readInt("i"), lowest);
        FakeLoginItem login;
        SettingsRepository settings(store, login);
        StatsRepository stats(store);
        stats.incrementSessions();
        settings.save(everyFieldChanged());
        stats.incrementAlerts();
        EXPECT_TRUE(store.flush());
        EXPECT_FALSE(settings.keptForSessionOnly.get());
        EXPECT_EQ(store.location(), home.confPath().toStdString());
        EXPECT_FALSE(std::filesystem::equivalent(oldFile.toStdString(), home.confPath().toStdString()));
        EXPECT_EQ(readFile(oldFile), QByteArray("[General]\nfilter_strength=2\n"));
        store.remove("b");
        EXPECT_FALSE(store.read("b"));
    }
    EXPECT_EQ(QDir(home.path() + "/tavrine").entryList(QDir::Files | QDir::Hidden),
              QStringList{"tavrine.conf"});
    QSettingsStore reopened;
    for (std::size_t i = 0; i < std::size(floats); ++i) {
        EXPECT_EQ(storedFloat(reopened.read("f" + std::to_string(i)).value_or(StoredValue{})), floats[i])
            << i;
    }
    EXPECT_EQ(reopened.readInt("stats_session_count"), 1);
    EXPECT_EQ(reopened.readInt("stats_alert_count"), 1);
    EXPECT_EQ(reopened.readInt("filter_strength"), 5);
    for (const char* relative : {"relative/dir", ""}) {
        qputenv("XDG_CONFIG_HOME", relative);
        EXPECT_EQ(QSettingsStore::defaultFilePath(), QDir::homePath() + "/.config/tavrine/tavrine.conf");
    }
}

// Hand-edited text takes the type it spells in plain decimal; anything else stays text, a list too. The
// typed reads give its integer (truncated toward zero) or its truth; a missing key reads 0 and false.
TEST(QSettingsStore, HandEditedTextTakesTheTypeItSpells) {
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    struct Case {
        std::string line; // as written in the file
        StoredValue value;
        std::int64_t asInt = 0;
        bool asBool = false;
    };
    // Beyond int64 an integer is still a number, just not an integer.
    using I = std::int64_t;
    std::vector<Case> cases = {
        {"true", true, 1, true},     {"\" false \"", false, 0, false},
        {"  17 ", I(17), 17, true},  {"+7", I(7), 7, true},
        {"0", I(0), 0, false},       {"-9223372036854775808", min, min, true},
        {"3.9", 3.9, 3, true},       {"-3.9", -3.9, -3, true},
        {"1e3", 1000.0, 1000, true}, {"9223372036854775808", 9223372036854775808.0, 0, true},
        {"1e300", 1e300, 0, true},   {"1, 2", std::string("1,2"), 0, false},
    };
    for (const char* text : {"", "TRUE", "yes", "hello", "0x10", "1,5", "12abc", "nan", "inf", "-inf",
                             "1e999", "--1", "+", "١٢"}) {
        cases.push_back({'"' + std::string(text) + '"', std::string(text)});
    }
    TempConfigHome home;
    QByteArray conf("[General]\n");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        conf +=
            "k" + QByteArray::number(qulonglong(i)) + "=" + QByteArray::fromStdString(cases[i].line) + "\n";
    }
    writeFile(home.confPath(), conf);
    QSettingsStore store;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string key = "k" + std::to_string(i);
        EXPECT_EQ(store.read(key), cases[i].value) << cases[i].line;
        EXPECT_EQ(store.readInt(key), cases[i].asInt) << cases[i].line;
        EXPECT_EQ(store.readBool(key), cases[i].asBool) << cases[i].line;
    }
    EXPECT_EQ(store.readInt("missing"), 0);
    EXPECT_FALSE(store.readBool("missing"));
}

// A truncated file keeps its complete lines and falls back for the rest; binary garbage never crashes and
// reads as sound values; after a save the file is sound again.
TEST(QSettingsStore, ADamagedFileFallsBackWhereItIsDamagedAndTheNextSaveMendsIt) {
    TempConfigHome home;
    load(true);
    const QByteArray full = readFile(home.confPath());
    const int cut = full.indexOf("matrix_stripe_alpha=") + int(sizeof("matrix_stripe_al")) - 1;
    writeFile(home.confPath(), full.left(cut));
    FilterSettings s = load();
    // The file holds its keys in alphabetical order.
    EXPECT_EQ(s.filterStrength, 5);              // before the cut
    EXPECT_FALSE(s.hapticOnAlert);               // before the cut
    EXPECT_EQ(s.matrixColorArgb, 0xFF112233ULL); // before the cut
    EXPECT_EQ(s.matrixStripeAlpha, 0.42f);
    EXPECT_FALSE(s.overlayOnCameraBusy); // lost with the cut: fallbacks
    EXPECT_TRUE(s.privacyMatrixEnabled);
    EXPECT_EQ(s.sensitivity, 3);

    QRandomGenerator rng(1234);
    for (int round = 0; round < 50; ++round) {
        QByteArray bytes(1 + rng.bounded(4096), '\0');
        rng.generate(bytes.begin(), bytes.end());
        if (round % 5 == 0) {
            bytes.prepend("[General]\nfilter_strength=");
        }
        writeFile(home.confPath(), bytes);
        s = load();
        EXPECT_GE(s.captureFps, 1);
        EXPECT_GE(s.batteryThresholdPercent, 0);
        EXPECT_NE(s.filterStrength, 0);
    }
    load(true);
    EXPECT_EQ(load(), everyFieldChanged());

    // A file an editor saved with a byte-order mark reads as garbled; the next save writes it clean, and
    // the store then knows its writes go through (a later failure would be told, not this one).
    writeFile(home.confPath(), "\xEF\xBB\xBF[General]\nfilter_strength=5\n");
    QSettingsStore store(home.confPath());
    store.setInteger("capture_fps", 7);
    EXPECT_TRUE(store.flush()) << "the garbled file was written whole again";
    EXPECT_EQ(store.status(), QSettings::NoError);
    EXPECT_EQ(store.readInt("capture_fps"), 7);
    EXPECT_EQ(QSettingsStore(home.confPath()).readInt("capture_fps"), 7);
}

// Something at the settings path that is no regular file is neither opened nor written: a FIFO there would
// have blocked the launch for ever, waiting for a writer. The values live for the session.
TEST(QSettingsStore, APathThatIsNoFileIsLeftAlone) {
    TempConfigHome home;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(home.confPath()).absolutePath()));
    const QByteArray fifo = home.confPath().toLocal8Bit();
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    auto used = std::async(std::launch::async, [&] {
        QSettingsStore store(home.confPath());
        store.setInteger("filter_strength", 4);
        const bool lasting = store.flush();
        return std::pair(store.readInt("filter_strength"), lasting);
    });
    if (used.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK)); // lets the blocked open return
        ADD_FAILURE() << "the store opened the FIFO and waited for a writer";
    }
    EXPECT_EQ(used.get(), std::pair(std::int64_t{4}, false))
        << "read back, and told not to outlast the session";
    EXPECT_EQ(QSettingsStore(home.confPath()).location(), home.confPath().toStdString())
        << "the user is shown the path they know";
    struct stat st {};
    ASSERT_EQ(::stat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still there, not replaced by a file";
}

// A folder the user cannot write to is left untouched, even with a file in it that could be rewritten in
// place: the file is read, and what is saved stays in memory and is reported as lasting for the session only
// (checked as an unprivileged user).
TEST(QSettingsStore, AFolderThatCannotBeWrittenIsLeftUntouched) {
    TempConfigHome home;
    writeFile(home.confPath(), "[General]\nfilter_strength=2\n");
    const QString folder = home.path() + "/tavrine";
    const auto readable =
        QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QFile::setPermissions(home.path(), readable);
    QFile::setPermissions(folder, readable);
    QFile::setPermissions(home.confPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadOther | QFileDevice::WriteOther);
    // A garbled file there (an editor's byte-order mark) cannot be written whole again either: told.
    EXPECT_EQ(asUnprivilegedUser([&] {
                  writeFile(home.confPath(), "\xEF\xBB\xBF[General]\nfilter_strength=2\n");
                  QSettingsStore store;
                  store.setInteger("capture_fps", 7);
                  const bool told = !store.flush();
                  writeFile(home.confPath(), "[General]\nfilter_strength=2\n");
                  return told ? 0 : 1;
              }),
              0);
    EXPECT_EQ(asUnprivilegedUser([] {
                  QSettingsStore store;
                  FakeLoginItem login;
                  SettingsRepository repo(store, login);
                  const bool readFirst = repo.settings.get().filterStrength == 2;
                  repo.save(everyFieldChanged());
                  return readFirst && repo.settings.get() == everyFieldChanged() &&
                                 repo.keptForSessionOnly.get()
                             ? 0
                             : 1;
              }),
              0);
    QFile::setPermissions(home.path(), readable | QFileDevice::WriteOwner);
    QFile::setPermissions(folder, readable | QFileDevice::WriteOwner);
    EXPECT_EQ(readFile(home.confPath()), QByteArray("[General]\nfilter_strength=2\n"));
}

// A write that fails is told, and so is the next one that goes through once the cause is gone (Qt keeps the
// first error of a QSettings for its life): here the folder's place is taken by a file, then freed. What was
// saved meanwhile reaches the disk with it.
TEST(QSettingsStore, AFailedWriteIsToldAndSoIsTheNextThatGoesThrough) {
    TempConfigHome home;
    const QString folder = home.path() + "/tavrine";
    writeFile(folder, "a file where the folder goes");
    {
        QSettingsStore store(home.confPath());
        FakeLoginItem login;
        SettingsRepository repo(store, login);
        repo.save(everyFieldChanged());
        EXPECT_TRUE(repo.keptForSessionOnly.get());
        store.remove("sensitivity");
        EXPECT_FALSE(store.flush()) << "still no folder";
        ASSERT_TRUE(QFile::remove(folder));
        FilterSettings next = everyFieldChanged();
        next.filterStrength = 2;
        repo.save(next);
        EXPECT_FALSE(repo.keptForSessionOnly.get()) << "this save reached the disk";
        store.remove("sensitivity");
        EXPECT_TRUE(store.flush());
    }
    QSettingsStore reopened(home.confPath());
    EXPECT_EQ(reopened.readInt("filter_strength"), 2);
    EXPECT_EQ(reopened.readInt("capture_fps"), 15) << "saved while the folder could not be made";
    EXPECT_FALSE(reopened.read("sensitivity")) << "a key removed meanwhile stays removed";
}

// Whatever the program's path, registering writes one entry that desktop-file-validate accepts and that
// starts that program; registering twice keeps one entry; unregistering removes it, and there being
// nothing to remove is no error. An entry written by hand is disabled by Hidden=true in its main group.
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
        const QString text = QString::fromUtf8(readFile(XdgAutostart::defaultEntryPath()));
        EXPECT_EQ(text.mid(text.indexOf(QStringLiteral("\nExec=")) + 6).section(QLatin1Char('\n'), 0, 0),
                  c.exec);
        // desktop-file-validate prints its complaints; -2: it is not installed.
        const int validity = QProcess::execute(QStringLiteral("desktop-file-validate"), {item.entryPath()});
        EXPECT_TRUE(validity == 0 || validity == -2) << "desktop-file-validate rejects the entry";
        EXPECT_EQ(item.setEnabled(false), std::nullopt);
        EXPECT_FALSE(QFileInfo::exists(item.entryPath()));
    }
    XdgAutostart item(QStringLiteral("/usr/bin/tavrine"));
    const struct {
        const char* text;
        bool enabled;
    } hidden[] = {
        {"[Desktop Entry]\nExec=/usr/bin/tavrine\nHidden = true \n", false},
        {"[Desktop Entry]\nExec=/usr/bin/tavrine\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=/usr/bin/tavrine\n[Desktop Action x]\nHidden=true\n", true},
        {"[Desktop Entry]\nExec=/usr/bin/tavrine\nX-Hidden=true\n", true},
        {"[Desktop Entry]\nExec=/usr/bin/tavrine\nX-GNOME-Autostart-enabled=false\n", false},
        // The program the entry starts: another that exists, or one gone since (an older install's).
        {"[Desktop Entry]\nExec=sh -c 'exec tavrine'\n", true},
        {"[Desktop Entry]\nExec=\"/bin/sh\" --camera /dev/video2\n", true},
        {"[Desktop Entry]\nExec=/opt/gone/tavrine\n", false},
        {"[Desktop Entry]\nExec=\"/opt/My Apps/tavrine\"\n", false},
        {"", false},
        {"\x01\x02\xff garbage", false},
    };
    for (const auto& c : hidden) {
        writeFile(item.entryPath(), c.text);
        EXPECT_EQ(item.isEnabled(), c.enabled) << c.text;
    }
    // An entry the user edited is switched, not replaced: their program, arguments and keys stay. An older
    // install's entry whose program is gone is replaced by ours.
    const QByteArray edited = "[Desktop Entry]\nType=Application\nExec=/bin/sh --camera /dev/video2\n"
                              "X-KDE-autostart-after=panel\nHidden=true\n[Desktop Action x]\nHidden=true\n";
    writeFile(item.entryPath(), edited);
    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(readFile(item.entryPath()), QByteArray(edited).replace("panel\nHidden=true\n", "panel\n"));
    EXPECT_EQ(item.setEnabled(false), std::nullopt);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_TRUE(readFile(item.entryPath()).contains("Exec=/bin/sh --camera /dev/video2\n"));
    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_TRUE(item.isEnabled());
    writeFile(item.entryPath(), "[Desktop Entry]\nExec=/opt/gone/tavrine\nX-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_EQ(readFile(item.entryPath()), XdgAutostart::entryText(QStringLiteral("/usr/bin/tavrine")));
    // A folder in place of the entry is not enabled and cannot be removed.
    QFile::remove(item.entryPath());
    ASSERT_TRUE(QDir().mkpath(item.entryPath()));
    EXPECT_FALSE(item.isEnabled());
    const std::string error = item.setEnabled(false).value_or("");
    EXPECT_NE(error.find("tavrine.desktop"), std::string::npos) << error;
}
