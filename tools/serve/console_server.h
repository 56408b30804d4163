// The service console's HTTP side, on cpp-httplib: the page, the JSON API,
// the live event streams, the bearer token and the checks every request
// passes. Requests are served on the server's own threads, but every answer
// that needs the library is computed on the thread that owns the Daten: the
// request waits in a LibraryQueue until that thread runs it.
#ifndef KORVEX_TOOLS_SERVE_CONSOLE_SERVER_H_
#define KORVEX_TOOLS_SERVE_CONSOLE_SERVER_H_

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/serve/console_api.h"

namespace httplib {
class Server;
}

namespace korvex::serve {

// Jobs handed from the HTTP threads to the library thread.
class LibraryQueue {
public:
    LibraryQueue();
    ~LibraryQueue();
    LibraryQueue(const LibraryQueue&) = delete;
    LibraryQueue& operator=(const LibraryQueue&) = delete;

    // Any thread but the library's: runs job there and waits for it. False
    // (and the job not run) once the queue is closed.
    bool Run(const std::function<void()>& job);
    // Readable while jobs wait (for poll on the library thread).
    int WakeFd() const { return mWakeFd; }
    // Library thread: runs every job waiting now; answers how many ran.
    std::size_t RunPending();
    // Library thread: no job runs from now on; waiting callers get false.
    void Close();

private:
    struct Job {
        const std::function<void()>* work;
        bool done = false;
        bool ran = false;
    };
    std::mutex mMutex;
    std::condition_variable mDone;
    std::deque<Job*> mJobs;
    bool mClosed = false;
    int mWakeFd = -1;
};

// One client's live values. The library thread reads the values and
// appends events; the stream's HTTP thread sends them.
struct EventStream {
    std::mutex mutex;
    std::condition_variable ready;
    std::string pending;
    bool closed = false;
    std::vector<WatchedValue> values;  // library thread only
};

using LogSink = std::function<void(const std::string& line)>;

class ConsoleServer {
public:
    struct Settings {
        std::string host;
        int port = 0;
        std::string token;  // empty: no token asked
        std::string webDir;  // the page's files; empty when none were found
    };
    // Most event streams at once: each holds one of the server's threads.
    static constexpr std::size_t kMaxStreams = 16;

    ConsoleServer(ConsoleApi& api, LibraryQueue& queue, Settings settings, LogSink log);
    ~ConsoleServer();

    // Binds and starts serving on a thread of its own. False with error set.
    bool Start(std::string& error);
    int Port() const { return mPort; }
    // Library thread: closes the streams and the queue, stops the server.
    void Stop();

    // Library thread: reads every stream's values, hands out the events.
    void Pass();
    // Library thread: true (once) after a request that may have changed
    // values, so that the next pass comes now.
    bool TakeChanged() {
        const bool changed = mChanged;
        mChanged = false;
        return changed;
    }
    std::size_t Streams() const { return mStreams.size(); }

private:
    void Route();
    bool LoadPage(std::string& error);
    bool Authorized(const std::string& header, const std::string& query,
                    const std::string& cookie) const;

    ConsoleApi& mApi;
    LibraryQueue& mQueue;
    Settings mSettings;
    LogSink mLog;
    std::unique_ptr<httplib::Server> mServer;
    std::thread mListener;
    int mPort = 0;
    std::atomic<bool> mStopping{false};
    std::atomic<std::size_t> mOpenStreams{0};
    bool mChanged = false;                               // library thread
    std::vector<std::shared_ptr<EventStream>> mStreams;  // library thread
    // The page's files by path, with their content types.
    std::map<std::string, std::pair<std::string, std::string>> mFiles;
};

}  // namespace korvex::serve

#endif  // KORVEX_TOOLS_SERVE_CONSOLE_SERVER_H_
