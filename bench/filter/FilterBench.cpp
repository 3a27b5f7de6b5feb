// What one detection input and one settings save cost. Run:
//   cmake --build build --target tavrine_bench_filter && ./build/bench/filter/tavrine_bench_filter
#include "core/domain/FilterSettingsCoding.h"
#include "core/filter/FilterFsm.h"
#include "core/persistence/SettingsRepository.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <new>
#include <sstream>

namespace {

std::size_t allocations = 0;

} // namespace

void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace tavrine;

// A realistic stream at 10 frames a second: attentive, a look-away, an onlooker, faceless frames.
static void BM_FilterFsmInput(benchmark::State& state) {
    FilterFsm fsm;
    int published = 0;
    auto sub = fsm.state.subscribe([&](const FilterState&) { ++published; });
    fsm.activate();
    std::int64_t t = 1'700'000'000'000;
    std::int64_t i = 0;
    const std::size_t before = allocations;
    for (auto _ : state) {
        const int phase = static_cast<int>((i / 50) % 4);
        DetectionInput input{t, 1, FaceData{0.0f, 0.0f, 0.2f}};
        if (phase == 1) {
            input.primaryFace->eulerY = 45.0f;
        } else if (phase == 2) {
            input.faceCount = 2;
        } else if (phase == 3) {
            input.faceCount = 0;
            input.primaryFace.reset();
        }
        fsm.onDetectionInput(input);
        t += 100;
        ++i;
    }
    state.counters["allocs_per_input"] =
        benchmark::Counter(static_cast<double>(allocations - before) / static_cast<double>(i ? i : 1));
    state.counters["publications"] = published;
}
BENCHMARK(BM_FilterFsmInput);

class MapStore final : public KeyValueStore {
  public:
    std::map<std::string, StoredValue> values;
    std::int64_t readInt(const std::string& key) const override {
        auto it = values.find(key);
        auto* v = it == values.end() ? nullptr : std::get_if<std::int64_t>(&it->second);
        return v ? *v : 0;
    }
    bool readBool(const std::string& key) const override {
        auto it = values.find(key);
        auto* v = it == values.end() ? nullptr : std::get_if<bool>(&it->second);
        return v && *v;
    }
    std::optional<StoredValue> read(const std::string& key) const override {
        auto it = values.find(key);
        return it == values.end() ? std::nullopt : std::optional<StoredValue>(it->second);
    }
    void setInteger(const std::string& key, std::int64_t v) override { values[key] = v; }
    void setBool(const std::string& key, bool v) override { values[key] = v; }
    void setFloat(const std::string& key, float v) override { values[key] = static_cast<double>(v); }
    void remove(const std::string& key) override { values.erase(key); }
};

class NoLogin final : public LoginItem {
  public:
    bool isEnabled() const override { return false; }
    std::optional<std::string> setEnabled(bool) override { return std::nullopt; }
};

// The repository's own cost per save (an in-memory store: the file write is the store's).
static void BM_SettingsSave(benchmark::State& state) {
    MapStore store;
    NoLogin login;
    std::ostringstream diagnostics;
    SettingsRepository repo(store, login, diagnostics);
    FilterSettings s;
    for (auto _ : state) {
        s.filterStrength = s.filterStrength % 5 + 1;
        repo.save(s);
    }
}
BENCHMARK(BM_SettingsSave);

static void BM_SettingsJsonRoundTrip(benchmark::State& state) {
    const FilterSettings s;
    for (auto _ : state) {
        auto decoded = decodeFilterSettings(*encodeFilterSettings(s));
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_SettingsJsonRoundTrip);

BENCHMARK_MAIN();
