// The korvex command-line tool: options, verbs, scripts and the shell.
#ifndef KORVEX_TOOLS_CLI_H_
#define KORVEX_TOOLS_CLI_H_

#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "korvex/host/console_host.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"
#include "tools/common/lint_finding.h"

namespace korvex::cli {

constexpr int kExitUsage = 64;
// Standard output could not be written (EX_IOERR of sysexits.h).
constexpr int kExitOutputError = 74;

struct Options {
    std::string machineDir;
    unsigned cnc = 0;
    std::string simFile;
    bool trace = false;
    // --trace=driver: the driver's calls only, without the host's.
    bool traceDriver = false;
    bool messages = false;
    std::string scriptFile;
    bool keepGoing = false;
    bool json = false;
    // The factory builds a CMotDirect (the controller structure tree).
    bool structures = false;
};

// One run of the tool: the console host, the simulated controller and the
// machine once it is loaded.
class Session {
public:
    explicit Session(const Options& options);
    ~Session();

    // Loads the machine as a host would (InitKorvex). Answers 0, or the exit
    // code of a load that ended the process.
    int Load();
    Daten* daten() { return mDaten; }
    host::ConsoleHost& host() { return mHost; }
    host::SimDriver& sim() { return mSim; }
    const Options& options() const { return mOptions; }
    // Saves the simulated controller's state when --sim was given.
    bool SaveSim();
    bool SimLoadFailed() const { return mSimLoadFailed; }
    // True when the verb running now prints one JSON document (--json
    // before or after the verb).
    bool Json() const { return mJsonVerb; }
    void SetJsonVerb(bool on) { mJsonVerb = on; }
    // True when the verb running now was given its option flag (one of
    // Verb::flags, before any "--").
    bool VerbFlag(const std::string& flag) const;
    void SetVerbFlags(std::vector<std::string> flags) { mVerbFlags = std::move(flags); }
    // The verb printed one JSON document that holds its error as well.
    bool JsonAnswered() const { return mJsonAnswered; }
    void SetJsonAnswered(bool on) { mJsonAnswered = on; }
    // The names a mistyped NAME is compared with: every registered name and
    // the tree's names that have no number.
    void ForEachName(const std::function<void(std::string_view)>& visit);
    // True once a load ended the process: nothing more may run.
    bool Ended() const { return mLoaded && mLoadExit != 0; }

    // Resolves NAME (or a handle number written in digits) to a handle.
    // Answers false after printing the name and the library's text for
    // error 6 when the name is unknown; the verb then exits with 6.
    // With object given, a name registered without a handle number (past
    // the 16-bit numbers) resolves to handle 0xFFFF and its data object.
    bool ResolveHandle(const std::string& word, std::uint16_t& handle, std::uint16_t& index,
                       CData** object = nullptr);
    // Asks for the structure tree; false when the machine is already loaded
    // without it.
    bool UseStructures();
    // Runs release when the session ends, before the machine is released
    // (objects that verbs built for the rest of the run).
    void Keep(std::function<void()> release) { mKept.push_back(std::move(release)); }

private:
    Options mOptions;
    host::ConsoleHost mHost;
    host::SimDriver mSim;
    Daten* mDaten = nullptr;
    bool mLoaded = false;
    int mLoadExit = 0;
    bool mSimLoadFailed = false;
    std::vector<std::function<void()>> mKept;
    bool mJsonVerb = false;
    std::vector<std::string> mVerbFlags;
    bool mJsonAnswered = false;
};

using Words = std::vector<std::string>;

struct Verb {
    std::string usage;  // e.g. "get NAME [INDEX] [AXIS]"
    std::string summary;
    std::size_t minArgs;
    std::size_t maxArgs;
    bool needsMachine;
    // Answers the exit code (0 success, library error code, or kExitUsage).
    std::function<int(Session&, const Words&)> run;
    // The verb prints one JSON document with --json (Session::Json()).
    bool printsJson = false;
    // Left out of the help (a helper for test scripts).
    bool hidden = false;
    // Option flags of the verb's own ("--unchecked"), anywhere before a "--".
    std::vector<std::string> flags = {};
};

// The verb table; each verb file registers its verbs at start-up.
std::map<std::string, Verb>& Verbs();
struct VerbRegistration {
    VerbRegistration(const std::string& name, Verb verb);
};

// Splits a line into words: blanks separate, double quotes group.
bool SplitWords(const std::string& line, Words& words, std::string& error);
// Parses an unsigned number within [0, max]; false when it is not one.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value);
// Prints "korvex: <message>" on standard error; while a script runs,
// "korvex: FILE:LINE: <message>". Control bytes are shown escaped.
void ErrorLine(const std::string& message);
// The definition file's keyword of a DInfo::DType.
const char* TypeKeyword(unsigned type);
// Parses a controller address, decimal or 0x hex, up to 32 bits.
bool ParseAddress(const std::string& text, std::uint32_t& address);
// Prints "korvex: <library text>" and answers the code.
int LibraryError(std::uint8_t code);
// Prints "korvex: <message>" and answers kExitUsage.
int UsageError(const std::string& message);
// The last message ErrorLine printed (without "korvex: " and the script
// location); "" after ClearLastError.
const std::string& LastError();
void ClearLastError();
// The text with every control byte (below 0x20, and 0x7F) as \xNN, so that a
// file's bytes never reach the terminal as controls.
std::string Printable(std::string_view text);
// Prints one JSON document on one line; bytes that are not UTF-8 show as
// U+FFFD.
void PrintJson(const nlohmann::json& document);
// Where a script line came from ("FILE:LINE: "), "" outside scripts.
void SetLocation(const std::string& location);

using tools::LintFinding;
// Every error and silent misreading in a handle file and a definition file.
std::vector<LintFinding> LintFiles(const std::string& handleFile, const std::string& definitionFile);
// The same for the machine's own files, as KORVEX.INI names them.
std::vector<LintFinding> LintMachine(Session& session);
// Prints each finding of LintMachine as "korvex: warning: FILE:LINE: CAPTION:
// TEXT" on standard error: what a load read without a word (check, bridge
// and serve call it once the machine has loaded).
void PrintLintWarnings(Session& session);

// Runs one verb line.
int RunVerb(Session& session, const Words& words);
// Runs the lines of a script named name ("<stdin>" for standard input);
// errors name FILE:LINE. Answers the exit code.
int RunScript(Session& session, std::istream& in, const std::string& name, bool keepGoing);
// The interactive shell on a terminal (line editing, history, completion).
// Ctrl-C drops the line being typed; a second one on an empty line leaves,
// as end of input and "quit" do. Answers 0, or 130 after SIGTERM.
int RunShell(Session& session);
// Set by SIGINT and SIGTERM: the run leaves after the verb running now.
bool Interrupted();
// The signal that interrupted the run (SIGINT or SIGTERM), 0 when none.
int InterruptSignal();
// Forgets a SIGINT (the shell takes Ctrl-C as "drop this line").
void ClearInterrupt();
// The exit code of a run ended by Ctrl-C, as shells report it.
constexpr int kExitInterrupted = 130;
// The whole tool.
int Main(int argc, char** argv);

}  // namespace korvex::cli

#endif  // KORVEX_TOOLS_CLI_H_
