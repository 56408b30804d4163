// The controller structure tree: building a CMotDirect (56,533 data objects)
// against allocating as many blocks of the same sizes and copying their
// names, and the heap the tree takes per data object (all of it: the
// objects, the registry's entries and names, the Daten's tables).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "korvex/host/host_model.h"
#include "korvex/host/sim_driver.h"
#include "bench/bench_machine.h"
#include "korvex/structures/cmotdirect.h"
#include "korvex/structures/proxy.h"

namespace {

// The tree is built on request, over a fresh registry each time: its names
// are new again.
struct TreeMachine : korvex::bench::BenchMachine {
    TreeMachine() : BenchMachine("Counter=1\n", false) {}
    std::unique_ptr<CMotDirect> Build() {
        Handles::DropRegistry();
        CData::ForgetDaten(nullptr);
        return std::make_unique<CMotDirect>(model.Parent(), const_cast<char*>("QZ_DATEN"),
                                            const_cast<char*>("HANDLES"), nullptr);
    }
};

void ForEachObject(CMotDirect& mot, const std::function<void(CData&)>& visit) {
    korvex::structures::Visit(SPC_SDoInit::Layout(), &mot.DoInit(), visit);
    korvex::structures::Visit(SPC_SNotInit::Layout(), &mot.NotInit(), visit);
    korvex::structures::Visit(SPC_LowData_Typ::Layout(), &mot.LowData(), visit);
}

void BM_BuildMotDirect(benchmark::State& state) {
    TreeMachine machine;
    // One untimed tree first, as the baseline allocates its blocks once
    // untimed: both then run on a heap already grown to the tree's size.
    machine.Build().reset();
    for (auto _ : state) {
        auto mot = machine.Build();
        benchmark::DoNotOptimize(mot.get());
        state.PauseTiming();
        mot.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 56533);
}
BENCHMARK(BM_BuildMotDirect)->Unit(benchmark::kMillisecond);

// The bare work: one block per data object of the tree's sizes, and a
// copy of each name.
void BM_BaselineAllocateAndCopyNames(benchmark::State& state) {
    std::vector<std::pair<std::size_t, std::string>> objects;
    {
        TreeMachine machine;
        auto mot = machine.Build();
        ForEachObject(*mot, [&](CData& object) {
            const std::size_t size = dynamic_cast<CDrvStr*>(&object) ? sizeof(CDrvStr) : sizeof(CDrvNumber);
            objects.emplace_back(size, object.Name());
        });
    }
    std::vector<void*> blocks(objects.size());
    std::vector<char*> names(objects.size());
    auto allocate = [&] {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            blocks[i] = std::malloc(objects[i].first);
            std::memset(blocks[i], 0, objects[i].first);
            const std::string& name = objects[i].second;
            names[i] = static_cast<char*>(std::malloc(name.size() + 1));
            std::memcpy(names[i], name.c_str(), name.size() + 1);
        }
        benchmark::DoNotOptimize(blocks.data());
    };
    auto release = [&] {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            std::free(blocks[i]);
            std::free(names[i]);
        }
    };
    allocate();
    release();
    for (auto _ : state) {
        allocate();
        state.PauseTiming();
        release();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * objects.size());
}
BENCHMARK(BM_BaselineAllocateAndCopyNames)->Unit(benchmark::kMillisecond);

// Heap in use after the tree is built, less before, per data object.
void BM_TreeMemoryPerObject(benchmark::State& state) {
    TreeMachine machine;
    double perObject = 0;
    for (auto _ : state) {
        Handles::DropRegistry();
        CData::ForgetDaten(nullptr);
        const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
        auto mot = std::make_unique<CMotDirect>(machine.model.Parent(), const_cast<char*>("QZ_DATEN"),
                                                const_cast<char*>("HANDLES"), nullptr);
        const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
        std::size_t objects = 0;
        ForEachObject(*mot, [&](CData&) { ++objects; });
        perObject = static_cast<double>(after - before) / static_cast<double>(objects);
        mot.reset();
    }
    state.counters["bytes_per_object"] = perObject;
}
BENCHMARK(BM_TreeMemoryPerObject)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
