#include "korvex/data/cdata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tests/support/values_fixture.h"

namespace {

using korvex::testing::ValuesTest;

using korvex::testing::Cells;

class CDataTest : public ValuesTest {};

TEST_F(CDataTest, RegistersItsNameAsANewHandleAndBinds) {
    Cells first(daten.get(), "FirstCell", 3);
    Cells second(daten.get(), "SecondCell 7", 1);
    EXPECT_EQ(CData::gpDat, daten.get());
    EXPECT_EQ(CData::gpHandles, daten->GetHandles());
    EXPECT_EQ(first.Handle(), 15000);
    EXPECT_EQ(second.Handle(), 15001);
    EXPECT_EQ(second.Index(), 7);  // the number after the blank
    EXPECT_STREQ(second.Name(), "SecondCell");
    EXPECT_EQ(second.Name(), daten->GetHandles()->getNamePtr("SecondCell"));
    EXPECT_TRUE(first.Bound());
    EXPECT_EQ(first.Driver(), &machine.sim);
    EXPECT_EQ(first.SwapLimit(), 0x2E5E8u);
    EXPECT_EQ(first.AxisSelected(), 0xFF);
    EXPECT_EQ(daten->GetHandles()->NameToHandle("FirstCell"), 15000);
    EXPECT_EQ(daten->GetCDataPtr(15001), &second);
    EXPECT_TRUE(host().halts.empty());
}

TEST_F(CDataTest, RegistrationModes) {
    Cells registered(daten.get(), "Taken", 1);
    // A name the table holds already halts and leaves the object unbound.
    Cells twice(daten.get(), "Taken", 1);
    ASSERT_EQ(host().halts.size(), 1u);
    EXPECT_EQ(host().halts[0].text, "Handle [Taken] already exists");
    EXPECT_EQ(host().halts[0].source, "datutil");
    EXPECT_EQ(twice.Handle(), 0xFFFF);
    EXPECT_FALSE(twice.Bound());
    // Bound to the driver without a handle.
    Cells bound("Elsewhere", CData::BindUnregistered);
    EXPECT_EQ(bound.Handle(), 0xFFFF);
    EXPECT_TRUE(bound.Bound());
    EXPECT_EQ(bound.Driver(), &machine.sim);
    EXPECT_EQ(daten->GetHandles()->NameToHandle("Elsewhere"), 0xFFFF);
    // Any other mode neither registers nor binds.
    Cells neither("Neither", CData::NoRegistration);
    EXPECT_FALSE(neither.Bound());
    EXPECT_EQ(daten->GetHandles()->NameToHandle("Neither"), 0xFFFF);
    // While registration is switched off nothing registers or binds.
    CData::gbRegisterNewHandle = false;
    Cells mirror(daten.get(), "Mirror", 1);
    CData::gbRegisterNewHandle = true;
    EXPECT_FALSE(mirror.Bound());
    EXPECT_EQ(mirror.Handle(), 0xFFFF);
    EXPECT_EQ(daten->GetHandles()->NameToHandle("Mirror"), 0xFFFF);
    // The default object is unnamed-empty, unbound and not initialised.
    Cells plain;
    EXPECT_STREQ(plain.Name(), "");
    EXPECT_FALSE(plain.Bound());
    EXPECT_EQ(plain.AxisSelected(), 0xFF);
    EXPECT_EQ(plain.Location(), TDriver::LocationDefault);
    EXPECT_EQ(host().halts.size(), 1u);
}

TEST_F(CDataTest, AnotherDatenIsRefused) {
    Cells mine(daten.get(), "Mine", 1);
    korvex::testing::CommRecordingDaten other(machine.model.Parent(), "QZ_DATEN", "HANDLES");
    Cells theirs(&other, "Theirs", 1);
    ASSERT_EQ(host().halts.size(), 1u);
    EXPECT_EQ(host().halts[0].text, "pDat-Pointer change");
    EXPECT_EQ(host().halts[0].source, "datutil");
    EXPECT_EQ(CData::gpDat, daten.get());
    EXPECT_EQ(theirs.Handle(), 15001);  // it belongs to the first Daten
    EXPECT_EQ(daten->GetCDataPtr(15001), &theirs);

    // Once the first Daten is gone (a host shut it down), the next one takes
    // the objects: nothing points at the destroyed one.
    CData::ForgetDaten(nullptr);
    {
        korvex::testing::CommRecordingDaten first(machine.model.Parent(), "QZ_DATEN", "HANDLES");
        Cells gone(&first, "Gone", 1);
        EXPECT_EQ(CData::gpDat, &first);
    }
    EXPECT_EQ(CData::gpDat, nullptr);
    Cells next(&other, "Next", 1);
    EXPECT_EQ(host().halts.size(), 1u);
    EXPECT_EQ(CData::gpDat, &other);
    EXPECT_EQ(other.GetCDataPtr(next.Handle()), &next);
    CData::ForgetDaten(nullptr);
}

TEST_F(CDataTest, ElementSelection) {
    Cells cells(daten.get(), "Cells", 3);
    cells.values = {10, 11, 12};
    EXPECT_EQ(cells.GetValue(1, 4), 11);
    EXPECT_EQ(cells.AxisSelected(), 4);
    // Out of range: the previous element, the new axis.
    EXPECT_EQ(cells.GetValue(5, 6), 11);
    EXPECT_EQ(cells.Index(), 1);
    EXPECT_EQ(cells.AxisSelected(), 6);
    EXPECT_EQ(cells.GetValue(0xFFFF, 7), 11);
    EXPECT_EQ(cells.GetValue(2, 255), 12);
    EXPECT_EQ(cells[0], 10);
    // GetBit takes the index without the range test.
    cells.GetBit(9, 1);
    EXPECT_EQ(cells.Index(), 9);
    // An unbound object selects nothing.
    Cells loose("Loose", CData::NoRegistration);
    loose.values = {1, 2};
    loose.GetValue(1, 3);
    EXPECT_EQ(loose.Index(), 0);
    EXPECT_EQ(loose.AxisSelected(), 0xFF);
    EXPECT_TRUE(loose.IsVisible(1, 3, 0));
    EXPECT_EQ(loose.Index(), 0);
}

TEST_F(CDataTest, TypedGettersAndBits) {
    Cells cells(daten.get(), "Typed", 4);
    cells.values = {-1, 0x1208, 0x80, 0x00000A08};
    struct Case {
        const char* getter;
        std::int64_t got, expected;
    } cases[] = {
        {"Bool", cells.Bool(0, 255), 1},
        {"Byte", cells.Byte(0, 255), 255},
        {"Word", cells.Word(0, 255), 65535},
        {"DWord", cells.DWord(0, 255), 4294967295},
        {"Integer", cells.Integer(0, 255), -1},
        {"Long", cells.Long(1, 255), 0x1208},
        {"int8", cells.int8(2, 255), -128},
        {"uint8", cells.uint8(2, 255), 128},
        {"int16", cells.int16(1, 255), 0x1208},
        {"uint16", cells.uint16(0, 255), 65535},
        {"int32", cells.int32(0, 255), -1},
        {"uint32", cells.uint32(0, 255), 4294967295},
        {"getBIT(11)", cells.getBIT(11), 1},
        {"getBIT(10)", cells.getBIT(10), 0},
        {"getBIT(27)", cells.getBIT(27), 1},
        {"getBIT(24)", cells.getBIT(24), 0},
        {"getBit", cells.getBit(CData::Bit12, 1, 255), 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.getter;
    cells.setBIT(true, 10);
    EXPECT_EQ(cells.values[1], 0x120C);
    cells.setBIT(false, 11);
    EXPECT_EQ(cells.values[1], 0x1204);
    cells.setBit(true, CData::Bit31, 2, 255);
    EXPECT_EQ(cells.values[2], static_cast<std::int32_t>(0x80000080u));
    cells.SetBit(true, 3, 255);
    EXPECT_EQ(cells.values[3], 1);
    EXPECT_STREQ(cells.Char(0, 255), "cell");
    char buffer[3];
    EXPECT_STREQ(cells.GetString(buffer, sizeof buffer, 0, 255), "ce");
}

TEST_F(CDataTest, TimeOfDayFromTheControllerWord) {
    Cells clock(daten.get(), "Clock", 2);
    const unsigned char bytes[4] = {0x00, 0x1E, 0x0A, 0x02};
    std::memcpy(clock.block, bytes, sizeof bytes);
    EXPECT_EQ(clock.GetTime(1), 2u * 3600 + 10 * 60 + 30);
    EXPECT_EQ(clock.Index(), 1);
}

TEST_F(CDataTest, BaseOperations) {
    Cells cells(daten.get(), "Base", 2);
    cells.Info() = DInfo(DInfo::QZREAL, -5, 5, 0, 8, 3, 9, 4, 1.0, DInfo::TPara, 1, 2, 0, "[mm]",
                         "[inch]", "", "", "", 0, 0, 0, 16);
    char out[8] = "#######";
    EXPECT_EQ(cells.Value2String(-1234, out, sizeof out), 0);
    EXPECT_STREQ(out, "-1234");
    EXPECT_EQ(cells.Value2String(-1234567, out, 4), 0);
    EXPECT_STREQ(out, "-12");
    EXPECT_EQ(cells.MetricValue2InchString(7, out, sizeof out), 0);
    EXPECT_STREQ(out, "7");
    EXPECT_EQ(cells.InchValue2MetricString(8, out, sizeof out), 0);
    EXPECT_STREQ(out, "8");
    std::int32_t value = 99;
    EXPECT_EQ(cells.String2Value("5", value), 0);
    EXPECT_EQ(value, 99);
    char text[] = "x";
    EXPECT_EQ(cells.Comm(text, 0, 255), 0);
    EXPECT_EQ(cells.Min(), -5);
    EXPECT_EQ(cells.Max(), 5);
    std::uint8_t width = 0, decimals = 0;
    cells.GetMetInchFormat(width, decimals, true);
    EXPECT_EQ(width * 10 + decimals, 94);
    cells.GetMetInchFormat(width, decimals, false);
    EXPECT_EQ(width * 10 + decimals, 83);
    EXPECT_FALSE(cells.IsVisible(1, 255, 0));
    EXPECT_EQ(cells.Index(), 1);
    EXPECT_TRUE(cells.DirectWrite());
    EXPECT_TRUE(cells.InchMetr());
    EXPECT_EQ(cells.getInchMetricFactor(), 2.54);
    EXPECT_EQ(cells.GetBasis(), 16);
    EXPECT_EQ(cells.GetMaxTabElemAnz(), 2);
    EXPECT_EQ(cells.DatenTyp(), DInfo::QZREAL);
    EXPECT_EQ(cells.DatenLaenge(), 4);
    // The unit follows inch flag 2, as the record says.
    EXPECT_STREQ(cells.GetUnitString(), "[mm]");
    daten->SetInchFlag1();
    EXPECT_FALSE(cells.CheckInch());
    daten->SetInchFlag2();
    EXPECT_TRUE(cells.CheckInch());
    EXPECT_TRUE(daten->CheckInch(cells.Handle()));
    EXPECT_STREQ(cells.GetUnitString(), "[inch]");
    cells.setMemLocation(TDriver::LocationSwapped);
    EXPECT_EQ(cells.Location(), TDriver::LocationSwapped);
    TApplString entry = "old";
    EXPECT_FALSE(cells.getComboBoxEntry(0, entry));
    EXPECT_STREQ(entry.c_str(), "");
    EXPECT_FALSE(cells.useFileDialog() || cells.hasComboBoxData() || cells.doSortTable() ||
                 cells.doCheckInput());
    EXPECT_EQ(cells.getButtonParamsChangedTime(), 0u);
    EXPECT_EQ(cells.getComboBoxCurrentIndex(), 0);
    // Through Daten, a registered object is reached by its handle.
    EXPECT_EQ(daten->Value2String(cells.Handle(), std::int32_t{42}, out, sizeof out), 0);
    EXPECT_STREQ(out, "42");
}

TEST_F(CDataTest, ProtocolLinesNameTheObject) {
    Cells cells(daten.get(), "Spindle", 1);
    cells.WriteProtocol("K", "V");
    EXPECT_EQ(host().LinesStartingWith("protocol"),
              std::vector<std::string>{"protocol 341 \"TESTMACHINE\" \"K Spindle: V\""});
    // Without a protocol object there is nowhere to write to.
    machine.model.frame.mProtocol = nullptr;
    cells.WriteProtocol("K", "W");
    machine.model.frame.mProtocol = &machine.model.protocol;
    // Nor once the objects have no Daten.
    CData::ForgetDaten(daten.get());
    cells.WriteProtocol("K", "X");
    EXPECT_EQ(host().LinesStartingWith("protocol").size(), 1u);
}

TEST_F(CDataTest, AsStringIsOneSharedText) {
    Cells a(daten.get(), "A", 1);
    Cells b(daten.get(), "B", 1);
    a.values = {1};
    b.values = {2};
    TApplString& first = a.asString(0);
    EXPECT_STREQ(first.c_str(), "1");
    TApplString& second = b.asString(0);
    EXPECT_EQ(&first, &second);
    EXPECT_STREQ(first.c_str(), "2");
}

TEST_F(CDataTest, CopyingKeepsNameIndexAndLocationWhereTheyBelong) {
    Cells source(daten.get(), "Source", 5);
    source.Info().mBase = 2;
    Cells target("Target", CData::NoRegistration);
    target.setMemLocation(TDriver::LocationSwapped);
    target.assignPtr(source);
    EXPECT_TRUE(target.Bound());
    EXPECT_EQ(target.getTabSize(), 5);
    EXPECT_EQ(target.Info().mBase, 2);
    EXPECT_STREQ(target.Name(), "Target");
    EXPECT_EQ(target.Handle(), 0xFFFF);
    EXPECT_EQ(target.Location(), TDriver::LocationSwapped);
    target = source;
    EXPECT_EQ(target.Handle(), source.Handle());
    EXPECT_EQ(target.Name(), source.Name());
    EXPECT_EQ(daten->GetCDataPtr(source.Handle()), &source);
    target.replaceObject(source);
    EXPECT_EQ(daten->GetCDataPtr(source.Handle()), &target);
    // Taking over an object without a handle names nothing.
    Cells loose("Loose", CData::NoRegistration);
    target = loose;
    EXPECT_EQ(target.Name(), nullptr);
    EXPECT_EQ(target.Handle(), 0xFFFF);
}

TEST_F(CDataTest, LifeMarker) {
    alignas(Cells) unsigned char storage[sizeof(Cells)];
    Cells* cells = new (storage) Cells(daten.get(), "Marked", 1);
    EXPECT_TRUE(cells->Alive());
    // Where the marker lies in the object's bytes.
    const std::string before(reinterpret_cast<const char*>(storage), sizeof storage);
    const std::size_t marker = before.find(std::string("OK\0\0", 4));
    ASSERT_NE(marker, std::string::npos);
    cells->~Cells();
    EXPECT_EQ(std::memcmp(storage + marker, "ko\0\0", 4), 0);
    EXPECT_TRUE(host().beeps.empty());
    EXPECT_TRUE(host().fatalAppExits.empty());

    Cells* broken = new (storage) Cells(daten.get(), "Broken", 1);
    broken->Corrupt();
    broken->~Cells();
    ASSERT_EQ(host().beeps.size(), 1u);
    EXPECT_EQ(host().beeps[0], 0xFFFFFFFFu);
    ASSERT_EQ(host().fatalAppExits.size(), 1u);
    EXPECT_EQ(host().fatalAppExits[0], "CData");
}

}  // namespace
