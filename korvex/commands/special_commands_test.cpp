#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/command_fixture.h"

namespace korvex::commands::testing {
namespace {

using Op = korvex::host::SimDriver::Operation;

class SpecialCommandTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        Machine();
    }
    // The state the refresh after start-point commands looks at.
    void Machine(std::int32_t simulation = 0, std::int32_t teach = 0, std::int32_t type = 2022) {
        Long(1038, 0);
        Long(657, simulation);
        Long(1404, teach);
        Long(1208, type);
    }
    // What CheckSpecialCommands did: the follow-up events, "-" when it did
    // not take the text as special, "units" for a unit re-initialisation.
    Events Run(const char* text) {
        Clear();
        const int inits = daten->unitInits;
        std::string copy = text;
        daten->CheckSpecialCommands(copy.data());
        Events out;
        const Events events = Trace();
        if (events.empty()) return {"-"};
        EXPECT_EQ(events.front(), "Sleep 151") << text;
        out.assign(events.begin() + 1, events.end());
        if (daten->unitInits != inits) out.push_back("units");
        return out;
    }
};

TEST_F(SpecialCommandTest, FollowUpOfEveryWordWithFrameAndDriver) {
    const Events reload{"frameNotify 0x490 31 0", "SendControl 47 0"};
    struct Case {
        std::vector<const char*> texts;
        Events expected;
    } cases[] = {
        {{"METR", "INCH", "tmet", "TIN", "HZTP", "ZREV", "NOZREV"}, {"units"}},
        {{"AOF"}, {"frameCommandFollowUp \"AOF\""}},
        {{"BLKD", "PINN", "PATV,B", "PATV,-B"}, {"frameNotify 0x490 31 1"}},
        {{"PATV", "PATF", "PATS", "MAPC", "MAPT", "CHEK-A", "SZX1Y2"}, {"frameNotify 0x490 31 3"}},
        {{"SA1X5", "SAX5", "SAZ", "SASR", "SN", "RA", "OPID12", "ZC", "CANT", "NIB", "G1M9XO"},
         {"frameNotify 0x490 31 0"}},
        {{"FB", "FT"}, {"frameMessage 0x490 36 0 -> 0", "frameNotify 0x490 31 9"}},
        {{"FV1"}, {"frameMessage 0x490 36 1 -> 0", "frameNotify 0x490 31 9"}},
        {{"FA"}, {"frameMessage 0x490 36 0 -> 0", "frameCommandFollowUp \"FA\""}},
        {{"TOL", "NOTOL", "ROUT", "OD", "TTYP", "ANIB"}, reload},
        {{"TOLC", "STON2", "NO", ""}, {"-"}},
    };
    for (const Case& c : cases)
        for (const char* text : c.texts) EXPECT_EQ(Run(text), c.expected) << text;
}

TEST_F(SpecialCommandTest, FeedFollowUps) {
    daten->spotFacing = true;
    EXPECT_EQ(Run("FB"), (Events{"frameMessage 0x490 36 0 -> 0", "frameCommandFollowUp \"FB\""}));
    machine.host.frameAnswers[{0x490, 36, 0}] = 1;
    machine.host.frameAnswers[{0x490, 36, 1}] = 1;
    EXPECT_EQ(Run("FB"), (Events{"frameMessage 0x490 36 0 -> 1"}));
    EXPECT_EQ(Run("FV"), (Events{"frameMessage 0x490 36 1 -> 1"}));
    EXPECT_EQ(Run("FA"), (Events{"frameMessage 0x490 36 0 -> 1"}));
}

TEST_F(SpecialCommandTest, StartPointRefreshDependsOnTheMachineState) {
    struct Case {
        std::int32_t simulation, teach, type;
        bool refresh;
    } cases[] = {
        {0, 0, 2000, true},  {0, 0, 48, true},    {0, 0, 3048, true},  {0, 0, 8022, true},
        {0, 0, 2022, true},  {0, 0, 9048, false}, {0, 0, 1000, false}, {0, 0, -2022, false},
        {1, 0, 2022, false}, {0, 1, 2022, false},
    };
    for (const Case& c : cases) {
        Machine(c.simulation, c.teach, c.type);
        EXPECT_EQ(Run("SA"), c.refresh ? Events{"frameNotify 0x490 31 0"} : Events{})
            << c.simulation << " " << c.teach << " " << c.type;
    }
    // A state that cannot be read gives no refresh.
    Machine();
    daten->SetDefinition(1404, nullptr);
    daten->SetMessagesOn(false);
    EXPECT_EQ(Run("RA"), Events{});
}

// Follow-ups that need a frame or a driver are left out without them; none
// at all while a program runs.
TEST_F(SpecialCommandTest, WithoutFrameOrDriverOrWhileAProgramRuns) {
    enum Missing { kFrame, kDriver, kIdle };
    struct Case {
        Missing missing;
        std::vector<const char*> texts;
        Events expected;
    } cases[] = {
        {kIdle, {"METR", "TOL"}, {}},
        {kFrame, {"FA", "SA"}, {"-"}},
        {kFrame, {"TOL"}, {"SendControl 47 0"}},
        {kFrame, {"ZREV", "METR"}, {"units"}},
        {kDriver, {"TOL", "ZREV", "ROUT"}, {"-"}},
        {kDriver, {"METR"}, {"units"}},
        {kDriver, {"SZ"}, {"frameNotify 0x490 31 3"}},
        {kDriver, {"FA"}, {"frameMessage 0x490 36 0 -> 0", "frameCommandFollowUp \"FA\""}},
    };
    for (const Case& c : cases) {
        machine.model.appl.mMainWindow = c.missing == kFrame ? nullptr : &machine.model.frame;
        machine.model.global.mDriver = c.missing == kDriver ? nullptr : &machine.sim;
        Rebuild();
        daten->SetMessagesOn(c.missing != kDriver);
        Machine();
        Long(1038, c.missing == kIdle ? 1 : 0);
        for (const char* text : c.texts) EXPECT_EQ(Run(text), c.expected) << c.missing << text;
    }
}

class ProtocolTest : public CommandTest {
  protected:
    Events Write(const char* kind, const char* text1, const char* text2) {
        Clear();
        daten->WriteProtocol(daten->Frame(), kind, text1, text2);
        return Trace();
    }
};

TEST_F(ProtocolTest, LinesAndCodes) {
    struct Case {
        const char *kind, *text1, *text2;
        const char* echo;  // nullptr: no echo of the command
        int code;          // 0: no line at all
        const char* line;
    } cases[] = {
        {"COMM", nullptr, "FA", "FA", 398, "COMM FA"},
        {"comm", nullptr, "FA", "FA", 398, "comm FA"},
        {nullptr, nullptr, "X", nullptr, 341, "X"},
        {"COMM", nullptr, "", nullptr, 398, "COMM "},
        {"K", "P", "V", nullptr, 341, "K P: V"},
        {"K", "P", nullptr, nullptr, 341, "K P"},
        {"K", "P", "", nullptr, 341, "K P "},
        {nullptr, "P", "V", nullptr, 341, "P: V"},
        {"COMMAND", nullptr, "FA", nullptr, 341, "COMMAND FA"},
        {nullptr, nullptr, nullptr, nullptr, 0, ""},
        {"", nullptr, "", nullptr, 0, ""},
    };
    for (const Case& c : cases) {
        Events expected;
        if (c.echo) expected.push_back("frameCommandEcho \"" + std::string(c.echo) + "\"");
        const std::string code = std::to_string(c.code), line = c.line;
        if (c.code)
            expected.insert(expected.end(),
                            {"protocol " + code + " \"TESTMACHINE\" \"" + line + "\"",
                             "frameProtocolLine \"" + line + "\" " + code});
        EXPECT_EQ(Write(c.kind, c.text1, c.text2), expected) << line;
    }
}

TEST_F(ProtocolTest, LineHoldsAtMost256Characters) {
    struct Case {
        std::size_t commandLength, lineLength;
    } cases[] = {{250, 255}, {251, 256}, {252, 256}, {300, 256}};
    for (const Case& c : cases) {
        const std::string command(c.commandLength, 'A');
        const std::string line = ("COMM " + command).substr(0, c.lineLength);
        EXPECT_EQ(Write("COMM", nullptr, command.c_str()),
                  (Events{"frameCommandEcho \"" + command + "\"",
                          "protocol 398 \"TESTMACHINE\" \"" + line + "\"",
                          "frameProtocolLine \"" + line + "\" 398"}))
            << c.commandLength;
    }
}

TEST_F(ProtocolTest, AutomaticModeRaisesTheCode) {
    Name("FLAUTO_", 1500);
    Long(1500, 1);
    EXPECT_EQ(Write("COMM", nullptr, "FA")[1], "protocol 3398 \"TESTMACHINE\" \"COMM FA\"");
    EXPECT_EQ(Write("K", "P", "V")[0], "protocol 3341 \"TESTMACHINE\" \"K P: V\"");
    Long(1500, 0);
    EXPECT_EQ(Write("K", "P", "V")[0], "protocol 341 \"TESTMACHINE\" \"K P: V\"");
    Long(1500, 1);
    machine.sim.FailNext(Op::ReadByHandle);
    daten->SetMessagesOn(false);
    EXPECT_EQ(Write("K", "P", "V")[0], "protocol 341 \"TESTMACHINE\" \"K P: V\"");
}

TEST_F(ProtocolTest, HostWithoutProtocolGetsNoLine) {
    machine.model.global.mEngine = false;
    EXPECT_EQ(Write("COMM", nullptr, "FA"), Events{});
    machine.model.global.mEngine = true;
    machine.model.frame.mProtocol = nullptr;
    EXPECT_EQ(Write("COMM", nullptr, "FA"), Events{});
    EXPECT_EQ(Write("COMM", nullptr, "FA"), Events{});
    Clear();
    daten->WriteProtocol(nullptr, "COMM", nullptr, "FA");
    EXPECT_EQ(Trace(), Events{});
}

}  // namespace
}  // namespace korvex::commands::testing
