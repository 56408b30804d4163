#include "korvex/data/numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvex/data/strings.h"
#include "tests/support/values_fixture.h"

namespace {

using korvex::host::SimDriver;
using korvex::testing::ValuesTest;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kBelow = 0x2E5E8 - 0x40;
constexpr std::uint32_t kAbove = 0x2E5E8 + 0x40;

class DataObjectsTest : public ValuesTest {
  protected:
    Bytes Image(std::uint32_t address, std::size_t n) {
        const std::uint8_t* p = sim().Image(address);
        return Bytes(p, p + n);
    }
    void PutImage(std::uint32_t address, const Bytes& bytes) {
        std::memcpy(sim().Image(address), bytes.data(), bytes.size());
    }
    std::uint16_t Named(const char* name) { return daten->GetHandles()->NameToHandle(name); }
};

// Lengths, both sides of the swap limit, both locations, signed and unsigned:
// the bytes written, and the value read back from those bytes (the plain
// cases of each side are the objects_numbers script's).
TEST_F(DataObjectsTest, NumberBytesInTheControllerMemory) {
    struct Case {
        std::uint32_t address;
        DInfo::DType type;
        TDriver::ELocation location;
        std::int32_t value;
        Bytes bytes;
    };
    const auto L2 = TDriver::LocationDefault;
    const auto L0 = TDriver::LocationSwapped;
    const Case cases[] = {
        {kAbove, DInfo::LONGINT, L0, -2, {0xFF, 0xFF, 0xFF, 0xFE}},
        {0x2E5E8, DInfo::QZREAL, L2, 0x01020304, {0x01, 0x02, 0x03, 0x04}},
        {0x2E5E4, DInfo::QZLONGCARD, L2, 0x01020304, {0x04, 0x03, 0x02, 0x01}},
        {kBelow, DInfo::WORD, L0, 0xABCD, {0xAB, 0xCD}},
        {kAbove, DInfo::QZSHORTREAL, L2, -300, {0xFE, 0xD4}},
        {kBelow, DInfo::SHORTINT, L0, -1, {0xFF}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string name = "Num" + std::to_string(n++);
        const std::uint16_t length = DInfo::NumericLength(c.type);
        CDrvNumber number(daten.get(), name.c_str(), c.address, length, c.type, 1, 10, 0, "", 0, 10,
                          0, "", 0, 150, false, 0, c.location);
        const std::uint16_t handle = Named(name.c_str());
        ASSERT_EQ(handle, number.Handle());
        PutImage(c.address - 1, Bytes(length + 2, 0x5A));
        ASSERT_EQ(daten->SetValue(handle, c.value), 0);
        EXPECT_EQ(Image(c.address, length), c.bytes);
        // The neighbours are untouched.
        EXPECT_EQ(Image(c.address - 1, 1), Bytes{0x5A});
        EXPECT_EQ(Image(c.address + length, 1), Bytes{0x5A});
        PutImage(c.address, Bytes(length, 0));
        PutImage(c.address, c.bytes);
        std::int32_t read = 0;
        ASSERT_EQ(daten->GetValue(handle, read), 0);
        EXPECT_EQ(read, c.value);
    }
    EXPECT_TRUE(host().halts.empty());
}

// The swap decision belongs to element 0: a table starting below the limit
// keeps its byte order across it.
TEST_F(DataObjectsTest, TableAcrossTheSwapLimitAndStride) {
    CDrvNumber table(daten.get(), "Across", 0x2E5E8 - 8, 4, DInfo::LONGINT, 3, 10, 0, "", 0, 10, 0,
                     "", 8, 150, false, 0, TDriver::LocationDefault);
    EXPECT_EQ(table.Stride(), 8u);
    table.SetValue(0x0A0B0C0D, 2, 0);
    EXPECT_EQ(Image(0x2E5E8 + 8, 4), (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));
    PutImage(0x2E5E8, {0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(table.GetValue(1, 0), 1);
    // An index beyond the table keeps the element selected before.
    EXPECT_EQ(table.GetValue(7, 0), 1);
    CDrvNumber above(daten.get(), "Above", 0x2E5E8, 2, DInfo::WORD, 2, CData::RegisterNew);
    above.SetValue(0x1234, 1, 0);
    EXPECT_EQ(Image(0x2E5E8 + 2, 2), (Bytes{0x12, 0x34}));
}

// Wrong definitions halt, take no handle, and leave an object that can be
// used and destroyed safely (more of them, and a name taken twice, are the
// objects_kinds script's).
TEST_F(DataObjectsTest, WrongDefinitionsHalt) {
    char lent[8] = {};
    std::vector<std::unique_ptr<CData>> objects;
    const auto add = [&](CData* object) { objects.emplace_back(object); };
    const auto mode = CData::RegisterNew;
    add(new CDrvNumber(daten.get(), "T0", kBelow, 4, DInfo::NONE, mode));
    add(new CDrvNumber(daten.get(), "T12", kBelow, 4, DInfo::STRING, mode));
    add(new CDrvNumber(daten.get(), "Real8", kBelow, 8, DInfo::REAL, mode));
    add(new CPrivNumber(daten.get(), "Lent6", lent, 6, 4, 10, 0, "", 0, 10, 0, ""));
    add(new CPrivNumber(daten.get(), "Lent3", lent, 3, 1, 10, 0, "", 0, 10, 0, ""));
    add(new CPrivNumber(daten.get(), "LentT0", lent, 8, 0, 10, 0, "", 0, 10, 0, ""));
    add(new CPrivNumber(daten.get(), "Own0", 0, 10, 0, "", 0, 10, 0, ""));
    add(new CDrvStr(daten.get(), "StrT0", kBelow, 4, 0, mode));
    add(new CPrivStr(daten.get(), "PStr0", 0));
    ASSERT_EQ(host().halts.size(), objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        CData& object = *objects[i];
        EXPECT_EQ(host().halts[i].text.rfind("Wrong Definition of Handle [", 0), 0u);
        EXPECT_EQ(host().halts[i].source, "datutil");
        EXPECT_FALSE(object.Bound());
        EXPECT_EQ(object.Handle(), 0xFFFF);
        object.SetValue(1, 0, 0);
        object.GetValue(0, 0);
        object.SetString("x", 0, 0);
        object.GetString(0, 0);
        object.GetBit(40, 0);
        object.SetValue(1, 0, 0);
    }
    EXPECT_EQ(host().halts[1].text, "Wrong Definition of Handle [T12]!");
    EXPECT_EQ(Named("T12"), 0xFFFF);
}

// A private copy reads the controller once per element, keeps what it read
// and what it was given, and never writes the controller.
TEST_F(DataObjectsTest, PrivateCopy) {
    CDrvNumber source(daten.get(), "Source", kAbove, 2, DInfo::INTEGER, 3, 10, 2, "mm", 1, 10, 3,
                      "in", 0, 150, false, 0, TDriver::LocationDefault);
    PutImage(kAbove, {0xFF, 0x9C, 0x00, 0x07});
    CDrvNumber copy(source, true, TDriver::LocationDefault);
    ASSERT_TRUE(copy.IsPrivateCopy());
    EXPECT_EQ(copy.GetValue(0, 0), -100);
    PutImage(kAbove, {0x00, 0x01});
    EXPECT_EQ(copy.GetValue(0, 0), -100);  // kept
    EXPECT_EQ(source.GetValue(0, 0), 1);   // the controller
    const std::uint32_t writes = sim().Calls(SimDriver::Operation::WriteMemory);
    copy.SetValue(55, 2, 0);
    EXPECT_EQ(sim().Calls(SimDriver::Operation::WriteMemory), writes);
    EXPECT_EQ(copy.GetValue(2, 0), 55);
    EXPECT_EQ(Image(kAbove + 2, 4), (Bytes{0x00, 0x07, 0x00, 0x00}));
    // Grown past its mirror, the copy refuses a write it cannot hold.
    copy.setTabSize(5);
    copy.SetValue(66, 4, 0);
    EXPECT_EQ(copy.LastError(), 3);
    EXPECT_EQ(copy.GetValue(2, 0), 55);
    // A failed read fills nothing.
    CDrvNumber other(source, true, TDriver::LocationDefault);
    sim().FailNext(SimDriver::Operation::ReadMemory);
    other.GetValue(1, 0);
    EXPECT_EQ(other.LastError(), 15);
    EXPECT_EQ(other.GetValue(1, 0), 7);
    // Blocks are raw controller bytes of any size: they pass the mirror by.
    unsigned char out[4] = {};
    copy.GetBinBlock(out, 4, 1, false);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x00, 0x07, 0x00, 0x00}));
    const unsigned char block[6] = {1, 2, 3, 4, 5, 6};
    copy.SetBinBlock(block, 6, 0, false);
    EXPECT_EQ(copy.LastError(), 0);
    EXPECT_EQ(Image(kAbove, 6), Bytes(block, block + 6));
    EXPECT_EQ(copy.GetValue(2, 0), 55);

    CDrvStr text(daten.get(), "SrcText", kBelow, 4, 2, CData::RegisterNew);
    PutImage(kBelow, {'a', 'b', 'c', 'd', 'w', 'x', 0, 0});
    CDrvStr textCopy(text, true, TDriver::LocationDefault);
    EXPECT_STREQ(textCopy.GetString(0, 0), "abcd");
    textCopy.SetString("zz", 1, 0);
    textCopy.SetValue('Q', 0, 0);
    EXPECT_STREQ(textCopy.GetString(0, 0), "Qbcd");
    EXPECT_STREQ(textCopy.GetString(1, 0), "zz");
    textCopy.setTabSize(3);
    textCopy.SetString("no", 2, 0);
    EXPECT_EQ(textCopy.LastError(), 3);
    EXPECT_STREQ(textCopy.GetString(1, 0), "zz");
    EXPECT_EQ(Image(kBelow, 8), (Bytes{'a', 'b', 'c', 'd', 'w', 'x', 0, 0}));
}

// Copies in every direction between objects that own storage, mirrors,
// flags and text buffers; the sanitizers catch a double or missing free.
TEST_F(DataObjectsTest, CopiesFreeEverythingOnce) {
    CDrvNumber base(daten.get(), "Base", kBelow, 4, DInfo::LONGINT, 4, CData::RegisterNew);
    CPrivNumber own(daten.get(), "Own", 3, 10, 0, "", 0, 10, 0, "");
    own.SetValue(42, 2, 0);
    std::int16_t cells[4] = {};
    CPrivNumber lent(daten.get(), "Lent", cells, sizeof cells, 4, 10, 0, "", 0, 10, 0, "");
    CDrvStr text(daten.get(), "Text", kBelow, 8, 2, CData::RegisterNew);
    CPrivStr texts(daten.get(), "Texts", 2);
    texts.SetString("kept", 1, 0);
    for (int order = 0; order < 2; ++order) {
        auto mirror = std::make_unique<CDrvNumber>(base, true, TDriver::LocationDefault);
        mirror->SetValue(9, 3, 0);
        auto plain = std::make_unique<CDrvNumber>();
        *plain = *mirror;
        plain->setTabSize(9);
        auto third = std::make_unique<CDrvNumber>(*plain);
        third->assignPtr(base);
        third->replaceObject(*mirror);
        EXPECT_EQ(plain->GetValue(3, 0), 9);
        auto ownCopy = std::make_unique<CPrivNumber>(own);
        auto ownOther = std::make_unique<CPrivNumber>();
        *ownOther = *ownCopy;
        ownOther->assignPtr(lent);
        ownOther->assignPtr(own);
        EXPECT_EQ(ownOther->GetValue(2, 0), 42);
        auto textCopy = std::make_unique<CDrvStr>(text, true, TDriver::LocationDefault);
        textCopy->SetString("abc", 1, 0);
        auto textOther = std::make_unique<CDrvStr>();
        *textOther = *textCopy;
        textOther->assignPtr(text);
        textOther->replaceObject(*textCopy);
        EXPECT_STREQ(textOther->GetString(1, 0), "abc");
        auto textsCopy = std::make_unique<CPrivStr>(texts);
        textsCopy->setTabSize(5);
        EXPECT_STREQ(textsCopy->GetString(1, 0), "kept");
        if (order == 0) {
            mirror.reset();
            ownCopy.reset();
            textCopy.reset();
        } else {
            third.reset();
            plain.reset();
            ownOther.reset();
            textOther.reset();
        }
    }
    // replaceObject puts the copy at the handle's place; the original takes it back.
    CDrvNumber taker;
    taker.replaceObject(base);
    EXPECT_EQ(daten->GetCDataPtr(base.Handle()), &taker);
    base.replaceObject(taker);
    EXPECT_EQ(daten->GetCDataPtr(base.Handle()), &base);
}

// Controller numbers of one type share one record until one changes its
// own: the change reaches no other object, and a copy keeps what it took.
TEST_F(DataObjectsTest, RecordsAreSharedUntilChanged) {
    const auto record = [](const CData& object) -> const DInfo& { return object.Info(); };
    struct Case {
        const char* what;
        std::function<void(CDrvNumber&)> change;
        bool (*changed)(const DInfo&);
    };
    const Case cases[] = {
        {"Info", [](CDrvNumber& n) { n.Info().mBase = 2; },
         [](const DInfo& r) { return r.mBase == 2; }},
        {"a star",
         [](CDrvNumber& n) {
             std::int32_t v = 0;
             n.String2Value("*", v);
         },
         [](const DInfo& r) { return r.mNotValid == 1; }},
        {"by handle",
         [this](CDrvNumber& n) { daten->ExistHandleAndGetInfo(n.Handle())->mVisible = 0; },
         [](const DInfo& r) { return r.mVisible == 0; }},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "Shared" + std::to_string(serial++);
        CDrvNumber one(daten.get(), CData::TransientName{(name + "A").c_str()}, kBelow, 2,
                       DInfo::WORD, CData::RegisterNew);
        CDrvNumber other(daten.get(), CData::TransientName{(name + "B").c_str()}, kBelow, 2,
                         DInfo::WORD, CData::RegisterNew);
        EXPECT_EQ(&record(one), &record(other));
        EXPECT_EQ(daten->FindRecord(other.Handle()), &record(other));
        c.change(one);
        EXPECT_TRUE(c.changed(record(one)));
        EXPECT_FALSE(c.changed(record(other)));
        EXPECT_EQ(record(one).mType, DInfo::WORD);
        CDrvNumber copy(one);
        one.assignPtr(other);
        EXPECT_FALSE(c.changed(record(one)));
        EXPECT_TRUE(c.changed(record(copy)));
        EXPECT_EQ(one.GetValue(0, 0), other.GetValue(0, 0));
    }
}

TEST_F(DataObjectsTest, NumberConversions) {
    CPrivNumber length(daten.get(), "Length", 1, 10, 3, "[mm]", 1, 10, 4, "[inch]");
    CPrivNumber count(daten.get(), "Count", 1, 10, 0, "", 0, 10, 0, "", 0, 1, -1);
    char out[32];
    struct Case {
        CVirtualNumber* number;
        bool inch;
        std::int32_t value;
        const char* shown;
    };
    const Case shows[] = {
        {&length, false, 25400, "25.400"},
        {&length, true, 25400, "1.0000"},
        {&count, false, -1, "**********"},
        {&count, false, 12, "12"},
    };
    for (const Case& c : shows) {
        if (c.inch)
            daten->SetInchFlag1();
        else
            daten->ClearInchFlag1();
        EXPECT_EQ(c.number->Value2String(c.value, out, sizeof out), 0);
        EXPECT_STREQ(out, c.shown);
    }
    daten->ClearInchFlag1();
    EXPECT_EQ(length.MetricValue2InchString(25400, out, sizeof out), 0);
    EXPECT_STREQ(out, "1.0000");
    EXPECT_EQ(length.InchValue2MetricString(10000, out, sizeof out), 0);
    EXPECT_STREQ(out, "25.400");
    std::int32_t value = 0;
    EXPECT_EQ(count.String2Value("1.5", value), 13);
    EXPECT_EQ(length.String2Value("1.5", value), 0);
    EXPECT_EQ(value, 1500);
    EXPECT_EQ(count.String2Value("*", value), 0);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(length.Comm(const_cast<char*>("2.25"), 0, 0), 0);
    EXPECT_EQ(length.Long(0, 0), 2250);
    EXPECT_EQ(length.Comm(const_cast<char*>("x"), 0, 0), 15);
    // Lent memory keeps the element type's range and width.
    std::uint8_t bytes[2] = {};
    CPrivNumber small(daten.get(), "Small", bytes, 2, 2, 10, 0, "", 0, 10, 0, "");
    small.SetValue(300, 1, 0);
    EXPECT_EQ(small.LastError(), 3);
    small.SetValue(255, 1, 0);
    EXPECT_EQ(bytes[1], 255);
    EXPECT_EQ(small.Long(1, 0), 255);
    // Lent memory cannot grow: the table keeps its size (ASan sees any write past it).
    small.setTabSize(6);
    EXPECT_EQ(small.LastError(), 3);
    EXPECT_EQ(small.getTabSize(), 2);
    small.SetValue(7, 5, 0);
    EXPECT_EQ(bytes[1], 7);
}

// Command numbers read like CDrvNumber and write by a command line.
TEST_F(DataObjectsTest, CommandNumbers) {
    daten->SetDefinition(581, new DInfo(DInfo::STRING, 128, DInfo::TPara, 1, 1, 0, 0));
    daten->SetDefinition(
        583, new DInfo(DInfo::LONGINT, INT32_MIN, INT32_MAX, 0, 10, 0, 10, 0, 1.0, 1, 0, 1, 10));
    CDrvCommValNumber value(daten.get(), "Feed", kBelow, 4, DInfo::LONGINT, "FEED ", 1, 10, 0, "",
                            0, 10, 0, "", 0, 150, false, 0);
    CDrvCommYesNoNumber yesNo(daten.get(), "Lamp", kAbove, 1, DInfo::BYTE, "LAMP ON", "LAMP OFF", 1,
                              10, 0, "", 0, 10, 0, "", 0, 150, false, 0);
    auto sent = [&] {
        const Bytes bytes = Peek(581);
        return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
    };
    value.SetValue(250, 0, 0);
    EXPECT_EQ(sent(), "FEED 250");
    EXPECT_EQ(value.LastError(), 0);
    EXPECT_EQ(Image(kBelow, 4), Bytes(4, 0));  // written as a command only
    EXPECT_EQ(yesNo.Comm(const_cast<char*>("+"), 0, 0), 0);
    EXPECT_EQ(sent(), "LAMP OFF");
    EXPECT_EQ(yesNo.Comm(const_cast<char*>("12"), 0, 0), 0);
    EXPECT_EQ(sent(), "LAMP ON");
    EXPECT_EQ(yesNo.Comm(const_cast<char*>("1a"), 0, 0), 15);  // no command goes out
    EXPECT_EQ(yesNo.LastError(), 13);                            // the refused text
    EXPECT_EQ(sent(), "LAMP ON");
    PutImage(kAbove, {7});
    EXPECT_EQ(yesNo.GetValue(0, 0), 1);
}

TEST_F(DataObjectsTest, StringsKeepToTheirField) {
    // Fields read and written whole are the objects_kinds script's.
    CDrvStr text(daten.get(), "Full", kAbove, 6, 2, CData::RegisterNew);
    PutImage(kAbove, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0, 0, 0, 0});
    unsigned char block[12];
    std::memset(block, '#', sizeof block);
    text.GetBinBlock(block, sizeof block, 1, false);
    EXPECT_EQ(block[6], '#');  // only the element's length is read
    text.SetValue('Z', 0, 0);
    EXPECT_EQ(text.GetValue(0, 0), 'Z');
    // Lent memory: exactly length bytes, no terminator added.
    char lent[17];
    std::memset(lent, '.', sizeof lent);
    lent[16] = 0;
    CPrivStr fields(daten.get(), "Fields", lent, 8, 2);
    fields.SetString("0123456789", 0, 0);
    EXPECT_STREQ(lent, "01234567........");
    fields.SetString("ab", 1, 0);
    EXPECT_EQ(std::string(lent, 11), std::string("01234567ab\0", 11));
    EXPECT_STREQ(fields.GetString(0, 0), "01234567ab");
}

// A command number whose value yields no command: nothing changes.
class SilentCommand : public CVirtualDrvCommNumber {
  public:
    using CVirtualDrvCommNumber::CVirtualDrvCommNumber;
    char* HandleInputValue(std::int32_t, std::uint16_t) override { return nullptr; }
    char* HandleInputString(char*, std::uint16_t) override { return nullptr; }
    void SetLastError(std::uint8_t error) { mLastError = error; }
};

TEST_F(DataObjectsTest, ValueWithoutCommandChangesNothing) {
    SilentCommand silent(daten.get(), "Silent", kBelow, 4, DInfo::LONGINT, 1, 10, 0, "", 0, 10, 0,
                         "", 0, 150, false, 0);
    silent.SetLastError(9);
    const std::size_t shown = host().lines.size();
    silent.SetValue(5, 0, 0);
    EXPECT_EQ(silent.LastError(), 9);
    EXPECT_EQ(host().lines.size(), shown);
}

class ProbeNumber : public CDrvNumber {
  public:
    void Corrupt() { mGuard[1] = '!'; }
};

TEST(DataObjectsDeathTest, CorruptedLifeMarkerEndsTheProcess) {
    EXPECT_EXIT(
        {
            korvex::host::SetHost(nullptr);
            ProbeNumber number;
            number.Corrupt();
        },
        ::testing::ExitedWithCode(1), "CData");
}

}  // namespace
