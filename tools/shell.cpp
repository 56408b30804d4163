// The interactive shell: libedit's line editing and history, TAB completion
// of verbs (first word), structure classes (after struct) and handle names
// (later words). Ctrl-C drops the line being typed, as bash does.
#include <editline/readline.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "korvex/structures/proxy.h"
#include "korvex/version.h"
#include "tools/cli.h"

namespace korvex::cli {
namespace {

Session* gSession = nullptr;
std::vector<std::string> gCandidates;
// Set when a Ctrl-C ended the line being typed.
bool gDropped = false;

// Reads one byte for the line editor. A Ctrl-C (a SIGINT that interrupts the
// read, or the byte itself when the terminal passes it through) ends the
// line, which the shell then drops; SIGTERM ends the input.
int ReadByte(FILE*) {
    unsigned char byte = 0;
    for (;;) {
        // A signal that came before the read (while the prompt was drawn)
        // must not leave the read waiting for more keys.
        if (InterruptSignal() == SIGINT) break;
        if (Interrupted()) return EOF;
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got == 1 && byte != 0x03) return byte;
        if (got == 1) break;
        if (got < 0 && errno == EINTR) continue;
        return EOF;
    }
    ClearInterrupt();
    gDropped = true;
    std::fputs("^C", stdout);
    std::fflush(stdout);
    return '\n';
}

char* NextCandidate(const char* prefix, int state) {
    static std::size_t next;
    if (state == 0) next = 0;
    const std::size_t length = std::strlen(prefix);
    while (next < gCandidates.size()) {
        const std::string& candidate = gCandidates[next++];
        if (strncasecmp(candidate.c_str(), prefix, length) == 0) return ::strdup(candidate.c_str());
    }
    return nullptr;
}

char** Complete(const char* text, int start, int) {
    gCandidates.clear();
    // The words before the one being completed.
    const std::string before(rl_line_buffer, static_cast<std::size_t>(start));
    Words words;
    std::string error;
    SplitWords(before, words, error);
    if (words.empty() || (words.size() == 1 && (words[0] == "help" || words[0] == "?"))) {
        for (const auto& [name, verb] : Verbs())
            if (!verb.hidden) gCandidates.push_back(name);
        gCandidates.push_back("quit");
    } else if (words[0] == "sim" && words.size() == 1) {
        gCandidates = {"base", "busy", "fail", "mem", "peek", "poke", "table"};
    } else if (words[0] == "struct" && words.size() == 1) {
        // Classes need no machine.
        for (const auto* cls : korvex::structures::AllClasses()) gCandidates.emplace_back(cls->name);
        gCandidates.push_back("--list");
    } else if (!gSession->Ended() && (!gSession->daten() ? gSession->Load() == 0 : true)) {
        // Handle names need the machine; the first TAB loads it.
        Handles::ForEach([](std::uint16_t, std::string_view name) {
            gCandidates.emplace_back(name);
        });
    }
    rl_attempted_completion_over = 1;  // no file names
    return rl_completion_matches(text, NextCandidate);
}

std::string HistoryFile() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.korvex_history" : "";
}

}  // namespace

int RunShell(Session& session) {
    gSession = &session;
    rl_readline_name = "korvex";
    rl_catch_signals = 0;  // Ctrl-C reaches our handler, which ends the input
    rl_getc_function = ReadByte;
    rl_attempted_completion_function = Complete;
    using_history();
    stifle_history(1000);
    const std::string historyFile = HistoryFile();
    if (!historyFile.empty()) read_history(historyFile.c_str());

    const std::string machine =
        std::filesystem::path(session.options().machineDir).lexically_normal().filename().string();
    std::printf("korvex %s, machine %s: 'help' (or '?') lists the verbs, Ctrl-D or 'quit' leaves\n",
                KORVEX_VERSION_STRING, Printable(machine).c_str());
    int code = 0;
    // The last line was dropped by Ctrl-C: one more on an empty line leaves.
    bool dropped = false;
    for (;;) {
        // A Ctrl-C while the last verb ran ends nothing more.
        ClearInterrupt();
        gDropped = false;
        char* input = readline("korvex> ");
        if (Interrupted()) {  // SIGTERM
            std::free(input);
            code = kExitInterrupted;
            break;
        }
        if (gDropped) {
            const bool empty = !input || input[strspn(input, " \t")] == '\0';
            std::free(input);
            if (empty && dropped) break;
            if (empty) std::puts("(Ctrl-C again, Ctrl-D or 'quit' leaves)");
            dropped = true;
            continue;
        }
        dropped = false;
        if (!input) break;  // end of input (Ctrl-D)
        const std::string line = input;
        std::free(input);
        Words words;
        std::string error;
        if (!SplitWords(line, words, error)) {
            UsageError(error);
            continue;
        }
        if (words.empty()) continue;
        add_history(line.c_str());
        if (words.size() == 1 && (words[0] == "quit" || words[0] == "exit")) break;
        if (words[0] == "?") words[0] = "help";
        code = RunVerb(session, words);
        if (session.Ended()) break;
        code = 0;  // the shell goes on after a failed verb
    }
    std::fputs("\n", stdout);
    if (!historyFile.empty()) write_history(historyFile.c_str());
    gSession = nullptr;
    return code;
}

}  // namespace korvex::cli
