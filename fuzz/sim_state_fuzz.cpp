// Any bytes as the simulated controller's state file (korvex --sim FILE): a
// malformed file is refused with the line it failed on and leaves the state
// as it was; a file that loads is saved again, and the saved file must load
// to the same state (the second save equals the first). The loaded state is
// then used: every handle of the sample machine that it gives a value is
// read through Daten and shown, and memory and offset reads cover the image.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_machine.h"
#include "korvex/korvex.h"

namespace {

using korvex::fuzzing::Fail;

struct Machine : korvex::fuzzing::FuzzMachine {
    Machine() : FuzzMachine(true) {
        Handles::DropRegistry();
        daten = new Daten(model.Parent(), "QZ_DATEN", "HANDLES");
        if (daten->ConstructionResult() != 0) Fail("sample machine does not load");
    }
    Daten* daten = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine& machine = *new Machine;  // lives as long as the process
    machine.ClearHost();
    machine.Write("STATE", std::string(reinterpret_cast<const char*>(data), size));
    std::string error;
    korvex::host::SimDriver& sim = machine.sim;
    const std::string before = (sim.SaveState(machine.Path("BEFORE")), machine.Read("BEFORE"));
    if (!sim.LoadState(machine.Path("STATE"), error)) {
        if (error.empty()) Fail("refused without a reason");
        sim.SaveState(machine.Path("AFTER"));
        if (machine.Read("AFTER") != before) Fail("refused state changed the controller");
        return 0;
    }
    if (!sim.SaveState(machine.Path("SAVED"))) Fail("state cannot be saved");
    korvex::host::SimDriver again;
    if (!again.LoadState(machine.Path("SAVED"), error)) Fail("saved state does not load");
    again.SaveState(machine.Path("SAVED2"));
    if (machine.Read("SAVED") != machine.Read("SAVED2")) Fail("state changed on the round trip");

    Daten& daten = *machine.daten;
    char text[Daten::kTextBufferSize];
    char field[256];
    for (std::size_t i = 0; i < daten.DefinitionCount(); ++i) {
        const auto handle = static_cast<std::uint16_t>(i);
        // The handles the state gave a value (the others read as zeros).
        if (!daten.ExistHandle(handle) || sim.Peek(0, 0, handle, 0).empty()) continue;
        std::int32_t number = 0;
        if (daten.GetValue(handle, number, 0, 0) == 0)
            daten.Value2String(handle, number, text, sizeof text);
        daten.GetValue(handle, field, sizeof field - 1, 0, 0);
        daten.GetMaxTabElemAnz(handle);
    }
    unsigned char memory[4096];
    const std::uint32_t base = korvex::host::SimDriver::kImageStart;
    for (std::uint32_t address = base; address < base + 16 * 1024; address += sizeof memory)
        sim.ReadMemory(0, address, sizeof memory, 150, 0, memory, TDriver::LocationDefault);
    daten.GetOfsValue(memory, 0, 512);
    return 0;
}
