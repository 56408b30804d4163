// Handle registry look-ups against a std::unordered_map of the same names.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "korvex/handles/handles.h"
#include "korvex/host/recording_host.h"
#include "korvex/korvex.h"

namespace {

constexpr int kNames = 60000;

// Names in the style of a machine's handle file and of registered structure
// fields: prefixes, underscores, numbers.
const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = [] {
        static const char* const kPrefixes[] = {"SPC_", "TPar", "Com", "AX_", "Seq_Status_"};
        std::vector<std::string> out;
        out.reserve(kNames);
        for (int i = 0; i < kNames; ++i)
            out.push_back(std::string(kPrefixes[i % 5]) + "Field" + std::to_string(i) + "_" +
                          std::to_string(i % 97));
        return out;
    }();
    return names;
}

void LoadRegistry(Handles& handles) {
    Handles::CreateRegistry();
    const auto& names = Names();
    for (int i = 0; i < kNames; ++i)
        handles.addNew(names[i].c_str(), static_cast<std::uint16_t>(i));
}

void BM_NameToHandle(benchmark::State& state) {
    Handles handles(nullptr, "HANDLES");
    LoadRegistry(handles);
    const auto& names = Names();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(handles.NameToHandle(names[i].c_str()));
        if (++i == names.size()) i = 0;
    }
    Handles::DropRegistry();
}
BENCHMARK(BM_NameToHandle);

void BM_HandleToName(benchmark::State& state) {
    Handles handles(nullptr, "HANDLES");
    LoadRegistry(handles);
    char buffer[Handles::kNameBufferSize];
    std::uint16_t handle = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(handles.HandleToName(handle, buffer, Handles::kNoHandle));
        if (++handle == kNames) handle = 0;
    }
    Handles::DropRegistry();
}
BENCHMARK(BM_HandleToName);

// Baseline: the same look-ups in a std::unordered_map.
void BM_UnorderedMapLookup(benchmark::State& state) {
    std::unordered_map<std::string, std::uint16_t> map;
    const auto& names = Names();
    for (int i = 0; i < kNames; ++i) map.emplace(names[i], static_cast<std::uint16_t>(i));
    std::size_t i = 0;
    for (auto _ : state) {
        // A look-up by C string, as the registry's callers make it.
        benchmark::DoNotOptimize(map.find(names[i].c_str()));
        if (++i == names.size()) i = 0;
    }
}
BENCHMARK(BM_UnorderedMapLookup);

// Baseline with the key already a std::string (no conversion per look-up).
void BM_UnorderedMapLookupStringKey(benchmark::State& state) {
    std::unordered_map<std::string, std::uint16_t> map;
    const auto& names = Names();
    for (int i = 0; i < kNames; ++i) map.emplace(names[i], static_cast<std::uint16_t>(i));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(names[i]));
        if (++i == names.size()) i = 0;
    }
}
BENCHMARK(BM_UnorderedMapLookupStringKey);

// Run-time registration through Daten, as data objects register their names.
void BM_RegisterNewHandle50k(benchmark::State& state) {
    // A host whose fatal exit returns: this Daten has no machine files.
    korvex::host::RecordingHost host;
    const auto& names = Names();
    for (auto _ : state) {
        state.PauseTiming();
        Handles::CreateRegistry();
        auto daten = std::make_unique<Daten>(nullptr, "QZ_DATEN", "HANDLES");
        state.ResumeTiming();
        std::uint16_t index = 0;
        for (int i = 0; i < 50000; ++i)
            benchmark::DoNotOptimize(daten->RegisterNewHandle(nullptr, names[i].c_str(), index));
        state.PauseTiming();
        daten.reset();
        state.ResumeTiming();
    }
    Handles::DropRegistry();
}
BENCHMARK(BM_RegisterNewHandle50k)->Unit(benchmark::kMillisecond);

void BM_UnorderedMapInsert50k(benchmark::State& state) {
    const auto& names = Names();
    for (auto _ : state) {
        std::unordered_map<std::string, std::uint16_t> map;
        for (int i = 0; i < 50000; ++i) map.emplace(names[i], static_cast<std::uint16_t>(i));
        benchmark::DoNotOptimize(map.size());
    }
}
BENCHMARK(BM_UnorderedMapInsert50k)->Unit(benchmark::kMillisecond);

}  // namespace

// Walking the registry in cache order (the checksum, the cache write, the
// listing) against a walk over a plain vector of as many names, for a small
// machine and a large one.
void BM_RegistryChecksum(benchmark::State& state) {
    Handles handles(nullptr, "HANDLES");
    Handles::CreateRegistry();
    const auto& names = Names();
    for (int i = 0; i < state.range(0); ++i)
        handles.addNew(names[i].c_str(), static_cast<std::uint16_t>(i));
    for (auto _ : state) benchmark::DoNotOptimize(handles.MakeChecksum());
    Handles::DropRegistry();
}
BENCHMARK(BM_RegistryChecksum)->Arg(100)->Arg(5000)->Arg(kNames);

// Baseline: the same sum over a vector of (hash, handle) pairs.
void BM_VectorChecksum(benchmark::State& state) {
    std::vector<std::pair<std::uint32_t, std::uint16_t>> entries;
    const auto& names = Names();
    for (int i = 0; i < state.range(0); ++i)
        entries.emplace_back(Handles::NameHash(names[i]), static_cast<std::uint16_t>(i));
    for (auto _ : state) {
        std::uint32_t sum = 0, i = 0;
        for (const auto& [hash, handle] : entries)
            sum += (hash ^ static_cast<std::uint16_t>((handle >> 8) | (handle << 8))) * i++;
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_VectorChecksum)->Arg(100)->Arg(5000)->Arg(kNames);
