#include "korvex/data/strings.h"

#include <cstring>
#include <string>

#include "korvex/korvex.h"

// ---------------------------------------------------------------- CVirtualStr

CVirtualStr::CVirtualStr(Daten* daten, const char* name, std::uint16_t index,
                         TDriver::ELocation location, ERegisterHandle mode)
    : CData(daten, name, index, location, mode) {}

CVirtualStr::CVirtualStr() = default;
CVirtualStr::~CVirtualStr() = default;

std::uint8_t CVirtualStr::Comm(char* text, std::uint16_t index, std::uint8_t axis) {
    SetString(text, index, axis);
    return mLastError;
}

CVirtualStr& CVirtualStr::assignPtr(const CVirtualStr& source) {
    return CopyInto(*this, source, &CData::assignPtr, nullptr, &CVirtualStr::TakeCharPart);
}

CVirtualStr& CVirtualStr::operator=(const CVirtualStr& source) {
    return CopyInto(*this, source, &CData::operator=, nullptr, &CVirtualStr::TakeCharPart);
}

CVirtualStr& CVirtualStr::replaceObject(const CVirtualStr& source) {
    return ReplaceWith(*this, source);
}

// ---------------------------------------------------------------- CPrivStr

CPrivStr::CPrivStr(Daten* daten, const char* name, std::uint16_t tabSize, std::uint16_t index)
    : CVirtualStr(daten, name, index, TDriver::LocationDefault, NoRegistration) {
    // An empty table of own texts has no element to take a length from.
    if (tabSize == 0) {
        HaltWrongDefinition(name, __LINE__);
        return;
    }
    ShareInfo(korvex::data::PlainStringInfo(kOwnTextLength));
    mOwnsTexts = true;
    Finish(tabSize);
}

CPrivStr::CPrivStr(Daten* daten, const char* name, char* storage, std::uint16_t length,
                   std::uint16_t tabSize, std::uint16_t index)
    : CVirtualStr(daten, name, index, TDriver::LocationDefault, NoRegistration) {
    if (!storage || length == 0 || tabSize == 0) {
        HaltWrongDefinition(name, __LINE__);
        return;
    }
    ShareInfo(korvex::data::PlainStringInfo(length));
    mpStorage = storage;
    mLentSize = tabSize;
    Finish(tabSize);
}

CPrivStr::CPrivStr() = default;

CPrivStr::CPrivStr(const CPrivStr& source) : CVirtualStr(source) {
    TakeTextPart(source);
}

CPrivStr::~CPrivStr() {
    ReleaseTexts();
}

void CPrivStr::Finish(std::uint16_t tabSize) {
    Init(RegisterNew);
    setTabSize(tabSize);
    if (!gbRegisterNewHandle) mBound = true;
    Refresh();
}

void CPrivStr::ReleaseTexts() {
    if (mOwnsTexts) delete[] mpTexts;
    mpTexts = nullptr;
    mOwnsTexts = false;
    mpCurrent = nullptr;
    mpStorage = nullptr;
    mLentSize = 0;
}

void CPrivStr::TakeTextPart(const CPrivStr& source) {
    // Own texts are duplicated like the number arrays: each object frees
    // only what it allocated.
    ReleaseTexts();
    mpStorage = source.mpStorage;
    mLentSize = source.mLentSize;
    mTabSize = source.getTabSize();
    if (source.mOwnsTexts && source.mpTexts) {
        const std::uint16_t n = mTabSize ? mTabSize : 1;
        mpTexts = new TApplString[n];
        for (std::uint16_t i = 0; i < n; ++i) mpTexts[i] = source.mpTexts[i].c_str();
        mOwnsTexts = true;
    }
    Refresh();
}

std::uint16_t CPrivStr::getTabSize() const {
    return mTabSize;
}

void CPrivStr::setTabSize(std::uint16_t size) {
    if (mLentSize != 0 && size > mLentSize) {
        // The lender's memory cannot grow: the table stays as it is.
        Fail(Daten::ValueOutOfRange);
        return;
    }
    if (mOwnsTexts && (!mpTexts || size > mTabSize)) {
        auto* grown = new TApplString[size ? size : 1];
        if (mpTexts) {
            for (std::uint16_t i = 0; i < mTabSize && i < size; ++i)
                grown[i].str().swap(mpTexts[i].str());
            delete[] mpTexts;
        }
        mpTexts = grown;
    }
    mTabSize = size;
    Refresh();
}

void CPrivStr::Refresh() {
    if (mIndex >= mTabSize) {
        mpCurrent = nullptr;
    } else if (mOwnsTexts && mpTexts) {
        mpCurrent = mpTexts[mIndex].c_str();
    } else if (mpStorage) {
        mpCurrent = mpStorage + static_cast<std::size_t>(mpInfo->mLength) * mIndex;
    }
}

// Unbound or without an element, the answer is "" rather than a null pointer.
CPrivStr::operator const char*() {
    if (mBound) {
        Refresh();
        _gDebugHandles.IncRead(mHandle);
    }
    return mpCurrent ? mpCurrent : "";
}

void CPrivStr::SetString(const char* text, std::uint16_t index, std::uint8_t axis) {
    if (!mBound) return;
    Select(index, axis);
    Refresh();
    if (!mpCurrent) return;
    if (!text) text = "";
    _gDebugHandles.IncWrite(mHandle);
    const std::size_t length = mpInfo->mLength;
    if (mOwnsTexts) {
        mpTexts[mIndex].str().assign(text, strnlen(text, length));
        mpCurrent = mpTexts[mIndex].c_str();
    } else {
        // Up to the terminator or the element's end: a text that fills the
        // element carries no terminator, as the lender's layout has none.
        char* element = mpStorage + length * mIndex;
        std::size_t i = 0;
        for (; i < length && text[i]; ++i) element[i] = text[i];
        if (i < length) element[i] = '\0';
    }
    mLastError = Daten::Ok;
}

CPrivStr::operator std::int32_t() {
    if (!mBound) return mCValue;
    Refresh();
    if (!mpCurrent) return mCValue;
    _gDebugHandles.IncRead(mHandle);
    const std::size_t available =
        mOwnsTexts ? mpTexts[mIndex].Length() : static_cast<std::size_t>(mpInfo->mLength);
    mCValue = mIndex < available ? static_cast<std::uint8_t>(mpCurrent[mIndex]) : 0;
    return mCValue;
}

void CPrivStr::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) {
    if (!mBound) return;
    Select(index, axis);
    Refresh();
    if (!mpCurrent || mIndex >= mpInfo->mLength) return;
    _gDebugHandles.IncWrite(mHandle);
    mCValue = static_cast<std::uint8_t>(value);
    if (mOwnsTexts) {
        std::string& text = mpTexts[mIndex].str();
        if (text.size() <= mIndex) text.resize(mIndex + 1u, ' ');
        text[mIndex] = static_cast<char>(mCValue);
        mpCurrent = text.c_str();
    } else {
        mpStorage[static_cast<std::size_t>(mpInfo->mLength) * mIndex + mIndex] =
            static_cast<char>(mCValue);
    }
    mLastError = Daten::Ok;
}

CPrivStr& CPrivStr::assignPtr(const CPrivStr& source) {
    return CopyInto(*this, source, &CVirtualStr::assignPtr, &CPrivStr::ReleaseTexts,
                    &CPrivStr::TakeTextPart);
}

CPrivStr& CPrivStr::operator=(const CPrivStr& source) {
    return CopyInto(*this, source, &CVirtualStr::operator=, &CPrivStr::ReleaseTexts,
                    &CPrivStr::TakeTextPart);
}

CPrivStr& CPrivStr::replaceObject(const CPrivStr& source) {
    return ReplaceWith(*this, source);
}

// ---------------------------------------------------------------- CDrvStr

CDrvStr::CDrvStr(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                 std::uint16_t tabSize, std::uint32_t stride, std::uint16_t readParam,
                 bool readFlag, std::uint16_t index, const TDriver::ELocation location)
    : CVirtualStr(daten, name, index, location, NoRegistration),
      mAddress(address),
      mStride(stride),
      mReadParam(readParam),
      mReadFlag(readFlag) {
    Build(name, length, tabSize, RegisterNew);
}

CDrvStr::CDrvStr(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                 ERegisterHandle mode)
    : CDrvStr(daten, name, address, length, 1, mode) {}

CDrvStr::CDrvStr(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                 std::uint16_t tabSize, ERegisterHandle mode)
    : CVirtualStr(daten, name, 0, TDriver::LocationDefault, NoRegistration), mAddress(address) {
    Build(name, length, tabSize, mode);
}

CDrvStr::CDrvStr(Daten* daten, TransientName name, std::uint32_t address, std::uint16_t length,
                 ERegisterHandle mode)
    : CDrvStr(daten, name.text, address, length, 1, mode) {
    KeepName();
}

CDrvStr::CDrvStr() : mReadParam(0), mReadFlag(true) {}

CDrvStr::CDrvStr(const CDrvStr& source) : CDrvStr(source, false, source.Location()) {}

CDrvStr::CDrvStr(const CDrvStr& source, bool privateCopy, const TDriver::ELocation location)
    : CVirtualStr(source) {
    TakeDrvPart(source);
    mLocation = location;
    if (!privateCopy) return;
    const std::uint16_t size = mTabSize ? mTabSize : 1;
    mMirror.Create(size, [&] { return new CPrivStr(gpDat, source.mName, size, 0); });
    // The mirror's texts are as long as the controller's, not a default length.
    mMirror->ShareInfo(korvex::data::PlainStringInfo(mpInfo->mLength));
}

void CDrvStr::Build(const char* name, std::uint16_t length, std::uint16_t tabSize,
                    ERegisterHandle mode) {
    // Refused before registering: a wrong definition takes no handle.
    if (length == 0 || tabSize == 0) {
        HaltWrongDefinition(name, __LINE__);
        return;
    }
    ShareInfo(korvex::data::PlainStringInfo(length));
    if (mStride == 0) mStride = length;
    Init(mode);
    setTabSize(tabSize);
}

CDrvStr::~CDrvStr() {
    ReleaseBuffers();
}

void CDrvStr::ReleaseBuffers() {
    delete[] mpText;
    mpText = nullptr;
    mMirror.Release();
}

void CDrvStr::TakeDrvPart(const CDrvStr& source) {
    // Text buffer, mirror and flags are duplicated: each object frees only
    // what it allocated.
    ReleaseBuffers();
    mAddress = source.mAddress;
    mReadParam = source.mReadParam;
    mReadFlag = source.mReadFlag;
    mStride = source.mStride;
    if (source.mpText) {
        const std::size_t n = source.mpInfo->mLength + 1u;
        mpText = new char[n];
        std::memcpy(mpText, source.mpText, n);
    }
    mMirror.CopyFrom(source.mMirror, source.mTabSize ? source.mTabSize : 1);
}

char* CDrvStr::Text() {
    if (!mpText && mpInfo->mType == DInfo::STRING && mpInfo->mLength > 0)
        mpText = new char[mpInfo->mLength + 1u]();
    return mpText;
}

std::uint16_t CDrvStr::getTabSize() const {
    return mTabSize;
}

void CDrvStr::setTabSize(std::uint16_t size) {
    mMirror.Grow(mTabSize, size);
    mTabSize = size;
}

const char* CDrvStr::MirrorText() {
    const char* text = mMirror ? mMirror->GetString(mIndex, mAxis) : nullptr;
    return text ? text : "";
}

CDrvStr::operator const char*() {
    if (!Text()) return "";
    const std::uint16_t length = mpInfo->mLength;
    if (MirrorHolds()) {
        StrCopy(mpText, MirrorText(), length + 1u);
        return mpText;
    }
    if (!mBound || !mpDriver) return mpText;
    _gDebugHandles.IncRead(mHandle);
    const std::uint16_t moved =
        mpDriver->ReadMemory(mCnc, ElementAddress(), length, mReadParam, mReadFlag, mpText,
                             static_cast<TDriver::ELocation>(mLocation));
    mpText[length] = '\0';
    if (moved != length) {
        Fail(Daten::DataOrDriverError);
        return mpText;
    }
    mLastError = Daten::Ok;
    if (mMirror.Covers(mIndex, mTabSize)) {
        // A private copy keeps what it read, like CDrvNumber.
        mMirror->SetString(mpText, mIndex, mAxis);
        mMirror.Mark(mIndex, mTabSize);
    }
    return mpText;
}

void CDrvStr::SetString(const char* text, std::uint16_t index, std::uint8_t axis) {
    if (!text) text = "";
    if (mMirror) {
        Select(index, axis);
        if (RefusedByMirror()) return;
        mMirror->SetString(text, mIndex, mAxis);
        mMirror.Mark(mIndex, mTabSize);
        mLastError = Daten::Ok;
        return;
    }
    if (!mBound || !mpDriver || !Text()) return;
    Select(index, axis);
    const std::uint16_t length = mpInfo->mLength;
    // The controller reads the field as a C string: the text is cut to
    // length - 1 characters so that a terminator always follows it. The whole
    // field is sent; what follows the text is zero, never an older text.
    const std::size_t n = strnlen(text, length - 1u);
    std::memcpy(mpText, text, n);
    std::memset(mpText + n, 0, length + 1u - n);
    _gDebugHandles.IncWrite(mHandle);
    const std::uint16_t moved = mpDriver->WriteMemory(mCnc, ElementAddress(), length, mpText,
                                                      static_cast<TDriver::ELocation>(mLocation));
    Transferred(moved == length, true);
}

bool CDrvStr::RefusedByMirror() {
    if (mMirror.Covers(mIndex, mTabSize)) return false;
    Fail(Daten::ValueOutOfRange);
    return true;
}

CDrvStr::operator std::int32_t() {
    // Like the controller road, the private copy reads the first character.
    if (MirrorHolds()) {
        mCValue = static_cast<std::uint8_t>(MirrorText()[0]);
        return mCValue;
    }
    if (!mBound || !mpDriver) return mCValue;
    _gDebugHandles.IncRead(mHandle);
    std::uint8_t cell = 0;
    const std::uint16_t moved =
        mpDriver->ReadMemory(mCnc, ElementAddress(), 1, mReadParam, mReadFlag, &cell,
                             static_cast<TDriver::ELocation>(mLocation));
    if (moved != 1) {
        Fail(Daten::DataOrDriverError);
        return mCValue;
    }
    mCValue = cell;
    mLastError = Daten::Ok;
    return mCValue;
}

void CDrvStr::SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) {
    if (mMirror) {
        // Like the controller road, the private copy writes the element's
        // first character; the element comes into the mirror whole first.
        Select(index, axis);
        if (RefusedByMirror()) return;
        if (!MirrorHolds()) operator const char*();
        std::string text = MirrorText();
        if (text.empty()) text.resize(1);
        text[0] = static_cast<char>(value);
        mMirror->SetString(text.c_str(), mIndex, mAxis);
        mMirror.Mark(mIndex, mTabSize);
        mCValue = static_cast<std::uint8_t>(value);
        mLastError = Daten::Ok;
        return;
    }
    if (!mBound || !mpDriver) return;
    Select(index, axis);
    mCValue = static_cast<std::uint8_t>(value);
    _gDebugHandles.IncWrite(mHandle);
    const std::uint16_t moved = mpDriver->WriteMemory(mCnc, ElementAddress(), 1, &mCValue,
                                                      static_cast<TDriver::ELocation>(mLocation));
    Transferred(moved == 1, true);
}

void* CDrvStr::GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool) {
    if (!buffer || !Text()) return buffer;
    Select(index, mAxis);
    const std::uint16_t n = size < mpInfo->mLength ? size : mpInfo->mLength;
    if (MirrorHolds()) {
        // The mirror's text, zero-padded to the block.
        const char* text = MirrorText();
        const std::size_t used = strnlen(text, n);
        std::memcpy(buffer, text, used);
        std::memset(static_cast<char*>(buffer) + used, 0, n - used);
        mLastError = Daten::Ok;
        return buffer;
    }
    if (!mBound || !mpDriver) return buffer;
    _gDebugHandles.IncRead(mHandle);
    const std::uint16_t moved =
        mpDriver->ReadMemory(mCnc, ElementAddress(), n, mReadParam, mReadFlag, mpText,
                             static_cast<TDriver::ELocation>(mLocation));
    mpText[mpInfo->mLength] = '\0';
    if (moved != n) {
        Fail(Daten::DataOrDriverError);
        return buffer;
    }
    std::memcpy(buffer, mpText, n);
    mLastError = Daten::Ok;
    return buffer;
}

const void* CDrvStr::SetBinBlock(const void* buffer, std::uint16_t size, std::uint16_t index,
                                 bool) {
    if (!buffer || !Text()) return buffer;
    Select(index, mAxis);
    const std::uint16_t n = size < mpInfo->mLength ? size : mpInfo->mLength;
    if (mMirror) {
        // Nothing reaches the controller from a private copy: the mirror
        // takes the block as the element's text.
        if (RefusedByMirror()) return buffer;
        const char* bytes = static_cast<const char*>(buffer);
        const std::string text(bytes, strnlen(bytes, n));
        mMirror->SetString(text.c_str(), mIndex, mAxis);
        mMirror.Mark(mIndex, mTabSize);
        mLastError = Daten::Ok;
        return buffer;
    }
    if (!mBound || !mpDriver) return buffer;
    _gDebugHandles.IncWrite(mHandle);
    const std::uint16_t moved = mpDriver->WriteMemory(mCnc, ElementAddress(), n, buffer,
                                                      static_cast<TDriver::ELocation>(mLocation));
    if (moved != n) {
        Fail(Daten::DataOrDriverError, true);
        return buffer;
    }
    std::memcpy(mpText, buffer, n);
    mLastError = Daten::Ok;
    return buffer;
}

CDrvStr& CDrvStr::assignPtr(const CDrvStr& source) {
    return CopyInto(*this, source, &CVirtualStr::assignPtr, &CDrvStr::ReleaseBuffers,
                    &CDrvStr::TakeDrvPart);
}

CDrvStr& CDrvStr::operator=(const CDrvStr& source) {
    return CopyInto(*this, source, &CVirtualStr::operator=, &CDrvStr::ReleaseBuffers,
                    &CDrvStr::TakeDrvPart);
}

CDrvStr& CDrvStr::replaceObject(const CDrvStr& source) {
    return ReplaceWith(*this, source);
}
