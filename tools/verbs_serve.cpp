// The serve verb: the service console, a web page and a JSON API over the
// machine's values, until SIGINT or SIGTERM.
//
// The main thread owns the Daten: it runs the requests the HTTP threads hand
// it, one at a time, and reads the watched values every interval for the
// live streams.
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "tools/signal_window.h"
#include "tools/common/input_check.h"
#include "tools/serve/console_api.h"
#include "tools/serve/console_server.h"

namespace korvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

void Log(const std::string& line) { std::fprintf(stderr, "korvex: serve: %s\n", line.c_str()); }

// The page's files: beside the executable in the build tree, or in the
// installed share directory.
std::string WebDir() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    const std::filesystem::path dir = exe.parent_path();
    for (const auto& candidate : {dir / "web", dir / ".." / "share" / "korvex" / "web"}) {
        if (std::filesystem::exists(candidate / "index.html", error))
            return candidate.lexically_normal().string();
    }
    return "";
}

bool ReadToken(const std::string& file, std::string& token) {
    std::ifstream in(file);
    if (!in || !std::getline(in, token)) return false;
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
    // The token travels in a header and a cookie: printable, no blanks.
    for (char c : token)
        if (c <= ' ' || c > '~' || c == ';' || c == ',') return false;
    return token.size() >= 8;
}

// Checked operator input, as the tool's input verb and the bridge run it. The
// status tells a client at once who is at fault: the request (400), the
// console's settings (403), or the controller (502).
serve::Answer RunCheckedInput(Session& session, std::uint16_t handle, CData* object,
                              const std::string& text, std::uint16_t index, bool preview) {
    tools::InputRequest request;
    request.handle = object ? Handles::kNoHandle : handle;
    request.object = object;
    request.text = text;
    request.index = index;
    request.preview = preview;
    const tools::InputResult result = tools::RunInput(*session.daten(), session.sim(), request);
    int status = 400;
    switch (result.error) {
        case Daten::Ok: status = 200; break;
        case Daten::DirectAccessNotAllowed: status = 403; break;
        case Daten::HandleNotFound: status = 404; break;
        case Daten::CommandStringNotFound: status = 500; break;
        case Daten::DataOrDriverError: status = 502; break;
        default: break;
    }
    return {status, tools::InputResultJson(result)};
}

int Serve(Session& session, const Words& words) {
    serve::ServeOptions options;
    std::string error;
    if (!serve::ParseServeArguments(Words(words.begin() + 1, words.end()), options, error))
        return UsageError(error);
    serve::ConsoleServer::Settings settings;
    settings.host = options.host;
    settings.port = options.port;
    if (!options.tokenFile.empty() && !ReadToken(options.tokenFile, settings.token))
        return UsageError("no usable token in " + options.tokenFile +
                          " (one line of at least 8 printable characters, no blanks)");
    settings.webDir = WebDir();
    if (settings.webDir.empty()) Log("the page's files were not found: only the API answers");
    PrintLintWarnings(session);

    Daten& daten = *session.daten();
    for (const std::string& pattern : options.writable) {
        bool any = false;
        Handles::ForEach([&](std::uint16_t, std::string_view name) {
            any = any || bridge::GlobMatch(pattern, name);
        });
        daten.ForEachUnnumbered([&](const std::string& name, CData*) {
            any = any || bridge::GlobMatch(pattern, name);
        });
        if (!any) Log("--writable " + pattern + " matches no name");
    }
    auto lint = [&session] { return LintMachine(session); };
    auto input = [&session](std::uint16_t handle, CData* object, const std::string& text,
                            std::uint16_t index, bool preview) {
        return RunCheckedInput(session, handle, object, text, index, preview);
    };
    serve::ConsoleApi api(daten, options.writable, TypeKeyword, lint, input);
    serve::LibraryQueue queue;
    SignalWindow signals;
    serve::ConsoleServer server(api, queue, settings, Log);
    if (!server.Start(error)) return UsageError(error);
    const std::string shown = options.host.find(':') != std::string::npos ? "[" + options.host + "]"
                                                                         : options.host;
    // The address on standard output, alone on its line, for a person or a script.
    std::printf("http://%s:%d/\n", shown.c_str(), server.Port());
    std::fflush(stdout);
    Log(std::string(settings.token.empty() ? "" : "bearer token required; ") + "values every " +
        std::to_string(options.intervalMs) + " ms; " + std::to_string(options.writable.size()) +
        " --writable patterns");

    const auto interval = std::chrono::milliseconds(options.intervalMs);
    Clock::time_point nextPass = Clock::now() + interval;
    while (!Interrupted()) {
        Clock::time_point now = Clock::now();
        if (now >= nextPass) {
            server.Pass();
            nextPass = std::max(nextPass + interval, Clock::now());
            now = Clock::now();
        }
        pollfd wake{queue.WakeFd(), POLLIN, 0};
        const auto wait = std::max(std::chrono::nanoseconds(0),
                                   std::chrono::duration_cast<std::chrono::nanoseconds>(nextPass - now));
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        if (ppoll(&wake, 1, &timeout, signals.WaitMask()) < 0) continue;  // a signal
        if (wake.revents) {
            queue.RunPending();
            // What a request changed goes out now, not at the next tick.
            if (server.TakeChanged()) nextPass = Clock::now();
        }
    }
    Log("leaving");
    server.Stop();
    return 0;
}

const VerbRegistration kServe(
    "serve", {"serve [HOST:]PORT [--writable PATTERN]... [--interval MS] [--token-file FILE]",
              "the service console: a web page and a JSON API over the machine's values, "
              "until SIGINT or SIGTERM (PORT 0: any free port)",
              1, 1000, true, Serve});

}  // namespace
}  // namespace korvex::cli
