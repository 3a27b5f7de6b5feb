// Decodes the input as the keyed form of the settings and of the statistics. Decoding must never
// crash, and a record that decodes must encode and decode back to an equal record.
#include "core/domain/FilterSettingsCoding.h"
#include "core/domain/FilterStatsCoding.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto settings = tavrine::decodeFilterSettings(text)) {
        const auto encoded = tavrine::encodeFilterSettings(*settings);
        const auto again =
            encoded ? tavrine::decodeFilterSettings(*encoded) : decltype(settings)::failure("x");
        if (!encoded || !again || !(*again == *settings)) {
            std::fprintf(stderr, "settings did not round-trip\n");
            std::abort();
        }
    }
    if (const auto stats = tavrine::decodeFilterStats(text)) {
        const auto again = tavrine::decodeFilterStats(tavrine::encodeFilterStats(*stats));
        if (!again || again->alertCount != stats->alertCount || again->sessionCount != stats->sessionCount ||
            again->totalActiveSeconds != stats->totalActiveSeconds) {
            std::fprintf(stderr, "stats did not round-trip\n");
            std::abort();
        }
    }
    return 0;
}
