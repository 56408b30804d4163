// Tool-in-magazine entries of the tool table (handle 273): the command names
// the magazine and place of a tool in the syntax of the machine's magazine
// kind.
#include <cstdlib>
#include <cstring>

#include "korvex/commands/interpreter.h"

namespace korvex::commands {

namespace {

struct Range {
    std::int32_t count;
    std::int32_t start;
    bool Holds(long long index) const {
        return count != 0 && start <= index && index <= static_cast<long long>(start) + count - 1;
    }
};

struct Layout {
    std::int32_t kind;
    std::int32_t places;  // per magazine, kind 0
    Range ranges[3];
    std::int32_t magazines;  // kind 0
};

// Reads the magazine layout; the first failing read ends the command.
std::uint8_t ReadLayout(Daten& daten, Layout& layout) {
    // In reading order: 1226, 1227, 1229, 1230, 1232 and 1233 describe the
    // ranges' rows and columns; they are read so that a broken layout stops
    // the command, but the command does not use them.
    static constexpr std::uint16_t kHandles[] = {1223, 1615, 330,  1226, 1227, 1228, 1778, 1229,
                                                 1230, 1231, 1779, 1232, 1233, 1234, 1780, 845};
    std::int32_t values[sizeof kHandles / sizeof kHandles[0]] = {};
    for (std::size_t i = 0; i < sizeof kHandles / sizeof kHandles[0]; ++i) {
        const std::uint8_t result = daten.GetValue(kHandles[i], values[i], 0, 255);
        if (result != 0) return result;
    }
    layout.kind = values[0];
    layout.places = values[1];
    layout.ranges[0] = {values[5], values[6]};
    layout.ranges[1] = {values[9], values[10]};
    layout.ranges[2] = {values[13], values[14]};
    layout.magazines = values[15] & 0xFFFF;
    return Daten::Ok;
}

std::size_t RunOf(const char* text, const char* set) {
    std::size_t n = 0;
    while (text[n] && std::strchr(set, text[n])) ++n;
    return n;
}

void AppendRun(CommandLine& output, const char* from, const char* set) {
    output.Append(from, RunOf(from, set));
}

// True when text holds an upper-case letter that is not in allowed.
bool HasOtherUpper(const char* text, const char* allowed) {
    for (const char* p = text; *p; ++p)
        if (IsUpper(*p) && !std::strchr(allowed, *p)) return true;
    return false;
}

bool HasUpper(const char* text) { return HasOtherUpper(text, ""); }

// The tool part: from the first "T" (or else "P") the run of T, P, digits,
// signs and points; without either, "T" and the text's leading number.
void AppendToolPart(CommandLine& output, const char* text) {
    const char* tool = std::strchr(text, 'T');
    if (!tool) tool = std::strchr(text, 'P');
    if (tool) {
        AppendRun(output, tool, "TP0123456789-+.");
    } else {
        output.Append('T');
        AppendRun(output, text, "0123456789-+.");
    }
}

MagazineStep Send(Daten& daten, CommandLine& output, std::uint16_t index, std::uint8_t flag) {
    if (output.Overflowed()) return {false, RefuseTooLong(daten, 273)};
    return {false, daten.SetValue(kParameterLine, output.c_str(), index, flag)};
}

// TabIdent followed by the text as the operator typed it.
MagazineStep SendUnchanged(Daten& daten, const char* tabIdent, const InputText& text,
                           std::uint16_t index, std::uint8_t flag) {
    CommandLine output(tabIdent);
    output.Append(text.c_str());
    return Send(daten, output, index, flag);
}

// Magazine kinds 0 and 4: magazine "O", place "E", tool "T" or "P".
MagazineStep MagazinePlaceCommand(Daten& daten, const Layout& layout, const char* tabIdent,
                                  CommandLine& output, const InputText& text,
                                  std::uint16_t index, std::uint8_t flag) {
    const char* typed = text.c_str();
    if (HasOtherUpper(typed, "OTPE")) return SendUnchanged(daten, tabIdent, text, index, flag);
    long long magazine = 0;
    long long place = 0;
    if (layout.kind == 4) {
        const std::uint16_t group = daten.getMagNr(index);
        std::int32_t first = 0;
        const std::uint8_t result = daten.GetValue(1049, first, group, 255);
        if (result != 0) return {false, result};
        magazine = group + 1;
        place = static_cast<long long>(index) - first + 1;
    } else {
        // The index lies in a magazine, so places is above 0 here.
        magazine = index / layout.places + 1;
        place = index % layout.places + 1;
        if (place == layout.places) place -= 1;
    }

    const char* magazinePart = std::strchr(typed, 'O');
    bool secondMagazine = false;
    if (!magazinePart) {
        output.Append('O').AppendNumber(magazine);
    } else {
        AppendRun(output, magazinePart, "O0123456789");
        if (const char* range = std::strstr(typed, "-O")) {
            AppendRun(output, range, "O-0123456789");
            secondMagazine = true;
        }
    }
    if (!std::strchr(typed, 'T') && !std::strchr(typed, 'P') &&
        (secondMagazine || !IsDigit(typed[0])))
        return SendUnchanged(daten, tabIdent, text, index, flag);
    AppendToolPart(output, typed);
    if (const char* placePart = std::strchr(typed, 'E'))
        AppendRun(output, placePart, "E0123456789");
    else if (magazinePart)
        output.Append("E1");
    else
        output.Append('E').AppendNumber(place);
    return Send(daten, output, index, flag);
}

// Magazine kinds 2, 3 and 5: three ranges, each with its letter.
MagazineStep RangeCommand(Daten& daten, const Layout& layout, const char* tabIdent,
                          CommandLine& output, const InputText& text, std::uint16_t index,
                          std::uint8_t flag) {
    const char* letters = layout.kind == 2 ? "ABC" : (layout.kind == 3 ? "NRB" : "URB");
    char allowed[6] = {letters[0], letters[1], letters[2], 'P', 'T', '\0'};
    const char* typed = text.c_str();
    if (HasOtherUpper(typed, allowed)) return SendUnchanged(daten, tabIdent, text, index, flag);
    if (std::strpbrk(typed, letters)) {
        output.Append(typed);
        return Send(daten, output, index, flag);
    }
    int range = 0;
    while (range < 3 && !layout.ranges[range].Holds(index)) ++range;
    if (range == 3) {
        daten.ErrorMessage(273, Daten::SyntaxError);
        return {false, Daten::SyntaxError};
    }
    AppendToolPart(output, typed);
    output.Append(letters[range]).AppendNumber(static_cast<long long>(index) -
                                                layout.ranges[range].start + 1);
    return Send(daten, output, index, flag);
}

bool AllDigits(const char* text) {
    if (!*text) return false;
    for (const char* p = text; *p; ++p)
        if (!IsDigit(*p)) return false;
    return true;
}

// The integer a text begins with (sign and digits), as far as it reads.
long long LeadingInteger(const char* text) {
    const char* p = text;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    long long value = 0;
    // Beyond seven digits the number cannot name an element anyway.
    for (int digits = 0; IsDigit(*p) && digits < 8; ++p, ++digits) value = value * 10 + (*p - '0');
    if (IsDigit(*p)) value = 100000000;
    return negative ? -value : value;
}

}  // namespace

MagazineStep ToolInMagazine(Daten& daten, CommandLine& output, InputText& text,
                            std::uint16_t& index, std::uint8_t flag, DottedText& dotted) {
    Layout layout{};
    const std::uint8_t result = ReadLayout(daten, layout);
    if (result != 0) return {false, result};
    DInfo* info = daten.ExistHandle(273);
    const char* tabIdent = info ? info->mszTabIdent : "";

    const long long inMagazines = static_cast<long long>(layout.magazines) * layout.places;
    bool inMagazine = false;
    switch (layout.kind) {
        case 0:
            inMagazine = index < inMagazines;
            break;
        case 2:
        case 3:
        case 4:
        case 5:
            inMagazine = layout.ranges[0].Holds(index) || layout.ranges[1].Holds(index) ||
                         layout.ranges[2].Holds(index);
            break;
        default:
            // Kind 1 holds every index; so does an unknown kind, which then
            // sends TabIdent alone.
            inMagazine = true;
            break;
    }

    if (layout.kind != 1 && (!inMagazine || text.Contains('M'))) {
        // A number names the tool-table element; the entry then holds the
        // place the index stood for.
        if (BeginsNumeric(text.c_str())) {
            long long place = index;
            if (layout.kind == 0) place -= inMagazines;
            const long long element = LeadingInteger(text.c_str());
            // Elements are counted from 1 and indexes have 16 bits.
            if (element < 1 || element > 0x10000) {
                daten.ErrorMessage(273, Daten::ValueOutOfRange);
                return {false, Daten::ValueOutOfRange};
            }
            if (text.Contains('.')) {
                dotted.Assign(text.c_str());
                // The dotted text has 64 bytes; a longer one is refused, not cut.
                if (dotted.Overflowed()) return {false, RefuseTooLong(daten, 273)};
            }
            index = static_cast<std::uint16_t>(element - 1);
            text.Clear();
            text.AppendNumber(place + 1);
        }
        return {true, Daten::Ok};
    }

    switch (layout.kind) {
        case 0:
        case 4:
            return MagazinePlaceCommand(daten, layout, tabIdent, output, text, index, flag);
        case 2:
        case 3:
        case 5:
            return RangeCommand(daten, layout, tabIdent, output, text, index, flag);
        case 1:
            if (HasUpper(text.c_str()) || !AllDigits(text.c_str())) {
                output.Append(text.c_str());
            } else {
                output.Append('T').Append(text.c_str()).Append('M');
                output.AppendNumber(daten.getMagNr(index) + 1);
            }
            return Send(daten, output, index, flag);
        default:
            return Send(daten, output, index, flag);  // TabIdent alone
    }
}

}  // namespace korvex::commands
