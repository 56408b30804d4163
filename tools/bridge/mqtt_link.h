// The bridge's connection to the broker: one network thread of its own is
// the only caller of libmosquitto once started. The value path hands it
// messages through queues and is woken through an event descriptor when sets
// arrive, so it never waits on the network.
//
// Values are kept per topic (a newer payload replaces one not yet sent), and
// the latest of every topic is sent again after each (re)connection: a broker
// that restarted may have lost its retained messages.
#ifndef KORVEX_TOOLS_BRIDGE_MQTT_LINK_H_
#define KORVEX_TOOLS_BRIDGE_MQTT_LINK_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "tools/bridge/value_watch.h"

struct mosquitto;
struct mosquitto_message;

namespace korvex::bridge {

struct LinkSettings {
    std::string host;
    int port = 1883;
    std::string root;  // ROOT/status and the set filter hang below it
    unsigned cnc = 0;
    std::string clientId;
    std::string username;  // empty: anonymous
    std::string password;
    std::string tlsCa;  // empty: plain TCP
    int keepaliveSeconds = 15;
    // Reconnection back-off: doubles from the first to the last.
    unsigned firstRetryMs = 250;
    unsigned lastRetryMs = 10000;
};

class MqttLink : public Outbox {
public:
    struct Incoming {
        std::string topic;
        std::string payload;  // empty when the message was longer than kMaxSetText
        std::size_t size = 0;
    };
    // Sets that wait beyond this are dropped (with a log line).
    static constexpr std::size_t kMaxIncoming = 1000;
    static constexpr std::size_t kMaxResults = 10000;

    MqttLink(LinkSettings settings, LogSink log);
    ~MqttLink() override;
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Checks the settings (the CA file) and starts the network thread;
    // false with error set when the link cannot work at all. An unreachable
    // broker is no error: the thread keeps trying.
    bool Start(std::string& error);
    // Publishes "offline" on ROOT/status and waits up to timeoutMs for the
    // broker to take it, then disconnects and ends the thread.
    void Stop(unsigned timeoutMs = 2000);

    // Outbox: both only queue and wake the network thread.
    void PublishValue(const std::string& topic, const std::string& payload) override;
    void PublishResult(const std::string& topic, const std::string& payload) override;

    // Readable while sets wait to be taken.
    int IncomingFd() const { return mIncomingEvent; }
    // Moves the waiting sets into out (appending).
    void TakeIncoming(std::vector<Incoming>& out);

    bool Connected() const { return mSessionUp.load(); }
    // Messages the broker acknowledged so far (values, results and status).
    std::uint64_t Acknowledged() const { return mAcknowledged.load(); }
    // Connections made so far.
    std::uint64_t Connections() const { return mConnections.load(); }
    // Values queued and not yet handed to the broker.
    std::size_t ValuesWaiting();

private:
    struct Value {
        std::string payload;
        bool dirty = false;
    };
    using ValueMap = std::unordered_map<std::string, Value>;

    void Run();
    bool Connect();
    // Logs a failed connection attempt and lengthens the wait for the next.
    void AttemptFailed(const std::string& why);
    void Feed();
    void Wake(int fd);
    static void Drain(int fd);
    void Lost(const char* why);

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnPublish(mosquitto*, void* self, int mid);

    LinkSettings mSettings;
    LogSink mLog;
    std::string mStatusTopic;
    mosquitto* mMosq = nullptr;
    std::thread mThread;
    int mNetworkEvent = -1;   // wakes the network thread
    int mIncomingEvent = -1;  // wakes the value path

    std::mutex mMutex;  // guards the queues below
    ValueMap mValues;
    std::deque<ValueMap::value_type*> mDirty;
    std::deque<std::pair<std::string, std::string>> mResults;
    std::deque<Incoming> mIncoming;
    std::size_t mDroppedResults = 0;

    std::atomic<bool> mStopping{false};
    std::atomic<bool> mSessionUp{false};
    std::atomic<std::uint64_t> mAcknowledged{0};
    std::atomic<std::uint64_t> mConnections{0};

    // Network thread only.
    unsigned mStopTimeoutMs = 2000;
    bool mSocketOpen = false;
    bool mRefused = false;
    unsigned mRetryMs = 0;
    int mOfflineMid = -1;
    bool mOfflineAcked = false;
};

}  // namespace korvex::bridge

#endif  // KORVEX_TOOLS_BRIDGE_MQTT_LINK_H_
