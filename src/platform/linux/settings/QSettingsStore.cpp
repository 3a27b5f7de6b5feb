#include "platform/linux/settings/QSettingsStore.h"

#include "platform/linux/settings/StoredText.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QVariant>

#include <cmath>
#include <cstdio>

namespace tavrine {

namespace {

QString keyOf(const std::string& key) {
    return QString::fromStdString(key);
}

} // namespace

QSettingsStore::QSettingsStore() : QSettingsStore(defaultFilePath()) {}

QSettingsStore::QSettingsStore(const QString& filePath) : requestedPath_(filePath) {
    // Something there that is no regular file (a FIFO would block the open for ever; a folder, a device or
    // a socket holds no settings) is left alone: the store works on a file of its own for the session.
    const QFileInfo info(filePath);
    if (info.exists() && !info.isFile()) {
        scratch_ = std::make_unique<QTemporaryDir>();
        std::fprintf(stderr,
                     "tavrine\u00a0: %s n\u2019est pas un fichier ordinaire\u202f; les réglages restent en "
                     "mémoire jusqu\u2019à la fin de la session.\n",
                     qPrintable(filePath));
        settings_ = open(scratch_->filePath(QStringLiteral("tavrine.conf")));
        return;
    }
    settings_ = open(filePath);
}

QSettingsStore::~QSettingsStore() {
    settings_->sync();
}

QString QSettingsStore::defaultFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/tavrine/tavrine.conf");
}

QString QSettingsStore::filePath() const {
    return settings_->fileName();
}

QSettings::Status QSettingsStore::status() const {
    return settings_->status();
}

std::optional<StoredValue> QSettingsStore::read(const std::string& key) const {
    const QVariant v = settings_->value(keyOf(key));
    if (!v.isValid()) {
        return std::nullopt;
    }
    // Values written this session are kept as text too, so they read exactly as they will after a
    // restart. A value the INI parser turned into a list ("a, b") is unconvertible text.
    if (v.typeId() == QMetaType::QString) {
        return storedValueFromText(v.toString());
    }
    if (v.typeId() == QMetaType::QStringList) {
        return v.toStringList().join(QLatin1Char(',')).toStdString();
    }
    return v.toString().toStdString();
}

std::int64_t QSettingsStore::readInt(const std::string& key) const {
    const auto stored = read(key);
    if (!stored) {
        return 0;
    }
    if (const auto* i = std::get_if<std::int64_t>(&*stored)) {
        return *i;
    }
    if (const auto* b = std::get_if<bool>(&*stored)) {
        return *b ? 1 : 0;
    }
    if (const auto* d = std::get_if<double>(&*stored)) {
        // Truncated toward zero when it fits; a number beyond the range is not an integer.
        if (*d > -9.2233720368547758e18 && *d < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(*d);
        }
    }
    return 0;
}

bool QSettingsStore::readBool(const std::string& key) const {
    const auto stored = read(key);
    if (!stored) {
        return false;
    }
    if (const auto* b = std::get_if<bool>(&*stored)) {
        return *b;
    }
    if (const auto* i = std::get_if<std::int64_t>(&*stored)) {
        return *i != 0;
    }
    if (const auto* d = std::get_if<double>(&*stored)) {
        return *d != 0.0;
    }
    return false;
}

void QSettingsStore::setInteger(const std::string& key, std::int64_t value) {
    settings_->setValue(keyOf(key), textForInteger(value));
}

void QSettingsStore::setBool(const std::string& key, bool value) {
    settings_->setValue(keyOf(key), textForBool(value));
}

void QSettingsStore::setFloat(const std::string& key, float value) {
    settings_->setValue(keyOf(key), textForFloat(value));
}

void QSettingsStore::remove(const std::string& key) {
    settings_->remove(keyOf(key));
}

std::unique_ptr<QSettings> QSettingsStore::open(const QString& filePath) {
    auto settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
    // Never fall back to writing the file in place: a crash would leave half a file.
    settings->setAtomicSyncRequired(true);
    settings->setFallbacksEnabled(false);
    return settings;
}

std::string QSettingsStore::location() const {
    return requestedPath_.toStdString();
}

bool QSettingsStore::flush() {
    settings_->sync();
    if (settings_->status() == QSettings::FormatError) {
        // A line the load could not read (a hand edit, a byte-order mark) keeps its error for the life of
        // the QSettings, and would hide whether this write, or any later one, went through. Read back: a
        // file written whole again reads clean, and the store goes on from that reading.
        if (auto reread = open(settings_->fileName()); reread->status() == QSettings::NoError) {
            settings_ = std::move(reread);
        }
    }
    if (settings_->status() == QSettings::AccessError) {
        // QSettings keeps an error for its whole life: whether the values reach the disk now (a folder made
        // writable again, a disk no longer full) takes a fresh one. QSettings objects of one process on one
        // file share its values, those not yet written and the keys removed included: the fresh one writes
        // what this one holds.
        if (auto fresh = open(settings_->fileName()); fresh->status() == QSettings::NoError) {
            fresh->sync();
            if (fresh->status() == QSettings::NoError) {
                settings_ = std::move(fresh);
            }
        }
    }
    // The values stay in memory for this session; say once that they will not survive it.
    if (settings_->status() == QSettings::AccessError && !failureReported_) {
        failureReported_ = true;
        std::fprintf(
            stderr,
            "tavrine\u00a0: impossible d’enregistrer les réglages dans %s\u202f; ils restent en mémoire "
            "jusqu’à la fin de la session.\n",
            qPrintable(settings_->fileName()));
    }
    return !scratch_ && settings_->status() == QSettings::NoError;
}

} // namespace tavrine
