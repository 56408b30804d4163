// Verbs of the controller structure tree: tree lists what a CMotDirect
// registers, struct builds one proxy of any class at any address. The
// value verbs reach the fields through the ordinary names.
#include <strings.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "korvex/structures/cmotdirect.h"
#include "korvex/structures/proxy.h"
#include "tools/cli.h"
#include "tools/nearest.h"

namespace korvex::cli {
namespace {

using korvex::structures::ClassLayout;

// Prints the objects as the tree registered them, a line each, or collects
// them for one JSON document (handle null when it has none).
class Listing {
  public:
    explicit Listing(bool json) : mJson(json), mDocument(nlohmann::json::array()) {}
    void operator()(CData& object) {
        std::uint32_t address = 0;
        if (const auto* number = dynamic_cast<const CDrvNumber*>(&object))
            address = number->getAddress();
        else if (const auto* text = dynamic_cast<const CDrvStr*>(&object))
            address = text->getAddress();
        const bool numbered = object.Handle() != Handles::kNoHandle;
        const char* name = object.Name() ? object.Name() : "";
        if (mJson) {
            mDocument.push_back({{"handle", numbered ? nlohmann::json(object.Handle()) : nullptr},
                                 {"name", name},
                                 {"address", address},
                                 {"length", object.DatenLaenge()},
                                 {"type", TypeKeyword(object.DatenTyp())},
                                 {"tabsize", object.getTabSize()}});
            return;
        }
        // "HANDLE NAME 0x%05X LENGTH TYPE TABSIZE", formatted by hand into one
        // buffer: a tree is tens of thousands of lines, and printf's parsing
        // was most of their cost.
        const std::size_t nameLength = std::strlen(name);
        const char* type = TypeKeyword(object.DatenTyp());
        const std::size_t typeLength = std::strlen(type);
        if (mLine.size() < nameLength + typeLength + 64) mLine.resize(nameLength + typeLength + 64);
        char* out = mLine.data();
        if (numbered)
            out = std::to_chars(out, out + 8, object.Handle()).ptr;
        else
            *out++ = '-';
        *out++ = ' ';
        out = Append(out, name, nameLength);
        out = Append(out, " 0x", 3);
        out = AppendHex(out, address, 5);
        *out++ = ' ';
        out = std::to_chars(out, out + 12, object.DatenLaenge()).ptr;
        *out++ = ' ';
        out = Append(out, type, typeLength);
        *out++ = ' ';
        out = std::to_chars(out, out + 12, object.getTabSize()).ptr;
        *out++ = '\n';
        std::fwrite(mLine.data(), 1, static_cast<std::size_t>(out - mLine.data()), stdout);
    }
    void Finish() const {
        if (mJson) PrintJson(mDocument);
    }

  private:
    static char* Append(char* out, const char* text, std::size_t length) {
        std::memcpy(out, text, length);
        return out + length;
    }

    // As %0*X writes it: upper-case hex digits, at least `width` of them.
    static char* AppendHex(char* out, std::uint32_t value, int width) {
        int digits = (static_cast<int>(std::bit_width(value)) + 3) / 4;
        if (digits < width) digits = width;
        for (int i = digits - 1; i >= 0; --i, value >>= 4) out[i] = "0123456789ABCDEF"[value & 15];
        return out + digits;
    }

    bool mJson;
    nlohmann::json mDocument;
    std::string mLine;
};

int Tree(Session& session, const Words&) {
    if (!session.UseStructures())
        return UsageError("tree must build the structure tree: run it before any verb that loads "
                          "the machine, or give --structures");
    if (const int code = session.Load()) return code;
    auto* mot = dynamic_cast<CMotDirect*>(session.daten());
    if (!mot) return UsageError("the machine was loaded without the structure tree");
    Listing listing(session.Json());
    const auto print = [&listing](CData& object) { listing(object); };
    korvex::structures::Visit(SPC_SDoInit::Layout(), &mot->DoInit(), print);
    korvex::structures::Visit(SPC_SNotInit::Layout(), &mot->NotInit(), print);
    korvex::structures::Visit(SPC_LowData_Typ::Layout(), &mot->LowData(), print);
    listing.Finish();
    return 0;
}

// The class named so in any case, as handle names are found; the exact
// spelling first.
const ClassLayout* FindClassAnyCase(const std::string& name) {
    if (const ClassLayout* cls = korvex::structures::FindClass(name)) return cls;
    for (const ClassLayout* cls : korvex::structures::AllClasses())
        if (::strcasecmp(cls->name, name.c_str()) == 0) return cls;
    return nullptr;
}

// struct --list: every class with the controller bytes it spans.
int ListClasses(Session& session) {
    nlohmann::json document = nlohmann::json::array();
    for (const ClassLayout* cls : korvex::structures::AllClasses()) {
        if (session.Json())
            document.push_back({{"name", cls->name}, {"size", cls->extent}, {"union", cls->isUnion}});
        else
            std::printf("%s %u\n", cls->name, static_cast<unsigned>(cls->extent));
    }
    if (session.Json()) PrintJson(document);
    return 0;
}

int Struct(Session& session, const Words& words) {
    if (words[1] == "--list") {
        if (words.size() > 2) return UsageError("usage: struct --list");
        return ListClasses(session);
    }
    if (words.size() < 3) return UsageError("usage: struct CLASS ADDRESS [PREFIX]");
    const ClassLayout* cls = FindClassAnyCase(words[1]);
    if (!cls) {
        Nearest nearest(words[1]);
        for (const ClassLayout* known : korvex::structures::AllClasses()) nearest.Offer(known->name);
        const std::string hint = nearest.Hint();
        return UsageError("unknown structure class '" + words[1] + "'" +
                          (hint.empty() ? " (struct --list shows them)" : hint));
    }
    if (const int code = session.Load()) return code;
    std::uint32_t address = 0;
    if (!ParseAddress(words[2], address)) return UsageError("bad ADDRESS '" + words[2] + "'");
    const TApplString prefix(words.size() > 3 ? words[3].c_str() : "");
    void* proxy = cls->build(session.daten(), prefix, address, CData::RegisterNew);
    // The proxy lives as long as the run, so later verbs reach its fields.
    session.Keep([cls, proxy] { cls->destroy(proxy); });
    Listing listing(session.Json());
    korvex::structures::Visit(*cls, proxy, [&listing](CData& object) { listing(object); });
    listing.Finish();
    return 0;
}

const VerbRegistration kTree("tree", {"tree",
                                      "build the structure tree (CMotDirect); one line per data object",
                                      0, 0, false, Tree, true});
const VerbRegistration kStruct("struct", {"struct CLASS ADDRESS [PREFIX] | struct --list",
                                          "build one structure or union proxy; one line per data "
                                          "object (--list: the classes and their sizes)",
                                          1, 3, false, Struct, true});

}  // namespace
}  // namespace korvex::cli
