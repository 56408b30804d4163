// The MQTT bridge on a machine of 10,000 handles of which 1,000 change per
// interval, each against a baseline in the same run:
// - the value path alone (read 10,000, publish the 1,000 changed into a
//   counting outbox) against the same pass when nothing changed;
// - values per second through a real local Mosquitto broker (started here on
//   a free port; the benchmarks are skipped without one), acknowledged by the
//   broker, against a bare libmosquitto client publishing the same number of
//   ready-made payloads;
// - the time from a controller change to the message at a subscriber,
//   against a bare publish to the same subscriber. The bridge's interval is
//   left out (a change waits up to --interval ms more for its pass).
#include <benchmark/benchmark.h>
#include <mosquitto.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "korvex/host/host_model.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"
#include "bench/bench_machine.h"
#include "tools/bridge/mqtt_link.h"
#include "tools/bridge/value_watch.h"

namespace {

using korvex::bridge::MqttLink;
using korvex::bridge::ValueWatch;

constexpr int kHandles = 10000;
constexpr int kChanged = 1000;

// 10,000 LONGINT counters V00001..V10000 with a unit, on the simulated controller.
std::string HandleFile() {
    std::string text;
    char line[32];
    for (int i = 1; i <= kHandles; ++i) {
        std::snprintf(line, sizeof line, "V%05d=%d\n", i, i);
        text += line;
    }
    return text;
}

class ManyHandles : public korvex::bench::BenchMachine {
  public:
    ManyHandles() : BenchMachine(HandleFile()) {
        for (int i = 1; i <= kHandles; ++i) DefineLong(static_cast<std::uint16_t>(i), i, "[pcs]");
    }

    // Changes kChanged handles spread over the machine.
    void Change() {
        ++mRound;
        for (int i = 0; i < kChanged; ++i) {
            const int handle = 1 + (i * (kHandles / kChanged) + static_cast<int>(mRound)) % kHandles;
            sim.PokeLong(0, 0, static_cast<std::uint16_t>(handle), 0,
                         static_cast<std::int32_t>(mRound * 100000 + i));
        }
    }

  private:
    std::uint32_t mRound = 0;
};

struct CountingOutbox : korvex::bridge::Outbox {
    void PublishValue(const std::string&, const std::string& payload) override {
        ++messages;
        bytes += payload.size();
    }
    void PublishResult(const std::string&, const std::string&) override {}
    std::size_t messages = 0;
    std::size_t bytes = 0;
};

void Quiet(const std::string&) {}

std::unique_ptr<ValueWatch> Watch(ManyHandles& machine, const std::string& root = "korvex/BENCH") {
    auto watch = std::make_unique<ValueWatch>(*machine.daten, machine.sim, root, 0,
                                              std::vector<std::string>{},
                                              std::vector<std::string>{}, Quiet);
    watch->Collect();
    return watch;
}

void BM_BridgePass_1000Of10000Changed(benchmark::State& state) {
    ManyHandles machine;
    auto watch = Watch(machine);
    CountingOutbox outbox;
    watch->Pass(outbox);
    std::size_t published = 0;
    for (auto _ : state) {
        machine.Change();
        published += watch->Pass(outbox);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(published));
    state.counters["bytes/value"] =
        static_cast<double>(outbox.bytes) / static_cast<double>(outbox.messages);
}
BENCHMARK(BM_BridgePass_1000Of10000Changed)->Unit(benchmark::kMillisecond);

void BM_BridgePass_NothingChanged_Baseline(benchmark::State& state) {
    ManyHandles machine;
    auto watch = Watch(machine);
    CountingOutbox outbox;
    watch->Pass(outbox);
    for (auto _ : state) benchmark::DoNotOptimize(watch->Pass(outbox));
    state.SetItemsProcessed(state.iterations() * kHandles);
}
BENCHMARK(BM_BridgePass_NothingChanged_Baseline)->Unit(benchmark::kMillisecond);

// A Mosquitto broker on 127.0.0.1 on a free port for the life of the object.
class LocalBroker {
  public:
    LocalBroker() {
        const char* candidates[] = {"/usr/sbin/mosquitto", "/usr/local/sbin/mosquitto",
                                    "/usr/bin/mosquitto"};
        const char* binary = nullptr;
        for (const char* candidate : candidates)
            if (::access(candidate, X_OK) == 0) binary = candidate;
        if (!binary) return;
        mosquitto_lib_init();
        std::mt19937 random(static_cast<unsigned>(::getpid()));
        for (int attempt = 0; attempt < 20 && mPid <= 0; ++attempt) {
            port = 20000 + static_cast<int>(random() % 30000);
            mConf = "/tmp/korvex-bench-broker-" + std::to_string(::getpid()) + ".conf";
            // As root, Mosquitto would otherwise switch to a user of its own.
            std::ofstream(mConf) << (::getuid() == 0 ? "user root\n" : "") << "listener " << port
                                 << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
            const pid_t pid = ::fork();
            if (pid == 0) {
                std::freopen("/dev/null", "w", stderr);
                std::freopen("/dev/null", "w", stdout);
                ::execl(binary, binary, "-c", mConf.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            if (Reachable()) mPid = pid;
            else if (pid > 0) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
        }
    }
    ~LocalBroker() {
        if (mPid > 0) ::kill(mPid, SIGTERM), ::waitpid(mPid, nullptr, 0);
        if (!mConf.empty()) std::remove(mConf.c_str());
    }
    bool Up() const { return mPid > 0; }
    int port = 0;

  private:
    bool Reachable() const {
        for (int i = 0; i < 50; ++i) {
            mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
            const bool ok = mosquitto_connect(probe, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS;
            mosquitto_destroy(probe);
            if (ok) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    pid_t mPid = -1;
    std::string mConf;
};

LocalBroker& Broker() {
    static LocalBroker broker;
    return broker;
}

std::unique_ptr<MqttLink> Link(const std::string& root) {
    korvex::bridge::LinkSettings settings;
    settings.host = "127.0.0.1";
    settings.port = Broker().port;
    settings.root = root;
    settings.clientId = "bench-" + root + "-" + std::to_string(::getpid());
    auto link = std::make_unique<MqttLink>(settings, Quiet);
    std::string error;
    if (!link->Start(error)) return nullptr;
    for (int i = 0; i < 200 && !link->Connected(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return link->Connected() ? std::move(link) : nullptr;
}

void WaitAcknowledged(MqttLink& link, std::uint64_t count) {
    while (link.Acknowledged() < count) std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void BM_BridgeBroker_1000Of10000Changed(benchmark::State& state) {
    if (!Broker().Up()) return state.SkipWithError("no mosquitto broker");
    ManyHandles machine;
    auto watch = Watch(machine);
    auto link = Link("korvex/BENCH");
    if (!link) return state.SkipWithError("cannot connect");
    // The first pass publishes everything; then only the changes.
    std::uint64_t expected = link->Acknowledged() + watch->Pass(*link);
    WaitAcknowledged(*link, expected);
    std::size_t published = 0;
    for (auto _ : state) {
        machine.Change();
        const std::size_t count = watch->Pass(*link);
        published += count;
        expected += count;
        WaitAcknowledged(*link, expected);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(published));
    link->Stop();
}
BENCHMARK(BM_BridgeBroker_1000Of10000Changed)->Unit(benchmark::kMillisecond)->UseRealTime();

// Bare libmosquitto: 1,000 ready-made payloads of the same size, QoS 1,
// retained, waiting for every acknowledgement.
void BM_BareClient_1000Payloads_Baseline(benchmark::State& state) {
    if (!Broker().Up()) return state.SkipWithError("no mosquitto broker");
    struct Acks {
        std::mutex mutex;
        std::condition_variable done;
        std::uint64_t count = 0;
    } acks;
    mosquitto* client = mosquitto_new(nullptr, true, &acks);
    mosquitto_max_inflight_messages_set(client, 0);
    mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int) {
        auto* a = static_cast<Acks*>(self);
        std::lock_guard<std::mutex> lock(a->mutex);
        ++a->count;
        a->done.notify_all();
    });
    if (mosquitto_connect(client, "127.0.0.1", Broker().port, 30) != MOSQ_ERR_SUCCESS)
        return state.SkipWithError("cannot connect");
    mosquitto_loop_start(client);
    const std::string payload =
        R"({"handle":1234,"name":"V01234","index":0,"raw":100001234,"text":"100001234","unit":"[pcs]"})";
    std::vector<std::string> topics;
    for (int i = 0; i < kChanged; ++i) topics.push_back("bare/0/V" + std::to_string(i) + "/0");
    std::uint64_t expected = 0;
    for (auto _ : state) {
        for (const std::string& topic : topics)
            mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, true);
        expected += kChanged;
        std::unique_lock<std::mutex> lock(acks.mutex);
        acks.done.wait(lock, [&] { return acks.count >= expected; });
    }
    state.SetItemsProcessed(state.iterations() * kChanged);
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
}
BENCHMARK(BM_BareClient_1000Payloads_Baseline)->Unit(benchmark::kMillisecond)->UseRealTime();

// A subscriber that signals each message it receives.
class Subscriber {
  public:
    explicit Subscriber(const std::string& topic) {
        mClient = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(mClient, [](mosquitto*, void* self, const mosquitto_message*) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mMutex);
            ++s->mCount;
            s->mArrived.notify_all();
        });
        mOk = mosquitto_connect(mClient, "127.0.0.1", Broker().port, 30) == MOSQ_ERR_SUCCESS &&
              mosquitto_subscribe(mClient, nullptr, topic.c_str(), 1) == MOSQ_ERR_SUCCESS;
        mosquitto_loop_start(mClient);
        // The retained message, if any, arrives first.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ~Subscriber() {
        mosquitto_disconnect(mClient);
        mosquitto_loop_stop(mClient, false);
        mosquitto_destroy(mClient);
    }
    bool Ok() const { return mOk; }
    std::uint64_t Count() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mCount;
    }
    void WaitFor(std::uint64_t count) {
        std::unique_lock<std::mutex> lock(mMutex);
        mArrived.wait(lock, [&] { return mCount >= count; });
    }

  private:
    mosquitto* mClient = nullptr;
    bool mOk = false;
    std::mutex mMutex;
    std::condition_variable mArrived;
    std::uint64_t mCount = 0;
};

void BM_BridgeLatency_ChangeToSubscriber(benchmark::State& state) {
    if (!Broker().Up()) return state.SkipWithError("no mosquitto broker");
    ManyHandles machine;
    auto watch = Watch(machine, "korvex/LATENCY");
    auto link = Link("korvex/LATENCY");
    if (!link) return state.SkipWithError("cannot connect");
    std::uint64_t expected = link->Acknowledged() + watch->Pass(*link);
    WaitAcknowledged(*link, expected);
    Subscriber subscriber("korvex/LATENCY/0/V05000/0");
    if (!subscriber.Ok()) return state.SkipWithError("cannot subscribe");
    std::uint64_t seen = subscriber.Count();
    std::int32_t value = 0;
    for (auto _ : state) {
        machine.sim.PokeLong(0, 0, 5000, 0, ++value);
        watch->Pass(*link);  // the whole pass over 10,000 handles
        subscriber.WaitFor(++seen);
    }
    link->Stop();
}
BENCHMARK(BM_BridgeLatency_ChangeToSubscriber)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_BareLatency_PublishToSubscriber_Baseline(benchmark::State& state) {
    if (!Broker().Up()) return state.SkipWithError("no mosquitto broker");
    Subscriber subscriber("bare/latency");
    if (!subscriber.Ok()) return state.SkipWithError("cannot subscribe");
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    if (mosquitto_connect(client, "127.0.0.1", Broker().port, 30) != MOSQ_ERR_SUCCESS)
        return state.SkipWithError("cannot connect");
    mosquitto_loop_start(client);
    std::uint64_t seen = subscriber.Count();
    const std::string payload = "x";
    for (auto _ : state) {
        mosquitto_publish(client, nullptr, "bare/latency", 1, payload.data(), 1, true);
        subscriber.WaitFor(++seen);
    }
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
}
BENCHMARK(BM_BareLatency_PublishToSubscriber_Baseline)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
