#include "korvex/definitions/dinfo.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/support/machine_files.h"

namespace {

using korvex::testing::Describe;
using korvex::testing::Image;
using korvex::testing::Le16;
using korvex::testing::Le32;
using korvex::testing::LeDouble;

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
    EXPECT_EQ(Describe(real), "6 8 -1.5..2.5=0.25 10.3/10.4 *1 road0 wd1 im1 v1 s0 r0 [mm]|[inch] || nv0:0 z0 b10");
    // A text or bit record keeps the empty record's limits, and no formats.
    const DInfo bits(DInfo::BITMASK, 16, DInfo::CommFlag, 1, 0, 1, 1);
    EXPECT_EQ(Describe(bits), "13 16 2147483647..-2147483648=2147483647 0.0/0.0 *0 road1 wd1 im0 v0 s1 r1 | || nv0:0 z0 b0");
}

TEST(DInfoTest, UnitSetUps) {
    DInfo r(DInfo::LONGINT, 1, 2, 3, 5, 1, 6, 2, 1.0, 0, 0, 1, 10);
    r.SetInchOnly(8, 4);
    EXPECT_EQ(Describe(r), "7 4 1..2=3 8.4/8.4 *1 road0 wd0 im0 v1 s0 r0 [inch]|[inch] || nv0:0 z0 b10");
    r.SetMetrOnly(7, 2);
    EXPECT_EQ(Describe(r), "7 4 1..2=3 7.2/7.2 *1 road0 wd0 im0 v1 s0 r0 [mm]|[mm] || nv0:0 z0 b10");
    r.SetInchMetricQZReal(-10, 10, 3);
    EXPECT_EQ(Describe(r), "7 4 -10..10=3 10.3/10.4 *1 road0 wd0 im1 v1 s0 r0 [mm]|[inch] || nv0:0 z0 b10");
    r.SetTInchTMetricQZReal();
    r.SetZReverse(1);
    EXPECT_EQ(Describe(r), "7 4 -10..10=3 10.3/10.4 *1 road0 wd0 im2 v1 s0 r0 [mm]|[inch] || nv0:0 z1 b10");
    // Units are cut to their 12 characters; an absent one stays as it was.
    r.SetInchMetric(12, 2, "ABCDEFGHIJKLMNOPQRST", 0, 11, 5, nullptr);
    EXPECT_EQ(Describe(r), "7 4 -10..10=3 12.2/11.5 *1 road0 wd0 im0 v1 s0 r0 ABCDEFGHIJKL|[inch] || nv0:0 z1 b10");
    r.SetInchMetric(1, 0, nullptr, 2, 1, 0, "");
    EXPECT_EQ(Describe(r), "7 4 -10..10=3 1.0/1.0 *1 road0 wd0 im2 v1 s0 r0 ABCDEFGHIJKL| || nv0:0 z1 b10");
}

// Every constructor counts a record, the destructor uncounts it; an
// assignment copies every field and leaves the count.
TEST(DInfoTest, CountAndCopies) {
    const std::int32_t before = DInfo::mCount;
    {
        DInfo a;
        const DInfo b(DInfo::BITMASK, 4, DInfo::CommFlag, 1, 0, 1, 1);
        delete new DInfo(1.0, 2.0, 1.5, 10, 3, 10, 4, 1.0, DInfo::TPara, 0, 0, 1, "", "", "", "",
                         "", 10);
        EXPECT_EQ(DInfo::mCount, before + 2);
        a = b;
        EXPECT_EQ(DInfo::mCount, before + 2);
        EXPECT_EQ(Image(a), Image(b));
        const DInfo copy(b);
        EXPECT_EQ(DInfo::mCount, before + 3);
        EXPECT_EQ(Image(copy), Image(b));
    }
    EXPECT_EQ(DInfo::mCount, before);
}

// The image built by hand from the offsets of the format.
TEST(DInfoTest, ImageOffsets) {
    const DInfo r(DInfo::QZSHORTREAL, -300, 400, 7, 9, 3, 8, 4, 0.5, DInfo::CommValue, 1, 2, 0,
                  "[mm]", "[inch]", "TA", "IX", "PD", 1, -77, 1, 16);
    std::string expected = Le16(8) + Le16(2) + std::string(4, '\0') + Le32(-300) +
                           std::string(4, '\0') + Le32(400) + std::string(4, '\0') + Le32(7) +
                           std::string(4, '\0') + "\x09\x03\x08\x04" + std::string(4, '\0') +
                           LeDouble(0.5) + Le16(2) + std::string("\x01\x02\0\0\0", 5);
    expected += std::string("[mm]\0\0\0\0\0\0\0\0\0[inch]\0\0\0\0\0\0\0TA\0IX\0PD\0\x01\0", 37);
    expected += Le32(-77) + std::string("\x01\0", 2) + Le16(16);
    EXPECT_EQ(Image(r), expected);
    EXPECT_EQ(Image(DInfo()), korvex::testing::EmptyImage());
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
        // By value: the record is packed to 4 bytes, its double need not be
        // 8-aligned, and a reference to it would be.
        EXPECT_EQ(double{decoded.mUserFactor}, double{record.mUserFactor});
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
