#pragma once

#include <optional>
#include <string>
#include <utility>

namespace tavrine {

// The outcome of encoding or decoding a keyed record: a value, or the reason there is none.
template <typename T> class CodingResult {
  public:
    static CodingResult success(T value) { return CodingResult(std::move(value), {}); }
    static CodingResult failure(std::string error) { return CodingResult(std::nullopt, std::move(error)); }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *value_; }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return &*value_; }
    // Empty on success; on failure names the key and what was wrong, e.g. "captureFps: expected an integer".
    const std::string& error() const { return error_; }

  private:
    CodingResult(std::optional<T> value, std::string error)
        : value_(std::move(value)), error_(std::move(error)) {}

    std::optional<T> value_;
    std::string error_;
};

} // namespace tavrine
