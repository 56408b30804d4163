#include "korvex/host/sim_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "korvex/host/recording_host.h"
#include "tests/support/test_machine.h"

namespace {

using korvex::host::SimDriver;

TEST(SimDriverTest, MemoryImageCoversTheThreeRoots) {
    SimDriver sim;
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    struct Case {
        std::uint32_t address;
        std::uint16_t length, moved;
    } cases[] = {
        {0x68, 4, 4},                          // restart data
        {0x19080, 4, 4},                       // initialised data
        {0x2E5E8, 4, 4},                       // low-level data
        {0x2E5E8 + 123284 - 4, 4, 4},          // last bytes
        {0x2E5E8 + 123284 - 2, 4, 2},          // runs over the end
        {0x2E5E8 + 123284, 4, 0},              // past the end
        {0x67, 4, 0},                          // before the start
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sim.WriteMemory(0, c.address, c.length, bytes, TDriver::LocationDefault), c.moved)
            << std::hex << c.address;
        std::uint8_t back[4] = {};
        EXPECT_EQ(sim.ReadMemory(0, c.address, c.length, 150, 0, back, TDriver::LocationDefault),
                  c.moved);
        EXPECT_EQ(std::memcmp(back, bytes, c.moved), 0);
    }
}

// The handle, offset, memory and control lines are the tool scripts'
// (--trace); the memory base is asked only by pointers into the structures.
TEST(SimDriverTest, TraceLinesFollowTheToolFormat) {
    SimDriver sim;
    sim.SetRecordTrace(true);
    sim.GetMemoryBase(0);
    EXPECT_EQ(sim.TraceLines(), std::vector<std::string>{"GetMemoryBase 0 -> 4194304"});
}

TEST(SimDriverTest, StateFileRoundTrip) {
    korvex::testing::TestMachine machine;
    SimDriver sim;
    sim.PokeLong(1, 2, 300, 4, -7);
    sim.Poke(0, 0, 580, 0, "T5D1.2", 7);
    sim.SetTableSize(273, 120);
    sim.SetFieldLength(700, 300);
    sim.SetMemoryBase(0x12340000);
    const std::uint8_t bytes[3] = {9, 0, 7};
    sim.WriteMemory(0, 0x19080, 3, bytes, TDriver::LocationDefault);
    sim.WriteOffset(0, 100, 3, bytes);
    ASSERT_TRUE(sim.SaveState(machine.Path("state.sim")));

    SimDriver loaded;
    std::string error;
    ASSERT_TRUE(loaded.LoadState(machine.Path("state.sim"), error)) << error;
    EXPECT_EQ(loaded.PeekLong(1, 2, 300, 4), -7);
    EXPECT_EQ(loaded.Peek(0, 0, 580, 0), sim.Peek(0, 0, 580, 0));
    EXPECT_EQ(loaded.MaxTableElements(0, 273), 120);
    EXPECT_EQ(loaded.GetMemoryBase(0), 0x12340000u);
    std::uint8_t back[3] = {};
    loaded.ReadMemory(0, 0x19080, 3, 150, 0, back, TDriver::LocationDefault);
    EXPECT_EQ(std::memcmp(back, bytes, 3), 0);
    loaded.ReadOffset(0, 100, 3, back);
    EXPECT_EQ(std::memcmp(back, bytes, 3), 0);
    // Saving the loaded state gives the same file.
    ASSERT_TRUE(loaded.SaveState(machine.Path("again.sim")));
    EXPECT_EQ(machine.ReadFile("again.sim"), machine.ReadFile("state.sim"));
}

// Each kind of malformed line is the machine_errors script's; here the
// state a refused file leaves.
TEST(SimDriverTest, MalformedStateFilesAreRefusedWholesale) {
    korvex::testing::TestMachine machine;
    SimDriver sim;
    sim.PokeLong(0, 0, 5, 0, 42);
    machine.WriteFile("bad.sim", "value 0 0 6 0 01\nvalue 0 0 1 0 zz\n");
    std::string error;
    EXPECT_FALSE(sim.LoadState(machine.Path("bad.sim"), error));
    EXPECT_NE(error.find("bad.sim:2"), std::string::npos) << error;
    EXPECT_EQ(sim.PeekLong(0, 0, 5, 0), 42);
    EXPECT_TRUE(sim.Peek(0, 0, 6, 0).empty());
    EXPECT_FALSE(sim.LoadState(machine.Path("missing.sim"), error));
}

}  // namespace

namespace {

// Waves run on the host's clock: the fake clock stands still unless moved.
TEST(SimDriverTest, WavesFollowTheHostClock) {
    korvex::host::RecordingHost host;
    host.tickStep = 0;
    using Wave = SimDriver::Wave;
    struct Case {
        const char* what;
        Wave::Shape shape;
        Wave::Encoding encoding;
        std::uint8_t width;
        double amplitude, offset;
        std::uint32_t start, at;  // ticks
        std::int64_t expected;    // the stored integer (a Real: the value)
    } cases[] = {
        {"sine at a quarter", Wave::Shape::Sine, Wave::Encoding::Signed, 4, 1000, 5, 0, 250, 1005},
        {"sine at three quarters", Wave::Shape::Sine, Wave::Encoding::Signed, 4, 1000, 0, 0, 750, -1000},
        {"ramp at the start", Wave::Shape::Ramp, Wave::Encoding::Signed, 4, 100, 0, 0, 0, -100},
        {"ramp at half", Wave::Shape::Ramp, Wave::Encoding::Signed, 4, 100, 0, 0, 500, 0},
        {"ramp after a period", Wave::Shape::Ramp, Wave::Encoding::Signed, 4, 100, 0, 0, 1250, -50},
        {"square, first half", Wave::Shape::Square, Wave::Encoding::Signed, 2, 7, 1, 0, 499, 8},
        {"square, second half", Wave::Shape::Square, Wave::Encoding::Signed, 2, 7, 1, 0, 500, -6},
        {"held to 16 bits", Wave::Shape::Square, Wave::Encoding::Signed, 2, 100000, 0, 0, 0, 32767},
        {"unsigned held at 0", Wave::Shape::Square, Wave::Encoding::Unsigned, 1, 10, 0, 0, 600, 0},
        {"a clock that wrapped", Wave::Shape::Ramp, Wave::Encoding::Signed, 4, 100, 0,
         0xFFFFFF06u, 150, -20},  // 400 ms after the start
        {"a real", Wave::Shape::Sine, Wave::Encoding::Real, 8, 2.5, 0.5, 0, 250, 3},
    };
    for (const Case& c : cases) {
        SimDriver sim;
        Wave wave;
        wave.shape = c.shape;
        wave.encoding = c.encoding;
        wave.width = c.width;
        wave.periodMs = 1000;
        wave.amplitude = c.amplitude;
        wave.offset = c.offset;
        host.now = c.start;
        sim.SetWave(0, 0, 700, 3, wave);
        host.now = c.at;
        std::uint8_t bytes[8] = {};
        ASSERT_EQ(sim.ReadByHandle(0, 0, 700, 3, c.width, bytes, 0, 1), 0) << c.what;
        if (c.encoding == Wave::Encoding::Real) {
            double value;
            std::memcpy(&value, bytes, sizeof value);
            EXPECT_DOUBLE_EQ(value, static_cast<double>(c.expected)) << c.what;
            continue;
        }
        std::int64_t value = 0;
        for (int i = 0; i < c.width; ++i) value |= std::int64_t{bytes[i]} << (8 * i);
        const std::int64_t sign = std::int64_t{1} << (8 * c.width - 1);
        if (c.encoding == Wave::Encoding::Signed && (value & sign)) value -= 2 * sign;
        EXPECT_EQ(value, c.expected) << c.what;
    }
}

TEST(SimDriverTest, MemoryWavesMoveOnlyTheirBytesAndStop) {
    korvex::host::RecordingHost host;
    host.tickStep = 0;
    SimDriver sim;
    SimDriver::Wave wave;
    wave.shape = SimDriver::Wave::Shape::Square;
    wave.amplitude = 0x01020304;
    EXPECT_FALSE(sim.SetMemoryWave(SimDriver::kImageEnd - 2, wave));  // runs past the image
    ASSERT_TRUE(sim.SetMemoryWave(0x19084, wave));
    const std::uint8_t ones[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    sim.WriteMemory(0, 0x19080, 12, ones, TDriver::LocationDefault);
    std::uint8_t read[12] = {};
    ASSERT_EQ(sim.ReadMemory(0, 0x19080, 12, 0, 0, read, TDriver::LocationDefault), 12);
    const std::uint8_t expected[12] = {0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(read, expected, sizeof read), 0);
    // A read beside the wave leaves it alone; after the stop the bytes keep
    // their last value.
    sim.WriteMemory(0, 0x19084, 4, ones, TDriver::LocationDefault);
    sim.ReadMemory(0, 0x19088, 4, 0, 0, read, TDriver::LocationDefault);
    EXPECT_EQ(*sim.Image(0x19084), 0xFF);
    sim.StopMemoryWave(0x19084);
    EXPECT_EQ(sim.WaveCount(), 0u);
    sim.ReadMemory(0, 0x19084, 4, 0, 0, read, TDriver::LocationDefault);
    EXPECT_EQ(read[0], 0xFF);
}

// Plain reads and writes skip the failures, hold, watch and trace checks
// while all are off: each must still bite when switched on, and the
// plain road come back when it is switched off again.
TEST(SimDriverTest, EverySwitchLeavesAndRejoinsThePlainRoad) {
    using Op = SimDriver::Operation;
    struct Case {
        const char* what;
        void (*on)(SimDriver&, int& watched);
        void (*off)(SimDriver&);
        std::uint8_t writeAnswer, readAnswer;
        std::int32_t readBack;  // after writing 9 over 5
        int watched;
        std::size_t traced;
        std::uint32_t calls;  // counted of the four
    } cases[] = {
        {"write fails", [](SimDriver& s, int&) { s.FailNext(Op::WriteByHandle, 1); },
         [](SimDriver&) {}, 1, 0, 5, 0, 0, 4},
        {"read fails", [](SimDriver& s, int&) { s.FailNext(Op::ReadByHandle, 1); },
         [](SimDriver&) {}, 0, 1, 0, 0, 0, 4},
        {"second call fails", [](SimDriver& s, int&) { s.FailCall(2); }, [](SimDriver&) {}, 0, 1, 0,
         0, 0, 4},
        {"held",
         [](SimDriver& s, int& n) {
             s.SetHoldWrites(true);
             s.SetWriteWatch([&n](const SimDriver::Write&) { ++n; });
         },
         [](SimDriver& s) {
             s.SetHoldWrites(false);
             s.SetWriteWatch(nullptr);
         },
         0, 0, 5, 1, 0, 3},
        {"watched",
         [](SimDriver& s, int& n) {
             s.SetWriteWatch([&n](const SimDriver::Write& w) { n += w.handle == 300; });
         },
         [](SimDriver& s) { s.SetWriteWatch(nullptr); }, 0, 0, 9, 1, 0, 4},
        {"traced", [](SimDriver& s, int&) { s.SetRecordTrace(true); },
         [](SimDriver& s) { s.SetRecordTrace(false); }, 0, 0, 9, 0, 2, 4},
    };
    for (const Case& c : cases) {
        SimDriver sim;
        sim.PokeLong(0, 1, 300, 2, 5);
        int watched = 0;
        c.on(sim, watched);
        const std::int32_t nine = 9;
        EXPECT_EQ(sim.WriteByHandle(0, 1, 300, 2, 4, &nine, 0, 1), c.writeAnswer) << c.what;
        std::int32_t back = 0;
        EXPECT_EQ(sim.ReadByHandle(0, 1, 300, 2, 4, &back, 0, 1), c.readAnswer) << c.what;
        EXPECT_EQ(back, c.readBack) << c.what;
        EXPECT_EQ(watched, c.watched) << c.what;
        EXPECT_EQ(sim.TraceLines().size(), c.traced) << c.what;
        c.off(sim);
        const std::int32_t seven = 7;
        EXPECT_EQ(sim.WriteByHandle(0, 1, 300, 2, 4, &seven, 0, 1), 0) << c.what;
        EXPECT_EQ(sim.ReadByHandle(0, 1, 300, 2, 4, &back, 0, 1), 0) << c.what;
        EXPECT_EQ(back, 7) << c.what;
        EXPECT_EQ(sim.Calls(Op::WriteByHandle) + sim.Calls(Op::ReadByHandle), c.calls) << c.what;
        EXPECT_EQ(sim.TotalCalls(), c.calls) << c.what;
        EXPECT_EQ(watched, c.watched) << c.what;
        EXPECT_EQ(sim.TraceLines().size(), c.traced) << c.what;
    }
}

}  // namespace
