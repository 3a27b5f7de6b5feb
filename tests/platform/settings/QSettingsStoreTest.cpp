#include "platform/linux/settings/QSettingsStore.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/persistence_fakes/RecordingKeyValueStore.h"
#include "core/persistence_fakes/SettingsSamples.h"
#include "platform/settings/SettingsTestSupport.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

using namespace tavrine;
using tavrine::testing::everyFieldChanged;
using tavrine::testing::FakeLoginItem;
using tavrine::testing::TempConfigHome;

namespace {

FilterSettings fallbacks() {
    FilterSettings s;
    s.matrixStripeAlpha = 0.42f;
    return s;
}

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

TEST(QSettingsStore, AMissingFileLoadsTheFallbacksAndCreatesNothing) {
    TempConfigHome home;
    {
        QSettingsStore store;
        EXPECT_EQ(store.filePath(), home.confPath());
        FakeLoginItem login;
        SettingsRepository repo(store, login);
        EXPECT_EQ(repo.settings.get(), fallbacks());
    }
    EXPECT_FALSE(QFileInfo::exists(home.confPath()));
}

TEST(QSettingsStore, ASaveIsOnDiskBeforeTheStoreIsClosedAndReadsBackEqual) {
    TempConfigHome home;
    QSettingsStore store;
    FakeLoginItem login;
    SettingsRepository repo(store, login);
    FilterSettings changed = everyFieldChanged();
    changed.matrixColorArgb = 0xFFFFFFFFFFFFFFFFULL;
    changed.matrixStripeAlpha = 0.72f;
    repo.save(changed);
    // Durable at the end of save, not only at exit: read the file from a second store meanwhile.
    EXPECT_EQ(loadFrom(home.confPath()), changed);
    const QByteArray text = home.readConf();
    EXPECT_TRUE(text.contains("matrix_color_argb=-1")) << text.constData();
    EXPECT_TRUE(text.contains("matrix_stripe_alpha=0.72")) << text.constData();
    EXPECT_TRUE(text.contains("haptic_on_alert=false")) << text.constData();
    EXPECT_FALSE(text.contains("launch_at_login"));
}

TEST(QSettingsStore, ValuesWrittenThisSessionReadAsTheyWillAfterARestart) {
    TempConfigHome home;
    QSettingsStore store;
    store.setFloat("f", 0.42f);
    store.setBool("b", true);
    store.setInteger("i", -12);
    const auto f = store.read("f");
    ASSERT_TRUE(f);
    EXPECT_EQ(*f, StoredValue{0.42});
    EXPECT_EQ(store.read("b"), StoredValue{true});
    EXPECT_EQ(store.readInt("i"), -12);
    store.flush();
    QSettingsStore reopened;
    EXPECT_EQ(reopened.read("f"), store.read("f"));
    EXPECT_EQ(reopened.read("b"), store.read("b"));
    EXPECT_EQ(reopened.readInt("i"), -12);
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

TEST(QSettingsStore, WrongTypesAndHugeNumbersLoadTheDocumentedFallbacks) {
    TempConfigHome home;
    home.writeConf("[General]\n"
                   "filter_strength=abc\n"
                   "sensitivity=99999999999999999999999\n"
                   "inattention_delay_ms=1e400\n"
                   "capture_fps=-7\n"
                   "haptic_on_alert=maybe\n"
                   "battery_threshold=12.5\n"
                   "glasses_compat=2\n"
                   "overlay_on_camera_busy=yes\n"
                   "privacy_matrix_enabled=\"\"\n"
                   "privacy_matrix_coefficient=nan\n"
                   "matrix_color_argb=red\n"
                   "matrix_stripe_alpha=1e39\n"
                   "global_shortcut_enabled=@Variant(garbage\n"
                   "cover_all_screens=\n"
                   "calibration_distance_cm=-9223372036854775809\n"
                   "is_calibrated=TRUE\n");
    EXPECT_EQ(loadFrom(home.confPath()), fallbacks());
}

TEST(QSettingsStore, HandEditedValuesThatMakeSenseAreKept) {
    TempConfigHome home;
    home.writeConf("[General]\n"
                   "battery_threshold=0\n"
                   "haptic_on_alert=false\n"
                   "filter_strength = 4 \n"
                   "matrix_stripe_alpha=0.5\n"
                   "matrix_color_argb=4294901760\n"
                   "is_calibrated=1\n");
    const FilterSettings s = loadFrom(home.confPath());
    EXPECT_EQ(s.batteryThresholdPercent, 0);
    EXPECT_FALSE(s.hapticOnAlert);
    EXPECT_EQ(s.filterStrength, 4);
    EXPECT_EQ(s.matrixStripeAlpha, 0.5f);
    EXPECT_EQ(s.matrixColorArgb, 0xFFFF0000ULL);
    EXPECT_TRUE(s.isCalibrated);
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
        QSettingsStore store;
        FakeLoginItem login;
        SettingsRepository repo(store, login);
        const FilterSettings& s = repo.settings.get();
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

TEST(QSettingsStore, AnUnreadableFileLoadsTheFallbacks) {
    TempConfigHome home;
    // A folder where the file should be cannot be read, even by root.
    ASSERT_TRUE(QDir().mkpath(home.confPath()));
    EXPECT_EQ(loadFrom(home.confPath()), fallbacks());
}

TEST(QSettingsStore, AnUnwritableLocationReportsNothingAndKeepsTheValuesInMemory) {
    TempConfigHome home;
    // A plain file where the folder should be: nothing can be created below it, even by root.
    QFile blocker(home.path() + "/tavrine");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettingsStore store;
    FakeLoginItem login;
    std::ostringstream diagnostics;
    SettingsRepository repo(store, login, diagnostics);
    repo.save(everyFieldChanged());
    EXPECT_EQ(repo.settings.get(), everyFieldChanged());
    EXPECT_EQ(store.readInt("filter_strength"), 5);
    EXPECT_EQ(store.status(), QSettings::AccessError);
    repo.load();
    EXPECT_EQ(repo.settings.get(), everyFieldChanged()); // the session keeps what the user chose
    EXPECT_TRUE(diagnostics.str().empty());
    EXPECT_TRUE(QFileInfo(blocker.fileName()).isFile());
    EXPECT_EQ(QFileInfo(blocker.fileName()).size(), 0);
}

TEST(QSettingsStore, AReadOnlyFileOrFolderIsLeftUntouched) {
    if (tavrine::testing::runningAsRoot()) {
        GTEST_SKIP() << "permissions do not bind root; the blocker-file cases above cover this path";
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

TEST(QSettingsStore, StatsSurviveARestartAndAHugeStoredFigureSaturates) {
    TempConfigHome home;
    {
        QSettingsStore store;
        StatsRepository stats(store);
        stats.incrementAlerts();
        stats.incrementAlerts();
        stats.addActiveSeconds(90);
        stats.addActiveSeconds(45);
    }
    {
        QSettingsStore store;
        StatsRepository stats(store);
        EXPECT_EQ(stats.stats.get().alertCount, 2);
        EXPECT_EQ(stats.stats.get().totalActiveSeconds, 135);
        stats.reset();
    }
    const QByteArray text = home.readConf();
    EXPECT_TRUE(text.contains("stats_alert_count=0"));
    EXPECT_TRUE(text.contains("stats_total_active_seconds=0"));

    home.writeConf("[General]\nstats_total_active_seconds=9223372036854775807\nstats_session_count=1e30\n");
    QSettingsStore store;
    StatsRepository stats(store);
    EXPECT_EQ(stats.stats.get().sessionCount, 0);
    stats.addActiveSeconds(10);
    EXPECT_EQ(stats.stats.get().totalActiveSeconds, std::numeric_limits<std::int64_t>::max());
}

TEST(QSettingsStore, AFileFromBeforeTheSessionLockLoadsUnchangedAndGainsItsKeysAtTheNextSave) {
    TempConfigHome home;
    // Every setting away from its fallback, as the version without the lock setting wrote them.
    const QByteArray old =
        "[General]\nbattery_threshold=0\ncalibration_distance_cm=47\ncapture_fps=15\n"
        "cover_all_screens=false\nfilter_strength=5\nglasses_compat=false\n"
        "global_shortcut_enabled=false\nhaptic_on_alert=false\nhas_completed_onboarding=true\n"
        "inattention_delay_ms=3000\nis_calibrated=true\nmatrix_color_argb=4279312947\n"
        "matrix_stripe_alpha=0.55\noverlay_on_camera_busy=true\n"
        "privacy_matrix_coefficient=3.5\nprivacy_matrix_enabled=false\nsensitivity=1\n"
        "stats_alert_count=4\nstats_session_count=9\nstats_total_active_seconds=3600\n";
    home.writeConf(old);
    FilterSettings expected = everyFieldChanged();
    expected.lockOnAbsence = false;
    expected.lockDelayMs = 60'000;
    {
        QSettingsStore store;
        FakeLoginItem login;
        SettingsRepository settings(store, login);
        StatsRepository stats(store);
        EXPECT_EQ(settings.settings.get(), expected);
        const FilterStats figures = stats.stats.get();
        EXPECT_EQ(figures.alertCount, 4);
        EXPECT_EQ(figures.sessionCount, 9);
        EXPECT_EQ(figures.totalActiveSeconds, 3600);
        EXPECT_EQ(figures.lockCount, 0);
        EXPECT_EQ(home.readConf(), old) << "loading writes nothing";
        settings.save(settings.settings.get());
    }
    const QByteArray saved = home.readConf();
    EXPECT_TRUE(saved.contains("lock_on_absence=false"));
    EXPECT_TRUE(saved.contains("lock_delay_ms=60000"));
    EXPECT_TRUE(saved.contains("has_completed_onboarding=true"));
    EXPECT_TRUE(saved.contains("stats_session_count=9"));
    EXPECT_EQ(loadFrom(home.confPath()), expected);
}

TEST(QSettingsStore, SettingsAndStatsShareOneFileWithoutClobberingEachOther) {
    TempConfigHome home;
    QSettingsStore store;
    FakeLoginItem login;
    SettingsRepository settings(store, login);
    StatsRepository stats(store);
    stats.incrementSessions();
    settings.save(everyFieldChanged());
    stats.incrementAlerts();
    QSettingsStore reopened;
    EXPECT_EQ(reopened.readInt("stats_session_count"), 1);
    EXPECT_EQ(reopened.readInt("stats_alert_count"), 1);
    EXPECT_EQ(reopened.readInt("filter_strength"), 5);
}
