// Writes the input as the settings file, loads the settings and statistics from it, and checks that
// every value is one the rest of the program can live with; then saves and loads again, which must
// give back the saved record exactly.
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "platform/linux/settings/QSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

class NoLoginItem final : public tavrine::LoginItem {
  public:
    bool isEnabled() const override { return false; }
    std::optional<std::string> setEnabled(bool) override { return std::nullopt; }
};

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

const QString& filePath() {
    static QTemporaryDir dir;
    static const QString path = dir.path() + QStringLiteral("/tavrine/tavrine.conf");
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString& path = filePath();
    {
        QFile::remove(path);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            return 0;
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    NoLoginItem login;
    std::ostringstream diagnostics;
    tavrine::FilterSettings loaded;
    {
        tavrine::QSettingsStore store(path);
        tavrine::SettingsRepository settings(store, login, diagnostics);
        tavrine::StatsRepository stats(store);
        loaded = settings.settings.get();
        require(loaded.captureFps >= 1, "capture rate at least 1");
        require(loaded.batteryThresholdPercent >= 0, "battery threshold not negative");
        require(loaded.filterStrength != 0 && loaded.sensitivity != 0 && loaded.inattentionDelayMs != 0 &&
                    loaded.calibrationDistanceCm != 0 && loaded.matrixColorArgb != 0,
                "integer reads never yield 0");
        require(std::isfinite(loaded.privacyMatrixCoefficient) && std::isfinite(loaded.matrixStripeAlpha),
                "finite floats");
        stats.incrementSessions();
        stats.addActiveSeconds(60);
        settings.save(loaded);
    }
    tavrine::QSettingsStore again(path);
    tavrine::SettingsRepository reloaded(again, login, diagnostics);
    require(reloaded.settings.get() == loaded, "a saved record loads back equal");
    require(diagnostics.str().empty(), "no diagnostics without a login-item change");
    return 0;
}
