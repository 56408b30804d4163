// The service console's answers: names, values, tables, the unit switch,
// operator input and lint findings as JSON, and the values of the live
// event streams. Everything here runs on the thread that owns the Daten;
// the HTTP side only carries requests to it and answers back.
#ifndef KORVEX_TOOLS_SERVE_CONSOLE_API_H_
#define KORVEX_TOOLS_SERVE_CONSOLE_API_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/bridge/bridge_format.h"
#include "tools/common/lint_finding.h"

class CData;
class Daten;

namespace korvex::host {
class SimDriver;
}

namespace korvex::serve {

// An HTTP answer: status and body (JSON unless type says otherwise).
struct Answer {
    int status = 200;
    std::string body;
};

// {"error":CODE,"text":TEXT} with the status that goes with it.
Answer ErrorAnswer(int status, std::uint8_t code, const std::string& text = "");

struct ServeOptions {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::vector<std::string> writable;
    unsigned intervalMs = 200;
    std::string tokenFile;
};

// Parses "[HOST:]PORT [--writable PATTERN]... [--interval MS] [--token-file
// FILE]" (the words after the verb). False with error set on wrong usage.
bool ParseServeArguments(const std::vector<std::string>& words, ServeOptions& options,
                         std::string& error);
// True for an address that only this machine reaches.
bool IsLoopback(const std::string& host);

// Carries out operator input; answers {"error","text","sent"} and the status.
using InputRunner = std::function<Answer(std::uint16_t handle, CData* object, const std::string& text,
                                         std::uint16_t index, bool preview)>;

// One value of an event stream and what its subscriber has of it.
struct WatchedValue {
    std::uint16_t handle = 0;
    CData* object = nullptr;  // a data object without a handle number
    std::uint16_t index = 0;
    std::string name;  // Latin-1
    bool known = false;
    bool failed = false;
    bridge::Reading last;
};

class ConsoleApi {
public:
    // Most values one stream watches, and one table answer holds.
    static constexpr std::size_t kMaxWatched = 1000;
    static constexpr std::size_t kMaxTableValues = 500;

    // typeName: the definition file's keyword of a type.
    ConsoleApi(Daten& daten, std::vector<std::string> writable, const char* (*typeName)(unsigned),
               std::function<std::vector<tools::LintFinding>()> lint, InputRunner input);

    // GET /api/names?match=GLOB&limit=N&offset=M (the names from the M-th
    // match on). Parameters come as given (empty when absent).
    Answer Names(const std::string& match, const std::string& limit, bool hasLimit,
                 const std::string& offset = "");
    // GET /api/value/NAME?index=I.
    Answer Value(const std::string& name, const std::string& index, bool hasIndex);
    // GET /api/table/NAME?from=I&count=N: the elements of a table.
    Answer Table(const std::string& name, const std::string& from, const std::string& count);
    // GET /api/units, and POST /api/units with {"inch":true|false}.
    Answer Units(const std::string* body);
    // POST /api/input/NAME with {"text":..,"index":..,"preview":..}.
    Answer Input(const std::string& name, const std::string& body);
    // GET /api/lint.
    Answer Lint();

    // GET /api/events?names=A,B&index=I: the values to watch. False with
    // error set when the request cannot be served.
    bool Watch(const std::string& names, const std::string& index, bool hasIndex,
               std::vector<WatchedValue>& values, Answer& error);
    // Reads the values; appends one "data: JSON" event per value that
    // changed since the last read (every value at the first). Answers the
    // number of events.
    std::size_t Read(std::vector<WatchedValue>& values, std::string& events);

    // The number of elements of a handle or of an object without a number.
    std::size_t Elements(std::uint16_t handle, CData* object);

private:
    // Finds a name (UTF-8 from the request; "NAME INDEX" as the library
    // writes a name with index). False with the 404 answer set.
    bool Find(const std::string& utf8, std::uint16_t& handle, CData*& object,
              std::uint16_t& index, bool& indexGiven, Answer& error);
    std::uint8_t ReadOne(std::uint16_t handle, CData* object, std::uint16_t index,
                         bridge::Reading& reading);

    Daten& mDaten;
    std::vector<std::string> mWritable;
    const char* (*mTypeName)(unsigned);
    std::function<std::vector<tools::LintFinding>()> mLint;
    InputRunner mInput;
};

}  // namespace korvex::serve

#endif  // KORVEX_TOOLS_SERVE_CONSOLE_API_H_
