// Flag commands are not built yet: every flag write answers "Command string
// not found!" until the command interpreter sends them.
#include "korvex/korvex.h"

std::uint8_t Daten::HandleCommFlag(std::uint16_t, std::int32_t, std::uint16_t, std::uint8_t) {
    return CommandStringNotFound;
}
