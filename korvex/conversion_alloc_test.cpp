// The value-access and conversion paths run on every display refresh and
// must not allocate; records a host builds and destroys must leave nothing
// behind. The global allocation functions are replaced here by counting ones
// (for the whole test program; they only count).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "korvex/structures/proxies.h"
#include "tests/support/values_fixture.h"

namespace {
std::size_t gAllocations = 0;
std::size_t gReleases = 0;

void Release(void* memory) {
    if (memory) ++gReleases;
    std::free(memory);
}

void* Allocate(std::size_t size) {
    ++gAllocations;
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}
}  // namespace

// Every form that pairs with free(); the aligned forms keep their own pair.
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++gAllocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    ++gAllocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void* memory) noexcept {
    Release(memory);
}
void operator delete[](void* memory) noexcept {
    Release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    Release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    Release(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    Release(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    Release(memory);
}

namespace {

using korvex::testing::ValuesTest;

TEST_F(ValuesTest, ValueAccessAndConversionAllocateNothing) {
    // Handles of every kind, each value already present in the controller so
    // that the simulated storage does not grow during the batch.
    DefineFull(1, DInfo::LONGINT);
    DefineFull(2, DInfo::QZSHORTREAL);
    DInfo* length = DefineInt(3, DInfo::QZREAL, -1000000, 1000000, 10, 3, 10, 4, 1);
    length->mZReverse = 1;
    DefineReal(4, -1e9, 1e9);
    DefineString(5, 32);
    DefineBits(6, 4);
    DInfo* feed = DefineInt(258, DInfo::QZLONGCARD, 0, 60000, 10, 3, 10, 1, 1, 1.0 / 6.0);
    (void)feed;
    DefineFull(1625, DInfo::LONGINT);
    PokeLong(1, 5);
    Poke(2, 0, {0, 0});
    PokeLong(3, 12345);
    Poke(4, 0, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F});
    Poke(5, 0, std::vector<std::uint8_t>(32, 'a'));
    for (std::uint16_t byte = 0; byte < 4; ++byte) Poke(6, byte, {0});
    PokeLong(258, 1000);
    PokeLong(1625, 1);
    sim().SetRecordTrace(false);
    daten->SetMessagesOn(false);
    daten->mZReverse = 1;
    daten->mZReference = 5000;

    std::int32_t value = 0;
    double real = 0;
    char text[Daten::kTextBufferSize];
    unsigned char block[32];
    std::uint8_t failures = 0;
    const std::size_t before = gAllocations;
    for (int round = 0; round < 50; ++round) {
        daten->mInchFlag1 = static_cast<std::uint8_t>(round & 1);
        failures |= daten->GetValue(1, value, 0, 255);
        failures |= daten->SetValue(1, value + 1, 0, 255);
        failures |= daten->SetValue(1, value, 0, 255, 0, 1);
        failures |= daten->GetValue(2, value, 0, 255);
        failures |= daten->SetValue(2, std::int32_t{-7}, 0, 255);
        failures |= daten->GetValue(3, real, 0, 255);
        failures |= daten->SetValue(3, 4000.0, 0, 255);
        failures |= daten->GetValue(4, real, 0, 255);
        failures |= daten->SetValue(4, 2.5, 0, 255);
        failures |= daten->GetValue(5, text, 31, 0, 255);
        failures |= daten->SetValue(5, "drill", 0, 255);
        failures |= daten->GetValue(5, static_cast<const void*>(block), 32, 0, 255);
        failures |= daten->SetValue(5, static_cast<const void*>(block), 32, 0, 255);
        failures |= daten->GetValue(6, value, 17, 255);
        failures |= daten->SetValue(6, 1.0, 17, 255);
        failures |= daten->GetValue(258, value, 0, 255);
        failures |= daten->Value2String(258, value, text, sizeof text);
        failures |= daten->Value2String(1, std::int32_t{-123456}, text, sizeof text);
        failures |= daten->Value2String(3, std::int32_t{12345}, text, sizeof text);
        failures |= daten->Value2String(3, 12345.0, text, sizeof text);
        failures |= daten->Value2String(4, 3.14159, text, sizeof text);
        failures |= daten->MetricValue2InchString(3, 25400, text, sizeof text);
        failures |= daten->InchValue2MetricString(258, 394, text, sizeof text);
        failures |= daten->String2Value(3, "12.5", value);
        failures |= daten->String2Value(1, "-42", value);
        failures |= daten->String2Value(3, "12.5", real);
        failures |= daten->String2Value(4, "2.75", real);
        failures |= daten->GetActFormat(3, reinterpret_cast<std::uint8_t&>(text[0]),
                                        reinterpret_cast<std::uint8_t&>(text[1]));
        (void)daten->GetUnitString(258);
        (void)daten->getInchMetricFactor(258);
        (void)daten->GetMaxTabElemAnz(1);
    }
    const std::size_t allocations = gAllocations - before;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(allocations, 0u);
    // The counter does see the allocations of this program.
    delete new int(1);
    EXPECT_EQ(gAllocations, before + allocations + 1);
}

// A long-running host builds channel records over and over, unregistered or
// under names already taken: each must free all it took, names included.
TEST_F(ValuesTest, RecordsBuiltAndDestroyedLeaveNothingBehind) {
    const auto round = [&] {
        SPC_SCncGetInfoRequest unregistered(daten.get(), "Probe_", 0x7000, CData::NoRegistration);
        SPC_SCncGetInfoRequest refused(daten.get(), "Taken_", 0x7000, CData::RegisterNew);
        EXPECT_STREQ(unregistered.mbWantTerminal_.Name(), "Probe_mbWantTerminal_");
        host().halts.clear();
        host().lines.clear();
    };
    round();
    round();
    const std::size_t live = gAllocations - gReleases;
    for (int i = 0; i < 20; ++i) round();
    EXPECT_EQ(gAllocations - gReleases, live);
}

}  // namespace
