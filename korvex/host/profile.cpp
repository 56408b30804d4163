#include "korvex/host/profile.h"

#include <strings.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "korvex/host/host.h"

namespace korvex::host {

namespace {

std::string Strip(const std::string& text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const char* b) {
    return b && a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

}  // namespace

bool LookupProfileValue(const std::string& fileText, const char* section, const char* key,
                        std::string& value) {
    std::istringstream lines(fileText);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        const std::string stripped = Strip(line);
        if (!stripped.empty() && stripped.front() == '[') {
            const std::size_t close = stripped.find(']');
            const std::string name =
                Strip(stripped.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection || stripped.empty() || stripped.front() == ';') continue;
        const std::size_t equals = stripped.find('=');
        if (equals == std::string::npos) continue;
        if (!SameName(Strip(stripped.substr(0, equals)), key)) continue;
        value = Strip(stripped.substr(equals + 1));
        // Windows drops one pair of enclosing quotes.
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return true;
    }
    return false;
}

std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText,
                                char* out, std::uint32_t size, const char* fileName) {
    if (!out || size == 0) return 0;
    std::string value;
    bool found = false;
    if (fileName) {
        std::ifstream file(fileName, std::ios::binary);
        if (file) {
            std::ostringstream text;
            text << file.rdbuf();
            found = LookupProfileValue(text.str(), section, key, value);
        }
    }
    if (!found) value = Strip(defaultText ? defaultText : "");
    StrCopy(out, value.c_str(), size);
    return static_cast<std::uint32_t>(std::strlen(out));
}

}  // namespace korvex::host

namespace korvex::host {

void ProfileIni::SetSection(const char* section, bool) { mSection = section ? section : ""; }

void ProfileIni::InitString(const char* key, char* buffer, unsigned size,
                            const char* defaultText) {
    ReadProfileString(mSection.c_str(), key, defaultText, buffer, size, mFileName.c_str());
}

}  // namespace korvex::host
