#include "tools/cli.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "korvex/version.h"

namespace korvex::cli {

std::map<std::string, Verb>& Verbs() {
    static std::map<std::string, Verb> verbs;
    return verbs;
}

VerbRegistration::VerbRegistration(const std::string& name, Verb verb) {
    Verbs().emplace(name, std::move(verb));
}

Session::Session(const Options& options) : mOptions(options), mHost(options.machineDir) {
    mHost.SetTrace(options.trace);
    mSim.SetTraceSink([this](const std::string& line) { mHost.TraceLine(line); });
    TGlobalData& global = mHost.Model().global;
    global.mCnc = options.cnc;
    global.mAxis = 0;
    global.mDriver = &mSim;
    global.mDriverName = "KORVEXSIM.DLL";
    _UserLevel = 0;
    _QZLev = '3';
    if (!options.simFile.empty() && std::ifstream(options.simFile).good()) {
        std::string error;
        if (!mSim.LoadState(options.simFile, error)) {
            std::fprintf(stderr, "korvex: %s\n", error.c_str());
            mSimLoadFailed = true;
        }
    }
}

Session::~Session() {
    if (mDaten) ShutDownKorvex(mDaten);
}

bool Session::SaveSim() {
    if (mOptions.simFile.empty() || mSimLoadFailed) return true;
    if (mSim.SaveState(mOptions.simFile)) return true;
    std::fprintf(stderr, "korvex: cannot write %s\n", mOptions.simFile.c_str());
    return false;
}

int Session::Load() {
    if (mLoaded) return mLoadExit;
    mLoaded = true;
    mDaten = InitKorvex(&mHost.Ini(), mHost.Model().Parent(), NewDatenProc);
    if (mHost.FatalExitRequested()) {
        // The load ended the process, as it ends a host.
        mLoadExit = mDaten && mDaten->ConstructionResult()
                        ? static_cast<int>(mDaten->ConstructionResult())
                        : static_cast<int>(Daten::DataOrDriverError);
        return mLoadExit;
    }
    if (!mDaten) {
        std::fprintf(stderr, "korvex: no data interface for CNC %u\n", mOptions.cnc);
        mLoadExit = kExitUsage;
        return mLoadExit;
    }
    mDaten->SetMessagesOn(mOptions.messages);
    return 0;
}

bool Session::ResolveHandle(const std::string& word, std::uint16_t& handle,
                            std::uint16_t& index) {
    index = 0;
    unsigned long number = 0;
    if (ParseNumber(word, 0xFFFF, number)) {
        handle = static_cast<std::uint16_t>(number);
        return true;
    }
    handle = mDaten && mDaten->GetHandles() ? mDaten->GetHandles()->NameToHandle(word.c_str(), index)
                                            : Handles::kNoHandle;
    if (handle != Handles::kNoHandle) return true;
    // The name first, for the reader of a long script; then the library's
    // text that goes with the exit code.
    std::fprintf(stderr, "korvex: unknown handle name '%s'\n", word.c_str());
    LibraryError(Daten::HandleNotFound);
    return false;
}

bool SplitWords(const std::string& line, Words& words, std::string& error) {
    words.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size()) break;
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

bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<unsigned long>(c - '0');
    }
    if (result > max) return false;
    value = result;
    return true;
}

int LibraryError(std::uint8_t code) {
    std::fprintf(stderr, "korvex: %s\n", Daten::ErrorText(code));
    return code;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "korvex: %s\n", message.c_str());
    return kExitUsage;
}

int RunVerb(Session& session, const Words& words) {
    if (words.empty()) return 0;
    const auto found = Verbs().find(words[0]);
    if (found == Verbs().end()) return UsageError("unknown verb '" + words[0] + "'");
    const Verb& verb = found->second;
    const std::size_t args = words.size() - 1;
    if (args < verb.minArgs || args > verb.maxArgs)
        return UsageError("usage: " + verb.usage);
    if (verb.needsMachine) {
        if (const int code = session.Load()) return code;
    }
    std::fflush(stdout);
    const int code = verb.run(session, words);
    std::fflush(stdout);
    return code;
}

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

void PrintHelp() {
    std::printf(
        "usage: korvex [OPTIONS] [VERB [ARG...]]\n"
        "\n"
        "Loads a machine directory as a host would and runs verbs against the\n"
        "simulated controller.\n"
        "\n"
        "options:\n"
        "  -m, --machine DIR  machine directory (default: the sample machine)\n"
        "  -c, --cnc N        current CNC number (default 0)\n"
        "  --sim FILE         simulated controller state, read at start, written at exit\n"
        "  --trace            print every driver and host call\n"
        "  --messages         switch the library's run-time error messages on\n"
        "  -f FILE            take verbs from FILE, one per line ('-' = standard input)\n"
        "  -k                 keep going after a failed verb (exit code: the first failure)\n"
        "  -h, --help         this text\n"
        "  --version          the version\n"
        "\n"
        "verbs:\n");
    for (const auto& [name, verb] : Verbs())
        std::printf("  %-34s %s\n", verb.usage.c_str(), verb.summary.c_str());
    std::printf(
        "\nA NAME is a handle name; digits only are a handle number. INDEX and AXIS\n"
        "default to 0 and 255. Exit codes: 0 success, 1-15 the library's error code,\n"
        "64 wrong usage.\n");
}

// Runs the lines of a script; answers the exit code.
int RunScript(Session& session, std::istream& in, bool keepGoing, bool prompt) {
    int firstFailure = 0;
    std::string line;
    if (prompt) std::fputs("korvex> ", stdout), std::fflush(stdout);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            if (prompt) std::fputs("korvex> ", stdout), std::fflush(stdout);
            continue;
        }
        if (prompt && (line.substr(first) == "quit" || line.substr(first) == "exit")) break;
        Words words;
        std::string error;
        int code = SplitWords(line, words, error) ? RunVerb(session, words) : UsageError(error);
        if (session.Ended()) return code;
        if (code != 0) {
            if (firstFailure == 0) firstFailure = code;
            if (!keepGoing && !prompt) return code;
        }
        if (prompt) std::fputs("korvex> ", stdout), std::fflush(stdout);
    }
    if (prompt) std::fputs("\n", stdout);
    return prompt ? 0 : firstFailure;
}

}  // namespace

int Main(int argc, char** argv) {
    Options options;
    options.machineDir = SampleMachineDir();
    int i = 1;
    auto needValue = [&](const std::string& option) -> const char* {
        if (i + 1 >= argc) return nullptr;
        (void)option;
        return argv[++i];
    };
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty() || arg[0] != '-' || arg == "-") break;
        if (arg == "-h" || arg == "--help") {
            PrintHelp();
            return 0;
        } else if (arg == "--version") {
            std::printf("korvex %s\n", KORVEX_VERSION_STRING);
            return 0;
        } else if (arg == "-m" || arg == "--machine") {
            const char* value = needValue(arg);
            if (!value) return UsageError("option " + arg + " needs a directory");
            options.machineDir = value;
        } else if (arg == "-c" || arg == "--cnc") {
            const char* value = needValue(arg);
            unsigned long cnc = 0;
            if (!value || !ParseNumber(value, 0xFFFFFFFFul, cnc))
                return UsageError("option " + arg + " needs a number");
            options.cnc = static_cast<unsigned>(cnc);
        } else if (arg == "--sim") {
            const char* value = needValue(arg);
            if (!value) return UsageError("option --sim needs a file");
            options.simFile = value;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--messages") {
            options.messages = true;
        } else if (arg == "-f") {
            const char* value = needValue(arg);
            if (!value) return UsageError("option -f needs a file");
            options.scriptFile = value;
        } else if (arg == "-k") {
            options.keepGoing = true;
        } else {
            return UsageError("unknown option '" + arg + "' (see korvex --help)");
        }
    }
    Words verb(argv + i, argv + argc);
    if (!options.scriptFile.empty() && !verb.empty())
        return UsageError("give either -f FILE or a verb, not both");

    Session session(options);
    if (session.SimLoadFailed()) return kExitUsage;
    int code = 0;
    if (!verb.empty()) {
        code = RunVerb(session, verb);
    } else if (!options.scriptFile.empty() && options.scriptFile != "-") {
        std::ifstream script(options.scriptFile);
        if (!script) return UsageError("cannot read " + options.scriptFile);
        code = RunScript(session, script, options.keepGoing, false);
    } else {
        const bool interactive = options.scriptFile.empty() && isatty(STDIN_FILENO);
        code = RunScript(session, std::cin, options.keepGoing, interactive);
    }
    if (!session.SaveSim() && code == 0) code = kExitUsage;
    std::fflush(stdout);
    return code;
}

}  // namespace korvex::cli
