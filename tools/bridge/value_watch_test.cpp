#include "tools/bridge/value_watch.h"

#include <gtest/gtest.h>

#include <memory>

#include "korvex/data/numbers.h"
#include "tests/support/test_machine.h"

namespace korvex::bridge {
namespace {

using host::SimDriver;

constexpr std::uint16_t kTDiaD = 3001;
constexpr std::uint16_t kMachineName = 100;

struct RecordingOutbox : Outbox {
    void PublishValue(const std::string& topic, const std::string& payload) override {
        values.emplace_back(topic, payload);
    }
    void PublishResult(const std::string& topic, const std::string& payload) override {
        results.emplace_back(topic, payload);
    }
    std::vector<std::pair<std::string, std::string>> values, results;
};

// The sample machine with a tool table of 500 and a watch over TDiaD and
// MachineName, sets allowed on TDia*, MachineName and MaxTool*.
class ValueWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.CopySampleMachine();
        machine.sim.SetTableSize(kTDiaD, 500);
        daten.reset(machine.NewDaten());
        watch = std::make_unique<ValueWatch>(*daten, machine.sim, "r", 0,
                                             std::vector<std::string>{"tdiad", "MachineName"},
                                             std::vector<std::string>{"TDia*", "MachineName", "MaxTool*"},
                                             [this](const std::string& line) { log.push_back(line); });
    }

    testing::TestMachine machine;
    std::unique_ptr<Daten> daten;
    std::unique_ptr<ValueWatch> watch;
    RecordingOutbox outbox;
    std::vector<std::string> log;
};

TEST_F(ValueWatchTest, PublishesEveryElementOnceThenOnlyChanges) {
    EXPECT_EQ(watch->Collect(), 501u);
    EXPECT_EQ(watch->Pass(outbox), 501u);
    EXPECT_EQ(watch->Pass(outbox), 0u);
    outbox.values.clear();
    machine.sim.PokeLong(0, 0, kTDiaD, 7, 1250);
    machine.sim.Poke(0, 0, kMachineName, 0, "M\xfc" "hle", 6);
    EXPECT_EQ(watch->Pass(outbox), 2u);
    ASSERT_EQ(outbox.values.size(), 2u);
    EXPECT_EQ(outbox.values[0].first, "r/0/TDiaD/7");
    EXPECT_EQ(outbox.values[0].second,
              R"({"handle":3001,"name":"TDiaD","index":7,"raw":1250,"text":"1.250","unit":"[mm]"})");
    EXPECT_EQ(outbox.values[1].second,
              "{\"handle\":100,\"name\":\"MachineName\",\"index\":0,\"raw\":\"M\xc3\xbchle\","
              "\"text\":\"M\xc3\xbchle\",\"unit\":\"\"}");
    // The inch switch changes the display only: that is a change too.
    daten->SetInchAll();
    EXPECT_EQ(watch->Pass(outbox), 500u);
}

TEST_F(ValueWatchTest, TablesFollowTheControllersSize) {
    EXPECT_EQ(watch->Collect(), 501u);
    watch->Pass(outbox);
    outbox.values.clear();
    // A controller that cannot tell the size keeps the table as it is.
    machine.sim.FailNext(SimDriver::Operation::MaxTableElements);
    EXPECT_EQ(watch->FollowTableSizes(outbox), 0u);
    machine.sim.SetTableSize(kTDiaD, 502);
    EXPECT_EQ(watch->FollowTableSizes(outbox), 1u);
    EXPECT_EQ(watch->Values(), 503u);
    EXPECT_EQ(watch->Pass(outbox), 2u);
    EXPECT_EQ(outbox.values.back().first, "r/0/TDiaD/501");
    // The elements lost are cleared (an empty retained message), once.
    outbox.values.clear();
    machine.sim.SetTableSize(kTDiaD, 499);
    EXPECT_EQ(watch->FollowTableSizes(outbox), 1u);
    EXPECT_EQ(watch->FollowTableSizes(outbox), 0u);
    const std::vector<std::pair<std::string, std::string>> cleared = {
        {"r/0/TDiaD/499", ""}, {"r/0/TDiaD/500", ""}, {"r/0/TDiaD/501", ""}};
    EXPECT_EQ(outbox.values, cleared);
    EXPECT_EQ(watch->Pass(outbox), 0u);
    EXPECT_EQ(log.back(), "TDiaD: 499 elements (502 before)");
    // Patterns that match nothing are named.
    ValueWatch unmatched(*daten, machine.sim, "r", 0, {"TDiaD", "NoSuch*"}, {"tdia?", "X"},
                         [](const std::string&) {});
    unmatched.Collect();
    EXPECT_EQ(unmatched.Unmatched(), (std::vector<std::string>{"--publish NoSuch*", "--writable X"}));
}

TEST_F(ValueWatchTest, FailingReadsPublishNothingAndLogOnce) {
    watch->Collect();
    watch->Pass(outbox);
    machine.sim.PokeLong(0, 0, kTDiaD, 3, 99);
    machine.sim.FailNext(SimDriver::Operation::ReadByHandle, 2 * 501);
    EXPECT_EQ(watch->Pass(outbox), 0u);
    EXPECT_EQ(watch->Pass(outbox), 0u);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "501 values could not be read (first TDiaD 0: Data or driver error!)");
    // Back again: the change made meanwhile goes out.
    EXPECT_EQ(watch->Pass(outbox), 1u);
    EXPECT_EQ(log.back(), "every value reads again");
}

// A Latin-1 text, a protected field, an unknown name, a bad or too large
// index, a payload too large, not UTF-8 or empty, and input the check
// refuses are the bridge's end-to-end test's (over a real broker).
TEST_F(ValueWatchTest, SetsGoThroughCommOrAreRefused) {
    watch->Collect();
    struct Case {
        const char* topic;
        std::string payload;
        std::size_t size;
        std::uint8_t code;
        const char* written;  // the driver write it makes, or nullptr
        const char* sent;     // the result's list of lines
    } cases[] = {
        // The tool table takes the TPara road: a parameter command line.
        {"r/0/TDiaD/4/set", "1.2", 3, 0, R"(WriteByHandle 0 0 582 4 7 0 "T5D1.2\x00" -> 0)",
         R"(["T5D1.2"])"},
        {"r/0/machinename/0/set", "x", 1, 0, R"(WriteByHandle 0 0 100 0 2 0 "x\x00" -> 0)",
         R"(["MachineName[0]=x"])"},
        {"r/0/TDiaD/-1/set", "1", 1, Daten::ParameterError, nullptr, "[]"},
        {"r/0/TDiaD/99999999999/set", "1", 1, Daten::ValueOutOfRange, nullptr, "[]"},
        {"r/0/TDiaD//set", "1", 1, Daten::ParameterError, nullptr, "[]"},
        {"r/0/TDiaD/0/set", std::string("1\0" "2", 3), 3, Daten::SyntaxError, nullptr, "[]"},
    };
    machine.sim.SetRecordTrace(true);
    for (const Case& c : cases) {
        machine.sim.ClearTrace();
        outbox.results.clear();
        const auto writes = machine.sim.Calls(SimDriver::Operation::WriteByHandle);
        EXPECT_EQ(watch->Set(c.topic, c.payload, c.size, outbox), c.code) << c.topic;
        ASSERT_EQ(outbox.results.size(), 1u) << c.topic;
        EXPECT_EQ(outbox.results[0].first, ResultTopic(c.topic));
        EXPECT_EQ(outbox.results[0].second,
                  std::string(R"({"error":)") + std::to_string(c.code) + R"(,"text":")" +
                      (c.code ? Daten::ErrorText(c.code) : "") + R"(","sent":)" + c.sent + "}");
        if (!c.written) {
            EXPECT_EQ(machine.sim.Calls(SimDriver::Operation::WriteByHandle), writes) << c.topic;
            continue;
        }
        bool found = false;
        for (const std::string& line : machine.sim.TraceLines()) found = found || line == c.written;
        EXPECT_TRUE(found) << c.topic << " did not write " << c.written;
    }
}

TEST_F(ValueWatchTest, ObjectsWithoutNumbersArePublishedAndSetByName) {
    daten->SetLastNumber(Daten::kFirstRegisteredHandle);
    CPrivNumber numbered(daten.get(), "PrivA", 2, 10, 3, "[mm]", 0, 10, 3, "[mm]");
    CPrivNumber unnumbered(daten.get(), "PrivB", 2, 10, 3, "[mm]", 0, 10, 3, "[mm]");
    ASSERT_EQ(unnumbered.Handle(), Handles::kNoHandle);
    ValueWatch objects(*daten, machine.sim, "r", 0, {"priv*"}, {"PrivB"}, [](const std::string&) {});
    EXPECT_EQ(objects.Collect(), 4u);
    EXPECT_EQ(objects.Pass(outbox), 4u);
    EXPECT_EQ(objects.Set("r/0/privb/1/set", "1.5", 3, outbox), 0);
    EXPECT_EQ(objects.Set("r/0/PrivB/2/set", "1", 1, outbox), Daten::ValueOutOfRange);
    EXPECT_EQ(objects.Set("r/0/PrivA/0/set", "1", 1, outbox), Daten::DirectAccessNotAllowed);
    EXPECT_EQ(unnumbered.GetValue(1, 255), 1500);
    outbox.values.clear();
    EXPECT_EQ(objects.Pass(outbox), 1u);
    ASSERT_EQ(outbox.values.size(), 1u);
    EXPECT_EQ(outbox.values[0].first, "r/0/PrivB/1");
    EXPECT_EQ(outbox.values[0].second,
              R"({"handle":null,"name":"PrivB","index":1,"raw":1500,"text":"1.500","unit":"[mm]"})");
}

TEST_F(ValueWatchTest, ForeignMessagesAreDroppedWithoutAnswer) {
    watch->Collect();
    for (const char* topic : {"r/1/TDiaD/0/set", "other/0/TDiaD/0/set", "r/0/TDiaD/0"}) {
        EXPECT_EQ(watch->Set(topic, "1", 1, outbox), ValueWatch::kDropped) << topic;
    }
    EXPECT_TRUE(outbox.results.empty());
    EXPECT_EQ(log.size(), 3u);
}

}  // namespace
}  // namespace korvex::bridge
