#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tavrine {

// A value as it comes out of the store, before conversion to a field's type.
using StoredValue = std::variant<bool, std::int64_t, double, std::string>;

// Per-user key-value store with typed reads. Reads never fail.
class KeyValueStore {
  public:
    virtual ~KeyValueStore() = default;

    // 0 for a missing key or a value that is not a number.
    virtual std::int64_t readInt(const std::string& key) const = 0;
    // false for a missing key.
    virtual bool readBool(const std::string& key) const = 0;
    // The stored value, or nothing for a missing key; the caller converts or falls back.
    virtual std::optional<StoredValue> read(const std::string& key) const = 0;

    virtual void setInteger(const std::string& key, std::int64_t value) = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
    virtual void setFloat(const std::string& key, float value) = 0;
    virtual void remove(const std::string& key) = 0;

    // Makes the writes so far durable (on disk for a file-backed store). Writers call it after a group
    // of writes, so that one save costs one durable write rather than one per key. False when the values
    // will not outlast the session (a file that cannot be written): reads still see them until then.
    virtual bool flush() { return true; }
    // Where the values are kept, to name it to the user; empty when there is nothing to name.
    virtual std::string location() const { return {}; }
};

} // namespace tavrine
