#pragma once

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

namespace tavrine::jsonfields {

// Reads one required key of a keyed record into `out`. On failure returns the reason, prefixed with
// the key. Integers must be JSON integers within the field's range; floats any finite JSON number that
// fits the field; booleans JSON booleans.
template <typename T> std::optional<std::string> read(const nlohmann::json& object, const char* key, T& out) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return std::string(key) + ": missing";
    }
    const nlohmann::json& v = *it;
    if constexpr (std::is_same_v<T, bool>) {
        if (!v.is_boolean()) {
            return std::string(key) + ": expected a boolean";
        }
        out = v.get<bool>();
    } else if constexpr (std::is_integral_v<T>) {
        if (v.is_number_unsigned()) {
            const auto u = v.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
                return std::string(key) + ": integer out of range";
            }
            out = static_cast<T>(u);
        } else if (v.is_number_integer()) {
            const auto i = v.get<std::int64_t>();
            if constexpr (std::is_unsigned_v<T>) {
                return std::string(key) + ": integer out of range";
            } else {
                if (i < std::numeric_limits<T>::min() || i > std::numeric_limits<T>::max()) {
                    return std::string(key) + ": integer out of range";
                }
                out = static_cast<T>(i);
            }
        } else {
            return std::string(key) + ": expected an integer";
        }
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!v.is_number()) {
            return std::string(key) + ": expected a number";
        }
        const double d = v.get<double>();
        if (!std::isfinite(d) || std::fabs(d) > static_cast<double>(std::numeric_limits<T>::max())) {
            return std::string(key) + ": number out of range";
        }
        out = static_cast<T>(d);
    } else {
        static_assert(std::is_same_v<T, bool>, "unsupported field type");
    }
    return std::nullopt;
}

// Parses a JSON object; on failure returns the reason.
inline std::optional<std::string> parseObject(std::string_view text, nlohmann::json& out) {
    out = nlohmann::json::parse(text, nullptr, false);
    if (out.is_discarded()) {
        return std::string("not valid JSON");
    }
    if (!out.is_object()) {
        return std::string("expected a JSON object");
    }
    return std::nullopt;
}

} // namespace tavrine::jsonfields
