#include "core/domain/FilterStatsCoding.h"

#include "core/domain/JsonFields.h"

namespace tavrine {

std::string encodeFilterStats(const FilterStats& stats) {
    nlohmann::json object = {{"alertCount", stats.alertCount},
                             {"sessionCount", stats.sessionCount},
                             {"totalActiveSeconds", stats.totalActiveSeconds},
                             {"lockCount", stats.lockCount}};
    return object.dump();
}

CodingResult<FilterStats> decodeFilterStats(std::string_view json) {
    nlohmann::json object;
    if (auto error = jsonfields::parseObject(json, object)) {
        return CodingResult<FilterStats>::failure(*error);
    }
    FilterStats stats;
    for (auto [key, field] :
         {std::pair{"alertCount", &stats.alertCount}, std::pair{"sessionCount", &stats.sessionCount},
          std::pair{"totalActiveSeconds", &stats.totalActiveSeconds}}) {
        if (auto error = jsonfields::read(object, key, *field)) {
            return CodingResult<FilterStats>::failure(*error);
        }
    }
    // Added later: a record without it counts no lock.
    if (object.contains("lockCount")) {
        if (auto error = jsonfields::read(object, "lockCount", stats.lockCount)) {
            return CodingResult<FilterStats>::failure(*error);
        }
    }
    return CodingResult<FilterStats>::success(stats);
}

} // namespace tavrine
