// The controller structure tree over random controller memory: the input
// fills the simulated memory image and picks a slice of the tree's data
// objects; each object of the slice is read (as a number, a text, a block
// and bits), shown as the tool shows it, and, when the input says so,
// written back: a value the object takes must read back unchanged.
//
// Building the tree takes ~17 ms, so it is built once per process, and each
// process first reads and shows all 56,533 objects over fixed pseudo-random
// memory; an execution then takes a slice of kSlice objects, so it stays
// short. A pointer's value object moves with the pointer, so it is always
// read after its pointer (an execution does not depend on the ones before).
//
// Input: bytes 0-1 the slice (little endian, modulo the slice count), byte 2
// flags (bit 0 write back, bit 1 inch display, bit 2 read through Daten by
// handle), then the memory bytes, repeated over the image from the slice's
// first address on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "korvex/data/bound_values.h"
#include "korvex/structures/cmotdirect.h"
#include "korvex/structures/proxy.h"

namespace {

using korvex::fuzzing::Fail;
using korvex::host::SimDriver;

constexpr std::size_t kSlice = 32;
constexpr std::uint16_t kElements = 4;  // table elements read per object

// An object, or a pointer with its value object (read in that order).
struct Unit {
    CData* first;
    CData* second;
};

std::uint32_t AddressOf(CData& object) {
    if (auto* number = dynamic_cast<CDrvNumber*>(&object)) return number->getAddress();
    if (auto* text = dynamic_cast<CDrvStr*>(&object)) return text->getAddress();
    return 0;
}

void Show(Daten& daten, CData& object, std::uint8_t flags) {
    char text[Daten::kTextBufferSize];
    char field[300];
    unsigned char block[300];
    std::snprintf(field, sizeof field, "%u %s 0x%05X %u %u %u", object.Handle(),
                  object.Name() ? object.Name() : "", AddressOf(object), object.DatenLaenge(),
                  object.DatenTyp(), object.getTabSize());
    const bool isText = dynamic_cast<CDrvStr*>(&object) != nullptr;
    const std::uint16_t length = object.DatenLaenge() < sizeof block ? object.DatenLaenge() : 0;
    const std::uint16_t tabSize = object.getTabSize();
    for (std::uint16_t index = 0; index < tabSize && index < kElements; ++index) {
        object.GetString(field, static_cast<std::uint16_t>(sizeof field - 1), index, 0);
        object.GetBinBlock(block, length, index, false);
        object.GetBit(index, 0);
        if (isText) {
            if (flags & 1 && object.LastError() == Daten::Ok) {
                const std::string before(field);
                object.SetString(before.c_str(), index, 0);
                if (object.LastError() == Daten::Ok) {
                    object.GetString(field, static_cast<std::uint16_t>(sizeof field - 1), index, 0);
                    // A text is stored cut to its field less one, a zero after it.
                    const std::size_t keep = object.DatenLaenge() ? object.DatenLaenge() - 1u : 0u;
                    if (object.LastError() == Daten::Ok && before.substr(0, keep) != field)
                        Fail("a text written to the tree reads back changed");
                }
            }
            continue;
        }
        const std::int32_t value = object.GetValue(index, 0);
        const bool read = object.LastError() == Daten::Ok;
        object.Value2String(value, text, sizeof text);
        std::int32_t parsed = 0;
        object.String2Value(text, parsed);
        if (flags & 4 && object.Handle() != Handles::kNoHandle) {
            std::int32_t byHandle = 0;
            if (daten.GetValue(object.Handle(), byHandle, index, 0) == Daten::Ok)
                daten.Value2String(object.Handle(), byHandle, text, sizeof text);
        }
        if (flags & 1 && read) {
            object.SetValue(value, index, 0);
            if (object.LastError() == Daten::Ok) {
                const std::int32_t again = object.GetValue(index, 0);
                if (object.LastError() == Daten::Ok && again != value)
                    Fail("a number written to the tree reads back changed");
            }
        }
    }
    object.GetUnitString();
    object.GetMaxTabElemAnz();
}

// The memory bytes, repeated over the image so that the first lands at start.
void Fill(SimDriver& sim, const std::uint8_t* memory, std::size_t size, std::uint32_t start) {
    if (!sim.Image(start)) start = SimDriver::kImageStart;
    std::uint8_t* image = sim.Image(SimDriver::kImageStart);
    const std::size_t imageSize = SimDriver::kImageEnd - SimDriver::kImageStart;
    if (size == 0) {
        std::memset(image, 0, imageSize);
        return;
    }
    // One period at the image's start, then doubled: few large copies.
    const std::size_t phase = (start - SimDriver::kImageStart) % size;
    const std::size_t period = std::min(size, imageSize);
    for (std::size_t at = 0; at < period; ++at) image[at] = memory[(at + size - phase) % size];
    for (std::size_t filled = period; filled < imageSize;) {
        const std::size_t count = std::min(filled, imageSize - filled);
        std::memcpy(image + filled, image, count);
        filled += count;
    }
}

struct Machine : korvex::fuzzing::FuzzMachine {
    Machine() : FuzzMachine(true) {
        Handles::DropRegistry();
        mot = new CMotDirect(model.Parent(), const_cast<char*>("QZ_DATEN"),
                             const_cast<char*>("HANDLES"), nullptr);
        if (mot->ConstructionResult() != 0) Fail("the sample machine does not load");
        auto collect = [this](CData& object) {
            auto* pointer = dynamic_cast<CPointedTo<CDrvNumber>*>(&object);
            if (pointer && !units.empty() && units.back().first == pointer->pointee()) {
                units.back() = {pointer, pointer->pointee()};
                return;
            }
            units.push_back({&object, nullptr});
        };
        korvex::structures::Visit(SPC_SDoInit::Layout(), &mot->DoInit(), collect);
        korvex::structures::Visit(SPC_SNotInit::Layout(), &mot->NotInit(), collect);
        korvex::structures::Visit(SPC_LowData_Typ::Layout(), &mot->LowData(), collect);
        if (units.size() < 50000) Fail("the tree lost data objects");
        std::size_t pointers = 0;
        for (const Unit& unit : units) pointers += unit.second != nullptr;
        if (pointers == 0) Fail("no pointer found before its value object");
        // Every field once, over a fixed pseudo-random memory: each campaign
        // and each corpus replay reads and shows the whole tree.
        std::vector<std::uint8_t> memory(4099);
        std::uint32_t x = 1;
        for (std::uint8_t& byte : memory)
            byte = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        Fill(sim, memory.data(), memory.size(), SimDriver::kImageStart);
        for (const Unit& unit : units) {
            Show(*mot, *unit.first, 7);
            if (unit.second) Show(*mot, *unit.second, 7);
        }
    }
    CMotDirect* mot = nullptr;
    std::vector<Unit> units;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine& machine = *new Machine;  // lives as long as the process
    if (size < 3) return 0;
    machine.ClearHost();
    const std::size_t slices = (machine.units.size() + kSlice - 1) / kSlice;
    const std::size_t first = (data[0] | (data[1] << 8)) % slices * kSlice;
    const std::size_t last = std::min(first + kSlice, machine.units.size());
    const std::uint8_t flags = data[2];

    Fill(machine.sim, data + 3, size - 3, AddressOf(*machine.units[first].first));

    if (flags & 2)
        machine.mot->SetInchAll();
    else
        machine.mot->ClearInchAll();
    for (std::size_t i = first; i < last; ++i) {
        Show(*machine.mot, *machine.units[i].first, flags);
        if (machine.units[i].second) Show(*machine.mot, *machine.units[i].second, flags);
    }
    return 0;
}
