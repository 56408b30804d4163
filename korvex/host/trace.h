// The text form of host and driver calls, one line per call.
#ifndef KORVEX_HOST_TRACE_H_
#define KORVEX_HOST_TRACE_H_

#include <cstddef>
#include <string>

namespace korvex::host {

// All bytes as a double-quoted string: 0x20 to 0x7E as themselves except '"'
// and '\\'; every other byte, and those two, as \x and two lower-case hex
// digits.
std::string QuoteBytes(const void* data, std::size_t length);
// A zero-terminated text quoted the same way (nullptr as "").
std::string QuoteText(const char* text);

}  // namespace korvex::host

#endif  // KORVEX_HOST_TRACE_H_
