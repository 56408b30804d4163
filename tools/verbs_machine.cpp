// Verbs about the machine files: check, list, show, touch.
#include <fnmatch.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "korvex/data/cdata.h"
#include "korvex/host/host.h"
#include "tools/cli.h"

namespace korvex::cli {

const char* TypeKeyword(unsigned type) {
    static const char* const kKeywords[] = {
        "NONE",       "BYTE",   "SHORTINT", "WORD",        "INTEGER",
        "LONGINT",    "REAL",   "QZREAL",   "QZSHORTREAL", "QZSHORTREALPLUS",
        "QZLONGCARD", "QZCARD", "STRING",   "BITMASK",     "EIGHTBYTE",
    };
    return type < sizeof kKeywords / sizeof kKeywords[0] ? kKeywords[type] : "UNKNOWN";
}

namespace {


const char* YesNo(char flag) {
    return flag ? "YES" : "NO";
}

// A definition cache written in the handle cache's two-second unit counts
// as stale at the next start; check prepares a machine directory for users
// who cannot write it, so it waits for the next unit and writes it again.
void LeaveValidDefinitionCache(Daten& daten) {
    if (daten.DefinitionsFromCache() || daten.DefinitionCacheUnwritten() || Handles::CacheUnwritten())
        return;
    std::uint32_t stamp = 0;
    for (int tries = 0; tries < 3; ++tries) {
        if (!host::Host().GetFileStamp(daten.DefinitionCacheFile(), stamp)) return;
        if (stamp > Handles::HandleCacheTime()) return;
        // Two-second units: the next one begins within 2 s.
        host::Host().Sleep(1000);
        if (!daten.RewriteDefinitionCache()) return;
    }
}

int Check(Session& session, const Words&) {
    Daten& daten = *session.daten();
    LeaveValidDefinitionCache(daten);
    PrintLintWarnings(session);
    std::size_t defined = 0;
    for (std::size_t handle = 0; handle < daten.DefinitionCount(); ++handle)
        if (daten.ExistHandle(static_cast<std::uint16_t>(handle))) ++defined;
    const unsigned handles = daten.GetHandles()->HandlesInContainer();
    // unwritten: the text file was read and the cache left as it was (a
    // directory this user may not write).
    const char* handleCache = Handles::LoadedFromCache() ? "read"
                              : Handles::CacheUnwritten() ? "unwritten"
                                                          : "written";
    const char* definitionCache = daten.DefinitionsFromCache()       ? "read"
                                  : daten.DefinitionCacheUnwritten() ? "unwritten"
                                                                     : "written";
    if (session.Json()) {
        PrintJson({{"handles", handles},
                   {"definitions", defined},
                   {"cache", {{"handles", handleCache}, {"definitions", definitionCache}}}});
    } else {
        std::printf("handles %u definitions %zu cache handles:%s definitions:%s\n", handles, defined,
                    handleCache, definitionCache);
    }
    return 0;
}

// list [PATTERN]: PATTERN is a glob (* ? [...]) matched without regard to
// case, as names are.
int List(Session& session, const Words& words) {
    const std::string pattern = words.size() > 1 ? words[1] : "*";
    nlohmann::json document = nlohmann::json::array();
    const bool json = session.Json();
    Handles::ForEach([&](std::uint16_t handle, std::string_view view) {
        const std::string name(view);
        if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0) return;
        if (json)
            document.push_back({{"handle", handle}, {"name", name}});
        else
            std::printf("%u %s\n", static_cast<unsigned>(handle), Printable(name).c_str());
    });
    if (json) PrintJson(document);
    return 0;
}

// One field of the definition record: its line "key: text" and its JSON
// value under the key with blanks as underscores.
struct Field {
    std::string key;
    std::string text;
    nlohmann::json value;
};

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::vector<Field> RecordFields(std::uint16_t handle, const char* name, const DInfo& record) {
    std::vector<Field> fields;
    auto add = [&fields](const char* key, std::string text, nlohmann::json value) {
        fields.push_back({key, std::move(text), std::move(value)});
    };
    auto yesNo = [&add](const char* key, char flag) { add(key, YesNo(flag), flag != 0); };
    auto format = [&add](const char* key, unsigned width, unsigned decimals) {
        add(key, std::to_string(width) + " " + std::to_string(decimals),
            {{"width", width}, {"decimals", decimals}});
    };
    add("handle", std::to_string(handle), handle);
    add("name", name, name);
    add("type", TypeKeyword(record.mType), TypeKeyword(record.mType));
    add("length", std::to_string(record.mLength), record.mLength);
    // REAL records, and string and bitmask records (which keep the empty
    // record's limits), hold their limits as doubles.
    if (record.mType == DInfo::REAL || record.mType == DInfo::STRING ||
        record.mType == DInfo::BITMASK) {
        add("min", Format("%.17g", record.RealMin()), record.RealMin());
        add("max", Format("%.17g", record.RealMax()), record.RealMax());
        add("default", Format("%.17g", record.RealDef()), record.RealDef());
    } else {
        add("min", std::to_string(record.Min()), record.Min());
        add("max", std::to_string(record.Max()), record.Max());
        add("default", std::to_string(record.Def()), record.Def());
    }
    format("metric format", record.mMetricWidth, record.mMetricDecimals);
    format("inch format", record.mInchWidth, record.mInchDecimals);
    add("user factor", Format("%.17g", record.mUserFactor), double{record.mUserFactor});
    static const char* const kNotDirect[] = {"TPara", "CommFlag", "CommValue"};
    const char* notDirect = record.mNotDirect < 3 ? kNotDirect[record.mNotDirect] : "unknown";
    add("not direct", notDirect, notDirect);
    yesNo("write direct", record.mWriteDirect);
    add("inch metric", std::to_string(record.mInchMetric), record.mInchMetric);
    yesNo("visible", record.mVisible);
    yesNo("swap bitmask", record.mSwapBitmask);
    yesNo("revert bitmask", record.mRevertBitmask);
    add("metric unit", record.mszMetricUnit, record.mszMetricUnit);
    add("inch unit", record.mszInchUnit, record.mszInchUnit);
    add("tab ident", record.mszTabIdent, record.mszTabIdent);
    add("tab index", record.mszTabIndex, record.mszTabIndex);
    add("tab par ident", record.mszTabParIdent, record.mszTabParIdent);
    if (record.mNotValid)
        add("not valid", std::to_string(record.mNotValidValue), record.mNotValidValue);
    else
        add("not valid", "NO", nullptr);
    yesNo("z reverse", record.mZReverse);
    add("base", std::to_string(record.mBase), record.mBase);
    return fields;
}

int Show(Session& session, const Words& words) {
    std::uint16_t handle, index;
    CData* object = nullptr;
    if (!session.ResolveHandle(words[1], handle, index, &object)) return Daten::HandleNotFound;
    Daten& daten = *session.daten();
    // A registered object shows its own record.
    const DInfo* record = object ? &object->Info() : daten.FindRecord(handle);
    if (!record) return LibraryError(Daten::HandleNotFound);
    char name[Handles::kNameBufferSize];
    const char* shown = object ? object->Name()
                               : daten.GetHandles()->HandleToName(handle, name, Handles::kNoHandle);
    std::vector<Field> fields = RecordFields(handle, shown ? shown : "", *record);
    // The table size as the controller answers it (1 for a single value).
    const unsigned elements = object ? object->GetMaxTabElemAnz() : daten.GetMaxTabElemAnz(handle);
    fields.push_back({"elements", std::to_string(elements), elements});
    if (session.Json()) {
        nlohmann::json document = nlohmann::json::object();
        for (const Field& field : fields) {
            std::string key = field.key;
            for (char& c : key)
                if (c == ' ') c = '_';
            document[key] = field.value;
        }
        PrintJson(document);
    } else {
        for (const Field& field : fields)
            std::printf("%s: %s\n", field.key.c_str(), Printable(field.text).c_str());
    }
    return 0;
}

// Sets a file's modification time to now plus SECONDS (which may be
// negative), as `touch` does. The caches are trusted or rebuilt by these
// times, so a script can say which of them is the newer one instead of
// depending on how fast it runs.
int Touch(Session&, const Words& words) {
    long seconds = 0;
    if (words.size() > 2) {
        char* end = nullptr;
        errno = 0;
        seconds = std::strtol(words[2].c_str(), &end, 10);
        if (words[2].empty() || *end || errno) return UsageError("bad SECONDS '" + words[2] + "'");
    }
    struct timeval times[2];
    times[0].tv_sec = times[1].tv_sec = std::time(nullptr) + seconds;
    times[0].tv_usec = times[1].tv_usec = 0;
    if (::utimes(words[1].c_str(), times) != 0) {
        ErrorLine("cannot touch " + words[1] + ": " + std::strerror(errno));
        return Daten::FileNotFound;
    }
    return 0;
}

const VerbRegistration kCheck("check", {"check", "construct the Daten of the machine", 0, 0, true,
                                        Check, true});
const VerbRegistration kList("list", {"list [PATTERN]",
                                      "the registered names as NUMBER NAME (PATTERN: a glob, any case)",
                                      0, 1, true, List, true});
const VerbRegistration kTouch("touch", {"touch FILE [SECONDS]",
                                        "set a file's modification time to now + SECONDS", 1, 2,
                                        false, Touch, false, true});
const VerbRegistration kShow("show", {"show NAME", "the definition record of a handle", 1, 1, true,
                                      Show, true});

}  // namespace
}  // namespace korvex::cli
