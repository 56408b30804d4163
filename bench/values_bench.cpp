// Value access and conversion, each against a baseline in the same run:
// GetValue/SetValue of a defined handle through the simulated controller
// against a direct read/write of the simulated controller's storage, and
// Value2String/String2Value of a QZREAL against snprintf("%d") and strtol
// of the same numbers.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "korvex/host/host_model.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"
#include "bench/bench_machine.h"

namespace {

constexpr std::uint16_t kLong = 1;
constexpr std::uint16_t kLength = 2;

// A machine with two handles: a LONGINT and a QZREAL length (10 3 / 10 4).
struct TwoHandles : korvex::bench::BenchMachine {
    TwoHandles() : BenchMachine("Counter=1\nLength=2\n") {
        DefineLong(kLong, 12345);
        daten->SetDefinition(
            kLength, new DInfo(DInfo::QZREAL, INT32_MIN, INT32_MAX, 0, 10, 3, 10, 4, 1.0,
                               DInfo::TPara, 1, 1, 1, "[mm]", "[inch]", "", "", "", 0, 0, 0, 10));
        sim.PokeLong(0, 0, kLength, 0, 12345);
    }
};

// Each side first runs this many untimed rounds, so that both start with
// their code and data in the caches. Ratios are taken from medians of five
// runs: --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// (set on the command line, so that the names stay as they are).
constexpr int kWarmRounds = 10000;

// Numbers of every size a length takes, and their texts.
const std::vector<std::int32_t>& Numbers() {
    static const std::vector<std::int32_t> numbers = [] {
        std::vector<std::int32_t> out;
        std::uint32_t seed = 12345;
        for (int i = 0; i < 1024; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const int digits = 1 + static_cast<int>(seed % 9);
            std::int32_t value = static_cast<std::int32_t>((seed >> 8) % 1000000000u);
            for (int d = digits; d < 9; ++d) value /= 10;
            out.push_back((seed & 1) ? -value : value);
        }
        return out;
    }();
    return numbers;
}

void BM_GetValueLong(benchmark::State& state) {
    TwoHandles machine;
    std::int32_t value = 0;
    for (int i = 0; i < kWarmRounds; ++i) machine.daten->GetValue(kLong, value, 0, 255);
    for (auto _ : state) {
        benchmark::DoNotOptimize(machine.daten->GetValue(kLong, value, 0, 255));
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_GetValueLong);

void BM_SimStorageRead(benchmark::State& state) {
    TwoHandles machine;
    for (int i = 0; i < kWarmRounds; ++i)
        benchmark::DoNotOptimize(machine.sim.PeekLong(0, 0, kLong, 0));
    for (auto _ : state) benchmark::DoNotOptimize(machine.sim.PeekLong(0, 0, kLong, 0));
}
BENCHMARK(BM_SimStorageRead);

void BM_SetValueLong(benchmark::State& state) {
    TwoHandles machine;
    std::int32_t value = 0;
    for (int i = 0; i < kWarmRounds; ++i) machine.daten->SetValue(kLong, i & 0xFFFF, 0, 255);
    for (auto _ : state) {
        benchmark::DoNotOptimize(machine.daten->SetValue(kLong, value, 0, 255));
        value = (value + 1) & 0xFFFF;
    }
}
BENCHMARK(BM_SetValueLong);

void BM_SimStorageWrite(benchmark::State& state) {
    TwoHandles machine;
    std::int32_t value = 0;
    for (int i = 0; i < kWarmRounds; ++i) machine.sim.PokeLong(0, 0, kLong, 0, i & 0xFFFF);
    for (auto _ : state) {
        machine.sim.PokeLong(0, 0, kLong, 0, value);
        value = (value + 1) & 0xFFFF;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SimStorageWrite);

void BM_Value2StringQZReal(benchmark::State& state) {
    TwoHandles machine;
    const std::vector<std::int32_t>& numbers = Numbers();
    char text[Daten::kTextBufferSize];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            machine.daten->Value2String(kLength, numbers[i], text, sizeof text));
        benchmark::DoNotOptimize(text);
        i = (i + 1) & 1023;
    }
}
BENCHMARK(BM_Value2StringQZReal);

void BM_SnprintfInteger(benchmark::State& state) {
    const std::vector<std::int32_t>& numbers = Numbers();
    char text[Daten::kTextBufferSize];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            std::snprintf(text, sizeof text, "%d", static_cast<int>(numbers[i])));
        benchmark::DoNotOptimize(text);
        i = (i + 1) & 1023;
    }
}
BENCHMARK(BM_SnprintfInteger);

void BM_String2ValueQZReal(benchmark::State& state) {
    TwoHandles machine;
    std::vector<std::string> texts;
    for (std::int32_t number : Numbers()) {
        char text[Daten::kTextBufferSize];
        machine.daten->Value2String(kLength, number, text, sizeof text);
        texts.push_back(text);
    }
    std::int32_t value = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(machine.daten->String2Value(kLength, texts[i].c_str(), value));
        benchmark::DoNotOptimize(value);
        i = (i + 1) & 1023;
    }
}
BENCHMARK(BM_String2ValueQZReal);

void BM_StrtolInteger(benchmark::State& state) {
    std::vector<std::string> texts;
    for (std::int32_t number : Numbers()) texts.push_back(std::to_string(number));
    std::size_t i = 0;
    for (auto _ : state) {
        char* end = nullptr;
        benchmark::DoNotOptimize(std::strtol(texts[i].c_str(), &end, 10));
        benchmark::DoNotOptimize(end);
        i = (i + 1) & 1023;
    }
}
BENCHMARK(BM_StrtolInteger);

}  // namespace
