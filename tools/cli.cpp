#include "tools/cli.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "korvex/structures/cmotdirect.h"
#include "korvex/version.h"
#include "tools/common/text.h"
#include "tools/nearest.h"

namespace korvex::cli {

std::map<std::string, Verb>& Verbs() {
    static std::map<std::string, Verb> verbs;
    return verbs;
}

VerbRegistration::VerbRegistration(const std::string& name, Verb verb) {
    Verbs().emplace(name, std::move(verb));
}

namespace {

// What is wrong with a machine directory before the library tries it, as
// "korvex: PATH: REASON" lines: a directory that is not there, a missing
// KORVEX.INI, a directory the caches cannot be written to. They are shown
// only when the load then fails (a read-only directory with valid caches
// loads).
// filesAtFault: the directory is there and writable, so a failed load is
// the machine files' fault.
std::string DiagnoseMachineDir(const std::string& dir, bool& filesAtFault) {
    filesAtFault = false;
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0)
        return "korvex: machine directory " + dir + ": " + std::strerror(errno) + "\n";
    if (!S_ISDIR(info.st_mode))
        return "korvex: machine directory " + dir + ": " + std::strerror(ENOTDIR) + "\n";
    std::string lines;
    TGlobalData search;
    search.mMachineDir = dir;
    char ini[1024];
    if (!search.SearchFileName(ini, sizeof ini, 1, "KORVEX", "INI"))
        lines += "korvex: " + std::string(ini) + ": " + std::strerror(ENOENT) +
                 " (the default file names are used)\n";
    // The caches are written beside the machine files: try it as the load will.
    const std::string probe = (std::filesystem::path(dir) / ".korvex-write-XXXXXX").string();
    std::vector<char> name(probe.begin(), probe.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        lines += "korvex: cannot write the caches in " + dir + ": " + std::strerror(errno) +
                 " (run 'korvex -m " + dir + " check' as its owner)\n";
    } else {
        filesAtFault = true;
        ::close(fd);
        ::unlink(name.data());
    }
    return lines;
}

// The exit code of a load that ended the process: the library's error code.
// The handle registry records its own load results (1 to 4); they are told
// as the library's codes of the same failure.
int LoadExitCode(Daten* daten) {
    if (!daten) return Daten::DataOrDriverError;
    if (const Handles* handles = daten->GetHandles();
        handles && handles->LoadResultCode() != Handles::Loaded) {
        switch (handles->LoadResultCode()) {
            case Handles::FileNotFound: return Daten::FileNotFound;
            case Handles::NumberTwice: return Daten::HandleExists;
            default: return Daten::SyntaxError;  // an empty name, a name twice
        }
    }
    const int result = daten->ConstructionResult();
    return result ? result : static_cast<int>(Daten::DataOrDriverError);
}

}  // namespace

namespace {
// Beside the machine files: the simulated controller as the machine starts.
constexpr const char* kMachineSimFile = "KORVEXSIM.TXT";
}  // namespace

Session::Session(const Options& options) : mOptions(options), mHost(options.machineDir) {
    mHost.SetTrace(options.trace);
    // The driver's lines go out with the host's, or alone with --trace=driver.
    if (options.trace)
        mSim.SetTraceSink([this](const std::string& line) { mHost.TraceLine(line); });
    else if (options.traceDriver)
        mSim.SetTraceSink([](const std::string& line) {
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        });
    TGlobalData& global = mHost.Model().global;
    global.mCnc = options.cnc;
    global.mAxis = 0;
    global.mDriver = &mSim;
    global.mDriverName = "KORVEXSIM.DLL";
    _UserLevel = 0;
    _QZLev = '3';
    // The machine's own controller start (its table sizes), unless a saved
    // state takes its place.
    std::string state = options.simFile;
    if (state.empty() || !std::ifstream(state).good())
        state = (std::filesystem::path(options.machineDir) / kMachineSimFile).string();
    if (std::ifstream(state).good()) {
        std::string error;
        if (!mSim.LoadState(state, error)) {
            ErrorLine(error);
            mSimLoadFailed = true;
        }
    }
}

Session::~Session() {
    for (auto it = mKept.rbegin(); it != mKept.rend(); ++it) (*it)();
    if (mDaten) ShutDownKorvex(mDaten);
}

bool Session::VerbFlag(const std::string& flag) const {
    return std::find(mVerbFlags.begin(), mVerbFlags.end(), flag) != mVerbFlags.end();
}

bool Session::UseStructures() {
    if (mLoaded) return mOptions.structures;
    mOptions.structures = true;
    return true;
}

bool Session::SaveSim() {
    if (mOptions.simFile.empty() || mSimLoadFailed) return true;
    errno = 0;
    if (mSim.SaveState(mOptions.simFile)) return true;
    ErrorLine("cannot write " + mOptions.simFile + ": " +
              (errno ? std::strerror(errno) : "the state could not be written"));
    return false;
}

void Session::ForEachName(const std::function<void(std::string_view)>& visit) {
    Handles::ForEach([&visit](std::uint16_t, std::string_view name) { visit(name); });
    if (mDaten)
        mDaten->ForEachUnnumbered([&visit](const std::string& name, CData*) { visit(name); });
}

int Session::Load() {
    if (mLoaded) return mLoadExit;
    mLoaded = true;
    bool filesAtFault = false;
    mHost.SetMessagePreamble(DiagnoseMachineDir(mOptions.machineDir, filesAtFault));
    mDaten = InitKorvex(&mHost.Ini(), mHost.Model().Parent(),
                        mOptions.structures ? NewMotDirectProc : NewDatenProc);
    mHost.SetMessagePreamble("");
    if (mHost.FatalExitRequested()) {
        // The load ended the process, as it ends a host.
        mLoadExit = LoadExitCode(mDaten);
        // An error in the machine's files: lint shows all of them at once.
        if (filesAtFault)
            ErrorLine("run 'korvex -m " + mOptions.machineDir +
                      " lint' to list every error in the machine's files");
        return mLoadExit;
    }
    if (!mDaten) {
        ErrorLine("no data interface for CNC " + std::to_string(mOptions.cnc));
        mLoadExit = kExitUsage;
        return mLoadExit;
    }
    mDaten->SetMessagesOn(mOptions.messages);
    if (Handles::CacheUnwritten() || mDaten->DefinitionCacheUnwritten())
        ErrorLine("warning: the caches in " + mOptions.machineDir +
                  " are stale and the directory is not writable: the text files were read; run "
                  "'korvex -m " + mOptions.machineDir + " check' as its owner to rewrite them");
    return 0;
}

bool Session::ResolveHandle(const std::string& word, std::uint16_t& handle,
                            std::uint16_t& index, CData** object) {
    if (object) *object = nullptr;
    index = 0;
    unsigned long number = 0;
    if (ParseNumber(word, 0xFFFF, number)) {
        handle = static_cast<std::uint16_t>(number);
        return true;
    }
    handle = mDaten && mDaten->GetHandles() ? mDaten->GetHandles()->NameToHandle(word.c_str(), index)
                                            : Handles::kNoHandle;
    if (handle != Handles::kNoHandle) return true;
    if (object && mDaten && (*object = mDaten->FindRegistered(word.c_str()))) return true;
    // The name first, for the reader of a long script, with the names it
    // may have meant; then the library's text that goes with the exit code.
    // A "NAME INDEX" word is compared by its name.
    const std::string name = word.substr(0, word.find(' '));
    Nearest nearest(name);
    ForEachName([&nearest](std::string_view known) { nearest.Offer(known); });
    ErrorLine("unknown handle name '" + word + "'" + nearest.Hint());
    LibraryError(Daten::HandleNotFound);
    return false;
}

bool SplitWords(const std::string& line, Words& words, std::string& error) {
    words.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        // A '#' that begins a word begins a comment to the end of the line.
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t' && line[i] != '\r'))) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else if (line[i] == '\\' && quoted && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += line[i];
            }
            ++i;
        }
        if (quoted) {
            error = "unterminated quote";
            return false;
        }
        words.push_back(word);
    }
    return true;
}

bool ParseAddress(const std::string& text, std::uint32_t& address) {
    if (text.empty() || text.size() > 10) return false;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (*end || text[0] == '-' || text[0] == '+' || text[0] == ' ' || value > 0xFFFFFFFFull) return false;
    address = static_cast<std::uint32_t>(value);
    return true;
}

bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    return tools::ParseUnsigned(text, max, value);
}

namespace {
std::string gLocation;
std::string gLastError;
volatile std::sig_atomic_t gInterrupted = 0;
}  // namespace

void SetLocation(const std::string& location) { gLocation = location; }
bool Interrupted() { return gInterrupted != 0; }
int InterruptSignal() { return gInterrupted; }
void ClearInterrupt() {
    if (gInterrupted == SIGINT) gInterrupted = 0;
}
const std::string& LastError() { return gLastError; }
void ClearLastError() { gLastError.clear(); }

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

void PrintJson(const nlohmann::json& document) {
    const std::string text = document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
}

void ErrorLine(const std::string& message) {
    gLastError = message;
    std::fflush(stdout);
    std::fprintf(stderr, "korvex: %s%s\n", Printable(gLocation).c_str(), Printable(message).c_str());
}

int LibraryError(std::uint8_t code) {
    ErrorLine(Daten::ErrorText(code));
    return code;
}

int UsageError(const std::string& message) {
    ErrorLine(message);
    return kExitUsage;
}

namespace {

void PrintVerbHelp(const std::string& name, const Verb& verb) {
    std::string flags;
    for (const std::string& flag : verb.flags) flags += " [" + flag + "]";
    std::printf("usage: korvex [OPTIONS] %s%s%s\n  %s\n", verb.usage.c_str(), flags.c_str(),
                verb.printsJson ? " [--json]" : "", verb.summary.c_str());
    if (verb.printsJson)
        std::printf("  --json (before or after %s): one JSON document instead\n", name.c_str());
}

int UnknownVerb(const std::string& word) {
    Nearest nearest(word);
    for (const auto& [name, verb] : Verbs())
        if (!verb.hidden) nearest.Offer(name);
    return UsageError("unknown verb '" + word + "'" + nearest.Hint());
}

// Under --json a failed verb says why on standard output too, as one
// document a script reads instead of parsing standard error.
// A load that failed says why in its message box; everything else in its
// last error line.
int Failed(Session& session, int code) {
    std::string text = session.Ended() ? session.host().LastMessage() : "";
    if (text.empty()) text = LastError();
    if (text.empty() && code > 0 && code < 16) text = Daten::ErrorText(static_cast<std::uint8_t>(code));
    PrintJson({{"error", code}, {"text", text}});
    return code;
}

int RunVerbLine(Session& session, const Words& line, bool& jsonErrors);

}  // namespace

int RunVerb(Session& session, const Words& line) {
    ClearLastError();
    session.host().ClearLastMessage();
    bool jsonErrors = session.options().json;
    int code = RunVerbLine(session, line, jsonErrors);
    // A verb whose own document carries its error (input) is not answered twice.
    const bool answered = session.JsonAnswered();
    session.SetJsonAnswered(false);
    if (code != 0 && jsonErrors && !answered) Failed(session, code);
    // Output that did not reach its file (a full disk) is a failure, not a
    // silent success; a reader that left (a closed pipe) needs no message.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno ? errno : EIO;
        std::clearerr(stdout);
        if (error != EPIPE) ErrorLine(std::string("cannot write standard output: ") + std::strerror(error));
        if (code == 0) code = kExitOutputError;
    }
    return code;
}

namespace {

int RunVerbLine(Session& session, const Words& line, bool& jsonErrors) {
    if (line.empty()) return 0;
    // --json anywhere before a "--" asks for errors as JSON, whatever the verb.
    for (const std::string& word : line) {
        if (word == "--") break;
        if (word == "--json") jsonErrors = true;
    }
    const auto found = Verbs().find(line[0]);
    if (found == Verbs().end()) return UnknownVerb(line[0]);
    const Verb& verb = found->second;
    // The verb's own options: --help and --json anywhere before a "--"; the
    // words after "--" are arguments whatever they look like.
    Words words{line[0]};
    Words flags;
    bool json = false;
    bool options = true;
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (options && line[i] == "--") {
            options = false;
        } else if (options && (line[i] == "--help" || line[i] == "-h")) {
            PrintVerbHelp(found->first, verb);
            return 0;
        } else if (options && line[i] == "--json") {
            json = verb.printsJson;
        } else if (options && std::find(verb.flags.begin(), verb.flags.end(), line[i]) !=
                                  verb.flags.end()) {
            flags.push_back(line[i]);
        } else {
            words.push_back(line[i]);
        }
    }
    const std::size_t args = words.size() - 1;
    if (args < verb.minArgs || args > verb.maxArgs)
        return UsageError("usage: " + verb.usage);
    if (verb.needsMachine) {
        if (const int code = session.Load()) return code;
    }
    std::fflush(stdout);
    session.SetJsonVerb((json || session.options().json) && verb.printsJson);
    session.SetVerbFlags(std::move(flags));
    const int code = verb.run(session, words);
    session.SetVerbFlags({});
    session.SetJsonVerb(false);
    return code;
}

}  // namespace

namespace {

// The sample machine that ships with the tool: beside the executable in the
// build tree, under share/korvex beside bin/ once installed. Answers "" when
// neither is there.
std::string SampleMachineDir() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    const std::filesystem::path dir = exe.parent_path();
    for (const auto& candidate :
         {dir / "machines" / "sample", dir / ".." / "share" / "korvex" / "machines" / "sample"}) {
        if (std::filesystem::exists(candidate / "KORVEX.INI", error))
            return candidate.lexically_normal().string();
    }
    return "";
}

const char* const kDescription =
    "Loads a machine directory as a host would and runs verbs against the\n"
    "simulated controller. With no verb and a terminal, an interactive shell\n"
    "takes the same verbs (line editing, history, TAB completes verbs, handle\n"
    "names and structure classes; Ctrl-C drops the line being typed).";

std::string VerbTable() {
    std::string table = "Verbs (korvex VERB --help, or help VERB, for one):\n";
    for (const auto& [name, verb] : Verbs()) {
        if (verb.hidden) continue;
        // A usage too long for its column puts the summary on a line of its own.
        constexpr std::size_t kColumn = 34;
        table += "  " + verb.usage;
        if (verb.usage.size() > kColumn)
            table += "\n" + std::string(kColumn + 3, ' ');
        else
            table += std::string(kColumn + 1 - verb.usage.size(), ' ');
        table += verb.summary + "\n";
    }
    table +=
        "\nA NAME is a handle name; digits only are a handle number. INDEX and AXIS\n"
        "default to 0 and 255. In scripts and the shell, a word beginning with '#'\n"
        "begins a comment. --json prints one JSON document for check, list, show,\n"
        "get, getraw, input, tree and struct, and for any failed verb\n"
        "{\"error\":CODE,\"text\":TEXT}. Exit codes: 0 success, 1-15 the library's\n"
        "error code, 64 wrong usage, 74 standard output could not be written.";
    return table;
}

const char* const kUsage = "usage: korvex [OPTIONS] [VERB [ARG...]]";

// --help as a tool of this kind shows it: the usage line, what the tool
// does, then the options and the verbs.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return std::string(kUsage) + "\n\n" + kDescription + "\n";
    }
    std::string make_description(const CLI::App*) const override { return ""; }
};

int Help(Session&, const Words& words) {
    if (words.size() == 1) {
        std::printf("%s\n\n%s\n\n%s\n", kUsage, kDescription, VerbTable().c_str());
        return 0;
    }
    const auto found = Verbs().find(words[1]);
    if (found == Verbs().end()) return UnknownVerb(words[1]);
    PrintVerbHelp(found->first, found->second);
    return 0;
}

const VerbRegistration kHelp("help", {"help [VERB]", "the verbs, or what one verb does", 0, 1,
                                      false, Help});

void OnInterrupt(int signal) { gInterrupted = signal; }

// Lets SIGINT and SIGTERM end a read (no SA_RESTART) and only take note, so
// that the run leaves between verbs and still saves the --sim state.
void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// What keeps the --sim state from being read or written back, "" when
// nothing does: found before the run, so that no session's work is lost at
// its end.
std::string CheckSimFile(const std::string& path) {
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (dir.empty()) dir = ".";
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return path + ": " + std::strerror(EISDIR);
        if (::access(path.c_str(), R_OK) != 0)
            return "cannot read " + path + ": " + std::strerror(errno);
        // Written back in place, or as a new file renamed over it.
        if (::access(path.c_str(), W_OK) != 0 && ::access(dir.c_str(), W_OK | X_OK) != 0)
            return "cannot write " + path + ": " + std::strerror(errno);
        return "";
    }
    if (errno != ENOENT) return "cannot read " + path + ": " + std::strerror(errno);
    // A new state file: its directory must be there and take it.
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        return "cannot write " + path + ": " + std::strerror(errno);
    return "";
}

}  // namespace

int RunScript(Session& session, std::istream& in, const std::string& name, bool keepGoing) {
    int firstFailure = 0;
    std::string line;
    unsigned number = 0;
    while (!Interrupted() && std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        SetLocation(name + ":" + std::to_string(number) + ": ");
        Words words;
        std::string error;
        const int code = SplitWords(line, words, error) ? RunVerb(session, words) : UsageError(error);
        SetLocation("");
        if (session.Ended()) return code;
        if (code != 0) {
            if (firstFailure == 0) firstFailure = code;
            if (!keepGoing) return code;
        }
    }
    if (Interrupted() && firstFailure == 0) return kExitInterrupted;
    return firstFailure;
}

int Main(int argc, char** argv) {
    Options options;
    options.machineDir = SampleMachineDir();
    bool explicitMachine = false;
    CLI::App app{kDescription, "korvex"};
    app.set_help_flag("-h,--help", "this text");
    app.set_version_flag("--version", std::string("korvex ") + KORVEX_VERSION_STRING,
                         "the version");
    app.add_option("-m,--machine", options.machineDir,
                   "machine directory (default: the sample machine that ships with korvex)")
        ->type_name("DIR")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->each([&](const std::string&) { explicitMachine = true; });
    app.add_option("-c,--cnc", options.cnc, "current CNC number (default 0)")
        ->type_name("N")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--sim", options.simFile,
                   "simulated controller state, read at start, written at exit")
        ->type_name("FILE");
    std::string trace;
    app.add_flag("--trace{all}", trace,
                 "print every driver and host call (--trace=driver: the driver's only)");
    app.add_flag("--messages", options.messages, "switch the library's run-time error messages on");
    app.add_option("-f", options.scriptFile,
                   "take verbs from FILE, one per line ('-' = standard input)")
        ->type_name("FILE");
    app.add_flag("-k", options.keepGoing, "keep going after a failed verb (exit code: the first failure)");
    app.add_flag("--json", options.json, "print one JSON document per verb that prints data");
    app.add_flag("--structures", options.structures,
                 "build the controller structure tree (CMotDirect): every field by name");
    // Everything from the verb on belongs to the verb, so that its arguments
    // may look like options (a negative value, a text "-x").
    app.prefix_command();
    app.footer(VerbTable());
    app.formatter(std::make_shared<HelpFormatter>());
    // An option that cannot be parsed still owes a --json caller its document;
    // the flag is looked for by hand, as the parser has not read it yet.
    const bool jsonAsked = std::any_of(argv + 1, argv + argc,
                                       [](const char* arg) { return std::strcmp(arg, "--json") == 0; });
    const auto usage = [jsonAsked](const std::string& message) {
        const int code = UsageError(message);
        if (jsonAsked) PrintJson({{"error", code}, {"text", LastError()}});
        return code;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::printf("%s", app.help().c_str());
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::printf("korvex %s\n", KORVEX_VERSION_STRING);
        return 0;
    } catch (const CLI::ParseError& error) {
        return usage(std::string(error.what()) + " (see korvex --help)");
    }
    if (trace == "all") {
        options.trace = true;
    } else if (trace == "driver") {
        options.traceDriver = true;
    } else if (!trace.empty()) {
        return usage("unknown --trace=" + trace + " (--trace, or --trace=driver)");
    }
    Words verb = app.remaining();
    if (!verb.empty() && verb[0] == "--") {
        verb.erase(verb.begin());
    } else if (!verb.empty() && verb[0].size() > 1 && verb[0][0] == '-') {
        return usage("unknown option '" + verb[0] + "' (see korvex --help)");
    }
    if (!options.scriptFile.empty() && !verb.empty())
        return usage("give either -f FILE or a verb, not both");
    if (options.machineDir.empty() && !explicitMachine)
        return usage("no sample machine beside the korvex executable; name one with -m DIR");

    // Under --json the failures before the first verb are documents too.
    const auto failed = [&options](int code) {
        if (options.json) PrintJson({{"error", code}, {"text", LastError()}});
        return code;
    };
    if (!options.simFile.empty()) {
        const std::string problem = CheckSimFile(options.simFile);
        if (!problem.empty()) return failed(UsageError(problem));
    }
    Session session(options);
    if (session.SimLoadFailed()) return failed(kExitUsage);
    CatchInterrupts();
    int code = 0;
    if (!verb.empty()) {
        code = RunVerb(session, verb);
    } else if (!options.scriptFile.empty() && options.scriptFile != "-") {
        std::ifstream script(options.scriptFile);
        if (!script)
            return failed(
                UsageError("cannot read " + options.scriptFile + ": " + std::strerror(errno)));
        code = RunScript(session, script, options.scriptFile, options.keepGoing);
    } else if (options.scriptFile.empty() && isatty(STDIN_FILENO)) {
        code = RunShell(session);
    } else {
        code = RunScript(session, std::cin, "<stdin>", options.keepGoing);
    }
    if (!session.SaveSim() && code == 0) code = failed(kExitUsage);
    std::fflush(stdout);
    return code;
}

}  // namespace korvex::cli
