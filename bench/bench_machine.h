// The machine the benchmarks run on: a temporary machine directory with the
// handle file it is given and empty definition and command files, the
// simulated controller, and a Daten over them; the benchmark defines the
// handles it reads and writes.
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

// Thread CPU seconds since start.
inline double Seconds(double start) {
    return ThreadSeconds() - start;
}

// A new directory below /tmp, removed with everything in it at the end.
class TemporaryDirectory {
  public:
    TemporaryDirectory() {
        char pattern[] = "/tmp/korvex-bench-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        mPath = made ? made : "";
    }
    ~TemporaryDirectory() {
        std::error_code error;
        if (!mPath.empty()) std::filesystem::remove_all(mPath, error);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& Path() const { return mPath; }

  private:
    std::string mPath;
};

class BenchMachine {
  public:
    // With openDaten false the caller builds its own (a CMotDirect, say).
    explicit BenchMachine(const std::string& handles = "Counter=1\n", bool openDaten = true) {
        mDir = mTemporary.Path().empty() ? "/tmp" : mTemporary.Path();
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
    }
    BenchMachine(const BenchMachine&) = delete;
    BenchMachine& operator=(const BenchMachine&) = delete;

    // A LONGINT handle over the whole 32-bit range, written directly, holding
    // value in the simulated controller.
    void DefineLong(std::uint16_t handle, std::int32_t value, const char* unit = "") {
        daten->SetDefinition(handle,
                             new DInfo(DInfo::LONGINT, INT32_MIN, INT32_MAX, 0, 10, 0, 10, 0, 1.0,
                                       DInfo::TPara, 1, 0, 1, unit, unit, "", "", "", 0, 0, 0, 10));
        sim.PokeLong(0, 0, handle, 0, value);
    }

    korvex::host::HostModel model;
    korvex::host::SimDriver sim;
    std::unique_ptr<Daten> daten;

  private:
    TemporaryDirectory mTemporary;
    std::string mDir;
};

}  // namespace korvex::bench

#endif  // KORVEX_BENCH_BENCH_MACHINE_H_
