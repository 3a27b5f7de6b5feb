#include "core/persistence/StoredValueConversion.h"

#include <cmath>
#include <limits>
#include <type_traits>

namespace tavrine {

std::optional<bool> storedBool(const StoredValue& value) {
    return std::visit(
        [](const auto& v) -> std::optional<bool> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                return v;
            } else if constexpr (std::is_same_v<T, std::string>) {
                return std::nullopt;
            } else {
                if (v == 0) {
                    return false;
                }
                if (v == 1) {
                    return true;
                }
                return std::nullopt;
            }
        },
        value);
}

std::optional<int> storedInt(const StoredValue& value) {
    return std::visit(
        [](const auto& v) -> std::optional<int> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                return v ? 1 : 0;
            } else if constexpr (std::is_same_v<T, std::string>) {
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
                    return std::nullopt;
                }
                return static_cast<int>(v);
            } else {
                // NaN fails both comparisons and is rejected.
                if (!(v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max()) ||
                    std::trunc(v) != v) {
                    return std::nullopt;
                }
                return static_cast<int>(v);
            }
        },
        value);
}

std::optional<float> storedFloat(const StoredValue& value) {
    return std::visit(
        [](const auto& v) -> std::optional<float> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                return v ? 1.0f : 0.0f;
            } else if constexpr (std::is_same_v<T, std::string>) {
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return static_cast<float>(v);
            } else {
                if (!std::isfinite(v) ||
                    std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) {
                    return std::nullopt;
                }
                return static_cast<float>(v);
            }
        },
        value);
}

} // namespace tavrine
