// Any bytes as a definition file, with a look-up that knows every name (so
// that records are stored, not refused as unknown handles); then the
// differential check: the records parsed, written as a definition cache and
// read back, must be equal record by record, and the cache must be accepted.
// The first byte chooses the load (stop at the first error) or the lint (go
// on after each). The same text split line by line (the road of a text with a
// zero byte) must give the same messages and records as the scanner.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "korvex/definitions/definition_cache.h"
#include "korvex/definitions/definition_parser.h"

namespace {

// Every non-empty name is a handle; names spread over 0 to 2999, so that
// the table stays small and some names meet on one handle.
std::uint16_t AnyName(const char* name) {
    if (!*name) return 0xFFFF;
    std::uint32_t hash = 0;
    for (const char* p = name; *p; ++p) hash = hash * 31 + static_cast<unsigned char>(*p);
    return static_cast<std::uint16_t>(hash % 3000);
}

struct Table {
    ~Table() {
        for (DInfo* record : records) delete record;
    }
    std::vector<DInfo*> records;
};

// Records read back from a cache: they live in the block.
struct DecodedTable {
    DInfoRun block;
    std::vector<DInfo*> records;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Table parsed;
    parsed.records.push_back(new DInfo());
    const bool goOn = size > 0 && (data[0] & 1);
    std::string said[2];
    auto sink = [goOn, &said](int road) {
        return [goOn, &said, road](const korvex::files::LoadMessage& message) {
            if (message.caption.empty() || message.text.empty())
                korvex::fuzzing::Fail("error without caption or text");
            said[road] += std::to_string(message.result) + " " + std::to_string(message.line) +
                          " " + message.caption + " " + message.text + "\n";
            return goOn;
        };
    };
    korvex::definitions::DefinitionParser parser(parsed.records, "FUZZ.TXT", AnyName, sink(0));
    const bool clean = parser.Parse(text);
    {
        Table byLines;
        byLines.records.push_back(new DInfo());
        korvex::definitions::DefinitionParser plain(byLines.records, "FUZZ.TXT", AnyName, sink(1));
        plain.SplitLineByLine();
        if (plain.Parse(text) != clean || said[0] != said[1])
            korvex::fuzzing::Fail("split line by line, the text reads differently");
        unsigned char mine[DInfo::kImageSize], theirs[DInfo::kImageSize];
        if (byLines.records.size() != parsed.records.size())
            korvex::fuzzing::Fail("split line by line, the table differs");
        for (std::size_t i = 0; i < parsed.records.size(); ++i) {
            parsed.records[i]->EncodeImage(mine);
            byLines.records[i]->EncodeImage(theirs);
            if (std::memcmp(mine, theirs, sizeof mine) != 0)
                korvex::fuzzing::Fail("split line by line, a record differs");
        }
    }
    if (parsed.records.size() < std::size_t{parser.HighestHandle()} + 1)
        korvex::fuzzing::Fail("highest handle beyond the table");

    const std::uint16_t count = static_cast<std::uint16_t>(parser.HighestHandle() + 1);
    const std::vector<unsigned char> cache =
        korvex::definitions::EncodeDefinitionCache("", parsed.records, count);
    DecodedTable readBack;
    if (!korvex::definitions::DecodeDefinitionCache(cache.data(), cache.size(), readBack.block,
                                                    readBack.records, nullptr))
        korvex::fuzzing::Fail("cache of parsed records refused");
    if (readBack.records.size() != count) korvex::fuzzing::Fail("record count changed");
    unsigned char before[DInfo::kImageSize], after[DInfo::kImageSize];
    for (std::size_t i = 0; i < count; ++i) {
        const DInfo* original = parsed.records[i] ? parsed.records[i] : nullptr;
        if (!original) korvex::fuzzing::Fail("hole in the parsed table");
        const DInfo& copy = *readBack.records[i];
        original->EncodeImage(before);
        copy.EncodeImage(after);
        if (std::memcmp(before, after, sizeof before) != 0) korvex::fuzzing::Fail("record changed");
        // The fields the library uses, compared as values too.
        if (copy.mType != original->mType || copy.mLength != original->mLength ||
            copy.Min() != original->Min() || copy.Max() != original->Max() ||
            copy.Def() != original->Def() || copy.mBase != original->mBase ||
            std::strcmp(copy.mszMetricUnit, original->mszMetricUnit) != 0 ||
            std::strcmp(copy.mszInchUnit, original->mszInchUnit) != 0 ||
            std::strcmp(copy.mszTabIdent, original->mszTabIdent) != 0 ||
            std::strcmp(copy.mszTabIndex, original->mszTabIndex) != 0 ||
            std::strcmp(copy.mszTabParIdent, original->mszTabParIdent) != 0)
            korvex::fuzzing::Fail("record reads differently");
        if (std::memcmp(&copy.mUserFactor, &original->mUserFactor, sizeof(double)) != 0)
            korvex::fuzzing::Fail("user factor changed");
    }
    return 0;
}
