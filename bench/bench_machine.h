// The machine the benchmarks run on: a temporary machine directory with the
// handle file it is given and empty definition and command files, the
// simulated controller, and a Daten over them.
#ifndef KORVEX_BENCH_BENCH_MACHINE_H_
#define KORVEX_BENCH_BENCH_MACHINE_H_

#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "korvex/data/cdata.h"
#include "korvex/host/host_model.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"

namespace korvex::bench {

// Thread CPU time: ratios hold on a machine shared with other work.
inline double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class BenchMachine {
  public:
    // With openDaten false the caller builds its own (a CMotDirect, say).
    explicit BenchMachine(const std::string& handles = "Counter=1\n", bool openDaten = true) {
        char pattern[] = "/tmp/korvex-bench-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        mDir = made ? made : "/tmp";
        std::ofstream(mDir + "/HANDLES.TXT") << handles;
        std::ofstream(mDir + "/QZ_DATEN.TXT") << "; records are set by the benchmark\n";
        std::ofstream(mDir + "/COMM.TXT") << "";
        model.global.mMachineDir = mDir;
        model.global.mMachineName = "BENCH";
        model.global.mDriver = &sim;
        model.global.mDriverName = "KORVEXSIM.DLL";
        Handles::DropRegistry();
        CData::ForgetDaten(nullptr);
        if (openDaten) daten = std::make_unique<Daten>(model.Parent(), "QZ_DATEN", "HANDLES");
    }
    ~BenchMachine() {
        if (daten) CData::ForgetDaten(daten.get());
        daten.reset();
        Handles::DropRegistry();
        std::error_code error;
        if (mDir != "/tmp") std::filesystem::remove_all(mDir, error);
    }
    BenchMachine(const BenchMachine&) = delete;
    BenchMachine& operator=(const BenchMachine&) = delete;

    korvex::host::HostModel model;
    korvex::host::SimDriver sim;
    std::unique_ptr<Daten> daten;

  private:
    std::string mDir;
};

}  // namespace korvex::bench

#endif  // KORVEX_BENCH_BENCH_MACHINE_H_
