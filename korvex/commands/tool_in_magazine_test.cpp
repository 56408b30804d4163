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

// The command text of every kind of magazine is the commands_magazine
// script's (input --preview); here the element each kind writes, the one
// typed or a tool-table element.
TEST_F(ToolInMagazineTest, EveryKindOfMagazine) {
    const Case cases[] = {
        {0, 10, "12", "582@10 <- MGO2T12E1"},
        {4, 12, "12", "582@12 <- MGO2T12E3"},
        {2, 12, "7", "582@12 <- MGT7B3"},
        {3, 12, "7", "582@12 <- MGT7R3"},
        {5, 0, "7", "582 <- MGT7U1"},
        {1, 60, "12", "582@60 <- MGT12M2"},
        {7, 3, "12", "582@3 <- MG"},
        {0, 25, "7", "582@6 <- MGT7P6"},
        {0, 25, "7.2", "582@6 <- MGT7.2P6"},
        {0, 25, "7.", "582@6 <- MGT7.P6"},
        {0, 25, "ABC", "582@25 <- MGABC"},
        {0, 25, "T3", "582@25 <- MGT3"},
        {0, 4, "12M", "582@11 <- MGT12P-15"},
        {2, 30, "7", "582@6 <- MGT7P31"},
        {2, 3, "7M", "582@6 <- MGT7P4"},
        {4, 99, "2", "582@1 <- MGT2P100"},
        {7, 3, "12M", "582@11 <- MGT12P4"},
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
