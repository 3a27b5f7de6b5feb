#include "platform/linux/settings/QSettingsStore.h"
#include "core/fakes/RecordingKeyValueStore.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "platform/settings/SettingsTestSupport.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tavrine;
using tavrine::testing::everyFieldChanged;
using tavrine::testing::FakeLoginItem;
using tavrine::testing::TempConfigHome;

namespace {

FilterSettings loadFrom(const QString& path) {
    QSettingsStore store(path);
    FakeLoginItem login;
    std::ostringstream diagnostics;
    SettingsRepository repo(store, login, diagnostics);
    return repo.settings.get();
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

TEST(QSettingsStore, DefaultPathFollowsXdgConfigHomeAndIgnoresARelativeOne) {
    TempConfigHome home;
    EXPECT_EQ(QSettingsStore::defaultFilePath(), home.confPath());
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    EXPECT_EQ(QSettingsStore::defaultFilePath(), QDir::homePath() + "/.config/tavrine/tavrine.conf");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(QSettingsStore::defaultFilePath(), QDir::homePath() + "/.config/tavrine/tavrine.conf");
}

// What is written reads the same before and after a restart; settings and statistics share the file
// without clobbering each other.
TEST(QSettingsStore, ValuesReadTheSameAfterARestartAndStatsAndSettingsShareTheFile) {
    TempConfigHome home;
    QSettingsStore store;
    store.setFloat("f", 0.42f);
    store.setBool("b", true);
    store.setInteger("i", -12);
    EXPECT_EQ(store.read("f"), StoredValue{0.42});
    EXPECT_EQ(store.read("b"), StoredValue{true});
    EXPECT_EQ(store.readInt("i"), -12);
    FakeLoginItem login;
    SettingsRepository settings(store, login);
    StatsRepository stats(store);
    stats.incrementSessions();
    settings.save(everyFieldChanged());
    stats.incrementAlerts();
    store.flush();
    QSettingsStore reopened;
    EXPECT_EQ(reopened.read("f"), store.read("f"));
    EXPECT_EQ(reopened.read("b"), store.read("b"));
    EXPECT_EQ(reopened.readInt("i"), -12);
    EXPECT_EQ(reopened.readInt("stats_session_count"), 1);
    EXPECT_EQ(reopened.readInt("stats_alert_count"), 1);
    EXPECT_EQ(reopened.readInt("filter_strength"), 5);
    store.remove("i");
    EXPECT_FALSE(store.read("i"));
}

TEST(QSettingsStore, TypedReadsOfHandEditedText) {
    TempConfigHome home;
    home.writeConf("[General]\n"
                   "int=  17 \n"
                   "real=3.9\n"
                   "neg=-3.9\n"
                   "huge=1e300\n"
                   "text=hello\n"
                   "yes=true\n"
                   "list=1, 2\n"
                   "zero=0\n");
    QSettingsStore store;
    EXPECT_EQ(store.readInt("int"), 17);
    EXPECT_EQ(store.readInt("real"), 3); // truncated toward zero
    EXPECT_EQ(store.readInt("neg"), -3);
    EXPECT_EQ(store.readInt("huge"), 0);
    EXPECT_EQ(store.readInt("text"), 0);
    EXPECT_EQ(store.readInt("list"), 0);
    EXPECT_EQ(store.readInt("yes"), 1);
    EXPECT_EQ(store.readInt("missing"), 0);
    EXPECT_TRUE(store.readBool("yes"));
    EXPECT_TRUE(store.readBool("int"));
    EXPECT_FALSE(store.readBool("zero"));
    EXPECT_FALSE(store.readBool("text"));
    EXPECT_FALSE(store.readBool("missing"));
    EXPECT_EQ(store.read("text"), StoredValue{std::string("hello")});
    EXPECT_TRUE(std::holds_alternative<std::string>(*store.read("list")));
}

TEST(QSettingsStore, ATruncatedFileKeepsTheCompleteLinesAndFallsBackForTheRest) {
    TempConfigHome home;
    {
        QSettingsStore store;
        FakeLoginItem login;
        SettingsRepository repo(store, login);
        repo.save(everyFieldChanged());
    }
    QByteArray full = home.readConf();
    const int cut = full.indexOf("matrix_stripe_alpha=") + int(sizeof("matrix_stripe_al")) - 1;
    ASSERT_GT(cut, 0);
    home.writeConf(full.left(cut));
    const FilterSettings s = loadFrom(home.confPath());
    // The file holds its keys in alphabetical order.
    EXPECT_EQ(s.filterStrength, 5);              // before the cut
    EXPECT_FALSE(s.hapticOnAlert);               // before the cut
    EXPECT_EQ(s.matrixColorArgb, 0xFF112233ULL); // before the cut
    EXPECT_EQ(s.matrixStripeAlpha, 0.42f);
    EXPECT_FALSE(s.overlayOnCameraBusy); // lost with the cut: fallbacks
    EXPECT_TRUE(s.privacyMatrixEnabled);
    EXPECT_EQ(s.sensitivity, 3);
}

TEST(QSettingsStore, BinaryGarbageNeverCrashesAndAfterASaveTheFileIsSoundAgain) {
    TempConfigHome home;
    QRandomGenerator rng(1234);
    for (int round = 0; round < 50; ++round) {
        QByteArray bytes(1 + rng.bounded(4096), '\0');
        for (char& c : bytes) {
            c = static_cast<char>(rng.bounded(256));
        }
        if (round % 5 == 0) {
            bytes.prepend("[General]\nfilter_strength=");
        }
        home.writeConf(bytes);
        const FilterSettings s = loadFrom(home.confPath());
        EXPECT_GE(s.captureFps, 1);
        EXPECT_GE(s.batteryThresholdPercent, 0);
        EXPECT_NE(s.filterStrength, 0);
    }
    // The last garbage file is replaced by a sound one at the next save.
    {
        QSettingsStore store;
        FakeLoginItem login;
        SettingsRepository repo(store, login);
        repo.save(everyFieldChanged());
    }
    EXPECT_EQ(loadFrom(home.confPath()), everyFieldChanged());
}

TEST(QSettingsStore, AReadOnlyFileOrFolderIsLeftUntouched) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    TempConfigHome home;
    home.writeConf("[General]\nfilter_strength=2\n");
    const QString folder = home.path() + "/tavrine";
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        QSettingsStore store;
        FakeLoginItem login;
        SettingsRepository repo(store, login);
        EXPECT_EQ(repo.settings.get().filterStrength, 2);
        repo.save(everyFieldChanged());
        EXPECT_EQ(repo.settings.get(), everyFieldChanged());
    }
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(home.readConf(), QByteArray("[General]\nfilter_strength=2\n"));
}

TEST(QSettingsStore, TheFileIsReplacedByRenameAndNoTemporaryFileIsLeft) {
    TempConfigHome home;
    home.writeConf("[General]\nfilter_strength=2\n");
    const ino_t before = inodeOf(home.confPath());
    {
        QSettingsStore store;
        store.setInteger("filter_strength", 4);
        store.flush();
        // A new file renamed over the old one, not the old one rewritten in place: a crash
        // mid-write leaves one whole file or the other.
        EXPECT_NE(inodeOf(home.confPath()), before);
    }
    QStringList names = QDir(home.path() + "/tavrine").entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(names, QStringList{"tavrine.conf"});
    EXPECT_EQ(loadFrom(home.confPath()).filterStrength, 4);
}
