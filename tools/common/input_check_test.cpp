#include "tools/common/input_check.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/test_machine.h"
#include "tools/common/text.h"

namespace korvex::tools {
namespace {

using host::SimDriver;

constexpr std::uint16_t kTDiaD = 3001;  // tool table, TPara road, 0..6.500 mm
constexpr std::uint16_t kMachineName = 100;
constexpr std::uint16_t kMaxToolNumber = 204;  // WORD 1..500, written directly
constexpr std::uint16_t kXParkPos = 121;       // 0.001 mm, -5..750 mm, written directly
constexpr std::uint16_t kCmdLine = 581;

class InputCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.CopySampleMachine();
        machine.sim.SetTableSize(kTDiaD, 10);
        daten.reset(machine.NewDaten());
    }
    InputResult Run(std::uint16_t handle, const std::string& text, std::uint16_t index = 0,
                    bool checked = true, bool preview = false) {
        InputRequest request;
        request.handle = handle;
        request.text = text;
        request.index = index;
        request.checked = checked;
        request.preview = preview;
        return RunInput(*daten, machine.sim, request);
    }

    testing::TestMachine machine;
    std::unique_ptr<Daten> daten;
};

// What the check lets through and refuses is the commands_tool_table
// script's (input --preview); here each kind sent for real, or refused with
// nothing written.
TEST_F(InputCheckTest, ChecksThenNamesEveryLineSent) {
    struct Case {
        std::uint16_t handle;
        std::string text;
        std::uint16_t index;
        bool checked;
        std::uint8_t error;
        std::vector<std::string> sent;
    } cases[] = {
        {kTDiaD, "1.2", 4, true, 0, {"T5D1.2"}},
        {kTDiaD, "6.501", 0, true, Daten::ValueOutOfRange, {}},
        {kTDiaD, "1.2 M30", 0, true, Daten::ParameterError, {}},
        {kTDiaD, "1.2 M30", 0, false, 0, {"T1D1.2 M30"}},  // unchecked: as a host's Comm
        {kXParkPos, "800", 0, true, 0, {"XParkPos[0]=800"}},
        {kMaxToolNumber, "42", 0, true, 0, {"MaxToolNumber[0]=42"}},
        {kMachineName, "Fr\xe4se 1", 0, true, 0, {"MachineName[0]=Fr\xe4se 1"}},
        {kMachineName, "a\x85", 0, true, Daten::ParameterError, {}},
        {kCmdLine, "NOTOL", 0, true, 0, {"NOTOL"}},
        {Handles::kNoHandle - 1, "1", 0, true, Daten::HandleNotFound, {}},
    };
    for (const Case& c : cases) {
        const auto writes = machine.sim.Calls(SimDriver::Operation::WriteByHandle);
        const InputResult result = Run(c.handle, c.text, c.index, c.checked);
        EXPECT_EQ(result.error, c.error) << c.handle << " '" << c.text << "'";
        EXPECT_EQ(result.text, c.error ? Daten::ErrorText(c.error) : "");
        EXPECT_EQ(result.sent, c.sent) << c.handle << " '" << c.text << "'";
        if (c.sent.empty()) {
            EXPECT_EQ(machine.sim.Calls(SimDriver::Operation::WriteByHandle), writes) << c.text;
        }
    }
}

TEST_F(InputCheckTest, FailingControllerSendsNothingItCannotName) {
    machine.sim.FailNext(SimDriver::Operation::WriteByHandle);
    InputResult result = Run(kTDiaD, "1.2", 4);
    EXPECT_NE(result.error, 0);
    EXPECT_TRUE(result.sent.empty());
    // A command channel that stays busy: the library gives up without a word.
    machine.sim.SetBusyReads(1000000);
    result = Run(kCmdLine, "NOTOL");
    EXPECT_TRUE(result.sent.empty());
    machine.sim.SetBusyReads(0);
    // A failed read before the write fails the input and writes nothing.
    machine.sim.FailNext(SimDriver::Operation::ReadByHandle);
    result = Run(kCmdLine, "NOTOL");
    EXPECT_TRUE(result.sent.empty());
}

TEST(InputResultJsonTest, CarriesTheLinesInUtf8) {
    InputResult result;
    result.sent = {"T5D1.2", "MachineName[0]=Fr\xe4se"};
    EXPECT_EQ(InputResultJson(result),
              "{\"error\":0,\"text\":\"\",\"sent\":[\"T5D1.2\",\"MachineName[0]=Fr\xc3\xa4se\"]}");
    result = {Daten::ValueOutOfRange, Daten::ErrorText(Daten::ValueOutOfRange), {}};
    EXPECT_EQ(InputResultJson(result), R"({"error":3,"text":"Value out of range","sent":[]})");
}

TEST(ParseUnsignedTest, DigitsOnlyWithinTheLimit) {
    struct Case {
        const char* text;
        unsigned long max;
        bool ok;
        unsigned long value;
    } cases[] = {
        {"0", 10, true, 0},
        {"65535", 65535, true, 65535},
        {"65536", 65535, false, 0},
        {"", 10, false, 0},
        {"-1", 10, false, 0},
        {"+1", 10, false, 0},
        {" 1", 10, false, 0},
        {"1x", 10, false, 0},
        {"4294967295", 0xFFFFFFFF, true, 4294967295},
        {"99999999999", ~0ul, false, 0},
    };
    for (const Case& c : cases) {
        unsigned long value = 7;
        EXPECT_EQ(ParseUnsigned(c.text, c.max, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 7) << c.text;
    }
}

}  // namespace
}  // namespace korvex::tools
