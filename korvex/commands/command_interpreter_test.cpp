#include <gtest/gtest.h>

#include <string>

#include "tests/support/command_fixture.h"

namespace korvex::commands::testing {
namespace {

using Op = korvex::host::SimDriver::Operation;

TEST(HasComTest, CommandWords) {
    struct Case {
        const char *text, *word;
        bool has;
    } cases[] = {
        {"FA", "FA", true},       {"nofa", "FA", true}, {"  FA  ", "FA", true},
        {"\tfa\r\n", "FA", true}, {"nofv", "FV", true}, {" FV1", "FV", true},
        {"FAX", "FA", true},      {"NO", "FA", false},  {"NO", "NO", false},
        {"NOFA", "NO", false},    {"XFA", "FA", false}, {"F", "FA", false},
        {"NO FA", "FA", false},   {"AOF", "FA", false}, {"TOLC", "TOL", true},
        {"NOZREV", "ZREV", true}, {"", "FA", false},    {"fb12", "FB", true},
    };
    for (const Case& c : cases) EXPECT_EQ(Daten::hasCom(c.text, c.word), c.has) << c.text;
    EXPECT_FALSE(Daten::hasCom(nullptr, "FA"));
    // A text longer than the 256-byte working copy still shows its first word.
    EXPECT_TRUE(Daten::hasCom(("FA" + std::string(400, '1')).c_str(), "FA"));
    // Only the first 256 characters are looked at.
    EXPECT_TRUE(Daten::hasCom((std::string(254, ' ') + "FA").c_str(), "FA"));
    EXPECT_FALSE(Daten::hasCom((std::string(255, ' ') + "FA").c_str(), "FA"));
}

class InterpreterTest : public CommandTest {};

TEST_F(InterpreterTest, FeedWordsAskTheFrameWhetherTheyAreForbidden) {
    struct Case {
        const char* text;
        long answer0;  // frame's answer to (0x490, 36, 0)
        long answer1;  // ... to (0x490, 36, 1)
        bool forbidden;
        Events asked;
    } cases[] = {
        {"METR", 1, 1, false, {}},
        {"FA", 0, 1, false, {"frameMessage 0x490 36 0 -> 0"}},
        {"FA", 1, 0, true, {"frameMessage 0x490 36 0 -> 1"}},
        {"nofb", 1, 0, true, {"frameMessage 0x490 36 0 -> 1"}},
        {"FT2", 0, 0, false, {"frameMessage 0x490 36 0 -> 0"}},
        {"AOF", 3, 0, true, {"frameMessage 0x490 36 0 -> 3"}},
        {"FV", 1, 0, false, {"frameMessage 0x490 36 1 -> 0"}},
        {"FV", 0, 1, true, {"frameMessage 0x490 36 1 -> 1"}},
    };
    for (const Case& c : cases) {
        Clear();
        machine.host.frameAnswers[{0x490, 36, 0}] = c.answer0;
        machine.host.frameAnswers[{0x490, 36, 1}] = c.answer1;
        EXPECT_EQ(daten->FAFVForbidden(c.text), c.forbidden) << c.text;
        EXPECT_EQ(Trace(), c.asked) << c.text;
    }
}

TEST_F(InterpreterTest, CommandLineIsLoggedSentAndFollowedUp) {
    Long(1038, 0);
    EXPECT_EQ(Input("FA", 581), 0);
    EXPECT_EQ(Trace(), (Events{"frameMessage 0x490 36 0 -> 0", "frameMessage 0x490 31 10 -> 0",
                               "frameCommandEcho \"FA\"",
                               "protocol 398 \"TESTMACHINE\" \"COMM FA\"",
                               "frameProtocolLine \"COMM FA\" 398", "581 <- FA", "Sleep 151",
                               "frameMessage 0x490 36 0 -> 0", "frameCommandFollowUp \"FA\""}));
    // A forbidden feed command still goes out, without the feed message.
    Clear();
    machine.host.frameAnswers[{0x490, 36, 0}] = 1;
    EXPECT_EQ(Input("FA", 581, 2), 0);
    EXPECT_EQ(Trace(), (Events{"frameMessage 0x490 36 0 -> 1", "frameCommandEcho \"FA\"",
                               "protocol 398 \"TESTMACHINE\" \"COMM FA\"",
                               "frameProtocolLine \"COMM FA\" 398", "581@2 <- FA", "Sleep 151",
                               "frameMessage 0x490 36 0 -> 1"}));
}

TEST_F(InterpreterTest, BusyChannelSendsAndLogsNothing) {
    machine.host.tickStep = 50;
    machine.sim.SetBusyReads(1000);
    EXPECT_EQ(Input("METR", 581), 0);  // 581 answers 0 whatever happened
    EXPECT_EQ(Trace(), (Events{"frameMessage 0x494 0 0 -> 0",
                               "frameMessage 0x494 2 \"Input METR not possible!\" -> 0",
                               "frameMessage 0x494 8 0 -> 0"}));
    EXPECT_EQ(DriverWrites(), 0u);
    // About 500 ms of polling: one read per 50 ms tick.
    EXPECT_EQ(machine.sim.Calls(Op::ReadByHandle), 10u);
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    // The tick count wraps while waiting: the wait still lasts 500 ms.
    Clear();
    machine.host.now = 0xFFFFFFF0u;
    machine.host.tickStep = 10;
    machine.sim.SetBusyReads(40);
    char text[] = "NOTOL";
    EXPECT_EQ(daten->CheckAndSendComm(text, 0, 255), 0);
    EXPECT_EQ(Sent(), (Events{"581 <- NOTOL"}));
    EXPECT_EQ(machine.sim.Calls(Op::ReadByHandle), 10u + 41u);
}

TEST_F(InterpreterTest, OverlongInputIsCutAt256Characters) {
    daten->SetDefinition(300, ToolRecord("", "", ""));
    EXPECT_EQ(daten->LastCommandText(), nullptr);
    Input("", 300);
    EXPECT_STREQ(daten->LastCommandText(), "");
    struct Case {
        std::size_t typed, kept;
    } cases[] = {{255, 255}, {256, 256}, {257, 256}, {300, 256}};
    for (const Case& c : cases) {
        Input(std::string(c.typed, 'A'), 300);
        ASSERT_NE(daten->LastCommandText(), nullptr);
        EXPECT_EQ(std::string(daten->LastCommandText()), std::string(c.kept, 'A')) << c.typed;
    }
}

TEST_F(InterpreterTest, LongCommandGoesOutAndOnlyItsBusyMessageIsCut) {
    // The busy message holds 235 characters of the command; the command
    // itself goes out whole on a free channel, cut to the field (128 bytes).
    for (std::size_t length : {235u, 236u, 255u, 256u}) {
        const std::string command(length, 'A');
        Clear();
        EXPECT_EQ(Input(command, 581), 0) << length;
        EXPECT_EQ(Sent(), (Events{"581 <- " + std::string(127, 'A')})) << length;
        EXPECT_EQ(machine.host.LinesStartingWith("protocol").size(), 1u) << length;
        EXPECT_TRUE(machine.host.messageBoxes.empty()) << length;

        Clear();
        machine.host.tickStep = 50;
        machine.sim.SetBusyReads(1000);
        EXPECT_EQ(Input(command, 581), 0) << length;
        machine.sim.SetBusyReads(0);
        const std::string shown = "Input " + command.substr(0, 235) + " not possible!";
        ASSERT_EQ(shown.size(), 255u);
        EXPECT_EQ(Trace(), (Events{"frameMessage 0x494 0 0 -> 0",
                                   "frameMessage 0x494 2 \"" + shown + "\" -> 0",
                                   "frameMessage 0x494 8 0 -> 0"}))
            << length;
    }
}

TEST_F(InterpreterTest, UnknownHandlesAndFlagHandlesGivenText) {
    EXPECT_EQ(Input("1", 700), Daten::HandleNotFound);
    EXPECT_EQ(Input("1", 15000), Daten::HandleNotFound);
    daten->SetDefinition(701, CommandRecord(DInfo::CommFlag));
    EXPECT_EQ(Input("1", 701), Daten::DataOrDriverError);
    ASSERT_EQ(machine.host.messageBoxes.size(), 3u);
    EXPECT_EQ(machine.host.messageBoxes[2].text.substr(0, 22), "Data or driver error!\n");
    EXPECT_EQ(DriverWrites(), 0u);
}

// Text for the command line itself is stored as typed; an empty command
// goes out without a protocol line.
TEST_F(InterpreterTest, CommandInputIsStoredUnchanged) {
    EXPECT_EQ(Input("ho hum FA", 580, 1), 0);
    char empty[] = "";
    EXPECT_EQ(daten->CheckAndSendComm(empty, 0, 255), 0);
    EXPECT_EQ(Trace(), (Events{"580@1 <- ho hum FA", "581 <- "}));
}

TEST_F(InterpreterTest, DirectRoadWritesTheConvertedValue) {
    daten->SetDefinition(900, new DInfo(DInfo::QZREAL, -100000, 100000, 0, 10, 3, 10, 4, 1.0,
                                        DInfo::TPara, 1, 0, 1, "", "", "", "", "", 0, 0, 0, 10));
    daten->SetDefinition(901, TextRecord(16, DInfo::TPara, 1));
    EXPECT_EQ(Input("1.5", 900, 3), 0);
    EXPECT_EQ(machine.sim.PeekLong(0, 0, 900, 3), 1500);
    EXPECT_EQ(Input("abc", 900), Daten::DataOrDriverError);
    EXPECT_EQ(Input("Hello", 901, 2), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(machine.sim.Peek(0, 0, 901, 2).data())),
              "Hello");
    EXPECT_TRUE(Sent().empty());
}

TEST_F(InterpreterTest, DirectWriteModeWritesEveryHandleDirectly) {
    machine.model.global.mDriverName = "zazazizozuv.dll";
    daten.reset(NewProbe());
    daten->SetDefinition(3001, ToolRecord("", "T", "D"));
    EXPECT_EQ(Input("1.2", 3001, 4), 0);
    EXPECT_EQ(machine.sim.PeekLong(0, 0, 3001, 4), 1200);
    EXPECT_TRUE(Sent().empty());
}

// How the typed text meets the handle's letters is the commands_tool_table
// script's; what the tool does not show stays here.
class ToolParameterTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        daten->SetDefinition(279, ToolRecord("", "T", "S"));
        daten->SetDefinition(286, ToolRecord("", "K", "D"));
        daten->SetDefinition(365, ToolRecord("", "K", "T"));
    }
};

TEST_F(ToolParameterTest, ConversionTableMarksEntriesChangedByUser) {
    daten->clearTTkv_ChangedByUser();  // nothing was marked: no summary
    EXPECT_FALSE(daten->TTkvChangedSummary());
    EXPECT_EQ(Input("1.5", 286, 3), 0);
    EXPECT_EQ(Input("7", 365, 499), 0);
    EXPECT_EQ(Input("7", 365, 500), 0);  // beyond the flags: sent, not marked
    EXPECT_TRUE(daten->TTkvChangedByUser(286, 3));
    EXPECT_FALSE(daten->TTkvChangedByUser(365, 3));
    EXPECT_TRUE(daten->TTkvChangedByUser(365, 499));
    EXPECT_FALSE(daten->TTkvChangedByUser(365, 500));
    EXPECT_TRUE(daten->TTkvChangedSummary());
    EXPECT_EQ(Sent(), (Events{"582@3 <- K4D1.5", "582@499 <- K500T7", "582@500 <- K501T7"}));
    daten->clearTTkv_ChangedByUser();
    EXPECT_FALSE(daten->TTkvChangedByUser(286, 3));
    daten->clearTTkv_ChangedByUser();
    EXPECT_TRUE(daten->TTkvChangedSummary());  // the summary is never cleared here
}

TEST_F(ToolParameterTest, StarNeedsTheParameterDefinition) {
    // Neither 279's parameter definition (278) nor 365's (286) is there.
    daten->SetDefinition(286, nullptr);
    EXPECT_EQ(Input("*", 279), Daten::HandleNotFound);
    EXPECT_EQ(Input("", 365), Daten::HandleNotFound);
    EXPECT_EQ(DriverWrites(), 0u);
    EXPECT_EQ(Input("1", 279), 0);  // a number needs no such definition
    EXPECT_EQ(Sent(), (Events{"582 <- T1S1"}));
}

}  // namespace
}  // namespace korvex::commands::testing
