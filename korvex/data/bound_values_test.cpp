#include "korvex/data/bound_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "korvex/coding.h"
#include "korvex/structures/proxies.h"
#include "tests/support/values_fixture.h"

namespace {

using korvex::host::SimDriver;
using korvex::testing::ValuesTest;

class BoundValuesTest : public ValuesTest {
  protected:
    std::uint8_t* Offset(std::uint32_t offset) { return sim().OffsetArea() + offset; }
};

TEST_F(BoundValuesTest, HandleValueReachesItsHandle) {
    DefineFull(5, DInfo::LONGINT);
    DefineString(6, 10);
    TQZ_HandleValue number(daten.get(), daten->GetHandles(), "H5 3", 0);
    EXPECT_EQ(number.Handle(), 5);
    EXPECT_EQ(number.Index(), 3);
    number.SetValue(42, 0xFFFF, 0);
    EXPECT_EQ(sim().PeekLong(0, 0, 5, 3), 42);
    PokeLong(5, -7, 1);
    EXPECT_EQ(number[1], -7);
    // A failed read keeps the last good value.
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    EXPECT_EQ(number.GetValue(1, 0), -7);
    EXPECT_EQ(number.LastError(), 15);
    sim().FailNext(SimDriver::Operation::WriteByHandle);
    number.SetValue(9, 1, 0);
    EXPECT_EQ(number.Value(), -7);
    EXPECT_STREQ(number.asString(1).c_str(), "-7");
    // Writes go with the axis the last read selected, not the caller's.
    number.GetValue(1, 2);
    number.SetValue(11, 0xFFFF, 5);
    EXPECT_EQ(sim().PeekLong(0, 2, 5, 1), 11);

    TQZ_HandleValue text("H6", 0);
    text.SetString("hello", 0, 0);
    EXPECT_EQ(text.LastError(), 0);
    EXPECT_STREQ(text.GetString(0, 0), "hello");
    // A text goes to the element and axis selected before, not the caller's.
    text.GetString(1, 2);
    text.SetString("there", 0, 0);
    EXPECT_EQ(sim().Peek(0, 2, 6, 1).at(0), 't');
    char block[4] = {};
    text.GetBinBlock(block, 3, 0, false);
    EXPECT_EQ(std::string(block, 3), "hel");

    TQZ_HandleValue missing("Nope", 0);
    ASSERT_EQ(host().halts.size(), 1u);
    EXPECT_EQ(host().halts[0].text, "Handle [Nope] not found");
    EXPECT_FALSE(missing.Bound());
    missing.SetValue(1, 0, 0);
    EXPECT_EQ(missing.GetValue(0, 0), 0);
}

TEST_F(BoundValuesTest, OffsetValueElements) {
    struct Case {
        std::uint8_t size;
        std::vector<std::uint8_t> bytes;
        std::int32_t value;
    };
    unsigned char real[8];
    korvex::EncodeDouble(real, 2.9);
    unsigned char negative[8];
    korvex::EncodeDouble(negative, -2.9);
    const Case cases[] = {
        {1, {0xF0}, 0xF0},
        {2, {0x34, 0x12}, 0x1234},
        {2, {0xFF, 0xFF}, 0xFFFF},
        {4, {0xFE, 0xFF, 0xFF, 0xFF}, -2},
        {8, std::vector<std::uint8_t>(real, real + 8), 2},
        {8, std::vector<std::uint8_t>(negative, negative + 8), -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        TQZ_OffsetValue element(daten.get(), 100, 16, c.size);
        std::memcpy(Offset(132), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(element.GetValue(2, 0), c.value);
        element.SetValue(c.value, 1, 0);
        EXPECT_EQ(std::memcmp(Offset(116), c.bytes.data(), c.bytes.size() == 8 ? 0 : c.size), 0);
    }
    TQZ_OffsetValue bits(daten.get(), 200, 1, 1);
    Offset(200)[1] = 0x20;
    EXPECT_TRUE(bits.GetBit(13, 0));
    EXPECT_FALSE(bits.GetBit(12, 0));
    bits.SetBit(true, 12, 0);
    EXPECT_EQ(Offset(200)[1], 0x30);
    sim().FailNext(SimDriver::Operation::ReadOffset);
    EXPECT_FALSE(bits.GetBit(13, 0));
    EXPECT_EQ(bits.LastError(), 15);
    sim().FailNext(SimDriver::Operation::WriteOffset);
    bits.SetValue(7, 0, 0);
    EXPECT_EQ(bits.LastError(), 15);
    EXPECT_EQ(Offset(200)[0], 0);
    TQZ_OffsetValue copy(bits);
    copy.SetString("ab", 0, 0);
    EXPECT_EQ(Offset(200)[0], 'a');
}

TEST_F(BoundValuesTest, PointerMovesItsPointee) {
    constexpr std::uint32_t kPointer = 0x2E5E8 + 0x20;  // stored swapped
    constexpr std::uint32_t kBase = 0x00400000;
    sim().SetMemoryBase(kBase);
    auto putPointer = [&](std::uint32_t raw) {
        std::uint8_t* p = sim().Image(kPointer);
        for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(raw >> (24 - 8 * i));
    };
    CPointedTo<SPC_Datum_Struct> pointer(daten.get(), "Ptr", kPointer,
                                          new SPC_Datum_Struct(daten.get(), "", 0, CData::BindUnregistered));
    EXPECT_EQ(pointer.PointeeAddress(), 0u);
    // Pointer 0 with the proxy at 0: nothing moves.
    EXPECT_EQ(pointer.GetValue(0, 0), 0);
    putPointer(kBase + 0x300);
    EXPECT_EQ(pointer.GetValue(0, 0), 0x2E5E8 + 0x300);
    EXPECT_EQ(pointer.pointee()->Dt_Jahr_.getAddress(), 0x2E5E8u + 0x302);
    // The proxy reads where the pointer leads.
    sim().Image(0x2E5E8 + 0x302)[1] = 9;
    EXPECT_EQ(pointer.pointee()->Dt_Jahr_.GetValue(0, 0), 9);
    // A write moves the proxy and stores the controller's form.
    pointer.SetValue(0x2E5E8 + 0x500, 0, 0);
    EXPECT_EQ(pointer.pointee()->getAddress(), 0x2E5E8u + 0x500);
    EXPECT_EQ(pointer.GetValue(0, 0), 0x2E5E8 + 0x500);
    EXPECT_EQ(sim().Image(kPointer)[1], 0x40);
    // A failing controller moves nothing.
    putPointer(kBase + 0x600);
    sim().FailNext(SimDriver::Operation::ReadMemory);
    EXPECT_EQ(pointer.GetValue(0, 0), 0x2E5E8 + 0x500);
    EXPECT_EQ(pointer.LastError(), 15);
    // Frozen: not read again, not written.
    pointer.setFrozen(true);
    putPointer(kBase + 0x700);
    EXPECT_EQ(pointer.GetValue(0, 0), 0x2E5E8 + 0x500);
    pointer.SetValue(0x2E5E8 + 0x800, 0, 0);
    EXPECT_EQ(pointer.pointee()->getAddress(), 0x2E5E8u + 0x800);
    EXPECT_EQ(sim().Image(kPointer)[2], 0x07);
    pointer.setFrozen(false);
    // Pointer 0 with the proxy elsewhere: the proxy goes to 0.
    putPointer(0);
    EXPECT_EQ(pointer.GetValue(0, 0), 0);
    EXPECT_EQ(pointer.pointee()->getAddress(), 0u);

    CPointedTo<CDrvNumber> none(daten.get(), "NoPtr", kPointer, nullptr);
    putPointer(kBase + 4);
    none.GetValue(0, 0);
    none.SetValue(8, 0, 0);
    ASSERT_EQ(host().halts.size(), 2u);
    EXPECT_EQ(host().halts[0].text, "CPointedTo::operator i32 () : mpPointedTo == NULL !");
    EXPECT_EQ(host().halts[0].source, "KORVEX");
    EXPECT_EQ(host().halts[1].text, "CPointedTo::SetValue : mpPointedTo == NULL !");

    // Copies own pointees of their own.
    auto* pointee =
        new CDrvNumber(daten.get(), "Target", 0x2000, 4, DInfo::LONGINT, CData::RegisterNew);
    CPointedTo<CDrvNumber> numbers(daten.get(), "NumPtr", kPointer, pointee);
    CPointedTo<CDrvNumber> copy(numbers);
    CPointedTo<CDrvNumber> other;
    other = numbers;
    copy.replaceObject(numbers);
    copy.assignPtr(numbers);
    EXPECT_NE(copy.pointee(), numbers.pointee());
    EXPECT_EQ(copy.pointee()->getAddress(), 0x2000u);
    EXPECT_EQ(other.pointee(), nullptr);
    numbers.replaceObject(copy);
}

}  // namespace
