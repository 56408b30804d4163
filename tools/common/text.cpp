#include "tools/common/text.h"

namespace korvex::tools {

bool ParseUnsigned(std::string_view text, unsigned long max, unsigned long& value) {
    // Ten digits fit the 64-bit accumulator; more are no number a verb takes.
    if (text.empty() || text.size() > 10) return false;
    unsigned long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<unsigned long>(c - '0');
    }
    if (result > max) return false;
    value = result;
    return true;
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

bool Utf8ToLatin1(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == 0) return false;
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            continue;
        }
        // Only U+0080..U+00FF fit: lead byte C2 or C3 and one continuation.
        if ((byte != 0xC2 && byte != 0xC3) || i + 1 >= text.size()) return false;
        const auto next = static_cast<unsigned char>(text[++i]);
        if ((next & 0xC0) != 0x80) return false;
        out += static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F));
    }
    return true;
}

}  // namespace korvex::tools
