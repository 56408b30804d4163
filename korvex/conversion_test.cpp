#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tests/support/values_fixture.h"

namespace {

using korvex::testing::ValuesTest;

// ---------------------------------------------------------------- primitives

// The plain scaled cases are the display tests' rows, which go through here.
TEST(Bin2StrTest, DigitTexts) {
    struct Case {
        std::int32_t value;
        short width, decimals;
        char leadingZeros, isUnsigned;
        short base;
        const char* expected;
    } cases[] = {
        {5, 8, 3, 0, 0, 10, "0.005"},
        {0, 8, 3, 0, 0, 10, "0.000"},
        {12345678, 8, 3, 0, 0, 10, "****.***"},  // "12345.678" is nine characters
        {1234567, 8, 3, 0, 0, 10, "1234.567"},
        {-123456, 8, 3, 0, 0, 10, "-123.456"},
        {-1234567, 8, 3, 0, 0, 10, "****.***"},
        {255, 8, 0, 0, 0, 16, "FF"},
        {-1, 8, 0, 0, 0, 16, "FFFFFFFF"},
        {-1, 2, 0, 0, 0, 2, "11111111111111111111111111111111"},  // no width test in other bases
        {35, 8, 0, 0, 0, 36, "Z"},
        {1200, 6, 0, 1, 0, 10, "0012"},
        {0, 3, 0, 1, 0, 10, "000"},
        // A sign does not fit beside the padded digits.
        {-12, 5, 2, 1, 0, 10, "*****"},
        {-12, 6, 0, 1, 0, 10, "******"},
        // Zero padding always takes the sign apart, unsigned or not.
        {-1200, 6, 0, 1, 0, 10, "-0012"},
        {-1200, 6, 0, 1, 1, 10, "-0012"},
        {-1200, 6, 2, 1, 1, 10, "-0012"},
        {7, 4, 5, 0, 0, 10, "0.7"},  // decimals cut to width - 3
        {7, 1, 3, 0, 0, 10, "7"},    // no room for decimals at all
        {-7, 1, 0, 0, 0, 10, "*"},
        {123, 0, 0, 0, 0, 10, "*"},  // width below 1 counts as 1
        {INT32_MIN, 11, 0, 0, 0, 10, "-2147483648"},
        {-1, 10, 0, 0, 1, 10, "4294967295"},
        {-1, 9, 0, 0, 1, 10, "*********"},
        {1, 30, 20, 0, 0, 10, "0.000000001"},  // decimals above 12: width 12, nine decimals
        {1, 12, 12, 0, 0, 10, "0.000000001"},
    };
    for (const Case& c : cases) {
        char out[Daten::kTextBufferSize];
        EXPECT_STREQ(
            Daten::Bin2Str(c.value, out, c.width, c.decimals, c.leadingZeros, c.isUnsigned, c.base),
            c.expected)
            << c.value << " " << c.width << " " << c.decimals;
    }
}

TEST(Bin2StrTest, WidestFieldsStayInTheWorkingBuffer) {
    struct Guarded {
        char out[Daten::kTextBufferSize];
        char canary[16];
    } guarded;
    std::memset(guarded.canary, 0x5A, sizeof guarded.canary);
    Daten::Bin2Str(-1, guarded.out, 255, 0, 1, 0, 10);
    EXPECT_EQ(std::strlen(guarded.out), Daten::kTextBufferSize - 1);
    Daten::Bin2Str(INT32_MIN, guarded.out, 200, 100, 0, 0, 10);
    EXPECT_LT(std::strlen(guarded.out), Daten::kTextBufferSize);
    Daten::Bin2Str(-1, guarded.out, 255, 12, 0, 0, 10);
    EXPECT_STREQ(guarded.out, "-0.000000000001");
    for (char c : guarded.canary) EXPECT_EQ(c, 0x5A);
}

// The plain scaled cases are the input tests' rows, which go through here.
TEST(Str2BinTest, DecimalTexts) {
    struct Case {
        const char* text;
        short decimals;
        std::int32_t expected;
    } cases[] = {
        {"12", 3, 12},
        {"12.", 3, 12000},
        {"  -0.5", 2, -50},
        {"1,5", 3, 1},
        {"12.5", 0, 12},
        {"+5", 2, 5},
        {"+5.", 2, 500},
        {"-", 3, 0},
        {"", 3, 0},
        {".", 3, 0},
        {"abc", 3, 0},
        {"0.0000001", 6, 0},
        {"12.5", 8, 12500000},  // decimals limited to 6
        {"12.5", -2, 12},
        {"1 2", 0, 1},
        {"1\t2", 0, 1},
        {"1\x80", 0, 1},
        {"\t1", 0, 0},  // only blanks are skipped
        // At most twelve characters, the sign included.
        {"000000000001", 0, 1},
        {"0000000000001", 0, 0},
        {"-00000000001", 0, -1},
        {"-000000000001", 0, 0},
        // The number stops before it would pass 2147483639.
        {"2147483639", 0, 2147483639},
        {"2147483647", 0, 214748364},
        {"-2147483648", 0, -214748364},
        {"99999999999", 0, 999999999},
        {"214748.3", 6, 2147483000},
        {"2147483.6", 3, 2147483600},
        {"21474836.4", 3, 214748364},  // scaling stops when it would pass
    };
    for (const Case& c : cases)
        EXPECT_EQ(Daten::Str2Bin(c.text, c.decimals), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(Daten::Str2Bin(nullptr, 3), 0);
}

TEST(CheckFeldWeiteTest, CopiesOrStarsWithinTheBuffer) {
    struct Case {
        const char* text;
        std::uint16_t size, width;
        std::uint8_t code;
        const char* expected;
    } cases[] = {
        {"abc", 10, 3, 0, "abc"}, {"abcd", 10, 3, 4, "***"}, {"abcd", 2, 3, 4, "*"},
        {"abc", 2, 5, 0, "a"},    {"abc", 1, 5, 0, ""},      {"", 4, 0, 0, ""},
        {"x", 4, 0, 4, ""},
    };
    for (const Case& c : cases) {
        char out[16];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(Daten::CheckFeldWeite(c.text, out, c.size, c.width), c.code) << c.text;
        EXPECT_STREQ(out, c.expected) << c.text << " " << c.size;
        EXPECT_EQ(out[c.size], '#') << "wrote past " << c.size;
    }
    char untouched[2] = {'#', '#'};
    EXPECT_EQ(Daten::CheckFeldWeite("abcdef", untouched, 0, 3), 4);
    EXPECT_EQ(untouched[0], '#');
}

TEST(GetValidNumCharsTest, CutsAfterTheNumber) {
    struct Case {
        const char *text, *expected;
    } cases[] = {{"12.5mm", "12.5"}, {"-3+x", "-3+"}, {"x1", ""}, {"", ""}, {"+0.5 ", "+0.5"}};
    for (const Case& c : cases) {
        TApplString out = "old";
        Daten::GetValidNumChars(c.text, out);
        EXPECT_STREQ(out.c_str(), c.expected);
    }
}

// ---------------------------------------------------------------- display of integers

struct Format {
    DInfo::DType type;
    unsigned char metricWidth, metricDecimals, inchWidth, inchDecimals;
    double factor;
    short base;
    char inchMetric;
};

// The formats most rows use: a plain long, a length with 3 metric and 4 inch
// decimals, and a double.
constexpr Format kLong{DInfo::LONGINT, 10, 0, 10, 0, 1.0, 10, 0};
constexpr Format kLength{DInfo::QZREAL, 8, 3, 8, 4, 1.0, 10, 1};
constexpr Format kReal{DInfo::REAL, 12, 3, 12, 4, 1.0, 10, 1};
// Plain longs by a user factor or in another base, and a byte.
constexpr Format kHalf{DInfo::LONGINT, 10, 0, 10, 0, 0.5, 10, 0};
constexpr Format kTwice{DInfo::LONGINT, 10, 0, 10, 0, 2.0, 10, 0};
constexpr Format kHex{DInfo::LONGINT, 10, 0, 10, 0, 1.0, 16, 0};
constexpr Format kByte{DInfo::BYTE, 3, 0, 3, 0, 1.0, 10, 0};

class DisplayTest : public ValuesTest {
  protected:
    DInfo* Define(std::uint16_t handle, const Format& f) {
        return DefineInt(handle, f.type, INT32_MIN, INT32_MAX, f.metricWidth, f.metricDecimals,
                         f.inchWidth, f.inchDecimals, f.inchMetric, f.factor, f.base);
    }
};

TEST_F(DisplayTest, IntegerCarriedValues) {
    struct Case {
        Format format;
        std::int32_t value;
        bool inch;
        std::uint8_t code;
        const char* expected;
    } cases[] = {
        // plain integers: user factor rounded half away from zero, base, metric width
        {kHalf, 5, false, 0, "3"},
        {kHalf, -5, false, 0, "-3"},
        {kHalf, 4, false, 0, "2"},
        {kHex, 255, false, 0, "ff"},
        {kHex, -1, false, 0, "ffffffff"},
        {{DInfo::LONGINT, 10, 0, 10, 0, 1.0, 2, 0}, 5, false, 0, "101"},
        {{DInfo::LONGINT, 11, 0, 10, 0, 1.0, 10, 0}, INT32_MIN, false, 0, "-2147483648"},
        {kLong, INT32_MIN, false, 4, "**********"},
        {{DInfo::LONGINT, 3, 0, 10, 0, 1.0, 10, 0}, 12345, false, 4, "***"},
        // a product beyond 32 bits wraps around
        {{DInfo::LONGINT, 11, 0, 10, 0, 2.0, 10, 0}, INT32_MAX, false, 0, "-2"},
        {{DInfo::LONGINT, 11, 0, 10, 0, 3.0, 10, 0}, 1431655766, false, 0, "2"},
        // the inch format is never used for plain integers
        {{DInfo::LONGINT, 10, 0, 10, 3, 1.0, 10, 1}, 2540, true, 0, "2540"},
        {kByte, 255, false, 0, "255"},
        {{DInfo::SHORTINT, 4, 0, 4, 0, 1.0, 10, 0}, -128, false, 0, "-128"},
        {{DInfo::WORD, 5, 0, 5, 0, 1.0, 10, 0}, 65535, false, 0, "65535"},
        // scaled integers
        {kLength, 12345, false, 0, "12.345"},
        {kLength, -5, false, 0, "-0.005"},
        {kLength, 123456789, false, 0, "****.***"},
        {{DInfo::QZREAL, 12, 3, 12, 4, 1.0, 10, 1}, INT32_MIN, false, 0, "-2147483.648"},
        {{DInfo::QZREAL, 12, 3, 12, 4, 1.0, 10, 1}, INT32_MAX, false, 0, "2147483.647"},
        {{DInfo::QZREAL, 8, 3, 8, 3, 0.5, 10, 0}, 1001, false, 0, "0.501"},
        {{DInfo::QZREAL, 8, 3, 8, 3, 0.5, 10, 0}, -1001, false, 0, "-0.501"},
        {{DInfo::QZREAL, 8, 3, 8, 3, 1.0, 16, 0}, 255, false, 0, "FF"},
        {{DInfo::QZSHORTREAL, 7, 1, 7, 2, 1.0, 10, 0}, -32768, false, 0, "-3276.8"},
        {{DInfo::QZSHORTREALPLUS, 7, 1, 7, 2, 1.0, 10, 0}, 65535, false, 0, "6553.5"},
        // the unsigned types by their bit pattern
        {{DInfo::QZLONGCARD, 12, 3, 12, 4, 1.0, 10, 0}, -1, false, 0, "4294967.295"},
        {{DInfo::QZLONGCARD, 12, 3, 12, 4, 1.0, 16, 0}, 255, false, 0, "FF"},
        {{DInfo::QZLONGCARD, 12, 3, 12, 4, 0.5, 10, 0}, -1, false, 0, "2147483.648"},
        {{DInfo::QZLONGCARD, 12, 0, 12, 4, 1.0, 10, 1}, -1, true, 0, "169093.2006"},
        {{DInfo::QZCARD, 8, 0, 8, 0, 1.0, 10, 0}, 65535, false, 0, "65535"},
        {{DInfo::QZCARD, 8, 0, 8, 0, 1.0, 10, 0}, -1, false, 0, "********"},
        // inch: divided by 2.54, rounded, inch format
        {kLength, 25400, true, 0, "1.0000"},
        {kLength, 3, true, 0, "0.0001"},
        {kLength, 4, true, 0, "0.0002"},
        {kLength, -4, true, 0, "-0.0002"},
        {kLength, INT32_MIN, true, 0, "***.****"},
        {{DInfo::QZREAL, 12, 3, 12, 4, 1.0, 10, 1}, INT32_MIN, true, 0, "-84546.6003"},
        {{DInfo::QZREAL, 8, 3, 8, 4, 1.0, 10, 0}, 25400, true, 0, "25.400"},  // always metric
        {{DInfo::QZREAL, 8, 3, 8, 4, 1.0, 10, 2}, 25400, true, 0, "25.400"},  // follows flag 2
    };
    for (const Case& c : cases) {
        Define(1, c.format);
        daten->mInchFlag1 = c.inch ? 1 : 0;
        std::uint8_t code = 99;
        EXPECT_EQ(Display(1, c.value, &code), c.expected) << c.format.type << " " << c.value;
        EXPECT_EQ(code, c.code) << c.format.type << " " << c.value;
    }
}

// Their display in inch is the units test's and the feed-rate script's.
TEST_F(DisplayTest, SurfaceSpeedsUseTheirOwnInchFactorBothWays) {
    Define(341, {DInfo::QZREAL, 8, 0, 8, 0, 1.0, 10, 1});
    daten->SetInchFlag1();
    // Input takes the same factor; the double road takes 2.54 for every handle.
    std::int32_t value = 0;
    double real = 0;
    EXPECT_EQ(daten->String2Value(341, "1000", value) + daten->String2Value(341, "1000", real), 0);
    EXPECT_EQ(value, 8333);
    EXPECT_EQ(real, 2540.0);
}

TEST_F(DisplayTest, SpecialDisplays) {
    DInfo* hidden = Define(1, kLength);
    hidden->mVisible = 0;
    EXPECT_EQ(Display(1, 12345), "");
    DefineBits(2, 2);
    EXPECT_EQ(Display(2, 1), "on");
    EXPECT_EQ(Display(2, 0), "off");
    DInfo* marked = Define(3, {DInfo::QZREAL, 8, 3, 9, 4, 1.0, 10, 1});
    marked->mNotValid = 1;
    marked->mNotValidValue = INT32_MIN;
    EXPECT_EQ(Display(3, INT32_MIN), "****.***");
    EXPECT_EQ(Display(3, 1), "0.001");
    daten->SetInchFlag1();
    EXPECT_EQ(Display(3, INT32_MIN), "****.****");
    DefineString(4, 8);
    DefineReal(5, 0, 1);
    std::uint8_t code = 0;
    EXPECT_EQ(Display(4, 1, &code), "?");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(Display(5, 1, &code), "?");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(Display(30, 1, &code), "untouched");
    EXPECT_EQ(code, 6);
    EXPECT_EQ(Display(15000, 1, &code), "untouched");
    EXPECT_EQ(code, 6);
    EXPECT_EQ(Messages(), 4u);
}

TEST_F(DisplayTest, ZMirrorBothWays) {
    DInfo* mirrored = Define(1, {DInfo::QZREAL, 12, 3, 12, 4, 1.0, 10, 1});
    mirrored->mZReverse = 1;
    Define(2, kLength);
    EXPECT_EQ(Display(1, 1200), "1.200");  // the mirror is off
    daten->mZReverse = 1;
    daten->mZReference = 5000;
    EXPECT_EQ(Display(1, 1200), "3.800");
    EXPECT_EQ(Display(2, 1200), "1.200");  // a record without ZReverse
    // Input is mirrored back on both roads.
    std::int32_t value = 0;
    double real = 0;
    EXPECT_EQ(daten->String2Value(1, "3.8", value) + daten->String2Value(1, "3.8", real), 0);
    EXPECT_EQ(value, 1200);
    EXPECT_EQ(real, 1200.0);
    daten->mZReference = INT32_MIN;
    EXPECT_EQ(Display(1, 1), "2147483.647");  // wraps in 32 bits
}

TEST_F(DisplayTest, OutputBuffersOfSizeZeroAndOne) {
    Define(1, kLength);
    DInfo* marked = Define(2, kLength);
    marked->mNotValid = 1;
    DefineString(3, 8);
    DefineBits(4, 1);
    for (std::uint16_t handle : {1, 2, 3, 4}) {
        char out[4] = {'#', '#', '#', '#'};
        daten->Value2String(handle, std::int32_t{0}, out, 0);
        EXPECT_EQ(out[0], '#') << handle;
        daten->Value2String(handle, 0.0, out, 0);
        EXPECT_EQ(out[0], '#') << handle;
        daten->Value2String(handle, std::int32_t{0}, out, 1);
        EXPECT_EQ(out[0], '\0') << handle;
        EXPECT_EQ(out[1], '#') << handle;
        out[0] = '#';
        daten->Value2String(handle, 0.0, out, 1);
        EXPECT_EQ(out[0], '\0') << handle;
        EXPECT_EQ(out[1], '#') << handle;
    }
}

// ---------------------------------------------------------------- display of doubles

TEST_F(DisplayTest, DoubleCarriedValues) {
    struct Case {
        Format format;
        double value;
        bool inch;
        std::uint8_t code;
        const char* expected;
    } cases[] = {
        {kReal, 1.23456, false, 0, "1.235"},
        {kReal, -2.5, false, 0, "-2.500"},
        {{DInfo::REAL, 12, 3, 12, 4, 2.0, 10, 1}, 1.5, false, 0, "3.000"},
        {kReal, 25.4, true, 0, "1.0000"},
        {{DInfo::REAL, 5, 3, 12, 4, 1.0, 10, 1}, 123.456, false, 4, "*****"},
        {kReal, 1e100, false, 4, "************"},
        {{DInfo::REAL, 12, 70, 12, 4, 1.0, 10, 1}, 1.0, false, 4, "************"},
        {kReal, 2.2250738585072014e-308, false, 3, "?"},
        {kReal, std::nan(""), false, 3, "?"},
        {kReal, -HUGE_VAL, false, 3, "?"},
        {kLong, 2.5, false, 13, "?"},
        {kLong, -7.0, false, 0, "-7"},
        {kHalf, 5.0, false, 0, "3"},
        {kHalf, 2.5, false, 0, "1"},  // 1.25 rounded
        {kHex, 255.0, false, 0, "ff"},
        {kLength, 12345.0, false, 0, "12.345"},
        {kLength, 12.5, false, 13, "?"},
        {kLength, 25400.0, true, 0, "1.0000"},
        {{DInfo::QZREAL, 8, 3, 8, 4, 0.5, 10, 1}, 1001.0, false, 0, "0.500"},  // truncated
        {{DInfo::QZLONGCARD, 12, 3, 12, 4, 1.0, 10, 0}, 4294967295.0, false, 0, "4294967.295"},
    };
    for (const Case& c : cases) {
        Define(1, c.format);
        daten->mInchFlag1 = c.inch ? 1 : 0;
        char out[Daten::kTextBufferSize] = "untouched";
        EXPECT_EQ(daten->Value2String(1, c.value, out, sizeof out), c.code) << c.value;
        EXPECT_STREQ(out, c.expected) << c.format.type << " " << c.value;
    }
    // No registered-handle road, and a missing record shows "?".
    char out[8] = "x";
    EXPECT_EQ(daten->Value2String(15000, 1.0, out, sizeof out), 6);
    EXPECT_STREQ(out, "?");
}

// ---------------------------------------------------------------- operator input

TEST_F(DisplayTest, IntegerInput) {
    struct Case {
        Format format;
        std::int32_t min, max;
        const char* text;
        bool inch;
        std::uint8_t code;
        std::int32_t expected;
    } cases[] = {
        {kLong, INT32_MIN, INT32_MAX, "12", false, 0, 12},
        {kLong, INT32_MIN, INT32_MAX, "  -7", false, 0, -7},
        {kLong, INT32_MIN, INT32_MAX, "", false, 0, 0},
        {kLong, INT32_MIN, INT32_MAX, "12a", false, 15, 0},
        {kLong, INT32_MIN, INT32_MAX, "12 ", false, 15, 0},
        {kLong, INT32_MIN, INT32_MAX, "+", false, 15, 0},
        {kHex, INT32_MIN, INT32_MAX, "ff", false, 15, 0},
        {kLong, INT32_MIN, INT32_MAX, "1.5", false, 15, 0},
        {kLong, INT32_MIN, INT32_MAX, "99999999999", false, 0, INT32_MAX},
        {kLong, INT32_MIN, INT32_MAX, "-99999999999", false, 0, INT32_MIN},
        {kHalf, INT32_MIN, INT32_MAX, "3", false, 0, 6},
        {kTwice, INT32_MIN, INT32_MAX, "5", false, 0, 3},
        {kTwice, INT32_MIN, INT32_MAX, "-5", false, 0, -3},
        {kHalf, INT32_MIN, INT32_MAX, "2000000000", false, 0, -294967296},
        {kByte, 0, 255, "256", false, 3, 0},
        {kByte, 0, 255, "-1", false, 3, 0},
        {kByte, 0, 255, "255", false, 0, 255},
        // scaled
        {kLength, INT32_MIN, INT32_MAX, "12.5", false, 0, 12500},
        {kLength, INT32_MIN, INT32_MAX, "1.23456", false, 0, 1234},
        {kLength, INT32_MIN, INT32_MAX, "12a", false, 13, 0},
        {kLength, INT32_MIN, INT32_MAX, " 1", false, 13, 0},
        {kLength, INT32_MIN, INT32_MAX, "", false, 0, 0},
        {kLength, -5000, 750000, "750.001", false, 3, 0},
        {kLength, -5000, 750000, "750", false, 0, 750},
        {kLength, INT32_MIN, INT32_MAX, "1.", true, 0, 25400},
        {kLength, INT32_MIN, INT32_MAX, "1", true, 0, 3},
        {kLength, INT32_MIN, INT32_MAX, "0.0025", true, 0, 64},
        {kLength, INT32_MIN, INT32_MAX, "-0.0025", true, 0, -64},
        // 2147483639 * 2.54 wraps around 32 bits
        {kLength, INT32_MIN, INT32_MAX, "214748.3639", true, 0, 1159641147},
        {{DInfo::QZREAL, 8, 3, 8, 3, 0.5, 10, 0}, INT32_MIN, INT32_MAX, "1.001", false, 0, 2002},
        {{DInfo::QZREAL, 8, 3, 8, 3, 3.0, 10, 0}, INT32_MIN, INT32_MAX, "0.010", false, 0, 3},
        {{DInfo::QZREAL, 8, 3, 8, 3, 3.0, 10, 0}, INT32_MIN, INT32_MAX, "-0.010", false, 0, -3},
        {{DInfo::QZCARD, 8, 3, 8, 3, 1.0, 10, 0}, 0, 65535, "65.535", false, 0, 65535},
        {{DInfo::QZCARD, 8, 3, 8, 3, 1.0, 10, 0}, 0, 65535, "65.536", false, 3, 0},
        {{DInfo::QZLONGCARD, 12, 3, 12, 3, 1.0, 10, 0}, 0, INT32_MAX, "4294967.295", false, 0,
         429496729},
    };
    for (const Case& c : cases) {
        DInfo* record = Define(1, c.format);
        record->SetMinMaxDef(c.min, c.max, 0);
        daten->mInchFlag1 = c.inch ? 1 : 0;
        std::int32_t value = 0;
        EXPECT_EQ(daten->String2Value(1, c.text, value), c.code) << '"' << c.text << '"';
        EXPECT_EQ(value, c.expected) << '"' << c.text << '"';
    }
}

TEST_F(DisplayTest, StarMarksTheValueNotValidForGood) {
    DInfo* record = Define(1, kLength);
    record->mNotValidValue = -1;
    record->SetMinMaxDef(0, 100, 0);
    std::int32_t value = 5;
    EXPECT_EQ(daten->String2Value(1, "1*", value), 0);
    EXPECT_EQ(value, -1);  // below the minimum, but not range-checked
    EXPECT_EQ(record->mNotValid, 1);
    EXPECT_EQ(Display(1, -1), "****.***");
    double real = 0;
    EXPECT_EQ(daten->String2Value(1, "*", real), 0);
    EXPECT_EQ(real, -1.0);
}

TEST_F(DisplayTest, InputOfWrongTypesAndLongTexts) {
    DefineString(1, 8);
    DefineReal(2, 0, 1);
    DefineBits(3, 2);
    std::int32_t value = 77;
    double real = 77;
    EXPECT_EQ(daten->String2Value(1, "1", value), 1);
    EXPECT_EQ(daten->String2Value(2, "1", value), 1);
    EXPECT_EQ(daten->String2Value(3, "1", value), 1);
    EXPECT_EQ(daten->String2Value(30, "1", value), 6);
    EXPECT_EQ(daten->String2Value(15000, "1", value), 6);
    EXPECT_EQ(daten->String2Value(1, "1", real), 1);
    EXPECT_EQ(daten->String2Value(3, "1", real), 1);
    EXPECT_EQ(daten->String2Value(15000, "1", real), 6);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(real, 77);
    EXPECT_EQ(Messages(), 8u);

    // A 255-character input reads no further than its number allows.
    Define(4, kLong);
    Define(5, {DInfo::QZREAL, 8, 3, 8, 4, 1.0, 10, 0});
    const std::string digits(255, '7');
    EXPECT_EQ(daten->String2Value(4, digits.c_str(), value), 0);
    EXPECT_EQ(value, INT32_MAX);
    EXPECT_EQ(daten->String2Value(5, digits.c_str(), value), 0);
    EXPECT_EQ(value, 777777777);
    EXPECT_EQ(daten->String2Value(5, digits.c_str(), real), 0);
    EXPECT_EQ(real, 777777777.0);
    const std::string letters(255, 'x');
    EXPECT_EQ(daten->String2Value(4, letters.c_str(), value), 15);
    EXPECT_EQ(daten->String2Value(5, letters.c_str(), value), 13);
}

TEST_F(DisplayTest, DoubleInput) {
    struct Case {
        Format format;
        const char* text;
        bool inch;
        std::uint8_t code;
        double expected;
    } cases[] = {
        {kReal, "1.5", false, 0, 1.5},
        {kReal, " -1e3", false, 0, -1000.0},
        {kReal, ".5", false, 0, 0.5},
        {kReal, "", false, 0, 0.0},
        {kReal, "1.5x", false, 15, 0},
        // Whatever the C library reads as a number is one; what is no
        // number fails the range test.
        {kReal, "0x10", false, 0, 16.0},
        {kReal, "inf", false, 3, 0},
        {kReal, "nan", false, 3, 0},
        {kLong, "-inf", false, 3, 0},
        {kLong, "nan", false, 13, 0},
        // Blanks alone are no number: they are left over.
        {kReal, "  ", false, 15, 0},
        {kLong, "-", false, 15, 0},
        {kReal, "1e", false, 15, 0},
        {kReal, "1", true, 0, 25.4},
        {{DInfo::REAL, 12, 3, 12, 4, 2.0, 10, 1}, "3", false, 0, 1.5},
        {kReal, "1e400", false, 3, 0},
        {kReal, "2000", false, 3, 0},
        {kLong, "2.5", false, 13, 0},
        {kLong, "2", false, 0, 2.0},
        {kHalf, "2.5", false, 0, 5.0},
        {kTwice, "2.4", false, 0, 1.0},
        {kLong, "3e9", false, 3, 0},
        {kLength, "12.5", false, 0, 12500.0},
        {kLength, "0.0025", true, 0, 64.0},
        {{DInfo::QZREAL, 8, 3, 8, 3, 3.0, 10, 1}, "0.010", false, 0, 10.0 / 3.0},
        {kLength, "1x", false, 13, 0},
        {kLength, "1e3", false, 13, 0},
    };
    for (const Case& c : cases) {
        DInfo* record = Define(1, c.format);
        if (c.format.type == DInfo::REAL) record->SetRealMinMaxDef(-1e300, 1000.0, 0.0);
        daten->mInchFlag1 = c.inch ? 1 : 0;
        double value = 0;
        EXPECT_EQ(daten->String2Value(1, c.text, value), c.code) << '"' << c.text << '"';
        EXPECT_EQ(value, c.expected) << '"' << c.text << '"';
    }
}

}  // namespace
