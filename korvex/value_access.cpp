// Value access by handle: registered handles go to their data objects,
// defined handles to the controller through the driver.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <typeinfo>

#include "korvex/data/cdata.h"
#include "korvex/daten_internal.h"
#include "korvex/korvex.h"

using korvex::internal::RecordOrReport;
using korvex::internal::RegisteredOrReport;
using korvex::internal::Report;

namespace {

// Values travel little endian between the library and the driver: an
// integer's low-order bytes come first.
std::int32_t DecodeLong(const unsigned char* bytes) {
    return static_cast<std::int32_t>(std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
                                     (std::uint32_t{bytes[2]} << 16) |
                                     (std::uint32_t{bytes[3]} << 24));
}

void EncodeLong(std::int32_t value, unsigned char* bytes) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

double DecodeDouble(const unsigned char* bytes) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= std::uint64_t{bytes[i]} << (8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void EncodeDouble(double value, unsigned char* bytes) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// A REAL from the controller that is infinite, not a number, or too near
// the ends of the double range to be a value the controller wrote.
bool ValidReal(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (bits == 0) return true;
    const std::uint32_t exponent = static_cast<std::uint32_t>(bits >> 52) & 0x7FF;
    const std::uint32_t low = static_cast<std::uint32_t>(bits);
    if (exponent == 0x7FF) return false;
    if (exponent == 0x7FE && low > 0xD7B9609Au) return false;
    if (exponent == 0x001 && low < 0x1111E1E5u) return false;
    return true;
}

// Integer fields are at most 4 bytes; a wider numeric field (type 14) is
// moved whole through an 8-byte scratch and its low four bytes are the value.
constexpr std::uint16_t kScratch = 8;

// Every defined type but NONE, REAL, STRING and BITMASK: read and written as
// a long straight through the driver.
constexpr std::uint32_t kPlainNumbers =
    ~((1u << DInfo::NONE) | (1u << DInfo::REAL) | (1u << DInfo::STRING) | (1u << DInfo::BITMASK)) &
    0x7FFFu;

inline bool IsPlainNumber(DInfo::DType type) {
    return type < 16 && ((kPlainNumbers >> type) & 1u) != 0;
}

std::uint8_t NumericCount(const DInfo& record) {
    return static_cast<std::uint8_t>(record.mLength < kScratch ? record.mLength : kScratch);
}

std::int32_t Widen(std::int32_t value, DInfo::DType type) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    switch (type) {
        case DInfo::SHORTINT:
            return (bits & 0x80u) ? static_cast<std::int32_t>(bits | 0xFFFFFF00u) : value;
        case DInfo::INTEGER:
        case DInfo::QZSHORTREAL:
            return (bits & 0x8000u) ? static_cast<std::int32_t>(bits | 0xFFFF0000u) : value;
        default:
            return value;
    }
}

bool IsInteger(double value) {
    return std::trunc(value) == value;
}

// The integer part of a double in 32 bits, wrapping as a 32-bit value does.
std::int32_t WrapToLong(double value) {
    if (!std::isfinite(value)) return INT32_MIN;
    double wrapped = std::fmod(std::trunc(value), 4294967296.0);
    if (wrapped < 0) wrapped += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wrapped));
}

// The axis a plain read or write passes, found without a call where it can
// be: global data of the host interface's own class answers its member, as
// its GetAktAchse does. A class of the host's own must be asked through its
// override, which the full road does (false).
inline bool PlainAxis(const TApplFrame* frame, std::uint8_t& axis) {
    if (axis != 255) return true;
    const TGlobalData* global = frame ? frame->GetGlobalData() : nullptr;
    if (!global) {
        axis = 0;
        return true;
    }
    if (&typeid(*global) != &typeid(TGlobalData)) return false;
    axis = global->mAxis;
    return true;
}

}  // namespace

std::uint8_t Daten::Axis(std::uint8_t axis) {
    if (axis != 255) return axis;
    TGlobalData* global = mFrame ? mFrame->GetGlobalData() : nullptr;
    return global ? global->GetAktAchse() : 0;
}

DInfo* Daten::ExistHandleAndGetInfo(std::uint16_t handle) {
    if (handle >= kFirstRegisteredHandle) {
        CData* object = GetCDataPtr(handle);
        return object ? &object->Info() : nullptr;
    }
    return ExistHandle(handle);
}

const DInfo* Daten::FindRecord(std::uint16_t handle) {
    if (handle >= kFirstRegisteredHandle) {
        const CData* object = GetCDataPtr(handle);
        return object ? &object->Info() : nullptr;
    }
    return ExistHandle(handle);
}

bool Daten::SetCDataPtr(std::uint16_t handle, CData* object) {
    if (handle < kFirstRegisteredHandle) return false;
    const std::size_t position = handle - kFirstRegisteredHandle;
    if (position >= mRegistered.size()) return false;
    mRegistered[position] = object;
    return true;
}

std::int32_t Daten::MinusCheck(std::int32_t value, std::uint16_t handle) {
    return Widen(value, static_cast<DInfo::DType>(DatenTyp(handle)));
}

// ---------------------------------------------------------------- reading

std::uint8_t Daten::GetValue(std::uint16_t handle, std::int32_t& value, std::uint16_t index,
                             std::uint8_t axis) {
    // The plain road first: the bridge and the console read every watched
    // value each pass, nearly all of them numbers below 15000.
    const DInfo* record = handle < kFirstRegisteredHandle && handle < mDefinitions.size()
                              ? mDefinitions[handle]
                              : nullptr;
    std::uint8_t resolved = axis;
    if (!record || !IsPlainNumber(record->mType) || !mDriver || !PlainAxis(mFrame, resolved))
        [[unlikely]]
        return GetLongOtherRoads(handle, value, index, axis);
    unsigned char bytes[kScratch] = {};
    if (mDriver->ReadByHandle(mCnc, resolved, handle, index, NumericCount(*record), bytes, 0, 1) !=
        0) [[unlikely]] {
        value = DecodeLong(bytes);
        return Report(*this, handle, DataOrDriverError);
    }
    value = Widen(DecodeLong(bytes), record->mType);
    return Ok;
}

[[gnu::noinline]] std::uint8_t Daten::GetLongOtherRoads(std::uint16_t handle, std::int32_t& value,
                                                        std::uint16_t index, std::uint8_t axis) {
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        value = object->GetValue(index, axis);
        return object->LastError();
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    if (record->mType == DInfo::STRING || record->mType == DInfo::REAL)
        return Report(*this, handle, WrongType);
    if (record->mType == DInfo::BITMASK) return HandleBitMask(handle, index, value, axis, 0);
    unsigned char bytes[kScratch] = {};
    const bool failed = !mDriver || mDriver->ReadByHandle(mCnc, Axis(axis), handle, index,
                                                          NumericCount(*record), bytes, 0, 1) != 0;
    value = DecodeLong(bytes);
    if (failed) return Report(*this, handle, DataOrDriverError);
    value = Widen(value, record->mType);
    return Ok;
}

std::uint8_t Daten::GetValue(std::uint16_t handle, double& value, std::uint16_t index,
                             std::uint8_t axis) {
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        // A data object is always asked for the current axis here.
        value = static_cast<double>(object->GetValue(index, 255));
        return object->LastError();
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    if (record->mType == DInfo::STRING) return Report(*this, handle, WrongType);
    if (record->mType == DInfo::BITMASK) {
        std::int32_t bit = 0;
        const std::uint8_t result = HandleBitMask(handle, index, bit, axis, 0);
        value = static_cast<double>(bit);
        return result;
    }
    unsigned char bytes[kScratch] = {};
    const bool failed = !mDriver || mDriver->ReadByHandle(mCnc, Axis(axis), handle, index,
                                                          NumericCount(*record), bytes, 0, 1) != 0;
    if (record->mType == DInfo::REAL) {
        value = DecodeDouble(bytes);
    } else {
        value = static_cast<double>(failed ? DecodeLong(bytes)
                                           : Widen(DecodeLong(bytes), record->mType));
    }
    if (failed) return Report(*this, handle, DataOrDriverError);
    if (record->mType == DInfo::REAL && !ValidReal(value)) value = kInvalidReal;
    return Ok;
}

std::uint8_t Daten::GetValue(std::uint16_t handle, char* text, std::uint16_t size,
                             std::uint16_t index, std::uint8_t axis) {
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        object->GetString(text, size, index, 255);
        return object->LastError();
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    if (record->mType != DInfo::STRING) return Report(*this, handle, WrongType);
    // A text transfer counts its bytes in 8 bits: longer fields are read as
    // blocks, a text read stops at 255 bytes.
    std::uint16_t n = record->mLength < size ? record->mLength : size;
    if (n > 255) n = 255;
    const bool failed = !text || !mDriver ||
                        mDriver->ReadByHandle(mCnc, Axis(axis), handle, index,
                                              static_cast<std::uint8_t>(n), text, 0, 0) != 0;
    // Always terminated (the caller's buffer holds size + 1 bytes), also
    // when the field fills all n bytes.
    if (text) text[n] = '\0';
    if (failed) return Report(*this, handle, DataOrDriverError);
    return Ok;
}

std::uint8_t Daten::GetValue(std::uint16_t handle, const void* block, std::uint16_t size,
                             std::uint16_t index, std::uint8_t axis) {
    void* destination = const_cast<void*>(block);
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        object->GetBinBlock(destination, size, index, false);
        return object->LastError();
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    if (record->mType != DInfo::STRING) return Report(*this, handle, WrongType);
    if (size > record->mLength || !destination || !mDriver)
        return Report(*this, handle, DataOrDriverError);
    const std::uint8_t result =
        record->mLength < 256
            ? mDriver->ReadByHandle(mCnc, Axis(axis), handle, index,
                                    static_cast<std::uint8_t>(size), destination, 0, 1)
            : mDriver->ReadByHandle(mCnc, Axis(axis), handle, size,
                                    static_cast<std::uint8_t>(index), destination, 0, 0);
    if (result != 0) return Report(*this, handle, DataOrDriverError);
    return Ok;
}

std::uint8_t Daten::GetOfsValue(const void* buffer, std::uint32_t offset, std::uint16_t size) {
    const std::uint16_t moved =
        mDriver ? mDriver->ReadOffset(mCnc, offset, size, const_cast<void*>(buffer)) : 0;
    if (!mDriver || moved != size) {
        ErrorMessage(Handles::kNoHandle, DataOrDriverError);
        return DataOrDriverError;
    }
    return Ok;
}

std::uint8_t Daten::SetOfsValue(const void* buffer, std::uint32_t offset, std::uint16_t size) {
    const std::uint16_t moved = mDriver ? mDriver->WriteOffset(mCnc, offset, size, buffer) : 0;
    if (!mDriver || moved != size) {
        ErrorMessage(Handles::kNoHandle, DataOrDriverError);
        return DataOrDriverError;
    }
    return Ok;
}

// ---------------------------------------------------------------- bits

std::uint8_t Daten::HandleBitMask(std::uint16_t handle, std::uint16_t bit, std::int32_t& value,
                                  std::uint8_t axis, char write) {
    if (handle == 2012 && bit >= 70) {
        // Bits 70 and up of the feature mask do not exist in the controller.
        value = 0;
        return Ok;
    }
    const DInfo* record = FindRecord(handle);
    if (!record) return Report(*this, handle, HandleNotFound);
    const std::uint16_t length = record->mLength;
    // A mask without bytes has no bit to reach.
    if (length == 0 || !mDriver) return Report(*this, handle, DataOrDriverError);
    if (record->mRevertBitmask) bit = static_cast<std::uint16_t>(length * 8 - bit - 1);
    std::uint16_t byte = static_cast<std::uint8_t>(bit / 8);
    if (byte >= length) byte = static_cast<std::uint16_t>(byte % length);
    if (record->mSwapBitmask) byte = static_cast<std::uint16_t>(length - byte - 1);
    const std::uint8_t resolvedAxis = Axis(axis);
    unsigned char bits = 0;
    if (mDriver->ReadByHandle(mCnc, resolvedAxis, handle, byte, 1, &bits, 0, 1) != 0)
        return Report(*this, handle, DataOrDriverError);
    const unsigned shift = bit % 8;
    if (!write) {
        value = (bits >> shift) & 1;
        return Ok;
    }
    if (value)
        bits = static_cast<unsigned char>(bits | (1u << shift));
    else
        bits = static_cast<unsigned char>(bits & ~(1u << shift));
    if (mDriver->WriteByHandle(mCnc, resolvedAxis, handle, byte, 1, &bits, 0, 1) != 0)
        return Report(*this, handle, DataOrDriverError);
    return Ok;
}

// ---------------------------------------------------------------- writing

std::uint8_t Daten::SetValue(std::uint16_t handle, std::int32_t value, std::uint16_t index,
                             std::uint8_t axis, char direct, char onlyIfChanged) {
    // The plain road first, as for reading: a numeric handle written directly
    // (no value or flag command in between), within its limits, without a
    // read before. Every other case takes the full road, which also makes
    // all of this road's checks, in their order.
    const DInfo* record = handle < kFirstRegisteredHandle && handle < mDefinitions.size()
                              ? mDefinitions[handle]
                              : nullptr;
    // Most records are plain parameters, so their not-direct type settles
    // the command question in one compare.
    std::uint8_t resolved = axis;
    if (onlyIfChanged || !record || !IsPlainNumber(record->mType) || !mDriver ||
        (record->mNotDirect != DInfo::TPara && !record->mWriteDirect && !direct &&
         !mDirectWriteMode) ||
        value < record->Min() || value > record->Max() || !PlainAxis(mFrame, resolved)) [[unlikely]]
        return SetLongOtherRoads(handle, value, index, axis, direct, onlyIfChanged);
    unsigned char bytes[kScratch] = {};
    EncodeLong(value, bytes);
    if (mDriver->WriteByHandle(mCnc, resolved, handle, index, NumericCount(*record), bytes, 0, 1) !=
        0) [[unlikely]] {
        ErrorMessage(handle, DataOrDriverError, true);
        return DataOrDriverError;
    }
    return Ok;
}

[[gnu::noinline]] std::uint8_t Daten::SetLongOtherRoads(std::uint16_t handle, std::int32_t value,
                                                        std::uint16_t index, std::uint8_t axis,
                                                        char direct, char onlyIfChanged) {
    if (onlyIfChanged) {
        std::int32_t current = 0;
        if (GetValue(handle, current, index, axis) == Ok && current == value) return Ok;
    }
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        object->SetValue(value, index, axis);
        return object->LastError();
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    if (record->mType == DInfo::STRING || record->mType == DInfo::REAL)
        return Report(*this, handle, WrongType);
    if (!mDirectWriteMode && !direct && !record->mWriteDirect) {
        if (record->mNotDirect == DInfo::CommValue) {
            char text[kTextBufferSize] = {};
            if (Value2String(handle, value, text, sizeof text) != Ok)
                return Report(*this, handle, DataOrDriverError);
            return Comm(text, handle, index, axis);
        }
        if (record->mNotDirect == DInfo::CommFlag)
            return HandleCommFlag(handle, value, index, axis);
    }
    if (record->mType == DInfo::BITMASK) {
        if (record->mWriteDirect) return HandleBitMask(handle, index, value, axis, 1);
        return Report(*this, handle, DirectAccessNotAllowed);
    }
    if (value < record->Min() || value > record->Max())
        return Report(*this, handle, ValueOutOfRange);
    unsigned char bytes[kScratch] = {};
    EncodeLong(value, bytes);
    if (!mDriver || mDriver->WriteByHandle(mCnc, Axis(axis), handle, index, NumericCount(*record),
                                           bytes, 0, 1) != 0) {
        ErrorMessage(handle, DataOrDriverError, true);
        return DataOrDriverError;
    }
    return Ok;
}

std::uint8_t Daten::SetValue(std::uint16_t handle, double value, std::uint16_t index,
                             std::uint8_t axis, char direct) {
    // No data-object road: registered handles have no record here.
    const DInfo* record = ExistHandle(handle);
    if (!record || handle >= kFirstRegisteredHandle) return Report(*this, handle, HandleNotFound);
    if (record->mType == DInfo::STRING) return Report(*this, handle, WrongType);
    if (!direct && !record->mWriteDirect) {
        if (record->mNotDirect == DInfo::CommValue) {
            // Infinity and NaN go out as the C library writes them; a value whose
            // "%19f" text does not fit the 64-byte working text is refused, not cut.
            char text[kTextBufferSize] = {};
            if (std::snprintf(text, sizeof text, "%19f", value) >= static_cast<int>(sizeof text)) {
                ErrorMessage(handle, DataOrDriverError);
                return DataOrDriverError;
            }
            return Comm(text, handle, index, axis);
        }
        if (record->mNotDirect == DInfo::CommFlag) {
            if (!IsInteger(value)) return Report(*this, handle, ParameterError);
            return HandleCommFlag(handle, WrapToLong(value), index, axis);
        }
    }
    if (record->mType == DInfo::BITMASK) {
        std::int32_t bit = WrapToLong(value);
        return HandleBitMask(handle, index, bit, axis, 1);
    }
    unsigned char bytes[kScratch] = {};
    if (record->mType == DInfo::REAL) {
        // Not a number passes no range test and is refused like one out of range.
        if (std::isnan(value) || value < record->RealMin() || value > record->RealMax())
            return Report(*this, handle, ValueOutOfRange);
        EncodeDouble(value, bytes);
    } else {
        if (!IsInteger(value)) return Report(*this, handle, ParameterError);
        if (value < record->Min() || value > record->Max())
            return Report(*this, handle, ValueOutOfRange);
        EncodeLong(static_cast<std::int32_t>(value), bytes);
    }
    if (!mDriver || mDriver->WriteByHandle(mCnc, Axis(axis), handle, index, NumericCount(*record),
                                           bytes, 0, 1) != 0) {
        ErrorMessage(handle, DataOrDriverError, true);
        return DataOrDriverError;
    }
    return Ok;
}

std::uint8_t Daten::SetValue(std::uint16_t handle, const char* text, std::uint16_t index,
                             std::uint8_t axis) {
    if (!text) text = "";
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        object->SetString(text, index, 255);
        return object->LastError();
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    if (record->mType != DInfo::STRING) return Report(*this, handle, WrongType);
    char field[256];
    std::size_t n = std::strlen(text) + 1;
    if (!record->mWriteDirect && record->mNotDirect == DInfo::CommValue) {
        // The interpreter gets the text as given and decides itself how much
        // of it makes a command. A text that fits goes in a working copy, so
        // that an interpreter may work in place; a longer one is only read.
        if (n > sizeof field) return Comm(const_cast<char*>(text), handle, index, axis);
        std::memcpy(field, text, n);
        return Comm(field, handle, index, axis);
    }
    // The field is at most 255 characters.
    if (n > sizeof field) n = sizeof field;
    std::memcpy(field, text, n);
    field[n - 1] = '\0';
    // A text transfer counts its bytes in 8 bits: at most 254 characters
    // and the zero go out.
    std::size_t length = record->mLength < 255 ? record->mLength : 255;
    if (n > length) {
        n = length;
        if (n > 0) field[n - 1] = '\0';
    }
    if (!mDriver || mDriver->WriteByHandle(mCnc, Axis(axis), handle, index,
                                           static_cast<std::uint8_t>(n), field, 0, 0) != 0) {
        ErrorMessage(handle, DataOrDriverError, true);
        return DataOrDriverError;
    }
    return Ok;
}

std::uint8_t Daten::SetValue(std::uint16_t handle, const void* block, std::uint16_t size,
                             std::uint16_t index, std::uint8_t axis) {
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        object->SetBinBlock(block, size, index, false);
        return object->LastError();
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    if (record->mType != DInfo::STRING) return Report(*this, handle, WrongType);
    if (size > record->mLength || !block) return Report(*this, handle, DataOrDriverError);
    const std::uint8_t result =
        !mDriver ? 1
        : record->mLength < 256
            ? mDriver->WriteByHandle(mCnc, Axis(axis), handle, index,
                                     static_cast<std::uint8_t>(size), block, 0, 1)
            : mDriver->WriteByHandle(mCnc, Axis(axis), handle, size,
                                     static_cast<std::uint8_t>(index), block, 0, 0);
    if (result != 0) return Report(*this, handle, DataOrDriverError, true);
    return Ok;
}

// ---------------------------------------------------------------- defaults, tables

void Daten::Default(char direct, std::uint16_t handle, std::uint16_t index) {
    auto writeDefault = [this, direct](std::uint16_t h, std::uint16_t i) {
        const DInfo* record = FindRecord(h);
        if (!record || record->mType == DInfo::NONE || record->mType >= DInfo::STRING) return;
        if (record->mType == DInfo::REAL)
            SetValue(h, record->RealDef(), i, 255, direct);
        else
            SetValue(h, record->Def(), i, 255, direct, 0);
    };
    if (handle != Handles::kNoHandle) {
        writeDefault(handle, index);
        return;
    }
    for (std::size_t h = 0; h < mDefinitions.size(); ++h)
        writeDefault(static_cast<std::uint16_t>(h), 0);
}

std::uint16_t Daten::GetMaxTabElemAnz(std::uint16_t handle) {
    if (handle >= kFirstRegisteredHandle) {
        CData* object = GetCDataPtr(handle);
        return object ? object->GetMaxTabElemAnz() : 1;
    }
    // Without a driver a handle is a single value.
    return mDriver ? mDriver->MaxTableElements(mCnc, handle) : 1;
}

void Daten::CheckAndGetValue(std::uint16_t handle, std::uint16_t index, std::uint8_t axis,
                             const char* name, const char* selfText, char* out,
                             const char* prefix) {
    if (!out) return;
    const std::size_t room = std::strlen(out) + (prefix ? std::strlen(prefix) : 0) +
                             (selfText ? std::strlen(selfText) : 0) + 256;
    CheckAndGetValue(handle, index, axis, name, selfText, out, prefix, room);
}

void Daten::CheckAndGetValue(std::uint16_t handle, std::uint16_t index, std::uint8_t axis,
                             const char* name, const char* selfText, char* out, const char* prefix,
                             std::size_t outSize) {
    if (!out || outSize == 0) return;
    std::size_t used = strnlen(out, outSize - 1);
    auto append = [&](const char* text) {
        if (!text) return;
        while (*text && used + 1 < outSize) out[used++] = *text++;
        out[used] = '\0';
    };
    append(prefix);
    const std::uint16_t found =
        mHandles && name ? mHandles->NameToHandle(name) : Handles::kNoHandle;
    CData* const unnumbered = found == Handles::kNoHandle && name ? FindRegistered(name) : nullptr;
    if (unnumbered) {
        // A field kept without a handle number reads through its object.
        std::int32_t value = unnumbered->GetValue(index, axis);
        if (unnumbered->LastError() != Ok) value = 0;
        char text[256] = "";
        unnumbered->Value2String(value, text, sizeof text);
        append(text);
        return;
    }
    if (found == handle) {
        append(selfText);
        return;
    }
    std::int32_t value = 0;
    if (GetValue(found, value, index, axis) != Ok) value = 0;
    char text[256] = "";
    Value2String(found, value, text, sizeof text);
    append(text);
}

std::uint16_t Daten::getMagNr(std::uint16_t place) {
    std::int32_t count = 0;
    if (GetValue(330, count, 0, 255) != Ok) return 0;
    const std::uint16_t magazines = static_cast<std::uint16_t>(count);
    std::uint16_t answer = 0;
    for (std::uint16_t i = 0; i < magazines; ++i) {
        std::int32_t first = 0;
        if (GetValue(1049, first, i, 255) != Ok) continue;
        if (static_cast<std::int32_t>(place) < first) break;
        answer = i;
    }
    return answer;
}

// ---------------------------------------------------------------- queries

std::uint16_t Daten::DatenTyp(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->mType : 0;
}

std::uint16_t Daten::DatenLaenge(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->mLength : 0;
}

// A missing handle answers limits that every range test fails.
std::int32_t Daten::Min(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->Min() : INT32_MAX;
}

std::int32_t Daten::Max(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->Max() : INT32_MIN;
}

double Daten::RealMin(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->RealMin() : 2147483647.0;
}

double Daten::RealMax(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->RealMax() : -2147483648.0;
}

char Daten::IsVisible(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->mVisible : 0;
}

char Daten::DirectWrite(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->mWriteDirect : 0;
}

char Daten::InchMetr(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->mInchMetric : 0;
}

short Daten::GetBasis(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->mBase : 0;
}

double Daten::UserFaktor(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    return record ? record->mUserFactor : 0.0;
}

const char* Daten::GetUnitString(std::uint16_t handle) {
    const DInfo* record = FindRecord(handle);
    if (!record) return nullptr;
    return CheckInch(handle) ? record->mszInchUnit : record->mszMetricUnit;
}

std::uint8_t Daten::GetActFormat(std::uint16_t handle, std::uint8_t& width,
                                 std::uint8_t& decimals) {
    const DInfo* record = FindRecord(handle);
    if (!record) {
        width = decimals = 0;
        return HandleNotFound;
    }
    const bool inch = CheckInch(handle);
    width = inch ? record->mInchWidth : record->mMetricWidth;
    decimals = inch ? record->mInchDecimals : record->mMetricDecimals;
    return Ok;
}

std::uint8_t Daten::GetMetInchFormat(std::uint16_t handle, std::uint8_t& width,
                                     std::uint8_t& decimals, char metric) {
    const DInfo* record = FindRecord(handle);
    if (!record) {
        width = decimals = 0;
        return HandleNotFound;
    }
    width = metric ? record->mMetricWidth : record->mInchWidth;
    decimals = metric ? record->mMetricDecimals : record->mInchDecimals;
    return Ok;
}
