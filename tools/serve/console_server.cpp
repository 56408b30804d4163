#include "tools/serve/console_server.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include <httplib.h>

#include "korvex/korvex.h"

namespace korvex::serve {

// ---------------------------------------------------------------- queue

LibraryQueue::LibraryQueue() : mWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

LibraryQueue::~LibraryQueue() {
    if (mWakeFd >= 0) close(mWakeFd);
}

bool LibraryQueue::Run(const std::function<void()>& job) {
    Job waiting{&job};
    std::unique_lock<std::mutex> lock(mMutex);
    if (mClosed) return false;
    mJobs.push_back(&waiting);
    const std::uint64_t one = 1;
    if (write(mWakeFd, &one, sizeof one) < 0) {
        // The counter is full: the library thread is awake anyway.
    }
    mDone.wait(lock, [&waiting] { return waiting.done; });
    return waiting.ran;
}

std::size_t LibraryQueue::RunPending() {
    std::uint64_t count;
    if (read(mWakeFd, &count, sizeof count) < 0) {
        // Nothing signalled: jobs may still wait from before.
    }
    std::size_t ran = 0;
    std::unique_lock<std::mutex> lock(mMutex);
    while (!mJobs.empty() && !mClosed) {
        Job* job = mJobs.front();
        mJobs.pop_front();
        lock.unlock();
        (*job->work)();
        lock.lock();
        job->done = true;
        job->ran = true;
        ++ran;
        mDone.notify_all();
    }
    return ran;
}

void LibraryQueue::Close() {
    std::lock_guard<std::mutex> lock(mMutex);
    mClosed = true;
    for (Job* job : mJobs) job->done = true;
    mJobs.clear();
    mDone.notify_all();
}

// ---------------------------------------------------------------- server

namespace {

using httplib::Request;
using httplib::Response;

void Send(Response& res, const Answer& answer) {
    res.status = answer.status;
    res.set_content(answer.body, "application/json");
}

// Compares without stopping at the first difference, so that the time taken
// tells nothing about the token.
bool SameSecret(const std::string& a, const std::string& b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i % (b.empty() ? 1 : b.size())]);
    return differ == 0 && !b.empty();
}

std::string CookieValue(const std::string& cookies, const std::string& name) {
    std::size_t at = 0;
    while (at < cookies.size()) {
        while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
        const std::size_t end = std::min(cookies.find(';', at), cookies.size());
        const std::string pair = cookies.substr(at, end - at);
        if (pair.rfind(name + "=", 0) == 0) return pair.substr(name.size() + 1);
        at = end;
    }
    return "";
}

// The host part of a Host header: "127.0.0.1:8080" -> "127.0.0.1".
std::string HostName(const std::string& header) {
    if (!header.empty() && header[0] == '[') return header.substr(0, header.find(']') + 1);
    return header.substr(0, header.find(':'));
}

constexpr const char* kCookie = "korvex_token";

double Seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

ConsoleServer::ConsoleServer(ConsoleApi& api, LibraryQueue& queue, Settings settings, LogSink log)
    : mApi(api), mQueue(queue), mSettings(std::move(settings)), mLog(std::move(log)) {}

ConsoleServer::~ConsoleServer() { Stop(); }

bool ConsoleServer::LoadPage(std::string& error) {
    if (mSettings.webDir.empty()) return true;
    const std::pair<const char*, const char*> files[] = {
        {"index.html", "text/html; charset=utf-8"},
        {"console.js", "application/javascript; charset=utf-8"},
        {"console.css", "text/css; charset=utf-8"},
        {"dygraph.min.js", "application/javascript; charset=utf-8"},
        {"dygraph.min.css", "text/css; charset=utf-8"},
    };
    for (const auto& [name, type] : files) {
        std::ifstream in(mSettings.webDir + "/" + name, std::ios::binary);
        std::ostringstream text;
        if (!in || !(text << in.rdbuf())) {
            error = "cannot read the page's " + mSettings.webDir + "/" + name;
            return false;
        }
        mFiles["/" + std::string(name)] = {text.str(), type};
    }
    mFiles["/"] = mFiles["/index.html"];
    return true;
}

bool ConsoleServer::Authorized(const std::string& header, const std::string& query,
                               const std::string& cookie) const {
    const std::string& token = mSettings.token;
    if (header.rfind("Bearer ", 0) == 0 && SameSecret(header.substr(7), token)) return true;
    return SameSecret(query, token) || SameSecret(cookie, token);
}

void ConsoleServer::Route() {
    httplib::Server& server = *mServer;

    server.set_pre_routing_handler([this](const Request& req, Response& res) {
        using Result = httplib::Server::HandlerResponse;
        if (!mSettings.token.empty()) {
            const std::string query = req.get_param_value("access_token");
            if (!Authorized(req.get_header_value("Authorization"), query,
                            CookieValue(req.get_header_value("Cookie"), kCookie))) {
                res.set_header("WWW-Authenticate", "Bearer realm=\"korvex\"");
                Send(res, ErrorAnswer(401, Daten::DirectAccessNotAllowed,
                                      "this console needs its bearer token"));
                return Result::Handled;
            }
            // A page opened with ?access_token=... keeps the token for its own
            // requests (the event stream cannot send a header).
            if (!query.empty())
                res.set_header("Set-Cookie", std::string(kCookie) + "=" + query +
                                                 "; Path=/; HttpOnly; SameSite=Strict");
        } else if (req.has_header("Host")) {
            // Without a token only this machine may ask: a page elsewhere
            // must not reach the console through a name that resolves here.
            const std::string host = HostName(req.get_header_value("Host"));
            if (!IsLoopback(host) && host != mSettings.host) {
                Send(res, ErrorAnswer(403, Daten::DirectAccessNotAllowed,
                                      "this console answers requests for 127.0.0.1 or localhost only"));
                return Result::Handled;
            }
        }
        if (req.method == "POST") {
            // A form of another site cannot send JSON without asking first.
            std::string type = req.get_header_value("Content-Type");
            type = type.substr(0, type.find(';'));
            for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            while (!type.empty() && type.back() == ' ') type.pop_back();
            if (type != "application/json") {
                Send(res, ErrorAnswer(400, Daten::ParameterError,
                                      "a POST needs Content-Type: application/json"));
                return Result::Handled;
            }
        }
        return Result::Unhandled;
    });

    server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request& req, Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        Send(res, ErrorAnswer(res.status, Daten::UnknownParameter,
                              "no such request: " + req.method + " " + req.path));
        return httplib::Server::HandlerResponse::Handled;
    }));

    // Runs work on the library thread and sends its answer, with the time
    // the library took (wall and processor) for a browser's timing view.
    auto onLibrary = [this](Response& res, const std::function<Answer()>& work, bool changes) {
        Answer answer;
        double wall = 0, cpu = 0;
        const std::function<void()> job = [&] {
            const double wallStart = Seconds(CLOCK_MONOTONIC), cpuStart = Seconds(CLOCK_THREAD_CPUTIME_ID);
            answer = work();
            wall = Seconds(CLOCK_MONOTONIC) - wallStart;
            cpu = Seconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
            if (changes) mChanged = true;
        };
        if (!mQueue.Run(job))
            answer = ErrorAnswer(503, Daten::DataOrDriverError, "the console is closing");
        char timing[96];
        std::snprintf(timing, sizeof timing, "library;dur=%.2f, cpu;dur=%.2f", wall * 1000, cpu * 1000);
        res.set_header("Server-Timing", timing);
        Send(res, answer);
    };

    server.Get("/api/names", [this, onLibrary](const Request& req, Response& res) {
        onLibrary(res, [&] {
            return mApi.Names(req.get_param_value("match"), req.get_param_value("limit"),
                              req.has_param("limit"), req.get_param_value("offset"));
        }, false);
    });
    server.Get("/api/value/(.+)", [this, onLibrary](const Request& req, Response& res) {
        onLibrary(res, [&] {
            return mApi.Value(req.matches[1], req.get_param_value("index"), req.has_param("index"));
        }, false);
    });
    server.Get("/api/table/(.+)", [this, onLibrary](const Request& req, Response& res) {
        onLibrary(res, [&] {
            return mApi.Table(req.matches[1], req.get_param_value("from"),
                              req.get_param_value("count"));
        }, false);
    });
    server.Get("/api/units", [this, onLibrary](const Request&, Response& res) {
        onLibrary(res, [&] { return mApi.Units(nullptr); }, false);
    });
    server.Post("/api/units", [this, onLibrary](const Request& req, Response& res) {
        onLibrary(res, [&] { return mApi.Units(&req.body); }, true);
    });
    server.Post("/api/input/(.+)", [this, onLibrary](const Request& req, Response& res) {
        onLibrary(res, [&] { return mApi.Input(req.matches[1], req.body); }, true);
    });
    server.Get("/api/lint", [this, onLibrary](const Request&, Response& res) {
        onLibrary(res, [&] { return mApi.Lint(); }, false);
    });

    server.Get("/api/events", [this](const Request& req, Response& res) {
        if (!req.has_param("names")) {
            Send(res, ErrorAnswer(400, Daten::MissingKey, "events needs names=A,B"));
            return;
        }
        if (mOpenStreams.load() >= kMaxStreams) {
            Send(res, ErrorAnswer(503, Daten::NotEnoughSpace,
                                  "too many live streams; close a console page"));
            return;
        }
        auto stream = std::make_shared<EventStream>();
        Answer error;
        bool watching = false;
        const std::function<void()> job = [&] {
            watching = mApi.Watch(req.get_param_value("names"), req.get_param_value("index"),
                                  req.has_param("index"), stream->values, error);
            if (!watching) return;
            mApi.Read(stream->values, stream->pending);
            mStreams.push_back(stream);
        };
        if (!mQueue.Run(job)) {
            Send(res, ErrorAnswer(503, Daten::DataOrDriverError, "the console is closing"));
            return;
        }
        if (!watching) {
            Send(res, error);
            return;
        }
        ++mOpenStreams;
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, stream](std::size_t, httplib::DataSink& sink) {
                std::string out;
                {
                    std::unique_lock<std::mutex> lock(stream->mutex);
                    // A comment now and then finds a client that has gone.
                    stream->ready.wait_for(lock, std::chrono::seconds(10), [&] {
                        return !stream->pending.empty() || stream->closed || mStopping;
                    });
                    if (stream->closed || mStopping) return false;
                    out.swap(stream->pending);
                }
                if (out.empty()) out = ": still here\n\n";
                if (sink.write(out.data(), out.size())) return true;
                std::lock_guard<std::mutex> lock(stream->mutex);
                stream->closed = true;
                return false;
            },
            [this, stream](bool) {
                {
                    std::lock_guard<std::mutex> lock(stream->mutex);
                    stream->closed = true;
                }
                --mOpenStreams;
            });
    });

    server.Get("/(|[a-z.]+)", [this](const Request& req, Response& res) {
        const auto file = mFiles.find(req.path);
        if (file == mFiles.end()) {
            res.status = 404;
            if (mFiles.empty())
                res.set_content("korvex serve: the page's files were not found beside the tool\n",
                                "text/plain");
            return;
        }
        res.set_header("Cache-Control", "no-cache");
        res.set_content(file->second.first, file->second.second);
    });
}

bool ConsoleServer::Start(std::string& error) {
    if (!LoadPage(error)) return false;
    mServer = std::make_unique<httplib::Server>();
    // Event streams hold a thread each; requests need a few more.
    mServer->new_task_queue = [] { return new httplib::ThreadPool(kMaxStreams + 8); };
    mServer->set_keep_alive_timeout(2);
    mServer->set_read_timeout(5);
    mServer->set_write_timeout(5);
    mServer->set_payload_max_length(64 * 1024);
    Route();
    if (mSettings.port == 0) {
        mPort = mServer->bind_to_any_port(mSettings.host);
    } else if (mServer->bind_to_port(mSettings.host, mSettings.port)) {
        mPort = mSettings.port;
    }
    if (mPort <= 0) {
        error = "cannot listen on " + mSettings.host + ":" + std::to_string(mSettings.port);
        mServer.reset();
        return false;
    }
    mListener = std::thread([this] { mServer->listen_after_bind(); });
    return true;
}

void ConsoleServer::Pass() {
    std::string events;
    for (std::size_t i = 0; i < mStreams.size();) {
        EventStream& stream = *mStreams[i];
        bool closed;
        {
            std::lock_guard<std::mutex> lock(stream.mutex);
            closed = stream.closed;
        }
        if (closed) {
            mStreams.erase(mStreams.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        events.clear();
        if (mApi.Read(stream.values, events)) {
            std::lock_guard<std::mutex> lock(stream.mutex);
            // A client that reads nothing for long does not grow the memory
            // without end: its stream ends.
            if (stream.pending.size() + events.size() > 4u << 20)
                stream.closed = true;
            else
                stream.pending += events;
            stream.ready.notify_all();
        }
        ++i;
    }
}

void ConsoleServer::Stop() {
    if (!mServer) return;
    mStopping = true;
    mQueue.Close();
    for (const auto& stream : mStreams) {
        std::lock_guard<std::mutex> lock(stream->mutex);
        stream->closed = true;
        stream->ready.notify_all();
    }
    mServer->stop();
    if (mListener.joinable()) mListener.join();
    mStreams.clear();
    mServer.reset();
}

}  // namespace korvex::serve
