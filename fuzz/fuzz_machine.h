// What the fuzz targets share: a machine directory of their own (a copy of
// the sample machine, or files the target writes), the recording host over
// it, and a way to stop on a broken invariant that libFuzzer reports.
#ifndef KORVEX_FUZZ_FUZZ_MACHINE_H_
#define KORVEX_FUZZ_FUZZ_MACHINE_H_

#include <malloc.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "korvex/host/host_model.h"
#include "korvex/host/recording_host.h"
#include "korvex/host/sim_driver.h"

namespace korvex::fuzzing {

// A broken invariant: libFuzzer saves the input that got here.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

struct FuzzMachine {
    // withSample: start from a copy of the sample machine's files.
    explicit FuzzMachine(bool withSample) {
        // Every run builds and drops registries and memory images of a few
        // hundred KiB: kept in the heap, they are not faulted in afresh.
        ::mallopt(M_MMAP_THRESHOLD, 256 << 20);
        ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
        // In memory where the system has it: every run writes files.
        char memory[] = "/dev/shm/korvex-fuzz-XXXXXX";
        char disk[] = "/tmp/korvex-fuzz-XXXXXX";
        const char* made = ::mkdtemp(memory);
        dir = made ? made : ::mkdtemp(disk);
        Dirs().push_back(dir);
        std::atexit(RemoveDirs);
        if (withSample)
            for (const char* file : {"HANDLES.TXT", "QZ_DATEN.TXT", "COMM.TXT", "KORVEX.INI"})
                std::filesystem::copy_file(std::string(KORVEX_SAMPLE_MACHINE) + "/" + file,
                                           dir + "/" + file);
        model.global.mMachineDir = dir;
        model.global.mMachineName = "FUZZ";
        model.global.mDriver = &sim;
        model.global.mDriverName = "KORVEXSIM.DLL";
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Remove(const std::string& name) const { std::filesystem::remove(Path(name)); }
    // Sets a file's modification time (seconds since 1970).
    void Stamp(const std::string& name, long seconds) const {
        struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
        ::utimes(Path(name).c_str(), times);
    }
    void ClearHost() {
        host.lines.clear();
        host.messageBoxes.clear();
        host.halts.clear();
        host.stops.clear();
        host.fatalExits.clear();
    }

    std::string dir;
    korvex::host::RecordingHost host;
    korvex::host::HostModel model;
    korvex::host::SimDriver sim;

  private:
    static std::vector<std::string>& Dirs() {
        static auto* dirs = new std::vector<std::string>;  // outlives the exit handlers
        return *dirs;
    }
    static void RemoveDirs() {
        std::error_code ignored;
        for (const std::string& d : Dirs()) std::filesystem::remove_all(d, ignored);
    }
};

}  // namespace korvex::fuzzing

#endif  // KORVEX_FUZZ_FUZZ_MACHINE_H_
