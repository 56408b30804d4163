// Any operator input for any handle of the sample machine or any registered
// data object: converted to a value, shown again (in the record's own base,
// or forced to hex or binary), given to the command interpreter, written as
// a number, a text and a block, read back as every kind, and reset to its
// default; with the unit switches (799, 1625, 683) and the command-busy flag
// set by the input. Nothing may overrun a buffer or crash, whatever is typed.
//
// Input: bytes 0-1 the handle, 2-3 the index, 4 the axis and the busy reads,
// 5-7 a layout value poked into a handle the commands read, 8 the unit
// switches and the base, 9 the read size; then the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "korvex/data/cdata.h"
#include "korvex/data/numbers.h"
#include "korvex/data/strings.h"
#include "korvex/korvex.h"

namespace {

struct Machine : korvex::fuzzing::FuzzMachine {
    Machine() : FuzzMachine(true) {
        Handles::DropRegistry();
        daten = new Daten(model.Parent(), "QZ_DATEN", "HANDLES");
        daten->SetMessagesOn(true);
        for (std::size_t handle = 0; handle < daten->DefinitionCount(); ++handle)
            if (daten->ExistHandle(static_cast<std::uint16_t>(handle)))
                handles.push_back(static_cast<std::uint16_t>(handle));
        // Registered handles: data objects of every number type and strings,
        // in the controller's memory and in the PC.
        const std::uint32_t base = korvex::host::SimDriver::kImageStart;
        std::uint32_t address = base;
        for (int type = DInfo::BYTE; type <= DInfo::QZCARD; ++type) {
            if (type == DInfo::REAL) continue;
            const std::string name = "FUZZNUM" + std::to_string(type);
            auto* number = new CDrvNumber(daten, name.c_str(), address, 4,
                                          static_cast<DInfo::DType>(type), 8, 10, 3, "[mm]", 1,
                                          10, 4, "[inch]", 4, 150, false, 0,
                                          TDriver::LocationDefault);
            objects.push_back(number);
            address += 64;
        }
        objects.push_back(new CDrvStr(daten, "FUZZSTR", address, 40, 3, 40, 150, false, 0,
                                      TDriver::LocationDefault));
        objects.push_back(new CDrvStr(daten, "FUZZSWAP", address + 200, 300, 1, 0, 150, false, 0,
                                      TDriver::LocationSwapped));
        objects.push_back(new CPrivStr(daten, "FUZZPRIVSTR", 4));
        objects.push_back(new CPrivNumber(daten, "FUZZPRIV", 4, 10, 3, "[mm]", 1, 10, 4, "[inch]", 0, 1, -1));
        for (CData* object : objects)
            if (object->Handle() != Handles::kNoHandle) handles.push_back(object->Handle());
    }
    Daten* daten = nullptr;
    std::vector<CData*> objects;
    std::vector<std::uint16_t> handles;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine& machine = *new Machine;  // lives as long as the process
    if (size < 10 || machine.handles.empty()) return 0;
    machine.ClearHost();
    Daten& daten = *machine.daten;
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
    // The unit switches: metric/inch (799), feed unit (1625), Z mirror (683).
    machine.sim.PokeLong(0, 0, 799, 0, data[8] & 1);
    machine.sim.PokeLong(0, 0, 1625, 0, (data[8] >> 1) & 3);
    machine.sim.PokeLong(0, 0, 683, 0, (data[8] >> 3) & 1);
    if (data[8] & 0x10) daten.InitInchMetricCnc47();
    // Bits 5-6: the record's own base, or hex, binary or decimal forced.
    DInfo* record = handle < Daten::kFirstRegisteredHandle ? daten.ExistHandle(handle) : nullptr;
    const short ownBase = record ? record->mBase : 10;
    static const short kBases[] = {0, 16, 2, 10};
    if (record && kBases[(data[8] >> 5) & 3]) record->mBase = kBases[(data[8] >> 5) & 3];
    const std::uint16_t readSize = data[9];

    std::string text(reinterpret_cast<const char*>(data + 10), size - 10);
    text = text.substr(0, text.find('\0'));
    std::vector<char> input(text.begin(), text.end());
    input.push_back('\0');

    std::int32_t number = 0;
    double real = 0;
    daten.String2Value(handle, input.data(), number);
    daten.String2Value(handle, input.data(), real);
    char shown[Daten::kTextBufferSize];
    daten.Value2String(handle, number, shown, sizeof shown);
    daten.Value2String(handle, real, shown, sizeof shown);
    daten.Value2String(handle, number, shown, static_cast<std::uint16_t>(data[6] % 4));
    daten.Comm(input.data(), handle, index, axis);
    daten.SetValue(handle, number, index, axis, static_cast<char>(data[7] & 1),
                   static_cast<char>(data[7] & 2));
    daten.SetValue(handle, real, index, axis, static_cast<char>(data[7] & 1));
    daten.SetValue(handle, input.data(), index, axis);
    daten.SetValue(handle, static_cast<const void*>(input.data()),
                   static_cast<std::uint16_t>(input.size()), index, axis);

    // Read back as every kind, with a size the input chooses.
    std::vector<char> field(std::size_t{readSize} + 1);
    daten.GetValue(handle, field.data(), readSize, index, axis);
    daten.GetValue(handle, static_cast<const void*>(field.data()), readSize, index, axis);
    if (daten.GetValue(handle, number, index, axis) == 0)
        daten.Value2String(handle, number, shown, sizeof shown);
    if (daten.GetValue(handle, real, index, axis) == 0)
        daten.Value2String(handle, real, shown, sizeof shown);
    daten.Default(static_cast<char>(data[7] & 1), handle, index);
    std::uint8_t width = 0, decimals = 0;
    daten.GetActFormat(handle, width, decimals);
    daten.GetMetInchFormat(handle, width, decimals, static_cast<char>(data[8] & 1));
    daten.GetUnitString(handle);
    if (record) record->mBase = ownBase;
    return 0;
}
