// The operator-input verb: text for a handle goes through the command
// interpreter, as a host dialog hands it over, after the dialog's check.
#include <string>
#include <vector>

#include "korvex/data/cdata.h"
#include "tools/cli.h"
#include "tools/common/input_check.h"

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

// Why the check refused a text, told once with the code's text.
void ExplainRefusedInput(const std::string& name, const std::string& text, std::uint8_t code) {
    ErrorLine("'" + text + "' is not a value for " + name + ": " + Daten::ErrorText(code) +
              " (input --unchecked sends it as it stands)");
}

int Input(Session& session, const Words& words) {
    tools::InputRequest request;
    if (!session.ResolveHandle(words[1], request.handle, request.index, &request.object))
        return Daten::HandleNotFound;
    unsigned long number = 0;
    if (words.size() > 3) {
        if (!ParseNumber(words[3], 0xFFFF, number)) return UsageError("bad INDEX '" + words[3] + "'");
        request.index = static_cast<std::uint16_t>(number);
    }
    if (words.size() > 4) {
        if (!ParseNumber(words[4], 255, number)) return UsageError("bad AXIS '" + words[4] + "'");
        request.axis = static_cast<std::uint8_t>(number);
    }
    request.text = words[2];
    request.checked = !session.VerbFlag("--unchecked");
    request.preview = session.VerbFlag("--preview");
    Daten& daten = *session.daten();
    const bool busy = session.sim().BusyReads() > 0;
    const tools::InputResult result = tools::RunInput(daten, session.sim(), request);
    if (session.Json()) {
        std::printf("%s\n", tools::InputResultJson(result).c_str());
        session.SetJsonAnswered(true);
    } else if (request.preview) {
        for (const std::string& line : result.sent) std::printf("%s\n", Printable(line).c_str());
    }
    // The library gives up on a channel that stays busy without a word (and
    // answers 0 for the command line itself): say that nothing was sent.
    if (busy && session.sim().BusyReads() > 0 && result.sent.empty())
        ErrorLine("the command channel stayed busy (CmdBusy read non-zero): nothing was sent");
    if (result.error == 0) return 0;
    if (request.checked &&
        (result.error == Daten::ParameterError || result.error == Daten::ValueOutOfRange) &&
        result.sent.empty() &&
        tools::CheckInputText(daten, request.handle, request.object, request.text) != 0) {
        ExplainRefusedInput(words[1], words[2], result.error);
        return result.error;
    }
    if (result.error == Daten::DataOrDriverError && !request.object) {
        if (const std::uint8_t why = ExplainFailedInput(daten, session.options().messages,
                                                        request.handle, words[1], words[2]))
            return why;
    }
    return LibraryError(result.error);
}

const VerbRegistration kInput(
    "input", {"input NAME TEXT [INDEX] [AXIS]",
              "checked operator input for a handle (Comm); --preview sends nothing",
              2, 4, true, Input, true, false, {"--unchecked", "--preview"}});

}  // namespace
}  // namespace korvex::cli
