// The handle file: its line grammar and its checks, shared by the load of the
// registry (stop at the first error) and the lint (report every error).
//
// Handle file grammar, one entry a line:
//   NAME = NUMBER    text from "//" or ";" on is a remark; a line without
//                    "=" is skipped; the name is stripped of blanks and tabs;
//                    the number is a signed decimal integer ending at the
//                    next blank, of which the low 16 bits count.
//
// Handle cache (after the 256-byte cache header), little endian:
//   256  4  format version 9 (signed 32 bit)
//   260  2  number of entries
//   262     entries in registry iteration order: handle (16 bit), name
//           length n (32 bit), n name bytes without a terminating zero
#ifndef KORVEX_HANDLES_HANDLE_FILE_H_
#define KORVEX_HANDLES_HANDLE_FILE_H_

#include <cstdint>
#include <functional>
#include <string_view>

#include "korvex/handles/cache_file.h"

namespace korvex::files {

// The names and numbers read so far, for the duplicate checks.
class HandleNameTable {
  public:
    virtual ~HandleNameTable() = default;
    virtual bool HasNumber(std::uint16_t number) = 0;
    // REQUIRES: name is zero-terminated.
    virtual bool HasName(const char* name) = 0;
    // False when the entry cannot be stored.
    virtual bool Add(const char* name, std::uint16_t number) = 0;
};

enum class HandleLineKind { Skipped, Entry };
// Splits one line of the handle file.
HandleLineKind ParseHandleLine(std::string_view line, std::string_view& name,
                               std::uint16_t& number);

// Checks the text of a handle file line by line and adds every good entry to
// table. Each error goes to sink; reading stops after the first line whose
// errors the sink did not want to go on from. progress(count) follows every
// entry added. Answers true when no error was found.
bool CheckHandleFile(std::string_view text, HandleNameTable& table, const MessageSink& sink,
                     const std::function<void(std::uint32_t count)>& progress = {});

}  // namespace korvex::files

#endif  // KORVEX_HANDLES_HANDLE_FILE_H_
