#include <gtest/gtest.h>

#include <string>

#include "tests/support/command_fixture.h"

namespace korvex::commands::testing {
namespace {

using Op = korvex::host::SimDriver::Operation;

constexpr char kCommandFile[] =
    "; value and flag command templates\n"
    "[FeedOverride]\nVal=FOV\n"
    "[Marked]\nVal=AB?CD?\n"
    "[FeedA]\nVal=FA\n[FeedB]\nVal=noFB\n[FeedV]\nVal=FV\n[AutoOff]\nVal=AOF\n[Ramp]\nVal=RA\n"
    "[Empty]\nVal=\n"
    "[StationEnable]\nVal0=STOF\nVal1=STON\n"
    "[ToolBroken]\nVal0=TBRS\nVal1=TBRS\n"
    "[MetricMode]\nVal0=INCH\nVal1=METR\n"
    "[MachOptions]\nVal0=OPT\nVal1=OPT\n"
    "[ComynSPEK]\nVal0=NOSPEK\nVal1=SPEK\n";

class ValueCommandTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        machine.WriteFile("COMM.TXT", kCommandFile);
        for (std::uint16_t handle : {498, 861, 1056})
            daten->SetDefinition(handle, CommandRecord(DInfo::CommValue));
        const struct {
            const char* name;
            std::uint16_t handle;
            DInfo::DType type;
        } values[] = {
            {"ComFVO", 3100, DInfo::QZREAL},    {"ComynEURM", 3101, DInfo::BYTE},
            {"ComEURM", 3102, DInfo::QZREAL},   {"FeedOverride", 3141, DInfo::LONGINT},
            {"Marked", 3142, DInfo::LONGINT},   {"FeedA", 3143, DInfo::LONGINT},
            {"FeedB", 3144, DInfo::LONGINT},    {"FeedV", 3145, DInfo::LONGINT},
            {"AutoOff", 3146, DInfo::LONGINT},  {"Ramp", 3147, DInfo::LONGINT},
            {"Empty", 3148, DInfo::LONGINT},    {"NoSection", 3149, DInfo::LONGINT},
        };
        for (const auto& v : values) Value(v.name, v.handle, v.type);
        Long(1489, 1);
    }
    void Value(const char* name, std::uint16_t handle, DInfo::DType type = DInfo::QZREAL) {
        Name(name, handle);
        daten->SetDefinition(handle, CommandRecord(DInfo::CommValue, type));
    }
    // The events after the three protocol calls of the command.
    Events FollowUps() const {
        Events out;
        for (const std::string& event : Trace())
            if (event.rfind("frameNotify", 0) == 0 || event.rfind("frameCommandFollowUp", 0) == 0 ||
                event.rfind("frameMessage 0x490 31", 0) == 0)
                out.push_back(event);
        return out;
    }
};

// The command text of every kind of value handle is the commands_value
// script's (input --preview); here the display refresh after it went out
// and a template's second "?", which stays.
TEST_F(ValueCommandTest, CommandTexts) {
    Long(3102, 2500);
    struct Case {
        std::uint16_t handle;
        const char* text;
        std::uint16_t index;
        const char* sent;
        bool refresh;
    } cases[] = {
        {498, "1.5", 2, "ZOM3S1O1.5", true},   {861, "1.5", 11, "KOF12O1.5", false},
        {1056, "1.5", 1, "CAMQ2O1.5", false},    {3100, "1.5", 3, "FVO2Y1.5", true},
        {3101, "1", 0, "EURM1D2.500", false},  {3141, "1.5", 1, "FOV1.5", false},
        {3142, "1.5", 2, "AB3CD?1.5", false},
    };
    Long(1489, 2);
    for (const auto& c : cases) {
        Clear();
        EXPECT_EQ(Input(c.text, c.handle, c.index), 0) << c.handle << " " << c.text;
        const std::string at = c.index ? "@" + std::to_string(c.index) : "";
        EXPECT_EQ(Sent(), (Events{"581" + at + " <- " + c.sent})) << c.handle << " " << c.text;
        EXPECT_EQ(FollowUps(), c.refresh ? Events{"frameNotify 0x490 31 0"} : Events{}) << c.handle;
    }
}

TEST_F(ValueCommandTest, TemplateFollowUps) {
    struct Case {
        std::uint16_t handle;
        bool spotFacing;
        Events followUps;
    } cases[] = {
        {3143, false, {"frameMessage 0x490 31 10 -> 0", "frameCommandFollowUp \"FA7\""}},
        {3144, false, {"frameMessage 0x490 31 10 -> 0", "frameNotify 0x490 31 9"}},
        {3144, true, {"frameMessage 0x490 31 10 -> 0", "frameCommandFollowUp \"noFB7\""}},
        {3145, false, {"frameMessage 0x490 31 10 -> 0", "frameNotify 0x490 31 9"}},
        {3146, false, {"frameMessage 0x490 31 10 -> 0", "frameCommandFollowUp \"AOF7\""}},
        {3147, false, {"frameNotify 0x490 31 0"}},
        {3141, false, {}},
    };
    for (const auto& c : cases) {
        Clear();
        daten->spotFacing = c.spotFacing;
        EXPECT_EQ(Input("7", c.handle), 0) << c.handle;
        EXPECT_EQ(FollowUps(), c.followUps) << c.handle;
    }
    // A command that did not go out has no follow-up.
    Clear();
    machine.host.tickStep = 100;
    machine.sim.SetBusyReads(100);
    EXPECT_EQ(Input("7", 3143), Daten::DataOrDriverError);
    EXPECT_EQ(FollowUps(), (Events{"frameMessage 0x490 31 10 -> 0"}));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ValueCommandTest, MissingTemplateOrName) {
    EXPECT_EQ(Input("1", 3148), Daten::CommandStringNotFound);  // empty key
    EXPECT_EQ(Input("1", 3149), Daten::CommandStringNotFound);  // no section
    daten->SetDefinition(3150, CommandRecord(DInfo::CommValue));
    EXPECT_EQ(Input("1", 3150), Daten::HandleNotFound);  // no name
    EXPECT_EQ(DriverWrites(), 0u);
    ASSERT_EQ(machine.host.messageBoxes.size(), 3u);
    EXPECT_EQ(machine.host.messageBoxes[0].text,
              "Command string not found!\nNumber of handle:3148\nName of handle:Empty");
}

TEST_F(ValueCommandTest, TemplateThatWouldOverrunItsBufferIsRefused) {
    // 120 characters of template and 7 of value fill the 127; one more does not fit.
    machine.WriteFile("COMM.TXT", "[FeedOverride]\nVal=" + std::string(120, 'V') + "\n");
    EXPECT_EQ(Input("1234567", 3141), 0);
    EXPECT_EQ(DriverWrites(), 1u);
    EXPECT_EQ(Input("12345678", 3141), Daten::NotEnoughSpace);
    machine.WriteFile("COMM.TXT", "[FeedOverride]\nVal=" + std::string(128, 'V') + "\n");
    EXPECT_EQ(Input("", 3141), Daten::NotEnoughSpace);
    EXPECT_EQ(DriverWrites(), 1u);
    EXPECT_EQ(machine.host.messageBoxes.size(), 2u);
}

class FlagCommandTest : public ValueCommandTest {
  protected:
    void SetUp() override {
        ValueCommandTest::SetUp();
        Flag("StationEnable", 662);
        Flag("ToolBroken", 382);
        Flag("MetricMode", 799);
        Flag("MachOptions", 1595);
        Flag("ComynSPEK", 3209);
        Long(1038, 0);
    }
    void Flag(const char* name, std::uint16_t handle) {
        Name(name, handle);
        daten->SetDefinition(handle, CommandRecord(DInfo::CommFlag, DInfo::BYTE));
    }
};

// Marks that are only cleared and the fixed forms are the commands_flags
// script's, letter tables the next test's. A letter command is logged once
// and runs no special command.
TEST_F(FlagCommandTest, LetterCommandIsLoggedOnce) {
    EXPECT_EQ(daten->HandleCommFlag(1595, 0, 4, 255), 0);
    EXPECT_EQ(Sent(), (Events{"581@4 <- OPT-$"}));
    EXPECT_EQ(machine.host.LinesStartingWith("protocol").size(), 1u);
    EXPECT_TRUE(machine.host.LinesStartingWith("Sleep").empty());
}

TEST_F(FlagCommandTest, EveryLetterTable) {
    struct Table {
        const char* name;
        std::uint16_t handle;
        const char* letters;
    } tables[] = {
        {"MachOptions", 1595, "GBZA$TSRFHI58CUJLDOWV1-QYE"},
        {"DrillProtOn", 2024, "D"},
        {"MeasOptions", 934, "DLR--VNX"},
        {"ComZOVRFlags", 3200, "NRMP"},
        {"ComWZWM", 3201, "M-NCOHRAE-SJPI---BVU"},
        {"ComynPRGM", 3202, "ZH--------W"},
        {"ComynROUT", 3203, "-NAR-VUDTS"},
        {"ComDITM", 3204, "H--TCUL"},
        {"ComPEKM", 3205, "ZFNDTM"},
        {"ComMESS", 3206, "L"},
        {"ComROUM", 3207, "NR"},
        {"ComynZSPD", 3208, "--RFDXZSQ"},
        {"ComynCDMO", 3210, "1ANVOPTSU"},
        {"ComCDMO", 3211, "1ANVOPTSU"},
    };
    std::string file;
    for (const Table& table : tables) {
        if (table.handle != 1595) Flag(table.name, table.handle);
        file += std::string("[") + table.name + "]\nVal0=C\nVal1=C\n";
    }
    machine.WriteFile("COMM.TXT", file);
    for (const Table& table : tables) {
        const std::string letters = table.letters;
        for (std::uint16_t index = 0; index <= letters.size(); ++index) {
            for (std::int32_t value : {0, 1}) {
                Clear();
                EXPECT_EQ(daten->HandleCommFlag(table.handle, value, index, 255), 0);
                Events expected;
                if (index < letters.size() && letters[index] != '-') {
                    std::string event = "581";
                    if (index) event += "@" + std::to_string(index);
                    expected.push_back(event + " <- C" + (value == 0 ? "-" : "") + letters[index]);
                }
                EXPECT_EQ(Sent(), expected) << table.name << " " << index << " " << value;
            }
        }
    }
}

TEST_F(FlagCommandTest, MissingTemplateOrNameOrRoom) {
    EXPECT_EQ(daten->HandleCommFlag(662, 2, 0, 255), Daten::CommandStringNotFound);
    daten->SetDefinition(1624, CommandRecord(DInfo::CommFlag, DInfo::BYTE));
    EXPECT_EQ(daten->HandleCommFlag(1624, 1, 0, 255), Daten::HandleNotFound);
    // 255 characters of template leave no room for the station number.
    machine.WriteFile("COMM.TXT", "[StationEnable]\nVal1=" + std::string(255, 'S') + "\n");
    EXPECT_EQ(daten->HandleCommFlag(662, 1, 0, 255), Daten::NotEnoughSpace);
    machine.WriteFile("COMM.TXT", "[MachOptions]\nVal1=" + std::string(255, 'S') + "\n");
    EXPECT_EQ(daten->HandleCommFlag(1595, 1, 0, 255), Daten::NotEnoughSpace);
    EXPECT_EQ(DriverWrites(), 0u);
    EXPECT_TRUE(machine.host.LinesStartingWith("protocol").empty());
}

}  // namespace
}  // namespace korvex::commands::testing
