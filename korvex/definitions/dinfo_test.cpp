#include "korvex/definitions/dinfo.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Little-endian writers of the test's own, so that the expected images do
// not come from the code under test.
void Put16(unsigned char* out, std::uint16_t v) {
    out[0] = v & 0xFF;
    out[1] = v >> 8;
}
void Put32(unsigned char* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = (v >> (8 * i)) & 0xFF;
}
void PutDouble(unsigned char* out, double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    for (int i = 0; i < 8; ++i) out[i] = (bits >> (8 * i)) & 0xFF;
}

TEST(DInfoTest, NumericConstructorsSetTheLengthOfTheTypeCode) {
    struct Case {
        DInfo::DType type;
        std::uint16_t length;
    } cases[] = {
        {DInfo::NONE, 0},        {DInfo::BYTE, 1},
        {DInfo::SHORTINT, 1},    {DInfo::WORD, 2},
        {DInfo::INTEGER, 2},     {DInfo::LONGINT, 4},
        {DInfo::REAL, 8},        {DInfo::QZREAL, 4},
        {DInfo::QZSHORTREAL, 2}, {DInfo::QZSHORTREALPLUS, 2},
        {DInfo::QZLONGCARD, 4},  {DInfo::QZCARD, 2},
        {DInfo::STRING, 0},      {DInfo::BITMASK, 0},
        {DInfo::EIGHTBYTE, 8},   {static_cast<DInfo::DType>(15), 0},
    };
    for (const Case& c : cases) {
        const DInfo full(c.type, -5, 5, 1, 10, 3, 10, 4, 1.0, DInfo::TPara, 1, 1, 1, "[mm]",
                         "[inch]", "T", "I", "P", 0, 0, 0, 10);
        EXPECT_EQ(full.mLength, c.length) << c.type;
        EXPECT_EQ(full.mType, c.type);
        const DInfo shortForm(c.type, -5, 5, 1, 10, 3, 10, 4, 1.0, 1, 1, 1, 10);
        EXPECT_EQ(shortForm.mLength, c.length) << c.type;
    }
}

TEST(DInfoTest, RealAndStringConstructors) {
    const DInfo real(-1.5, 2.5, 0.25, 10, 3, 10, 4, 1.0, DInfo::TPara, 1, 1, 1, "[mm]", "[inch]",
                     "", "", "", 10);
    EXPECT_EQ(real.mType, DInfo::REAL);
    EXPECT_EQ(real.mLength, 8);
    EXPECT_EQ(real.RealMin(), -1.5);
    EXPECT_EQ(real.RealMax(), 2.5);
    EXPECT_EQ(real.RealDef(), 0.25);
    EXPECT_EQ(real.mNotValid, 0);
    EXPECT_EQ(real.mZReverse, 0);

    const DInfo bits(DInfo::BITMASK, 16, DInfo::CommFlag, 1, 0, 1, 1);
    EXPECT_EQ(bits.mType, DInfo::BITMASK);
    EXPECT_EQ(bits.mLength, 16);
    EXPECT_EQ(bits.mNotDirect, DInfo::CommFlag);
    EXPECT_EQ(bits.mSwapBitmask, 1);
    EXPECT_EQ(bits.mRevertBitmask, 1);
    EXPECT_EQ(bits.mUserFactor, 0.0);
    EXPECT_EQ(bits.mBase, 0);
    EXPECT_EQ(bits.mInchMetric, 0);
    EXPECT_EQ(bits.RealMin(), 2147483647.0);
    EXPECT_EQ(bits.RealMax(), -2147483648.0);
}

TEST(DInfoTest, UnitSetUps) {
    DInfo r;
    r.SetInchOnly(8, 4);
    EXPECT_EQ(r.mType, DInfo::QZREAL);
    EXPECT_STREQ(r.mszMetricUnit, "[inch]");
    EXPECT_STREQ(r.mszInchUnit, "[inch]");
    EXPECT_EQ(r.mMetricWidth, 8);
    EXPECT_EQ(r.mMetricDecimals, 4);
    EXPECT_EQ(r.mInchWidth, 8);
    EXPECT_EQ(r.mInchDecimals, 4);
    EXPECT_EQ(r.mInchMetric, 0);

    r.SetMetrOnly(7, 2);
    EXPECT_STREQ(r.mszMetricUnit, "[mm]");
    EXPECT_STREQ(r.mszInchUnit, "[mm]");
    EXPECT_EQ(r.mInchWidth, 7);
    EXPECT_EQ(r.mInchDecimals, 2);

    r.SetInchMetricQZReal(-10, 10, 3);
    EXPECT_EQ(r.mType, DInfo::QZREAL);
    EXPECT_EQ(r.mInchMetric, 1);
    EXPECT_STREQ(r.mszMetricUnit, "[mm]");
    EXPECT_STREQ(r.mszInchUnit, "[inch]");
    EXPECT_EQ(r.mMetricWidth, 10);
    EXPECT_EQ(r.mMetricDecimals, 3);
    EXPECT_EQ(r.mInchWidth, 10);
    EXPECT_EQ(r.mInchDecimals, 4);
    EXPECT_EQ(r.Min(), -10);
    EXPECT_EQ(r.Max(), 10);
    EXPECT_EQ(r.Def(), 3);

    r.SetTInchTMetricQZReal();
    EXPECT_EQ(r.mInchMetric, 2);
    r.SetZReverse(1);
    EXPECT_EQ(r.mZReverse, 1);
}

TEST(DInfoTest, SetInchMetricCutsUnitsAndKeepsAnAbsentOne) {
    DInfo r;
    r.SetInchMetric(10, 3, "[mm]", 1, 10, 4, "[inch]");
    r.SetInchMetric(12, 2, "ABCDEFGHIJKLMNOPQRST", 2, 11, 5, nullptr);
    EXPECT_STREQ(r.mszMetricUnit, "ABCDEFGHIJKL");
    EXPECT_STREQ(r.mszInchUnit, "[inch]");
    EXPECT_EQ(r.mMetricWidth, 12);
    EXPECT_EQ(r.mMetricDecimals, 2);
    EXPECT_EQ(r.mInchMetric, 2);
    EXPECT_EQ(r.mInchWidth, 11);
    EXPECT_EQ(r.mInchDecimals, 5);
    r.SetInchMetric(1, 0, nullptr, 0, 1, 0, "");
    EXPECT_STREQ(r.mszMetricUnit, "ABCDEFGHIJKL");
    EXPECT_STREQ(r.mszInchUnit, "");
}

TEST(DInfoTest, CopyKeepsEveryFieldAndTheCount) {
    const DInfo original(DInfo::BITMASK, 4, DInfo::CommFlag, 1, 0, 1, 1);
    const std::int32_t before = DInfo::mCount;
    DInfo assigned;
    const std::int32_t afterOne = DInfo::mCount;
    assigned = original;
    EXPECT_EQ(DInfo::mCount, afterOne);
    EXPECT_EQ(afterOne, before + 1);
    EXPECT_EQ(assigned.mSwapBitmask, 1);
    EXPECT_EQ(assigned.mRevertBitmask, 1);
    EXPECT_EQ(assigned.mLength, 4);
    EXPECT_EQ(assigned.mNotDirect, DInfo::CommFlag);
    unsigned char a[DInfo::kImageSize], b[DInfo::kImageSize];
    original.EncodeImage(a);
    assigned.EncodeImage(b);
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
}

TEST(DInfoTest, CountFollowsEveryConstructorAndTheDestructor) {
    const std::int32_t before = DInfo::mCount;
    {
        DInfo a;
        DInfo b(DInfo::STRING, 20, DInfo::TPara, 1, 1, 0, 0);
        auto* c = new DInfo(1.0, 2.0, 1.5, 10, 3, 10, 4, 1.0, DInfo::TPara, 0, 0, 1, "", "", "", "",
                            "", 10);
        delete c;
        EXPECT_EQ(DInfo::mCount, before + 2);
        DInfo copy(b);
        EXPECT_EQ(DInfo::mCount, before + 3);
    }
    EXPECT_EQ(DInfo::mCount, before);
}

// The image built by hand from the offsets of the format.
TEST(DInfoTest, ImageOffsets) {
    const DInfo r(DInfo::QZSHORTREAL, -300, 400, 7, 9, 3, 8, 4, 0.5, DInfo::CommValue, 1, 2, 0,
                  "[mm]", "[inch]", "TA", "IX", "PD", 1, -77, 1, 16);
    unsigned char expected[DInfo::kImageSize] = {};
    Put16(expected + 0, 8);
    Put16(expected + 2, 2);
    Put32(expected + 8, static_cast<std::uint32_t>(-300));
    Put32(expected + 16, 400);
    Put32(expected + 24, 7);
    expected[32] = 9;
    expected[33] = 3;
    expected[34] = 8;
    expected[35] = 4;
    PutDouble(expected + 40, 0.5);
    Put16(expected + 48, 2);
    expected[50] = 1;
    expected[51] = 2;
    expected[52] = 0;
    expected[53] = 0;
    expected[54] = 0;
    std::memcpy(expected + 55, "[mm]", 4);
    std::memcpy(expected + 68, "[inch]", 6);
    std::memcpy(expected + 81, "TA", 2);
    std::memcpy(expected + 84, "IX", 2);
    std::memcpy(expected + 87, "PD", 2);
    expected[90] = 1;
    Put32(expected + 92, static_cast<std::uint32_t>(-77));
    expected[96] = 1;
    Put16(expected + 98, 16);
    unsigned char image[DInfo::kImageSize];
    std::memset(image, 0xAA, sizeof image);
    r.EncodeImage(image);
    for (int i = 0; i < DInfo::kImageSize; ++i) EXPECT_EQ(image[i], expected[i]) << "offset " << i;

    unsigned char empty[DInfo::kImageSize] = {};
    PutDouble(empty + 8, 2147483647.0);
    PutDouble(empty + 16, -2147483648.0);
    PutDouble(empty + 24, 2147483647.0);
    PutDouble(empty + 40, 1.0);
    empty[52] = 1;
    Put16(empty + 98, 10);
    DInfo().EncodeImage(image);
    EXPECT_EQ(std::memcmp(image, empty, sizeof image), 0);
}

TEST(DInfoTest, ImageRoundTripAndReservedBytesIgnored) {
    const DInfo records[] = {
        DInfo(DInfo::LONGINT, INT32_MIN, INT32_MAX, 12, 10, 0, 10, 0, 1.0, DInfo::TPara, 1, 0, 1,
              "[rpm]", "[rpm]", "", "", "", 1, INT32_MIN, 0, 10),
        DInfo(-0.5, 1e10, 3.25, 12, 4, 12, 5, 25.4, DInfo::CommFlag, 0, 1, 1, "[m]", "[ft]", "T",
              "", "D", 2),
        DInfo(DInfo::STRING, 128, DInfo::TPara, 1, 1, 0, 0),
        DInfo(),
    };
    for (const DInfo& record : records) {
        unsigned char image[DInfo::kImageSize];
        record.EncodeImage(image);
        // Reserved bytes carry nothing.
        for (int offset : {4, 5, 6, 7, 36, 37, 38, 39, 91, 97}) image[offset] = 0x5A;
        DInfo decoded;
        decoded.DecodeImage(image);
        unsigned char again[DInfo::kImageSize];
        decoded.EncodeImage(again);
        record.EncodeImage(image);
        EXPECT_EQ(std::memcmp(image, again, sizeof image), 0) << record.mType;
        const std::int32_t before = DInfo::mCount;
        const DInfo fromImage(image);
        EXPECT_EQ(DInfo::mCount, before + 1);
        fromImage.EncodeImage(again);
        EXPECT_EQ(std::memcmp(image, again, sizeof image), 0) << record.mType;
        EXPECT_EQ(decoded.mType, record.mType);
        EXPECT_EQ(decoded.mUserFactor, record.mUserFactor);
        EXPECT_STREQ(decoded.mszMetricUnit, record.mszMetricUnit);
        // The record in memory is its image, so host code may copy it as it is.
        if constexpr (std::endian::native == std::endian::little) {
            unsigned char memory[DInfo::kImageSize];
            std::memcpy(memory, static_cast<const void*>(&record), sizeof memory);
            for (int i = 0; i < DInfo::kImageSize; ++i)
                EXPECT_EQ(memory[i], image[i]) << "type " << record.mType << " offset " << i;
        }
    }
}

TEST(DInfoTest, DecodedTextsAreTerminatedInsideTheirFields) {
    unsigned char image[DInfo::kImageSize];
    DInfo().EncodeImage(image);
    std::memset(image + 55, 'M', 13);
    std::memset(image + 68, 'I', 13);
    std::memset(image + 81, 'T', 9);
    DInfo decoded;
    decoded.DecodeImage(image);
    EXPECT_EQ(std::string(decoded.mszMetricUnit), std::string(12, 'M'));
    EXPECT_EQ(std::string(decoded.mszInchUnit), std::string(12, 'I'));
    EXPECT_EQ(std::string(decoded.mszTabIdent), "TT");
    EXPECT_EQ(std::string(decoded.mszTabIndex), "TT");
    EXPECT_EQ(std::string(decoded.mszTabParIdent), "TT");
}

}  // namespace
