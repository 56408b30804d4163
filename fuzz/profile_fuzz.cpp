// Any bytes as the machine's KORVEX.INI or as its command file COMM.TXT.
//
// INI (byte 0 bit 0 clear): the host's INI reader gives the two file names
// to InitKorvex, which loads whatever they name (or refuses with a message
// box) and is shut down again; any section and key of the file is read
// too. Command file (bit 0 set): value commands (templates, "?" replaced by
// the station) and flag commands (Val0, Val1, ...) of a handle the input
// chooses, with the station count (1489) it chooses; bit 1 puts a section
// of that handle's name before the bytes, so that its keys are found.
//
// Input: byte 0 the mode, byte 1 the handle, byte 2 the index and station
// count, byte 3 the flag value; then the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "korvex/data/cdata.h"
#include "korvex/host/profile.h"
#include "korvex/korvex.h"

namespace {

using korvex::fuzzing::Fail;

// Handles whose commands come from the command file, and some with fixed
// command words, for the value and flag roads.
const char* const kNames[] = {
    "ComEURM",      "ZeroOffsX",  "ZeroOffsY",     "FeedOverride", "HoodHeight", "MetricMode",
    "DustExtraction", "TolCheckOn", "StationEnable", "SpindleEnable", "VacuumZone", "ToolLifeEnd",
    "MachOptions",  "ComZOVRFlags", "ComWZWM",     "ComynPRGM",    "ComDITM",    "ComMESS",
    "ComynCDMO",    "ComynSPEK",  "ComFVO",        "ComPAXMIN",    "ComFAMask",  "CHEKMode",
};

struct Machine : korvex::fuzzing::FuzzMachine {
    Machine() : FuzzMachine(true) {
        goodIni = Read("KORVEX.INI");
        goodCommands = Read("COMM.TXT");
        Handles::DropRegistry();
        daten = new Daten(model.Parent(), "QZ_DATEN", "HANDLES");
        if (daten->ConstructionResult() != 0) Fail("sample machine does not load");
        for (const char* name : kNames) {
            const std::uint16_t handle = daten->GetHandles()->NameToHandle(name);
            if (handle != Handles::kNoHandle) handles.emplace_back(handle, name);
        }
        if (handles.empty()) Fail("no command handles");
    }
    std::string goodIni;
    std::string goodCommands;
    Daten* daten = nullptr;
    std::vector<std::pair<std::uint16_t, std::string>> handles;
};

void Ini(Machine& machine, const std::string& bytes) {
    machine.Write("KORVEX.INI", bytes);
    korvex::host::ProfileIni ini(machine.Path("KORVEX.INI"));
    char value[64];
    ini.SetSection("DATAINTERFACE", false);
    ini.InitString("HANDLE", value, sizeof value, "");
    ini.InitString("DATEN", value, 3, "default that is longer");
    // A section and key named by the file's own first line.
    const std::string first = bytes.substr(0, bytes.find('\n'));
    korvex::host::ReadProfileString(first.c_str(), first.c_str(), "", value, sizeof value,
                                    machine.Path("KORVEX.INI").c_str());
    std::string found;
    korvex::host::LookupProfileValue(bytes, "DATAINTERFACE", "HANDLE", found);

    // The names reach the real load: the registry too is loaded again.
    Handles::DropRegistry();
    Daten* daten = InitKorvex(&ini, machine.model.Parent(), NewDatenProc);
    if (daten) {
        if (daten->ConstructionResult() != 0 && machine.host.messageBoxes.empty())
            Fail("silent load failure");
        ShutDownKorvex(daten);
    }
    machine.Write("KORVEX.INI", machine.goodIni);
    if (!Handles::IsLoaded()) Handles(machine.model.Parent(), "HANDLES");
}

void Commands(Machine& machine, const std::uint8_t* data, const std::string& bytes) {
    const auto& [handle, name] = machine.handles[data[1] % machine.handles.size()];
    std::string file = bytes;
    if (data[0] & 2) file = "[" + name + "]\n" + file;
    machine.Write("COMM.TXT", file);
    const std::uint16_t index = data[2] & 15;
    machine.sim.PokeLong(0, 0, 1489, 0, data[2] >> 4);
    machine.sim.SetBusyReads(0);
    Daten& daten = *machine.daten;
    daten.HandleCommVal("12.5", handle, index, 255);
    daten.HandleCommFlag(handle, data[3] % 4, index, 255);
    daten.HandleCommFlag(handle, static_cast<std::int8_t>(data[3]), index, 255);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine& machine = *new Machine;  // lives as long as the process
    if (size < 4) return 0;
    machine.ClearHost();
    const std::string bytes(reinterpret_cast<const char*>(data + 4), size - 4);
    if (data[0] & 1)
        Commands(machine, data, bytes);
    else
        Ini(machine, bytes);
    return 0;
}
