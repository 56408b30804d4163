// Loading a machine of 15,000 handles and 15,000 definition records, from
// the text files and from the caches, each against reading the same files'
// bytes into memory in the same iteration. The counter "x_plain_read" is the
// load's time divided by the plain read's. Both are the thread's CPU time
// (user and system), so that other work on the machine does not show.
// "registry_fill_ms" is what entering the same names into an empty registry
// costs on its own; both loads enter them once (the text load in the order
// of the cache it writes).
#include <benchmark/benchmark.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvex/host/host_model.h"
#include "korvex/korvex.h"
#include "bench/bench_machine.h"

namespace {

constexpr int kRecords = 15000;

// A machine directory with a handle file and a definition file in the style
// of a real machine: remarks, a constants section, every type.
class GeneratedMachine {
  public:
    GeneratedMachine() : dir(mTemporary.Path()) {
        std::string handles = "// generated handle file\n";
        std::string definitions =
            "; generated definition file\n[CONSTANTS]\nMAXPOS=750000\nMINPOS=-5000\n"
            "TEXTLEN=32\nMAXFEED=60000\n\n";
        for (int i = 0; i < kRecords; ++i) {
            const std::string name = "Param" + std::to_string(i) + "_" + std::to_string(i % 37);
            handles +=
                name + " = " + std::to_string(i) + "  ; parameter " + std::to_string(i) + "\n";
            definitions += "[" + name + "]\n";
            switch (i % 5) {
                case 0:
                    definitions +=
                        "Type = QZREAL\nMin = MINPOS\nMax = MAXPOS\nDefault = 0\n"
                        "MetricFormat = 10 3\nInchFormat = 10 4\nMetricUnit = [mm]\n"
                        "InchUnit = [inch]\nWriteDirect = YES\n";
                    break;
                case 1:
                    definitions += "Type = STRING TEXTLEN\nWriteDirect = YES\n";
                    break;
                case 2:
                    definitions +=
                        "Type = QZLONGCARD\nMax = MAXFEED\nMetricFormat = 8 3\nInchFormat = 8 2\n"
                        "MetricUnit = [m/min]\nInchUnit = [inch/min]\nTabIdent = T\n"
                        "TabParIdent = F\n";
                    break;
                case 3:
                    definitions +=
                        "Type = BYTE\nMin = 0\nMax = 1\nMetricFormat = 1 0\nInchMetric = NO\n"
                        "Visible = NO\n";
                    break;
                default:
                    definitions +=
                        "Type = REAL\nMin = -1.5\nMax = 1.5\nDefault = 0.5\nMetricFormat = 8 4\n"
                        "InchMetric = NO\nUserFactor = 0.001\n";
                    break;
            }
            definitions += "\n";
        }
        Write("HANDLES.TXT", handles);
        Write("QZ_DATEN.TXT", definitions);
        model.global.mMachineDir = dir;
        model.global.mMachineName = "BENCH";
    }
    std::string Path(const char* file) const { return dir + "/" + file; }

    void Write(const char* file, const std::string& content) const {
        std::FILE* out = std::fopen(Path(file).c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), out);
        std::fclose(out);
    }

    void RemoveCaches() const {
        std::remove(Path("HANDLES.BIN").c_str());
        std::remove(Path("QZ_DATEN.BIN").c_str());
    }

    // Dates the handle cache back, so that the definition cache counts as
    // the newer one.
    void AgeHandleCache() const {
        struct timeval times[2];
        times[0].tv_sec = times[1].tv_sec = std::time(nullptr) - 60;
        times[0].tv_usec = times[1].tv_usec = 0;
        ::utimes(Path("HANDLES.BIN").c_str(), times);
    }

  private:
    korvex::bench::TemporaryDirectory mTemporary;

  public:
    std::string dir;
    korvex::host::HostModel model;
};

// A silent host whose fatal exit returns, so that a load error shows as a
// skipped benchmark rather than the end of the process.
class BenchHost : public korvex::host::HostServices {
  public:
    BenchHost() { korvex::host::SetHost(this); }
    void FatalExit(int) override {}
};

GeneratedMachine& Machine() {
    static BenchHost host;
    static GeneratedMachine machine;
    return machine;
}

// The baseline: the files' bytes into memory.
std::size_t ReadBytes(const std::string& path, std::vector<char>& buffer) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 0;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    buffer.resize(static_cast<std::size_t>(size));
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    std::fclose(file);
    return got;
}

void Run(benchmark::State& state, bool fromCache) {
    GeneratedMachine& machine = Machine();
    const char* files[2] = {fromCache ? "HANDLES.BIN" : "HANDLES.TXT",
                            fromCache ? "QZ_DATEN.BIN" : "QZ_DATEN.TXT"};
    // One untimed round of each side first: the files in the page cache, the
    // heap grown. A text load also writes the caches the cache load needs.
    if (!fromCache) machine.RemoveCaches();
    Handles::DropRegistry();
    delete new Daten(machine.model.Parent(), "QZ_DATEN", "HANDLES");
    if (fromCache) machine.AgeHandleCache();
    std::vector<char> a, b;
    ReadBytes(machine.Path(files[0]), a);
    ReadBytes(machine.Path(files[1]), b);
    double readTime = 0, loadTime = 0, registryTime = 0;
    for (auto _ : state) {
        if (!fromCache) machine.RemoveCaches();
        Handles::DropRegistry();

        double start = korvex::bench::ThreadSeconds();
        benchmark::DoNotOptimize(ReadBytes(machine.Path(files[0]), a));
        benchmark::DoNotOptimize(ReadBytes(machine.Path(files[1]), b));
        const double read = korvex::bench::ThreadSeconds() - start;

        start = korvex::bench::ThreadSeconds();
        std::unique_ptr<Daten> daten(new Daten(machine.model.Parent(), "QZ_DATEN", "HANDLES"));
        const double load = korvex::bench::ThreadSeconds() - start;

        if (daten->ConstructionResult() != 0 || daten->DefinitionCount() != kRecords ||
            daten->DefinitionsFromCache() != fromCache || Handles::LoadedFromCache() != fromCache) {
            state.SkipWithError("the generated machine did not load as expected");
            break;
        }
        state.SetIterationTime(load);
        readTime += read;
        loadTime += load;

        // The part of the load that is the registry's own: the same names
        // entered into an empty registry.
        std::vector<std::pair<std::string, std::uint16_t>> names;
        Handles::ForEach([&names](std::uint16_t handle, std::string_view name) {
            names.emplace_back(std::string(name), handle);
        });
        daten.reset();
        Handles::DropRegistry();
        start = korvex::bench::ThreadSeconds();
        Handles::CreateRegistry();
        Handles front(nullptr, nullptr);
        for (const auto& [name, handle] : names) front.addNew(name.c_str(), handle);
        registryTime += korvex::bench::ThreadSeconds() - start;
    }
    state.counters["plain_read_ms"] =
        benchmark::Counter(readTime * 1e3 / static_cast<double>(state.iterations()));
    state.counters["registry_fill_ms"] =
        benchmark::Counter(registryTime * 1e3 / static_cast<double>(state.iterations()));
    state.counters["x_plain_read"] = benchmark::Counter(readTime > 0 ? loadTime / readTime : 0);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(a.size() + b.size()));
}

void BM_LoadFromText(benchmark::State& state) {
    Run(state, false);
}
void BM_LoadFromCaches(benchmark::State& state) {
    Run(state, true);
}

// Take medians of five runs (--benchmark_repetitions=5): the ratio swings
// with the machine's other work.
BENCHMARK(BM_LoadFromText)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromCaches)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
