#include "korvex/data/numbers.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvex/coding.h"
#include "korvex/korvex.h"

std::uint32_t CDrvNumber::mUseCounter = 0;

namespace {

constexpr double kInchFactor = 2.54;

// The integer part of a double as a 32-bit value wraps it.
std::int32_t WrapToLong(double value) {
    if (!std::isfinite(value)) return INT32_MIN;
    double wrapped = std::fmod(std::trunc(value), 4294967296.0);
    if (wrapped < 0) wrapped += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wrapped));
}

std::int32_t RoundToLong(double value) {
    return WrapToLong(std::trunc(value >= 0 ? value + 0.5 : value - 0.5));
}

bool UnsignedType(DInfo::DType type) {
    return type == DInfo::QZLONGCARD || type == DInfo::QZCARD;
}

}  // namespace

// ---------------------------------------------------------------- CVirtualNumber

CVirtualNumber::CVirtualNumber(Daten* daten, const char* name, std::uint16_t index,
                               TDriver::ELocation location, ERegisterHandle mode)
    : CData(daten, name, index, location, mode) {}

CVirtualNumber::CVirtualNumber() = default;

CVirtualNumber::CVirtualNumber(const CVirtualNumber& source) : CData(source) {
    TakeNumberPart(source);
}

CVirtualNumber::~CVirtualNumber() {
    ReleaseStorage();
}

void CVirtualNumber::ReleaseStorage() {
    if (mOwnsStorage) delete[] static_cast<std::int32_t*>(mpCells);
    mpCells = nullptr;
    mOwnsStorage = false;
    mLentSize = 0;
}

void CVirtualNumber::TakeNumberPart(const CVirtualNumber& source) {
    // Copies duplicate owned arrays: every object frees only what it
    // allocated, so copies stay independent and nothing is freed twice.
    ReleaseStorage();
    mBValue = source.mBValue;
    mIValue = source.mIValue;
    mLValue = source.mLValue;
    if (source.mOwnsStorage && source.mpCells) {
        const std::uint16_t n = source.getTabSize();
        auto* cells = new std::int32_t[n ? n : 1]();
        std::memcpy(cells, source.mpCells, sizeof(std::int32_t) * n);
        mpCells = cells;
        mOwnsStorage = true;
    } else {
        mpCells = source.mpCells;  // lent memory belongs to the lender
        mLentSize = source.mLentSize;
    }
    mTabSize = source.getTabSize();
}

std::uint16_t CVirtualNumber::getTabSize() const {
    return mTabSize;
}

void CVirtualNumber::setTabSize(std::uint16_t size) {
    if (mLentSize != 0 && size > mLentSize) {
        // The lender's memory cannot grow: the table stays as it is.
        Fail(Daten::ValueOutOfRange);
        return;
    }
    if (mOwnsStorage && (!mpCells || size > mTabSize)) {
        auto* grown = new std::int32_t[size ? size : 1]();
        if (mpCells)
            std::memcpy(grown, mpCells, sizeof(std::int32_t) * (mTabSize < size ? mTabSize : size));
        delete[] static_cast<std::int32_t*>(mpCells);
        mpCells = grown;
    }
    mTabSize = size;
}

CVirtualNumber& CVirtualNumber::assignPtr(const CVirtualNumber& source) {
    return CopyInto(*this, source, &CData::assignPtr, &CVirtualNumber::ReleaseStorage,
                    &CVirtualNumber::TakeNumberPart);
}

CVirtualNumber& CVirtualNumber::operator=(const CVirtualNumber& source) {
    return CopyInto(*this, source, &CData::operator=, &CVirtualNumber::ReleaseStorage,
                    &CVirtualNumber::TakeNumberPart);
}

CVirtualNumber& CVirtualNumber::replaceObject(const CVirtualNumber& source) {
    return ReplaceWith(*this, source);
}

std::int32_t CVirtualNumber::CheckmBValueIsSigned() {
    mLValue = mpInfo->mType == DInfo::SHORTINT ? static_cast<std::int8_t>(mBValue) : mBValue;
    return mLValue;
}

std::int32_t CVirtualNumber::CheckmIValueIsUnsigned() {
    const bool isSigned = mpInfo->mType == DInfo::INTEGER || mpInfo->mType == DInfo::QZSHORTREAL;
    mLValue = isSigned ? static_cast<std::int16_t>(mIValue) : mIValue;
    return mLValue;
}

char* CVirtualNumber::Bin2Str(std::int32_t value, char* out, short width, short decimals) const {
    return Daten::Bin2Str(value, out, width, decimals, 0, UnsignedType(mpInfo->mType) ? 1 : 0,
                          mpInfo->mBase);
}

std::int32_t CVirtualNumber::Str2Bin(const char* text, short decimals) const {
    return Daten::Str2Bin(text, decimals);
}

std::uint8_t CVirtualNumber::CheckFeldWeite(const char* text, char* out, std::uint16_t size,
                                            std::uint16_t width) const {
    return Daten::CheckFeldWeite(text, out, size, width);
}

bool CVirtualNumber::NotValid(std::int32_t value, char* out, std::uint16_t size) const {
    return Daten::NotValid(*mpInfo, CheckInch(), value, out, size);
}

bool CVirtualNumber::SpecialValue2String(std::int32_t value, char* buffer,
                                         std::uint16_t size) const {
    if (mpInfo->mType == DInfo::BITMASK && buffer && size >= 4) {
        StrCopy(buffer, value ? "on" : "off", size);
        return true;
    }
    return NotValid(value, buffer, size);
}

std::int32_t CVirtualNumber::considerUserFactorAndZREF(std::int32_t value) const {
    if (gpDat && gpDat->mZReverse && mpInfo->mZReverse)
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(gpDat->mZReference) -
                                          static_cast<std::uint32_t>(value));
    if (mpInfo->mUserFactor != 1.0) {
        const double number = UnsignedType(mpInfo->mType)
                                  ? static_cast<double>(static_cast<std::uint32_t>(value))
                                  : static_cast<double>(value);
        value = RoundToLong(number * mpInfo->mUserFactor);
    }
    return value;
}

std::uint8_t CVirtualNumber::Format(std::int32_t x, bool inch, char* buffer,
                                    std::uint16_t size) const {
    const short width = inch ? mpInfo->mInchWidth : mpInfo->mMetricWidth;
    const short decimals = inch ? mpInfo->mInchDecimals : mpInfo->mMetricDecimals;
    char text[Daten::kTextBufferSize];
    Bin2Str(x, text, width, decimals);
    return CheckFeldWeite(text, buffer, size, static_cast<std::uint16_t>(width));
}

std::uint8_t CVirtualNumber::Value2String(std::int32_t value, char* buffer, std::uint16_t size) {
    if (SpecialValue2String(value, buffer, size)) return Daten::Ok;
    value = considerUserFactorAndZREF(value);
    if (CheckInch()) {
        double x = static_cast<double>(value) * (1.0 / kInchFactor);
        if (mpInfo->mInchDecimals > 4) x *= 10.0 * mpInfo->mInchDecimals - 40.0;
        return Format(RoundToLong(x), true, buffer, size);
    }
    return Format(value, false, buffer, size);
}

std::uint8_t CVirtualNumber::MetricValue2InchString(std::int32_t value, char* buffer,
                                                    std::uint16_t size) {
    if (mpInfo->mInchMetric == 0) return Value2String(value, buffer, size);
    if (SpecialValue2String(value, buffer, size)) return Daten::Ok;
    value = considerUserFactorAndZREF(value);
    return Format(RoundToLong(value / getInchMetricFactor()), true, buffer, size);
}

std::uint8_t CVirtualNumber::InchValue2MetricString(std::int32_t value, char* buffer,
                                                    std::uint16_t size) {
    if (mpInfo->mInchMetric == 0) return Value2String(value, buffer, size);
    if (SpecialValue2String(value, buffer, size)) return Daten::Ok;
    value = considerUserFactorAndZREF(value);
    return Format(RoundToLong(value * getInchMetricFactor()), false, buffer, size);
}

std::uint8_t CVirtualNumber::String2Value(const char* text, std::int32_t& value) {
    if (!text) text = "";
    if (std::strchr(text, '*')) {
        // A star marks the value as not valid, from now on for good.
        EditInfo().mNotValid = 1;
        value = mpInfo->mNotValidValue;
        return Daten::Ok;
    }
    const bool point = mpInfo->mType >= DInfo::QZREAL;
    for (const char* c = text; *c; ++c) {
        if (!((*c >= '0' && *c <= '9') || *c == '+' || *c == '-' || (point && *c == '.')))
            return Daten::ParameterError;
    }
    std::int32_t result =
        CheckInch()
            ? RoundToLong(static_cast<double>(Str2Bin(text, mpInfo->mInchDecimals)) * kInchFactor)
            : Str2Bin(text, mpInfo->mMetricDecimals);
    if (mpInfo->mUserFactor != 1.0 && mpInfo->mUserFactor != 0.0)
        result = WrapToLong(static_cast<double>(result) / mpInfo->mUserFactor);
    if (gpDat && gpDat->mZReverse && mpInfo->mZReverse)
        result = static_cast<std::int32_t>(static_cast<std::uint32_t>(gpDat->mZReference) -
                                           static_cast<std::uint32_t>(result));
    const std::int32_t min = mpInfo->Min();
    const std::int32_t max = mpInfo->Max();
    if ((min != 0 || max != 0) && (result < min || result > max)) return Daten::ValueOutOfRange;
    value = result;
    return Daten::Ok;
}

std::uint8_t CVirtualNumber::Comm(char* text, std::uint16_t index, std::uint8_t axis) {
    std::int32_t value = 0;
    if (String2Value(text, value) != Daten::Ok) return Daten::DataOrDriverError;
    SetValue(value, index, axis);
    return mLastError;
}

// ---------------------------------------------------------------- CPrivNumber

namespace {

// Values outside the range of either limit are refused by the range tests.
bool OutOfRange(const DInfo& info, std::int32_t value) {
    const std::int32_t min = info.Min();
    const std::int32_t max = info.Max();
    return (min != 0 || max != 0) && (value < min || value > max);
}

}  // namespace

CPrivNumber::CPrivNumber(Daten* daten, const char* name, std::uint16_t tabSize,
                         std::uint8_t metricWidth, std::uint8_t metricDecimals,
                         const char* metricUnit, char inchMetric, std::uint8_t inchWidth,
                         std::uint8_t inchDecimals, const char* inchUnit, std::uint16_t index,
                         char notValid, std::int32_t notValidValue)
    : CVirtualNumber(daten, name, index, TDriver::LocationDefault, NoRegistration) {
    // An empty table would leave the first access without a cell.
    if (tabSize == 0) {
        HaltWrongDefinition(name, __LINE__);
        return;
    }
    const DInfo::DType type =
        metricDecimals == 0 && inchDecimals == 0 ? DInfo::LONGINT : DInfo::QZREAL;
    DInfo& info = EditInfo();
    info = DInfo(type, INT32_MIN, INT32_MAX, 0, metricWidth, metricDecimals, inchWidth,
                 inchDecimals, 1.0, 1, inchMetric, 1, 10);
    info.SetInchMetric(metricWidth, metricDecimals, metricUnit,
                       static_cast<unsigned char>(inchMetric), inchWidth, inchDecimals, inchUnit);
    info.mNotValid = notValid;
    info.mNotValidValue = notValidValue;
    mOwnsStorage = true;
    Finish(tabSize);
}

CPrivNumber::CPrivNumber(Daten* daten, const char* name, void* storage, std::uint16_t totalSize,
                         std::uint16_t tabSize, std::uint8_t metricWidth,
                         std::uint8_t metricDecimals, const char* metricUnit, char inchMetric,
                         std::uint8_t inchWidth, std::uint8_t inchDecimals, const char* inchUnit,
                         std::uint16_t index)
    : CVirtualNumber(daten, name, index, TDriver::LocationDefault, NoRegistration) {
    // A table of no elements over lent memory is refused like any wrong size.
    const unsigned element = tabSize ? totalSize / tabSize : 0;
    if (!storage || tabSize == 0 || totalSize % tabSize != 0 ||
        (element != 1 && element != 2 && element != 4)) {
        HaltWrongDefinition(name, __LINE__);
        return;
    }
    const bool scaled = metricDecimals != 0 || inchDecimals != 0;
    DInfo::DType type = DInfo::BYTE;
    // Lent cells take only what fits them: the range is the element type's.
    std::int32_t min = 0, max = 255;
    if (element == 2) {
        type = scaled ? DInfo::QZSHORTREAL : DInfo::INTEGER;
        min = -32768;
        max = 32767;
    } else if (element == 4) {
        type = scaled ? DInfo::QZREAL : DInfo::LONGINT;
        min = INT32_MIN;
        max = INT32_MAX;
    }
    DInfo& info = EditInfo();
    info = DInfo(type, min, max, 0, metricWidth, metricDecimals, inchWidth, inchDecimals, 1.0, 1,
                 inchMetric, 1, 10);
    info.SetInchMetric(metricWidth, metricDecimals, metricUnit,
                       static_cast<unsigned char>(inchMetric), inchWidth, inchDecimals, inchUnit);
    mpCells = storage;
    mLentSize = tabSize;
    Finish(tabSize);
}

CPrivNumber::CPrivNumber() = default;

CPrivNumber::~CPrivNumber() = default;

void CPrivNumber::Finish(std::uint16_t tabSize) {
    Init(RegisterNew);
    setTabSize(tabSize);
    if (!gbRegisterNewHandle) mBound = true;
}

CPrivNumber::operator std::int32_t() {
    if (!mBound || !mpCells || mIndex >= mTabSize) return mLValue;
    _gDebugHandles.IncRead(mHandle);
    const unsigned char* cell = Cell(mIndex);
    switch (mpInfo->mLength) {
        case 4:
            std::memcpy(&mLValue, cell, 4);
            break;
        case 2:
            std::memcpy(&mIValue, cell, 2);
            CheckmIValueIsUnsigned();
            break;
        case 1:
            mBValue = *cell;
            CheckmBValueIsSigned();
            break;
        default:
            break;
    }
    return mLValue;
}

void CPrivNumber::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) {
    if (!mBound) return;
    Select(index, axis);
    if (OutOfRange(*mpInfo, value)) {
        Fail(Daten::ValueOutOfRange);
        return;
    }
    _gDebugHandles.IncWrite(mHandle);
    if (mpCells && mIndex < mTabSize) {
        // The low bytes of the value, as the cell's own type holds them.
        const auto word = static_cast<std::uint32_t>(value);
        const auto half = static_cast<std::uint16_t>(value);
        const auto byte = static_cast<std::uint8_t>(value);
        const void* bytes = mpInfo->mLength == 4   ? static_cast<const void*>(&word)
                            : mpInfo->mLength == 2 ? static_cast<const void*>(&half)
                                                   : static_cast<const void*>(&byte);
        if (mpInfo->mLength <= 4) std::memcpy(Cell(mIndex), bytes, mpInfo->mLength);
    }
    mLValue = value;
    mLastError = Daten::Ok;
}

CPrivNumber& CPrivNumber::assignPtr(const CPrivNumber& source) {
    return CopyInto(*this, source, &CVirtualNumber::assignPtr, nullptr, nullptr);
}

CPrivNumber& CPrivNumber::operator=(const CPrivNumber& source) {
    return CopyInto(*this, source, &CVirtualNumber::operator=, nullptr, nullptr);
}

CPrivNumber& CPrivNumber::replaceObject(const CPrivNumber& source) {
    return ReplaceWith(*this, source);
}

// ---------------------------------------------------------------- CDrvNumber

CDrvNumber::CDrvNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                       DInfo::DType type, std::uint16_t tabSize, std::uint8_t metricWidth,
                       std::uint8_t metricDecimals, const char* metricUnit, char inchMetric,
                       std::uint8_t inchWidth, std::uint8_t inchDecimals, const char* inchUnit,
                       std::uint32_t stride, std::uint16_t readParam, bool readFlag,
                       std::uint16_t index, const TDriver::ELocation location)
    : CVirtualNumber(daten, name, index, location, NoRegistration),
      mReadFlag(readFlag),
      mReadParam(readParam),
      mAddress(address),
      mStride(stride) {
    Build(name, length, type, tabSize, RegisterNew);
    if (mpInfo->mType == DInfo::NONE) return;
    EditInfo().SetInchMetric(metricWidth, metricDecimals, metricUnit,
                             static_cast<unsigned char>(inchMetric), inchWidth, inchDecimals,
                             inchUnit);
}

CDrvNumber::CDrvNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                       DInfo::DType type, ERegisterHandle mode)
    : CDrvNumber(daten, name, address, length, type, 1, mode) {}

CDrvNumber::CDrvNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                       DInfo::DType type, std::uint16_t tabSize, ERegisterHandle mode)
    : CVirtualNumber(daten, name, 0, TDriver::LocationDefault, NoRegistration), mAddress(address) {
    Build(name, length, type, tabSize, mode);
}

CDrvNumber::CDrvNumber(Daten* daten, TransientName name, std::uint32_t address,
                       std::uint16_t length, DInfo::DType type, ERegisterHandle mode)
    : CDrvNumber(daten, name.text, address, length, type, 1, mode) {
    KeepName();
}

CDrvNumber::CDrvNumber(Daten* daten, TransientName name, std::uint32_t address,
                       std::uint16_t length, DInfo::DType type, std::uint16_t tabSize,
                       ERegisterHandle mode)
    : CDrvNumber(daten, name.text, address, length, type, tabSize, mode) {
    KeepName();
}

CDrvNumber::CDrvNumber() : mReadFlag(true), mReadParam(0) {}

CDrvNumber::CDrvNumber(const CDrvNumber& source) : CDrvNumber(source, false, source.Location()) {}

CDrvNumber::CDrvNumber(const CDrvNumber& source, bool privateCopy,
                       const TDriver::ELocation location)
    : CVirtualNumber(source) {
    TakeDrvPart(source);
    mLocation = location;
    if (!privateCopy) return;
    // The mirror shows values as the source does, so it takes the source's
    // inch/metric value.
    const std::uint16_t size = getTabSize() ? getTabSize() : 1;
    mMirror.Create(size, [&] {
        return new CPrivNumber(gpDat, source.mName, size, mpInfo->mMetricWidth,
                               mpInfo->mMetricDecimals, mpInfo->mszMetricUnit, mpInfo->mInchMetric,
                               mpInfo->mInchWidth, mpInfo->mInchDecimals, mpInfo->mszInchUnit, 0, 0,
                               0);
    });
}

void CDrvNumber::Build(const char* name, std::uint16_t length, DInfo::DType type,
                       std::uint16_t tabSize, ERegisterHandle mode) {
    // Refused before registering: a wrong definition takes no handle. A REAL
    // (8 bytes) has no 32-bit cell, and a table of no elements no first cell.
    if (type < DInfo::BYTE || type > DInfo::QZCARD || type == DInfo::REAL ||
        DInfo::NumericLength(type) != length || tabSize == 0) {
        HaltWrongDefinition(name, __LINE__);
        return;
    }
    ShareInfo(korvex::data::PlainNumberInfo(type));
    if (mStride == 0) mStride = length;
    Init(mode);
    setTabSize(tabSize);
}

CDrvNumber::~CDrvNumber() = default;

void CDrvNumber::TakeDrvPart(const CDrvNumber& source) {
    mAddress = source.mAddress;
    mReadParam = source.mReadParam;
    mReadFlag = source.mReadFlag;
    mStride = source.mStride;
    // The mirror and its flags are duplicated like the value arrays.
    mMirror.CopyFrom(source.mMirror, source.getTabSize() ? source.getTabSize() : 1);
}

std::uint16_t CDrvNumber::getTabSize() const {
    return mTabSize;
}

void CDrvNumber::setTabSize(std::uint16_t size) {
    mMirror.Grow(mTabSize, size);
    CVirtualNumber::setTabSize(size);
}

CDrvNumber::operator std::int32_t() {
    if (mMirror.Holds(mIndex, mTabSize)) {
        mLValue = mMirror->GetValue(mIndex, mAxis);
        return mLValue;
    }
    if (!mBound || !mpDriver) return mLValue;
    _gDebugHandles.IncRead(mHandle);
    const std::uint16_t length = mpInfo->mLength;
    if (length != 1 && length != 2 && length != 4) {
        mLastError = Daten::WrongType;  // an 8-byte field is no number of 32 bits
        return mLValue;
    }
    std::uint8_t bytes[4];
    const std::uint16_t moved =
        mpDriver->ReadMemory(mCnc, ElementAddress(), length, mReadParam, mReadFlag, bytes,
                             static_cast<TDriver::ELocation>(mLocation));
    if (moved != length) {
        Fail(Daten::DataOrDriverError);
        return mLValue;
    }
    const std::uint32_t word = korvex::DecodeWord(bytes, length, Swapped());
    if (length == 1) {
        mBValue = static_cast<std::uint8_t>(word);
        CheckmBValueIsSigned();
    } else if (length == 2) {
        mIValue = static_cast<std::uint16_t>(word);
        CheckmIValueIsUnsigned();
    } else {
        mLValue = static_cast<std::int32_t>(word);
    }
    mLastError = Daten::Ok;
    if (mMirror.Covers(mIndex, mTabSize)) {
        // A private copy keeps what it read: later reads see the same value
        // until the copy itself writes.
        mMirror->SetValue(mLValue, mIndex, mAxis);
        mMirror.Mark(mIndex, mTabSize);
    }
    return mLValue;
}

void CDrvNumber::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) {
    if (mMirror) {
        // The element is selected before its flag is set: the other order
        // would mark an element the write did not reach.
        Pick(index, axis);
        if (!mMirror.Covers(mIndex, mTabSize)) {
            Fail(Daten::ValueOutOfRange);
            return;
        }
        mMirror->SetValue(value, mIndex, mAxis);
        mLastError = mMirror->LastError();
        if (mLastError == Daten::Ok) {
            mLValue = value;
            mMirror.Mark(mIndex, mTabSize);
        }
        return;
    }
    if (!mBound || !mpDriver) return;
    Pick(index, axis);
    if (OutOfRange(*mpInfo, value)) {
        Fail(Daten::ValueOutOfRange);
        return;
    }
    _gDebugHandles.IncWrite(mHandle);
    const std::uint16_t length = mpInfo->mLength;
    if (length != 1 && length != 2 && length != 4) {
        mLastError = Daten::WrongType;
        return;
    }
    if (length == 1) mBValue = static_cast<std::uint8_t>(value);
    if (length == 2) mIValue = static_cast<std::uint16_t>(value);
    std::uint8_t bytes[4];
    korvex::EncodeWord(bytes, static_cast<std::uint32_t>(value), length, Swapped());
    const std::uint16_t moved = mpDriver->WriteMemory(mCnc, ElementAddress(), length, bytes,
                                                      static_cast<TDriver::ELocation>(mLocation));
    Transferred(moved == length, true);
    mLValue = value;
}

// Blocks always reach the controller, private copy or not: they are raw
// bytes of any size, in the controller's byte order, which no mirror holds.
void* CDrvNumber::GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool) {
    if (!buffer || !mBound || !mpDriver) return buffer;
    Pick(index, mAxis);
    _gDebugHandles.IncRead(mHandle);
    const std::uint16_t moved =
        mpDriver->ReadMemory(mCnc, ElementAddress(), size, mReadParam, false, buffer,
                             static_cast<TDriver::ELocation>(mLocation));
    Transferred(moved == size, false);
    return buffer;
}

const void* CDrvNumber::SetBinBlock(const void* buffer, std::uint16_t size, std::uint16_t index,
                                    bool) {
    if (!buffer || !mBound || !mpDriver) return buffer;
    Pick(index, mAxis);
    _gDebugHandles.IncWrite(mHandle);
    const std::uint16_t moved = mpDriver->WriteMemory(mCnc, ElementAddress(), size, buffer,
                                                      static_cast<TDriver::ELocation>(mLocation));
    Transferred(moved == size, true);
    return buffer;
}

CDrvNumber& CDrvNumber::assignPtr(const CDrvNumber& source) {
    return CopyInto(*this, source, &CVirtualNumber::assignPtr, &CDrvNumber::ReleaseDrvPart,
                    &CDrvNumber::TakeDrvPart);
}

CDrvNumber& CDrvNumber::operator=(const CDrvNumber& source) {
    return CopyInto(*this, source, &CVirtualNumber::operator=, &CDrvNumber::ReleaseDrvPart,
                    &CDrvNumber::TakeDrvPart);
}

CDrvNumber& CDrvNumber::replaceObject(const CDrvNumber& source) {
    return ReplaceWith(*this, source);
}

// ---------------------------------------------------------------- command numbers

CVirtualDrvCommNumber::CVirtualDrvCommNumber(Daten* daten, const char* name, std::uint32_t address,
                                             std::uint16_t length, DInfo::DType type,
                                             std::uint16_t tabSize, std::uint8_t metricWidth,
                                             std::uint8_t metricDecimals, const char* metricUnit,
                                             char inchMetric, std::uint8_t inchWidth,
                                             std::uint8_t inchDecimals, const char* inchUnit,
                                             std::uint32_t stride, std::uint16_t readParam,
                                             bool readFlag, std::uint16_t index)
    : CDrvNumber(daten, name, address, length, type, tabSize, metricWidth, metricDecimals,
                 metricUnit, inchMetric, inchWidth, inchDecimals, inchUnit, stride, readParam,
                 readFlag, index, TDriver::LocationDefault) {}

CVirtualDrvCommNumber::~CVirtualDrvCommNumber() = default;

void CVirtualDrvCommNumber::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) {
    Select(index, axis);
    // A value that yields no command changes nothing, not even the last error.
    char* command = HandleInputValue(value, mIndex);
    if (!command || !gpDat) return;
    mLastError = gpDat->CheckAndSendComm(command, mIndex, kCurrentAxis);
    if (mLastError == Daten::Ok)
        mLValue = value;
    else
        Report(mLastError);
}

std::uint8_t CVirtualDrvCommNumber::Comm(char* text, std::uint16_t index, std::uint8_t axis) {
    mLastError = Daten::Ok;
    char* command = HandleInputString(text, index);
    if (command && gpDat) return gpDat->CheckAndSendComm(command, index, axis);
    // No command: 15, also after HandleInputString has reported a refused text (13)
    // itself; mLastError keeps its 13.
    Report(Daten::DataOrDriverError);
    return Daten::DataOrDriverError;
}

CDrvCommValNumber::CDrvCommValNumber(Daten* daten, const char* name, std::uint32_t address,
                                     std::uint16_t length, DInfo::DType type, const char* prefix,
                                     std::uint16_t tabSize, std::uint8_t metricWidth,
                                     std::uint8_t metricDecimals, const char* metricUnit,
                                     char inchMetric, std::uint8_t inchWidth,
                                     std::uint8_t inchDecimals, const char* inchUnit,
                                     std::uint32_t stride, std::uint16_t readParam, bool readFlag,
                                     std::uint16_t index)
    : CVirtualDrvCommNumber(daten, name, address, length, type, tabSize, metricWidth,
                            metricDecimals, metricUnit, inchMetric, inchWidth, inchDecimals,
                            inchUnit, stride, readParam, readFlag, index),
      mPrefix(prefix) {}

CDrvCommValNumber::~CDrvCommValNumber() = default;

char* CDrvCommValNumber::HandleInputValue(std::int32_t value, std::uint16_t) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    mWork = mPrefix.c_str();
    mWork += digits;
    return mWork.str().data();
}

char* CDrvCommValNumber::HandleInputString(char* text, std::uint16_t) {
    mWork = mPrefix.c_str();
    mWork += text;
    return mWork.str().data();
}

CDrvCommYesNoNumber::CDrvCommYesNoNumber(
    Daten* daten, const char* name, std::uint32_t address, std::uint16_t length, DInfo::DType type,
    const char* commandYes, const char* commandNo, std::uint16_t tabSize, std::uint8_t metricWidth,
    std::uint8_t metricDecimals, const char* metricUnit, char inchMetric, std::uint8_t inchWidth,
    std::uint8_t inchDecimals, const char* inchUnit, std::uint32_t stride, std::uint16_t readParam,
    bool readFlag, std::uint16_t index)
    : CVirtualDrvCommNumber(daten, name, address, length, type, tabSize, metricWidth,
                            metricDecimals, metricUnit, inchMetric, inchWidth, inchDecimals,
                            inchUnit, stride, readParam, readFlag, index),
      mYes(commandYes),
      mNo(commandNo) {}

CDrvCommYesNoNumber::~CDrvCommYesNoNumber() = default;

CDrvCommYesNoNumber::operator std::int32_t() {
    return CDrvNumber::operator std::int32_t() != 0 ? 1 : 0;
}

char* CDrvCommYesNoNumber::HandleInputValue(std::int32_t value, std::uint16_t) {
    mWork = value != 0 ? mYes.c_str() : mNo.c_str();
    return mWork.str().data();
}

char* CDrvCommYesNoNumber::HandleInputString(char* text, std::uint16_t) {
    if (!text) text = const_cast<char*>("");
    for (const char* c = text; *c; ++c) {
        if (!((*c >= '0' && *c <= '9') || *c == '+' || *c == '-')) {
            Fail(Daten::ParameterError);
            return nullptr;
        }
    }
    return HandleInputValue(std::strtol(text, nullptr, 10), 0);
}
