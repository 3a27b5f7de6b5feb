#pragma once

#include "core/domain/CodingResult.h"
#include "core/domain/FilterSettings.h"

#include <string>
#include <string_view>

namespace tavrine {

// The keyed form of FilterSettings: a JSON object whose 17 keys are the field names
// ("filterStrength", ..., "isCalibrated"), each holding the field's own type. Decoding requires every
// key and the exact type: a missing key, a wrong type, a number out of the field's range or a
// non-finite float is an error, and no default fills in. Unknown keys are ignored. Encoding fails only
// for a non-finite float, which JSON cannot carry.
CodingResult<std::string> encodeFilterSettings(const FilterSettings& settings);
CodingResult<FilterSettings> decodeFilterSettings(std::string_view json);

} // namespace tavrine
