// A machine for the command interpreter's tests: a Daten over a small handle
// and definition file, the command channel defined, and the calls the
// library makes shown as short events.
#ifndef KORVEX_TESTS_SUPPORT_COMMAND_FIXTURE_H_
#define KORVEX_TESTS_SUPPORT_COMMAND_FIXTURE_H_

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "korvex/korvex.h"
#include "tests/support/test_machine.h"

namespace korvex::commands::testing {

// Decodes the quoted bytes of a trace line ("..." with \xHH escapes).
inline std::string Unquote(const std::string& quoted) {
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 3 < quoted.size() && quoted[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(quoted.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += quoted[i];
        }
    }
    return out;
}

inline DInfo* LongRecord() {
    return new DInfo(DInfo::LONGINT, INT32_MIN, INT32_MAX, 0, 10, 0, 10, 0, 1.0, 1, 0, 1, 10);
}

inline DInfo* TextRecord(std::uint16_t length, DInfo::NotDirectType road, char writeDirect) {
    return new DInfo(DInfo::STRING, length, road, writeDirect, 1, 0, 0);
}

// A scaled length (3 decimals) taken as a tool-table parameter.
inline DInfo* ToolRecord(const char* tabIdent, const char* tabIndex, const char* tabPar,
                         DInfo::DType type = DInfo::QZREAL) {
    return new DInfo(type, -1000000, 1000000, 0, 10, 3, 10, 4, 1.0, DInfo::TPara, 0, 0, 1, "[mm]",
                     "[inch]", tabIdent, tabIndex, tabPar, 0, 0, 0, 10);
}

// A numeric record written another way than directly.
inline DInfo* CommandRecord(DInfo::NotDirectType road, DInfo::DType type = DInfo::QZREAL) {
    return new DInfo(type, -1000000, 1000000, 0, 10, 3, 10, 4, 1.0, road, 0, 0, 1, "[mm]",
                     "[inch]", "", "", "", 0, 0, 0, 10);
}

// A Daten whose spot-facing answer can be set and that counts the unit
// re-initialisations the special commands ask for.
class ProbeDaten : public Daten {
public:
    using Daten::Daten;
    bool isSpotFacingMemUsed() override { return spotFacing; }
    std::uint8_t InitInchMetricCnc47() override {
        ++unitInits;
        return 0;
    }
    bool spotFacing = false;
    int unitInits = 0;
};

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.WriteFile("HANDLES.TXT", "CmdLine=581\n");
        machine.WriteFile("QZ_DATEN.TXT", "[CmdLine]\nType = STRING 128\nWriteDirect = YES\n");
        Rebuild();
        ASSERT_EQ(daten->ConstructionResult(), 0);
        // Driver calls join the host's calls in one list, as the tool's trace shows them.
        machine.sim.SetTraceSink([this](const std::string& line) { machine.host.lines.push_back(line); });
    }
    void TearDown() override { machine.sim.SetTraceSink(nullptr); }

    ProbeDaten* NewProbe() { return new ProbeDaten(machine.model.Parent(), "QZ_DATEN", "HANDLES"); }
    // Builds the Daten again (after a change of the host objects) with the
    // command channel defined.
    void Rebuild() {
        daten.reset(NewProbe());
        for (std::uint16_t handle : {580, 581, 582})
            daten->SetDefinition(handle, TextRecord(128, DInfo::TPara, 1));
        daten->SetDefinition(583, LongRecord());
        daten->SetMessagesOn(true);
        Clear();
    }

    void Name(const char* name, std::uint16_t handle) {
        ASSERT_TRUE(daten->GetHandles()->addNew(name, handle)) << name;
    }
    void Long(std::uint16_t handle, std::int32_t value, std::uint16_t index = 0) {
        if (!daten->ExistHandle(handle)) daten->SetDefinition(handle, LongRecord());
        machine.sim.PokeLong(0, 0, handle, index, value);
    }

    // Operator input through Comm, as a host gives it.
    std::uint8_t Input(const std::string& text, std::uint16_t handle, std::uint16_t index = 0,
                       std::uint8_t flag = 255) {
        std::vector<char> copy(text.begin(), text.end());
        copy.push_back('\0');
        return daten->Comm(copy.data(), handle, index, flag);
    }

    // The calls of interest, in order: writes of the command handles as
    // "581 <- TEXT" (element index after '@' when not 0), SendControl, and
    // every frame, protocol, message-box and sleep call as its trace line.
    std::vector<std::string> Trace() const {
        std::vector<std::string> out;
        for (const std::string& line : machine.host.lines) {
            unsigned cnc, axis, handle, a, b, mode;
            char quoted[1024];
            if (std::sscanf(line.c_str(), "WriteByHandle %u %u %u %u %u %u %1023[^\n]", &cnc,
                            &axis, &handle, &a, &b, &mode, quoted) == 7) {
                if (handle < 580 || handle > 582) continue;
                std::string data(quoted);
                data = data.substr(0, data.rfind(" -> "));
                std::string text = Unquote(data);
                text = text.substr(0, text.find('\0'));
                std::string event = std::to_string(handle);
                if (a != 0) event += "@" + std::to_string(a);
                out.push_back(event + " <- " + text);
                continue;
            }
            for (const char* kind : {"SendControl", "frame", "SendMessage", "protocol",
                                     "messagebox", "Sleep"}) {
                if (line.rfind(kind, 0) == 0) {
                    out.push_back(line);
                    break;
                }
            }
        }
        return out;
    }
    // Only the command-handle writes.
    std::vector<std::string> Sent() const {
        std::vector<std::string> out;
        for (const std::string& event : Trace())
            if (event.rfind("58", 0) == 0) out.push_back(event);
        return out;
    }
    std::size_t DriverWrites() const {
        return machine.sim.Calls(korvex::host::SimDriver::Operation::WriteByHandle);
    }
    void Clear() { machine.host.lines.clear(); }

    korvex::testing::TestMachine machine;
    std::unique_ptr<ProbeDaten> daten;
};

using Events = std::vector<std::string>;

}  // namespace korvex::commands::testing

#endif  // KORVEX_TESTS_SUPPORT_COMMAND_FIXTURE_H_
