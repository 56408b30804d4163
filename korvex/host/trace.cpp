#include "korvex/host/trace.h"

#include <cstring>

namespace korvex::host {

std::string QuoteBytes(const void* data, std::size_t length) {
    static const char kHex[] = "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(length + 2);
    out += '"';
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x20 && c <= 0x7E && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    out += '"';
    return out;
}

std::string QuoteText(const char* text) {
    return text ? QuoteBytes(text, std::strlen(text)) : std::string("\"\"");
}

}  // namespace korvex::host
