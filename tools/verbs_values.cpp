// Verbs that read and write values as a host dialog does: get, getraw,
// setraw, the inch flags, the unit reload and the defaults.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "korvex/data/cdata.h"
#include "tools/cli.h"

namespace korvex::cli {
namespace {

// A handle with its element and axis: NAME [INDEX] [AXIS] starting at
// words[first]; the index of a "NAME INDEX" word counts unless INDEX is
// given.
struct Target {
    std::uint16_t handle = 0;
    std::uint16_t index = 0;
    std::uint8_t axis = 255;
    // A data object registered without a handle number, reached directly.
    CData* object = nullptr;
};

// Answers 0, or the exit code of what was wrong.
int ParseTarget(Session& session, const Words& words, std::size_t first, Target& target) {
    if (!session.ResolveHandle(words[first], target.handle, target.index, &target.object))
        return Daten::HandleNotFound;
    unsigned long number = 0;
    if (words.size() > first + 1) {
        if (!ParseNumber(words[first + 1], 0xFFFF, number))
            return UsageError("bad INDEX '" + words[first + 1] + "'");
        target.index = static_cast<std::uint16_t>(number);
    }
    if (words.size() > first + 2) {
        if (!ParseNumber(words[first + 2], 255, number))
            return UsageError("bad AXIS '" + words[first + 2] + "'");
        target.axis = static_cast<std::uint8_t>(number);
    }
    return 0;
}

// The longest text a STRING handle gives a text read.
constexpr std::uint16_t kTextRead = 255;

// One value read: the stored value as JSON (number or text) and, when asked
// for, its display text.
struct Reading {
    std::uint8_t result = 0;
    nlohmann::json raw;
    std::string rawText;  // as getraw prints it
    std::string text;     // the display
    bool shown = false;   // the display stands even when result is an error
};

// Reads through Daten, or through the object itself when it has no handle
// number, as Daten does for a registered handle.
std::uint8_t ReadLong(Daten& daten, const Target& target, std::int32_t& value) {
    if (!target.object) return daten.GetValue(target.handle, value, target.index, target.axis);
    value = target.object->GetValue(target.index, target.axis);
    return target.object->LastError();
}
std::uint8_t ReadText(Daten& daten, const Target& target, char* text, std::uint16_t size) {
    if (!target.object) return daten.GetValue(target.handle, text, size, target.index, target.axis);
    target.object->GetString(text, size, target.index, target.axis);
    return target.object->LastError();
}
std::uint8_t Display(Daten& daten, const Target& target, std::int32_t value, char* text,
                     std::uint16_t size) {
    return target.object ? target.object->Value2String(value, text, size)
                         : daten.Value2String(target.handle, value, text, size);
}

Reading Read(Daten& daten, const Target& target, bool display) {
    Reading reading;
    const std::uint16_t type =
        target.object ? static_cast<std::uint16_t>(target.object->DatenTyp()) : daten.DatenTyp(target.handle);
    char text[kTextRead + 1] = "";
    if (type == DInfo::STRING) {
        reading.result = ReadText(daten, target, text, kTextRead);
        if (reading.result == 0) {
            reading.raw = reading.rawText = reading.text = text;
            reading.shown = true;
        }
    } else if (type == DInfo::REAL && !target.object) {
        double value = 0;
        reading.result = daten.GetValue(target.handle, value, target.index, target.axis);
        if (reading.result != 0) return reading;
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", value);
        reading.rawText = number;
        reading.raw = value;
        if (!display) return reading;
        // The invalid REAL marker shows as "?", a value too wide for its
        // field as its stars: both are displays, shown before their error.
        reading.result = daten.Value2String(target.handle, value, text, sizeof text);
        reading.shown = reading.result == 0 || reading.result == Daten::NotEnoughSpace ||
                        (reading.result == Daten::ValueOutOfRange && value == Daten::kInvalidReal);
    } else {
        std::int32_t value = 0;
        reading.result = ReadLong(daten, target, value);
        if (reading.result != 0) return reading;
        // The unsigned type shows the number its bit pattern stands for.
        if (type == DInfo::QZLONGCARD)
            reading.raw = static_cast<std::uint32_t>(value);
        else
            reading.raw = value;
        reading.rawText = reading.raw.dump();
        if (!display) return reading;
        reading.result = Display(daten, target, value, text, sizeof text);
        reading.shown = reading.result == 0 || reading.result == Daten::NotEnoughSpace;
    }
    if (reading.shown && type != DInfo::STRING) reading.text = text;
    return reading;
}

nlohmann::json Document(Daten& daten, const Target& target) {
    if (target.object)
        return {{"handle", nullptr},
                {"name", target.object->Name() ? target.object->Name() : ""},
                {"index", target.index},
                {"axis", target.axis}};
    char name[Handles::kNameBufferSize];
    const char* found = daten.GetHandles()->HandleToName(target.handle, name, Handles::kNoHandle);
    return {{"handle", target.handle},
            {"name", found ? nlohmann::json(found) : nlohmann::json()},
            {"index", target.index},
            {"axis", target.axis}};
}

int Get(Session& session, const Words& words) {
    Target target;
    if (const int code = ParseTarget(session, words, 1, target)) return code;
    Daten& daten = *session.daten();
    const Reading reading = Read(daten, target, true);
    if (!reading.shown) return LibraryError(reading.result);
    const char* unit =
        target.object ? target.object->GetUnitString() : daten.GetUnitString(target.handle);
    if (session.Json()) {
        nlohmann::json document = Document(daten, target);
        document["raw"] = reading.raw;
        document["text"] = reading.text;
        document["unit"] = unit ? unit : "";
        PrintJson(document);
    } else if (unit && *unit) {
        std::printf("%s %s\n", Printable(reading.text).c_str(), Printable(unit).c_str());
    } else {
        std::printf("%s\n", Printable(reading.text).c_str());
    }
    return reading.result == 0 ? 0 : LibraryError(reading.result);
}

int GetRaw(Session& session, const Words& words) {
    Target target;
    if (const int code = ParseTarget(session, words, 1, target)) return code;
    Daten& daten = *session.daten();
    const Reading reading = Read(daten, target, false);
    if (reading.result != 0) return LibraryError(reading.result);
    if (session.Json()) {
        nlohmann::json document = Document(daten, target);
        document["raw"] = reading.raw;
        PrintJson(document);
    } else {
        std::printf("%s\n", Printable(reading.rawText).c_str());
    }
    return 0;
}

// A whole decimal integer, or the bit pattern of an unsigned one up to
// 4294967295.
bool ParseInteger(const std::string& text, std::int32_t& value) {
    if (text.empty() || text.size() > 12) return false;
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == ' ') return false;
    if (number < INT32_MIN || number > 4294967295LL) return false;
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
    return true;
}

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && text[0] != ' ';
}

int SetRaw(Session& session, const Words& words) {
    Target target;
    // The value sits between the name and the index.
    Words shifted = {words[0], words[1]};
    shifted.insert(shifted.end(), words.begin() + 3, words.end());
    if (const int code = ParseTarget(session, shifted, 1, target)) return code;
    const std::string& text = words[2];
    Daten& daten = *session.daten();
    std::uint8_t result = 0;
    if (CData* object = target.object) {
        std::int32_t value = 0;
        if (object->DatenTyp() == DInfo::STRING) {
            object->SetString(text.c_str(), target.index, target.axis);
        } else if (!ParseInteger(text, value)) {
            return UsageError("bad VALUE '" + text + "'");
        } else {
            object->SetValue(value, target.index, target.axis);
        }
        return object->LastError() == 0 ? 0 : LibraryError(object->LastError());
    }
    if (daten.DatenTyp(target.handle) == DInfo::STRING) {
        result = daten.SetValue(target.handle, text.c_str(), target.index, target.axis);
    } else if (text.find_first_of(".eE") != std::string::npos) {
        double value = 0;
        if (!ParseDouble(text, value)) return UsageError("bad VALUE '" + text + "'");
        result = daten.SetValue(target.handle, value, target.index, target.axis, 0);
    } else {
        std::int32_t value = 0;
        if (!ParseInteger(text, value)) return UsageError("bad VALUE '" + text + "'");
        result = daten.SetValue(target.handle, value, target.index, target.axis, 0, 0);
    }
    return result == 0 ? 0 : LibraryError(result);
}

int Inch(Session& session, const Words& words) {
    Daten& daten = *session.daten();
    std::string flag = "all";
    std::string operation;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (operation.empty() && (word == "on" || word == "off" || word == "toggle"))
            operation = word;
        else if (i == 1 && (word == "1" || word == "2" || word == "all"))
            flag = word;
        else
            return UsageError("usage: inch [1|2|all] [on|off|toggle]");
    }
    if (operation == "on") {
        if (flag == "1") daten.SetInchFlag1();
        if (flag == "2") daten.SetInchFlag2();
        if (flag == "all") daten.SetInchAll();
    } else if (operation == "off") {
        if (flag == "1") daten.ClearInchFlag1();
        if (flag == "2") daten.ClearInchFlag2();
        if (flag == "all") daten.ClearInchAll();
    } else if (operation == "toggle") {
        if (flag == "1") daten.ToggleInchFlag1();
        if (flag == "2") daten.ToggleInchFlag2();
        if (flag == "all") daten.ToggleInchAll();
    }
    std::printf("inch1 %d inch2 %d\n", daten.mInchFlag1 ? 1 : 0, daten.mInchFlag2 ? 1 : 0);
    return 0;
}

int Units(Session& session, const Words&) {
    const std::uint8_t result = session.daten()->InitInchMetricCnc47();
    return result == 0 ? 0 : LibraryError(result);
}

int Default(Session& session, const Words& words) {
    Target target;
    target.handle = Handles::kNoHandle;
    if (words.size() > 1) {
        if (const int code = ParseTarget(session, words, 1, target)) return code;
        // Default writes nothing for a handle without a record: say so.
        if (!session.daten()->FindRecord(target.handle))
            return LibraryError(Daten::HandleNotFound);
    }
    session.daten()->Default(0, target.handle, target.index);
    return 0;
}

const VerbRegistration kGet("get",
                            {"get NAME [INDEX] [AXIS]",
                             "read a value and show it as the operator sees it", 1, 3, true, Get,
                             true});
const VerbRegistration kGetRaw("getraw", {"getraw NAME [INDEX] [AXIS]", "read the stored value", 1,
                                          3, true, GetRaw, true});
const VerbRegistration kSetRaw("setraw", {"setraw NAME VALUE [INDEX] [AXIS]",
                                          "write a stored value (SetValue)", 2, 4, true, SetRaw});
const VerbRegistration kInch("inch", {"inch [1|2|all] [on|off|toggle]",
                                      "switch the inch flags; prints them", 0, 2, true, Inch});
const VerbRegistration kUnits("units", {"units", "reload the unit state from the controller", 0, 0,
                                        true, Units});
const VerbRegistration kDefault("default",
                                {"default [NAME]", "write the default of one handle, or of all", 0,
                                 1, true, Default});

}  // namespace
}  // namespace korvex::cli
