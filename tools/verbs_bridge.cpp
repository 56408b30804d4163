// The bridge verb: publishes the machine's values on an MQTT broker and
// takes operator input back, until SIGINT, SIGTERM or "quit" on standard input.
//
// The main thread owns the Daten and runs the value path: a pass over the
// values every interval, the sets that arrived, and verbs typed on standard
// input (so that a script can change the simulated controller meanwhile).
// The network lives on the link's own thread.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/bridge/bridge_format.h"
#include "tools/bridge/mqtt_link.h"
#include "tools/bridge/value_watch.h"
#include "tools/cli.h"
#include "tools/signal_window.h"
#include "tools/service_notify.h"

namespace korvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

void Log(const std::string& line) { std::fprintf(stderr, "korvex: bridge: %s\n", line.c_str()); }

// Answers "" or what is wrong with the file.
std::string ReadPassword(const std::string& file, std::string& password) {
    errno = 0;
    std::ifstream in(file);
    if (!in) return errno ? std::strerror(errno) : "cannot be opened";
    if (!std::getline(in, password) && in.bad()) return std::strerror(errno ? errno : EIO);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password.empty() ? "the first line is empty" : "";
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
                if (words[0] == "quit" && words.size() == 1) {
                    mQuit = true;
                    return true;
                }
                if (words[0] == "bridge")
                    UsageError("the bridge runs already");
                else
                    RunVerb(session, words);
            }
        }
        return true;
    }
    // "quit" came: the bridge leaves as on SIGTERM.
    bool Quit() const { return mQuit; }

private:
    std::string mPending;
    bool mQuit = false;
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
    if (!options.passwordFile.empty()) {
        const std::string problem = ReadPassword(options.passwordFile, settings.password);
        if (!problem.empty())
            return UsageError("cannot read a password from " + options.passwordFile + ": " + problem);
    }

    // What the load read without a word, before the first value goes out.
    PrintLintWarnings(session);
    bridge::ValueWatch watch(*session.daten(), session.sim(), root, cnc, options.publish,
                             options.writable, Log);
    const std::size_t values = watch.Collect();
    for (const std::string& pattern : watch.Unmatched()) Log(pattern + " matches no name");
    Log("publishing " + std::to_string(values) + " values under " + root + "/" +
        std::to_string(cnc) + ", every " + std::to_string(options.intervalMs) + " ms");

    SignalWindow signals;
    bridge::MqttLink link(settings, Log);
    if (!link.Start(error)) return UsageError(error);

    // A script given with -f owns standard input.
    bool readInput = session.options().scriptFile.empty();
    if (readInput) fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    InputVerbs input;
    std::vector<bridge::MqttLink::Incoming> incoming;
    const auto interval = std::chrono::milliseconds(options.intervalMs);
    Clock::time_point nextPass = Clock::now();
    // Table sizes are asked again once a second, and after every verb typed.
    Clock::time_point nextSizes = nextPass + std::chrono::seconds(1);
    ServiceNotifier service;
    while (!Interrupted()) {
        if (link.Connected()) service.Ready("connected to " + options.host + ":" + std::to_string(options.port));
        service.Alive();
        Clock::time_point now = Clock::now();
        if (now >= nextPass) {
            if (now >= nextSizes) {
                watch.FollowTableSizes(link);
                nextSizes = now + std::chrono::seconds(1);
            }
            watch.Pass(link);
            // A pass that took longer than the interval does not pile up.
            nextPass = std::max(nextPass + interval, Clock::now());
            now = Clock::now();
        }
        pollfd fds[2] = {{link.IncomingFd(), POLLIN, 0},
                         {readInput ? STDIN_FILENO : -1, POLLIN, 0}};
        // A long interval still wakes every second, for the service watchdog.
        const auto wait = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(nextPass - now),
                                     std::chrono::nanoseconds(0), std::chrono::nanoseconds(1000000000));
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        if (ppoll(fds, 2, &timeout, signals.WaitMask()) < 0) continue;  // a signal, or EINTR
        if (fds[0].revents) {
            incoming.clear();
            link.TakeIncoming(incoming);
            for (const auto& message : incoming) watch.Set(message.topic, message.payload, message.size, link);
            // What the sets changed goes out now, not at the next tick.
            if (!incoming.empty()) nextPass = Clock::now();
        }
        if (fds[1].revents) {
            if (!input.ReadAndRun(session)) readInput = false;
            if (session.Ended() || input.Quit()) break;
            nextPass = nextSizes = Clock::now();
        }
    }
    if (session.options().scriptFile.empty())
        fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) & ~O_NONBLOCK);
    Log("leaving");
    service.Stopping();
    link.Stop();
    return 0;
}

const VerbRegistration kBridge(
    "bridge", {"bridge HOST:PORT [--root TOPIC] [--publish PATTERN]... [--writable PATTERN]... "
               "[--interval MS] [--username NAME --password-file FILE] [--tls-ca FILE]",
               "publish the machine on an MQTT broker until SIGINT, SIGTERM or quit", 1, 1000,
               true, Bridge});

}  // namespace
}  // namespace korvex::cli
