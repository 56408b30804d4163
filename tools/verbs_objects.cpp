// The obj verb: data objects over the simulated controller's memory, in PC
// memory, bound to a handle or to the offset area, registered under a name so
// that get, getraw, setraw and input reach them like any handle.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "korvex/data/bound_values.h"
#include "korvex/data/numbers.h"
#include "korvex/data/strings.h"
#include "tools/cli.h"
#include "tools/nearest.h"

namespace korvex::cli {
namespace {

// The objects of this run. They outlive the Daten: their destructors do not
// reach it.
std::vector<std::unique_ptr<CData>>& Objects() {
    static std::vector<std::unique_ptr<CData>> objects;
    return objects;
}

bool ObjAddress(const std::string& text, std::uint32_t& address) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text.c_str() + 2, &end, 16);
        if (*end != '\0' || text.size() > 10) return false;
        address = static_cast<std::uint32_t>(value);
        return true;
    }
    unsigned long value = 0;
    if (!ParseNumber(text, 0xFFFFFFFFul, value)) return false;
    address = static_cast<std::uint32_t>(value);
    return true;
}

// Any type keyword of the definition file: the data objects themselves
// refuse the types they cannot hold, as a wrong definition.
bool ObjType(const std::string& text, DInfo::DType& type) {
    for (unsigned i = DInfo::BYTE; i <= DInfo::BITMASK; ++i) {
        if (text == TypeKeyword(i)) {
            type = static_cast<DInfo::DType>(i);
            return true;
        }
    }
    return false;
}

// Argument words parsed in order; the first bad one is reported.
class Args {
  public:
    explicit Args(const Words& words) : mWords(words) {}
    bool Has(std::size_t i) const { return i < mWords.size(); }
    bool Number(std::size_t i, const char* what, unsigned long max, unsigned long& value) {
        if (ParseNumber(mWords[i], max, value)) return true;
        return Bad(i, what);
    }
    bool Address(std::size_t i, const char* what, std::uint32_t& value) {
        return ObjAddress(mWords[i], value) || Bad(i, what);
    }
    bool Type(std::size_t i, DInfo::DType& type) {
        return ObjType(mWords[i], type) || Bad(i, "TYPE");
    }
    int error = 0;

  private:
    bool Bad(std::size_t i, const char* what) {
        error = UsageError(std::string("bad ") + what + " '" + mWords[i] + "'");
        return false;
    }
    const Words& mWords;
};

// Keeps object and prints its handle; a wrong definition or a taken name
// (halted already) fails the verb.
int Registered(Session& session, const std::string& name, CData* object, std::uint16_t handle) {
    Objects().emplace_back(object);
    if (handle == Handles::kNoHandle) {
        const bool taken =
            session.daten()->GetHandles()->NameToHandle(name.c_str()) != Handles::kNoHandle;
        return LibraryError(taken ? Daten::HandleExists : Daten::ParameterError);
    }
    std::printf("%u\n", static_cast<unsigned>(handle));
    return 0;
}

// An object that holds no name of its own takes NAME by registering it.
int RegisterAs(Session& session, const std::string& name, CData* object) {
    std::uint16_t index = 0;
    if (session.daten()->GetHandles()->NameToHandle(name.c_str()) != Handles::kNoHandle) {
        delete object;
        return LibraryError(Daten::HandleExists);
    }
    const std::uint16_t handle = session.daten()->RegisterNewHandle(object, name.c_str(), index);
    return Registered(session, name, object, handle);
}

// obj number NAME ADDRESS LENGTH TYPE [TABSIZE [STRIDE [LOCATION]]] and
// obj string NAME ADDRESS LENGTH [TABSIZE [STRIDE [LOCATION]]].
int ControllerObject(Session& session, const Words& words, bool number) {
    Args args(words);
    std::uint32_t address = 0;
    unsigned long length = 0, tabSize = 1, stride = 0, location = TDriver::LocationDefault;
    DInfo::DType type = DInfo::STRING;
    std::size_t i = 5;
    if (!args.Address(3, "ADDRESS", address) || !args.Number(4, "LENGTH", 0xFFFF, length) ||
        (number && !args.Type(i++, type)) ||
        (args.Has(i) && !args.Number(i, "TABSIZE", 0xFFFF, tabSize)) ||
        (args.Has(i + 1) && !args.Number(i + 1, "STRIDE", 0xFFFFFFFFul, stride)) ||
        (args.Has(i + 2) && !args.Number(i + 2, "LOCATION", 255, location)))
        return args.error;
    const std::string& name = words[2];
    const auto where = static_cast<TDriver::ELocation>(location);
    CData* object;
    if (number)
        object = new CDrvNumber(session.daten(), name.c_str(), address,
                                static_cast<std::uint16_t>(length), type,
                                static_cast<std::uint16_t>(tabSize), 10, 0, "", 0, 10, 0, "",
                                static_cast<std::uint32_t>(stride), 150, false, 0, where);
    else
        object =
            new CDrvStr(session.daten(), name.c_str(), address, static_cast<std::uint16_t>(length),
                        static_cast<std::uint16_t>(tabSize), static_cast<std::uint32_t>(stride),
                        150, false, 0, where);
    return Registered(session, name, object, object->Handle());
}

// obj commval NAME ADDRESS LENGTH TYPE PREFIX and
// obj yesno NAME ADDRESS LENGTH TYPE ONCOMMAND OFFCOMMAND.
int CommandObject(Session& session, const Words& words, bool yesNo) {
    if (words.size() != (yesNo ? 8u : 7u))
        return UsageError(yesNo ? "usage: obj yesno NAME ADDRESS LENGTH TYPE ONCOMMAND OFFCOMMAND"
                                : "usage: obj commval NAME ADDRESS LENGTH TYPE PREFIX");
    Args args(words);
    std::uint32_t address = 0;
    unsigned long length = 0;
    DInfo::DType type = DInfo::NONE;
    if (!args.Address(3, "ADDRESS", address) || !args.Number(4, "LENGTH", 0xFFFF, length) ||
        !args.Type(5, type))
        return args.error;
    const char* name = words[2].c_str();
    const auto size = static_cast<std::uint16_t>(length);
    CData* object;
    if (yesNo)
        object =
            new CDrvCommYesNoNumber(session.daten(), name, address, size, type, words[6].c_str(),
                                    words[7].c_str(), 1, 10, 0, "", 0, 10, 0, "", 0, 150, false, 0);
    else
        object = new CDrvCommValNumber(session.daten(), name, address, size, type, words[6].c_str(),
                                       1, 10, 0, "", 0, 10, 0, "", 0, 150, false, 0);
    return Registered(session, words[2], object, object->Handle());
}

// obj copy NAME: NAME now reaches a private copy of its controller number or
// string; writes stay in PC memory, the controller keeps its bytes.
int PrivateCopy(Session& session, const Words& words) {
    std::uint16_t handle = 0, index = 0;
    if (!session.ResolveHandle(words[2], handle, index)) return Daten::HandleNotFound;
    CData* source = session.daten()->GetCDataPtr(handle);
    CData* copy = nullptr;
    if (auto* number = dynamic_cast<CDrvNumber*>(source))
        copy = new CDrvNumber(*number, true, number->Location());
    else if (auto* text = dynamic_cast<CDrvStr*>(source))
        copy = new CDrvStr(*text, true, text->Location());
    if (!copy) return UsageError("'" + words[2] + "' is no controller number or string");
    Objects().emplace_back(copy);
    session.daten()->SetCDataPtr(handle, copy);
    std::printf("%u\n", static_cast<unsigned>(handle));
    return 0;
}

int Obj(Session& session, const Words& words) {
    const std::string& kind = words[1];
    Args args(words);
    if (kind == "number" || kind == "string") {
        const std::size_t least = kind == "number" ? 6 : 5;
        if (words.size() < least || words.size() > least + 3)
            return UsageError(kind == "number"
                                  ? "usage: obj number NAME ADDRESS LENGTH TYPE [TABSIZE [STRIDE "
                                    "[LOCATION]]]"
                                  : "usage: obj string NAME ADDRESS LENGTH [TABSIZE [STRIDE "
                                    "[LOCATION]]]");
        return ControllerObject(session, words, kind == "number");
    }
    if (kind == "private") {
        unsigned long tabSize = 0, width = 10, decimals = 0;
        if (words.size() != 4 && words.size() != 6)
            return UsageError("usage: obj private NAME TABSIZE [WIDTH DECIMALS]");
        if (!args.Number(3, "TABSIZE", 0xFFFF, tabSize) ||
            (words.size() == 6 &&
             (!args.Number(4, "WIDTH", 255, width) || !args.Number(5, "DECIMALS", 255, decimals))))
            return args.error;
        const auto w = static_cast<std::uint8_t>(width);
        const auto d = static_cast<std::uint8_t>(decimals);
        auto* object = new CPrivNumber(session.daten(), words[2].c_str(),
                                       static_cast<std::uint16_t>(tabSize), w, d, "", 0, w, d, "");
        return Registered(session, words[2], object, object->Handle());
    }
    if (kind == "commval" || kind == "yesno") return CommandObject(session, words, kind == "yesno");
    if (kind == "copy") {
        if (words.size() != 3) return UsageError("usage: obj copy NAME");
        return PrivateCopy(session, words);
    }
    if (kind == "handle") {
        if (words.size() != 4) return UsageError("usage: obj handle NAME TARGET");
        auto* object = new TQZ_HandleValue(session.daten(), session.daten()->GetHandles(),
                                           words[3].c_str(), 0);
        if (!object->Bound()) {
            delete object;
            return LibraryError(Daten::HandleNotFound);
        }
        return RegisterAs(session, words[2], object);
    }
    if (kind == "offset") {
        unsigned long size = 0, stride = 0;
        std::uint32_t offset = 0;
        if (words.size() != 5 && words.size() != 6)
            return UsageError("usage: obj offset NAME OFFSET SIZE [STRIDE]");
        if (!args.Address(3, "OFFSET", offset) || !args.Number(4, "SIZE", 8, size) ||
            (size != 1 && size != 2 && size != 4 && size != 8) ||
            (words.size() == 6 && !args.Number(5, "STRIDE", 0xFFFFFFFFul, stride)))
            return args.error ? args.error : UsageError("bad SIZE '" + words[4] + "'");
        return RegisterAs(session, words[2],
                          new TQZ_OffsetValue(session.daten(), offset,
                                              static_cast<std::uint32_t>(stride ? stride : size),
                                              static_cast<std::uint8_t>(size)));
    }
    if (kind == "pointer") {
        if (words.size() != 6) return UsageError("usage: obj pointer NAME ADDRESS TARGET TYPE");
        std::uint32_t address = 0;
        DInfo::DType type = DInfo::NONE;
        if (!args.Address(3, "ADDRESS", address) || !args.Type(5, type)) return args.error;
        // The target is the number the pointer leads to; it moves with it.
        auto* target = new CDrvNumber(session.daten(), words[4].c_str(), 0,
                                      DInfo::NumericLength(type), type, CData::RegisterNew);
        if (target->Handle() == Handles::kNoHandle)
            return Registered(session, words[4], target, target->Handle());
        std::printf("%u\n", static_cast<unsigned>(target->Handle()));
        auto* pointer =
            new CPointedTo<CDrvNumber>(session.daten(), words[2].c_str(), address, target);
        return Registered(session, words[2], pointer, pointer->Handle());
    }
    Nearest nearest(kind);
    for (const char* known : {"number", "string", "private", "commval", "yesno", "copy", "handle",
                              "offset", "pointer"})
        nearest.Offer(known);
    return UsageError("unknown obj kind '" + kind + "'" + nearest.Hint());
}

const VerbRegistration kObj(
    "obj", {"obj number|string|private|commval|yesno|copy|handle|offset|pointer NAME ...",
            "build a data object and register NAME for it: number NAME ADDRESS LENGTH TYPE "
            "[TABSIZE [STRIDE [LOCATION]]], string NAME ADDRESS LENGTH [TABSIZE [STRIDE "
            "[LOCATION]]], private NAME TABSIZE [WIDTH DECIMALS], commval NAME ADDRESS LENGTH "
            "TYPE PREFIX, yesno NAME ADDRESS LENGTH TYPE ONCOMMAND OFFCOMMAND, copy NAME (a "
            "private copy takes NAME's place), handle NAME TARGET, offset NAME OFFSET SIZE "
            "[STRIDE], pointer NAME ADDRESS TARGET TYPE",
            // Each kind checks its own word count and names its own usage.
            2, 64, true, Obj});

}  // namespace
}  // namespace korvex::cli
