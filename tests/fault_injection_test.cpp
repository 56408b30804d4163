// Fault injection: one scripted session over the sample machine runs again
// and again, first with its N-th driver call failing, then with its N-th file
// write failing (a full disk), for every N. No run may crash, the failure
// must reach the caller, and every cache and state file on disk must be the
// complete old one or the complete new one.
// In process rather than as tool runs: each step's own answer is checked, and
// a run costs no process start under the sanitizers.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "korvex/data/bound_values.h"
#include "korvex/data/numbers.h"
#include "korvex/data/strings.h"
#include "korvex/handles/cache_file.h"
#include "korvex/korvex.h"
#include "tests/support/test_machine.h"

namespace {

using Files = std::map<std::string, std::string>;
constexpr const char* kFiles[] = {"HANDLES.BIN", "QZ_DATEN.BIN", "SIM.STATE"};

class FaultInjectionTest : public ::testing::Test {
  protected:
    struct Step {
        const char* what;
        std::function<int()> run;  // 0, or the error the caller sees
    };
    struct Seen {
        int answer;
        std::uint64_t calls;   // driver calls made up to the step's end
        std::size_t messages;  // messages shown up to the step's end
        std::uint64_t writes;  // file writes begun up to the step's end
    };
    // The step answers an error or the library tells the operator (the
    // follow-up reads of a command that went out have no answer to give).
    static bool Reported(const std::vector<Seen>& seen, std::size_t step) {
        return seen[step].answer != 0 || seen[step].messages > (step ? seen[step - 1].messages : 0);
    }

    FaultInjectionTest() { machine.CopySampleMachine(); }
    ~FaultInjectionTest() override { EndSession(); }

    std::uint16_t H(const char* name) { return daten->GetHandles()->NameToHandle(name); }

    // Reads and writes of every kind, operator and command input through
    // Comm, data objects over the controller's memory, and the state file.
    std::vector<Step> Session() {
        return {
            {"load",
             [&] {
                 daten.reset(machine.NewDaten());
                 daten->SetMessagesOn(true);
                 return int{daten->ConstructionResult()};
             }},
            {"units", [&] { return int{daten->InitInchMetricCnc47()}; }},
            {"number",
             [&] {
                 std::int32_t v = 0;
                 double d = 0;  // a whole number read as a double
                 int e = daten->GetValue(H("YMaxLimit"), v);
                 e = e ? e : daten->GetValue(H("YMaxLimit"), d);
                 return e ? e : daten->SetValue(H("YMaxLimit"), std::int32_t{2000});
             }},
            {"real",
             [&] {
                 double v = 0;
                 const int e = daten->GetValue(H("AxisScaleX"), v);
                 return e ? e : daten->SetValue(H("AxisScaleX"), 1.005);
             }},
            {"string",
             [&] {
                 char t[64];
                 const int e = daten->GetValue(H("MachineName"), t, 64);
                 return e ? e : daten->SetValue(H("MachineName"), "KX-200");
             }},
            {"block",
             [&] {
                 unsigned char b[16] = {'A', 'B'};
                 const int e =
                     daten->SetValue(H("CustomerName"), static_cast<const void*>(b), 16, 0, 0);
                 return e ? e
                          : daten->GetValue(H("CustomerName"), static_cast<const void*>(b), 16, 0,
                                            0);
             }},
            {"offset",
             [&] {
                 unsigned char b[8] = {1, 2, 3};
                 const int e = daten->SetOfsValue(b, 64, 8);
                 return e ? e : daten->GetOfsValue(b, 64, 8);
             }},
            {"input with template",
             [&] {
                 char t[] = "12.5";
                 return int{daten->Comm(t, H("ZeroOffsX"), 0, 0)};
             }},
            {"command line",
             [&] {
                 char t[] = "SN";
                 return int{daten->Comm(t, H("CmdLine"), 0, 0)};
             }},
            {"table size", [&] { return daten->GetMaxTabElemAnz(H("YMaxLimit")) == 0 ? 15 : 0; }},
            {"object number",
             [&] {
                 number = std::make_unique<CDrvNumber>(daten.get(), "FaultNumber", 0x19080, 4,
                                                       DInfo::LONGINT, 4, CData::RegisterNew);
                 number->SetValue(77, 1, 0);
                 if (number->LastError()) return int{number->LastError()};
                 const std::int32_t back = number->GetValue(1, 0);
                 // A failed read answers the last good value (-1 fails the sweep).
                 if (number->LastError()) return back == 77 ? int{number->LastError()} : -1;
                 return back == 77 ? 0 : 15;
             }},
            {"object string",
             [&] {
                 text = std::make_unique<CDrvStr>(daten.get(), "FaultText", 0x19100, 32,
                                                  CData::RegisterNew);
                 text->SetString("spindle", 0, 0);
                 if (text->LastError()) return int{text->LastError()};
                 char out[40];
                 text->GetString(out, sizeof out - 1, 0, 0);
                 return int{text->LastError()};
             }},
            {"objects by handle: blocks and characters",
             [&] {
                 unsigned char b[4] = {'x', 'y'};
                 const void* block = b;
                 std::int32_t character = 0;
                 const std::uint16_t n = number->Handle(), t = text->Handle();
                 int e = daten->SetValue(n, block, 4, 1, 0);
                 e = e ? e : daten->GetValue(n, block, 4, 1, 0);
                 e = e ? e : daten->SetValue(t, std::int32_t{'q'});
                 e = e ? e : daten->GetValue(t, character);
                 e = e ? e : daten->SetValue(t, block, 3, 0, 0);
                 return e ? e : daten->GetValue(t, block, 3, 0, 0);
             }},
            {"pointer",
             [&] {
                 auto* value = new CDrvNumber(daten.get(), "FaultPointee", 0, 4, DInfo::LONGINT,
                                              CData::RegisterNew);
                 pointer = std::make_unique<CPointedTo<CDrvNumber>>(daten.get(), "FaultPointer",
                                                                    0x19200, value);
                 pointer->SetValue(0x19300, 0, 0);
                 if (pointer->LastError()) return int{pointer->LastError()};
                 const std::int32_t at = *pointer;
                 if (pointer->LastError()) return int{pointer->LastError()};
                 value->GetValue(0, 0);
                 return at == 0x19300 ? int{value->LastError()} : 15;
             }},
            {"input to object",
             [&] {
                 char t[] = "42";
                 return int{number->Comm(t, 2, 0)};
             }},
            {"save state",
             [&] { return machine.sim.SaveState(machine.Path("SIM.STATE")) ? 0 : 15; }},
        };
    }

    std::vector<Seen> RunSession() {
        std::vector<Seen> seen;
        for (const Step& step : Session())
            seen.push_back({step.run(), machine.sim.TotalCalls(), machine.host.messageBoxes.size(),
                            korvex::files::FileWrites()});
        EndSession();
        return seen;
    }
    // A fresh controller, registry and Daten; the files stay.
    void NewRun() {
        EndSession();
        Handles::DropRegistry();
        machine.sim = korvex::host::SimDriver();
        machine.sim.SetRecordTrace(true);
        machine.host.messageBoxes.clear();
        machine.host.fatalExits.clear();
    }
    void EndSession() {
        number.reset();
        text.reset();
        pointer.reset();
        CData::ForgetDaten(daten.get());
        daten.reset();
    }

    Files Present() const {
        Files files;
        for (const char* name : kFiles)
            if (machine.Exists(name)) files[name] = machine.ReadFile(name);
        return files;
    }
    // Each file is the one from before the run or the complete new one (a
    // file that was there is still there); no temporary file is left.
    void ExpectCompleteFiles(const std::string& run, const Files& before) {
        ASSERT_TRUE(machine.sim.SaveState(machine.Path("SIM.NEW")));
        Files fresh = caches;
        fresh["SIM.STATE"] = machine.ReadFile("SIM.NEW");
        std::filesystem::remove(machine.Path("SIM.NEW"));
        const Files after = Present();
        for (const char* name : kFiles) {
            const auto now = after.find(name), old = before.find(name);
            if (now == after.end())
                EXPECT_TRUE(old == before.end()) << run << ": lost " << name;
            else
                EXPECT_TRUE(now->second == fresh[name] ||
                            (old != before.end() && now->second == old->second))
                    << run << ": " << name << " is neither the old nor the new one";
        }
        for (const auto& entry : std::filesystem::directory_iterator(machine.dir()))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << run;
    }

    korvex::testing::TestMachine machine;
    std::unique_ptr<Daten> daten;
    std::unique_ptr<CDrvNumber> number;
    std::unique_ptr<CDrvStr> text;
    std::unique_ptr<CPointedTo<CDrvNumber>> pointer;
    Files caches;  // as a clean run writes them
};

TEST_F(FaultInjectionTest, EveryDriverCallFailsOnce) {
    NewRun();
    const std::vector<Seen> clean = RunSession();
    const std::vector<Step> steps = Session();
    for (std::size_t i = 0; i < steps.size(); ++i) ASSERT_EQ(clean[i].answer, 0) << steps[i].what;
    for (const char* cache : {"HANDLES.BIN", "QZ_DATEN.BIN"})
        caches[cache] = machine.ReadFile(cache);
    const std::uint64_t calls = clean.back().calls;
    for (int op = 0; op < korvex::host::SimDriver::kOperations; ++op)  // the session uses them all
        ASSERT_GT(machine.sim.Calls(static_cast<korvex::host::SimDriver::Operation>(op)), 0u) << op;

    for (std::uint32_t n = 1; n <= calls; ++n) {
        NewRun();
        const Files before = Present();
        machine.sim.FailCall(n);
        const std::vector<Seen> seen = RunSession();
        const std::string& call = machine.sim.TraceLines().at(n - 1);
        const std::string run = "call " + std::to_string(n) + " (" + call + ")";
        std::size_t step = 0;  // the step that made call n
        while (seen[step].calls < n) ++step;
        for (std::size_t i = 0; i < step; ++i) EXPECT_EQ(seen[i].answer, 0) << run;
        // A control code has no answer to fail.
        if (call.rfind("SendControl", 0) != 0) {
            EXPECT_TRUE(Reported(seen, step)) << run << " in " << steps[step].what;
            // Told once (a table size of 0 is an answer, not an error to tell),
            // and as what it is: a driver error.
            const std::size_t told = seen[step].messages - (step ? seen[step - 1].messages : 0);
            EXPECT_EQ(told, call.rfind("MaxTableElements", 0) == 0 ? 0u : 1u) << run;
            EXPECT_TRUE(seen[step].answer == 0 || seen[step].answer == Daten::DataOrDriverError)
                << run << " answered " << seen[step].answer;
        }
        EXPECT_TRUE(machine.host.fatalExits.empty()) << run;
        ExpectCompleteFiles(run, before);
    }
}

TEST_F(FaultInjectionTest, EveryFileWriteFailsOnce) {
    // Without caches the load writes both; the session then saves the state.
    NewRun();
    const std::uint64_t start = korvex::files::FileWrites();
    RunSession();
    ASSERT_EQ(korvex::files::FileWrites() - start, 3u);
    for (const char* cache : {"HANDLES.BIN", "QZ_DATEN.BIN"})
        caches[cache] = machine.ReadFile(cache);
    // Old files the run replaces: caches of another header (stale), the state of another run.
    Files old = caches;
    for (auto& [name, bytes] : old) bytes[0] = 'q';
    old["SIM.STATE"] = "# korvex simulated controller state\nbase 1\n";

    for (std::uint32_t n = 1; n <= 3; ++n) {
        for (bool withOld : {false, true}) {
            const std::string run =
                "file write " + std::to_string(n) + (withOld ? " over old files" : "");
            for (const char* name : kFiles) std::filesystem::remove(machine.Path(name));
            if (withOld)
                for (const auto& [name, bytes] : old) machine.WriteFile(name, bytes);
            NewRun();
            const Files before = Present();
            const std::uint64_t start = korvex::files::FileWrites();
            korvex::files::FailFileWrite(n);
            const std::vector<Seen> seen = RunSession();
            korvex::files::FailFileWrite(0);
            std::size_t step = 0;  // the step that made write n
            while (seen[step].writes - start < n) ++step;
            // The failure names the file: a message of the load, or the save's answer.
            bool named = seen[step].answer != 0 && step + 1 == seen.size();
            for (std::size_t m = step ? seen[step - 1].messages : 0; m < seen[step].messages; ++m)
                named =
                    named || machine.host.messageBoxes[m].text.find(".BIN") != std::string::npos;
            EXPECT_TRUE(named) << run << " in " << Session()[step].what;
            // A cache the load cannot write ends the load, as a host ends.
            EXPECT_EQ(machine.host.fatalExits, std::vector<int>(step == 0 ? 1 : 0, 0)) << run;
            ExpectCompleteFiles(run, before);
        }
    }
}

}  // namespace
