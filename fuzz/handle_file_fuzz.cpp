// Any bytes as a handle file, through the real load of the registry: a file
// with an error is refused with its message box and ends the process; a file
// that loads writes the handle cache, and the registry read back from that
// cache must hold the same entries in the same order, with the same checksum.
// The first byte also runs the lint over the file (every error reported).
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "tests/support/machine_files.h"
#include "korvex/handles/handle_file.h"
#include "korvex/handles/handles.h"

namespace {

using Entries = std::vector<std::pair<std::uint16_t, std::string>>;

Entries RegistryEntries() {
    Entries entries;
    Handles::ForEach([&entries](std::uint16_t handle, std::string_view name) {
        entries.emplace_back(handle, std::string(name));
    });
    return entries;
}

// The lint's own name table, as the tool keeps it.
class LintTable : public korvex::files::HandleNameTable {
  public:
    bool HasNumber(std::uint16_t number) override { return numbers.count(number) != 0; }
    bool HasName(const char* name) override { return names.count(name) != 0; }
    bool Add(const char* name, std::uint16_t number) override {
        names.insert(name);
        numbers.insert(number);
        return true;
    }
    std::set<std::string> names;
    std::set<std::uint16_t> numbers;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto& machine = *new korvex::fuzzing::FuzzMachine(false);
    machine.ClearHost();
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The file check's scan finds the entries the lines parsed one by one hold.
    if (korvex::testing::ScannedHandleEntries(text) != korvex::testing::ParsedHandleEntries(text))
        korvex::fuzzing::Fail("the file check's scan and the line parse differ");

    if (size > 0 && (data[0] & 1)) {
        LintTable table;
        korvex::files::CheckHandleFile(text, table,
                                       [](const korvex::files::LoadMessage&) { return true; });
    }

    machine.Write("HANDLES.TXT", text);
    machine.Remove("HANDLES.BIN");
    Handles::DropRegistry();
    std::uint8_t result;
    {
        Handles handles(machine.model.Parent(), "HANDLES");
        result = handles.LoadResultCode();
    }
    if (result != Handles::Loaded) {
        if (machine.host.messageBoxes.empty() && !machine.host.fatalExits.empty())
            korvex::fuzzing::Fail("refused handle file without a message");
        if (machine.host.fatalExits.empty()) korvex::fuzzing::Fail("refused handle file went on");
        return 0;
    }
    if (!machine.host.messageBoxes.empty()) korvex::fuzzing::Fail("loaded file with a message");
    if (Handles::LoadedFromCache()) korvex::fuzzing::Fail("text load counted as cache load");
    const Entries loaded = RegistryEntries();
    const std::uint32_t checksum = Handles(nullptr, "").MakeChecksum();

    // The cache written by the load must give the same registry.
    Handles::DropRegistry();
    {
        Handles handles(machine.model.Parent(), "HANDLES");
        if (handles.LoadResultCode() != Handles::Loaded) korvex::fuzzing::Fail("cache read-back failed");
    }
    if (!Handles::LoadedFromCache()) korvex::fuzzing::Fail("cache was not used on the second load");
    if (RegistryEntries() != loaded) korvex::fuzzing::Fail("cache holds other entries");
    if (Handles(nullptr, "").MakeChecksum() != checksum)
        korvex::fuzzing::Fail("cache changes the checksum");
    // Every name answers its own number, and the number a name.
    char buffer[Handles::kNameBufferSize];
    Handles front(nullptr, "");
    for (const auto& [handle, name] : loaded) {
        if (!front.existName(name.c_str())) korvex::fuzzing::Fail("name lost");
        if (!front.HandleToName(handle, buffer, 0xFFFF)) korvex::fuzzing::Fail("number lost");
    }
    return 0;
}
