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

class ToolTableScrollTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        Name("TDGoto", 3000);
        Name("TDiaD", 3001);
        daten->SetDefinition(
            3000, new DInfo(DInfo::QZREAL, 0, 100000, 0, 8, 3, 8, 4, 1.0, DInfo::TPara, 1, 0, 1, "",
                            "", "", "", "", 0, 0, 0, 10));
        daten->SetDefinition(3001, ToolRecord("", "T", "D"));
    }
    void Diameters(std::initializer_list<std::int32_t> values) {
        std::uint16_t i = 0;
        for (std::int32_t value : values) machine.sim.PokeLong(0, 0, 3001, i++, value);
        machine.sim.SetTableSize(3001, i);
    }
};

TEST_F(ToolTableScrollTest, ScrollsToTheFirstDiameterNotBelowTheValue) {
    struct Case {
        std::initializer_list<std::int32_t> diameters;
        const char* text;
        Events scroll;
    } cases[] = {
        {{500, 800, 1000, 1200, 1500}, "1.2", {"SendMessage 0x490 1 \"SCROLLTABGROUP__0__TO__4\""}},
        {{500, 800, 1000, 1300, 1500}, "1.2", {"SendMessage 0x490 1 \"SCROLLTABGROUP__0__TO__3\""}},
        {{500, 800, -32768, 0, 0}, "2.0", {"SendMessage 0x490 1 \"SCROLLTABGROUP__0__TO__2\""}},
        {{500, 800, 1000}, "2.0", {}},
        {{500, 800, 1000}, "0.5", {"SendMessage 0x490 1 \"SCROLLTABGROUP__0__TO__1\""}},
    };
    for (const Case& c : cases) {
        Clear();
        Diameters(c.diameters);
        EXPECT_EQ(Input(c.text, 3000), 0) << c.text;
        EXPECT_EQ(Trace(), c.scroll) << c.text;
        // The value is written in every case.
        EXPECT_EQ(machine.sim.PeekLong(0, 0, 3000, 0),
                  static_cast<std::int32_t>(std::stod(c.text) * 1000 + 0.5));
    }
}

TEST_F(ToolTableScrollTest, FailingDiameterReadStopsBeforeTheWrite) {
    Diameters({500, 800});
    machine.sim.FailNext(Op::ReadByHandle);
    EXPECT_EQ(Input("0.6", 3000), Daten::DataOrDriverError);
    EXPECT_EQ(DriverWrites(), 0u);
    ASSERT_FALSE(machine.host.messageBoxes.empty());
    EXPECT_NE(machine.host.messageBoxes.back().text.find("Number of handle:3000"),
              std::string::npos);
}

class ToolParameterTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        Name("TDiaD", 3001);
        Name("TKchStat", 3003);
        Name("TParD", 3010);
        Name("TParC", 3015);
        Name("TTkvD", 286);
        daten->SetDefinition(3001, ToolRecord("", "T", "D"));
        daten->SetDefinition(3003, ToolRecord("", "T", "K", DInfo::BYTE));
        daten->SetDefinition(3010, ToolRecord("PS", "T", "D"));
        daten->SetDefinition(3015, ToolRecord("PS", "T", "C"));
        daten->SetDefinition(3020, ToolRecord("", "", ""));
        daten->SetDefinition(263, ToolRecord("", "T", "L"));
        daten->SetDefinition(256, ToolRecord("", "T", "Y", DInfo::BYTE));
        daten->SetDefinition(266, ToolRecord("", "T", "G", DInfo::BYTE));
        for (std::uint16_t handle = 278; handle <= 285; ++handle)
            daten->SetDefinition(handle, ToolRecord("", "T", "S"));
        daten->SetDefinition(286, ToolRecord("", "K", "D"));
        daten->SetDefinition(365, ToolRecord("", "K", "T"));
        for (std::uint16_t handle = 308; handle <= 312; ++handle)
            daten->SetDefinition(handle, ToolRecord("", "", "D"));
        daten->SetDefinition(372, ToolRecord("", "T", "C"));
        Long(307, 12);
    }
};

TEST_F(ToolParameterTest, CommandsBuiltFromTheHandleLetters) {
    struct Case {
        std::uint16_t handle;
        const char* text;
        std::uint16_t index;
        std::uint8_t flag;
        const char* sent;
    } cases[] = {
        // The tool table, a parameter set (TabIdent first), the per-spindle form
        // and the page of one tool are the commands_tool_table script's.
        {3001, "-1", 0, 255, "582 <- T1D-1"},
        {3001, ".5", 1, 255, "582@1 <- T2D.5"},
        {3001, "+3", 1, 255, "582@1 <- T2D+3"},
        {3020, "7", 3, 255, "582@3 <- 7"},         // no letters at all
        {263, "0.5", 0, 6, "582 <- T1sL7v0.5"},  // spindle form for axes 0 to 6
        {263, "0.5", 0, 7, "582 <- T1L0.5"},
        {263, "0.5", 0, 255, "582 <- T1L0.5"},
        {280, "", 2, 255, "582@2 <- T3S*"},  // empty counts as "*"
        {281, "*", 0, 255, "582 <- T1S*"},
        {308, "", 0, 255, "582 <- T12D*"},  // the tool of page 307
        {312, "2.5", 0, 255, "582 <- T12D2.5"},
        {309, "ABC", 0, 255, "582 <- T12ABC"},    // letters without "T"
        {311, "T7X", 0, 255, "582 <- T7X"},       // letters with "T"
        {312, "ABC", 0, 255, "582 <- ABC"},       // 312 takes letters as they are
        {3003, "AB", 2, 255, "582@2 <- T3KAB"},   // tool holder state
        {3001, "ABC", 1, 255, "582@1 <- T2ABC"},  // TabIndex nowhere in the text
        {3001, "X5T3", 1, 255, "582@1 <- X5T3"},  // TabIndex later in the text
        {3001, "T9", 1, 255, "582@1 <- T9"},      // TabIndex first, no scroll here
        {3001, "O3", 0, 255, "582 <- T1O3E1"},    // "O" without "E"
        {3001, "O3E2", 0, 255, "582 <- T1O3E2"},
        {3001, "o3", 0, 255, "582 <- T1o3"},
        {372, "3", 0, 255, "582 <- T1C3"},  // no radius input
        {372, "1.5", 0, 255, "582 <- T1C1.5"},
    };
    for (const Case& c : cases) {
        Clear();
        EXPECT_EQ(Input(c.text, c.handle, c.index, c.flag), 0) << c.handle << " " << c.text;
        EXPECT_EQ(Sent(), (Events{c.sent})) << c.handle << " " << c.text;
    }
}

TEST_F(ToolParameterTest, RadiusInputIsDoubled) {
    Long(1561, 1);
    EXPECT_EQ(Input("1.5", 372), 0);
    EXPECT_EQ(Sent(), (Events{"582 <- T1C3.000"}));
    Clear();
    EXPECT_EQ(Input("3", 372), 0);  // no decimal point: a diameter
    EXPECT_EQ(Sent(), (Events{"582 <- T1C3"}));
}

TEST_F(ToolParameterTest, ParameterSetsAndConversionTableScrollToTheTypedRow) {
    EXPECT_EQ(Input("T12", 3010), 0);
    EXPECT_EQ(Trace(),
              (Events{"SendMessage 0x490 1 \"SCROLLTABGROUP__0__TO__12\"", "582 <- PST12"}));
    Clear();
    EXPECT_EQ(Input("K5-7x", 286, 2), 0);
    EXPECT_EQ(Trace(),
              (Events{"SendMessage 0x490 1 \"SCROLLTABGROUP__0__TO__5-7\"", "582@2 <- K5-7x"}));
    Clear();
    EXPECT_EQ(Input("TX", 3015), 0);  // no digits: no scroll
    EXPECT_EQ(Trace(), (Events{"582 <- PSTX"}));
}

TEST_F(ToolParameterTest, ToolTypeAndGroupReloadTheDriversToolTable) {
    machine.model.global.mCnc = 0;
    EXPECT_EQ(Input("3", 256, 1), 0);
    EXPECT_EQ(Input("2", 266), 0);
    EXPECT_EQ(Trace(),
              (Events{"SendControl 47 0", "582@1 <- T2Y3", "SendControl 47 0", "582 <- T1G2"}));
}

TEST_F(ToolParameterTest, ConversionTableMarksEntriesChangedByUser) {
    EXPECT_FALSE(daten->TTkvChangedSummary());
    EXPECT_EQ(Input("1.5", 286, 3), 0);
    EXPECT_EQ(Input("7", 365, 499), 0);
    EXPECT_EQ(Input("7", 365, 500), 0);  // beyond the flags: sent, not marked
    EXPECT_TRUE(daten->TTkvChangedByUser(286, 3));
    EXPECT_FALSE(daten->TTkvChangedByUser(365, 3));
    EXPECT_TRUE(daten->TTkvChangedByUser(365, 499));
    EXPECT_TRUE(daten->TTkvChangedSummary());
    EXPECT_EQ(Sent(), (Events{"582@3 <- K4D1.5", "582@499 <- K500T7", "582@500 <- K501T7"}));
    daten->clearTTkv_ChangedByUser();
    EXPECT_FALSE(daten->TTkvChangedByUser(286, 3));
}

TEST_F(ToolParameterTest, StarNeedsTheParameterDefinition) {
    daten->SetDefinition(278, nullptr);
    daten->SetDefinition(286, nullptr);
    daten->SetDefinition(365, ToolRecord("", "K", "T"));
    EXPECT_EQ(Input("*", 279), Daten::HandleNotFound);
    EXPECT_EQ(Input("", 365), Daten::HandleNotFound);
    EXPECT_EQ(DriverWrites(), 0u);
    EXPECT_EQ(Input("1", 279), 0);  // a number needs no such definition
    EXPECT_EQ(Sent(), (Events{"582 <- T1S1"}));
}

TEST_F(ToolParameterTest, FailingToolReadOrWriteStopsTheCommand) {
    machine.sim.FailNext(Op::ReadByHandle);
    EXPECT_EQ(Input("2.5", 309), Daten::DataOrDriverError);
    machine.sim.FailNext(Op::ReadByHandle);
    EXPECT_EQ(Input("AB", 310), Daten::DataOrDriverError);
    EXPECT_EQ(DriverWrites(), 0u);
    machine.sim.FailNext(Op::WriteByHandle);
    EXPECT_EQ(Input("1.2", 3001, 4), Daten::DataOrDriverError);
}

TEST_F(ToolParameterTest, CommandThatWouldOverrunItsBufferIsRefused) {
    // "T1D" and 252 digits fill the 255 characters; one more digit does not fit.
    EXPECT_EQ(Input(std::string(252, '1'), 3001), 0);
    EXPECT_EQ(DriverWrites(), 1u);
    EXPECT_EQ(Input(std::string(253, '1'), 3001), Daten::NotEnoughSpace);
    EXPECT_EQ(DriverWrites(), 1u);
    ASSERT_FALSE(machine.host.messageBoxes.empty());
    EXPECT_EQ(machine.host.messageBoxes.back().text.substr(0, 18), "Not enough space!\n");
}

}  // namespace
}  // namespace korvex::commands::testing
