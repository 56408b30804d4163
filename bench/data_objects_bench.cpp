// Data objects against baselines timed in the same run:
// - a CDrvNumber read and written through Daten::GetValue/SetValue of its
//   registered handle against reading and writing the same bytes of the
//   simulated controller's memory directly (counter x_direct);
// - building 50,000 registered CDrvNumbers against allocating 50,000 blocks
//   of the same size and copying their names (counter x_plain);
// - the heap bytes per object, everything included (object, definition
//   record, name in the registry, table slot): counter bytes_per_object.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "korvex/data/numbers.h"
#include "korvex/data/strings.h"
#include "korvex/host/host_model.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"
#include "bench/bench_machine.h"

namespace {

using korvex::bench::BenchMachine;
using korvex::bench::Seconds;
using korvex::bench::ThreadSeconds;

constexpr std::uint32_t kAddress = 0x2E5E8 + 0x100;  // stored swapped
constexpr int kObjects = 50000;

// The controller word at address, read and written as the object does it
// (big-endian above the swap limit), straight from the memory image.
std::int32_t ReadDirect(korvex::host::SimDriver& sim, std::uint32_t address) {
    std::uint8_t bytes[4];
    sim.ReadMemory(0, address, 4, 150, 0, bytes, TDriver::LocationDefault);
    return static_cast<std::int32_t>((std::uint32_t{bytes[0]} << 24) | (bytes[1] << 16) |
                                     (bytes[2] << 8) | bytes[3]);
}

void WriteDirect(korvex::host::SimDriver& sim, std::uint32_t address, std::int32_t value) {
    const auto word = static_cast<std::uint32_t>(value);
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
        static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
    sim.WriteMemory(0, address, 4, bytes, TDriver::LocationDefault);
}

void BM_DrvNumberReadWrite(benchmark::State& state) {
    BenchMachine machine;
    CDrvNumber number(machine.daten.get(), "Number", kAddress, 4, DInfo::LONGINT,
                      CData::RegisterNew);
    const std::uint16_t handle = number.Handle();
    constexpr int kRounds = 4096;
    double objectTime = 0, directTime = 0;
    for (auto _ : state) {
        std::int32_t value = 0;
        double start = ThreadSeconds();
        for (int i = 0; i < kRounds; ++i) {
            machine.daten->SetValue(handle, i, 0, 255);
            machine.daten->GetValue(handle, value, 0, 255);
            benchmark::DoNotOptimize(value);
        }
        const double object = Seconds(start);
        start = ThreadSeconds();
        for (int i = 0; i < kRounds; ++i) {
            WriteDirect(machine.sim, kAddress, i);
            value = ReadDirect(machine.sim, kAddress);
            benchmark::DoNotOptimize(value);
        }
        directTime += Seconds(start);
        objectTime += object;
        state.SetIterationTime(object);
    }
    state.counters["x_direct"] = benchmark::Counter(directTime > 0 ? objectTime / directTime : 0);
}
BENCHMARK(BM_DrvNumberReadWrite)->UseManualTime()->Unit(benchmark::kMicrosecond);

std::vector<std::string> Names() {
    std::vector<std::string> names;
    names.reserve(kObjects);
    char name[32];
    for (int i = 0; i < kObjects; ++i) {
        std::snprintf(name, sizeof name, "SPC_Field.member%05d", i);
        names.emplace_back(name);
    }
    return names;
}

template <class Object, class Build>
void BuildMany(benchmark::State& state, Build build) {
    const std::vector<std::string> names = Names();
    double buildTime = 0, plainTime = 0, bytes = 0;
    for (auto _ : state) {
        BenchMachine machine;
        std::vector<Object*> objects;
        objects.reserve(kObjects);
        const std::size_t heapBefore = mallinfo2().uordblks;
        double start = ThreadSeconds();
        for (int i = 0; i < kObjects; ++i) objects.push_back(build(machine, names[i].c_str(), i));
        const double built = Seconds(start);
        bytes += static_cast<double>(mallinfo2().uordblks - heapBefore) -
                 static_cast<double>(objects.capacity() * sizeof(Object*));
        if (machine.daten->GetCDataPtr(15000 + kObjects - 1) != objects.back()) {
            state.SkipWithError("the objects did not register");
            break;
        }
        // The baseline: a block of the object's size and a copy of its name.
        std::vector<std::pair<char*, char*>> plain;
        plain.reserve(kObjects);
        start = ThreadSeconds();
        for (int i = 0; i < kObjects; ++i) {
            char* block = new char[sizeof(Object)];
            std::memset(block, 0, sizeof(Object));
            const std::size_t length = names[i].size() + 1;
            char* name = new char[length];
            std::memcpy(name, names[i].c_str(), length);
            plain.emplace_back(block, name);
        }
        plainTime += Seconds(start);
        buildTime += built;
        state.SetIterationTime(built);
        for (auto& [block, name] : plain) {
            delete[] block;
            delete[] name;
        }
        for (Object* object : objects) delete object;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["x_plain"] = benchmark::Counter(plainTime > 0 ? buildTime / plainTime : 0);
    state.counters["bytes_per_object"] = benchmark::Counter(bytes / iterations / kObjects);
    state.counters["sizeof"] = benchmark::Counter(sizeof(Object));
}

void BM_Build50000DrvNumbers(benchmark::State& state) {
    BuildMany<CDrvNumber>(state, [](BenchMachine& machine, const char* name, int i) {
        return new CDrvNumber(machine.daten.get(), name, kAddress + 4u * i, 4, DInfo::LONGINT,
                              CData::RegisterNew);
    });
}
BENCHMARK(BM_Build50000DrvNumbers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Build50000DrvStrs(benchmark::State& state) {
    BuildMany<CDrvStr>(state, [](BenchMachine& machine, const char* name, int i) {
        return new CDrvStr(machine.daten.get(), name, kAddress + 16u * i, 16, CData::RegisterNew);
    });
}
BENCHMARK(BM_Build50000DrvStrs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
