// Pieces of the command interpreter shared by its source files.
#ifndef KORVEX_COMMANDS_INTERPRETER_H_
#define KORVEX_COMMANDS_INTERPRETER_H_

#include <cstdint>

#include "korvex/commands/command_text.h"
#include "korvex/korvex.h"

namespace korvex::commands {

// Window messages of the host frame.
constexpr unsigned kFrameMessage = 0x490;     // WM_USER + 0x90
constexpr unsigned kStatusMessage = 0x494;    // WM_USER + 0x94
constexpr std::uint8_t kReloadToolTable = 47;  // SendControl code

// The fixed handles of the command channel.
constexpr std::uint16_t kCommandInput = 580;
constexpr std::uint16_t kCommandLine = 581;
constexpr std::uint16_t kParameterLine = 582;
constexpr std::uint16_t kCommandBusy = 583;

// The operator's text as Comm takes it: at most 256 characters, the rest cut
// (whether the 256 include the terminating zero is not settled; they do not).
using InputText = BoundedText<257>;

// The dotted text of a tool-in-magazine entry (64 bytes).
using DottedText = BoundedText<64>;

// The CNC the host works on now (SendControl takes it at call time).
std::uint8_t CurrentCnc(Daten& daten);

// A handle looked up by name; kNoHandle when the name is not registered.
std::uint16_t NamedHandle(Daten& daten, const char* name);
// True when handle is the one registered under name.
bool IsNamed(Daten& daten, std::uint16_t handle, const char* name);

// Asks the host frame to scroll its tool table to a row ("SCROLLTABGROUP__0__TO__n").
void ScrollTable(Daten& daten, const char* row, std::size_t rowLength);

// Reports a command that does not fit its buffer and answers the refusal.
std::uint8_t RefuseTooLong(Daten& daten, std::uint16_t handle);

// The outcome of the tool-in-magazine rules: either the command went out
// (result is what Comm answers) or the tool-parameter road goes on with the
// index and text the rules left.
struct MagazineStep {
    bool continueRoad;
    std::uint8_t result;
};

// The tool-in-magazine rules of handle 273. output holds the handle's
// TabIdent on entry.
MagazineStep ToolInMagazine(Daten& daten, CommandLine& output, InputText& text,
                            std::uint16_t& index, std::uint8_t flag, DottedText& dotted);

}  // namespace korvex::commands

#endif  // KORVEX_COMMANDS_INTERPRETER_H_
