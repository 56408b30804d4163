// Operator input as a host dialog hands it over: the text is checked against
// the handle's definition first, then given to the command interpreter
// (Comm), and every line that reaches the controller for it is recorded. A
// preview runs the same roads with the controller's writes held back, so that
// it names the lines that would be sent and sends nothing.
#ifndef KORVEX_TOOLS_COMMON_INPUT_CHECK_H_
#define KORVEX_TOOLS_COMMON_INPUT_CHECK_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"

class CData;

namespace korvex::tools {

struct InputResult {
    std::uint8_t error = 0;
    std::string text;               // the library's text for error, "" for 0
    std::vector<std::string> sent;  // Latin-1, in the order written
};

struct InputRequest {
    std::uint16_t handle = 0;  // Handles::kNoHandle with object set for an unnumbered name
    CData* object = nullptr;   // the data object when the name has no handle number
    std::string text;          // the operator's text, Latin-1
    std::uint16_t index = 0;
    std::uint8_t axis = 255;
    bool checked = true;   // false: hand the text to Comm as it stands (input --unchecked)
    bool preview = false;  // true: nothing is sent; sent names what would be
};

// The check alone: 0, 13 "Parameter error!" or 3 "Value out of range".
// A numeric handle takes one number as the controller reads it (sign,
// digits, one decimal point, nothing else) inside the definition's Min..Max
// in the display unit in force; a text handle takes printable Latin-1 only.
// A handle the library does not know passes: Comm answers it.
std::uint8_t CheckInputText(Daten& daten, std::uint16_t handle, CData* object,
                            std::string_view text);

// Checks (when request.checked), then runs Comm, recording every line written
// to the controller for it in order. error/text: the library's code and text
// (0 and "" on success).
InputResult RunInput(Daten& daten, host::SimDriver& sim, const InputRequest& request);

// One write as a line of the result: a command line (handles 580 to 582) as
// its text; any other value as NAME[INDEX]=VALUE (the stored value: an
// integer, a REAL with %.17g, or the text); memory as "mem 0xADDRESS HEX" and
// the offset area as "offset N HEX".
std::string DescribeWrite(Daten& daten, const host::SimDriver::Write& write);

// {"error":CODE,"text":"TEXT","sent":["LINE",...]} in UTF-8.
std::string InputResultJson(const InputResult& result);

}  // namespace korvex::tools

#endif  // KORVEX_TOOLS_COMMON_INPUT_CHECK_H_
