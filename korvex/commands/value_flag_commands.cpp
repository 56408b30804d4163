// Value commands (a typed value becomes a command line) and flag commands (a
// written number picks a command of the command file).
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "korvex/commands/interpreter.h"

using korvex::host::Host;

namespace korvex::commands {
namespace {

// Value commands with a fixed command word: word, index + 1, middle, text.
struct FixedValueCommand {
    std::uint16_t handle;
    const char* word;
    const char* middle;
    bool refresh;  // the host frame refreshes after the command went out
};
constexpr FixedValueCommand kFixedValueCommands[] = {
    {498, "ZOM", "S1O", true},  {499, "LEO", "S1O", true}, {500, "ASO", "O", true},
    {861, "KOF", "O", false},   {1007, "ZLOF", "", true},  {1220, "ZOM", "S2O", true},
    {1221, "LEO", "S2O", true},
};

// A member of a group command: its handle name and its letter.
struct GroupMember {
    const char* name;
    char letter;
};
constexpr GroupMember kPanelArea[] = {
    {"ComPAXMIN", 'X'}, {"ComPAYMIN", 'Y'}, {"ComPAXMAX", 'X'}, {"ComPAYMAX", 'Y'}};
constexpr GroupMember kSafetyZone[] = {{"ComSZXMIN", 'X'}, {"ComSZYMIN", 'Y'},
                                       {"ComSZXMAX", 'X'}, {"ComSZYMAX", 'Y'},
                                       {"ComSZH", 'H'}};
constexpr GroupMember kPinAreaX[] = {{"ComSZPXMIN", 'X'}, {"ComSZPXMAX", 'X'}};
constexpr GroupMember kPinAreaY[] = {{"ComSZPYMIN", 'Y'}, {"ComSZPYMAX", 'Y'}};
constexpr GroupMember kStartPoint[] = {{"ComSAX", 'X'}, {"ComSAY", 'Y'}};

template <std::size_t N>
bool IsMember(Daten& daten, std::uint16_t handle, const GroupMember (&group)[N]) {
    for (const GroupMember& member : group)
        if (IsNamed(daten, handle, member.name)) return true;
    return false;
}

// Appends every member's letter and value: the typed text for the member
// being written, the present value for the others.
template <std::size_t N>
void AppendGroup(Daten& daten, CommandLine& command, const GroupMember (&group)[N],
                 std::uint16_t handle, const char* text, std::uint16_t index, std::uint8_t flag) {
    for (const GroupMember& member : group) {
        command.Append(member.letter);
        const std::uint16_t memberHandle = NamedHandle(daten, member.name);
        if (memberHandle != Handles::kNoHandle && memberHandle == handle) {
            command.Append(text);
            continue;
        }
        // A failed read sends the member as 0.
        std::int32_t value = 0;
        daten.GetValue(memberHandle, value, index, flag);
        char shown[256] = {};
        daten.Value2String(memberHandle, value, shown, sizeof shown);
        command.Append(shown);
    }
}

// Handle 1489: above 1, several commands carry the station number.
bool SeveralStations(Daten& daten) {
    std::int32_t stations = 0;
    daten.GetValue(1489, stations, 0, 255);
    return stations > 1;
}

void Notify(Daten& daten, std::intptr_t what) {
    if (TApplFrame* frame = daten.Frame()) frame->frameNotify(kFrameMessage, 31, what);
}

void FollowUp(Daten& daten, const char* command) {
    if (TApplFrame* frame = daten.Frame()) frame->frameCommandFollowUp(command);
}

// Letters of the flag commands by index; '-' marks an index without a letter.
struct LetterTable {
    std::uint16_t handle;  // 0: found by name
    const char* name;
    const char* letters;
};
constexpr LetterTable kLetterTables[] = {
    {1595, nullptr, "GBZA$TSRFHI58CUJLDOWV1-QYE"},
    {2024, nullptr, "D"},
    {934, nullptr, "DLR--VNX"},
    {0, "ComZOVRFlags", "NRMP"},
    {0, "ComWZWM", "M-NCOHRAE-SJPI---BVU"},
    {0, "ComynPRGM", "ZH--------W"},
    {0, "ComynROUT", "-NAR-VUDTS"},
    {0, "ComDITM", "H--TCUL"},
    {0, "ComPEKM", "ZFNDTM"},
    {0, "ComMESS", "L"},
    {0, "ComROUM", "NR"},
    {0, "ComynZSPD", "--RFDXZSQ"},
    {0, "ComynCDMO", "1ANVOPTSU"},
    {0, "ComCDMO", "1ANVOPTSU"},
};

const char* LettersOf(Daten& daten, std::uint16_t handle) {
    for (const LetterTable& table : kLetterTables) {
        if (table.name ? IsNamed(daten, handle, table.name) : table.handle == handle)
            return table.letters;
    }
    return nullptr;
}

bool OneOf(std::uint16_t handle, std::initializer_list<std::uint16_t> handles) {
    for (std::uint16_t h : handles)
        if (h == handle) return true;
    return false;
}

std::uint8_t SendValueTemplate(Daten& daten, const char* text, std::uint16_t handle,
                               std::uint16_t index, std::uint8_t flag) {
    char name[Handles::kNameBufferSize];
    if (!daten.GetHandles() || !daten.GetHandles()->HandleToName(handle, name, Handles::kNoHandle, sizeof name)) {
        daten.ErrorMessage(handle, Daten::HandleNotFound);
        return Daten::HandleNotFound;
    }
    // Read with room to spare, so that a template longer than its 128-byte
    // buffer is seen and refused instead of cut.
    char templateText[2 * Daten::kValueTemplateMax + 2] = {};
    Host().GetPrivateProfileString(name, "Val", "", templateText, sizeof templateText,
                                   daten.CommandFile());
    if (!templateText[0]) {
        daten.ErrorMessage(handle, Daten::CommandStringNotFound);
        return Daten::CommandStringNotFound;
    }
    BoundedText<Daten::kValueTemplateMax + 1> command;
    if (char* mark = std::strchr(templateText, '?')) {
        command.Append(templateText, static_cast<std::size_t>(mark - templateText));
        // The station as one character counted from "1"; past the ninth
        // station it runs on through the characters after "9".
        if (SeveralStations(daten))
            command.Append(static_cast<char>('1' + index));
        else
            command.Append(' ');
        command.Append(mark + 1);
    } else {
        command.Append(templateText);
    }
    command.Append(text);
    if (command.Overflowed()) return RefuseTooLong(daten, handle);

    if ((Daten::hasCom(command.c_str(), "FA") || Daten::hasCom(command.c_str(), "FB") ||
         Daten::hasCom(command.c_str(), "FT") || Daten::hasCom(command.c_str(), "FV") ||
         Daten::hasCom(command.c_str(), "AOF")) &&
        daten.Frame())
        daten.Frame()->frameMessage(kFrameMessage, 31, std::intptr_t{10});

    const std::uint8_t result = daten.CheckAndSendComm(command.data(), index, flag);
    if (result != 0 || !daten.Frame()) return result;
    if (Daten::hasCom(command.c_str(), "AOF")) {
        FollowUp(daten, command.c_str());
    } else if (Daten::hasCom(command.c_str(), "FB") || Daten::hasCom(command.c_str(), "FT") ||
               Daten::hasCom(command.c_str(), "FV")) {
        if (daten.isSpotFacingMemUsed())
            FollowUp(daten, command.c_str());
        else
            Notify(daten, 9);
    } else if (Daten::hasCom(command.c_str(), "FA")) {
        FollowUp(daten, command.c_str());
    } else if (Daten::hasCom(command.c_str(), "RA")) {
        Notify(daten, 0);
    }
    return result;
}

}  // namespace
}  // namespace korvex::commands

using namespace korvex::commands;

std::uint8_t Daten::HandleCommVal(const char* text, std::uint16_t handle, std::uint16_t index,
                                  std::uint8_t flag) {
    if (!text) text = "";
    CommandLine command;
    bool refresh = false;
    const long long station = static_cast<long long>(index) + 1;

    const FixedValueCommand* fixed = nullptr;
    for (const FixedValueCommand& row : kFixedValueCommands)
        if (row.handle == handle) fixed = &row;

    if (fixed) {
        command.Append(fixed->word).AppendNumber(station).Append(fixed->middle).Append(text);
        refresh = fixed->refresh;
    } else if (handle == 1056) {
        command.Append("CAMQ");
        if (SeveralStations(*this)) command.AppendNumber(station).Append('O');
        command.Append(text);
    } else if (IsNamed(*this, handle, "ComFVO")) {
        command.Append("FVO").AppendNumber(index / 2 + 1).Append(index % 2 == 0 ? 'X' : 'Y');
        command.Append(text);
        refresh = true;
    } else if (IsNamed(*this, handle, "ComynEURM")) {
        command.Append("EURM").Append(text);
        if (text[0] == '1') {
            const std::uint16_t distance = NamedHandle(*this, "ComEURM");
            std::int32_t value = 0;
            GetValue(distance, value, index, flag);
            char shown[64] = {};
            Value2String(distance, value, shown, sizeof shown);
            command.Append('D').Append(shown);
        }
    } else if (IsMember(*this, handle, kPanelArea)) {
        command.Append("PA");
        AppendGroup(*this, command, kPanelArea, handle, text, index, flag);
    } else if (IsMember(*this, handle, kSafetyZone)) {
        command.Append("SZ");
        AppendGroup(*this, command, kSafetyZone, handle, text, index, flag);
    } else if (IsMember(*this, handle, kPinAreaX)) {
        command.Append("SZP");
        AppendGroup(*this, command, kPinAreaX, handle, text, index, flag);
    } else if (IsMember(*this, handle, kPinAreaY)) {
        command.Append("SZP");
        AppendGroup(*this, command, kPinAreaY, handle, text, index, flag);
    } else if (IsNamed(*this, handle, "ComFAMask")) {
        static const char* const kMCodes[8] = {"M50", "M60M70", "M70", "M60",
                                               "M80", "M60M90", "M90", "M60M80"};
        std::int32_t elements[3] = {};
        for (std::uint16_t i = 0; i < 3; ++i) GetValue(handle, elements[i], i, flag);
        if (index < 3) elements[index] = text[0] - '0';
        const unsigned mask = (elements[0] != 0 ? 1u : 0u) | (elements[1] != 0 ? 2u : 0u) |
                              (elements[2] != 0 ? 4u : 0u);
        command.Append("FA").Append(kMCodes[mask]);
    } else if (IsMember(*this, handle, kStartPoint)) {
        command.Append("SA");
        if (SeveralStations(*this)) command.AppendNumber(station);
        AppendGroup(*this, command, kStartPoint, handle, text, index, flag);
    } else if (IsNamed(*this, handle, "CHEKMode")) {
        command.Append("CHEK");
        if (text[0] == '0') command.Append('-');
        if (index < 3) command.Append("ABC"[index]);
    } else if (IsNamed(*this, handle, "ComSCNT")) {
        command.Append("SCNT").AppendNumber(station).Append('V').Append(text);
    } else if (IsNamed(*this, handle, "ComCODI")) {
        command.Append("CODI").AppendNumber(station).Append('D').Append(text);
    } else {
        return SendValueTemplate(*this, text, handle, index, flag);
    }

    if (command.Overflowed()) return RefuseTooLong(*this, handle);
    const std::uint8_t result = CheckAndSendComm(command.data(), index, flag);
    if (result == 0 && refresh) Notify(*this, 0);
    return result;
}

std::uint8_t Daten::HandleCommFlag(std::uint16_t handle, std::int32_t value, std::uint16_t index,
                                   std::uint8_t flag) {
    char name[Handles::kNameBufferSize];
    if (!mHandles || !mHandles->HandleToName(handle, name, Handles::kNoHandle, sizeof name)) {
        ErrorMessage(handle, HandleNotFound);
        return HandleNotFound;
    }
    char key[16];
    std::snprintf(key, sizeof key, "Val%d", static_cast<int>(value));
    // As with value templates: read with room to spare, refuse what does not fit.
    char templateText[2 * kCommandLineMax + 2] = {};
    Host().GetPrivateProfileString(name, key, "", templateText, sizeof templateText,
                                   CommandFile());
    if (!templateText[0]) {
        ErrorMessage(handle, CommandStringNotFound);
        return CommandStringNotFound;
    }
    CommandLine command(templateText);

    if (OneOf(handle, {662, 1624, 682, 1635})) {
        command.AppendNumber(static_cast<long long>(index) + 1);
    } else if (OneOf(handle, {1188, 382, 383, 797})) {
        // These marks can only be cleared by the operator.
        if (value != 0) return Ok;
        command.AppendNumber(static_cast<long long>(index) + 1);
    } else if (IsNamed(*this, handle, "ComynSPEK")) {
        command.AppendNumber(index);
    } else if (const char* letters = LettersOf(*this, handle)) {
        const char letter = index < std::strlen(letters) ? letters[index] : '-';
        if (letter == '-') return Ok;
        if (value == 0) command.Append('-');
        command.Append(letter);
        if (command.Overflowed()) return RefuseTooLong(*this, handle);
        return CheckAndSendComm(command.data(), index, flag);
    }
    if (command.Overflowed()) return RefuseTooLong(*this, handle);
    WriteProtocol(mFrame, "COMM", nullptr, command.c_str());
    return Comm(command.data(), kCommandLine, index, flag);
}
