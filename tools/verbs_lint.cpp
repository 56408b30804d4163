// The lint verb: checks a handle file and a definition file without loading a
// machine, with the same checks as the load, and reports every error.
//
// Each error is one line "FILE:LINE: CAPTION: TEXT". TEXT is the message
// box's text on one line: its line breaks become "; " (a trailing one is
// dropped). LINE is 0 for an error about the file as a whole.
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "korvex/definitions/definition_parser.h"
#include "korvex/handles/handle_file.h"
#include "tools/cli.h"

namespace korvex::cli {
namespace {

std::string Upper(const char* text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    return out;
}

// The handle file's names, matched without regard to case as the registry
// matches them.
class LintNames : public files::HandleNameTable {
  public:
    bool HasNumber(std::uint16_t number) override { return mNumbers.count(number) != 0; }
    bool HasName(const char* name) override { return mNames.count(Upper(name)) != 0; }
    bool Add(const char* name, std::uint16_t number) override {
        mNames.emplace(Upper(name), number);
        mNumbers.insert(number);
        return true;
    }
    std::uint16_t Find(const char* name) const {
        const auto found = mNames.find(Upper(name));
        return found == mNames.end() ? Handles::kNoHandle : found->second;
    }

  private:
    std::unordered_map<std::string, std::uint16_t> mNames;
    std::unordered_set<std::uint16_t> mNumbers;
};

std::string OneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            out += "; ";
        else
            out += c;
    }
    return out;
}

int Lint(Session&, const Words& words) {
    const std::string& handleFile = words[1];
    const std::string& definitionFile = words[2];
    unsigned errors = 0;
    auto sinkFor = [&errors](const std::string& file) {
        return [&errors, file](const files::LoadMessage& message) {
            std::printf("%s:%u: %s: %s\n", file.c_str(), message.line, message.caption.c_str(),
                        OneLine(message.text).c_str());
            ++errors;
            return true;
        };
    };

    LintNames names;
    bool haveNames = false;
    files::FileBytes bytes;
    if (files::ReadWholeFile(handleFile.c_str(), bytes) != files::ReadResult::Ok) {
        sinkFor(handleFile)({Handles::FileNotFound, 0, "FILE NOT FOUND !!", handleFile});
    } else {
        haveNames = true;
        files::CheckHandleFile(bytes.text(), names, sinkFor(handleFile));
    }

    if (files::ReadWholeFile(definitionFile.c_str(), bytes) != files::ReadResult::Ok) {
        sinkFor(definitionFile)({Daten::FileNotFound, 0, "FILE NOT FOUND !!", definitionFile});
    } else {
        // Without a handle file every header names a handle of its own, so
        // that the definition file is still checked, repeated headers too.
        LintNames invented;
        std::uint16_t next = 0;
        auto lookup = [&](const char* name) -> std::uint16_t {
            if (haveNames) return names.Find(name);
            std::uint16_t handle = invented.Find(name);
            if (handle == Handles::kNoHandle && next < Handles::kNoHandle) {
                handle = next++;
                invented.Add(name, handle);
            }
            return handle;
        };
        std::vector<DInfo*> table{new DInfo()};
        definitions::DefinitionParser parser(table, definitionFile, lookup,
                                             sinkFor(definitionFile));
        parser.Parse(bytes.text());
        for (DInfo* record : table) delete record;
    }
    std::fflush(stdout);
    return errors ? 1 : 0;
}

const VerbRegistration kLint("lint", {"lint HANDLEFILE DEFFILE",
                                      "check a handle and a definition file, reporting every error",
                                      2, 2, false, Lint});

}  // namespace
}  // namespace korvex::cli
