#pragma once

#include "core/domain/FilterSettings.h"
#include "core/persistence/KeyValueStore.h"
#include "core/persistence/LoginItem.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavrine::testing {

// An in-memory store with the typed reads of the real one, recording every write in order.
class RecordingKeyValueStore final : public KeyValueStore {
  public:
    std::map<std::string, StoredValue> values;
    std::vector<std::string> writes; // "key=value" in call order; "flush" for flush()

    // Text reads as 0 and a real number truncated, as in the real store.
    std::int64_t readInt(const std::string& key) const override {
        const StoredValue v = read(key).value_or(std::int64_t{0});
        if (const auto* d = std::get_if<double>(&v)) {
            return static_cast<std::int64_t>(*d);
        }
        if (const auto* b = std::get_if<bool>(&v)) {
            return *b ? 1 : 0;
        }
        const auto* i = std::get_if<std::int64_t>(&v);
        return i ? *i : 0;
    }
    bool readBool(const std::string& key) const override {
        const StoredValue v = read(key).value_or(false);
        return std::holds_alternative<bool>(v) ? std::get<bool>(v) : readInt(key) != 0;
    }
    std::optional<StoredValue> read(const std::string& key) const override {
        const auto it = values.find(key);
        return it == values.end() ? std::nullopt : std::optional<StoredValue>(it->second);
    }
    void setInteger(const std::string& key, std::int64_t value) override {
        write(key, value, std::to_string(value));
    }
    void setBool(const std::string& key, bool value) override { write(key, value, value ? "true" : "false"); }
    void setFloat(const std::string& key, float value) override {
        write(key, static_cast<double>(value), std::to_string(value));
    }
    void remove(const std::string& key) override { values.erase(key); }
    // Set to make every flush fail, as a file that cannot be written does.
    bool flushFails = false;
    std::string where;
    bool flush() override {
        writes.push_back("flush");
        return !flushFails;
    }
    std::string location() const override { return where; }

  private:
    void write(const std::string& key, StoredValue value, const std::string& text) {
        values[key] = std::move(value);
        writes.push_back(key + "=" + text);
    }
};

// A login item whose status and failures the test sets; it records each request.
class FakeLoginItem final : public LoginItem {
  public:
    bool enabled = false;
    std::optional<std::string> failWith;
    std::vector<bool> requests;

    bool isEnabled() const override { return enabled; }
    std::optional<std::string> setEnabled(bool value) override {
        requests.push_back(value);
        if (failWith) {
            return failWith;
        }
        enabled = value;
        return std::nullopt;
    }
};

// Every stored field away from its fallback, so a round trip that drops or mixes up a field shows.
// launchAtLogin stays at its fallback: it lives in the login item, not in the store.
inline FilterSettings everyFieldChanged() {
    return {.filterStrength = 5,
            .sensitivity = 1,
            .inattentionDelayMs = 3000,
            .captureFps = 15,
            .hapticOnAlert = false,
            .batteryThresholdPercent = 0,
            .glassesCompat = false,
            .overlayOnCameraBusy = true,
            .privacyMatrixEnabled = false,
            .privacyMatrixCoefficient = 3.5f,
            .matrixColorArgb = 0xFF112233ULL,
            .matrixStripeAlpha = 0.55f,
            .globalShortcutEnabled = false,
            .coverAllScreens = false,
            .calibrationDistanceCm = 47,
            .isCalibrated = true,
            .lockOnAbsence = true,
            .lockDelayMs = 120'000};
}

} // namespace tavrine::testing
