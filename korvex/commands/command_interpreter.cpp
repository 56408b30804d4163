// The command interpreter.
#include "korvex/korvex.h"

// Not yet built: no command is sent.
std::uint8_t Daten::Comm(char*, std::uint16_t, std::uint16_t, std::uint8_t) {
    return CommandStringNotFound;
}
void Daten::CheckSpecialCommands(char*) {}
