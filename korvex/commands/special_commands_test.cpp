#include <gtest/gtest.h>

#include <string>

#include "tests/support/command_fixture.h"
#include "korvex/data/cdata.h"

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
    const Events none{};
    const Events refresh{"frameNotify 0x490 31 0"};
    const Events block{"frameNotify 0x490 31 1"};
    const Events zone{"frameNotify 0x490 31 3"};
    const Events reload{"SendControl 47 0"};
    const Events units{"units"};
    struct Case {
        const char* text;
        Events expected;
    } cases[] = {
        {"METR", units},
        {"INCH", units},
        {"tmet", units},
        {"TIN", units},
        {"HZTP", units},
        {"ZREV", units},
        {"NOZREV", units},
        {"AOF", {"frameCommandFollowUp \"AOF\""}},
        {"BLKD", block},
        {"PINN", block},
        {"PATV,B", block},
        {"PATV,-B", block},
        {"PATV", zone},
        {"PATF", zone},
        {"PATS", zone},
        {"MAPC", zone},
        {"MAPT", zone},
        {"CHEK-A", zone},
        {"SZX1Y2", zone},
        {"SA1X5", refresh},
        {"SAX5", refresh},
        {"SAZ", refresh},
        {"SASR", refresh},
        {"SN", refresh},
        {"RA", refresh},
        {"OPID12", refresh},
        {"FB", {"frameMessage 0x490 36 0 -> 0", "frameNotify 0x490 31 9"}},
        {"FT", {"frameMessage 0x490 36 0 -> 0", "frameNotify 0x490 31 9"}},
        {"FV1", {"frameMessage 0x490 36 1 -> 0", "frameNotify 0x490 31 9"}},
        {"FA", {"frameMessage 0x490 36 0 -> 0", "frameCommandFollowUp \"FA\""}},
        {"ZC", refresh},
        {"CANT", refresh},
        {"NIB", refresh},
        {"G1M9XO", refresh},
        {"TOL", {"frameNotify 0x490 31 0", "SendControl 47 0"}},
        {"NOTOL", {"frameNotify 0x490 31 0", "SendControl 47 0"}},
        {"ROUT", {"frameNotify 0x490 31 0", "SendControl 47 0"}},
        {"OD", {"frameNotify 0x490 31 0", "SendControl 47 0"}},
        {"TTYP", {"frameNotify 0x490 31 0", "SendControl 47 0"}},
        {"ANIB", {"frameNotify 0x490 31 0", "SendControl 47 0"}},
        {"TOLC", {"-"}},
        {"STON2", {"-"}},
        {"NO", {"-"}},
        {"", {"-"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.text), c.expected) << c.text;
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
        {0, 0, 2000, true},  {0, 0, 48, true},    {0, 0, 3048, true}, {0, 0, 8022, true},
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

TEST_F(SpecialCommandTest, NothingFollowsWhileAProgramRuns) {
    Long(1038, 1);
    EXPECT_EQ(Run("METR"), Events{});
    EXPECT_EQ(Run("TOL"), Events{});
    EXPECT_EQ(daten->unitInits, 0);
}

TEST_F(SpecialCommandTest, WithoutFrame) {
    machine.model.appl.mMainWindow = nullptr;
    Rebuild();
    Machine();
    EXPECT_EQ(Run("FA"), (Events{"-"}));
    EXPECT_EQ(Run("SA"), (Events{"-"}));
    EXPECT_EQ(Run("TOL"), (Events{"SendControl 47 0"}));
    EXPECT_EQ(Run("ZREV"), (Events{"units"}));
    EXPECT_EQ(Run("METR"), (Events{"units"}));
}

TEST_F(SpecialCommandTest, WithoutDriver) {
    machine.model.global.mDriver = nullptr;
    Rebuild();
    daten->SetMessagesOn(false);
    EXPECT_EQ(Run("TOL"), (Events{"-"}));
    EXPECT_EQ(Run("ZREV"), (Events{"-"}));
    EXPECT_EQ(Run("ROUT"), (Events{"-"}));
    EXPECT_EQ(Run("METR"), (Events{"units"}));
    EXPECT_EQ(Run("SZ"), (Events{"frameNotify 0x490 31 3"}));
    EXPECT_EQ(Run("FA"), (Events{"frameMessage 0x490 36 0 -> 0", "frameCommandFollowUp \"FA\""}));
}

TEST_F(SpecialCommandTest, ReadsTheBusyHandleOnceAndWaits) {
    Clear();
    char text[] = "METR";
    daten->CheckSpecialCommands(text);
    const auto reads = machine.host.LinesStartingWith("ReadByHandle");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].substr(0, 22), "ReadByHandle 0 0 583 0");
    EXPECT_EQ(reads[1].substr(0, 23), "ReadByHandle 0 0 1038 0");
    EXPECT_EQ(machine.host.slept, 151u);
}

// A data object that writes protocol lines.
class ProtocolObject : public CData {
public:
    ProtocolObject(Daten* daten, const char* name)
        : CData(daten, name, 0, TDriver::LocationDefault, RegisterNew) {}
    operator std::int32_t() override { return 0; }
    operator const char*() override { return ""; }
    void SetValue(std::int32_t, std::uint16_t, std::uint8_t) override {}
    void SetString(const char*, std::uint16_t, std::uint8_t) override {}
};

class ProtocolTest : public CommandTest {
protected:
    void TearDown() override {
        CData::ForgetDaten(daten.get());
        CommandTest::TearDown();
    }
    Events Write(const char* kind, const char* text1, const char* text2) {
        Clear();
        daten->WriteProtocol(daten->Frame(), kind, text1, text2);
        return Trace();
    }
};

TEST_F(ProtocolTest, LinesAndCodes) {
    struct Case {
        const char* kind;
        const char* text1;
        const char* text2;
        Events expected;
    } cases[] = {
        {"COMM", nullptr, "FA",
         {"frameCommandEcho \"FA\"", "protocol 398 \"TESTMACHINE\" \"COMM FA\"",
          "frameProtocolLine \"COMM FA\" 398"}},
        {"comm", nullptr, "FA",
         {"frameCommandEcho \"FA\"", "protocol 398 \"TESTMACHINE\" \"comm FA\"",
          "frameProtocolLine \"comm FA\" 398"}},
        {nullptr, nullptr, "X",
         {"protocol 341 \"TESTMACHINE\" \"X\"", "frameProtocolLine \"X\" 341"}},
        {"COMM", nullptr, "",
         {"protocol 398 \"TESTMACHINE\" \"COMM \"", "frameProtocolLine \"COMM \" 398"}},
        {"K", "P", "V",
         {"protocol 341 \"TESTMACHINE\" \"K P: V\"", "frameProtocolLine \"K P: V\" 341"}},
        {"K", "P", nullptr,
         {"protocol 341 \"TESTMACHINE\" \"K P\"", "frameProtocolLine \"K P\" 341"}},
        {"K", "P", "",
         {"protocol 341 \"TESTMACHINE\" \"K P \"", "frameProtocolLine \"K P \" 341"}},
        {nullptr, "P", "V",
         {"protocol 341 \"TESTMACHINE\" \"P: V\"", "frameProtocolLine \"P: V\" 341"}},
        {"COMMAND", nullptr, "FA",
         {"protocol 341 \"TESTMACHINE\" \"COMMAND FA\"", "frameProtocolLine \"COMMAND FA\" 341"}},
        {nullptr, nullptr, nullptr, {}},
        {"", nullptr, "", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Write(c.kind, c.text1, c.text2), c.expected)
            << (c.kind ? c.kind : "-") << " " << (c.text1 ? c.text1 : "-");
}

TEST_F(ProtocolTest, LineHoldsAtMost256Characters) {
    struct Case {
        std::size_t commandLength;
        std::size_t lineLength;
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

TEST_F(ProtocolTest, DataObjectsWriteUnderTheirName) {
    ProtocolObject object(daten.get(), "SPINDLE_");
    Clear();
    object.WriteProtocol("K", "V");
    EXPECT_EQ(Trace(), (Events{"protocol 341 \"TESTMACHINE\" \"K SPINDLE_: V\"",
                                "frameProtocolLine \"K SPINDLE_: V\" 341"}));
    CData::ForgetDaten(daten.get());
    Clear();
    object.WriteProtocol("K", "V");
    EXPECT_EQ(Trace(), Events{});
}

}  // namespace
}  // namespace korvex::commands::testing
