#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/values_fixture.h"

namespace {

using korvex::host::SimDriver;
using korvex::testing::ValuesTest;

using korvex::testing::Cells;

// Signed types extend their sign, unsigned ones do not.
TEST_F(ValuesTest, IntegerReadWidensByType) {
    struct Case {
        DInfo::DType type;
        std::vector<std::uint8_t> stored;
        std::int32_t expected;
    } cases[] = {
        {DInfo::BYTE, {0xFF}, 255},
        {DInfo::SHORTINT, {0xFF}, -1},
        {DInfo::SHORTINT, {0x80}, -128},
        {DInfo::SHORTINT, {0x7F}, 127},
        {DInfo::WORD, {0x00, 0x80}, 32768},
        {DInfo::INTEGER, {0x00, 0x80}, -32768},
        {DInfo::INTEGER, {0xFF, 0xFF}, -1},
        {DInfo::QZSHORTREAL, {0xFF, 0xFF}, -1},
        {DInfo::QZSHORTREALPLUS, {0xFF, 0xFF}, 65535},
        {DInfo::QZCARD, {0xFF, 0xFF}, 65535},
        {DInfo::LONGINT, {0x00, 0x00, 0x00, 0x80}, INT32_MIN},
        {DInfo::QZREAL, {0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX},
        {DInfo::QZLONGCARD, {0xFF, 0xFF, 0xFF, 0xFF}, -1},  // the bit pattern of 4294967295
        // A field with more bytes stored than its width reads only its width.
        {DInfo::BYTE, {0x34, 0x12}, 0x34},
    };
    for (const Case& c : cases) {
        DefineFull(1, c.type);
        Poke(1, 2, c.stored);
        std::int32_t value = 12345;
        EXPECT_EQ(daten->GetValue(1, value, 2, 255), 0) << c.type;
        EXPECT_EQ(value, c.expected) << c.type;
        double real = 0;
        EXPECT_EQ(daten->GetValue(1, real, 2, 255), 0) << c.type;
        EXPECT_EQ(real, static_cast<double>(c.expected)) << c.type;
        // MinusCheck widens the field's bits the same way.
        std::uint32_t raw = 0;
        for (std::size_t i = DInfo::NumericLength(c.type); i-- > 0;) raw = raw << 8 | c.stored[i];
        EXPECT_EQ(daten->MinusCheck(static_cast<std::int32_t>(raw), 1), c.expected) << c.type;
    }
    EXPECT_EQ(daten->MinusCheck(0xFF, 30), 0xFF);  // no record: unchanged
}

TEST_F(ValuesTest, DriverGetsTheExactArgumentsOfEachTransfer) {
    machine.model.global.mAxis = 3;  // what axis 255 stands for
    DefineFull(1, DInfo::INTEGER);
    DefineString(2, 20);
    DefineString(3, 300);
    sim().SetFieldLength(3, 300);
    DefineReal(4, -1e9, 1e9);
    std::int32_t value = 0;
    double real = 0;
    char text[32];
    unsigned char block[300] = {};
    sim().ClearTrace();
    daten->GetValue(1, value, 7, 255);
    daten->GetValue(1, value, 7, 5);
    daten->GetValue(4, real, 1, 255);
    daten->GetValue(2, text, 30, 4, 255);
    daten->GetValue(2, text, 10, 4, 255);
    daten->GetValue(2, static_cast<const void*>(block), 20, 4, 255);
    daten->GetValue(3, static_cast<const void*>(block), 300, 9, 255);
    daten->SetValue(1, std::int32_t{-2}, 7, 255);
    daten->SetValue(4, 1.5, 1, 255);
    daten->SetValue(2, "AB", 4, 255);
    daten->SetValue(2, static_cast<const void*>("XYZ"), 3, 4, 255);
    daten->SetValue(3, static_cast<const void*>(block), 256, 9, 255);
    const std::vector<std::string> expected = {
        "ReadByHandle 0 3 1 7 2 1 -> 0 \"\\x00\\x00\"",
        "ReadByHandle 0 5 1 7 2 1 -> 0 \"\\x00\\x00\"",
        "ReadByHandle 0 3 4 1 8 1 -> 0 \"\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\"",
        // a text read takes the smaller of field length and size, mode 0
        "ReadByHandle 0 3 2 4 20 0 -> 0 \"" + std::string(20, 'x') + "\"",
        "ReadByHandle 0 3 2 4 10 0 -> 0 \"" + std::string(10, 'x') + "\"",
        "ReadByHandle 0 3 2 4 20 1 -> 0 \"" + std::string(20, 'x') + "\"",
        // fields of 256 bytes and more: count first, index second, mode 0
        "ReadByHandle 0 3 3 300 9 0 -> 0 \"" + std::string(300, 'x') + "\"",
        "WriteByHandle 0 3 1 7 2 1 \"\\xfe\\xff\" -> 0",
        "WriteByHandle 0 3 4 1 8 1 \"\\x00\\x00\\x00\\x00\\x00\\x00\\xf8?\" -> 0",
        "WriteByHandle 0 3 2 4 3 0 \"AB\\x00\" -> 0",
        "WriteByHandle 0 3 2 4 3 1 \"XYZ\" -> 0",
        "WriteByHandle 0 3 3 256 9 0 \"" + std::string(256, 'x') + "\" -> 0",
    };
    const std::vector<std::string>& lines = sim().TraceLines();
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // The data of the zero-filled text and block reads is not the point here.
        const std::string& want = expected[i];
        const std::size_t quote = want.find('"');
        if (want.find("xxxx") != std::string::npos)
            EXPECT_EQ(lines[i].substr(0, quote), want.substr(0, quote)) << i;
        else
            EXPECT_EQ(lines[i], want) << i;
    }
}

// Axis 255 is the frame's current axis: asked through a host's own
// override too, and 0 without global data.
TEST_F(ValuesTest, CurrentAxisOfEveryKindOfGlobalData) {
    struct OwnGlobalData : TGlobalData {
        unsigned char GetAktAchse() override { return 6; }
    } own;
    machine.model.global.mAxis = 3;
    DefineFull(1, DInfo::INTEGER);
    for (auto [global, axis] :
         {std::pair<TGlobalData*, char>{&machine.model.global, '3'}, {&own, '6'}, {nullptr, '0'}}) {
        machine.model.frame.mGlobalData = global;
        sim().ClearTrace();
        std::int32_t value = 0;
        EXPECT_EQ(daten->GetValue(1, value, 0, 255), 0);
        EXPECT_EQ(daten->SetValue(1, std::int32_t{5}, 0, 255), 0);
        const std::vector<std::string>& lines = sim().TraceLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].rfind(std::string("ReadByHandle 0 ") + axis + " 1 ", 0), 0u) << lines[0];
        EXPECT_EQ(lines[1].rfind(std::string("WriteByHandle 0 ") + axis + " 1 ", 0), 0u)
            << lines[1];
    }
    machine.model.frame.mGlobalData = &machine.model.global;
}

TEST_F(ValuesTest, TypeAndExistenceErrorsOfEveryOverload) {
    DefineFull(1, DInfo::LONGINT);
    DefineString(2, 8);
    DefineReal(3, 0, 10);
    DefineBits(4, 2);
    std::int32_t value = 0;
    double real = 0;
    char text[16];
    unsigned char block[8];
    struct Case {
        const char* what;
        std::uint8_t code;
    };
    const Case cases[] = {
        {"long of STRING", daten->GetValue(2, value, 0, 255)},
        {"long of REAL", daten->GetValue(3, value, 0, 255)},
        {"long of missing", daten->GetValue(30, value, 0, 255)},
        {"long of unregistered", daten->GetValue(15000, value, 0, 255)},
        {"double of STRING", daten->GetValue(2, real, 0, 255)},
        {"double of missing", daten->GetValue(30, real, 0, 255)},
        {"text of LONGINT", daten->GetValue(1, text, 8, 0, 255)},
        {"text of missing", daten->GetValue(31, text, 8, 0, 255)},
        {"block of REAL", daten->GetValue(3, static_cast<const void*>(block), 8, 0, 255)},
        {"set long of STRING", daten->SetValue(2, std::int32_t{1}, 0, 255)},
        {"set long of REAL", daten->SetValue(3, std::int32_t{1}, 0, 255)},
        {"set long of missing", daten->SetValue(30, std::int32_t{1}, 0, 255)},
        {"set double of STRING", daten->SetValue(2, 1.0, 0, 255)},
        {"set double of registered", daten->SetValue(15000, 1.0, 0, 255)},
        {"set text of LONGINT", daten->SetValue(1, "1", 0, 255)},
        {"set block of BITMASK", daten->SetValue(4, static_cast<const void*>(block), 2, 0, 255)},
        {"set block of missing", daten->SetValue(32, static_cast<const void*>(block), 2, 0, 255)},
    };
    const std::uint8_t expected[] = {1, 1, 6, 6, 1, 6, 1, 6, 1, 1, 1, 6, 1, 6, 1, 1, 6};
    static_assert(sizeof expected == sizeof cases / sizeof cases[0]);
    for (std::size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(cases[i].code, expected[i]) << cases[i].what;
    // Each failure was reported once, and nothing reached the controller.
    EXPECT_EQ(Messages(), sizeof expected);
    EXPECT_EQ(Reads() + Writes(), 0u);
    EXPECT_EQ(host().messageBoxes[0].text, "Wrong type!\nNumber of handle:2\nName of handle:H2");
    EXPECT_EQ(host().messageBoxes[2].text,
              "Handle not found!\nNumber of handle:30\nName of handle:H30");
}

TEST_F(ValuesTest, IntegerWriteChecksLimitsAndNarrows) {
    struct Case {
        DInfo::DType type;
        std::int32_t min, max, value;
        std::uint8_t code;
        std::vector<std::uint8_t> stored;
    } cases[] = {
        {DInfo::BYTE, 0, 255, 255, 0, {0xFF}},
        {DInfo::BYTE, 0, 255, 256, 3, {}},
        {DInfo::BYTE, 0, 255, -1, 3, {}},
        {DInfo::SHORTINT, -128, 127, -128, 0, {0x80}},
        {DInfo::WORD, 0, 65535, 65535, 0, {0xFF, 0xFF}},
        {DInfo::INTEGER, -32768, 32767, -2, 0, {0xFE, 0xFF}},
        {DInfo::QZSHORTREAL, -32768, 32767, 32768, 3, {}},
        {DInfo::LONGINT, INT32_MIN, INT32_MAX, INT32_MIN, 0, {0x00, 0x00, 0x00, 0x80}},
        {DInfo::QZREAL, -5000, 750000, 750000, 0, {0xB0, 0x71, 0x0B, 0x00}},
        {DInfo::QZREAL, -5000, 750000, 750001, 3, {}},
        {DInfo::QZREAL, -5000, 750000, -5001, 3, {}},
        // The limits are compared signed, also for the unsigned types.
        {DInfo::QZLONGCARD, 0, 2147483647, -1, 3, {}},
        {DInfo::QZCARD, 0, 65535, 40000, 0, {0x40, 0x9C}},
    };
    std::uint16_t handle = 0;
    for (const Case& c : cases) {
        ++handle;  // a fresh field each time
        DefineInt(handle, c.type, c.min, c.max);
        const std::uint32_t writes = Writes();
        EXPECT_EQ(daten->SetValue(handle, c.value, 0, 255), c.code) << c.type << " " << c.value;
        EXPECT_EQ(Writes() - writes, c.code == 0 ? 1u : 0u) << c.type << " " << c.value;
        EXPECT_EQ(Peek(handle), c.stored) << c.type << " " << c.value;
    }
}

TEST_F(ValuesTest, OnlyIfChangedSkipsTheWriteOfAnUnchangedValue) {
    DefineFull(1, DInfo::LONGINT);
    PokeLong(1, 42);
    const std::uint32_t writes = Writes();
    EXPECT_EQ(daten->SetValue(1, std::int32_t{42}, 0, 255, 0, 1), 0);
    EXPECT_EQ(Writes(), writes);
    EXPECT_EQ(daten->SetValue(1, std::int32_t{43}, 0, 255, 0, 1), 0);
    EXPECT_EQ(Writes(), writes + 1);
    EXPECT_EQ(sim().PeekLong(0, 0, 1, 0), 43);
    // A failed comparison read does not stop the write.
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    EXPECT_EQ(daten->SetValue(1, std::int32_t{43}, 0, 255, 0, 1), 0);
    EXPECT_EQ(Writes(), writes + 2);
}

TEST_F(ValuesTest, DoubleWriteOfIntegerTypesTakesWholeNumbersOnly) {
    DefineInt(1, DInfo::LONGINT, -100, 100);
    DefineInt(2, DInfo::QZREAL, -100000, 100000, 8, 3);
    struct Case {
        std::uint16_t handle;
        double value;
        std::uint8_t code;
        std::int32_t stored;
    } cases[] = {
        {1, 2.5, 13, 0},    {1, 2.0, 0, 2},         {1, -100.0, 0, -100},
        {1, 101.0, 3, 0},   {1, 1e300, 3, 0},       {1, -0.5, 13, 0},
        {2, 12.345, 13, 0}, {2, 12345.0, 0, 12345}, {1, std::nan(""), 13, 0},
    };
    for (const Case& c : cases) {
        PokeLong(c.handle, 0);
        EXPECT_EQ(daten->SetValue(c.handle, c.value, 0, 255), c.code) << c.value;
        EXPECT_EQ(sim().PeekLong(0, 0, c.handle, 0), c.stored) << c.value;
    }
}

TEST_F(ValuesTest, RealWriteRangeAndNotANumber) {
    DefineReal(1, -10.0, 10.0);
    EXPECT_EQ(daten->SetValue(1, 10.0, 0, 255), 0);
    EXPECT_EQ(daten->SetValue(1, 10.000001, 0, 255), 3);
    EXPECT_EQ(daten->SetValue(1, std::nan(""), 0, 255), 3);
    double value = 0;
    EXPECT_EQ(daten->GetValue(1, value, 0, 255), 0);
    EXPECT_EQ(value, 10.0);
}

TEST_F(ValuesTest, BitMaskBitPositions) {
    struct Case {
        std::uint16_t length;
        char swap, revert;
        std::uint16_t bit, byte;
        int bitInByte;
    } cases[] = {
        {2, 0, 0, 9, 1, 1},
        {2, 1, 0, 9, 0, 1},
        {2, 0, 1, 9, 0, 6},
        {2, 1, 1, 9, 1, 6},
        {2, 0, 0, 0, 0, 0},
        {4, 0, 0, 31, 3, 7},
        {4, 1, 0, 0, 3, 0},
        // a byte beyond the field is taken modulo its length
        {2, 0, 0, 17, 0, 1},
        {3, 0, 0, 40, 2, 0},
    };
    for (const Case& c : cases) {
        DefineBits(5, c.length, 1, c.swap, c.revert);
        for (std::uint16_t b = 0; b < c.length; ++b) Poke(5, b, {0x00});
        EXPECT_EQ(daten->SetValue(5, 1.0, c.bit, 255), 0);
        for (std::uint16_t b = 0; b < c.length; ++b) {
            const std::uint8_t expected =
                b == c.byte ? static_cast<std::uint8_t>(1u << c.bitInByte) : 0;
            EXPECT_EQ(Peek(5, b), std::vector<std::uint8_t>{expected})
                << "bit " << c.bit << " byte " << b << " length " << c.length;
        }
        std::int32_t value = 7;
        EXPECT_EQ(daten->GetValue(5, value, c.bit, 255), 0);
        EXPECT_EQ(value, 1);
        EXPECT_EQ(daten->SetValue(5, 0.0, c.bit, 255), 0);
        EXPECT_EQ(Peek(5, c.byte), std::vector<std::uint8_t>{0});
    }
}

TEST_F(ValuesTest, BitMaskIntegerWriteNeedsWriteDirect) {
    DefineBits(5, 2, /*writeDirect=*/0);
    Poke(5, 1, {0x00});
    EXPECT_EQ(daten->SetValue(5, std::int32_t{1}, 9, 255, 1), 2);
    EXPECT_EQ(Peek(5, 1), std::vector<std::uint8_t>{0x00});
    // The double write takes the bit without asking.
    EXPECT_EQ(daten->SetValue(5, 1.0, 9, 255, 1), 0);
    EXPECT_EQ(Peek(5, 1), std::vector<std::uint8_t>{0x02});
    // Other bits of the byte stay as they were.
    Poke(5, 1, {0xF0});
    EXPECT_EQ(daten->SetValue(5, 1.0, 8, 255, 1), 0);
    EXPECT_EQ(Peek(5, 1), std::vector<std::uint8_t>{0xF1});
}

TEST_F(ValuesTest, FeatureMaskHasNoBitsFromSeventyUp) {
    DefineBits(2012, 10);
    Poke(2012, 8, {0xFF});
    const std::uint32_t transfers = Reads() + Writes();
    std::int32_t value = 5;
    EXPECT_EQ(daten->GetValue(2012, value, 70, 255), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(daten->SetValue(2012, std::int32_t{1}, 75, 255, 1), 0);
    EXPECT_EQ(Reads() + Writes(), transfers);
    EXPECT_EQ(daten->GetValue(2012, value, 69, 255), 0);
    EXPECT_EQ(value, 1);
}

TEST_F(ValuesTest, TextTransfersNeverPassTheirBuffers) {
    DefineString(2, 8);
    EXPECT_EQ(daten->SetValue(2, "ABCDEFGHIJ", 0, 255), 0);
    EXPECT_EQ(Peek(2), (std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 'E', 'F', 'G', 0}));
    EXPECT_EQ(daten->SetValue(2, "AB", 0, 255), 0);
    EXPECT_EQ(Peek(2), (std::vector<std::uint8_t>{'A', 'B', 0, 'D', 'E', 'F', 'G', 0}));

    // A full field read into a buffer of exactly its length plus one.
    Poke(2, 1, {'1', '2', '3', '4', '5', '6', '7', '8'});
    char text[9];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(daten->GetValue(2, text, 8, 1, 255), 0);
    EXPECT_STREQ(text, "12345678");
    // A smaller size cuts the read.
    char small[4];
    EXPECT_EQ(daten->GetValue(2, small, 3, 1, 255), 0);
    EXPECT_STREQ(small, "123");
    char none[1] = {'#'};
    EXPECT_EQ(daten->GetValue(2, none, 0, 1, 255), 0);
    EXPECT_EQ(none[0], '\0');

    // A 255-character input into a field longer than a text transfer.
    DefineString(3, 400);
    const std::string longText(255, 'x');
    EXPECT_EQ(daten->SetValue(3, longText.c_str(), 0, 255), 0);
    std::vector<std::uint8_t> stored = Peek(3);
    ASSERT_EQ(stored.size(), 255u);
    EXPECT_EQ(stored.back(), 0);
    EXPECT_EQ(std::string(stored.begin(), stored.end() - 1), std::string(254, 'x'));
    std::vector<char> back(400 + 1, '#');
    EXPECT_EQ(daten->GetValue(3, back.data(), 400, 0, 255), 0);
    EXPECT_EQ(std::string(back.data()), std::string(254, 'x'));
}

TEST_F(ValuesTest, BlockLargerThanItsFieldIsRefused) {
    DefineString(3, 256);
    sim().SetFieldLength(3, 256);
    std::vector<unsigned char> block(300, 0xAB);
    EXPECT_EQ(daten->SetValue(3, static_cast<const void*>(block.data()), 300, 0, 255), 15);
    EXPECT_EQ(daten->GetValue(3, static_cast<const void*>(block.data()), 300, 0, 255), 15);
    EXPECT_EQ(Reads() + Writes(), 0u);
    EXPECT_EQ(Messages(), 2u);
    EXPECT_EQ(daten->SetValue(3, static_cast<const void*>(block.data()), 256, 2, 255), 0);
    std::vector<unsigned char> back(256, 0);
    EXPECT_EQ(daten->GetValue(3, static_cast<const void*>(back.data()), 256, 2, 255), 0);
    EXPECT_EQ(back, std::vector<unsigned char>(256, 0xAB));
}

TEST_F(ValuesTest, QuietSwitchSilencesOnlyWriteFailures) {
    DefineFull(1, DInfo::LONGINT);
    daten->SetQuietForOptional(true);
    sim().FailNext(SimDriver::Operation::WriteByHandle);
    EXPECT_EQ(daten->SetValue(1, std::int32_t{5}, 0, 255), 15);
    EXPECT_EQ(Messages(), 0u);
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    std::int32_t value;
    EXPECT_EQ(daten->GetValue(1, value, 0, 255), 15);
    EXPECT_EQ(Messages(), 1u);
}

TEST_F(ValuesTest, RegisteredHandlesGoToTheirObjects) {
    Cells table(daten.get(), "PcTable", 3);
    ASSERT_EQ(table.Handle(), 15000);
    std::int32_t value = 0;
    EXPECT_EQ(daten->SetValue(15000, std::int32_t{11}, 2, 4), 0);
    EXPECT_EQ(table.values[2], 11);
    EXPECT_EQ(table.AxisSelected(), 4);
    EXPECT_EQ(daten->GetValue(15000, value, 2, 6), 0);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(table.AxisSelected(), 6);
    // The double read asks for the current axis whatever the caller says.
    double real = 0;
    EXPECT_EQ(daten->GetValue(15000, real, 2, 6), 0);
    EXPECT_EQ(real, 11.0);
    EXPECT_EQ(table.AxisSelected(), 255);
    // The object's last error comes back; Daten reports nothing of its own.
    table.limit = 100;
    EXPECT_EQ(daten->SetValue(15000, std::int32_t{101}, 1, 255), 3);
    EXPECT_EQ(Messages(), 0u);
    EXPECT_EQ(daten->SetValue(15000, "text", 0, 3), 0);
    EXPECT_EQ(table.text, "text");
    EXPECT_EQ(table.AxisSelected(), 255);
    char text[8];
    EXPECT_EQ(daten->GetValue(15000, text, 3, 0, 255), 0);
    EXPECT_STREQ(text, "te");  // the object's bounded copy: size - 1 characters
    // No road for doubles, and an unregistered number is not found.
    EXPECT_EQ(daten->SetValue(15000, 1.0, 0, 255), 6);
    EXPECT_EQ(daten->GetValue(15001, value, 0, 255), 6);
    EXPECT_EQ(daten->GetMaxTabElemAnz(15000), 3);
    EXPECT_EQ(daten->GetMaxTabElemAnz(15001), 1);
    EXPECT_EQ(daten->ExistHandleAndGetInfo(15000), &table.Info());
    EXPECT_EQ(daten->ExistHandle(15000), nullptr);
    EXPECT_EQ(Reads() + Writes(), 0u);
}

TEST_F(ValuesTest, QueriesOfAMissingHandleFailEveryRangeTest) {
    DInfo* record = DefineInt(1, DInfo::QZREAL, -5, 5, 8, 3, 9, 4, 1, 0.5, 16);
    std::strcpy(record->mszMetricUnit, "[mm]");
    EXPECT_EQ(daten->Min(30), 2147483647);
    EXPECT_EQ(daten->Max(30), -2147483647 - 1);
    EXPECT_EQ(daten->RealMin(30), 2147483647.0);
    EXPECT_EQ(daten->RealMax(30), -2147483648.0);
    EXPECT_EQ(daten->DatenTyp(30), 0);
    EXPECT_EQ(daten->DatenLaenge(30), 0);
    EXPECT_EQ(daten->IsVisible(30), 0);
    EXPECT_EQ(daten->DirectWrite(30), 0);
    EXPECT_EQ(daten->InchMetr(30), 0);
    EXPECT_EQ(daten->GetBasis(30), 0);
    EXPECT_EQ(daten->UserFaktor(30), 0.0);
    EXPECT_EQ(daten->GetUnitString(30), nullptr);
    std::uint8_t width = 9, decimals = 9;
    EXPECT_EQ(daten->GetActFormat(30, width, decimals), 6);
    EXPECT_EQ(width + decimals, 0);
    EXPECT_EQ(daten->GetMetInchFormat(30, width, decimals, 1), 6);
    EXPECT_EQ(Messages(), 0u);

    EXPECT_EQ(daten->Min(1), -5);
    EXPECT_EQ(daten->Max(1), 5);
    EXPECT_EQ(daten->DatenTyp(1), DInfo::QZREAL);
    EXPECT_EQ(daten->DatenLaenge(1), 4);
    EXPECT_EQ(daten->InchMetr(1), 1);
    EXPECT_EQ(daten->GetBasis(1), 16);
    EXPECT_EQ(daten->UserFaktor(1), 0.5);
    EXPECT_EQ(daten->GetActFormat(1, width, decimals), 0);
    EXPECT_EQ(width * 10 + decimals, 83);
    EXPECT_STREQ(daten->GetUnitString(1), "[mm]");
    daten->SetInchFlag1();
    EXPECT_EQ(daten->GetActFormat(1, width, decimals), 0);
    EXPECT_EQ(width * 10 + decimals, 94);
    EXPECT_STREQ(daten->GetUnitString(1), "[inch]");
    EXPECT_EQ(daten->GetMetInchFormat(1, width, decimals, 1), 0);
    EXPECT_EQ(width * 10 + decimals, 83);
    EXPECT_EQ(daten->GetMetInchFormat(1, width, decimals, 0), 0);
    EXPECT_EQ(width * 10 + decimals, 94);
}

// The defaults of every handle by type are the values_errors script's; here
// one element, and the out-of-range default told once.
TEST_F(ValuesTest, DefaultsOfOneElementAndOfAll) {
    DInfo* shortReal = DefineFull(2, DInfo::QZSHORTREAL);
    shortReal->SetMinMaxDef(-100, 100, -3);
    DefineFull(6, DInfo::BYTE);  // default 2147483647: out of range
    daten->Default(0, 2, 3);
    EXPECT_EQ(Peek(2, 3), (std::vector<std::uint8_t>{0xFD, 0xFF}));
    EXPECT_TRUE(Peek(2).empty());
    daten->Default(0, 0xFFFF, 0);
    EXPECT_EQ(Peek(2), (std::vector<std::uint8_t>{0xFD, 0xFF}));
    EXPECT_TRUE(Peek(6).empty());
    EXPECT_EQ(Messages(), 1u);
}

TEST_F(ValuesTest, CommandRoadsOfWritesThatAreNotDirect) {
    DInfo* value = DefineInt(1, DInfo::QZREAL, -100000, 100000, 8, 3);
    value->mWriteDirect = 0;
    value->mNotDirect = DInfo::CommValue;
    DInfo* flag = DefineInt(2, DInfo::LONGINT, 0, 10);
    flag->mWriteDirect = 0;
    flag->mNotDirect = DInfo::CommFlag;
    DInfo* para = DefineInt(3, DInfo::LONGINT, 0, 10);
    para->mWriteDirect = 0;
    DefineString(4, 20, 0, DInfo::CommValue);

    EXPECT_EQ(daten->SetValue(1, std::int32_t{1500}, 2, 7), 0);
    ASSERT_EQ(daten->comms.size(), 1u);
    EXPECT_EQ(daten->comms[0].text, "1.500");
    EXPECT_EQ(daten->comms[0].handle, 1);
    EXPECT_EQ(daten->comms[0].index, 2);
    EXPECT_EQ(daten->comms[0].axis, 7);
    daten->commAnswer = 14;
    EXPECT_EQ(daten->SetValue(1, 2.0, 0, 255), 14);
    EXPECT_EQ(daten->comms[1].text, "           2.000000");
    daten->commAnswer = 0;
    // A value whose text does not fit its field is not sent as stars.
    EXPECT_EQ(daten->SetValue(1, std::int32_t{99999}, 0, 255), 0);
    DInfo* narrow = DefineInt(5, DInfo::LONGINT, -100000000, 100000000, 3);
    narrow->mWriteDirect = 0;
    narrow->mNotDirect = DInfo::CommValue;
    EXPECT_EQ(daten->SetValue(5, std::int32_t{12345}, 0, 255), 15);
    EXPECT_EQ(daten->SetValue(5, 1e300, 0, 255), 15);
    EXPECT_EQ(daten->comms.size(), 3u);  // texts on this road: the next tests but one

    // The flag road: a fraction is refused before any command.
    EXPECT_EQ(daten->SetValue(2, 2.5, 0, 255), 13);
    const std::uint8_t flagResult = daten->SetValue(2, std::int32_t{1}, 0, 255);
    EXPECT_NE(flagResult, 0);  // no command file: no flag command
    // The parameter road writes like a direct handle.
    EXPECT_EQ(daten->SetValue(3, std::int32_t{4}, 0, 255), 0);
    EXPECT_EQ(sim().PeekLong(0, 0, 3, 0), 4);
    // Direct writes skip both command roads.
    EXPECT_EQ(daten->SetValue(1, std::int32_t{-1}, 0, 255, 1), 0);
    EXPECT_EQ(sim().PeekLong(0, 0, 1, 0), -1);
    EXPECT_EQ(daten->SetValue(2, std::int32_t{3}, 0, 255, 1), 0);
    EXPECT_EQ(sim().PeekLong(0, 0, 2, 0), 3);
    EXPECT_EQ(daten->comms.size(), 3u);
}

TEST_F(ValuesTest, DoubleOnTheValueCommandRoadIsSentAsItsFixedPointText) {
    DInfo* value = DefineInt(1, DInfo::QZREAL, -100000, 100000, 8, 3);
    value->mWriteDirect = 0;
    value->mNotDirect = DInfo::CommValue;
    // As the C library writes them.
    const auto c = [](double v) {
        char text[128];
        std::snprintf(text, sizeof text, "%19f", v);
        return std::string(text);
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double value;
        std::uint8_t code;
        std::string sent;  // empty: nothing reaches the interpreter
    } cases[] = {
        {1e45, 0, c(1e45)},  // 53 characters: fits the working text
        {1e60, 15, ""},      // would not fit the working text
        {-inf, 0, c(-inf)},
        {nan, 0, c(nan)},
    };
    for (const Case& k : cases) {
        daten->comms.clear();
        EXPECT_EQ(daten->SetValue(1, k.value, 0, 255), k.code) << k.value;
        if (k.sent.empty()) {
            EXPECT_TRUE(daten->comms.empty()) << k.value;
        } else {
            ASSERT_EQ(daten->comms.size(), 1u) << k.value;
            EXPECT_EQ(daten->comms[0].text, k.sent);
        }
    }
}

TEST_F(ValuesTest, TextOnTheValueCommandRoadReachesTheInterpreterWhole) {
    DefineString(4, 20, 0, DInfo::CommValue);
    const std::string texts[] = {"", "T5", std::string(255, 'A'), std::string(300, 'B')};
    for (const std::string& text : texts) {
        daten->comms.clear();
        EXPECT_EQ(daten->SetValue(4, text.c_str(), 0, 255), 0) << text.size();
        ASSERT_EQ(daten->comms.size(), 1u);
        EXPECT_EQ(daten->comms[0].text, text);
    }
    EXPECT_EQ(Writes(), 0u);
}

TEST_F(ValuesTest, DirectWriteModeOfThePcDriverSkipsTheCommandRoadOfIntegers) {
    machine.model.global.mDriverName = "zazazizozuv.dll";
    CData::ForgetDaten(daten.get());
    daten.reset(
        new korvex::testing::CommRecordingDaten(machine.model.Parent(), "QZ_DATEN", "HANDLES"));
    ASSERT_TRUE(daten->DirectWriteMode());
    DInfo* value = DefineInt(1, DInfo::QZREAL, -100000, 100000, 8, 3);
    value->mWriteDirect = 0;
    value->mNotDirect = DInfo::CommValue;
    EXPECT_EQ(daten->SetValue(1, std::int32_t{1500}, 0, 255), 0);
    EXPECT_EQ(sim().PeekLong(0, 0, 1, 0), 1500);
    // The double road does not consult the mode.
    EXPECT_EQ(daten->SetValue(1, 1500.0, 0, 255), 0);
    EXPECT_EQ(daten->comms.size(), 1u);
    // Nor does the mode lift the write protection of a bit mask.
    DefineBits(2, 2, 0);
    EXPECT_EQ(daten->SetValue(2, std::int32_t{1}, 0, 255), 2);
}

TEST_F(ValuesTest, CheckAndGetValueAppendsTheOtherHandlesText) {
    DefineInt(1, DInfo::QZREAL, -100000, 100000, 8, 3);
    PokeLong(1, 2500);
    char line[64] = "SZ";
    daten->CheckAndGetValue(2, 0, 255, "H1", "SELF", line, "X");
    EXPECT_STREQ(line, "SZX2.500");
    daten->CheckAndGetValue(1, 0, 255, "H1", "12", line, "Y");
    EXPECT_STREQ(line, "SZX2.500Y12");
    // A read that fails shows the value 0.
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    daten->CheckAndGetValue(2, 0, 255, "H1", "SELF", line, "H");
    EXPECT_STREQ(line, "SZX2.500Y12H0.000");
    // The bounded form cuts instead of running past the buffer.
    char small[8] = "AB";
    daten->CheckAndGetValue(2, 0, 255, "H1", "SELF", small, "PREFIX", sizeof small);
    EXPECT_STREQ(small, "ABPREFI");
}

TEST_F(ValuesTest, MagazineOfAPlace) {
    DefineFull(330, DInfo::LONGINT);
    DefineFull(1049, DInfo::LONGINT);
    PokeLong(330, 3);
    PokeLong(1049, 0, 0);
    PokeLong(1049, 20, 1);
    PokeLong(1049, 50, 2);
    struct Case {
        std::uint16_t place, magazine;
    } cases[] = {{0, 0}, {19, 0}, {20, 1}, {49, 1}, {50, 2}, {400, 2}};
    for (const Case& c : cases) EXPECT_EQ(daten->getMagNr(c.place), c.magazine) << c.place;
    PokeLong(330, 0);
    EXPECT_EQ(daten->getMagNr(30), 0);
    // The count is taken in 16 bits.
    PokeLong(330, 0x10002);
    EXPECT_EQ(daten->getMagNr(30), 1);
    PokeLong(330, 3);
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    EXPECT_EQ(daten->getMagNr(30), 0);  // the count itself failed
}

}  // namespace
