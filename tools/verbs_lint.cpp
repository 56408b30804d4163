// The lint verb: checks a handle file and a definition file without loading a
// machine, with the same checks as the load, and reports every error.
//
// Each error is one line "FILE:LINE: CAPTION: TEXT". TEXT is the message
// box's text on one line: its line breaks become "; " (a trailing one is
// dropped). LINE is 0 for an error about the file as a whole.
//
// Besides the load's own errors the lint reports what the load accepts
// without a word but reads otherwise than a person would: handle numbers
// that are not numbers, out of range or wrapped to 16 bits, control bytes in
// names, unknown constants; and it says in plain words which earlier line a
// duplicate name or number repeats. Without files it lints the machine's
// own handle and definition files, as KORVEX.INI names them.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The first line of each name and number the load keeps, as the load
// keeps them (an entry repeating either is refused).
struct FirstUse {
    std::unordered_map<std::string, std::pair<std::uint16_t, unsigned>> names;  // number, line
    std::unordered_map<std::uint16_t, std::pair<std::string, unsigned>> numbers;  // name, line
    std::unordered_map<unsigned, std::string> plainWords;  // by line: what a duplicate repeats
};

// The number text of a handle file line: after '=', before a remark, up to
// the next blank.
std::string_view NumberText(std::string_view line) {
    const std::size_t remark = std::min(line.find("//"), line.find(';'));
    if (remark != std::string_view::npos) line = line.substr(0, remark);
    std::size_t i = line.find('=') + 1;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t end = i;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
    return line.substr(i, end - i);
}

// Checks the handle file's lines for what the load reads silently, and
// notes the duplicates' first uses for the plain-words lines.
void CheckHandleLines(std::string_view text, const files::MessageSink& report, FirstUse& first) {
    files::ForEachLine(text, [&](unsigned line, std::string_view content) {
        std::string_view name;
        std::uint16_t number = 0;
        if (files::ParseHandleLine(content, name, number) == files::HandleLineKind::Skipped ||
            name.empty() || name.size() > Handles::kMaxNameLength)
            return true;
        const std::string shown = Printable(name);
        if (shown != name)
            report({0, line, "Control byte in name",
                    "'" + shown + "' holds bytes that are not characters"});
        const std::string_view digits = NumberText(content);
        std::size_t i = !digits.empty() && (digits[0] == '-' || digits[0] == '+') ? 1 : 0;
        const std::size_t start = i;
        while (i < digits.size() && digits[i] >= '0' && digits[i] <= '9') ++i;
        const std::string written(digits);
        if (i == start || i != digits.size()) {
            report({0, line, "Not a number",
                    "'" + Printable(written) + "' is not a handle number: the load reads " +
                        std::to_string(number)});
        } else {
            errno = 0;
            const long long value = std::strtoll(written.c_str(), nullptr, 10);
            if (errno == ERANGE || value > INT32_MAX || value < INT32_MIN)
                report({0, line, "Number out of range",
                        written + " is beyond a 32-bit number: the load reads " +
                            std::to_string(number)});
            else if (value < 0 || value > 0xFFFF)
                report({0, line, "Number wrapped",
                        written + " is not within 0 to 65535: the load takes its low 16 bits, " +
                            std::to_string(number)});
        }
        const std::string key = Upper(std::string(name).c_str());
        const auto sameName = first.names.find(key);
        const auto sameNumber = first.numbers.find(number);
        std::string plain;
        if (sameNumber != first.numbers.end())
            plain += "number " + std::to_string(number) + " is already the number of '" +
                     Printable(sameNumber->second.first) + "' (line " +
                     std::to_string(sameNumber->second.second) + ")";
        if (sameName != first.names.end())
            plain += (plain.empty() ? "" : "; ") + std::string("name '") + shown +
                     "' is already the name of handle " + std::to_string(sameName->second.first) +
                     " (line " + std::to_string(sameName->second.second) +
                     "), names being the same whatever their case";
        if (!plain.empty()) {
            first.plainWords[line] = plain + ": the load stops here";
        } else {
            first.names.emplace(key, std::make_pair(number, line));
            first.numbers.emplace(number, std::make_pair(std::string(name), line));
        }
        return true;
    });
}

// The handle and definition files KORVEX.INI names, in the machine directory.
void MachineFiles(Session& session, std::string& handleFile, std::string& definitionFile) {
    char handleName[260] = "";
    char definitionName[260] = "";
    TQzIniBase& ini = session.host().Ini();
    ini.SetSection("DATAINTERFACE", false);
    ini.InitString("HANDLE", handleName, sizeof handleName, "HANDLES");
    ini.InitString("DATEN", definitionName, sizeof definitionName, "QZ_DATEN");
    TGlobalData& global = session.host().Model().global;
    char path[1024];
    global.SearchFileName(path, sizeof path, 1, handleName, "TXT");
    handleFile = path;
    global.SearchFileName(path, sizeof path, 1, definitionName, "TXT");
    definitionFile = path;
}

// "PATH: REASON" for a file that could not be read, errno still as the read
// left it.
std::string Reason(const std::string& path) {
    return path + ": " + (errno ? std::strerror(errno) : "cannot be read");
}

}  // namespace

std::vector<LintFinding> LintFiles(const std::string& handleFile, const std::string& definitionFile) {
    std::vector<LintFinding> findings;
    auto sinkFor = [&findings](const std::string& file) {
        return [&findings, file](const files::LoadMessage& message) {
            findings.push_back({file, message.line, message.caption, OneLine(message.text)});
            return true;
        };
    };

    LintNames names;
    bool haveNames = false;
    files::FileBytes bytes;
    errno = 0;
    if (files::ReadWholeFile(handleFile.c_str(), bytes) != files::ReadResult::Ok) {
        sinkFor(handleFile)({Handles::FileNotFound, 0, "FILE NOT FOUND !!", Reason(handleFile)});
    } else {
        haveNames = true;
        FirstUse first;
        // The silent misreadings first, then the load's errors, each
        // duplicate followed by what it repeats.
        std::vector<files::LoadMessage> found;
        auto collect = [&found](const files::LoadMessage& message) {
            found.push_back(message);
            return true;
        };
        CheckHandleLines(bytes.text(), collect, first);
        files::CheckHandleFile(bytes.text(), names, collect);
        std::stable_sort(found.begin(), found.end(),
                         [](const auto& a, const auto& b) { return a.line < b.line; });
        const auto print = sinkFor(handleFile);
        for (std::size_t i = 0; i < found.size(); ++i) {
            print(found[i]);
            const unsigned line = found[i].line;
            const bool lastOfLine = i + 1 == found.size() || found[i + 1].line != line;
            const auto plain = first.plainWords.find(line);
            if (lastOfLine && plain != first.plainWords.end())
                print({0, line, "Duplicate", plain->second});
        }
    }
    errno = 0;
    if (files::ReadWholeFile(definitionFile.c_str(), bytes) != files::ReadResult::Ok) {
        sinkFor(definitionFile)({Daten::FileNotFound, 0, "FILE NOT FOUND !!", Reason(definitionFile)});
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
        parser.SetNoticeSink(sinkFor(definitionFile));
        parser.Parse(bytes.text());
        for (DInfo* record : table) delete record;
    }
    return findings;
}

std::vector<LintFinding> LintMachine(Session& session) {
    std::string handleFile;
    std::string definitionFile;
    MachineFiles(session, handleFile, definitionFile);
    return LintFiles(handleFile, definitionFile);
}

void PrintLintWarnings(Session& session) {
    std::fflush(stdout);
    for (const LintFinding& finding : LintMachine(session))
        std::fprintf(stderr, "korvex: warning: %s:%u: %s: %s\n", Printable(finding.file).c_str(),
                     finding.line, Printable(finding.caption).c_str(),
                     Printable(finding.text).c_str());
}

namespace {

int Lint(Session& session, const Words& words) {
    if (words.size() == 2) return UsageError("usage: lint [HANDLEFILE DEFFILE]");
    const std::vector<LintFinding> findings =
        words.size() == 3 ? LintFiles(words[1], words[2]) : LintMachine(session);
    for (const LintFinding& finding : findings)
        std::printf("%s:%u: %s: %s\n", Printable(finding.file).c_str(), finding.line,
                    Printable(finding.caption).c_str(), Printable(finding.text).c_str());
    std::fflush(stdout);
    return findings.empty() ? 0 : 1;
}

const VerbRegistration kLint("lint", {"lint [HANDLEFILE DEFFILE]",
                                      "check a handle and a definition file (default: the "
                                      "machine's own), reporting every error",
                                      0, 2, false, Lint});

}  // namespace
}  // namespace korvex::cli
