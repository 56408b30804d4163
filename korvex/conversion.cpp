// Number and text conversion: stored values to display text and operator
// input back to stored values, by the handle's definition record.
//
// Every display refresh runs through here, so nothing allocates: texts are
// built in fixed working buffers and digits are written by hand.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "korvex/data/cdata.h"
#include "korvex/daten_internal.h"
#include "korvex/korvex.h"

using korvex::internal::RecordOrReport;
using korvex::internal::RegisteredOrReport;
using korvex::internal::Report;

namespace {

constexpr double kInchFactor = 2.54;
constexpr double kSurfaceSpeedFactor = 8.333333333333332;
constexpr double kMillimetresPerInch = 25.4;
constexpr double kInchesPerMillimetre = 0.03937007874015748;
constexpr double kInchesPerTenthMillimetre = 0.39370078740157477;
constexpr std::size_t kWork = Daten::kTextBufferSize;

bool SurfaceSpeedHandle(std::uint16_t handle) {
    return handle == 341 || handle == 2060;
}

bool UnsignedType(DInfo::DType type) {
    return type == DInfo::QZLONGCARD || type == DInfo::QZCARD;
}

bool ScaledType(DInfo::DType type) {
    return type >= DInfo::QZREAL;
}

// A stored value as a number: the unsigned types by their bit pattern.
double AsNumber(std::int32_t value, bool isUnsigned) {
    return isUnsigned ? static_cast<double>(static_cast<std::uint32_t>(value))
                      : static_cast<double>(value);
}

// The integer part of a double in 32 bits, wrapping as a 32-bit value does;
// values that are no number at all give the 32-bit "indefinite" 0x80000000.
std::int32_t WrapToLong(double value) {
    if (!std::isfinite(value)) return INT32_MIN;
    double wrapped = std::fmod(std::trunc(value), 4294967296.0);
    if (wrapped < 0) wrapped += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wrapped));
}

// Halves away from zero.
double RoundHalfAway(double value) {
    return std::trunc(value >= 0 ? value + 0.5 : value - 0.5);
}
std::int32_t RoundToLong(double value) {
    return WrapToLong(RoundHalfAway(value));
}

// Unsigned digits of value in base, most significant first; answers the
// count written (at most 32).
int WriteDigits(std::uint32_t value, unsigned base, bool upper, char* out) {
    const char* digits =
        upper ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
    char reversed[32];
    int count = 0;
    do {
        reversed[count++] = digits[value % base];
        value /= base;
    } while (value != 0);
    for (int i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
    out[count] = '\0';
    return count;
}

// The value as the C library's ltoa writes it: signed in base 10, the bit
// pattern unsigned in every other base. A base the library cannot write
// (below 2 or above 36) is taken as decimal.
void Ltoa(std::int32_t value, char* out, short base, bool upper) {
    if (base < 2 || base > 36) base = 10;
    if (base == 10 && value < 0) {
        *out++ = '-';
        WriteDigits(0u - static_cast<std::uint32_t>(value), 10, upper, out);
        return;
    }
    WriteDigits(static_cast<std::uint32_t>(value), static_cast<unsigned>(base), upper, out);
}

// Copies text into out of size bytes, cut to fit; size 0 writes nothing.
void PutText(char* out, std::uint16_t size, const char* text) {
    if (!out || size == 0) return;
    std::size_t i = 0;
    for (; text[i] && i + 1 < size; ++i) out[i] = text[i];
    out[i] = '\0';
}

// width stars (at most size - 1) with a point where decimals would put it.
void PutStars(char* out, std::uint16_t size, unsigned width, unsigned decimals) {
    if (!out || size == 0) return;
    std::size_t n = width < size ? width : static_cast<std::size_t>(size) - 1;
    for (std::size_t i = 0; i < n; ++i) out[i] = '*';
    if (decimals != 0 && decimals < width && width - 1 - decimals < n)
        out[width - 1 - decimals] = '.';
    out[n] = '\0';
}

// "%.*f" of value in the working buffer; false when the text would not fit
// its 63 characters.
bool FormatFixed(double value, unsigned decimals, char* out) {
    if (!std::isfinite(value) || decimals > kWork - 3 || std::fabs(value) >= 1e62) return false;
    const int written = std::snprintf(out, kWork, "%.*f", static_cast<int>(decimals), value);
    return written >= 0 && written < static_cast<int>(kWork);
}

bool OnlyNumberCharacters(const char* text) {
    for (; *text; ++text) {
        const char c = *text;
        if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) return false;
    }
    return true;
}

// A decimal integer as a 32-bit strtol reads it (overflow gives the nearest
// end of the range); end receives the first character not read.
std::int32_t ReadLong(const char* text, const char** end) {
    char* stop = nullptr;
    const long long value = std::strtoll(text, &stop, 10);
    *end = stop;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

// A number as the C library's strtod reads it; false when characters are
// left over (blanks alone are left over: they hold no number).
bool ReadDouble(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return *end == '\0';
}

// The displays that carry no digits: "?" for a type the overload cannot show
// (reported), nothing for a hidden handle, on/off for a bit. True when one
// applied; result then holds the code.
bool PlainDisplay(Daten& daten, std::uint16_t handle, const DInfo& record, bool realShown,
                  bool bitOn, char* out, std::uint16_t size, std::uint8_t& result) {
    if (record.mType == DInfo::STRING || (!realShown && record.mType == DInfo::REAL)) {
        PutText(out, size, "?");
        result = Report(daten, handle, Daten::WrongType);
        return true;
    }
    result = Daten::Ok;
    if (!record.mVisible) {
        PutText(out, size, "");
        return true;
    }
    if (record.mType == DInfo::BITMASK) {
        PutText(out, size, bitOn ? "on" : "off");
        return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------- primitives

char* Daten::Bin2Str(std::int32_t value, char* out, short width, short decimals, char leadingZeros,
                     char isUnsigned, short base) {
    if (!out) return out;
    if (base != 10) {
        Ltoa(value, out, base, true);
        return out;
    }
    if (decimals > 12) width = 12;
    // The working buffer holds 63 characters: no wider field can be shown.
    if (width > static_cast<short>(kWork - 1)) width = static_cast<short>(kWork - 1);
    if (width < 1) width = 1;
    if (leadingZeros)
        decimals = 0;
    else if (decimals > width - 3)
        decimals = static_cast<short>(width - 3);

    // Room for a sign, the padded digits and the point before the width test.
    char text[kWork + 16];
    char* p = text;
    bool negative = false;
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    // Zero padding takes the sign apart whatever isUnsigned says; decimals
    // do so only for a signed value.
    if (value < 0 && (leadingZeros || (decimals > 0 && !isUnsigned))) {
        negative = true;
        magnitude = 0u - magnitude;
    }
    if (negative) *p++ = '-';
    if (decimals <= 0) {
        if (leadingZeros) {
            char digits[16];
            const int count = WriteDigits(magnitude, 10, true, digits);
            for (int i = count; i < width; ++i) *p++ = '0';
            std::memcpy(p, digits, static_cast<std::size_t>(count) + 1);
            if (magnitude != 0) {
                char* last = p + std::strlen(p) - 1;
                while (last > text && *last == '0' && last[-1] != '-') *last-- = '\0';
            }
        } else if (isUnsigned) {
            WriteDigits(static_cast<std::uint32_t>(value), 10, true, p);
        } else {
            Ltoa(value, p, 10, true);
        }
    } else {
        char digits[16];
        const int count = WriteDigits(magnitude, 10, true, digits);
        if (count > decimals) {
            const int whole = count - decimals;
            std::memcpy(p, digits, static_cast<std::size_t>(whole));
            p += whole;
            *p++ = '.';
            std::memcpy(p, digits + whole, static_cast<std::size_t>(decimals) + 1);
        } else {
            *p++ = '0';
            *p++ = '.';
            for (int i = count; i < decimals; ++i) *p++ = '0';
            std::memcpy(p, digits, static_cast<std::size_t>(count) + 1);
        }
    }
    const std::size_t length = std::strlen(text);
    if (length > static_cast<std::size_t>(width)) {
        PutStars(out, static_cast<std::uint16_t>(width + 1), static_cast<unsigned>(width),
                 decimals > 0 ? static_cast<unsigned>(decimals) : 0u);
        return out;
    }
    std::memcpy(out, text, length + 1);
    return out;
}

std::int32_t Daten::Str2Bin(const char* text, short decimals) {
    if (!text) return 0;
    if (decimals < 0) decimals = 0;
    if (decimals > 6) decimals = 6;
    const char* p = text;
    while (*p == ' ') ++p;
    bool negative = false;
    int read = 0;
    if (*p == '-') {
        negative = true;
        ++p;
        ++read;
    } else if (*p == '+') {
        ++p;
        ++read;
    }
    std::int32_t number = 0;
    bool point = false;
    int pending = 0;  // decimal places still to read after a point
    // Plain char may be signed: a character with the high bit set stops too.
    for (; static_cast<signed char>(*p) > ' ' && read < 12; ++p, ++read) {
        const char c = *p;
        if (c == '.') {
            if (decimals == 0) break;
            point = true;
            pending = decimals;
        } else if (c >= '0' && c <= '9') {
            if (number > 214748363) break;
            number = number * 10 + (c - '0');
            if (point && --pending == 0) break;
        } else {
            break;
        }
    }
    if (point) {
        for (; pending > 0 && number != 0 && number <= 214748363; --pending) number *= 10;
    }
    return negative ? -number : number;
}

std::uint8_t Daten::CheckFeldWeite(const char* text, char* out, std::uint16_t size,
                                   std::uint16_t width) {
    if (!text) text = "";
    if (std::strlen(text) <= width) {
        PutText(out, size, text);
        return Ok;
    }
    PutStars(out, size, width, 0);
    return NotEnoughSpace;
}

bool Daten::NotValid(std::uint16_t handle, std::int32_t value, char* out, std::uint16_t size) {
    const DInfo* record = FindRecord(handle);
    if (!record || !record->mNotValid || value != record->mNotValidValue) return false;
    return NotValid(*record, CheckInch(handle), value, out, size);
}

bool Daten::NotValid(const DInfo& record, bool inch, std::int32_t value, char* out,
                     std::uint16_t size) {
    if (!record.mNotValid || value != record.mNotValidValue) return false;
    PutStars(out, size, inch ? record.mInchWidth : record.mMetricWidth,
             inch ? record.mInchDecimals : record.mMetricDecimals);
    return true;
}

void Daten::GetValidNumChars(const char* text, TApplString& out) {
    if (!text) text = "";
    std::size_t n = 0;
    while ((text[n] >= '0' && text[n] <= '9') || text[n] == '+' || text[n] == '-' || text[n] == '.')
        ++n;
    out.str().assign(text, n);
}

void Daten::HandleHexBin(char*, short, DInfo::DType) {}

// ---------------------------------------------------------------- display text

std::uint8_t Daten::Value2String(std::uint16_t handle, std::int32_t value, char* out,
                                 std::uint16_t size) {
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        return object->Value2String(value, out, size);
    }
    const DInfo* record = RecordOrReport(*this, handle);
    if (!record) return HandleNotFound;
    std::uint8_t result;
    if (PlainDisplay(*this, handle, *record, false, value != 0, out, size, result)) return result;
    const DInfo::DType type = record->mType;
    if (NotValid(handle, value, out, size)) return Ok;
    const double factor = record->mUserFactor;
    char text[kWork];
    if (!ScaledType(type)) {
        if (factor != 1.0) value = RoundToLong(static_cast<double>(value) * factor);
        Ltoa(value, text, record->mBase, false);
        return CheckFeldWeite(text, out, size, record->mMetricWidth);
    }
    const bool isUnsigned = UnsignedType(type);
    if (mZReverse && record->mZReverse)
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(mZReference) -
                                          static_cast<std::uint32_t>(value));
    const std::uint8_t feedMode = isTMET1_2Conversion(handle);
    const bool factorLeftOut = (mConversionMode == 1 && (feedMode == 1 || feedMode == 2)) ||
                               (mConversionMode == 2 && feedMode == 2);
    if (factor != 1.0 && !factorLeftOut) value = RoundToLong(AsNumber(value, isUnsigned) * factor);
    double f = SurfaceSpeedHandle(handle) ? kSurfaceSpeedFactor : kInchFactor;
    // The digits in a format, checked against the field of fieldWidth.
    auto show = [&](std::int32_t shown, short width, short decimals, unsigned fieldWidth) {
        Bin2Str(shown, text, width, decimals, 0, isUnsigned, record->mBase);
        return CheckFeldWeite(text, out, size, static_cast<std::uint16_t>(fieldWidth));
    };
    if (mConversionMode == 1 && record->mInchMetric) {
        if (feedMode == 1) f = 0.4233333333333333;
        if (feedMode == 2) f = kInchFactor;
        return show(RoundToLong(AsNumber(value, isUnsigned) / f), record->mInchWidth,
                    record->mInchDecimals, record->mInchWidth);
    }
    if (mConversionMode == 2 && record->mInchMetric) {
        short width = record->mMetricWidth;
        short decimals = record->mMetricDecimals;
        if (feedMode == 2) {
            f = kInchFactor;
            width = 10;
            decimals = 3;
        }
        return show(RoundToLong(AsNumber(value, isUnsigned) * f), width, decimals,
                    record->mMetricWidth);
    }
    if (CheckInch(handle))
        return show(RoundToLong(AsNumber(value, isUnsigned) / f), record->mInchWidth,
                    record->mInchDecimals, record->mInchWidth);
    return show(value, record->mMetricWidth, record->mMetricDecimals, record->mMetricWidth);
}

std::uint8_t Daten::Value2String(std::uint16_t handle, double value, char* out,
                                 std::uint16_t size) {
    const DInfo* record = handle < kFirstRegisteredHandle ? ExistHandle(handle) : nullptr;
    if (!record) {
        PutText(out, size, "?");
        ErrorMessage(handle, HandleNotFound);
        return HandleNotFound;
    }
    std::uint8_t result;
    if (PlainDisplay(*this, handle, *record, true, value != 0.0, out, size, result)) return result;
    const DInfo::DType type = record->mType;
    const double factor = record->mUserFactor;
    const bool inch = CheckInch(handle);
    const unsigned width = inch ? record->mInchWidth : record->mMetricWidth;
    char text[kWork];
    if (type == DInfo::REAL) {
        // Infinity and not-a-number are shown like the invalid marker that
        // a read puts in their place.
        if (value == kInvalidReal || !std::isfinite(value)) {
            PutText(out, size, "?");
            ErrorMessage(handle, ValueOutOfRange);
            return ValueOutOfRange;
        }
        value *= factor;
        if (inch) value *= kInchesPerMillimetre;
        // A REAL whose digits do not fit the working text is shown as stars.
        if (!FormatFixed(value, inch ? record->mInchDecimals : record->mMetricDecimals, text)) {
            PutStars(out, size, width, 0);
            return NotEnoughSpace;
        }
        return CheckFeldWeite(text, out, size, static_cast<std::uint16_t>(width));
    }
    if (factor != 1.0 && type < DInfo::QZREAL) {
        value = RoundHalfAway(value * factor);
    } else if (!std::isfinite(value) || std::trunc(value) != value) {
        // A scaled type takes its stored integer, not a display value.
        PutText(out, size, "?");
        ErrorMessage(handle, ParameterError);
        return ParameterError;
    }
    if (!ScaledType(type)) {
        Ltoa(WrapToLong(value), text, record->mBase, false);
        return CheckFeldWeite(text, out, size, record->mMetricWidth);
    }
    const bool isUnsigned = UnsignedType(type);
    if (mZReverse && record->mZReverse) value = static_cast<double>(mZReference) - value;
    if (factor != 1.0) value *= factor;
    if (inch) {
        Bin2Str(RoundToLong(value * kInchesPerTenthMillimetre), text, record->mInchWidth,
                record->mInchDecimals, 0, isUnsigned, record->mBase);
        return CheckFeldWeite(text, out, size, record->mInchWidth);
    }
    Bin2Str(WrapToLong(value), text, record->mMetricWidth, record->mMetricDecimals, 0, isUnsigned,
            record->mBase);
    return CheckFeldWeite(text, out, size, record->mMetricWidth);
}

// ---------------------------------------------------------------- operator input

std::uint8_t Daten::String2Value(std::uint16_t handle, const char* text, std::int32_t& value) {
    if (!text) text = "";
    if (handle >= kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(*this, handle);
        if (!object) return HandleNotFound;
        return object->String2Value(text, value);
    }
    DInfo* record = ExistHandle(handle);
    if (!record) return Report(*this, handle, HandleNotFound);
    const DInfo::DType type = record->mType;
    if (type == DInfo::STRING || type == DInfo::REAL || type == DInfo::BITMASK)
        return Report(*this, handle, WrongType);
    const double factor = record->mUserFactor;
    std::int32_t result;
    if (!ScaledType(type)) {
        const char* end = text;
        result = ReadLong(text, &end);
        if (*end != '\0') return Report(*this, handle, DataOrDriverError);
        if (factor != 1.0) result = RoundToLong(static_cast<double>(result) / factor);
    } else {
        if (std::strchr(text, '*')) {
            // A star marks the value as not valid, from now on for good.
            record->mNotValid = 1;
            value = record->mNotValidValue;
            return Ok;
        }
        if (!OnlyNumberCharacters(text)) return Report(*this, handle, ParameterError);
        if (CheckInch(handle)) {
            const double f = SurfaceSpeedHandle(handle) ? kSurfaceSpeedFactor : kInchFactor;
            result = RoundToLong(static_cast<double>(Str2Bin(text, record->mInchDecimals)) * f);
        } else {
            result = Str2Bin(text, record->mMetricDecimals);
        }
        if (factor != 1.0) result = WrapToLong(static_cast<double>(result) / factor);
        if (mZReverse && record->mZReverse)
            result = static_cast<std::int32_t>(static_cast<std::uint32_t>(mZReference) -
                                               static_cast<std::uint32_t>(result));
    }
    if (result < record->Min() || result > record->Max())
        return Report(*this, handle, ValueOutOfRange);
    value = result;
    return Ok;
}

std::uint8_t Daten::String2Value(std::uint16_t handle, const char* text, double& value) {
    if (!text) text = "";
    DInfo* record = handle < kFirstRegisteredHandle ? ExistHandle(handle) : nullptr;
    if (!record) return Report(*this, handle, HandleNotFound);
    const DInfo::DType type = record->mType;
    if (type == DInfo::STRING || type == DInfo::BITMASK) return Report(*this, handle, WrongType);
    const double factor = record->mUserFactor;
    double result = 0.0;
    if (!ScaledType(type)) {
        if (!ReadDouble(text, result)) return Report(*this, handle, DataOrDriverError);
        if (type == DInfo::REAL) {
            if (factor != 1.0) result /= factor;
            if (CheckInch(handle)) result *= kMillimetresPerInch;
            if (std::isnan(result) || result < record->RealMin() || result > record->RealMax())
                return Report(*this, handle, ValueOutOfRange);
            value = result;
            return Ok;
        }
        if (factor != 1.0) {
            result = RoundHalfAway(result / factor);
        } else if (std::trunc(result) != result) {
            ErrorMessage(handle, ParameterError);
            return ParameterError;
        }
    } else {
        if (std::strchr(text, '*')) {
            record->mNotValid = 1;
            value = static_cast<double>(record->mNotValidValue);
            return Ok;
        }
        if (!OnlyNumberCharacters(text)) return Report(*this, handle, ParameterError);
        if (CheckInch(handle))
            result = RoundHalfAway(static_cast<double>(Str2Bin(text, record->mInchDecimals)) *
                                   kInchFactor);
        else
            result = static_cast<double>(Str2Bin(text, record->mMetricDecimals));
        if (factor != 1.0) result /= factor;
        if (mZReverse && record->mZReverse) result = static_cast<double>(mZReference) - result;
    }
    if (!(result >= record->Min() && result <= record->Max()))
        return Report(*this, handle, ValueOutOfRange);
    value = result;
    return Ok;
}
