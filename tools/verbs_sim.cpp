// Verbs that set up the simulated controller, bypassing the library.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "korvex/data/numbers.h"
#include "tools/cli.h"
#include "tools/nearest.h"

namespace korvex::cli {
namespace {

// A handle given as digits needs no machine; a name loads it. Answers 0, or
// the exit code: the load's when it ended the run, else 6 for an unknown name.
int SimHandle(Session& session, const std::string& word, std::uint16_t& handle) {
    unsigned long number = 0;
    if (ParseNumber(word, 0xFFFF, number)) {
        handle = static_cast<std::uint16_t>(number);
        return 0;
    }
    if (const int code = session.Load()) return code;
    std::uint16_t index = 0;
    return session.ResolveHandle(word, handle, index) ? 0 : Daten::HandleNotFound;
}

bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
    std::string digits;
    for (char c : text)
        if (c != ':' && c != '-') digits += c;
    if (digits.empty() || digits.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(digits.substr(i, 2).c_str(), "%2x", &value) != 1) return false;
        if (!std::isxdigit(static_cast<unsigned char>(digits[i])) ||
            !std::isxdigit(static_cast<unsigned char>(digits[i + 1])))
            return false;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

// How the controller stores a number of the type: the wave is written in it.
bool WaveEncoding(unsigned type, unsigned length, host::SimDriver::Wave& wave) {
    using Encoding = host::SimDriver::Wave::Encoding;
    switch (type) {
        case DInfo::STRING:
        case DInfo::BITMASK:
        case DInfo::NONE:
        case DInfo::EIGHTBYTE:
            return false;
        case DInfo::REAL:
            wave.encoding = Encoding::Real;
            wave.width = length == 4 ? 4 : 8;
            return true;
        case DInfo::BYTE:
        case DInfo::WORD:
        case DInfo::QZCARD:
        case DInfo::QZLONGCARD:
            wave.encoding = Encoding::Unsigned;
            break;
        default:
            wave.encoding = Encoding::Signed;
    }
    if (length != 1 && length != 2 && length != 4) return false;
    wave.width = static_cast<std::uint8_t>(length);
    return true;
}

bool ParseReal(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value);
}

// sim wave NAME INDEX sine|ramp|square PERIOD_MS AMPLITUDE [OFFSET], or
// sim wave NAME INDEX off.
int SimWave(Session& session, const Words& words) {
    const char* usage = "usage: sim wave NAME INDEX sine|ramp|square PERIOD_MS AMPLITUDE [OFFSET]";
    if (words.size() != 5 && words.size() != 7 && words.size() != 8) return UsageError(usage);
    if (const int code = session.Load()) return code;
    std::uint16_t handle = 0, index = 0;
    CData* object = nullptr;
    if (!session.ResolveHandle(words[2], handle, index, &object)) return Daten::HandleNotFound;
    unsigned long number = 0;
    if (!ParseNumber(words[3], 0xFFFF, number)) return UsageError("bad INDEX '" + words[3] + "'");
    index = static_cast<std::uint16_t>(number);
    Daten& daten = *session.daten();
    if (!object && handle >= Daten::kFirstRegisteredHandle) object = daten.GetCDataPtr(handle);
    if (!object && !daten.ExistHandle(handle)) return LibraryError(Daten::HandleNotFound);
    // A registered number lives in the controller's memory image; a defined
    // handle is kept by the driver per handle.
    auto* memory = dynamic_cast<CDrvNumber*>(object);
    if (object && !memory)
        return UsageError("'" + words[2] + "' is not a number in the controller's memory");
    host::SimDriver& sim = session.sim();
    const auto cnc = static_cast<std::uint8_t>(session.options().cnc);
    const std::uint32_t address = memory ? memory->getAddress() + index * memory->Stride() : 0;
    if (words.size() == 5) {
        if (words[4] != "off") return UsageError(usage);
        if (memory)
            sim.StopMemoryWave(address);
        else
            sim.StopWave(cnc, 0, handle, index);
        return 0;
    }
    host::SimDriver::Wave wave;
    if (!host::SimDriver::Wave::ShapeFromName(words[4], wave.shape))
        return UsageError("unknown wave '" + words[4] + "' (sine, ramp or square)");
    if (!ParseNumber(words[5], 0xFFFFFFFFul, number) || number == 0)
        return UsageError("bad PERIOD_MS '" + words[5] + "'");
    wave.periodMs = static_cast<std::uint32_t>(number);
    if (!ParseReal(words[6], wave.amplitude)) return UsageError("bad AMPLITUDE '" + words[6] + "'");
    if (words.size() == 8 && !ParseReal(words[7], wave.offset))
        return UsageError("bad OFFSET '" + words[7] + "'");
    const unsigned type = memory ? static_cast<unsigned>(memory->DatenTyp()) : daten.DatenTyp(handle);
    const unsigned length = memory ? memory->DatenLaenge() : daten.DatenLaenge(handle);
    if (!WaveEncoding(type, length, wave))
        return UsageError("'" + words[2] + "' is not a number: it cannot wave");
    if (memory) {
        wave.highByteFirst = memory->StoredHighByteFirst();
        if (!sim.SetMemoryWave(address, wave))
            return UsageError("'" + words[2] + "' lies outside the controller's memory image");
    } else {
        sim.SetWave(cnc, 0, handle, index, wave);
    }
    return 0;
}

int Sim(Session& session, const Words& words) {
    const std::string& what = words[1];
    host::SimDriver& sim = session.sim();
    const std::uint8_t cnc = static_cast<std::uint8_t>(session.options().cnc);
    unsigned long number = 0;
    if (what == "poke") {
        if (words.size() < 5 || words.size() > 6)
            return UsageError("usage: sim poke HANDLE INDEX HEXBYTES [AXIS]");
        std::uint16_t handle;
        if (const int code = SimHandle(session, words[2], handle)) return code;
        unsigned long index = 0, axis = 0;
        std::vector<std::uint8_t> bytes;
        if (!ParseNumber(words[3], 0xFFFF, index)) return UsageError("bad INDEX '" + words[3] + "'");
        if (!ParseHex(words[4], bytes)) return UsageError("bad HEXBYTES '" + words[4] + "'");
        if (words.size() == 6 && !ParseNumber(words[5], 255, axis))
            return UsageError("bad AXIS '" + words[5] + "'");
        sim.Poke(cnc, static_cast<std::uint8_t>(axis), handle, static_cast<std::uint16_t>(index),
                 bytes.data(), bytes.size());
        return 0;
    }
    if (what == "mem" || what == "peek") {
        // The controller's memory image, at the library's own addresses.
        if (words.size() < 4 || words.size() > 5)
            return UsageError(what == "mem" ? "usage: sim mem ADDRESS HEXBYTES [LOCATION]"
                                            : "usage: sim peek ADDRESS LENGTH [LOCATION]");
        std::uint32_t address = 0;
        if (!ParseAddress(words[2], address)) return UsageError("bad ADDRESS '" + words[2] + "'");
        std::vector<std::uint8_t> bytes;
        if (what == "mem" && !ParseHex(words[3], bytes))
            return UsageError("bad HEXBYTES '" + words[3] + "'");
        if (what == "peek" && (!ParseNumber(words[3], 0xFFFF, number) || number == 0))
            return UsageError("bad LENGTH '" + words[3] + "'");
        if (words.size() == 5 && !ParseNumber(words[4], 255, number))
            return UsageError("bad LOCATION '" + words[4] + "'");
        const std::size_t length = what == "mem" ? bytes.size() : std::stoul(words[3]);
        if (!sim.Image(address) || !sim.Image(address + static_cast<std::uint32_t>(length) - 1))
            return UsageError("ADDRESS outside the controller's memory image");
        std::uint8_t* image = sim.Image(address);
        if (what == "mem") {
            std::copy(bytes.begin(), bytes.end(), image);
            return 0;
        }
        for (std::size_t i = 0; i < length; ++i) std::printf(i ? " %02x" : "%02x", image[i]);
        std::printf("\n");
        return 0;
    }
    if (what == "wave") return SimWave(session, words);
    if (what == "base") {
        if (words.size() != 3 || !ParseNumber(words[2], 0xFFFFFFFFul, number))
            return UsageError("usage: sim base N");
        sim.SetMemoryBase(static_cast<std::uint32_t>(number));
        return 0;
    }
    if (what == "table") {
        if (words.size() != 4) return UsageError("usage: sim table HANDLE N");
        std::uint16_t handle;
        if (const int code = SimHandle(session, words[2], handle)) return code;
        if (!ParseNumber(words[3], 0xFFFF, number)) return UsageError("bad N '" + words[3] + "'");
        sim.SetTableSize(handle, static_cast<std::uint16_t>(number));
        return 0;
    }
    if (what == "busy") {
        if (words.size() != 3 || !ParseNumber(words[2], 0xFFFFFFFFul, number))
            return UsageError("usage: sim busy N");
        sim.SetBusyReads(static_cast<std::uint32_t>(number));
        return 0;
    }
    if (what == "fail") {
        if (words.size() < 3 || words.size() > 4) return UsageError("usage: sim fail CALL [N]");
        host::SimDriver::Operation operation;
        if (!host::SimDriver::OperationFromName(words[2], operation)) {
            Nearest nearest(words[2]);
            for (int i = 0; i < host::SimDriver::kOperations; ++i)
                nearest.Offer(host::SimDriver::OperationName(static_cast<host::SimDriver::Operation>(i)));
            return UsageError("unknown driver call '" + words[2] + "'" + nearest.Hint());
        }
        number = 1;
        if (words.size() == 4 && !ParseNumber(words[3], 0xFFFFFFFFul, number))
            return UsageError("bad N '" + words[3] + "'");
        sim.FailNext(operation, static_cast<std::uint32_t>(number));
        return 0;
    }
    Nearest nearest(what);
    for (const char* known : {"poke", "mem", "peek", "base", "table", "busy", "fail"}) nearest.Offer(known);
    return UsageError("unknown sim verb '" + what + "'" + nearest.Hint());
}

const VerbRegistration kSim("sim", {"sim poke|mem|peek|base|table|busy|fail|wave ...",
                                    "the simulated controller: poke HANDLE INDEX HEXBYTES [AXIS], "
                                    "mem ADDRESS HEXBYTES, peek ADDRESS LENGTH, base N, "
                                    "table HANDLE N, busy N, fail CALL [N], "
                                    "wave NAME INDEX sine|ramp|square PERIOD_MS AMPLITUDE [OFFSET] "
                                    "(stored unit; 'off' stops it)",
                                    1, 7, false, Sim});

}  // namespace
}  // namespace korvex::cli
