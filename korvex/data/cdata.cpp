#include "korvex/data/cdata.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "korvex/korvex.h"

Daten* CData::gpDat = nullptr;
Handles* CData::gpHandles = nullptr;
bool CData::gbRegisterNewHandle = true;

namespace {

constexpr const char* kSource = "datutil";

// The display text that asString hands out, shared by every data object.
TApplString& SharedText() {
    static TApplString text;
    return text;
}

}  // namespace

void CData::ForgetDaten(const Daten* daten) {
    if (daten && gpDat != daten) return;
    gpDat = nullptr;
    gpHandles = nullptr;
}

void CData::Halt(const char* text, unsigned line) {
    ::ErrorHalt(text, kSource, line);
}

void CData::Report(std::uint8_t error, bool write) const {
    if (gpDat) gpDat->ErrorMessage(mHandle, static_cast<Daten::ErrorType>(error), write);
}

void CData::Fail(std::uint8_t error, bool write) {
    Report(error, write);
    mLastError = error;
}

void CData::Transferred(bool complete, bool write) {
    if (complete)
        mLastError = Daten::Ok;
    else
        Fail(Daten::DataOrDriverError, write);
}

void CData::HaltWrongDefinition(const char* name, unsigned line) {
    char text[Handles::kNameBufferSize + 40];
    std::snprintf(text, sizeof text, "Wrong Definition of Handle [%s]!", name ? name : "");
    Halt(text, line);
}

void CData::TakeDaten(Daten* daten) {
    if (!daten) return;
    if (gpDat && gpDat != daten) {
        // The objects stay with the first Daten; the new one is refused.
        Halt("pDat-Pointer change", __LINE__);
        return;
    }
    gpDat = daten;
    if (!gpHandles) gpHandles = daten->GetHandles();
}

CData::CData(Daten* daten, const char* name, std::uint16_t index, TDriver::ELocation location,
             ERegisterHandle mode)
    : mIndex(index), mName(name), mLocation(location) {
    TakeDaten(daten);
    // During construction this is CData's own Init; a subclass runs its own.
    // On a new object it changes nothing unless it registers or binds.
    if (mode == RegisterNew || mode == BindUnregistered) Init(mode);
}

CData::CData(const char* name, std::uint16_t index, TDriver::ELocation location,
             ERegisterHandle mode)
    : mIndex(index), mName(name), mLocation(location) {
    Init(mode);
}

CData::CData() : mName(_NULLTXT) {}

CData::CData(const CData& source)
    : mHandle(source.mHandle),
      mIndex(source.mIndex),
      mpDriver(source.mpDriver),
      mTabSize(source.mTabSize),
      mCnc(source.mCnc),
      mAxis(source.mAxis),
      mLastError(source.mLastError),
      mLocation(source.mLocation),
      mBound(source.mBound) {
    SetName(source.mName, source.mNameKeeper);
    if (source.mOwnsInfo)
        SetInfo(*source.mpInfo);
    else
        mpInfo = source.mpInfo;
}

CData::~CData() {
    SetName(nullptr, CallerKeeps);
    ReleaseInfo();
    if (Alive()) {
        // Stored through volatile: the marker is meant to outlive the object,
        // and the compiler would drop plain stores to a dying object.
        volatile char* guard = mGuard;
        guard[0] = 'k';
        guard[1] = 'o';
    } else {
        // Destroyed twice or overwritten: nothing about this object can be
        // trusted any more.
        korvex::host::Host().MessageBeep(static_cast<unsigned>(-1));
        korvex::host::Host().FatalAppExit(0, "CData");
    }
}

void CData::Init(ERegisterHandle mode) {
    mHandle = kNoHandle;
    mBound = false;
    mLastError = 0;
    mTabSize = 1;
    setTabSize(1);
    mpDriver = nullptr;
    mCnc = 0;
    if (!gpDat || !gpHandles || !mName || !gbRegisterNewHandle) return;
    bool keptByName = false;
    if (mode == RegisterNew) {
        mHandle = gpDat->RegisterNewHandle(this, mName, mIndex);
        const char* kept = mHandle == kNoHandle ? gpDat->TakeUnnumberedName() : nullptr;
        if (kept) {
            // Registered past the handle numbers: bound, and found by name.
            SetName(kept, RegistryKeeps);
            keptByName = true;
        } else if (mHandle == kNoHandle) {
            char text[Handles::kNameBufferSize + 32];
            std::snprintf(text, sizeof text, "Handle [%s] already exists", mName);
            Halt(text, __LINE__);
        } else {
            // The registry's own spelling of the bare name (without an index).
            if (const char* interned = Handles::InternedName(mHandle))
                SetName(interned, RegistryKeeps);
        }
    }
    if (mHandle == kNoHandle && mode != BindUnregistered && !keptByName) return;
    mpDriver = gpDat->Driver();
    mCnc = gpDat->Cnc();
    mBound = true;
}

void CData::Select(std::uint16_t index, std::uint8_t axis) {
    if (!mBound) return;
    if (index != kNoHandle && index < getTabSize()) mIndex = index;
    mAxis = axis;
}

std::uint16_t CData::getTabSize() const {
    return mTabSize;
}
void CData::setTabSize(std::uint16_t size) {
    mTabSize = size;
}

CData::operator bool() {
    return operator std::int32_t() != 0;
}
CData::operator char() {
    return static_cast<char>(operator std::int32_t());
}
CData::operator unsigned char() {
    return static_cast<unsigned char>(operator std::int32_t());
}
CData::operator signed char() {
    return static_cast<signed char>(operator std::int32_t());
}
CData::operator unsigned short() {
    return static_cast<unsigned short>(operator std::int32_t());
}
CData::operator short() {
    return static_cast<short>(operator std::int32_t());
}
CData::operator std::uint32_t() {
    return static_cast<std::uint32_t>(operator std::int32_t());
}

std::int32_t CData::operator[](std::uint16_t index) {
    return Long(index, kCurrentAxis);
}

std::int32_t CData::GetValue(std::uint16_t index, std::uint8_t axis) {
    Select(index, axis);
    return operator std::int32_t();
}

const char* CData::GetString(std::uint16_t index, std::uint8_t axis) {
    Select(index, axis);
    return operator const char*();
}

char* CData::GetString(char* buffer, std::uint16_t size, std::uint16_t index, std::uint8_t axis) {
    StrCopy(buffer, GetString(index, axis), size);
    return buffer;
}

const void* CData::SetBinBlock(const void* buffer, std::uint16_t, std::uint16_t, bool) {
    return buffer;
}

void* CData::GetBinBlock(void* buffer, std::uint16_t, std::uint16_t, bool) {
    return buffer;
}

bool CData::GetBit(std::uint16_t index, std::uint8_t axis) {
    if (mBound) {
        mIndex = index;
        mAxis = axis;
    }
    return operator bool();
}

void CData::SetBit(bool value, std::uint16_t index, std::uint8_t axis) {
    SetValue(value ? 1 : 0, index, axis);
}

bool CData::getBit(EBit bit, std::uint16_t index, std::uint8_t axis) {
    return ((static_cast<std::uint32_t>(Long(index, axis)) >> (bit & 31u)) & 1u) != 0;
}

void CData::setBit(bool value, EBit bit, std::uint16_t index, std::uint8_t axis) {
    std::uint32_t bits = static_cast<std::uint32_t>(Long(index, axis));
    const std::uint32_t mask = 1u << (bit & 31u);
    bits = value ? (bits | mask) : (bits & ~mask);
    SetValue(static_cast<std::int32_t>(bits), index, axis);
}

std::uint8_t CData::Value2String(std::int32_t value, char* buffer, std::uint16_t size) {
    if (buffer && size > 0) std::snprintf(buffer, size, "%d", static_cast<int>(value));
    return 0;
}

std::uint8_t CData::MetricValue2InchString(std::int32_t value, char* buffer, std::uint16_t size) {
    return Value2String(value, buffer, size);
}

std::uint8_t CData::InchValue2MetricString(std::int32_t value, char* buffer, std::uint16_t size) {
    return Value2String(value, buffer, size);
}

std::uint8_t CData::String2Value(const char*, std::int32_t&) {
    return 0;
}
std::uint8_t CData::Comm(char*, std::uint16_t, std::uint8_t) {
    return 0;
}
std::int32_t CData::Min() {
    return mpInfo->Min();
}
std::int32_t CData::Max() {
    return mpInfo->Max();
}

std::uint8_t CData::GetMetInchFormat(std::uint8_t& width, std::uint8_t& decimals, bool inch) {
    width = inch ? mpInfo->mInchWidth : mpInfo->mMetricWidth;
    decimals = inch ? mpInfo->mInchDecimals : mpInfo->mMetricDecimals;
    return 0;
}

bool CData::IsVisible(std::uint16_t index, std::uint8_t axis, std::int32_t) {
    Select(index, axis);
    return mpInfo->mVisible != 0;
}

bool CData::useFileDialog() {
    return false;
}
bool CData::DirectWrite() {
    return mpInfo->mWriteDirect != 0;
}
bool CData::InchMetr() {
    return mpInfo->mInchMetric != 0;
}
double CData::getInchMetricFactor() {
    return 2.54;
}
short CData::GetBasis() {
    return mpInfo->mBase;
}
std::uint16_t CData::GetMaxTabElemAnz() {
    return getTabSize();
}

const char* CData::GetUnitString() {
    return CheckInch() ? mpInfo->mszInchUnit : mpInfo->mszMetricUnit;
}

void CData::setMemLocation(TDriver::ELocation location) {
    mLocation = location;
}
void CData::getPAGParams(SPAGParam&, std::uint16_t, std::uint8_t) {}
bool CData::getButtonParams(SButtonParams&, std::uint16_t) {
    return false;
}
std::uint32_t CData::getButtonParamsChangedTime() {
    return 0;
}
bool CData::hasComboBoxData() {
    return false;
}

bool CData::getComboBoxEntry(std::uint16_t, TApplString& text) {
    text = "";
    return false;
}

std::uint16_t CData::getComboBoxCurrentIndex() {
    return 0;
}
void CData::setComboBoxEntry(std::uint16_t) {}
bool CData::doSortTable() {
    return false;
}
void CData::sortTable() {}
bool CData::doCheckInput() {
    return false;
}
bool CData::checkInput(TApplString&, std::uint16_t, TApplString&) {
    return false;
}
void CData::clearTable() {}
bool CData::getProtInfos(TApplString&, TApplString&, bool&, std::uint16_t&) {
    return false;
}

bool CData::getBIT(std::uint16_t n) {
    return getBit(static_cast<EBit>(n % 8), static_cast<std::uint16_t>(n / 8), kCurrentAxis);
}

void CData::setBIT(bool value, std::uint16_t n) {
    setBit(value, static_cast<EBit>(n % 8), static_cast<std::uint16_t>(n / 8), kCurrentAxis);
}

std::uint32_t CData::GetTime(std::uint16_t index) {
    unsigned char bytes[4] = {};
    GetBinBlock(bytes, sizeof bytes, index, false);
    // The controller's word reversed: hours in its last byte, then minutes
    // and seconds.
    const std::uint32_t hours = bytes[3];
    const std::uint32_t minutes = bytes[2];
    const std::uint32_t seconds = bytes[1];
    return hours * 3600 + minutes * 60 + seconds;
}

TApplString& CData::asString(std::uint16_t index) {
    char text[Daten::kTextBufferSize] = {};
    Value2String(Long(index, kCurrentAxis), text, sizeof text);
    TApplString& shared = SharedText();
    shared = text;
    return shared;
}

bool CData::CheckInch() const {
    if (!gpDat || (!gpDat->mInchFlag1 && !gpDat->mInchFlag2)) return false;
    switch (mpInfo->mInchMetric) {
        case 1:
            return gpDat->mInchFlag1 != 0;
        case 2:
            return gpDat->mInchFlag2 != 0;
        default:
            return false;
    }
}

CData& CData::assignPtr(const CData& source) {
    mBound = source.mBound;
    mLastError = source.mLastError;
    setTabSize(source.getTabSize());
    mpDriver = source.mpDriver;
    mCnc = source.mCnc;
    if (source.mOwnsInfo)
        SetInfo(*source.mpInfo);
    else
        ShareInfo(*source.mpInfo);
    if (!gpHandles && gpDat) gpHandles = gpDat->GetHandles();
    return *this;
}

CData& CData::operator=(const CData& source) {
    if (this == &source) return *this;
    assignPtr(source);
    mHandle = source.mHandle;
    const char* name =
        mHandle == kNoHandle || !gpHandles ? nullptr : gpHandles->getNamePtr(source.mName);
    SetName(name, name ? RegistryKeeps : CallerKeeps);
    return *this;
}

void CData::SetName(const char* name, NameKeeper keeper) {
    if (mNameKeeper == ObjectKeeps) delete[] mName;
    if (keeper == ObjectKeeps && name) {
        const std::size_t length = std::strlen(name);
        char* copy = new char[length + 1];
        std::memcpy(copy, name, length + 1);
        name = copy;
    }
    mName = name;
    mNameKeeper = name ? keeper : CallerKeeps;
}

DInfo& CData::EditInfo() {
    if (!mOwnsInfo) {
        mpInfo = new DInfo(*mpInfo);
        mOwnsInfo = true;
    }
    return *const_cast<DInfo*>(mpInfo);
}

void CData::SetInfo(const DInfo& record) {
    if (&record == mpInfo) return;
    EditInfo() = record;
}

void CData::ShareInfo(const DInfo& record) {
    if (&record == mpInfo) return;
    ReleaseInfo();
    mpInfo = &record;
}

void CData::ReleaseInfo() {
    if (mOwnsInfo) delete mpInfo;
    mpInfo = &korvex::data::EmptyInfo();
    mOwnsInfo = false;
}

void CData::KeepName() {
    if (mNameKeeper == CallerKeeps && mName) SetName(mName, ObjectKeeps);
}

CData& CData::replaceObject(const CData& source) {
    return ReplaceWith(*this, source);
}

void CData::TakeTableEntry() {
    if (mHandle != kNoHandle && gpDat) gpDat->SetCDataPtr(mHandle, this);
}

// ---------------------------------------------------------------- shared records

namespace korvex::data {

// The shared records are never freed: data objects built before (or
// destroyed after) any static may still point at them.
const DInfo& EmptyInfo() {
    static const DInfo* const empty = new DInfo();
    return *empty;
}

const DInfo& PlainNumberInfo(DInfo::DType type) {
    static const auto* const records = [] {
        auto* made = new const DInfo*[DInfo::QZCARD + 1]();
        for (int t = DInfo::BYTE; t <= DInfo::QZCARD; ++t) {
            if (t == DInfo::REAL) continue;
            made[t] = new DInfo(static_cast<DInfo::DType>(t), INT32_MIN, INT32_MAX, 0, 10, 0, 0, 0,
                                1.0, 1, 0, 1, 10);
        }
        return made;
    }();
    const DInfo* record = type <= DInfo::QZCARD ? records[type] : nullptr;
    return record ? *record : EmptyInfo();
}

const DInfo& PlainStringInfo(std::uint16_t length) {
    // Keyed by length: the tree's texts come in a few dozen lengths.
    static auto* const guard = new std::mutex;
    static auto* const records = new std::map<std::uint16_t, const DInfo*>;
    const std::lock_guard<std::mutex> lock(*guard);
    const DInfo*& record = (*records)[length];
    if (!record) record = new DInfo(DInfo::STRING, length, DInfo::TPara, 1, 1, 0, 0);
    return *record;
}

}  // namespace korvex::data
