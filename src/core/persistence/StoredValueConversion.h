#pragma once

#include "core/persistence/KeyValueStore.h"

#include <optional>

namespace tavrine {

// The conversions of an object read: a stored value becomes the field's type, or nothing when it
// cannot stand for one (the caller then uses the field's fallback). Numbers and booleans convert into
// each other the way a boxed number does (true is 1; only 0 and 1 are booleans; an integer field takes
// only an integral value within its range; a float field any finite value within its range). Text
// converts to nothing.
std::optional<bool> storedBool(const StoredValue& value);
std::optional<int> storedInt(const StoredValue& value);
std::optional<float> storedFloat(const StoredValue& value);

} // namespace tavrine
