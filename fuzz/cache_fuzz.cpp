// Any bytes as the handle cache or the definition cache, header and stamps
// included: a damaged or stale cache is refused (and rebuilt from the text
// files), never a crash. A cache that is accepted is then used: every record
// is read from the controller, displayed, and written back, and every name of
// the registry is looked up both ways. A well-formed cache that disagrees
// with its text file cannot be told from a good one, so the load may then
// fail, but never silently.
//
// Input: byte 0 bit 0 the cache (1 definitions), bit 1 a header of the
// input's own (XORed over the good one), bits 2-3 the stamp case; byte 1 the
// values the controller answers; then the header bytes (when chosen) and
// the cache's body.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "korvex/data/cdata.h"
#include "korvex/handles/cache_file.h"
#include "korvex/handles/handles.h"
#include "korvex/korvex.h"

namespace {

using korvex::fuzzing::Fail;
using korvex::fuzzing::FuzzMachine;

constexpr long kHandleCacheTime = 1577880000;  // 2020-01-01

struct Machine : FuzzMachine {
    Machine() : FuzzMachine(false) {
        Write("HANDLES.TXT",
              "XPOS=1\nYPOS=2\nTOOL=3\nNAME=4\nFLAGS=5\nSPEED=6\nFACTOR=7\nSHORT=8\n"
              "HEX=9\nBIN=10\nCMD=11\nTEXT=12\n");
        Write("QZ_DATEN.TXT",
              "[XPOS]\nType = QZREAL\nMin = -100000\nMax = 100000\nMetricFormat = 10 3\nInchFormat = 10 4\nZReverse = YES\n"
              "[YPOS]\nType = QZSHORTREAL\nMin = -3000\nMax = 3000\nMetricFormat = 8 3\nInchFormat = 8 4\nWriteDirect = YES\n"
              "[TOOL]\nType = WORD\nMin = 0\nMax = 500\nMetricFormat = 5 0\nInchFormat = 5 0\nInchMetric = NO\nWriteDirect = YES\n"
              "[NAME]\nType = STRING 20\nWriteDirect = YES\n"
              "[FLAGS]\nType = BITMASK 4\nWriteDirect = YES\nSwapBitmask = YES\n"
              "[SPEED]\nType = REAL\nMin = -100\nMax = 100\nMetricFormat = 8 2\nInchFormat = 8 2\nWriteDirect = YES\n"
              "[FACTOR]\nType = LONGINT\nMin = -2147483648\nMax = 2147483647\nMetricFormat = 12 0\nInchFormat = 12 0\nUserFactor = 0.5\nWriteDirect = YES\n"
              "[SHORT]\nType = SHORTINT\nMin = -128\nMax = 127\nMetricFormat = 4 0\nInchFormat = 4 0\nNotValid = -1\nWriteDirect = YES\n"
              "[HEX]\nType = QZLONGCARD\nMin = 0\nMax = 2147483647\nMetricFormat = 8 0\nInchFormat = 8 0\nBase = Hex\nWriteDirect = YES\n"
              "[BIN]\nType = BYTE\nMin = 0\nMax = 255\nMetricFormat = 8 0\nInchFormat = 8 0\nBase = Bin\nWriteDirect = YES\n"
              "[CMD]\nType = QZREAL\nMin = -100000\nMax = 100000\nMetricFormat = 10 3\nInchFormat = 10 4\nWriteDirect = NO\nTabIndex = T\nTabParIdent = D\n"
              "[TEXT]\nType = STRING 300\nWriteDirect = NO,CommValue\n");
        Write("COMM.TXT", "[TEXT]\nVal=TX?\n");
        Stamp("HANDLES.TXT", kHandleCacheTime - 100);
        Stamp("QZ_DATEN.TXT", kHandleCacheTime - 100);
        korvex::files::BuildHeaderFor(Path("HANDLES.TXT").c_str(), handleHeader);
        korvex::files::BuildHeaderFor(Path("QZ_DATEN.TXT").c_str(), definitionHeader);
        // The good caches, for the runs that damage the other one.
        Handles::DropRegistry();
        delete new Daten(model.Parent(), "QZ_DATEN", "HANDLES");
        goodHandleCache = Read("HANDLES.BIN");
        goodDefinitionCache = Read("QZ_DATEN.BIN");
        if (goodHandleCache.empty() || goodDefinitionCache.empty()) Fail("no good caches");
    }
    korvex::files::Header handleHeader;
    korvex::files::Header definitionHeader;
    std::string goodHandleCache;
    std::string goodDefinitionCache;
};

// Reads, shows and writes back every defined handle, and every registered
// name both ways.
void UseEverything(Daten& daten, std::uint8_t seed, korvex::host::SimDriver& sim) {
    for (std::size_t i = 0; i < daten.DefinitionCount(); ++i) {
        const auto handle = static_cast<std::uint16_t>(i);
        const DInfo* record = daten.ExistHandle(handle);
        if (!record) continue;
        for (std::uint16_t index = 0; index < 2; ++index) {
            std::vector<std::uint8_t> bytes(record->mLength < 512 ? record->mLength : 512);
            for (std::size_t b = 0; b < bytes.size(); ++b)
                bytes[b] = static_cast<std::uint8_t>(seed * (b + 1) + index);
            sim.Poke(0, 0, handle, index, bytes.data(), bytes.size());
            std::int32_t number = 0;
            double real = 0;
            char text[Daten::kTextBufferSize];
            char field[257];
            if (daten.GetValue(handle, number, index, 0) == 0) {
                daten.Value2String(handle, number, text, sizeof text);
                daten.SetValue(handle, number, index, 0);
            }
            if (daten.GetValue(handle, real, index, 0) == 0) {
                daten.Value2String(handle, real, text, sizeof text);
                daten.SetValue(handle, real, index, 0);
            }
            if (daten.GetValue(handle, field, 256, index, 0) == 0) daten.SetValue(handle, field, index, 0);
            unsigned char block[300];
            if (daten.GetValue(handle, static_cast<const void*>(block), sizeof block, index, 0) == 0)
                daten.SetValue(handle, static_cast<const void*>(block), sizeof block, index, 0);
            std::uint8_t width = 0, decimals = 0;
            daten.GetActFormat(handle, width, decimals);
            daten.GetUnitString(handle);
        }
    }
    Handles& handles = *daten.GetHandles();
    char name[Handles::kNameBufferSize];
    Handles::ForEach([&](std::uint16_t handle, std::string_view entry) {
        const std::string copy(entry);
        if (handles.NameToHandle(copy.c_str()) == Handles::kNoHandle) Fail("name not found");
        if (!handles.HandleToName(handle, name, 7)) Fail("number not found");
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine& machine = *new Machine;  // lives as long as the process
    if (size < 2) return 0;
    machine.ClearHost();
    const bool definitions = data[0] & 1;
    const bool ownHeader = data[0] & 2;
    const int stampCase = (data[0] >> 2) & 3;
    const std::uint8_t seed = data[1];
    data += 2;
    size -= 2;

    std::string bytes(reinterpret_cast<const char*>(definitions ? machine.definitionHeader
                                                                : machine.handleHeader),
                      korvex::files::kHeaderSize);
    if (ownHeader) {
        const std::size_t n = size < bytes.size() ? size : bytes.size();
        for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(bytes[i] ^ data[i]);
        data += n;
        size -= n;
    }
    bytes.append(reinterpret_cast<const char*>(data), size);

    machine.Remove("QZ_DATEN.BIN");
    if (definitions) {
        machine.Write("HANDLES.BIN", machine.goodHandleCache);
        machine.Stamp("HANDLES.BIN", kHandleCacheTime);
        machine.Write("QZ_DATEN.BIN", bytes);
        // Stamp cases: newer than the handle cache (used), as old (stale),
        // older (stale), or the text file changed since (header mismatch).
        static const long kOffsets[] = {100, 0, -50, 100};
        machine.Stamp("QZ_DATEN.BIN", kHandleCacheTime + kOffsets[stampCase]);
        machine.Stamp("QZ_DATEN.TXT", kHandleCacheTime - (stampCase == 3 ? 40 : 100));
    } else {
        machine.Write("HANDLES.BIN", bytes);
        machine.Stamp("HANDLES.TXT", kHandleCacheTime - (stampCase == 3 ? 40 : 100));
    }
    Handles::DropRegistry();
    Daten* daten = new Daten(machine.model.Parent(), "QZ_DATEN", "HANDLES");
    if (daten->ConstructionResult() != 0) {
        if (machine.host.messageBoxes.empty()) {
            std::fprintf(stderr, "silent load failure: result %u\n", daten->ConstructionResult());
            Fail("silent load failure");
        }
    } else {
        UseEverything(*daten, seed, machine.sim);
    }
    CData::ForgetDaten(daten);
    delete daten;
    // Back to the stamps the good caches were made for.
    machine.Stamp("QZ_DATEN.TXT", kHandleCacheTime - 100);
    machine.Stamp("HANDLES.TXT", kHandleCacheTime - 100);
    return 0;
}
