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

// Each entry line as "line:name:number", found by the file check's scan
// (every number reported as taken, so that each entry shows its line) or
// by the lines parsed one by one: both must agree.
std::vector<std::string> ScannedEntries(const std::string& text) {
    struct Names : korvex::files::HandleNameTable {
        bool HasNumber(std::uint16_t) override { return true; }
        bool HasName(const char* name) override {
            last = name;
            return false;
        }
        bool Add(const char*, std::uint16_t) override { return false; }
        std::string last;
    } names;
    std::vector<std::string> found;
    korvex::files::CheckHandleFile(text, names, [&](const korvex::files::LoadMessage& message) {
        const bool numbered = message.result == Handles::NumberTwice;
        const std::size_t handle = message.text.find("Handle : ");
        found.push_back(std::to_string(message.line) + ":" + (numbered ? names.last : "") + ":" +
                        (numbered ? message.text.substr(handle + 9) : ""));
        return true;
    });
    return found;
}

std::vector<std::string> ParsedEntries(const std::string& text) {
    std::vector<std::string> found;
    korvex::files::ForEachLine(text, [&](unsigned line, std::string_view content) {
        std::string_view name;
        std::uint16_t number = 0;
        if (korvex::files::ParseHandleLine(content, name, number) ==
            korvex::files::HandleLineKind::Skipped)
            return true;
        const bool good = !name.empty() && name.size() <= Handles::kMaxNameLength;
        found.push_back(std::to_string(line) + ":" + (good ? std::string(name) : "") + ":" +
                        (good ? std::to_string(number) + "\n" : ""));
        return true;
    });
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto& machine = *new korvex::fuzzing::FuzzMachine(false);
    machine.ClearHost();
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (ScannedEntries(text) != ParsedEntries(text))
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
