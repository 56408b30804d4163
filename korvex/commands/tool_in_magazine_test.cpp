#include <gtest/gtest.h>

#include <string>

#include "tests/support/command_fixture.h"

namespace korvex::commands::testing {
namespace {

struct Case {
    std::int32_t kind;
    std::uint16_t index;
    const char *text, *sent;
};

class ToolInMagazineTest : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        daten->SetDefinition(273, ToolRecord("MG", "T", "P", DInfo::WORD));
        for (std::uint16_t handle : {1223, 1615, 330, 1226, 1227, 1228, 1778, 1229, 1230, 1231,
                                     1779, 1232, 1233, 1234, 1780, 845})
            Long(handle, 0);
        daten->SetDefinition(1049, LongRecord());
        // Two magazines of ten places; the ranges A 0-9, B 10-19, C 20-24;
        // magazine table: first places 0 and 10.
        Long(1615, 10);
        Long(845, 0x10002);  // only the low 16 bits count
        Long(1228, 10);
        Long(1778, 0);
        Long(1231, 10);
        Long(1779, 10);
        Long(1234, 5);
        Long(1780, 20);
        Long(330, 2);
        Long(1049, 0, 0);
        Long(1049, 10, 1);
    }
    void Kind(std::int32_t kind) { Long(1223, kind); }
    void Expect(const Case& c) {
        SCOPED_TRACE(std::to_string(c.kind) + " " + std::to_string(c.index) + " '" + c.text + "'");
        Clear();
        Kind(c.kind);
        EXPECT_EQ(Input(c.text, 273, c.index), 0);
        EXPECT_EQ(Sent(), (Events{c.sent}));
    }
};

TEST_F(ToolInMagazineTest, EveryKindOfMagazine) {
    const Case cases[] = {
        // Kind 0: magazine number and place from the index.
        {0, 10, "12", "582@10 <- MGO2T12E1"},
        {0, 4, "12", "582@4 <- MGO1T12E5"},
        {0, 9, "12", "582@9 <- MGO1T12E9"},  // the last place is given as P - 1
        {0, 19, "7", "582@19 <- MGO2T7E9"},
        {0, 4, "12E3", "582@4 <- MGO1T12E3"},
        {0, 4, "P7", "582@4 <- MGO1P7E5"},
        {0, 4, "T7.5", "582@4 <- MGO1T7.5E5"},
        {0, 4, "O3", "582@4 <- MGO3"},         // no tool: sent as typed
        {0, 4, "O3T12", "582@4 <- MGO3T12E1"},
        {0, 4, "12O2", "582@4 <- MGO2T12E1"},
        {0, 4, "O1-O2T5", "582@4 <- MGO1-O2T5E1"},
        {0, 4, "O1-O2", "582@4 <- MGO1-O2"},
        {0, 4, "12-O2", "582@4 <- MG12-O2"},
        {0, 4, "O2T5E4", "582@4 <- MGO2T5E4"},
        {0, 4, "X12", "582@4 <- MGX12"},       // a letter of its own: as typed
        {0, 4, "", "582@4 <- MG"},
        // Kind 4: magazines from the magazine table.
        {4, 12, "12", "582@12 <- MGO2T12E3"},
        {4, 3, "T4", "582@3 <- MGO1T4E4"},
        {4, 3, "O2T4", "582@3 <- MGO2T4E1"},
        {4, 3, "12Z", "582@3 <- MG12Z"},
        // Kinds 2, 3 and 5: lettered ranges.
        {2, 12, "7", "582@12 <- MGT7B3"},
        {2, 0, "7", "582 <- MGT7A1"},
        {2, 24, "T7", "582@24 <- MGT7C5"},
        {2, 24, "P7", "582@24 <- MGP7C5"},
        {2, 24, "x", "582@24 <- MGTC5"},
        {2, 12, "7A2", "582@12 <- MG7A2"},     // the range letter typed: as typed
        {2, 12, "7N2", "582@12 <- MG7N2"},     // a letter of another kind: as typed
        {3, 0, "7", "582 <- MGT7N1"},
        {3, 12, "7", "582@12 <- MGT7R3"},
        {3, 22, "7", "582@22 <- MGT7B3"},
        {3, 22, "7A", "582@22 <- MG7A"},
        {5, 0, "7", "582 <- MGT7U1"},
        {5, 12, "T7", "582@12 <- MGT7R3"},
        {5, 22, "7", "582@22 <- MGT7B3"},
        {5, 22, "7U1", "582@22 <- MG7U1"},
        // Kind 1: a free magazine.
        {1, 60, "12", "582@60 <- MGT12M2"},
        {1, 3, "12", "582@3 <- MGT12M1"},
        {1, 3, "A1", "582@3 <- MGA1"},
        {1, 3, "1.5", "582@3 <- MG1.5"},
        {1, 3, "", "582@3 <- MG"},
        {1, 3, "12M", "582@3 <- MG12M"},
        // Like kind 1, an unknown kind holds every index; it sends TabIdent alone.
        {7, 3, "12", "582@3 <- MG"},
        {-1, 99, "12", "582@99 <- MG"},
        {6, 3, "O4", "582@3 <- MG"},
        // An index outside the magazines names the tool-table element (kind 0:
        // the place counts from the end of the magazines).
        {0, 25, "7", "582@6 <- MGT7P6"},
        {0, 25, "7.2", "582@6 <- MGT7.2P6"},
        {0, 25, "7.", "582@6 <- MGT7.P6"},
        {0, 25, "ABC", "582@25 <- MGABC"},
        {0, 25, "T3", "582@25 <- MGT3"},
        // "M" in the text takes the same road inside a magazine.
        {0, 4, "12M", "582@11 <- MGT12P-15"},
        {2, 30, "7", "582@6 <- MGT7P31"},
        {2, 3, "7M", "582@6 <- MGT7P4"},
        {4, 99, "2", "582@1 <- MGT2P100"},
        {7, 3, "12M", "582@11 <- MGT12P4"},  // an unknown kind too
    };
    for (const Case& c : cases) Expect(c);
}

TEST_F(ToolInMagazineTest, ElementOutsideTheToolTableIsRefused) {
    Kind(0);
    for (const char* text : {"0", "-3", ".5", "70000"}) {
        EXPECT_EQ(Input(text, 273, 25), Daten::ValueOutOfRange) << text;
    }
    EXPECT_EQ(DriverWrites(), 0u);
    EXPECT_EQ(machine.host.messageBoxes.size(), 4u);
}

TEST_F(ToolInMagazineTest, DottedTextLongerThanItsBufferIsRefused) {
    Kind(0);
    const std::string fits = "7." + std::string(61, '1');   // 63 characters
    const std::string tooLong = "7." + std::string(62, '1');  // 64 characters
    EXPECT_EQ(Input(fits, 273, 25), 0);
    EXPECT_EQ(Sent(), (Events{"582@6 <- MGT" + fits + "P6"}));
    EXPECT_EQ(Input(tooLong, 273, 25), Daten::NotEnoughSpace);
    EXPECT_EQ(DriverWrites(), 1u);
}

// A failing layout read is the commands_magazine script's; a missing layout
// handle stops the command the same way.
TEST_F(ToolInMagazineTest, MissingLayoutStopsBeforeAnythingIsSent) {
    Kind(0);
    daten->SetDefinition(845, nullptr);
    EXPECT_EQ(Input("12", 273, 4), Daten::HandleNotFound);
    EXPECT_EQ(DriverWrites(), 0u);
    // And a failing magazine table read of kind 4.
    daten->SetDefinition(845, LongRecord());
    Kind(4);
    daten->SetDefinition(1049, nullptr);
    EXPECT_EQ(Input("12", 273, 12), Daten::HandleNotFound);
    EXPECT_EQ(DriverWrites(), 0u);
}

}  // namespace
}  // namespace korvex::commands::testing
