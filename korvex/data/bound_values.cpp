#include "korvex/data/bound_values.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "korvex/coding.h"
#include "korvex/korvex.h"

namespace {

// A text member created for a text starts with the room of a host string.
constexpr std::size_t kTextRoom = 256;

void HaltWith(const char* text, const char* source, unsigned line) {
    ::ErrorHalt(text, source, line);
}

}  // namespace

// ---------------------------------------------------------------- TQZ_HandleValue

TQZ_HandleValue::TQZ_HandleValue(Daten* daten, Handles* handles, const char* name,
                                 std::uint16_t index)
    : CData(daten, name, index, TDriver::LocationDefault, BindUnregistered) {
    if (handles && gpHandles && gpHandles != handles) {
        // The objects stay with the first handle table.
        Halt("pHandles change", __LINE__);
    } else if (handles && !gpHandles) {
        gpHandles = handles;
    }
    Init(BindUnregistered);
}

TQZ_HandleValue::TQZ_HandleValue(const char* name, std::uint16_t index)
    : CData(name, index, TDriver::LocationDefault, BindUnregistered) {
    Init(BindUnregistered);
}

TQZ_HandleValue::TQZ_HandleValue() = default;

TQZ_HandleValue::TQZ_HandleValue(const TQZ_HandleValue& source)
    : CData(source), mValue(source.mValue) {
    if (source.mpText) mpText = new TApplString(*source.mpText);
}

void TQZ_HandleValue::CheckMarker(char guard[4], const char* caption) {
    if (guard[0] == 'O' && guard[1] == 'K' && guard[2] == 0) {
        guard[0] = 'k';
        guard[1] = 'o';
        return;
    }
    korvex::host::Host().MessageBeep(static_cast<unsigned>(-1));
    korvex::host::Host().FatalAppExit(0, caption);
}

TQZ_HandleValue::~TQZ_HandleValue() {
    CheckMarker(mGuardHV, "TQZ_HandleValue");
    delete mpText;
    mpText = nullptr;
}

void TQZ_HandleValue::Init(ERegisterHandle mode) {
    CData::Init(mode);
    mHandle = kNoHandle;
    mBound = false;
    mLastError = 0;
    mValue = 0;
    delete mpText;
    mpText = nullptr;
    if (!gpDat || !gpHandles || !mName || !*mName) return;
    const std::uint16_t handle = std::strchr(mName, ' ') ? gpHandles->NameToHandle(mName, mIndex)
                                                         : gpHandles->NameToHandle(mName);
    if (handle == kNoHandle) {
        char text[Handles::kNameBufferSize + 32];
        std::snprintf(text, sizeof text, "Handle [%s] not found", mName);
        Halt(text, __LINE__);
        return;
    }
    mHandle = handle;
    mBound = true;
}

char* TQZ_HandleValue::TextRoom(std::size_t size) {
    if (!mpText) mpText = new TApplString;
    std::string& text = mpText->str();
    if (text.size() < size + 1) text.resize(size + 1 > kTextRoom ? size + 1 : kTextRoom, '\0');
    return text.data();
}

void TQZ_HandleValue::KeepText(const void* block, std::size_t size) {
    char* room = TextRoom(size);
    if (block && size) std::memcpy(room, block, size);
    room[size] = '\0';
}

void TQZ_HandleValue::KeepText(const char* text) {
    if (!text) text = "";
    KeepText(text, std::strlen(text));
}

TQZ_HandleValue::operator std::int32_t() {
    if (!mBound || !gpDat) return mValue;
    std::int32_t value = 0;
    mLastError = gpDat->GetValue(mHandle, value, mIndex, mAxis);
    if (mLastError == Daten::Ok) mValue = value;
    return mValue;
}

TQZ_HandleValue::operator const char*() {
    if (!mBound || !gpDat) return mpText ? mpText->c_str() : "";
    // Room for the whole field, whatever its definition's length.
    const std::size_t room = gpDat->DatenLaenge(mHandle);
    char* text = TextRoom(room);
    const std::size_t capacity = mpText->str().size() - 1;
    mLastError = gpDat->GetValue(mHandle, text,
                                 static_cast<std::uint16_t>(capacity > 0xFFFF ? 0xFFFF : capacity),
                                 mIndex, kCurrentAxis);
    return text;
}

std::int32_t TQZ_HandleValue::operator[](std::uint16_t index) {
    return Long(index, kCurrentAxis);
}

std::int32_t TQZ_HandleValue::GetValue(std::uint16_t index, std::uint8_t axis) {
    if (mBound) {
        if (index != kNoHandle) mIndex = index;
        mAxis = axis;
    }
    return operator std::int32_t();
}

const char* TQZ_HandleValue::GetString(std::uint16_t index, std::uint8_t axis) {
    if (mBound) {
        if (index != kNoHandle) mIndex = index;
        mAxis = axis;
    }
    return operator const char*();
}

char* TQZ_HandleValue::GetString(char* buffer, std::uint16_t size, std::uint16_t index,
                                 std::uint8_t axis) {
    StrCopy(buffer, GetString(index, axis), size);
    return buffer;
}

void TQZ_HandleValue::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t) {
    if (!mBound || !gpDat) return;
    // Written with the object's own axis: the caller's axis is not taken.
    if (index != kNoHandle) mIndex = index;
    mLastError = gpDat->SetValue(mHandle, value, mIndex, mAxis, 0, 0);
    if (mLastError == Daten::Ok) mValue = value;
}

void TQZ_HandleValue::SetString(const char* text, std::uint16_t, std::uint8_t) {
    KeepText(text);
    if (!mBound || !gpDat) return;
    // Written at the object's own element and axis, as selected by the last read.
    mLastError = gpDat->SetValue(mHandle, mpText->c_str(), mIndex, mAxis);
}

void* TQZ_HandleValue::GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index,
                                   bool swapped) {
    if (!mBound || !gpDat || !buffer) return buffer;
    if (index != kNoHandle) mIndex = index;
    // With swapped the Daten takes count and index exchanged (fields of 256
    // bytes and more).
    mLastError = swapped ? gpDat->GetValue(mHandle, static_cast<const void*>(buffer), mIndex, size,
                                           kCurrentAxis)
                         : gpDat->GetValue(mHandle, static_cast<const void*>(buffer), size, mIndex,
                                           kCurrentAxis);
    KeepText(buffer, size);
    return buffer;
}

const void* TQZ_HandleValue::SetBinBlock(const void* buffer, std::uint16_t size,
                                         std::uint16_t index, bool swapped) {
    if (!buffer) return buffer;
    KeepText(buffer, size);
    if (!mBound || !gpDat) return buffer;
    if (index != kNoHandle) mIndex = index;
    const void* copy = mpText->c_str();
    mLastError = swapped ? gpDat->SetValue(mHandle, copy, mIndex, size, kCurrentAxis)
                         : gpDat->SetValue(mHandle, copy, size, mIndex, kCurrentAxis);
    return buffer;
}

TApplString& TQZ_HandleValue::asString(std::uint16_t index) {
    const std::int32_t value = Long(index, kCurrentAxis);
    char* text = TextRoom(Daten::kTextBufferSize);
    const std::size_t capacity = mpText->str().size();
    if (gpDat && mHandle != kNoHandle)
        gpDat->Value2String(mHandle, value, text, static_cast<std::uint16_t>(capacity));
    else
        std::snprintf(text, capacity, "%d", static_cast<int>(value));
    // The host string holds the text alone.
    mpText->str().resize(std::strlen(text));
    return *mpText;
}

TQZ_HandleValue& TQZ_HandleValue::assignPtr(const TQZ_HandleValue& source) {
    if (this == &source) return *this;
    CData::assignPtr(source);
    mValue = source.mValue;
    return *this;
}

TQZ_HandleValue& TQZ_HandleValue::operator=(const TQZ_HandleValue& source) {
    if (this == &source) return *this;
    CData::operator=(source);
    mValue = source.mValue;
    // The text is duplicated: each object deletes only its own.
    delete mpText;
    mpText = source.mpText ? new TApplString(*source.mpText) : nullptr;
    return *this;
}

TQZ_HandleValue& TQZ_HandleValue::replaceObject(const TQZ_HandleValue& source) {
    *this = source;
    if (mHandle != kNoHandle && gpDat) gpDat->SetCDataPtr(mHandle, this);
    return *this;
}

// ---------------------------------------------------------------- TQZ_OffsetValue

TQZ_OffsetValue::TQZ_OffsetValue(Daten* daten, std::uint32_t offset, std::uint32_t stride,
                                 std::uint8_t size)
    : mOffset(offset), mStride(stride), mSize(size) {
    if (daten && gpDat && gpDat != daten) {
        Halt("Data-Pointer change", __LINE__);
    } else if (daten && !gpDat) {
        gpDat = daten;
        if (!gpHandles) gpHandles = daten->GetHandles();
    }
    Init(BindUnregistered);
}

TQZ_OffsetValue::~TQZ_OffsetValue() {
    CheckMarker(mGuardOV, "TQZ_OffsetValue");
}

void TQZ_OffsetValue::Init(ERegisterHandle mode) {
    CData::Init(mode);
    mHandle = kNoHandle;
    mLastError = 0;
    mValue = 0;
    mWordCell = 0;
    mByteCell = 0;
    mRealCell = 0.0;
    delete mpText;
    mpText = nullptr;
    mBound = false;
    if (!gpDat) {
        Halt("CData::gpDat == NULL", __LINE__);
        return;
    }
    mBound = true;
}

void TQZ_OffsetValue::Take(std::uint16_t index, std::uint8_t axis) {
    if (index != kNoHandle) mIndex = index;
    mAxis = axis;
}

TQZ_OffsetValue::operator std::int32_t() {
    if (!mBound || !gpDat) return mValue;
    // The offset area keeps its values little endian.
    unsigned char bytes[8] = {};
    if (mSize != 1 && mSize != 2 && mSize != 4 && mSize != 8) return mValue;
    mLastError = gpDat->GetOfsValue(bytes, ElementOffset(), mSize);
    if (mLastError != Daten::Ok) return mValue;
    switch (mSize) {
        case 1:
            mByteCell = bytes[0];
            mValue = mByteCell;
            break;
        case 2:
            mWordCell = korvex::DecodeFixed16(bytes);
            mValue = mWordCell;
            break;
        case 4:
            mValue = static_cast<std::int32_t>(korvex::DecodeFixed32(bytes));
            break;
        default: {
            mRealCell = korvex::DecodeDouble(bytes);
            // Truncated toward zero; what no 32-bit value can hold stops at its limits.
            const double whole = std::trunc(mRealCell);
            if (std::isnan(whole))
                mValue = 0;
            else if (whole >= 2147483647.0)
                mValue = INT32_MAX;
            else if (whole <= -2147483648.0)
                mValue = INT32_MIN;
            else
                mValue = static_cast<std::int32_t>(whole);
        }
    }
    return mValue;
}

void TQZ_OffsetValue::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) {
    if (!mBound || !gpDat) return;
    Take(index, axis);
    unsigned char bytes[8] = {};
    switch (mSize) {
        case 1:
            bytes[0] = static_cast<unsigned char>(value);
            break;
        case 2:
            korvex::EncodeFixed16(bytes, static_cast<std::uint16_t>(value));
            break;
        case 4:
            korvex::EncodeFixed32(bytes, static_cast<std::uint32_t>(value));
            break;
        case 8:
            korvex::EncodeDouble(bytes, static_cast<double>(value));
            break;
        default:
            return;
    }
    mLastError = gpDat->SetOfsValue(bytes, ElementOffset(), mSize);
    if (mLastError != Daten::Ok) return;
    mValue = value;
    mByteCell = bytes[0];
    mWordCell = korvex::DecodeFixed16(bytes);
    mRealCell = static_cast<double>(value);
}

TQZ_OffsetValue::operator const char*() {
    // Room for the element and a terminator: the element brings none.
    char* text = TextRoom(mSize);
    if (!mBound || !gpDat) return text;
    mLastError = gpDat->GetOfsValue(text, ElementOffset(), mSize);
    text[mSize] = '\0';
    return text;
}

void TQZ_OffsetValue::SetString(const char* text, std::uint16_t index, std::uint8_t axis) {
    KeepText(text);
    // Zero after the text up to the element's size: never stale bytes.
    char* room = TextRoom(mSize);
    const std::size_t used = std::strlen(room);
    if (used < mSize) std::memset(room + used, 0, mSize - used);
    if (!mBound || !gpDat) return;
    Take(index, axis);
    mLastError = gpDat->SetOfsValue(room, ElementOffset(), mSize);
}

void* TQZ_OffsetValue::GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool) {
    if (!mBound || !gpDat || !buffer) return buffer;
    if (index != kNoHandle) mIndex = index;
    mLastError = gpDat->GetOfsValue(buffer, ElementOffset(), size);
    KeepText(buffer, size);
    return buffer;
}

const void* TQZ_OffsetValue::SetBinBlock(const void* buffer, std::uint16_t size,
                                         std::uint16_t index, bool) {
    if (!buffer) return buffer;
    KeepText(buffer, size);
    if (!mBound || !gpDat) return buffer;
    if (index != kNoHandle) mIndex = index;
    mLastError = gpDat->SetOfsValue(mpText->c_str(), ElementOffset(), size);
    return buffer;
}

std::uint8_t TQZ_OffsetValue::GetByte(std::uint16_t n) {
    if (!mBound || !gpDat) return mByteCell;
    std::uint8_t byte = 0;
    mLastError = gpDat->GetOfsValue(&byte, mOffset + n, 1);
    if (mLastError == Daten::Ok) mByteCell = byte;
    return mByteCell;
}

void TQZ_OffsetValue::SetByte(std::uint8_t value, std::uint16_t n) {
    if (!mBound || !gpDat) return;
    mLastError = gpDat->SetOfsValue(&value, mOffset + n, 1);
    if (mLastError == Daten::Ok) mByteCell = value;
}

bool TQZ_OffsetValue::GetBit(std::uint16_t bit, std::uint8_t) {
    const std::uint8_t byte = GetByte(static_cast<std::uint16_t>(bit / 8));
    if (mLastError != Daten::Ok || !mBound) return false;
    mByteCell = static_cast<std::uint8_t>((byte >> (bit % 8)) & 1u);
    return mByteCell != 0;
}

void TQZ_OffsetValue::SetBit(bool value, std::uint16_t bit, std::uint8_t) {
    std::uint8_t byte = GetByte(static_cast<std::uint16_t>(bit / 8));
    if (mLastError != Daten::Ok || !mBound) return;
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit % 8));
    byte = value ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
    SetByte(byte, static_cast<std::uint16_t>(bit / 8));
}

// ---------------------------------------------------------------- CPointedTo

CPointedToBase::CPointedToBase(Daten* daten, const char* name, std::uint32_t address,
                               std::uint32_t pointeeAddress, ERegisterHandle mode)
    : CDrvNumber(daten, name, address, 4, DInfo::LONGINT, 1, mode),
      mPointeeAddress(pointeeAddress) {}

CPointedToBase::~CPointedToBase() = default;

void CPointedToBase::Readdress(std::uint32_t address, const char* message, unsigned line) {
    if (!HasPointee()) {
        HaltWith(message, "KORVEX", line);
        return;
    }
    MovePointee(static_cast<std::int32_t>(address));
    mPointeeAddress = address;
}

std::uint32_t CPointedToBase::MemoryBase() const {
    return mpDriver ? mpDriver->GetMemoryBase(mCnc) : 0;
}

CPointedToBase::operator std::int32_t() {
    if (mFrozen && mPointeeAddress != 0) return static_cast<std::int32_t>(mPointeeAddress);
    const std::int32_t pointer = CDrvNumber::operator std::int32_t();
    // A failed read leaves the pointee where it is.
    if (mLastError != Daten::Ok) return static_cast<std::int32_t>(mPointeeAddress);
    // A base of 0 is an ordinary base: the controller's memory may start there.
    const std::uint32_t address =
        pointer != 0 ? static_cast<std::uint32_t>(pointer) - MemoryBase() + kSwapLimit : 0;
    if (address != mPointeeAddress)
        Readdress(address, "CPointedTo::operator i32 () : mpPointedTo == NULL !", __LINE__);
    return static_cast<std::int32_t>(address);
}

void CPointedToBase::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) {
    const std::uint32_t address = static_cast<std::uint32_t>(value);
    if (address != mPointeeAddress)
        Readdress(address, "CPointedTo::SetValue : mpPointedTo == NULL !", __LINE__);
    if (mFrozen) return;
    // The controller keeps its own addresses: the library address goes back
    // through the translation a read applies, so a read returns it again.
    const std::int32_t pointer =
        value != 0 ? static_cast<std::int32_t>(address - kSwapLimit + MemoryBase()) : 0;
    CDrvNumber::SetValue(pointer, index, axis);
}

CPointedToBase& CPointedToBase::assignPtr(const CPointedToBase& source) {
    if (this == &source) return *this;
    CDrvNumber::assignPtr(source);
    mFrozen = source.mFrozen;
    mPointeeAddress = source.mPointeeAddress;
    return *this;
}

CPointedToBase& CPointedToBase::operator=(const CPointedToBase& source) {
    if (this == &source) return *this;
    CDrvNumber::operator=(source);
    mFrozen = source.mFrozen;
    mPointeeAddress = source.mPointeeAddress;
    return *this;
}

CPointedToBase& CPointedToBase::replaceObject(const CPointedToBase& source) {
    *this = source;
    if (mHandle != kNoHandle && gpDat) gpDat->SetCDataPtr(mHandle, this);
    return *this;
}
