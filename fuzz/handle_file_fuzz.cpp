// Any bytes as a handle file: checked line by line, every error reported,
// nothing overrun.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "korvex/handles/handle_file.h"

namespace {

class Table : public korvex::files::HandleNameTable {
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
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Table table;
    // The first byte chooses between the load (stop at the first error) and
    // the lint (go on after each).
    const bool goOn = size > 0 && (data[0] & 1);
    korvex::files::CheckHandleFile(text, table,
                                   [goOn](const korvex::files::LoadMessage&) { return goOn; });
    return 0;
}
