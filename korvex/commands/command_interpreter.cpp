// The command interpreter: operator input for a handle becomes a value write
// or a controller command line.
#include <cstdio>
#include <cstring>

#include "korvex/commands/interpreter.h"
#include "korvex/data/cdata.h"

using korvex::host::Host;

namespace korvex::commands {

std::uint8_t CurrentCnc(Daten& daten) {
    TAppl* application = daten.Application();
    TGlobalData* global = application ? application->GetGlobalData() : nullptr;
    return global ? static_cast<std::uint8_t>(global->GetAktCnc()) : daten.Cnc();
}

std::uint16_t NamedHandle(Daten& daten, const char* name) {
    Handles* handles = daten.GetHandles();
    return handles ? handles->NameToHandle(name) : Handles::kNoHandle;
}

bool IsNamed(Daten& daten, std::uint16_t handle, const char* name) {
    const std::uint16_t named = NamedHandle(daten, name);
    return named != Handles::kNoHandle && named == handle;
}

void ScrollTable(Daten& daten, const char* row, std::size_t rowLength) {
    TApplFrame* frame = daten.Frame();
    if (!frame) return;
    BoundedText<300> message("SCROLLTABGROUP__0__TO__");
    message.Append(row, rowLength);
    Host().SendMessage(frame->GetHandle(), kFrameMessage, 1, message.c_str());
}

std::uint8_t RefuseTooLong(Daten& daten, std::uint16_t handle) {
    daten.ErrorMessage(handle, Daten::NotEnoughSpace);
    return Daten::NotEnoughSpace;
}

namespace {

bool IsFeedCommand(const char* text) {
    return Daten::hasCom(text, "FA") || Daten::hasCom(text, "FB") || Daten::hasCom(text, "FT") ||
           Daten::hasCom(text, "FV") || Daten::hasCom(text, "AOF");
}

// The length of the run at text made of the characters in set.
std::size_t RunOf(const char* text, const char* set) {
    std::size_t n = 0;
    while (text[n] && std::strchr(set, text[n])) ++n;
    return n;
}

// "TDGoto": scrolls the host's tool table to the first diameter of "TDiaD"
// that is not smaller than value (the row after it when equal).
std::uint8_t ScrollToDiameter(Daten& daten, std::uint16_t gotoHandle, double value,
                              std::uint8_t flag) {
    const std::uint16_t diameters = NamedHandle(daten, "TDiaD");
    // A machine without a diameter list has nothing to scroll.
    if (diameters == Handles::kNoHandle) return Daten::Ok;
    const std::int16_t count = static_cast<std::int16_t>(daten.GetMaxTabElemAnz(diameters));
    std::int32_t i = 0;
    double element = 0;
    for (; i < count; ++i) {
        element = 0;
        if (daten.GetValue(diameters, element, static_cast<std::uint16_t>(i), flag) != 0) {
            daten.ErrorMessage(gotoHandle, Daten::DataOrDriverError);
            return Daten::DataOrDriverError;
        }
        if (element == -32768.0 || element >= value) break;
    }
    if (i < count) {
        char row[16];
        const int length = CommandLine::FormatNumber(element == value ? i + 1 : i, row);
        ScrollTable(daten, row, static_cast<std::size_t>(length));
    }
    return Daten::Ok;
}

// Appends "T" and the tool of the single-tool page (handle 307).
std::uint8_t AppendSelectedTool(Daten& daten, CommandLine& output) {
    std::int32_t tool = 0;
    const std::uint8_t result = daten.GetValue(307, tool, 0, 255);
    if (result != 0) return result;
    output.Append('T').AppendNumber(tool);
    return Daten::Ok;
}

// The tool-parameter road: the command built from TabIdent, TabIndex and
// TabParIdent goes to the parameter command line 582.
std::uint8_t ToolParameterCommand(Daten& daten, const DInfo& info, std::uint16_t handle,
                                  InputText& text, std::uint16_t index, std::uint8_t flag) {
    DottedText dotted;
    CommandLine output(info.mszTabIdent);
    const char* tabIndex = info.mszTabIndex;
    const char* tabPar = info.mszTabParIdent;

    if ((handle == 256 || handle == 266) && daten.Driver())
        daten.Driver()->SendControl(kReloadToolTable, CurrentCnc(daten), 0);

    bool star = false;
    if (handle == 273) {
        const MagazineStep step = ToolInMagazine(daten, output, text, index, flag, dotted);
        if (!step.continueRoad) return step.result;
    } else if (handle == 372) {
        // A router diameter typed with a decimal point is a radius when the
        // machine takes radii (1561).
        std::int32_t radiusInput = 0;
        if (BeginsNumeric(text.c_str()) && daten.GetValue(1561, radiusInput, 0, 255) == 0 &&
            radiusInput != 0 && text.Contains('.')) {
            std::int32_t radius = 0;
            std::uint8_t result = daten.String2Value(handle, text.c_str(), radius);
            if (result != 0) return result;
            const long long diameter = 2LL * radius;
            if (diameter > INT32_MAX || diameter < INT32_MIN) {
                daten.ErrorMessage(handle, Daten::ValueOutOfRange);
                return Daten::ValueOutOfRange;
            }
            char doubled[17] = {};
            result = daten.Value2String(handle, static_cast<std::int32_t>(diameter), doubled,
                                        sizeof doubled);
            if (result != 0) return result;
            text.Assign(doubled);
        }
    } else if ((handle >= 278 && handle <= 286) || handle == 308 || handle == 365) {
        if (text.Empty()) text.Assign("*");
        if (std::strcmp(text.c_str(), "*") == 0) {
            const std::uint16_t owner = handle <= 285 ? 278 : (handle == 308 ? 0 : 286);
            if (owner != 0 && !daten.ExistHandle(owner)) {
                daten.ErrorMessage(handle, Daten::HandleNotFound);
                return Daten::HandleNotFound;
            }
            star = true;
        }
    }

    if ((handle == 286 || handle == 365) && index < Daten::kTTkvFlags)
        daten.MarkTTkvChangedByUser(handle, index);

    if (star || BeginsNumeric(text.c_str())) {
        if (handle >= 308 && handle <= 312) {
            const std::uint8_t result = AppendSelectedTool(daten, output);
            if (result != 0) return result;
        }
        if (*tabIndex) {
            output.Append(tabIndex);
            if (handle == 273 && !dotted.Empty() && dotted.Contains('.'))
                output.Append(dotted.c_str());
            else
                output.AppendNumber(index + 1);
        }
        if (*tabPar) {
            if (handle == 263 && flag < 7)
                output.Append('s').Append(tabPar).AppendNumber(flag + 1).Append('v');
            else
                output.Append(tabPar);
        }
    } else if (handle >= 308 && handle <= 311) {
        if (!text.Contains('T')) {
            const std::uint8_t result = AppendSelectedTool(daten, output);
            if (result != 0) return result;
        }
    } else if (IsNamed(daten, handle, "TKchStat")) {
        if (*tabIndex) output.Append(tabIndex).AppendNumber(index + 1);
        if (*tabPar) output.Append(tabPar);
    } else if (*tabIndex) {
        const char* found = std::strstr(text.c_str(), tabIndex);
        if (found == text.c_str()) {
            const std::uint16_t first = NamedHandle(daten, "TParD");
            const std::uint16_t last = NamedHandle(daten, "TParC");
            const bool parameterSet = first != Handles::kNoHandle && last != Handles::kNoHandle &&
                                      handle >= first && handle <= last;
            if (parameterSet || IsNamed(daten, handle, "TTkvD")) {
                const char* row = std::strpbrk(text.c_str(), "0123456789-");
                if (row) ScrollTable(daten, row, RunOf(row, "0123456789-"));
            }
        } else if (!found && handle != 273) {
            output.Append(tabIndex).AppendNumber(index + 1);
        }
    }

    output.Append(text.c_str());
    if (text.Contains('O') && !text.Contains('E')) output.Append("E1");
    if (output.Overflowed()) return RefuseTooLong(daten, handle);
    return daten.SetValue(kParameterLine, output.c_str(), index, flag);
}

}  // namespace
}  // namespace korvex::commands

using namespace korvex::commands;

bool Daten::hasCom(const char* text, const char* word) {
    if (!text || !word) return false;
    // The first 256 characters are looked at, as Comm keeps them.
    char copy[257];
    StrCopy(copy, text, sizeof copy);
    for (char* p = copy; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    const char* blanks = " \t\n\r";
    const char* begin = copy;
    while (*begin && std::strchr(blanks, *begin)) ++begin;
    std::size_t length = std::strlen(begin);
    while (length > 0 && std::strchr(blanks, begin[length - 1])) --length;
    if (length >= 2 && begin[0] == 'N' && begin[1] == 'O') {
        begin += 2;
        length -= 2;
    }
    const std::size_t wordLength = std::strlen(word);
    return wordLength <= length && std::strncmp(begin, word, wordLength) == 0;
}

bool Daten::FAFVForbidden(const char* text) {
    if (!mFrame) return false;
    bool forbidden = false;
    if (hasCom(text, "FA") || hasCom(text, "FB") || hasCom(text, "FT") || hasCom(text, "AOF"))
        forbidden = mFrame->frameMessage(kFrameMessage, 36, std::intptr_t{0}) != 0;
    if (hasCom(text, "FV"))
        forbidden = mFrame->frameMessage(kFrameMessage, 36, std::intptr_t{1}) != 0 || forbidden;
    return forbidden;
}

void Daten::MarkTTkvChangedByUser(std::uint16_t handle, std::uint16_t index) {
    if (index >= kTTkvFlags) return;
    if (handle == 286) mTTkvChanged286[index] = 1;
    else if (handle == 365) mTTkvChanged365[index] = 1;
    else return;
    mTTkvChangedSummary = 1;
}

std::uint8_t Daten::CheckAndSendComm(char* const text, std::uint16_t index, std::uint8_t flag) {
    static constexpr char kNotPossible[] = "Input %.*s not possible!";
    // The most of the command that the busy message's 256-byte buffer holds:
    // a longer command is cut inside the message only; it is sent whole.
    static constexpr int kShownInMessage = 255 - static_cast<int>(sizeof kNotPossible - 1 - 4);
    const char* command = text ? text : "";
    const std::size_t length = std::strlen(command);

    const std::uint32_t start = Host().GetTickCount();
    std::int32_t busy = 1;
    for (;;) {
        busy = 1;
        const std::uint8_t result = GetValue(kCommandBusy, busy, 0, 255);
        if (result != 0) return result;
        if (busy == 0) break;
        // Unsigned difference: right across the wrap of the tick count.
        if (Host().GetTickCount() - start >= 500) break;
    }
    if (busy != 0) {
        char message[256] = {};
        std::snprintf(message, sizeof message, kNotPossible, kShownInMessage, command);
        if (mFrame) {
            mFrame->frameMessage(kStatusMessage, 0, std::intptr_t{0});
            mFrame->frameMessage(kStatusMessage, 2, static_cast<const char*>(message));
            mFrame->frameMessage(kStatusMessage, 8, std::intptr_t{0});
        }
        return DataOrDriverError;
    }
    if (length > 0) WriteProtocol(mFrame, "COMM", nullptr, command);
    return SetValue(kCommandLine, command, index, flag);
}

std::uint8_t Daten::Comm(char* text, std::uint16_t handle, std::uint16_t index,
                         std::uint8_t flag) {
    InputText input;
    if (text) {
        std::size_t length = 0;
        while (length < 256 && text[length]) ++length;
        input.Append(text, length);
    }

    if (handle >= kFirstRegisteredHandle) {
        CData* object = GetCDataPtr(handle);
        if (!object) {
            ErrorMessage(handle, HandleNotFound);
            return HandleNotFound;
        }
        return object->Comm(input.data(), index, flag);
    }
    DInfo* info = ExistHandle(handle);
    if (!info) {
        ErrorMessage(handle, HandleNotFound);
        return HandleNotFound;
    }

    if (handle == kCommandLine) {
        if (IsFeedCommand(input.c_str()) && !FAFVForbidden(input.c_str()) && mFrame)
            mFrame->frameMessage(kFrameMessage, 31, std::intptr_t{10});
        if (CheckAndSendComm(input.data(), index, flag) == 0) CheckSpecialCommands(input.data());
        return Ok;
    }
    if (handle == kCommandInput) return SetValue(kCommandInput, input.c_str(), index, flag);

    if (mDirectWriteMode || info->mWriteDirect) {
        if (info->mType == DInfo::STRING) return SetValue(handle, input.c_str(), index, flag);
        double value = 0;
        if (String2Value(handle, input.c_str(), value) != 0) return DataOrDriverError;
        if (IsNamed(*this, handle, "TDGoto")) {
            const std::uint8_t result = ScrollToDiameter(*this, handle, value, flag);
            if (result != 0) return result;
        }
        return SetValue(handle, value, index, flag, 0);
    }

    switch (info->mNotDirect) {
        case DInfo::TPara: {
            delete[] mLastCommandText;
            mLastCommandText = StrDup(input.c_str());
            return ToolParameterCommand(*this, *info, handle, input, index, flag);
        }
        case DInfo::CommValue:
            return HandleCommVal(input.c_str(), handle, index, flag);
        default:
            // A flag command takes numbers only (SetValue), never a text.
            ErrorMessage(handle, DataOrDriverError);
            return DataOrDriverError;
    }
}
