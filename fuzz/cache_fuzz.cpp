// Any bytes after a valid header as the handle cache or as the definition
// cache: a damaged cache is refused (and rebuilt from the text files) and
// never a crash. A well-formed cache that disagrees with its text file cannot
// be told from a good one, so the load may then fail, but never silently.
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "korvex/handles/cache_file.h"
#include "korvex/host/host_model.h"
#include "korvex/host/recording_host.h"
#include "korvex/korvex.h"

namespace {

struct Machine {
    Machine() {
        char pattern[] = "/tmp/korvex-fuzz-XXXXXX";
        dir = ::mkdtemp(pattern);
        model.global.mMachineDir = dir;
        Write("HANDLES.TXT", "XPOS=1\nYPOS=2\nTOOL=3\nNAME=4\n");
        Write("QZ_DATEN.TXT",
              "[XPOS]\nType = QZREAL\nMetricFormat = 10 3\nInchFormat = 10 4\n"
              "[TOOL]\nType = WORD\nMetricFormat = 5 0\nInchMetric = NO\n"
              "[NAME]\nType = STRING 20\n");
        korvex::files::BuildHeaderFor((dir + "/HANDLES.TXT").c_str(), handleHeader);
        korvex::files::BuildHeaderFor((dir + "/QZ_DATEN.TXT").c_str(), definitionHeader);
        // A good handle cache, for the runs that damage the definition cache.
        Handles::DropRegistry();
        delete new Daten(model.Parent(), "QZ_DATEN", "HANDLES");
        std::ifstream in(dir + "/HANDLES.BIN", std::ios::binary);
        goodHandleCache.assign(std::istreambuf_iterator<char>(in), {});
    }
    // The good handle cache, older than any definition cache written now, so
    // that the definition cache counts as up to date and is read.
    void RestoreHandleCache() const {
        Write("HANDLES.BIN", goodHandleCache);
        struct timeval times[2] = {{1577880000, 0}, {1577880000, 0}};  // 2020
        ::utimes((dir + "/HANDLES.BIN").c_str(), times);
    }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string dir;
    korvex::host::RecordingHost host;
    korvex::host::HostModel model;
    korvex::files::Header handleHeader;
    korvex::files::Header definitionHeader;
    std::string goodHandleCache;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine machine;
    machine.host.lines.clear();
    machine.host.messageBoxes.clear();
    const bool definitions = size > 0 && (data[0] & 1);
    const korvex::files::Header& header =
        definitions ? machine.definitionHeader : machine.handleHeader;
    std::string bytes(reinterpret_cast<const char*>(header), korvex::files::kHeaderSize);
    if (size > 1) bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    std::filesystem::remove(machine.dir + "/QZ_DATEN.BIN");
    if (definitions)
        machine.RestoreHandleCache();
    machine.Write(definitions ? "QZ_DATEN.BIN" : "HANDLES.BIN", bytes);
    Handles::DropRegistry();
    Daten* daten = new Daten(machine.model.Parent(), "QZ_DATEN", "HANDLES");
    if (daten->ConstructionResult() != 0 && machine.host.messageBoxes.empty()) {
        std::fprintf(stderr, "silent load failure: result %u\n", daten->ConstructionResult());
        __builtin_trap();
    }
    delete daten;
    return 0;
}
