// The interactive shell: libedit's line editing and history, TAB completion
// of verbs (first word) and of handle names (later words).
#include <editline/readline.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli.h"

namespace korvex::cli {
namespace {

Session* gSession = nullptr;
std::vector<std::string> gCandidates;

// Reads one byte for the line editor; a Ctrl-C (which interrupts the read)
// ends the input like end of file does.
int ReadByte(FILE*) {
    unsigned char byte = 0;
    for (;;) {
        // A Ctrl-C that came before the read (while the last verb ran or the
        // prompt was drawn) must not leave the read waiting for more keys.
        if (Interrupted()) return EOF;
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR && !Interrupted()) continue;
        return EOF;
    }
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
    if (words.empty() || (words.size() == 1 && words[0] == "help")) {
        for (const auto& [name, verb] : Verbs()) gCandidates.push_back(name);
        gCandidates.push_back("quit");
    } else if (words[0] == "sim" && words.size() == 1) {
        gCandidates = {"busy", "fail", "poke", "table"};
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

    int code = 0;
    for (;;) {
        char* input = readline("korvex> ");
        if (Interrupted()) {
            std::free(input);
            code = 130;
            break;
        }
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
