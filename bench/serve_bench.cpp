// The service console's name search over the structure tree (56,533 data
// objects besides the machine's handles), against the bare walk over the
// same names that any search must make: one glob that matches a few hundred
// names and one that matches none.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/bench_machine.h"
#include "korvex/structures/cmotdirect.h"
#include "tools/bridge/bridge_format.h"
#include "tools/serve/console_api.h"

namespace {

const char* TypeName(unsigned) { return "TYPE"; }

// One tree for every benchmark of the file: building it takes longer than
// all the searches.
struct Tree {
    korvex::bench::BenchMachine machine{"Counter=1\n", false};
    std::unique_ptr<CMotDirect> mot;
    std::unique_ptr<korvex::serve::ConsoleApi> api;
    Tree() {
        mot = std::make_unique<CMotDirect>(machine.model.Parent(), const_cast<char*>("QZ_DATEN"),
                                           const_cast<char*>("HANDLES"), nullptr);
        api = std::make_unique<korvex::serve::ConsoleApi>(
            *mot, std::vector<std::string>{}, TypeName,
            [] { return std::vector<korvex::tools::LintFinding>{}; }, nullptr);
    }
    ~Tree() { CData::ForgetDaten(mot.get()); }
};

Tree& TheTree() {
    static Tree tree;
    return tree;
}

void BM_TreeSearch(benchmark::State& state, const char* match) {
    Tree& tree = TheTree();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const korvex::serve::Answer answer = tree.api->Names(match, "200", true);
        bytes = answer.body.size();
        benchmark::DoNotOptimize(answer.body.data());
    }
    state.counters["answer_bytes"] = static_cast<double>(bytes);
}
BENCHMARK_CAPTURE(BM_TreeSearch, some, "*Achsen_Data_4*")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TreeSearch, none, "*NoSuchField*")->Unit(benchmark::kMillisecond);

// The baseline: every name visited and matched, nothing looked up or answered.
void BM_BaselineWalkNames(benchmark::State& state) {
    Tree& tree = TheTree();
    for (auto _ : state) {
        std::size_t found = 0;
        Handles::ForEach([&](std::uint16_t, std::string_view name) {
            found += korvex::bridge::GlobMatch("*NoSuchField*", name);
        });
        tree.mot->ForEachUnnumbered([&](const std::string& name, CData*) {
            found += korvex::bridge::GlobMatch("*NoSuchField*", name);
        });
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_BaselineWalkNames)->Unit(benchmark::kMillisecond);

}  // namespace
