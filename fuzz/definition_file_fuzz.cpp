// Any bytes as a definition file: parsed against a small set of handle
// names, every record either stored whole or refused with a message.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "korvex/definitions/definition_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<DInfo*> table{new DInfo()};
    // Names of one to three characters are handles, numbered by their bytes
    // (so that a fuzzer finds them and high handles grow the table).
    auto lookup = [](const char* name) -> std::uint16_t {
        const std::size_t length = std::strlen(name);
        if (length == 0 || length > 3) return 0xFFFF;
        std::uint16_t handle = 0;
        for (std::size_t i = 0; i < length; ++i)
            handle = static_cast<std::uint16_t>(handle * 31 + static_cast<unsigned char>(name[i]));
        return static_cast<std::uint16_t>(handle % 15000);
    };
    const bool goOn = size > 0 && (data[0] & 1);
    korvex::definitions::DefinitionParser parser(
        table, "FUZZ.TXT", lookup, [goOn](const korvex::files::LoadMessage&) { return goOn; });
    parser.Parse(text);
    for (DInfo* record : table) delete record;
    return 0;
}
