// The host's reactions to the command words that change units, axes, feeds
// or the machine's state, after the command went out through handle 581.
#include <cstring>
#include <initializer_list>

#include "korvex/commands/interpreter.h"

using korvex::host::Host;

namespace korvex::commands {
namespace {

bool HasAny(const char* text, std::initializer_list<const char*> words) {
    for (const char* word : words)
        if (Daten::hasCom(text, word)) return true;
    return false;
}

// The tolerance word "TOL", but not "TOLC".
bool IsTolerance(const char* text) {
    return Daten::hasCom(text, "TOL") && !Daten::hasCom(text, "TOLC");
}

bool IsUnitCommand(const char* text) {
    return HasAny(text, {"METR", "INCH", "TMET", "TIN", "HZTP"});
}

bool IsFrameCommand(const char* text) {
    return HasAny(text, {"FA",   "FB",   "FT",   "AOF",  "SA",   "SAX",  "SAY",
                         "SAZ",  "SAZX", "SAZY", "SASR", "SN",   "SZ",   "RA",
                         "FV",   "ZC",   "BLKD", "PINN", "PATF", "PATS", "PATV",
                         "MAPC", "MAPT", "CANT", "CHEK", "NIB",  "OPID"}) ||
           std::strstr(text, "M9XO") != nullptr;
}

bool IsDriverCommand(const char* text) {
    return IsTolerance(text) || HasAny(text, {"ROUT", "OD", "TTYP", "ANIB", "ZREV"});
}

// Reads a long for the refresh test; false when the read failed.
bool ReadLong(Daten& daten, std::uint16_t handle, std::int32_t& value) {
    value = 0;
    return daten.GetValue(handle, value, 0, 255) == 0;
}

// The display follows a start-point or program-state command only outside
// simulation and teach mode and on the machine types that show it.
bool ShowsStartPoint(Daten& daten) {
    std::int32_t simulation = 0, teach = 0, type = 0;
    if (!ReadLong(daten, 657, simulation) || simulation != 0) return false;
    if (!ReadLong(daten, 1404, teach) || teach != 0) return false;
    if (!ReadLong(daten, 1208, type)) return false;
    return type == 2000 || (type < 9000 && (type % 3000 == 48 || type % 3000 == 2022));
}

void FrameFollowUp(Daten& daten, TApplFrame& frame, const char* text) {
    if (Daten::hasCom(text, "AOF")) {
        frame.frameCommandFollowUp(text);
    } else if (HasAny(text, {"BLKD", "PATV,B", "PATV,-B", "PINN"})) {
        frame.frameNotify(kFrameMessage, 31, 1);
    } else if (HasAny(text, {"SZ", "PATF", "PATS", "PATV", "MAPC", "MAPT", "CHEK"})) {
        frame.frameNotify(kFrameMessage, 31, 3);
    } else if (HasAny(text, {"OPID", "SA", "SAX", "SAY", "SAZ", "SAZX", "SAZY", "SASR", "SN",
                             "RA"})) {
        if (ShowsStartPoint(daten)) frame.frameNotify(kFrameMessage, 31, std::intptr_t{0});
    } else if (HasAny(text, {"FB", "FT", "FV"})) {
        if (daten.FAFVForbidden(text)) return;
        if (daten.isSpotFacingMemUsed())
            frame.frameCommandFollowUp(text);
        else
            frame.frameNotify(kFrameMessage, 31, 9);
    } else if (Daten::hasCom(text, "FA")) {
        if (!daten.FAFVForbidden(text)) frame.frameCommandFollowUp(text);
    } else {
        frame.frameNotify(kFrameMessage, 31, std::intptr_t{0});
    }
}

}  // namespace
}  // namespace korvex::commands

using namespace korvex::commands;

void Daten::CheckSpecialCommands(char* text) {
    if (!text) return;
    const bool special = IsUnitCommand(text) || (mFrame && IsFrameCommand(text)) ||
                         (mDriver && IsDriverCommand(text));
    if (!special) return;

    // The busy handle is read once and the controller given 151 ms to act on
    // the command; the read value does not hold up the follow-up.
    std::int32_t busy = 0;
    GetValue(kCommandBusy, busy, 0, 255);
    Host().Sleep(151);
    // While a program runs the host does not refresh; a failed read leaves
    // the preset 0, as a host without a driver reads every value.
    std::int32_t programActive = 0;
    GetValue(1038, programActive, 0, 255);
    if (programActive != 0) return;

    if (IsUnitCommand(text) || (mDriver && hasCom(text, "ZREV"))) {
        InitInchMetricCnc47();
        return;
    }
    if (mFrame) FrameFollowUp(*this, *mFrame, text);
    if (mDriver && (IsTolerance(text) || hasCom(text, "ROUT") || hasCom(text, "OD") ||
                    hasCom(text, "TTYP") || hasCom(text, "ANIB")))
        mDriver->SendControl(kReloadToolTable, CurrentCnc(*this), 0);
}
