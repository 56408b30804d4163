// Protocol lines: every command sent, and every event a data object wants on
// record, as one line of the host's protocol with its entry code.
#include <strings.h>

#include <string>

#include "korvex/commands/interpreter.h"
#include "korvex/data/cdata.h"

namespace {

constexpr int kCommandCode = 398;
constexpr int kEventCode = 341;
// Added while the controller runs in automatic mode.
constexpr int kAutomaticOffset = 3000;
constexpr std::size_t kLineMax = 256;

}  // namespace

void Daten::WriteProtocol(TApplFrame* frame, const char* kind, const char* text1,
                          const char* text2) {
    if (!frame || !frame->GetProtocol() || !frame->GetGlobalData() ||
        !frame->GetGlobalData()->DoesEngineExist())
        return;
    std::string line = kind ? kind : "";
    if (text1) {
        if (!line.empty()) line += ' ';
        line += text1;
        if (text2 && *text2) line += ':';
    }
    if (text2) {
        if (!line.empty()) line += ' ';
        line += text2;
    }
    // A protocol line holds at most 256 characters; the rest is cut.
    if (line.size() > kLineMax) line.resize(kLineMax);
    const int base = kind && strcasecmp(kind, "COMM") == 0 ? kCommandCode : kEventCode;
    int code = base;
    const std::uint16_t automatic = korvex::commands::NamedHandle(*this, "FLAUTO_");
    if (automatic != Handles::kNoHandle) {
        std::int32_t running = 0;
        if (GetValue(automatic, running, 0, 255) == 0 && running != 0) code += kAutomaticOffset;
    } else if (CData* object = FindRegistered("FLAUTO_")) {
        // A tree field past the handle numbers is read through its object.
        const std::int32_t running = object->GetValue(0, 255);
        if (object->LastError() == 0 && running != 0) code += kAutomaticOffset;
    }
    if (line.empty()) return;
    if (base == kCommandCode && text2 && *text2) frame->frameCommandEcho(text2);
    frame->GetProtocol()->protocolWriteEntry(code, frame->GetGlobalData()->GetMName(),
                                             line.c_str(), 0, 0, 0, 0);
    frame->frameProtocolLine(line.c_str(), code);
}

void CData::WriteProtocol(const char* kind, const char* text) {
    if (!gpDat) return;
    TApplFrame* frame = gpDat->Frame();
    if (!frame || !frame->GetProtocol() || !frame->GetGlobalData()) return;
    gpDat->WriteProtocol(frame, kind, mName, text);
}
