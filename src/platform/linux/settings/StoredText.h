#pragma once

#include "core/persistence/KeyValueStore.h"

#include <QString>

namespace tavrine {

// An INI file keeps no types: every value comes back as text. These give the text its meaning once,
// for every reader: "true"/"false" are booleans, a decimal integer that fits 64 bits is an integer,
// any other decimal number is a double, and the rest stays text.
StoredValue storedValueFromText(const QString& text);

// The text under which a value is written, chosen so that storedValueFromText reads it back exactly
// (floats in their shortest exact form).
QString textForInteger(std::int64_t value);
QString textForBool(bool value);
QString textForFloat(float value);

} // namespace tavrine
