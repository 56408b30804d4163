#include "tools/bridge/bridge_format.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "korvex/korvex.h"
#include "tools/common/input_check.h"

namespace korvex::bridge {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

bool ParseBridgeArguments(const std::vector<std::string>& words, BridgeOptions& options,
                          std::string& error) {
    options = BridgeOptions{};
    bool haveAddress = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
            if (haveAddress) {
                error = "unexpected argument '" + word + "'";
                return false;
            }
            const std::size_t colon = word.rfind(':');
            unsigned long port = 0;
            if (colon == std::string::npos || colon == 0 ||
                !tools::ParseUnsigned(std::string_view(word).substr(colon + 1), 65535, port) ||
                port == 0) {
                error = "bad broker address '" + word + "' (HOST:PORT)";
                return false;
            }
            options.host = word.substr(0, colon);
            // [::1]:1883 names an IPv6 host.
            if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']')
                options.host = options.host.substr(1, options.host.size() - 2);
            options.port = static_cast<int>(port);
            haveAddress = true;
            continue;
        }
        if (i + 1 >= words.size()) {
            error = "option " + word + " needs a value";
            return false;
        }
        const std::string& value = words[++i];
        if (word == "--root") {
            // The root is a topic name prefix: no wildcards, no empty level at its end.
            if (value.empty() || value.find_first_of("+#") != std::string::npos ||
                value.back() == '/') {
                error = "bad topic root '" + value + "'";
                return false;
            }
            options.root = value;
        } else if (word == "--publish") {
            options.publish.push_back(value);
        } else if (word == "--writable") {
            options.writable.push_back(value);
        } else if (word == "--interval") {
            unsigned long ms = 0;
            if (!tools::ParseUnsigned(value, 3600000, ms) || ms == 0) {
                error = "bad interval '" + value + "' (1 to 3600000 ms)";
                return false;
            }
            options.intervalMs = static_cast<unsigned>(ms);
        } else if (word == "--username") {
            options.username = value;
        } else if (word == "--password-file") {
            options.passwordFile = value;
        } else if (word == "--tls-ca") {
            options.tlsCa = value;
        } else {
            error = "unknown bridge option '" + word + "'";
            return false;
        }
    }
    if (!haveAddress) {
        error = "bridge needs the broker's HOST:PORT";
        return false;
    }
    if (options.username.empty() != options.passwordFile.empty()) {
        error = "give --username and --password-file together";
        return false;
    }
    return true;
}

bool GlobMatch(std::string_view pattern, std::string_view name) {
    // Greedy match that backtracks to the last '*' only: linear in practice.
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool MatchesAny(const std::vector<std::string>& patterns, std::string_view name) {
    for (const std::string& pattern : patterns)
        if (GlobMatch(pattern, name)) return true;
    return false;
}

bool NameFitsTopic(std::string_view name) {
    return !name.empty() && name.find_first_of(std::string_view("/+#\0", 4)) == std::string_view::npos;
}

std::string ValueTopic(std::string_view root, unsigned cnc, std::string_view name,
                       unsigned index) {
    std::string topic(root);
    topic += '/';
    topic += std::to_string(cnc);
    topic += '/';
    topic += name;
    topic += '/';
    topic += std::to_string(index);
    return topic;
}

std::string SetFilter(std::string_view root, unsigned cnc) {
    return std::string(root) + "/" + std::to_string(cnc) + "/+/+/set";
}

bool ParseSetTopic(std::string_view root, unsigned cnc, std::string_view topic,
                   std::string& name, std::string& index) {
    const std::string prefix = std::string(root) + "/" + std::to_string(cnc) + "/";
    if (topic.size() <= prefix.size() || topic.substr(0, prefix.size()) != prefix) return false;
    std::string_view rest = topic.substr(prefix.size());
    constexpr std::string_view kSet = "/set";
    if (rest.size() <= kSet.size() || rest.substr(rest.size() - kSet.size()) != kSet) return false;
    rest.remove_suffix(kSet.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash == 0 || rest.find('/', slash + 1) != std::string_view::npos)
        return false;
    name = std::string(rest.substr(0, slash));
    index = std::string(rest.substr(slash + 1));
    return true;
}

std::string ResultTopic(std::string_view setTopic) {
    std::string topic(setTopic.substr(0, setTopic.rfind('/') + 1));
    topic += "result";
    return topic;
}

bool SameReading(const Reading& a, const Reading& b) {
    if (a.kind != b.kind || a.display != b.display || a.unit != b.unit) return false;
    switch (a.kind) {
        case Reading::Kind::Integer:
            return a.integer == b.integer;
        case Reading::Kind::Real:
            // Bitwise, so that a NaN equals itself and -0 differs from 0.
            return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
        case Reading::Kind::Text:
            return a.text == b.text;
    }
    return false;
}

std::string ValuePayload(std::optional<std::uint16_t> handle, std::string_view name,
                         unsigned index, const Reading& reading) {
    nlohmann::ordered_json json;
    json["handle"] = handle ? nlohmann::ordered_json(*handle) : nlohmann::ordered_json(nullptr);
    json["name"] = Latin1ToUtf8(name);
    json["index"] = index;
    switch (reading.kind) {
        case Reading::Kind::Integer:
            json["raw"] = reading.integer;
            break;
        case Reading::Kind::Real:
            // JSON has no NaN or infinity: such a value shows as null.
            json["raw"] = std::isfinite(reading.real) ? nlohmann::ordered_json(reading.real)
                                                      : nlohmann::ordered_json(nullptr);
            break;
        case Reading::Kind::Text:
            json["raw"] = Latin1ToUtf8(reading.text);
            break;
    }
    json["text"] = Latin1ToUtf8(reading.display);
    json["unit"] = Latin1ToUtf8(reading.unit);
    return json.dump();
}

std::string ResultPayload(std::uint8_t code) {
    tools::InputResult result;
    result.error = code;
    if (code != 0) result.text = Daten::ErrorText(code);
    return tools::InputResultJson(result);
}

}  // namespace korvex::bridge
