// Data objects over random controller memory: the input fills the simulated
// controller's memory image and describes a few objects (number or string,
// type, length, table size, stride, address, byte order); each object is
// registered, every element is read as a number, a text, a block and bits,
// shown through Daten, and written back, by the object and by its handle.
//
// Input: byte 0 the object count, then 8 bytes per object, then the bytes
// of memory (repeated over the image's first 64 KiB).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "korvex/data/cdata.h"
#include "korvex/data/numbers.h"
#include "korvex/data/strings.h"
#include "korvex/korvex.h"

namespace {

using korvex::host::SimDriver;

constexpr std::uint32_t kArea = 64 * 1024;

struct Machine : korvex::fuzzing::FuzzMachine {
    Machine() : FuzzMachine(false) {
        Write("HANDLES.TXT", "MetricMode=799\nToolMetricMode=1625\n");
        Write("QZ_DATEN.TXT", "[MetricMode]\nType = LONGINT\n[ToolMetricMode]\nType = LONGINT\n");
        Write("COMM.TXT", "");
    }
};

CData* MakeObject(Daten* daten, const std::uint8_t* d, int number) {
    const std::string name = "FUZZOBJ" + std::to_string(number);
    const std::uint32_t address =
        SimDriver::kImageStart + ((d[1] | (d[2] << 8)) % kArea);
    const std::uint16_t length = static_cast<std::uint16_t>(d[3] % 64 + (d[0] & 0x40 ? 250 : 0));
    const std::uint16_t tabSize = static_cast<std::uint16_t>(d[4] % 16 + 1);
    const std::uint32_t stride = d[5] % 2 ? d[5] : 0;
    const auto location = (d[0] & 0x80) ? TDriver::LocationSwapped : TDriver::LocationDefault;
    const auto type = static_cast<DInfo::DType>(d[6] % 15);
    switch (d[0] % 4) {
        case 0:
            return new CDrvNumber(daten, name.c_str(), address, length, type, tabSize, d[7] % 12,
                                  d[7] % 5, "[mm]", static_cast<char>(d[7] % 3), d[7] % 12,
                                  d[7] % 6, "[inch]", stride, 150, false, 0, location);
        case 1:
            return new CDrvStr(daten, name.c_str(), address, length, tabSize, stride, 150, false, 0,
                               location);
        case 2:
            return new CDrvCommValNumber(daten, name.c_str(), address, length, type, "CV", tabSize,
                                         10, 3, "[mm]", 1, 10, 4, "[inch]", stride, 150, false, 0);
        default:
            return new CPrivNumber(daten, name.c_str(), tabSize, d[7] % 12, d[7] % 5, "[mm]", 1, 10,
                                   4, "[inch]", 0, static_cast<char>(d[6] & 1), -1);
    }
}

void Use(Daten& daten, CData& object, std::uint8_t seed) {
    const std::uint16_t handle = object.Handle();
    const std::uint16_t elements = object.getTabSize() < 20 ? object.getTabSize() : 20;
    char text[Daten::kTextBufferSize];
    char field[300];
    unsigned char block[300];
    for (std::uint16_t index = 0; index <= elements; ++index) {
        const std::int32_t value = object.GetValue(index, 0);
        object.Value2String(value, text, sizeof text);
        object.GetString(field, static_cast<std::uint16_t>(sizeof field - 1), index, 0);
        object.GetBinBlock(block, static_cast<std::uint16_t>(seed % sizeof block), index, false);
        object.GetBit(index, 0);
        std::int32_t converted = 0;
        object.String2Value(text, converted);
        object.SetValue(value, index, 0);
        object.SetBit(seed & 1, index, 0);
        object.SetString(text, index, 0);
        object.SetBinBlock(block, static_cast<std::uint16_t>(seed % sizeof block), index, true);
        if (handle != Handles::kNoHandle) {
            std::int32_t number = 0;
            double real = 0;
            if (daten.GetValue(handle, number, index, 0) == 0)
                daten.Value2String(handle, number, text, sizeof text);
            if (daten.GetValue(handle, real, index, 0) == 0) daten.SetValue(handle, real, index, 0);
            daten.GetValue(handle, field, 255, index, 0);
            daten.SetValue(handle, number, index, 0);
            daten.Comm(text, handle, index, 0);
        }
    }
    object.GetUnitString();
    object.GetMaxTabElemAnz();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine& machine = *new Machine;  // lives as long as the process
    if (size < 1) return 0;
    machine.ClearHost();
    const int count = data[0] % 4 + 1;
    if (size < 1 + 8u * count) return 0;
    const std::uint8_t* memory = data + 1 + 8 * count;
    const std::size_t memorySize = size - 1 - 8 * count;
    std::uint8_t* image = machine.sim.Image(SimDriver::kImageStart);
    if (memorySize == 0) std::memset(image, 0, kArea + 1024);
    for (std::uint32_t i = 0; memorySize && i < kArea + 1024; i += memorySize)
        std::memcpy(image + i, memory, std::min<std::size_t>(memorySize, kArea + 1024 - i));

    Handles::DropRegistry();
    auto daten = std::make_unique<Daten>(machine.model.Parent(), "QZ_DATEN", "HANDLES");
    std::vector<std::unique_ptr<CData>> objects;
    for (int i = 0; i < count; ++i)
        objects.emplace_back(MakeObject(daten.get(), data + 1 + 8 * i, i));
    for (auto& object : objects) Use(*daten, *object, data[1]);
    objects.clear();
    CData::ForgetDaten(daten.get());
    return 0;
}
