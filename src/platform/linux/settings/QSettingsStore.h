#pragma once

#include "core/persistence/KeyValueStore.h"

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace tavrine {

// The user's settings and statistics in an INI file, by default $XDG_CONFIG_HOME/tavrine/tavrine.conf
// ($HOME/.config when the variable is unset or not absolute).
//
// Reads never fail: a missing, unreadable, truncated or garbled file reads as empty or as whatever
// lines could be parsed, and every value is interpreted from its text (see StoredText.h) so a value
// reads the same before and after a restart.
//
// Writes go to memory at once (later reads see them) and reach the disk at flush(), which the
// repositories call after each save, or at the latest when the store is destroyed. The file is
// replaced atomically (QSettings writes a temporary file and renames it over the old one), so a crash
// mid-write leaves the old file or the new one, never half of one. A location that cannot be written
// keeps the values in memory for the rest of the session, and flush() says so. A path that is no regular
// file (a FIFO, a folder) is not opened at all: the values live in a file of the store's own for the
// session, and flush() says they will not outlast it.
class QSettingsStore final : public KeyValueStore {
  public:
    QSettingsStore();
    explicit QSettingsStore(const QString& filePath);
    ~QSettingsStore() override;

    static QString defaultFilePath();
    QString filePath() const;
    // NoError, AccessError (unreadable or unwritable) or FormatError (garbled file), for diagnostics.
    QSettings::Status status() const;

    std::int64_t readInt(const std::string& key) const override;
    bool readBool(const std::string& key) const override;
    std::optional<StoredValue> read(const std::string& key) const override;

    void setInteger(const std::string& key, std::int64_t value) override;
    void setBool(const std::string& key, bool value) override;
    void setFloat(const std::string& key, float value) override;
    void remove(const std::string& key) override;
    bool flush() override;
    std::string location() const override;

  private:
    static std::unique_ptr<QSettings> open(const QString& filePath);

    std::unique_ptr<QTemporaryDir> scratch_; // where the values go when the path is no file
    std::unique_ptr<QSettings> settings_;
    QString requestedPath_; // the path asked for, which the user knows, even when the values live elsewhere
    bool failureReported_ = false;
};

} // namespace tavrine
