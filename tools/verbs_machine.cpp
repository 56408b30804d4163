// Verbs about the machine files: check, list, show, touch.
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tools/cli.h"

namespace korvex::cli {
namespace {

const char* TypeKeyword(unsigned type) {
    static const char* const kKeywords[] = {
        "NONE",       "BYTE",   "SHORTINT", "WORD",        "INTEGER",
        "LONGINT",    "REAL",   "QZREAL",   "QZSHORTREAL", "QZSHORTREALPLUS",
        "QZLONGCARD", "QZCARD", "STRING",   "BITMASK",     "EIGHTBYTE",
    };
    return type < sizeof kKeywords / sizeof kKeywords[0] ? kKeywords[type] : "UNKNOWN";
}

const char* YesNo(char flag) {
    return flag ? "YES" : "NO";
}

int Check(Session& session, const Words&) {
    Daten& daten = *session.daten();
    std::size_t defined = 0;
    for (std::size_t handle = 0; handle < daten.DefinitionCount(); ++handle)
        if (daten.ExistHandle(static_cast<std::uint16_t>(handle))) ++defined;
    std::printf("handles %u definitions %zu cache handles:%s definitions:%s\n",
                daten.GetHandles()->HandlesInContainer(), defined,
                Handles::LoadedFromCache() ? "read" : "written",
                daten.DefinitionsFromCache() ? "read" : "written");
    return 0;
}

int List(Session&, const Words&) {
    Handles::ForEach([](std::uint16_t handle, std::string_view name) {
        std::printf("%u %.*s\n", static_cast<unsigned>(handle), static_cast<int>(name.size()),
                    name.data());
    });
    return 0;
}

void ShowRecord(std::uint16_t handle, const char* name, const DInfo& record) {
    std::printf("handle: %u\n", static_cast<unsigned>(handle));
    std::printf("name: %s\n", name);
    std::printf("type: %s\n", TypeKeyword(record.mType));
    std::printf("length: %u\n", static_cast<unsigned>(record.mLength));
    // REAL records, and string and bitmask records (which keep the empty
    // record's limits), hold their limits as doubles.
    if (record.mType == DInfo::REAL || record.mType == DInfo::STRING ||
        record.mType == DInfo::BITMASK) {
        std::printf("min: %.17g\nmax: %.17g\ndefault: %.17g\n", record.RealMin(), record.RealMax(),
                    record.RealDef());
    } else {
        std::printf("min: %d\nmax: %d\ndefault: %d\n", record.Min(), record.Max(), record.Def());
    }
    std::printf("metric format: %u %u\n", record.mMetricWidth, record.mMetricDecimals);
    std::printf("inch format: %u %u\n", record.mInchWidth, record.mInchDecimals);
    std::printf("user factor: %.17g\n", record.mUserFactor);
    static const char* const kNotDirect[] = {"TPara", "CommFlag", "CommValue"};
    std::printf("not direct: %s\n",
                record.mNotDirect < 3 ? kNotDirect[record.mNotDirect] : "unknown");
    std::printf("write direct: %s\n", YesNo(record.mWriteDirect));
    std::printf("inch metric: %d\n", record.mInchMetric);
    std::printf("visible: %s\n", YesNo(record.mVisible));
    std::printf("swap bitmask: %s\n", YesNo(record.mSwapBitmask));
    std::printf("revert bitmask: %s\n", YesNo(record.mRevertBitmask));
    std::printf("metric unit: %s\n", record.mszMetricUnit);
    std::printf("inch unit: %s\n", record.mszInchUnit);
    std::printf("tab ident: %s\n", record.mszTabIdent);
    std::printf("tab index: %s\n", record.mszTabIndex);
    std::printf("tab par ident: %s\n", record.mszTabParIdent);
    if (record.mNotValid)
        std::printf("not valid: %d\n", record.mNotValidValue);
    else
        std::printf("not valid: NO\n");
    std::printf("z reverse: %s\n", YesNo(record.mZReverse));
    std::printf("base: %d\n", record.mBase);
}

int Show(Session& session, const Words& words) {
    std::uint16_t handle, index;
    if (!session.ResolveHandle(words[1], handle, index)) return Daten::HandleNotFound;
    Daten& daten = *session.daten();
    const DInfo* record = daten.ExistHandle(handle);
    if (!record) return LibraryError(Daten::HandleNotFound);
    char name[Handles::kNameBufferSize];
    const char* shown = daten.GetHandles()->HandleToName(handle, name, Handles::kNoHandle);
    ShowRecord(handle, shown ? shown : "", *record);
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
        std::fprintf(stderr, "korvex: cannot touch %s: %s\n", words[1].c_str(),
                     std::strerror(errno));
        return Daten::FileNotFound;
    }
    return 0;
}

const VerbRegistration kCheck("check",
                              {"check", "construct the Daten of the machine", 0, 0, true, Check});
const VerbRegistration kList("list",
                             {"list", "every registered name as NUMBER NAME", 0, 0, true, List});
const VerbRegistration kTouch("touch", {"touch FILE [SECONDS]",
                                        "set a file's modification time to now + SECONDS", 1, 2,
                                        false, Touch});
const VerbRegistration kShow("show",
                             {"show NAME", "the definition record of a handle", 1, 1, true, Show});

}  // namespace
}  // namespace korvex::cli
