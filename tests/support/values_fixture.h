// Fixture of the value-access, conversion and unit tests: a machine
// whose handle file names every handle these tests use (as H<number>), an
// empty definition file, a Daten that records its Comm calls, the simulated
// controller and a recording host. Records are put in with Define().
#ifndef KORVEX_TESTS_SUPPORT_VALUES_FIXTURE_H_
#define KORVEX_TESTS_SUPPORT_VALUES_FIXTURE_H_

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "korvex/data/cdata.h"
#include "korvex/korvex.h"
#include "tests/support/test_machine.h"

namespace korvex::testing {

// A Daten that keeps what reaches the command interpreter instead of
// sending it.
class CommRecordingDaten : public Daten {
  public:
    using Daten::Daten;
    struct CommCall {
        std::string text;
        std::uint16_t handle, index;
        std::uint8_t axis;
    };
    std::uint8_t Comm(char* text, std::uint16_t handle, std::uint16_t index,
                      std::uint8_t flag) override {
        comms.push_back({text ? text : "", handle, index, flag});
        return commAnswer;
    }
    std::vector<CommCall> comms;
    std::uint8_t commAnswer = 0;
};

// The smallest concrete data object: a table of longs and one text in PC
// memory, with a limit its writes check and the element's bytes as the
// controller keeps them.
class Cells : public CData {
  public:
    Cells(Daten* daten, const char* name, std::uint16_t size, ERegisterHandle mode = RegisterNew)
        : CData(daten, name, 0, TDriver::LocationDefault, mode), values(size, 0) {
        setTabSize(size);
    }
    Cells(const char* name, ERegisterHandle mode) : CData(name, 0, TDriver::LocationDefault, mode) {}
    Cells() = default;
    operator std::int32_t() override {
        ++reads;
        return mIndex < values.size() ? values[mIndex] : 0;
    }
    operator const char*() override { return text.c_str(); }
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override {
        Select(index, axis);
        mLastError = value > limit ? Daten::ValueOutOfRange : 0;
        if (!mLastError && mIndex < values.size()) values[mIndex] = value;
    }
    void SetString(const char* value, std::uint16_t index, std::uint8_t axis) override {
        Select(index, axis);
        text = value;
        mLastError = 0;
    }
    void* GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool) override {
        Select(index, mAxis);
        std::memcpy(buffer, block, size < 4 ? size : 4);
        return buffer;
    }
    void Corrupt() { mGuard[0] = 'X'; }
    std::vector<std::int32_t> values;
    unsigned char block[4] = {};
    std::string text = "cell";
    std::int32_t limit = INT32_MAX;
    int reads = 0;
};

// Handles every test here may define.
inline std::string FixtureHandleFile() {
    static const unsigned kFixed[] = {
        // feed rates, surface speeds, machine settings
        258, 259, 280, 281, 310, 311, 345, 482, 605, 606, 831, 833, 1291, 1994, 2059, 2064, 2068,
        341, 2060, 799, 801, 644, 683, 1310, 1625,
        // inch selector handles, Z mirror handles, magazines, feature mask
        909, 926, 908, 907, 905, 823, 1680, 261, 608, 283, 330, 1049, 2012};
    std::string text = "// handles of the value tests\n";
    for (unsigned handle = 1; handle <= 40; ++handle)
        text += "H" + std::to_string(handle) + "=" + std::to_string(handle) + "\n";
    for (unsigned handle : kFixed)
        text += "H" + std::to_string(handle) + " = " + std::to_string(handle) + " ; fixed\n";
    return text;
}

class ValuesTest : public ::testing::Test {
  protected:
    ValuesTest() {
        machine.WriteFile("HANDLES.TXT", FixtureHandleFile());
        machine.WriteFile("QZ_DATEN.TXT", "; no records: the tests define their own\n");
        machine.WriteFile("COMM.TXT", "");
    }
    void SetUp() override {
        CData::ForgetDaten(nullptr);
        daten.reset(new CommRecordingDaten(machine.model.Parent(), "QZ_DATEN", "HANDLES"));
        ASSERT_EQ(daten->ConstructionResult(), 0);
        daten->SetMessagesOn(true);
        sim().SetRecordTrace(true);
    }
    void TearDown() override {
        CData::ForgetDaten(daten.get());
        daten.reset();
    }

    host::SimDriver& sim() { return machine.sim; }
    host::RecordingHost& host() { return machine.host; }

    // A numeric record with the given limits and formats, written directly.
    DInfo* DefineInt(std::uint16_t handle, DInfo::DType type, std::int32_t min, std::int32_t max,
                     unsigned char metricWidth = 10, unsigned char metricDecimals = 0,
                     unsigned char inchWidth = 10, unsigned char inchDecimals = 0,
                     char inchMetric = 0, double userFactor = 1.0, short base = 10) {
        DInfo* record = new DInfo(type, min, max, 2147483647, metricWidth, metricDecimals,
                                  inchWidth, inchDecimals, userFactor, DInfo::TPara, 1, inchMetric,
                                  1, "[mm]", "[inch]", "", "", "", 0, 0, 0, base);
        daten->SetDefinition(handle, record);
        return record;
    }
    // A record with the full range of its type.
    DInfo* DefineFull(std::uint16_t handle, DInfo::DType type) {
        switch (type) {
            case DInfo::BYTE:
                return DefineInt(handle, type, 0, 255);
            case DInfo::SHORTINT:
                return DefineInt(handle, type, -128, 127);
            case DInfo::WORD:
            case DInfo::QZSHORTREALPLUS:
            case DInfo::QZCARD:
                return DefineInt(handle, type, 0, 65535);
            case DInfo::INTEGER:
            case DInfo::QZSHORTREAL:
                return DefineInt(handle, type, -32768, 32767);
            case DInfo::QZLONGCARD:
                return DefineInt(handle, type, 0, 2147483647);
            default:
                return DefineInt(handle, type, INT32_MIN, INT32_MAX);
        }
    }
    DInfo* DefineString(std::uint16_t handle, std::uint16_t length, char writeDirect = 1,
                        DInfo::NotDirectType notDirect = DInfo::TPara) {
        DInfo* record = new DInfo(DInfo::STRING, length, notDirect, writeDirect, 1, 0, 0);
        daten->SetDefinition(handle, record);
        return record;
    }
    DInfo* DefineBits(std::uint16_t handle, std::uint16_t length, char writeDirect = 1,
                      char swap = 0, char revert = 0) {
        DInfo* record =
            new DInfo(DInfo::BITMASK, length, DInfo::TPara, writeDirect, 1, swap, revert);
        daten->SetDefinition(handle, record);
        return record;
    }
    DInfo* DefineReal(std::uint16_t handle, double min, double max, unsigned char metricWidth = 12,
                      unsigned char metricDecimals = 3, unsigned char inchWidth = 12,
                      unsigned char inchDecimals = 4, char inchMetric = 0) {
        DInfo* record =
            new DInfo(min, max, 0.0, metricWidth, metricDecimals, inchWidth, inchDecimals, 1.0,
                      DInfo::TPara, 1, inchMetric, 1, "[mm]", "[inch]", "", "", "", 10);
        daten->SetDefinition(handle, record);
        return record;
    }

    // The controller's stored value, by handle, on CNC 0, axis 0.
    void Poke(std::uint16_t handle, std::uint16_t index, std::vector<std::uint8_t> bytes) {
        sim().Poke(0, 0, handle, index, bytes.data(), bytes.size());
    }
    void PokeLong(std::uint16_t handle, std::int32_t value, std::uint16_t index = 0) {
        sim().PokeLong(0, 0, handle, index, value);
    }
    std::vector<std::uint8_t> Peek(std::uint16_t handle, std::uint16_t index = 0) {
        return sim().Peek(0, 0, handle, index);
    }
    std::uint32_t Reads() { return sim().Calls(host::SimDriver::Operation::ReadByHandle); }
    std::uint32_t Writes() { return sim().Calls(host::SimDriver::Operation::WriteByHandle); }
    std::size_t Messages() { return host().messageBoxes.size(); }
    std::string Display(std::uint16_t handle, std::int32_t value, std::uint8_t* code = nullptr) {
        char out[Daten::kTextBufferSize] = "untouched";
        const std::uint8_t result = daten->Value2String(handle, value, out, sizeof out);
        if (code) *code = result;
        return out;
    }

    TestMachine machine;
    std::unique_ptr<CommRecordingDaten> daten;
};

}  // namespace korvex::testing

#endif  // KORVEX_TESTS_SUPPORT_VALUES_FIXTURE_H_
