// The pure parts of the MQTT bridge: its options, name patterns, topics,
// text encodings and JSON payloads. Nothing here touches the library or the
// network.
#ifndef KORVEX_TOOLS_BRIDGE_BRIDGE_FORMAT_H_
#define KORVEX_TOOLS_BRIDGE_BRIDGE_FORMAT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/text.h"

namespace korvex::bridge {

struct BridgeOptions {
    std::string host;
    int port = 1883;
    std::string root;  // empty: korvex/MACHINE
    std::vector<std::string> publish;
    std::vector<std::string> writable;
    unsigned intervalMs = 200;
    std::string username;
    std::string passwordFile;
    std::string tlsCa;
};

// Parses "HOST:PORT [--root TOPIC] [--publish PATTERN]... ..." (the words
// after the verb). False with error set on wrong usage.
bool ParseBridgeArguments(const std::vector<std::string>& words, BridgeOptions& options,
                          std::string& error);

// Case-insensitive glob over a name: '*' any run of characters, '?' one.
bool GlobMatch(std::string_view pattern, std::string_view name);
bool MatchesAny(const std::vector<std::string>& patterns, std::string_view name);

// A name can stand in a topic level when it is not empty and holds no '/',
// '+', '#' or NUL (MQTT reserves them).
bool NameFitsTopic(std::string_view name);
// ROOT/C/NAME/I.
std::string ValueTopic(std::string_view root, unsigned cnc, std::string_view name,
                       unsigned index);
// The subscription for the sets of one CNC: ROOT/C/+/+/set.
std::string SetFilter(std::string_view root, unsigned cnc);
// Splits ROOT/C/NAME/I/set into NAME and I (I as given, not yet checked);
// false when the topic has another shape or belongs to another root or CNC.
bool ParseSetTopic(std::string_view root, unsigned cnc, std::string_view topic,
                   std::string& name, std::string& index);
// The topic that answers a set topic: its last level "set" becomes "result".
std::string ResultTopic(std::string_view setTopic);

// The controller keeps single-byte (Latin-1) texts; MQTT carries UTF-8.
using tools::Latin1ToUtf8;
using tools::Utf8ToLatin1;

// One value as read from the controller.
struct Reading {
    enum class Kind : std::uint8_t { Integer, Real, Text };
    Kind kind = Kind::Integer;
    std::int64_t integer = 0;  // unsigned types keep their bit pattern's number
    double real = 0;
    std::string text;     // STRING: the stored text (Latin-1)
    std::string display;  // the display text (Latin-1)
    std::string unit;     // the unit text (Latin-1), empty when none
};
// True when a subscriber would see a different message.
bool SameReading(const Reading& a, const Reading& b);

// {"handle":N,"name":"NAME","index":I,"raw":VALUE,"text":"DISPLAY","unit":"UNIT"};
// handle null when the object has no number. name and texts are Latin-1.
std::string ValuePayload(std::optional<std::uint16_t> handle, std::string_view name,
                         unsigned index, const Reading& reading);
// {"error":CODE,"text":"TEXT","sent":[]}: the library's text, "" for 0; a
// set refused before anything was sent.
std::string ResultPayload(std::uint8_t code);

}  // namespace korvex::bridge

#endif  // KORVEX_TOOLS_BRIDGE_BRIDGE_FORMAT_H_
