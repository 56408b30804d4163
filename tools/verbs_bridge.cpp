// The bridge verb: publishes the machine's values on an MQTT broker and
// takes operator input back, until SIGINT or SIGTERM.
//
// The main thread owns the Daten and runs the value path: a pass over the
// values every interval, the sets that arrived, and verbs typed on standard
// input (so that a script can change the simulated controller meanwhile).
// The network lives on the link's own thread.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/bridge/bridge_format.h"
#include "tools/bridge/mqtt_link.h"
#include "tools/bridge/value_watch.h"
#include "tools/cli.h"

namespace korvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

int gSignalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const char byte = 1;
    if (write(gSignalPipe[1], &byte, 1) < 0) {
        // The pipe is full: a stop is pending already.
    }
}

// SIGINT and SIGTERM end the bridge through a pipe the loop watches; the
// previous handlers come back when it ends.
class StopSignals {
public:
    StopSignals() {
        if (pipe2(gSignalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &mOldInt);
        sigaction(SIGTERM, &action, &mOldTerm);
        // A broken connection must not end the process.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &mOldPipe);
    }
    ~StopSignals() {
        sigaction(SIGINT, &mOldInt, nullptr);
        sigaction(SIGTERM, &mOldTerm, nullptr);
        sigaction(SIGPIPE, &mOldPipe, nullptr);
        close(gSignalPipe[0]);
        close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
    int Fd() const { return gSignalPipe[0]; }

private:
    struct sigaction mOldInt {};
    struct sigaction mOldTerm {};
    struct sigaction mOldPipe {};
};

void Log(const std::string& line) { std::fprintf(stderr, "korvex: bridge: %s\n", line.c_str()); }

bool ReadPassword(const std::string& file, std::string& password) {
    std::ifstream in(file);
    if (!in || !std::getline(in, password)) return false;
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return !password.empty();
}

// Complete lines read from standard input so far run as verbs.
class InputVerbs {
public:
    // False at end of input.
    bool ReadAndRun(Session& session) {
        char buffer[4096];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) return got < 0 && (errno == EAGAIN || errno == EINTR);
        mPending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = mPending.find('\n')) != std::string::npos) {
            std::string line = mPending.substr(0, end);
            mPending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Words words;
            std::string error;
            if (!SplitWords(line, words, error)) {
                UsageError(error);
            } else if (!words.empty() && words[0][0] != '#') {
                if (words[0] == "bridge")
                    UsageError("the bridge runs already");
                else
                    RunVerb(session, words);
            }
        }
        return true;
    }

private:
    std::string mPending;
};

int Bridge(Session& session, const Words& words) {
    bridge::BridgeOptions options;
    std::string error;
    if (!bridge::ParseBridgeArguments(Words(words.begin() + 1, words.end()), options, error))
        return UsageError(error);
    const unsigned cnc = session.options().cnc;
    std::string root = options.root;
    if (root.empty()) {
        root = "korvex/" + bridge::Latin1ToUtf8(session.host().Model().global.GetMName());
        if (!bridge::NameFitsTopic(root.substr(7)))
            return UsageError("the machine name does not fit a topic: give --root");
    }
    bridge::LinkSettings settings;
    settings.host = options.host;
    settings.port = options.port;
    settings.root = root;
    settings.cnc = cnc;
    settings.clientId = root + "-" + std::to_string(cnc);
    std::replace(settings.clientId.begin(), settings.clientId.end(), '/', '-');
    settings.username = options.username;
    settings.tlsCa = options.tlsCa;
    if (!options.passwordFile.empty() && !ReadPassword(options.passwordFile, settings.password))
        return UsageError("cannot read a password from " + options.passwordFile);

    bridge::ValueWatch watch(*session.daten(), root, cnc, options.publish, options.writable, Log);
    const std::size_t values = watch.Collect();
    Log("publishing " + std::to_string(values) + " values under " + root + "/" +
        std::to_string(cnc) + ", every " + std::to_string(options.intervalMs) + " ms");

    StopSignals signals;
    if (signals.Fd() < 0) return UsageError("cannot watch for signals");
    bridge::MqttLink link(settings, Log);
    if (!link.Start(error)) return UsageError(error);

    // A script given with -f owns standard input.
    bool readInput = session.options().scriptFile.empty();
    if (readInput) fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    InputVerbs input;
    std::vector<bridge::MqttLink::Incoming> incoming;
    const auto interval = std::chrono::milliseconds(options.intervalMs);
    Clock::time_point nextPass = Clock::now();
    while (true) {
        Clock::time_point now = Clock::now();
        if (now >= nextPass) {
            watch.Pass(link);
            // A pass that took longer than the interval does not pile up.
            nextPass = std::max(nextPass + interval, Clock::now());
            now = Clock::now();
        }
        pollfd fds[3] = {{signals.Fd(), POLLIN, 0},
                         {link.IncomingFd(), POLLIN, 0},
                         {readInput ? STDIN_FILENO : -1, POLLIN, 0}};
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextPass - now).count() + 1;
        poll(fds, 3, static_cast<int>(wait));
        if (fds[0].revents) break;
        if (fds[1].revents) {
            incoming.clear();
            link.TakeIncoming(incoming);
            for (const auto& message : incoming) watch.Set(message.topic, message.payload, message.size, link);
            // What the sets changed goes out now, not at the next tick.
            if (!incoming.empty()) nextPass = Clock::now();
        }
        if (fds[2].revents) {
            if (!input.ReadAndRun(session)) readInput = false;
            if (session.Ended()) break;
            nextPass = Clock::now();
        }
    }
    if (session.options().scriptFile.empty())
        fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) & ~O_NONBLOCK);
    Log("leaving");
    link.Stop();
    return 0;
}

const VerbRegistration kBridge(
    "bridge", {"bridge HOST:PORT [--root TOPIC] [--publish PATTERN]... [--writable PATTERN]... "
               "[--interval MS] [--username NAME --password-file FILE] [--tls-ca FILE]",
               "publish the machine on an MQTT broker until SIGINT or SIGTERM", 1, 1000, true,
               Bridge});

}  // namespace
}  // namespace korvex::cli
