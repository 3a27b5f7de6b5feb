#pragma once

#include "core/domain/CodingResult.h"
#include "core/domain/FilterStats.h"

#include <string>
#include <string_view>

namespace tavrine {

// The keyed form of FilterStats: {"alertCount", "sessionCount", "totalActiveSeconds"}, all signed
// 64-bit integers, every key required.
std::string encodeFilterStats(const FilterStats& stats);
CodingResult<FilterStats> decodeFilterStats(std::string_view json);

} // namespace tavrine
