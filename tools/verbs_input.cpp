// The operator-input verb: text for a handle goes through the command
// interpreter, as a host dialog hands it over.
#include <string>
#include <vector>

#include "korvex/data/cdata.h"
#include "tools/cli.h"

namespace korvex::cli {
namespace {

// Comm answers a text it cannot convert, and a text for a flag handle, with
// error 15 alone; the conversion's own error says why, and its code is the
// verb's. Messages stay off for the second conversion so that a host message
// is not shown twice. Answers the code after printing one line, or 0 when
// there is nothing more to say.
std::uint8_t ExplainFailedInput(Daten& daten, bool messagesOn, std::uint16_t handle,
                                const std::string& name, const std::string& text) {
    const DInfo* record = daten.ExistHandle(handle);
    if (!record || record->mType == DInfo::STRING) return 0;
    if (!daten.DirectWriteMode() && !record->mWriteDirect) {
        if (record->mNotDirect != DInfo::CommFlag) return 0;
        ErrorLine(name + " is a flag: it takes a number (setraw), not operator input");
        return Daten::DataOrDriverError;
    }
    daten.SetMessagesOn(false);
    double value = 0;
    const std::uint8_t why = daten.String2Value(handle, text.c_str(), value);
    daten.SetMessagesOn(messagesOn);
    if (why == 0) return 0;
    ErrorLine("'" + text + "' is not a value for " + name + ": " +
              (why == Daten::DataOrDriverError ? std::string("characters after the number")
                                               : std::string(Daten::ErrorText(why))));
    return why;
}

int Input(Session& session, const Words& words) {
    std::uint16_t handle = 0;
    std::uint16_t index = 0;
    CData* object = nullptr;
    if (!session.ResolveHandle(words[1], handle, index, &object)) return Daten::HandleNotFound;
    unsigned long number = 0;
    if (words.size() > 3) {
        if (!ParseNumber(words[3], 0xFFFF, number)) return UsageError("bad INDEX '" + words[3] + "'");
        index = static_cast<std::uint16_t>(number);
    }
    std::uint8_t axis = 255;
    if (words.size() > 4) {
        if (!ParseNumber(words[4], 255, number)) return UsageError("bad AXIS '" + words[4] + "'");
        axis = static_cast<std::uint8_t>(number);
    }
    // Comm takes a writable text, as the host's input buffer is.
    std::vector<char> text(words[2].begin(), words[2].end());
    text.push_back('\0');
    Daten& daten = *session.daten();
    const bool busy = session.sim().BusyReads() > 0;
    // An object without a handle number takes the input itself.
    const std::uint8_t result = object ? object->Comm(text.data(), index, axis)
                                       : daten.Comm(text.data(), handle, index, axis);
    // The library gives up on a channel that stays busy without a word (and
    // answers 0 for the command line itself): say that nothing was sent.
    if (busy && session.sim().BusyReads() > 0)
        ErrorLine("the command channel stayed busy (CmdBusy read non-zero): nothing was sent");
    if (result == Daten::DataOrDriverError && !object) {
        if (const std::uint8_t why =
                ExplainFailedInput(daten, session.options().messages, handle, words[1], words[2]))
            return why;
    }
    return result == 0 ? 0 : LibraryError(result);
}

const VerbRegistration kInput("input", {"input NAME TEXT [INDEX] [AXIS]",
                                        "operator input for a handle (Comm)", 2, 4, true, Input});

}  // namespace
}  // namespace korvex::cli
