#include "tools/bridge/mqtt_link.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <fstream>

namespace korvex::bridge {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQos = 1;
// Messages handed to libmosquitto per turn of the loop before looking at the
// socket again.
constexpr int kFeedBatch = 64;

int Millis(Clock::duration d) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

struct LibraryUse {
    LibraryUse() { mosquitto_lib_init(); }
};

}  // namespace

MqttLink::MqttLink(LinkSettings settings, LogSink log)
    : mSettings(std::move(settings)), mLog(std::move(log)), mStatusTopic(mSettings.root + "/status") {
    static LibraryUse library;
    mNetworkEvent = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    mIncomingEvent = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

MqttLink::~MqttLink() {
    Stop();
    if (mMosq) mosquitto_destroy(mMosq);
    if (mNetworkEvent >= 0) close(mNetworkEvent);
    if (mIncomingEvent >= 0) close(mIncomingEvent);
}

bool MqttLink::Start(std::string& error) {
    if (mNetworkEvent < 0 || mIncomingEvent < 0) {
        error = "cannot create event descriptors";
        return false;
    }
    mMosq = mosquitto_new(mSettings.clientId.c_str(), true, this);
    if (!mMosq) {
        error = "cannot create the MQTT client";
        return false;
    }
    mosquitto_int_option(mMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // The value queue above does the pacing; libmosquitto's own limit would
    // only keep messages in a second, unbounded queue.
    mosquitto_max_inflight_messages_set(mMosq, 0);
    mosquitto_will_set(mMosq, mStatusTopic.c_str(), 7, "offline", kQos, true);
    if (!mSettings.username.empty() &&
        mosquitto_username_pw_set(mMosq, mSettings.username.c_str(),
                                  mSettings.password.c_str()) != MOSQ_ERR_SUCCESS) {
        error = "bad user name or password";
        return false;
    }
    if (!mSettings.tlsCa.empty()) {
        errno = 0;
        if (!std::ifstream(mSettings.tlsCa).good()) {
            error = "cannot read the CA file " + mSettings.tlsCa + ": " +
                    (errno ? std::strerror(errno) : "cannot be opened");
            return false;
        }
        const int rc = mosquitto_tls_set(mMosq, mSettings.tlsCa.c_str(), nullptr, nullptr,
                                         nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("TLS: ") + mosquitto_strerror(rc);
            return false;
        }
    }
    mosquitto_connect_callback_set(mMosq, OnConnect);
    mosquitto_message_callback_set(mMosq, OnMessage);
    mosquitto_publish_callback_set(mMosq, OnPublish);
    mThread = std::thread([this] { Run(); });
    return true;
}

void MqttLink::Stop(unsigned timeoutMs) {
    if (!mThread.joinable()) return;
    mStopTimeoutMs = timeoutMs;
    mStopping = true;
    Wake(mNetworkEvent);
    mThread.join();
}

void MqttLink::PublishValue(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        auto [entry, added] = mValues.try_emplace(topic);
        entry->second.payload = payload;
        if (!entry->second.dirty) {
            entry->second.dirty = true;
            mDirty.push_back(&*entry);
        }
    }
    Wake(mNetworkEvent);
}

void MqttLink::PublishResult(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mResults.size() >= kMaxResults) {
            mResults.pop_front();
            ++mDroppedResults;
        }
        mResults.emplace_back(topic, payload);
    }
    Wake(mNetworkEvent);
}

void MqttLink::TakeIncoming(std::vector<Incoming>& out) {
    Drain(mIncomingEvent);
    std::lock_guard<std::mutex> lock(mMutex);
    for (Incoming& message : mIncoming) out.push_back(std::move(message));
    mIncoming.clear();
}

std::size_t MqttLink::ValuesWaiting() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mDirty.size();
}

void MqttLink::Wake(int fd) {
    const std::uint64_t one = 1;
    if (write(fd, &one, sizeof one) < 0) {
        // The counter is already non-zero: the reader wakes anyway.
    }
}

void MqttLink::Drain(int fd) {
    std::uint64_t count = 0;
    if (read(fd, &count, sizeof count) < 0) {
        // Nothing was pending.
    }
}

bool MqttLink::Connect() {
    // Without blocking: the TCP connection and the TLS handshake go on in the
    // loop below, so that a stop is never held up by a broker that does not
    // answer. mosquitto_connect_async keeps no half state after a failure.
    const int rc = mosquitto_connect_async(mMosq, mSettings.host.c_str(), mSettings.port,
                                           mSettings.keepaliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) return true;
    AttemptFailed(rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc));
    return false;
}

void MqttLink::AttemptFailed(const std::string& why) {
    const unsigned previous = mRetryMs;
    mRetryMs = std::clamp(mRetryMs * 2, mSettings.firstRetryMs, mSettings.lastRetryMs);
    // One line per failed attempt while the wait still grows, then silence.
    if (previous < mSettings.lastRetryMs)
        mLog("broker " + mSettings.host + ":" + std::to_string(mSettings.port) + " unreachable (" +
             why + "), next try in " + std::to_string(mRetryMs) + " ms");
}

void MqttLink::Lost(const char* why) {
    if (mSessionUp) mLog(std::string("connection to the broker lost (") + why + ")");
    mSessionUp = false;
    mSocketOpen = false;
}

void MqttLink::Feed() {
    std::vector<std::pair<std::string, std::string>> batch;
    while (mSessionUp && !mosquitto_want_write(mMosq)) {
        batch.clear();
        std::size_t values = 0;
        std::size_t dropped = 0;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            while (!mResults.empty() && batch.size() < kFeedBatch) {
                batch.push_back(std::move(mResults.front()));
                mResults.pop_front();
            }
            while (!mDirty.empty() && batch.size() < kFeedBatch) {
                ValueMap::value_type* entry = mDirty.front();
                mDirty.pop_front();
                entry->second.dirty = false;
                batch.emplace_back(entry->first, entry->second.payload);
                ++values;
            }
            dropped = std::exchange(mDroppedResults, 0);
        }
        if (dropped) mLog(std::to_string(dropped) + " results dropped while the broker was away");
        if (batch.empty()) return;
        const std::size_t results = batch.size() - values;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const auto& [topic, payload] = batch[i];
            const int rc = mosquitto_publish(mMosq, nullptr, topic.c_str(),
                                             static_cast<int>(payload.size()), payload.data(), kQos,
                                             i >= results);
            if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST)
                mLog("cannot publish on '" + topic + "': " + mosquitto_strerror(rc));
        }
    }
}

void MqttLink::Run() {
    Clock::time_point nextTry = Clock::now();
    Clock::time_point attemptEnd{};
    Clock::time_point deadline{};
    bool closing = false;
    while (true) {
        if (mStopping && !closing) {
            if (!mSessionUp) break;
            closing = true;
            deadline = Clock::now() + std::chrono::milliseconds(mStopTimeoutMs);
            mosquitto_publish(mMosq, &mOfflineMid, mStatusTopic.c_str(), 7, "offline", kQos, true);
        }
        if (closing && (mOfflineAcked || !mSessionUp || Clock::now() >= deadline)) {
            if (mSessionUp) {
                mosquitto_disconnect(mMosq);
                mosquitto_loop_write(mMosq, 1);
            }
            break;
        }
        if (!mSocketOpen) {
            const Clock::time_point now = Clock::now();
            if (now < nextTry) {
                pollfd wait{mNetworkEvent, POLLIN, 0};
                poll(&wait, 1, Millis(nextTry - now) + 1);
                Drain(mNetworkEvent);
                continue;
            }
            if (!Connect()) {
                nextTry = Clock::now() + std::chrono::milliseconds(mRetryMs);
                continue;
            }
            mSocketOpen = true;
            mRefused = false;
            attemptEnd = Clock::now() + std::chrono::seconds(mSettings.keepaliveSeconds);
        }
        // A broker that takes the connection and never answers is given up
        // like an unreachable one.
        if (!mSessionUp && Clock::now() >= attemptEnd) {
            AttemptFailed("no answer");
            mSocketOpen = false;
            nextTry = Clock::now() + std::chrono::milliseconds(mRetryMs);
            continue;
        }
        Feed();
        pollfd fds[2] = {{mosquitto_socket(mMosq), POLLIN, 0}, {mNetworkEvent, POLLIN, 0}};
        if (mosquitto_want_write(mMosq)) fds[0].events |= POLLOUT;
        poll(fds, 2, closing ? 50 : 1000);
        if (fds[1].revents) Drain(mNetworkEvent);
        int rc = MOSQ_ERR_SUCCESS;
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(mMosq, 1);
        if (rc == MOSQ_ERR_SUCCESS && (fds[0].revents & POLLOUT))
            rc = mosquitto_loop_write(mMosq, 1);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mMosq);
        if (rc != MOSQ_ERR_SUCCESS || mRefused) {
            if (!mSessionUp && !mRefused) {
                // The attempt itself failed (refused port, TLS handshake).
                AttemptFailed(rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno))
                                                   : mosquitto_strerror(rc));
                mSocketOpen = false;
            } else {
                Lost(mRefused ? "refused" : mosquitto_strerror(rc));
            }
            mRefused = false;
            mRetryMs = std::clamp(mRetryMs, mSettings.firstRetryMs, mSettings.lastRetryMs);
            nextTry = Clock::now() + std::chrono::milliseconds(mRetryMs);
        }
    }
    mSessionUp = false;
}

void MqttLink::OnConnect(mosquitto* mosq, void* self, int rc) {
    auto* link = static_cast<MqttLink*>(self);
    if (rc != 0) {
        link->mLog(std::string("broker refused the connection: ") + mosquitto_connack_string(rc));
        link->mRefused = true;
        return;
    }
    link->mLog("connected to " + link->mSettings.host + ":" + std::to_string(link->mSettings.port));
    link->mSessionUp = true;
    link->mRetryMs = 0;
    ++link->mConnections;
    mosquitto_subscribe(mosq, nullptr, SetFilter(link->mSettings.root, link->mSettings.cnc).c_str(),
                        kQos);
    mosquitto_publish(mosq, nullptr, link->mStatusTopic.c_str(), 6, "online", kQos, true);
    // Everything again: the broker may have lost its retained messages.
    std::lock_guard<std::mutex> lock(link->mMutex);
    for (auto& entry : link->mValues) {
        if (entry.second.dirty) continue;
        entry.second.dirty = true;
        link->mDirty.push_back(&entry);
    }
}

void MqttLink::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* link = static_cast<MqttLink*>(self);
    // A retained set is an old order: carrying it out at every start would
    // repeat it.
    if (message->retain) {
        link->mLog(std::string("dropped a retained set on '") + message->topic + "'");
        return;
    }
    Incoming incoming;
    incoming.topic = message->topic;
    incoming.size = static_cast<std::size_t>(message->payloadlen);
    if (incoming.size <= kMaxSetText)
        incoming.payload.assign(static_cast<const char*>(message->payload), incoming.size);
    {
        std::lock_guard<std::mutex> lock(link->mMutex);
        if (link->mIncoming.size() >= kMaxIncoming) {
            link->mLog("dropped a set on '" + incoming.topic + "': too many sets waiting");
            return;
        }
        link->mIncoming.push_back(std::move(incoming));
    }
    link->Wake(link->mIncomingEvent);
}

void MqttLink::OnPublish(mosquitto*, void* self, int mid) {
    auto* link = static_cast<MqttLink*>(self);
    ++link->mAcknowledged;
    if (mid == link->mOfflineMid) link->mOfflineAcked = true;
}

}  // namespace korvex::bridge
