// DInfo: the definition record of one handle.
//
// The record is the record image of the definition cache, 100 bytes: the
// members below keep the image's order, widths and offsets (checked by the
// static_asserts after the class). On a big-endian host the cache encodes
// and decodes the image field by field, little endian, so its files do not
// depend on the host's byte order; on a little-endian one a cache's records
// are used where the file was read to.
//
// Image layout (offset size field):
//   0  2 type              2  2 length            4  4 reserved
//   8  8 minimum          16  8 maximum          24  8 default
//      (integer types: signed 32 bit in the low 4 bytes; REAL: IEEE double)
//  32  1 metric width     33  1 metric decimals  34  1 inch width
//  35  1 inch decimals    36  4 reserved         40  8 user factor (double)
//  48  2 not-direct type  50  1 write direct     51  1 inch/metric
//  52  1 visible          53  1 swap bitmask     54  1 revert bitmask
//  55 13 metric unit      68 13 inch unit        81  3 TabIdent
//  84  3 TabIndex         87  3 TabParIdent      90  1 not-valid flag
//  91  1 reserved         92  4 not-valid value  96  1 Z reverse
//  97  1 reserved         98  2 base
#ifndef KORVEX_DEFINITIONS_DINFO_H_
#define KORVEX_DEFINITIONS_DINFO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "korvex/coding.h"

// Packed to 4: the double at offset 40 then needs no padding after the
// last field, and a record can stand wherever an image does, 100 bytes
// after the one before (member types and names are unchanged).
#pragma pack(push, 4)
class DInfo {
  public:
    enum DType : std::uint16_t {
        NONE = 0,
        BYTE = 1,
        SHORTINT = 2,
        WORD = 3,
        INTEGER = 4,
        LONGINT = 5,
        REAL = 6,
        QZREAL = 7,
        QZSHORTREAL = 8,
        QZSHORTREALPLUS = 9,
        QZLONGCARD = 10,
        QZCARD = 11,
        STRING = 12,
        BITMASK = 13,
        EIGHTBYTE = 14,  // has no keyword in the definition file
    };
    enum NotDirectType : std::uint16_t { TPara = 0, CommFlag = 1, CommValue = 2 };

    static constexpr int kImageSize = 100;
    static constexpr int kUnitLength = 12;
    static constexpr int kTabLength = 2;

    // The number of DInfo objects in existence.
    static std::int32_t mCount;

    // The empty record.
    DInfo();
    // Integer record.
    DInfo(DType type, std::int32_t min, std::int32_t max, std::int32_t def,
          unsigned char metricWidth, unsigned char metricDecimals, unsigned char inchWidth,
          unsigned char inchDecimals, double userFactor, NotDirectType notDirect, char writeDirect,
          char inchMetric, char visible, const char* metricUnit, const char* inchUnit,
          const char* tabIdent, const char* tabIndex, const char* tabParIdent, char notValid,
          std::int32_t notValidValue, char zReverse, short base);
    // Short integer record: no units, tab texts, not-valid value or Z reverse.
    DInfo(DType type, std::int32_t min, std::int32_t max, std::int32_t def,
          unsigned char metricWidth, unsigned char metricDecimals, unsigned char inchWidth,
          unsigned char inchDecimals, double userFactor, char writeDirect, char inchMetric,
          char visible, short base);
    // REAL record.
    DInfo(double min, double max, double def, unsigned char metricWidth,
          unsigned char metricDecimals, unsigned char inchWidth, unsigned char inchDecimals,
          double userFactor, NotDirectType notDirect, char writeDirect, char inchMetric,
          char visible, const char* metricUnit, const char* inchUnit, const char* tabIdent,
          const char* tabIndex, const char* tabParIdent, short base);
    // STRING or BITMASK record.
    DInfo(DType type, unsigned short length, NotDirectType notDirect, char writeDirect,
          char visible, char swapBitmask, char revertBitmask);

    // A record read from its 100-byte cache image.
    explicit DInfo(const unsigned char image[kImageSize]);
    // A record made of the cache image that already fills its storage (a
    // cache read in place, little-endian hosts only): the reserved bytes
    // are cleared and the texts terminated; nothing else is written.
    struct InPlaceImage {};
    explicit DInfo(InPlaceImage);

    DInfo(const DInfo& other);
    // Every field, the reserved bytes too: the record is its image.
    DInfo& operator=(const DInfo& other) = default;
    ~DInfo();

    void SetInchMetric(unsigned char metricWidth, unsigned char metricDecimals,
                       const char* metricUnit, unsigned char inchMetric, unsigned char inchWidth,
                       unsigned char inchDecimals, const char* inchUnit);
    void SetInchMetricQZReal();
    void SetInchMetricQZReal(std::int32_t min, std::int32_t max, std::int32_t def);
    void SetTInchTMetricQZReal();
    void SetMetrOnly(unsigned char width, unsigned char decimals);
    void SetInchOnly(unsigned char width, unsigned char decimals);
    void SetMinMaxDef(std::int32_t min, std::int32_t max, std::int32_t def);
    void SetZReverse(char zReverse) { mZReverse = zReverse; }

    // The 100-byte cache image.
    void EncodeImage(unsigned char image[kImageSize]) const;
    void DecodeImage(const unsigned char image[kImageSize]);

    // Limits and default as the integer types see them (low 4 bytes) and as
    // REAL sees them (all 8 bytes).
    std::int32_t Min() const { return LowWord(mMin); }
    std::int32_t Max() const { return LowWord(mMax); }
    std::int32_t Def() const { return LowWord(mDefault); }
    double RealMin() const { return AsDouble(mMin); }
    double RealMax() const { return AsDouble(mMax); }
    double RealDef() const { return AsDouble(mDefault); }
    void SetRealMinMaxDef(double min, double max, double def);

    // The members are the image. Every constructor sets every member, the
    // reserved bytes to zero (none has a default initialiser, so that a
    // record read in place keeps the bytes it was read with).
    DType mType;
    std::uint16_t mLength;
    unsigned char mReserved4[4];
    unsigned char mMin[8];
    unsigned char mMax[8];
    unsigned char mDefault[8];
    unsigned char mMetricWidth;
    unsigned char mMetricDecimals;
    unsigned char mInchWidth;
    unsigned char mInchDecimals;
    unsigned char mReserved36[4];
    double mUserFactor;
    NotDirectType mNotDirect;
    char mWriteDirect;
    char mInchMetric;
    char mVisible;
    char mSwapBitmask;
    char mRevertBitmask;
    char mszMetricUnit[kUnitLength + 1];
    char mszInchUnit[kUnitLength + 1];
    char mszTabIdent[kTabLength + 1];
    char mszTabIndex[kTabLength + 1];
    char mszTabParIdent[kTabLength + 1];
    char mNotValid;
    unsigned char mReserved91;
    std::int32_t mNotValidValue;
    char mZReverse;
    unsigned char mReserved97;
    short mBase;

    // Byte length the numeric constructors give a type code (0 for others).
    static std::uint16_t NumericLength(DType type);

  private:
    // Inline: the range checks of every value write read them.
    static std::int32_t LowWord(const unsigned char field[8]) {
        return static_cast<std::int32_t>(korvex::DecodeFixed32(field));
    }
    static double AsDouble(const unsigned char field[8]) { return korvex::DecodeDouble(field); }
    static void PutLong(unsigned char field[8], std::int32_t value);
    static void PutDouble(unsigned char field[8], double value);
    void SetEmpty();
    // The reserved bytes zero, the texts terminated inside their fields.
    void ClearReservedAndTerminate();
    // The fields the integer and the REAL records take alike.
    void SetFormatsAndFlags(unsigned char metricWidth, unsigned char metricDecimals,
                            unsigned char inchWidth, unsigned char inchDecimals, double userFactor,
                            NotDirectType notDirect, char writeDirect, char inchMetric,
                            char visible, const char* metricUnit, const char* inchUnit,
                            const char* tabIdent, const char* tabIndex, const char* tabParIdent);
};
#pragma pack(pop)

static_assert(sizeof(DInfo) == DInfo::kImageSize && alignof(DInfo) == 4);
static_assert(offsetof(DInfo, mBase) + 2 == DInfo::kImageSize);
static_assert(std::is_standard_layout_v<DInfo>);
static_assert(offsetof(DInfo, mType) == 0 && offsetof(DInfo, mLength) == 2);
static_assert(offsetof(DInfo, mReserved4) == 4 && offsetof(DInfo, mMin) == 8);
static_assert(offsetof(DInfo, mMax) == 16 && offsetof(DInfo, mDefault) == 24);
static_assert(offsetof(DInfo, mMetricWidth) == 32 && offsetof(DInfo, mMetricDecimals) == 33);
static_assert(offsetof(DInfo, mInchWidth) == 34 && offsetof(DInfo, mInchDecimals) == 35);
static_assert(offsetof(DInfo, mReserved36) == 36 && offsetof(DInfo, mUserFactor) == 40);
static_assert(offsetof(DInfo, mNotDirect) == 48 && offsetof(DInfo, mWriteDirect) == 50);
static_assert(offsetof(DInfo, mInchMetric) == 51 && offsetof(DInfo, mVisible) == 52);
static_assert(offsetof(DInfo, mSwapBitmask) == 53 && offsetof(DInfo, mRevertBitmask) == 54);
static_assert(offsetof(DInfo, mszMetricUnit) == 55 && offsetof(DInfo, mszInchUnit) == 68);
static_assert(offsetof(DInfo, mszTabIdent) == 81 && offsetof(DInfo, mszTabIndex) == 84);
static_assert(offsetof(DInfo, mszTabParIdent) == 87 && offsetof(DInfo, mNotValid) == 90);
static_assert(offsetof(DInfo, mReserved91) == 91 && offsetof(DInfo, mNotValidValue) == 92);
static_assert(offsetof(DInfo, mZReverse) == 96 && offsetof(DInfo, mReserved97) == 97);
static_assert(offsetof(DInfo, mBase) == 98);

// Records built in place, one after the other, in one allocation: a start
// decodes thousands of them from the definition cache, one allocation instead
// of one each. Destroying the run destroys every record and frees the block.
struct DInfoRunDeleter {
    std::size_t count = 0;
    // The allocation that holds the records, when it does not start with
    // the first one (a cache read in place); nullptr: it does.
    void* storage = nullptr;
    void operator()(DInfo* first) const;
};
using DInfoRun = std::unique_ptr<DInfo, DInfoRunDeleter>;

#endif  // KORVEX_DEFINITIONS_DINFO_H_
