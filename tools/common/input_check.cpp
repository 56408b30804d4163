#include "tools/common/input_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "korvex/data/cdata.h"
#include "tools/common/text.h"

namespace korvex::tools {
namespace {

// The command-line handles: what is written there is the line itself.
constexpr std::uint16_t kFirstCommandLine = 580;
constexpr std::uint16_t kLastCommandLine = 582;
// Comm keeps the first 256 characters of a text.
constexpr std::size_t kCommText = 256;

bool PrintableLatin1(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0)) return false;
    }
    return true;
}

// One number as the controller reads it: an optional sign, digits and at
// most one decimal point, at least one digit.
struct NumberText {
    bool negative = false;
    std::string integer;   // without leading zeros ("" for zero)
    std::string fraction;  // as typed
};

bool ParseNumberText(std::string_view text, NumberText& number) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';
    bool point = false;
    bool digit = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digit = true;
            if (point)
                number.fraction += c;
            else if (c != '0' || !number.integer.empty())
                number.integer += c;
        } else {
            return false;
        }
    }
    return digit;
}

// The library's conversion is asked with messages off: a refused input is
// the caller's answer, not a message box of the host.
class QuietMessages {
  public:
    explicit QuietMessages(Daten& daten) : mDaten(daten), mWasOn(daten.MessagesOn()) {
        daten.SetMessagesOn(false);
    }
    ~QuietMessages() { mDaten.SetMessagesOn(mWasOn); }
    QuietMessages(const QuietMessages&) = delete;
    QuietMessages& operator=(const QuietMessages&) = delete;

  private:
    Daten& mDaten;
    bool mWasOn;
};

// Maps the conversion's answer onto the check's three answers.
std::uint8_t CheckAnswer(std::uint8_t conversion) {
    switch (conversion) {
        case Daten::Ok:
        case Daten::ValueOutOfRange:
        case Daten::ParameterError:
            return conversion;
        case Daten::DataOrDriverError:  // a text the conversion cannot read
            return Daten::ParameterError;
        default:  // a type the conversion does not take: Comm answers it
            return Daten::Ok;
    }
}

std::string Hex(const std::uint8_t* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

}  // namespace

std::uint8_t CheckInputText(Daten& daten, std::uint16_t handle, CData* object,
                            std::string_view text) {
    if (!object && handle >= Daten::kFirstRegisteredHandle) object = daten.GetCDataPtr(handle);
    const DInfo* record = object ? nullptr : daten.ExistHandle(handle);
    if (!object && !record) return Daten::Ok;
    const DInfo::DType type = object ? object->DatenTyp() : record->mType;
    if (type == DInfo::STRING) return PrintableLatin1(text) ? Daten::Ok : Daten::ParameterError;

    NumberText number;
    if (!ParseNumberText(text, number)) return Daten::ParameterError;
    // A bit takes the number as it stands: the library decides what it means.
    if (type == DInfo::BITMASK) return Daten::Ok;

    QuietMessages quiet(daten);
    // The conversion reads at most 12 characters and 32 bits: the number is
    // given to it without leading zeros and without the decimals it ignores,
    // and a number beyond 32 bits in the unit of its last decimal is out of
    // range before the conversion could stop short.
    std::uint8_t width = 0;
    std::uint8_t decimals = 0;
    if (object) {
        object->GetMetInchFormat(width, decimals, object->CheckInch());
    } else {
        daten.GetActFormat(handle, width, decimals);
    }
    const bool scaled = type >= DInfo::QZREAL;
    const std::size_t places = std::min<std::size_t>(decimals, 6);  // as the conversion reads
    std::string fraction = number.fraction;
    if (scaled && fraction.size() > places) fraction.resize(places);
    // A text that goes to the controller as text (a command line) is read
    // there as a number in the display unit; a value the library converts
    // counts digits without a point in the last decimal place. So a scaled
    // type on the command-line roads always gets its point. An integer type
    // is spared trailing zeros after its point.
    const bool asText = record && !daten.DirectWriteMode() && !record->mWriteDirect;
    if (!scaled) {
        while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    }
    const bool point = scaled ? asText || text.find('.') != std::string_view::npos
                              : !fraction.empty();
    if (type != DInfo::REAL) {
        // The stored digits: beyond what 32 bits hold the conversion stops short.
        std::string digits = number.integer;
        if (scaled && point) digits += fraction + std::string(places - fraction.size(), '0');
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        if (digits.size() > 10 || (digits.size() == 10 && digits > "2147483639"))
            return Daten::ValueOutOfRange;
    }
    std::string normal = number.negative ? "-" : "";
    normal += number.integer.empty() ? "0" : number.integer;
    if (point) normal += "." + fraction;
    if (object) {
        std::int32_t value = 0;
        return CheckAnswer(object->String2Value(normal.c_str(), value));
    }
    double value = 0;
    return CheckAnswer(daten.String2Value(handle, normal.c_str(), value));
}

std::string DescribeWrite(Daten& daten, const host::SimDriver::Write& write) {
    using Operation = host::SimDriver::Operation;
    if (write.operation == Operation::WriteMemory) {
        char head[32];
        std::snprintf(head, sizeof head, "mem 0x%05X ", write.address);
        return head + Hex(write.bytes, write.length);
    }
    if (write.operation == Operation::WriteOffset)
        return "offset " + std::to_string(write.address) + " " + Hex(write.bytes, write.length);
    const auto* bytes = write.bytes;
    const std::uint16_t type = daten.DatenTyp(write.handle);
    std::string value;
    if (type == DInfo::STRING) {
        const void* end = std::memchr(bytes, 0, write.length);
        value.assign(reinterpret_cast<const char*>(bytes),
                     end ? static_cast<const std::uint8_t*>(end) - bytes : write.length);
        if (write.handle >= kFirstCommandLine && write.handle <= kLastCommandLine) return value;
    } else if (type == DInfo::REAL && write.length == sizeof(double)) {
        double real = 0;
        std::memcpy(&real, bytes, sizeof real);
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", real);
        value = text;
    } else {
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < write.length && i < 4; ++i)
            bits |= std::uint32_t{bytes[i]} << (8 * i);
        const std::int32_t widened =
            daten.MinusCheck(static_cast<std::int32_t>(bits), write.handle);
        value = type == DInfo::QZLONGCARD ? std::to_string(static_cast<std::uint32_t>(widened))
                                          : std::to_string(widened);
    }
    const char* name = Handles::InternedName(write.handle);
    const std::string who = name && *name ? name : std::to_string(write.handle);
    return who + "[" + std::to_string(write.index) + "]=" + value;
}

InputResult RunInput(Daten& daten, host::SimDriver& sim, const InputRequest& request) {
    InputResult result;
    if (request.checked)
        result.error = CheckInputText(daten, request.handle, request.object, request.text);
    if (result.error == Daten::Ok) {
        CData* object = request.object;
        if (!object && request.handle >= Daten::kFirstRegisteredHandle)
            object = daten.GetCDataPtr(request.handle);
        // A preview leaves no trace: the protocol is not written, and a
        // value kept in the PC is put back as it was.
        TApplFrame* frame = daten.Frame();
        TProtocol* protocol = frame ? frame->mProtocol : nullptr;
        std::int32_t keptNumber = 0;
        std::string keptText;
        const bool keepText = object && object->DatenTyp() == DInfo::STRING;
        if (request.preview) {
            if (frame) frame->mProtocol = nullptr;
            if (keepText) {
                char buffer[kCommText + 1] = "";
                object->GetString(buffer, sizeof buffer, request.index, request.axis);
                keptText = buffer;
            } else if (object) {
                keptNumber = object->GetValue(request.index, request.axis);
            }
            sim.SetHoldWrites(true);
        }
        sim.SetWriteWatch([&](const host::SimDriver::Write& write) {
            result.sent.push_back(DescribeWrite(daten, write));
        });
        // Comm takes a writable text, as the host's input buffer is.
        std::vector<char> text(request.text.begin(), request.text.end());
        text.push_back('\0');
        result.error = object
                           ? object->Comm(text.data(), request.index, request.axis)
                           : daten.Comm(text.data(), request.handle, request.index, request.axis);
        sim.SetWriteWatch(nullptr);
        if (request.preview) {
            if (keepText)
                object->SetString(keptText.c_str(), request.index, request.axis);
            else if (object)
                object->SetValue(keptNumber, request.index, request.axis);
            sim.SetHoldWrites(false);
            if (frame) frame->mProtocol = protocol;
        }
    }
    if (result.error != Daten::Ok) result.text = Daten::ErrorText(result.error);
    return result;
}

std::string InputResultJson(const InputResult& result) {
    nlohmann::ordered_json json;
    json["error"] = result.error;
    json["text"] = result.text;
    json["sent"] = nlohmann::ordered_json::array();
    for (const std::string& line : result.sent) json["sent"].push_back(Latin1ToUtf8(line));
    return json.dump();
}

}  // namespace korvex::tools
