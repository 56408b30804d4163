// Small pieces of text handling that the tool, the bridge and the service
// console share: numbers typed as arguments, and the controller's single-byte
// (Latin-1) texts against the UTF-8 of the network.
#ifndef KORVEX_TOOLS_COMMON_TEXT_H_
#define KORVEX_TOOLS_COMMON_TEXT_H_

#include <string>
#include <string_view>

namespace korvex::tools {

// An unsigned decimal number within [0, max]: digits only (no sign, no
// blanks), at most 10 of them. False, and value unchanged, when it is not one.
bool ParseUnsigned(std::string_view text, unsigned long max, unsigned long& value);

std::string Latin1ToUtf8(std::string_view text);
// False when text is not well-formed UTF-8, holds a NUL or a character
// beyond U+00FF (the controller could not store it).
bool Utf8ToLatin1(std::string_view text, std::string& out);

}  // namespace korvex::tools

#endif  // KORVEX_TOOLS_COMMON_TEXT_H_
