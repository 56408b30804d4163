#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "korvex/korvex.h"
#include "tests/support/test_machine.h"

namespace {

using korvex::testing::TestMachine;

// An INI reader over a map, remembering the section selected.
class MapIni : public TQzIniBase {
  public:
    void SetSection(const char* section, bool) override { selected = section; }
    void InitString(const char* key, char* buffer, unsigned size, const char* def) override {
        const auto found = keys.find(key);
        StrCopy(buffer, found == keys.end() ? def : found->second.c_str(), size);
    }
    std::map<std::string, std::string> keys;
    std::string selected;
};

struct FactoryLog {
    int calls = 0;
    std::string datenName, handleName;
    bool returnNone = false;
};
FactoryLog gFactory;

Daten* CountingFactory(OWL::TWindow* parent, char* datenName, char* handleName, TQzIniBase* ini) {
    ++gFactory.calls;
    gFactory.datenName = datenName;
    gFactory.handleName = handleName;
    if (gFactory.returnNone) return nullptr;
    return NewDatenProc(parent, datenName, handleName, ini);
}

class InstanceTableTest : public ::testing::Test {
  protected:
    void SetUp() override { gFactory = FactoryLog{}; }
    TestMachine machine;
    MapIni ini;
};

TEST_F(InstanceTableTest, SharesOneObjectPerCncAndDestroysItWithTheLastUser) {
    Daten* first = InitKorvex(&ini, machine.model.Parent(), CountingFactory);
    ASSERT_NE(first, nullptr);
    Daten* second = InitKorvex(&ini, machine.model.Parent(), CountingFactory);
    EXPECT_EQ(first, second);
    EXPECT_EQ(gFactory.calls, 1);
    EXPECT_EQ(ini.selected, "DATAINTERFACE");
    EXPECT_EQ(korvex::InstanceUseCount(0), 2);
    int notADaten = 0;  // an unknown pointer changes nothing
    ShutDownKorvex(reinterpret_cast<Daten*>(&notADaten));
    ShutDownKorvex(first);
    EXPECT_EQ(korvex::InstanceUseCount(0), 1);
    EXPECT_EQ(InitKorvex(&ini, machine.model.Parent(), CountingFactory), first);
    EXPECT_EQ(gFactory.calls, 1);
    ShutDownKorvex(first);
    ShutDownKorvex(first);
    EXPECT_EQ(korvex::InstanceUseCount(0), 0);
    // The slot is empty again: the next call builds a new object.
    Daten* third = InitKorvex(&ini, machine.model.Parent(), CountingFactory);
    EXPECT_EQ(gFactory.calls, 2);
    ShutDownKorvex(third);
}

TEST_F(InstanceTableTest, IniKeysReachTheFactoryCutTo31Characters) {
    Daten* daten = InitKorvex(&ini, machine.model.Parent(), CountingFactory);
    EXPECT_EQ(gFactory.datenName, "QZ_DATEN");
    EXPECT_EQ(gFactory.handleName, "HANDLES");
    ShutDownKorvex(daten);

    ini.keys["DATEN"] = std::string(40, 'D');
    ini.keys["HANDLE"] = "MYHANDLES";
    daten = InitKorvex(&ini, machine.model.Parent(), CountingFactory);
    EXPECT_EQ(gFactory.datenName, std::string(31, 'D'));
    EXPECT_EQ(gFactory.handleName, "MYHANDLES");
    ShutDownKorvex(daten);
}

TEST_F(InstanceTableTest, ReleasingNoneReleasesTheFirstEmptySlot) {
    // A host pairs every InitKorvex with a ShutDownKorvex of what it got,
    // also when that was none: the empty slot that counted the call gives
    // the use back.
    gFactory.returnNone = true;
    machine.model.global.mCnc = 0;
    EXPECT_EQ(InitKorvex(&ini, machine.model.Parent(), CountingFactory), nullptr);
    EXPECT_EQ(InitKorvex(&ini, machine.model.Parent(), CountingFactory), nullptr);
    EXPECT_EQ(korvex::InstanceUseCount(0), 2);
    ShutDownKorvex(nullptr);
    EXPECT_EQ(korvex::InstanceUseCount(0), 1);
    // The slot still counting a none takes the next object and its count.
    gFactory.returnNone = false;
    Daten* shared = InitKorvex(&ini, machine.model.Parent(), CountingFactory);
    EXPECT_NE(shared, nullptr);
    EXPECT_EQ(gFactory.calls, 3);
    EXPECT_EQ(korvex::InstanceUseCount(0), 2);
    ShutDownKorvex(shared);
    EXPECT_EQ(korvex::InstanceUseCount(0), 1);
    ShutDownKorvex(shared);
    ShutDownKorvex(nullptr);
    EXPECT_EQ(korvex::InstanceUseCount(0), 0);

    // Slots are searched from 0: slot 0 holds an object, so a none goes to
    // slot 1, whose count is 0 already; slot 3's count stays.
    gFactory.returnNone = false;
    Daten* daten = InitKorvex(&ini, machine.model.Parent(), CountingFactory);
    gFactory.returnNone = true;
    machine.model.global.mCnc = 3;
    EXPECT_EQ(InitKorvex(&ini, machine.model.Parent(), CountingFactory), nullptr);
    ShutDownKorvex(nullptr);
    EXPECT_EQ(korvex::InstanceUseCount(0), 1);
    EXPECT_EQ(korvex::InstanceUseCount(3), 1);
    ShutDownKorvex(daten);
    EXPECT_EQ(korvex::InstanceUseCount(0), 0);
    // Now slot 0 is the first empty one.
    ShutDownKorvex(nullptr);
    EXPECT_EQ(korvex::InstanceUseCount(3), 1);
    korvex::ResetInstanceTable();
}

TEST_F(InstanceTableTest, WorksWithoutIniOrParent) {
    Daten* daten = InitKorvex(nullptr, nullptr, CountingFactory);
    ASSERT_NE(daten, nullptr);
    EXPECT_EQ(gFactory.datenName, "QZ_DATEN");
    EXPECT_EQ(daten->Driver(), nullptr);
    EXPECT_EQ(daten->Frame(), nullptr);
    ShutDownKorvex(daten);
    EXPECT_EQ(InitKorvex(&ini, machine.model.Parent(), nullptr), nullptr);
}

// The smallest machine that loads: an empty handle file and an empty
// definition file.
void WriteEmptyMachine(const TestMachine& machine) {
    machine.WriteFile("HANDLES.TXT", "");
    machine.WriteFile("QZ_DATEN.TXT", "");
}

class DatenTest : public ::testing::Test {
  protected:
    void SetUp() override { WriteEmptyMachine(machine); }
    TestMachine machine;
};

// The host objects it takes are in every end-to-end script's use; here the
// command file found whatever its case, and the hooks a host may override.
TEST_F(DatenTest, ConstructionTakesTheHostState) {
    machine.model.global.mCnc = 3;
    machine.WriteFile("comm.txt", "");
    std::unique_ptr<Daten> daten(machine.NewDaten());
    EXPECT_EQ(daten->Cnc(), 3);
    EXPECT_EQ(std::string(daten->CommandFile()), machine.Path("comm.txt"));
    EXPECT_FALSE(daten->getMagazineService() || daten->isSpotFacingMemUsed());
    TApplString text("unchanged");
    EXPECT_EQ(&daten->expandExeParams(text), &text);
}

TEST_F(DatenTest, RegisterNewHandle) {
    std::unique_ptr<Daten> daten(machine.NewDaten());
    CData* const a = reinterpret_cast<CData*>(0x1000);
    CData* const b = reinterpret_cast<CData*>(0x2000);
    std::uint16_t index = 99;
    EXPECT_EQ(daten->RegisterNewHandle(a, "FIRSTOBJ", index), 15000);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(daten->RegisterNewHandle(b, "  SECONDOBJ 12 ", index), 15001);
    EXPECT_EQ(index, 12);
    EXPECT_EQ(daten->GetHandles()->NameToHandle("secondobj"), 15001);
    const std::string tooLong(300, 'L');
    for (const char* refused :
         {"FIRSTOBJ", "firstobj 3", "", "   ", (const char*)nullptr, tooLong.c_str()})
        EXPECT_EQ(daten->RegisterNewHandle(b, refused, index), Handles::kNoHandle);
    EXPECT_EQ(daten->RegisteredCount(), 2u);

    EXPECT_EQ(daten->GetCDataPtr(15000), a);
    EXPECT_EQ(daten->GetCDataPtr(15001), b);
    for (std::uint16_t none : {15002, 14999, 0, 0xFFFF})
        EXPECT_EQ(daten->GetCDataPtr(none), nullptr);
}

class ErrorMessageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteEmptyMachine(machine);
        daten.reset(machine.NewDaten());
        std::uint16_t index;
        // A name at handle 15000 to report against.
        daten->RegisterNewHandle(nullptr, "FEEDRATE", index);
        daten->SetMessagesOn(true);
    }
    TestMachine machine;
    std::unique_ptr<Daten> daten;
};

TEST_F(ErrorMessageTest, TextsLevelsAndNames) {
    struct Case {
        std::int16_t userLevel;
        std::uint16_t handle;
        unsigned error;
        const char *caption, *text, *name;  // caption nullptr: ErrorHalt
    } cases[] = {
        {2, 15000, 3, "Data error", "Value out of range", "FEEDRATE"},
        {3, 15000, 3, nullptr, "Value out of range", "FEEDRATE"},
        {0, 123, 15, "Data error", "Data or driver error!", "Unknown handle name"},
        {0, 15000, 16, "Data error", "Unknown error!", "FEEDRATE"},
        {0, 15000, 255, "Data error", "Unknown error!", "FEEDRATE"},
        {0, 0xFFFF, 6, "Data error", "Handle not found!", "Unknown handle name"},
    };
    for (const Case& c : cases) {
        const std::string text = std::string(c.text) + "\nNumber of handle:" +
                                 std::to_string(c.handle) + "\nName of handle:" + c.name;
        machine.host.messageBoxes.clear();
        machine.host.halts.clear();
        _UserLevel = c.userLevel;
        daten->ErrorMessage(c.handle, static_cast<Daten::ErrorType>(c.error));
        if (c.caption) {
            ASSERT_EQ(machine.host.messageBoxes.size(), 1u);
            EXPECT_EQ(machine.host.messageBoxes[0].caption, c.caption);
            EXPECT_EQ(machine.host.messageBoxes[0].text, text);
            EXPECT_TRUE(machine.host.halts.empty());
        } else {
            ASSERT_EQ(machine.host.halts.size(), 1u);
            EXPECT_EQ(machine.host.halts[0].text, text);
            EXPECT_EQ(machine.host.halts[0].source, "korvex");
            EXPECT_EQ(machine.host.halts[0].line, 3100u);
            EXPECT_TRUE(machine.host.messageBoxes.empty());
        }
    }
}

TEST_F(ErrorMessageTest, WhatKeepsAMessageAway) {
    daten->SetMessagesOn(false);
    daten->ErrorMessage(15000, Daten::ValueOutOfRange);
    daten->SetMessagesOn(true);
    machine.model.frame.mSuppressMessages = true;
    daten->ErrorMessage(15000, Daten::DataOrDriverError);
    machine.model.frame.mSuppressMessages = false;
    daten->SetQuietForOptional(true);
    daten->ErrorMessage(15000, Daten::DataOrDriverError, true);
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    daten->ErrorMessage(15000, Daten::DataOrDriverError, false);
    daten->SetQuietForOptional(false);
    daten->ErrorMessage(15000, Daten::DataOrDriverError, true);
    EXPECT_EQ(machine.host.messageBoxes.size(), 2u);
}

TEST_F(ErrorMessageTest, ErrorTextTable) {
    const char* texts[] = {
        "Unknown error!",        "Wrong type!",       "Direct access not allowed!",
        "Value out of range",    "Not enough space!", "File not found!",
        "Handle not found!",     "Syntax error!",     "Handle exists!",
        "Key exists!",           "Unknown key!",      "Missing key!",
        "Unknown parameter!",    "Parameter error!",  "Command string not found!",
        "Data or driver error!", "Unknown error!"};
    for (unsigned code = 0; code < std::size(texts); ++code)
        EXPECT_STREQ(Daten::ErrorText(code), texts[code]) << code;
}

TEST_F(ErrorMessageTest, ErrorHaltAndErrorStopReachTheHost) {
    daten->ErrorHalt("broken", "datutil", 12);
    daten->ErrorStop("stopped");
    ASSERT_EQ(machine.host.halts.size(), 1u);
    EXPECT_EQ(machine.host.halts[0].source + ":" + std::to_string(machine.host.halts[0].line),
              "datutil:12");
    EXPECT_EQ(machine.host.stops, std::vector<std::string>{"stopped"});
}

TEST(HelloMessageTest, ShowsOnlyAtItsSteps) {
    TestMachine machine;
    const std::uint16_t counts[] = {0, 100, 150, 1000, 1250, 1300, 5500, 5250, 999};
    for (std::uint16_t count : counts)
        Daten::viewHelloMessage(&machine.model.appl, "DORIX1 interface", count);
    EXPECT_EQ(machine.host.LinesStartingWith("hello "),
              (std::vector<std::string>{
                  "hello \"DORIX1 interface  [0]\"", "hello \"DORIX1 interface  [100]\"",
                  "hello \"DORIX1 interface  [1000]\"", "hello \"DORIX1 interface  [1250]\"",
                  "hello \"DORIX1 interface  [5500]\""}));
    machine.host.lines.clear();
    machine.model.appl.mHello = nullptr;
    Daten::viewHelloMessage(&machine.model.appl, "DORIX1 interface", 100);
    Daten::viewHelloMessage(nullptr, "DORIX1 interface", 100);
    EXPECT_TRUE(machine.host.lines.empty());
}

}  // namespace
