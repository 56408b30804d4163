#include "korvex/definitions/dinfo.h"

#include <bit>
#include <cstring>

#include "korvex/coding.h"

std::int32_t DInfo::mCount = 0;

namespace {

// Copies text into a field of capacity + 1 bytes, cut to capacity characters.
void CopyText(char* field, const char* text, int capacity) {
    int i = 0;
    if (text)
        for (; i < capacity && text[i]; ++i) field[i] = text[i];
    std::memset(field + i, 0, static_cast<std::size_t>(capacity + 1 - i));
}

}  // namespace

std::uint16_t DInfo::NumericLength(DType type) {
    switch (type) {
        case BYTE:
        case SHORTINT:
            return 1;
        case WORD:
        case INTEGER:
        case QZSHORTREAL:
        case QZSHORTREALPLUS:
        case QZCARD:
            return 2;
        case LONGINT:
        case QZREAL:
        case QZLONGCARD:
            return 4;
        case REAL:
        case EIGHTBYTE:
            return 8;
        default:
            return 0;
    }
}

void DInfo::PutLong(unsigned char field[8], std::int32_t value) {
    korvex::EncodeFixed32(field, static_cast<std::uint32_t>(value));
}

void DInfo::PutDouble(unsigned char field[8], double value) {
    korvex::EncodeDouble(field, value);
}

void DInfo::SetEmpty() {
    std::memset(mReserved4, 0, sizeof mReserved4);
    std::memset(mReserved36, 0, sizeof mReserved36);
    mReserved91 = 0;
    mReserved97 = 0;
    mType = NONE;
    mLength = 0;
    PutDouble(mMin, 2147483647.0);
    PutDouble(mMax, -2147483648.0);
    PutDouble(mDefault, 2147483647.0);
    mMetricWidth = mMetricDecimals = mInchWidth = mInchDecimals = 0;
    mUserFactor = 1.0;
    mNotDirect = TPara;
    mWriteDirect = 0;
    mInchMetric = 0;
    mVisible = 1;
    mSwapBitmask = mRevertBitmask = 0;
    std::memset(mszMetricUnit, 0, sizeof mszMetricUnit);
    std::memset(mszInchUnit, 0, sizeof mszInchUnit);
    std::memset(mszTabIdent, 0, sizeof mszTabIdent);
    std::memset(mszTabIndex, 0, sizeof mszTabIndex);
    std::memset(mszTabParIdent, 0, sizeof mszTabParIdent);
    mNotValid = 0;
    mNotValidValue = 0;
    mZReverse = 0;
    mBase = 10;
}

void DInfo::SetFormatsAndFlags(unsigned char metricWidth, unsigned char metricDecimals,
                               unsigned char inchWidth, unsigned char inchDecimals,
                               double userFactor, NotDirectType notDirect, char writeDirect,
                               char inchMetric, char visible, const char* metricUnit,
                               const char* inchUnit, const char* tabIdent, const char* tabIndex,
                               const char* tabParIdent) {
    mMetricWidth = metricWidth;
    mMetricDecimals = metricDecimals;
    mInchWidth = inchWidth;
    mInchDecimals = inchDecimals;
    mUserFactor = userFactor;
    mNotDirect = notDirect;
    mWriteDirect = writeDirect;
    mInchMetric = inchMetric;
    mVisible = visible;
    CopyText(mszMetricUnit, metricUnit, kUnitLength);
    CopyText(mszInchUnit, inchUnit, kUnitLength);
    CopyText(mszTabIdent, tabIdent, kTabLength);
    CopyText(mszTabIndex, tabIndex, kTabLength);
    CopyText(mszTabParIdent, tabParIdent, kTabLength);
}

DInfo::DInfo() {
    SetEmpty();
    ++mCount;
}

DInfo::DInfo(DType type, std::int32_t min, std::int32_t max, std::int32_t def,
             unsigned char metricWidth, unsigned char metricDecimals, unsigned char inchWidth,
             unsigned char inchDecimals, double userFactor, NotDirectType notDirect,
             char writeDirect, char inchMetric, char visible, const char* metricUnit,
             const char* inchUnit, const char* tabIdent, const char* tabIndex,
             const char* tabParIdent, char notValid, std::int32_t notValidValue, char zReverse,
             short base) {
    SetEmpty();
    mType = type;
    mLength = NumericLength(type);
    std::memset(mMin, 0, 8);
    std::memset(mMax, 0, 8);
    std::memset(mDefault, 0, 8);
    PutLong(mMin, min);
    PutLong(mMax, max);
    PutLong(mDefault, def);
    SetFormatsAndFlags(metricWidth, metricDecimals, inchWidth, inchDecimals, userFactor, notDirect,
                       writeDirect, inchMetric, visible, metricUnit, inchUnit, tabIdent, tabIndex,
                       tabParIdent);
    mNotValid = notValid;
    mNotValidValue = notValidValue;
    mZReverse = zReverse;
    mBase = base;
    ++mCount;
}

DInfo::DInfo(DType type, std::int32_t min, std::int32_t max, std::int32_t def,
             unsigned char metricWidth, unsigned char metricDecimals, unsigned char inchWidth,
             unsigned char inchDecimals, double userFactor, char writeDirect, char inchMetric,
             char visible, short base)
    : DInfo(type, min, max, def, metricWidth, metricDecimals, inchWidth, inchDecimals, userFactor,
            TPara, writeDirect, inchMetric, visible, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
            0, 0, base) {}

DInfo::DInfo(double min, double max, double def, unsigned char metricWidth,
             unsigned char metricDecimals, unsigned char inchWidth, unsigned char inchDecimals,
             double userFactor, NotDirectType notDirect, char writeDirect, char inchMetric,
             char visible, const char* metricUnit, const char* inchUnit, const char* tabIdent,
             const char* tabIndex, const char* tabParIdent, short base) {
    SetEmpty();
    mType = REAL;
    mLength = 8;
    SetRealMinMaxDef(min, max, def);
    SetFormatsAndFlags(metricWidth, metricDecimals, inchWidth, inchDecimals, userFactor, notDirect,
                       writeDirect, inchMetric, visible, metricUnit, inchUnit, tabIdent, tabIndex,
                       tabParIdent);
    mBase = base;
    ++mCount;
}

DInfo::DInfo(DType type, unsigned short length, NotDirectType notDirect, char writeDirect,
             char visible, char swapBitmask, char revertBitmask) {
    SetEmpty();
    mType = type;
    mLength = length;
    mUserFactor = 0.0;
    mNotDirect = notDirect;
    mWriteDirect = writeDirect;
    mVisible = visible;
    mSwapBitmask = swapBitmask;
    mRevertBitmask = revertBitmask;
    mBase = 0;
    ++mCount;
}

void DInfo::ClearReservedAndTerminate() {
    std::memset(mReserved4, 0, sizeof mReserved4);
    std::memset(mReserved36, 0, sizeof mReserved36);
    mReserved91 = 0;
    mReserved97 = 0;
    mszMetricUnit[kUnitLength] = '\0';
    mszInchUnit[kUnitLength] = '\0';
    mszTabIdent[kTabLength] = '\0';
    mszTabIndex[kTabLength] = '\0';
    mszTabParIdent[kTabLength] = '\0';
}

DInfo::DInfo(const unsigned char image[kImageSize]) {
    if constexpr (std::endian::native == std::endian::little) {
        // The members are the image (dinfo.h), so on a little-endian host
        // the image is the record as it stands: one copy, then what
        // decoding adds, instead of thirty field moves.
        std::memcpy(static_cast<void*>(this), image, kImageSize);
        ClearReservedAndTerminate();
    } else {
        DecodeImage(image);
        std::memset(mReserved4, 0, sizeof mReserved4);
        std::memset(mReserved36, 0, sizeof mReserved36);
        mReserved91 = 0;
        mReserved97 = 0;
    }
    ++mCount;
}

DInfo::DInfo(InPlaceImage) {
    ClearReservedAndTerminate();
    ++mCount;
}

DInfo::DInfo(const DInfo& other) {
    *this = other;
    ++mCount;
}

void DInfoRunDeleter::operator()(DInfo* first) const {
    for (std::size_t i = 0; i < count; ++i) first[i].~DInfo();
    ::operator delete(storage ? storage : static_cast<void*>(first));
}

DInfo::~DInfo() {
    --mCount;
}

void DInfo::SetInchMetric(unsigned char metricWidth, unsigned char metricDecimals,
                          const char* metricUnit, unsigned char inchMetric, unsigned char inchWidth,
                          unsigned char inchDecimals, const char* inchUnit) {
    mMetricWidth = metricWidth;
    mMetricDecimals = metricDecimals;
    mInchMetric = static_cast<char>(inchMetric);
    mInchWidth = inchWidth;
    mInchDecimals = inchDecimals;
    if (metricUnit) CopyText(mszMetricUnit, metricUnit, kUnitLength);
    if (inchUnit) CopyText(mszInchUnit, inchUnit, kUnitLength);
}

void DInfo::SetInchMetricQZReal() {
    mType = QZREAL;
    SetInchMetric(10, 3, "[mm]", 1, 10, 4, "[inch]");
}

void DInfo::SetInchMetricQZReal(std::int32_t min, std::int32_t max, std::int32_t def) {
    SetInchMetricQZReal();
    SetMinMaxDef(min, max, def);
}

void DInfo::SetTInchTMetricQZReal() {
    SetInchMetricQZReal();
    mInchMetric = 2;
}

void DInfo::SetMetrOnly(unsigned char width, unsigned char decimals) {
    mType = QZREAL;
    SetInchMetric(width, decimals, "[mm]", 0, width, decimals, "[mm]");
}

void DInfo::SetInchOnly(unsigned char width, unsigned char decimals) {
    mType = QZREAL;
    SetInchMetric(width, decimals, "[inch]", 0, width, decimals, "[inch]");
}

void DInfo::SetMinMaxDef(std::int32_t min, std::int32_t max, std::int32_t def) {
    PutLong(mMin, min);
    PutLong(mMax, max);
    PutLong(mDefault, def);
}

void DInfo::SetRealMinMaxDef(double min, double max, double def) {
    PutDouble(mMin, min);
    PutDouble(mMax, max);
    PutDouble(mDefault, def);
}

void DInfo::EncodeImage(unsigned char image[kImageSize]) const {
    using namespace korvex;
    if constexpr (std::endian::native == std::endian::little) {
        // The members are laid out as the image: one copy, the reserved
        // bytes cleared (a record decoded from a cache may carry others).
        std::memcpy(image, static_cast<const void*>(this), kImageSize);
        std::memset(image + 4, 0, 4);
        std::memset(image + 36, 0, 4);
        image[91] = 0;
        image[97] = 0;
        return;
    }
    std::memset(image, 0, kImageSize);
    EncodeFixed16(image + 0, mType);
    EncodeFixed16(image + 2, mLength);
    std::memcpy(image + 8, mMin, 8);
    std::memcpy(image + 16, mMax, 8);
    std::memcpy(image + 24, mDefault, 8);
    image[32] = mMetricWidth;
    image[33] = mMetricDecimals;
    image[34] = mInchWidth;
    image[35] = mInchDecimals;
    EncodeDouble(image + 40, mUserFactor);
    EncodeFixed16(image + 48, mNotDirect);
    image[50] = static_cast<unsigned char>(mWriteDirect);
    image[51] = static_cast<unsigned char>(mInchMetric);
    image[52] = static_cast<unsigned char>(mVisible);
    image[53] = static_cast<unsigned char>(mSwapBitmask);
    image[54] = static_cast<unsigned char>(mRevertBitmask);
    std::memcpy(image + 55, mszMetricUnit, 13);
    std::memcpy(image + 68, mszInchUnit, 13);
    std::memcpy(image + 81, mszTabIdent, 3);
    std::memcpy(image + 84, mszTabIndex, 3);
    std::memcpy(image + 87, mszTabParIdent, 3);
    image[90] = static_cast<unsigned char>(mNotValid);
    EncodeFixed32(image + 92, static_cast<std::uint32_t>(mNotValidValue));
    image[96] = static_cast<unsigned char>(mZReverse);
    EncodeFixed16(image + 98, static_cast<std::uint16_t>(mBase));
}

void DInfo::DecodeImage(const unsigned char image[kImageSize]) {
    using namespace korvex;
    mType = static_cast<DType>(DecodeFixed16(image + 0));
    mLength = DecodeFixed16(image + 2);
    std::memcpy(mMin, image + 8, 8);
    std::memcpy(mMax, image + 16, 8);
    std::memcpy(mDefault, image + 24, 8);
    mMetricWidth = image[32];
    mMetricDecimals = image[33];
    mInchWidth = image[34];
    mInchDecimals = image[35];
    mUserFactor = DecodeDouble(image + 40);
    mNotDirect = static_cast<NotDirectType>(DecodeFixed16(image + 48));
    mWriteDirect = static_cast<char>(image[50]);
    mInchMetric = static_cast<char>(image[51]);
    mVisible = static_cast<char>(image[52]);
    mSwapBitmask = static_cast<char>(image[53]);
    mRevertBitmask = static_cast<char>(image[54]);
    // Texts are terminated inside their fields even when the image is not.
    std::memcpy(mszMetricUnit, image + 55, 13);
    mszMetricUnit[kUnitLength] = '\0';
    std::memcpy(mszInchUnit, image + 68, 13);
    mszInchUnit[kUnitLength] = '\0';
    std::memcpy(mszTabIdent, image + 81, 3);
    mszTabIdent[kTabLength] = '\0';
    std::memcpy(mszTabIndex, image + 84, 3);
    mszTabIndex[kTabLength] = '\0';
    std::memcpy(mszTabParIdent, image + 87, 3);
    mszTabParIdent[kTabLength] = '\0';
    mNotValid = static_cast<char>(image[90]);
    mNotValidValue = static_cast<std::int32_t>(DecodeFixed32(image + 92));
    mZReverse = static_cast<char>(image[96]);
    mBase = static_cast<short>(DecodeFixed16(image + 98));
}
