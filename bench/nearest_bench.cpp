// "Did you mean": the nearest of the structure tree's 56,533 names to a
// mistyped one, against the cheapest pass a look-up over the same names can
// be (one case-blind comparison each). The ratio says what the edit
// distance costs on top of visiting every name.
#include <benchmark/benchmark.h>
#include <strings.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "korvex/structures/cmotdirect.h"
#include "tools/nearest.h"

namespace {

struct TreeNames : korvex::bench::BenchMachine {
    TreeNames() : BenchMachine("Counter=1\n", false) {
        mot = std::make_unique<CMotDirect>(model.Parent(), const_cast<char*>("QZ_DATEN"),
                                           const_cast<char*>("HANDLES"), nullptr);
        Handles::ForEach([this](std::uint16_t, std::string_view name) { names.emplace_back(name); });
        mot->ForEachUnnumbered([this](const std::string& name, CData*) { names.push_back(name); });
    }
    ~TreeNames() {
        CData::ForgetDaten(mot.get());
        mot.reset();
    }
    std::unique_ptr<CMotDirect> mot;
    std::vector<std::string> names;
};

TreeNames& Tree() {
    static TreeNames tree;
    return tree;
}

// A short typo, a long one near the end of a long name, and a word near
// nothing (the case every candidate is left early).
const char* const kWords[] = {"XParkPoss", "Achsen_Data_15_SpotRefOfset_",
                              "GraphicQue_27_GraphicZRemainResult_GraphicZRemainXY_2_Yvalu_",
                              "qqqqqqqqqq"};

void BM_BaselineCaseBlindScan(benchmark::State& state) {
    const auto& names = Tree().names;
    const char* word = kWords[state.range(0)];
    for (auto _ : state) {
        std::size_t equal = 0;
        for (const std::string& name : names) equal += ::strcasecmp(name.c_str(), word) == 0;
        benchmark::DoNotOptimize(equal);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(names.size()));
}
BENCHMARK(BM_BaselineCaseBlindScan)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_NearestTreeNames(benchmark::State& state) {
    const auto& names = Tree().names;
    const char* word = kWords[state.range(0)];
    for (auto _ : state) {
        korvex::cli::Nearest nearest(word);
        for (const std::string& name : names) nearest.Offer(name);
        benchmark::DoNotOptimize(nearest.Best());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(names.size()));
}
BENCHMARK(BM_NearestTreeNames)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// As the tool does it: straight from the registry and the unnumbered names.
void BM_NearestThroughRegistry(benchmark::State& state) {
    TreeNames& tree = Tree();
    for (auto _ : state) {
        korvex::cli::Nearest nearest(kWords[0]);
        Handles::ForEach([&nearest](std::uint16_t, std::string_view name) { nearest.Offer(name); });
        tree.mot->ForEachUnnumbered(
            [&nearest](const std::string& name, CData*) { nearest.Offer(name); });
        benchmark::DoNotOptimize(nearest.Best());
    }
}
BENCHMARK(BM_NearestThroughRegistry)->Unit(benchmark::kMillisecond);

}  // namespace
