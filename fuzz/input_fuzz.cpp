// Any operator input for any handle of the sample machine: converted to a
// value, shown again, and given to the command interpreter, against a
// simulated controller whose values and busy flag the input also chooses.
// Nothing may overrun a buffer or crash, whatever is typed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "korvex/host/host_model.h"
#include "korvex/host/recording_host.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"

namespace {

struct Machine {
    Machine() {
        char pattern[] = "/tmp/korvex-fuzz-XXXXXX";
        dir = ::mkdtemp(pattern);
        for (const char* file : {"HANDLES.TXT", "QZ_DATEN.TXT", "COMM.TXT", "KORVEX.INI"})
            std::filesystem::copy_file(std::string(KORVEX_SAMPLE_MACHINE) + "/" + file,
                                       dir + "/" + file);
        model.global.mMachineDir = dir;
        model.global.mMachineName = "FUZZ";
        model.global.mDriver = &sim;
        model.global.mDriverName = "KORVEXSIM.DLL";
        Handles::DropRegistry();
        daten = new Daten(model.Parent(), "QZ_DATEN", "HANDLES");
        daten->SetMessagesOn(true);
        for (std::size_t handle = 0; handle < daten->DefinitionCount(); ++handle)
            if (daten->ExistHandle(static_cast<std::uint16_t>(handle)))
                handles.push_back(static_cast<std::uint16_t>(handle));
    }
    std::string dir;
    korvex::host::RecordingHost host;
    korvex::host::HostModel model;
    korvex::host::SimDriver sim;
    Daten* daten = nullptr;
    std::vector<std::uint16_t> handles;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine machine;
    if (size < 8 || machine.handles.empty()) return 0;
    machine.host.lines.clear();
    machine.host.messageBoxes.clear();
    machine.host.halts.clear();
    // Bytes 0-1 choose the handle, 2-3 the index, 4 the axis and the busy
    // reads, 5-7 a layout value poked into a handle the commands read.
    const std::uint16_t handle =
        machine.handles[(data[0] | (data[1] << 8)) % machine.handles.size()];
    const std::uint16_t index = static_cast<std::uint16_t>((data[2] | (data[3] << 8)) % 1100);
    const std::uint8_t axis = (data[4] & 0x80) ? 255 : (data[4] & 7);
    machine.sim.SetBusyReads(data[4] & 0x40 ? 3 : 0);
    static const std::uint16_t kLayout[] = {1223, 1615, 330, 845, 1049, 1228, 1231,
                                            1234, 1778, 1779, 1780, 1489, 307, 1561};
    const std::uint16_t poked = kLayout[data[5] % (sizeof kLayout / sizeof kLayout[0])];
    const std::int32_t value = static_cast<std::int8_t>(data[6]) * 37 + data[7];
    machine.sim.PokeLong(0, 0, poked, static_cast<std::uint16_t>(data[7] & 3), value);

    std::string text(reinterpret_cast<const char*>(data + 8), size - 8);
    text = text.substr(0, text.find('\0'));
    std::vector<char> input(text.begin(), text.end());
    input.push_back('\0');

    std::int32_t number = 0;
    double real = 0;
    machine.daten->String2Value(handle, input.data(), number);
    machine.daten->String2Value(handle, input.data(), real);
    char shown[Daten::kTextBufferSize];
    machine.daten->Value2String(handle, number, shown, sizeof shown);
    machine.daten->Value2String(handle, real, shown, sizeof shown);
    machine.daten->Value2String(handle, number, shown, static_cast<std::uint16_t>(data[6] % 4));
    machine.daten->Comm(input.data(), handle, index, axis);
    machine.daten->SetValue(handle, number, index, axis);
    machine.daten->SetValue(handle, real, index, axis);
    return 0;
}
