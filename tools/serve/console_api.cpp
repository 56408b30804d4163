#include "tools/serve/console_api.h"

#include <algorithm>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

#include "korvex/data/cdata.h"
#include "korvex/korvex.h"
#include "tools/bridge/value_watch.h"
#include "tools/common/text.h"

namespace korvex::serve {
namespace {

using Json = nlohmann::ordered_json;

// A parameter that is not a number is an error 13; a number too large, 3.
bool ParseParameter(const std::string& text, unsigned long max, unsigned long& value,
                    const char* what, Answer& error) {
    if (tools::ParseUnsigned(text, max, value)) return true;
    bool digits = !text.empty();
    for (char c : text) digits = digits && c >= '0' && c <= '9';
    error = digits ? ErrorAnswer(400, Daten::ValueOutOfRange,
                                 std::string(what) + " " + text + " is too large")
                   : ErrorAnswer(400, Daten::ParameterError,
                                 std::string(what) + " '" + text + "' is not a number");
    return false;
}

std::string Utf8(const std::string& latin1) { return bridge::Latin1ToUtf8(latin1); }

}  // namespace

Answer ErrorAnswer(int status, std::uint8_t code, const std::string& text) {
    Json json;
    json["error"] = code;
    json["text"] = text.empty() ? Daten::ErrorText(code) : text;
    return {status, json.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

bool IsLoopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

bool ParseServeArguments(const std::vector<std::string>& words, ServeOptions& options,
                         std::string& error) {
    if (words.empty()) {
        error = "serve needs [HOST:]PORT";
        return false;
    }
    std::string address = words[0];
    const std::size_t colon = address.rfind(':');
    std::string port = address;
    if (colon != std::string::npos) {
        options.host = address.substr(0, colon);
        port = address.substr(colon + 1);
        // [::1]:8080 names an IPv6 address; "[]" or an unmatched bracket names none.
        const bool opens = !options.host.empty() && options.host.front() == '[';
        const bool closes = !options.host.empty() && options.host.back() == ']';
        const bool bracketed = opens && closes && options.host.size() > 2;
        if (bracketed) options.host = options.host.substr(1, options.host.size() - 2);
        if (options.host.empty() || (!bracketed && (opens || closes))) {
            error = "bad HOST in '" + address + "'";
            return false;
        }
    }
    unsigned long number = 0;
    if (!tools::ParseUnsigned(port, 65535, number)) {
        error = "bad PORT '" + port + "'";
        return false;
    }
    options.port = static_cast<int>(number);
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& option = words[i];
        if (option != "--writable" && option != "--interval" && option != "--token-file") {
            error = "unknown serve option '" + option + "'";
            return false;
        }
        if (i + 1 >= words.size()) {
            error = option + " needs a value";
            return false;
        }
        const std::string& value = words[++i];
        if (option == "--writable") {
            options.writable.push_back(value);
        } else if (option == "--interval") {
            if (!tools::ParseUnsigned(value, 3600000, number) || number < 10) {
                error = "bad --interval '" + value + "' (10 to 3600000 ms)";
                return false;
            }
            options.intervalMs = static_cast<unsigned>(number);
        } else {
            options.tokenFile = value;
        }
    }
    if (options.tokenFile.empty() && !IsLoopback(options.host)) {
        error = "serving on " + options.host + " needs --token-file (a bearer token)";
        return false;
    }
    return true;
}

ConsoleApi::ConsoleApi(Daten& daten, std::vector<std::string> writable,
                       const char* (*typeName)(unsigned),
                       std::function<std::vector<tools::LintFinding>()> lint, InputRunner input)
    : mDaten(daten),
      mWritable(std::move(writable)),
      mTypeName(typeName),
      mLint(std::move(lint)),
      mInput(std::move(input)) {}

std::size_t ConsoleApi::Elements(std::uint16_t handle, CData* object) {
    return object ? std::max<unsigned>(1, object->GetMaxTabElemAnz())
                  : bridge::ValueWatch::Elements(mDaten, handle);
}

bool ConsoleApi::Find(const std::string& utf8, std::uint16_t& handle, CData*& object,
                      std::uint16_t& index, bool& indexGiven, Answer& error) {
    std::string name;
    handle = Handles::kNoHandle;
    object = nullptr;
    index = 0;
    indexGiven = false;
    if (bridge::Utf8ToLatin1(utf8, name) && !name.empty() && mDaten.GetHandles()) {
        handle = mDaten.GetHandles()->NameToHandle(name.c_str(), index);
        indexGiven = name.find(' ') != std::string::npos && handle != Handles::kNoHandle;
        if (handle == Handles::kNoHandle) {
            object = mDaten.FindRegistered(name.c_str());
            if (object && object->Handle() != Handles::kNoHandle) handle = object->Handle();
            if (object && handle != Handles::kNoHandle) object = nullptr;
        }
    }
    // An object without a number, with an element: "NAME INDEX".
    const std::size_t blank = name.rfind(' ');
    if (!object && handle == Handles::kNoHandle && blank != std::string::npos && blank > 0) {
        unsigned long element = 0;
        CData* found = nullptr;
        if (tools::ParseUnsigned(name.substr(blank + 1), 0xFFFF, element) &&
            (found = mDaten.FindRegistered(name.substr(0, blank).c_str())) &&
            found->Handle() == Handles::kNoHandle) {
            object = found;
            index = static_cast<std::uint16_t>(element);
            indexGiven = true;
        }
    }
    if (object || (handle != Handles::kNoHandle && mDaten.FindRecord(handle))) return true;
    error = ErrorAnswer(404, Daten::HandleNotFound, "Handle not found! (" + utf8 + ")");
    return false;
}

std::uint8_t ConsoleApi::ReadOne(std::uint16_t handle, CData* object, std::uint16_t index,
                                 bridge::Reading& reading) {
    return object ? bridge::ValueWatch::Read(*object, index, reading)
                  : bridge::ValueWatch::Read(mDaten, handle, index, reading);
}

Answer ConsoleApi::Names(const std::string& match, const std::string& limitText, bool hasLimit,
                         const std::string& offsetText) {
    unsigned long limit = 200, offset = 0;
    Answer error;
    if (hasLimit && !ParseParameter(limitText, 100000, limit, "limit", error)) return error;
    if (!offsetText.empty() && !ParseParameter(offsetText, 100000000, offset, "offset", error))
        return error;
    std::string pattern;
    if (!bridge::Utf8ToLatin1(match.empty() ? "*" : match, pattern))
        return ErrorAnswer(400, Daten::ParameterError, "match is not a name pattern");
    struct Hit {
        std::uint16_t handle;
        CData* object;
        std::string name;
    };
    std::vector<Hit> hits;
    std::size_t total = 0;
    Handles::ForEach([&](std::uint16_t handle, std::string_view name) {
        if (!bridge::GlobMatch(pattern, name) || !mDaten.FindRecord(handle)) return;
        if (total >= offset && total - offset < limit) hits.push_back({handle, nullptr, std::string(name)});
        ++total;
    });
    mDaten.ForEachUnnumbered([&](const std::string& name, CData* object) {
        if (!object || !bridge::GlobMatch(pattern, name)) return;
        if (total >= offset && total - offset < limit) hits.push_back({Handles::kNoHandle, object, name});
        ++total;
    });
    Json names = Json::array();
    for (const Hit& hit : hits) {
        Json entry;
        entry["name"] = Utf8(hit.name);
        entry["handle"] = hit.object ? Json(nullptr) : Json(hit.handle);
        const DInfo* record = hit.object ? nullptr : mDaten.FindRecord(hit.handle);
        const unsigned type = hit.object ? hit.object->DatenTyp() : record->mType;
        entry["type"] = mTypeName(type);
        const char* unit = hit.object ? hit.object->GetUnitString() : mDaten.GetUnitString(hit.handle);
        entry["unit"] = Utf8(unit ? unit : "");
        entry["elements"] = Elements(hit.handle, hit.object);
        entry["writable"] = bridge::MatchesAny(mWritable, hit.name);
        names.push_back(std::move(entry));
    }
    Json json;
    json["names"] = std::move(names);
    json["total"] = total;
    return {200, json.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

Answer ConsoleApi::Value(const std::string& name, const std::string& indexText, bool hasIndex) {
    std::uint16_t handle, index;
    CData* object;
    bool indexGiven;
    Answer error;
    if (!Find(name, handle, object, index, indexGiven, error)) return error;
    unsigned long number = index;
    if (hasIndex && !ParseParameter(indexText, 0xFFFF, number, "index", error)) return error;
    if (number >= Elements(handle, object))
        return ErrorAnswer(400, Daten::ValueOutOfRange,
                           "index " + std::to_string(number) + " is past the last element");
    bridge::Reading reading;
    const auto element = static_cast<std::uint16_t>(number);
    if (const std::uint8_t code = ReadOne(handle, object, element, reading))
        return ErrorAnswer(502, code);
    std::string latin1;
    bridge::Utf8ToLatin1(name, latin1);
    const std::string plain = indexGiven ? latin1.substr(0, latin1.find(' ')) : latin1;
    const auto number16 = object ? std::nullopt : std::optional<std::uint16_t>(handle);
    return {200, bridge::ValuePayload(number16, plain, element, reading)};
}

Answer ConsoleApi::Table(const std::string& name, const std::string& fromText,
                         const std::string& countText) {
    std::uint16_t handle, index;
    CData* object;
    bool indexGiven;
    Answer error;
    if (!Find(name, handle, object, index, indexGiven, error)) return error;
    unsigned long from = 0, count = 50;
    if (!fromText.empty() && !ParseParameter(fromText, 0xFFFF, from, "from", error)) return error;
    if (!countText.empty() && !ParseParameter(countText, kMaxTableValues, count, "count", error))
        return error;
    const std::size_t elements = Elements(handle, object);
    std::string latin1;
    bridge::Utf8ToLatin1(name, latin1);
    const std::string plain = indexGiven ? latin1.substr(0, latin1.find(' ')) : latin1;
    const auto number = object ? std::nullopt : std::optional<std::uint16_t>(handle);
    std::string values = "[";
    bridge::Reading reading;
    for (std::size_t i = from; i < elements && i < from + count; ++i) {
        if (values.size() > 1) values += ',';
        const auto element = static_cast<std::uint16_t>(i);
        if (const std::uint8_t code = ReadOne(handle, object, element, reading)) {
            Json failed;
            failed["index"] = i;
            failed["error"] = code;
            failed["text"] = Daten::ErrorText(code);
            values += failed.dump();
        } else {
            values += bridge::ValuePayload(number, plain, element, reading);
        }
    }
    values += ']';
    Json head;
    head["name"] = Utf8(plain);
    head["handle"] = number ? Json(*number) : Json(nullptr);
    head["elements"] = elements;
    head["from"] = from;
    std::string body = head.dump(-1, ' ', false, Json::error_handler_t::replace);
    body.pop_back();
    return {200, body + ",\"values\":" + values + "}"};
}

Answer ConsoleApi::Units(const std::string* body) {
    if (body) {
        const Json request = Json::parse(*body, nullptr, false);
        if (request.is_discarded() || !request.is_object())
            return ErrorAnswer(400, Daten::SyntaxError, "the body is not a JSON object");
        const auto inch = request.find("inch");
        if (inch == request.end() || !inch->is_boolean())
            return ErrorAnswer(400, Daten::ParameterError, "\"inch\" must be true or false");
        if (inch->get<bool>())
            mDaten.SetInchAll();
        else
            mDaten.ClearInchAll();
    }
    Json json;
    json["inch1"] = mDaten.mInchFlag1 ? 1 : 0;
    json["inch2"] = mDaten.mInchFlag2 ? 1 : 0;
    return {200, json.dump()};
}

Answer ConsoleApi::Input(const std::string& name, const std::string& body) {
    const Json request = Json::parse(body, nullptr, false);
    if (request.is_discarded() || !request.is_object())
        return ErrorAnswer(400, Daten::SyntaxError, "the body is not a JSON object");
    const auto text = request.find("text");
    const auto indexField = request.find("index");
    const auto preview = request.find("preview");
    if (text == request.end() || !text->is_string())
        return ErrorAnswer(400, Daten::ParameterError, "\"text\" must be a string");
    if (indexField != request.end() && !indexField->is_number_unsigned())
        return ErrorAnswer(400, Daten::ParameterError, "\"index\" must be a whole number from 0");
    if (preview != request.end() && !preview->is_boolean())
        return ErrorAnswer(400, Daten::ParameterError, "\"preview\" must be true or false");

    std::uint16_t handle, index;
    CData* object;
    bool indexGiven;
    Answer error;
    if (!Find(name, handle, object, index, indexGiven, error)) return error;
    std::string latin1;
    bridge::Utf8ToLatin1(name, latin1);
    const std::string plain = indexGiven ? latin1.substr(0, latin1.find(' ')) : latin1;
    if (!bridge::MatchesAny(mWritable, plain))
        return ErrorAnswer(403, Daten::DirectAccessNotAllowed,
                           std::string(Daten::ErrorText(Daten::DirectAccessNotAllowed)));
    std::uint64_t number = index;
    if (indexField != request.end()) number = indexField->get<std::uint64_t>();
    // The element is the command interpreter's to judge (a tool table entry
    // goes out as a command whatever table size the controller reports).
    if (number > 0xFFFF)
        return ErrorAnswer(400, Daten::ValueOutOfRange,
                           "index " + std::to_string(number) + " is beyond 65535");
    std::string operatorText;
    if (!bridge::Utf8ToLatin1(text->get<std::string>(), operatorText))
        return ErrorAnswer(400, Daten::ParameterError,
                           "the text holds characters the controller cannot store");
    if (operatorText.size() > bridge::kMaxSetText)
        return ErrorAnswer(400, Daten::NotEnoughSpace);
    return mInput(handle, object, operatorText, static_cast<std::uint16_t>(number),
                  preview != request.end() && preview->get<bool>());
}

Answer ConsoleApi::Lint() {
    Json findings = Json::array();
    for (const tools::LintFinding& line : mLint()) {
        Json entry;
        entry["file"] = Utf8(line.file);
        entry["line"] = line.line;
        entry["caption"] = Utf8(line.caption);
        entry["text"] = Utf8(line.text);
        findings.push_back(std::move(entry));
    }
    Json json;
    json["findings"] = std::move(findings);
    return {200, json.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

bool ConsoleApi::Watch(const std::string& names, const std::string& indexText, bool hasIndex,
                       std::vector<WatchedValue>& values, Answer& error) {
    unsigned long common = 0;
    if (hasIndex && !ParseParameter(indexText, 0xFFFF, common, "index", error)) return false;
    values.clear();
    std::size_t start = 0;
    while (start <= names.size()) {
        std::size_t end = names.find(',', start);
        if (end == std::string::npos) end = names.size();
        const std::string name = names.substr(start, end - start);
        start = end + 1;
        if (name.empty()) {
            error = ErrorAnswer(400, Daten::ParameterError, "names holds an empty name");
            return false;
        }
        if (values.size() == kMaxWatched) {
            error = ErrorAnswer(400, Daten::ValueOutOfRange,
                                "at most " + std::to_string(kMaxWatched) + " values a stream");
            return false;
        }
        WatchedValue value;
        bool indexGiven;
        if (!Find(name, value.handle, value.object, value.index, indexGiven, error)) return false;
        if (!indexGiven) value.index = static_cast<std::uint16_t>(common);
        if (value.index >= Elements(value.handle, value.object)) {
            error = ErrorAnswer(400, Daten::ValueOutOfRange,
                                "index " + std::to_string(value.index) + " of " + name +
                                    " is past the last element");
            return false;
        }
        bridge::Utf8ToLatin1(name, value.name);
        if (indexGiven) value.name.erase(value.name.find(' '));
        values.push_back(std::move(value));
    }
    return true;
}

std::size_t ConsoleApi::Read(std::vector<WatchedValue>& values, std::string& events) {
    std::size_t count = 0;
    bridge::Reading reading;
    for (WatchedValue& value : values) {
        const std::uint8_t code = ReadOne(value.handle, value.object, value.index, reading);
        if (code != 0) {
            // A failing read is told once, as an event of its own kind; the
            // value is sent again once it reads.
            if (!value.failed) {
                Json json;
                json["name"] = Utf8(value.name);
                json["index"] = value.index;
                json["error"] = code;
                json["text"] = Daten::ErrorText(code);
                events += "event: failed\ndata: " + json.dump() + "\n\n";
                ++count;
            }
            value.failed = true;
            value.known = false;
            continue;
        }
        value.failed = false;
        if (value.known && bridge::SameReading(value.last, reading)) continue;
        const auto number = value.object ? std::nullopt : std::optional<std::uint16_t>(value.handle);
        events += "data: " + bridge::ValuePayload(number, value.name, value.index, reading) + "\n\n";
        std::swap(value.last, reading);
        value.known = true;
        ++count;
    }
    return count;
}

}  // namespace korvex::serve
