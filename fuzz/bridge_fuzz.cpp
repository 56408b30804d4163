// Any message a broker can deliver to the bridge: any topic and payload, as
// a set of this bridge or of another root or CNC, whole or announced longer
// than it came (a payload left out as too long). A set is answered exactly
// once on its result topic, a foreign message never; the library is reached
// only through the command interpreter; every payload the bridge publishes,
// values after the set included, is well-formed JSON.
//
// Input: byte 0 bit 0 publish a pass after the set, bit 1 the size announced
// larger than the payload; byte 1 the index written into the topic when the
// input gives none; then the topic, a NUL, and the payload. A topic without
// a '/' is taken as a name under this bridge's set prefix.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_machine.h"
#include "korvex/korvex.h"
#include "tools/bridge/bridge_format.h"
#include "tools/bridge/value_watch.h"

namespace {

using korvex::bridge::ValueWatch;
using korvex::fuzzing::Fail;

struct CheckingOutbox : korvex::bridge::Outbox {
    void PublishValue(const std::string& topic, const std::string& payload) override {
        Check(topic, payload);
    }
    void PublishResult(const std::string& topic, const std::string& payload) override {
        Check(topic, payload);
        ++results;
        lastResult = payload;
    }
    static void Check(const std::string& topic, const std::string& payload) {
        if (topic.empty()) Fail("empty topic");
        if (!nlohmann::json::accept(payload)) Fail("payload is not JSON");
    }
    int results = 0;
    std::string lastResult;
};

struct Machine : korvex::fuzzing::FuzzMachine {
    Machine() : FuzzMachine(true) {
        Handles::DropRegistry();
        daten = new Daten(model.Parent(), "QZ_DATEN", "HANDLES");
        // A small published set keeps a pass quick; every name may be set.
        watch = new ValueWatch(*daten, sim, "korvex/FUZZ", 0,
                               {"TDia*", "Machine*", "X*", "Max*"}, {"*"},
                               [](const std::string&) {});
        watch->Collect();
    }
    Daten* daten = nullptr;
    ValueWatch* watch = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Machine& machine = *new Machine;  // lives as long as the process
    if (size < 2) return 0;
    machine.ClearHost();
    const bool pass = data[0] & 1;
    const bool announcedLonger = data[0] & 2;
    const unsigned defaultIndex = data[1];
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::size_t split = rest.find('\0');
    std::string topic = rest.substr(0, split);
    const std::string payload = split == std::string::npos ? "" : rest.substr(split + 1);
    if (topic.find('/') == std::string::npos)
        topic = "korvex/FUZZ/0/" + topic + "/" + std::to_string(defaultIndex) + "/set";
    const std::size_t payloadSize = payload.size() + (announcedLonger ? 1u << 20 : 0u);

    CheckingOutbox outbox;
    const std::uint8_t code = machine.watch->Set(topic, payload, payloadSize, outbox);
    if (code == ValueWatch::kDropped) {
        if (outbox.results != 0) Fail("a dropped message was answered");
    } else {
        if (outbox.results != 1) Fail("a set was not answered exactly once");
        const nlohmann::json answer = nlohmann::json::parse(outbox.lastResult);
        if (answer.value("error", -1) != code || !answer.contains("sent"))
            Fail("answer and code differ");
        if (announcedLonger && code == 0) Fail("a payload left out was taken");
    }
    if (pass) machine.watch->Pass(outbox);
    return 0;
}
