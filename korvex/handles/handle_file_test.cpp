#include "korvex/handles/handle_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korvex/handles/cache_file.h"
#include "korvex/handles/handles.h"
#include "korvex/korvex.h"
#include "tests/support/machine_files.h"
#include "tests/support/test_machine.h"

namespace {

using korvex::testing::HeaderBytes;
using korvex::testing::Le16;
using korvex::testing::Le32;
using korvex::testing::ParsedHandleEntries;
using korvex::testing::ScannedHandleEntries;
using korvex::testing::SetStamp;
using korvex::testing::TestMachine;
using Entries = std::vector<std::pair<std::uint16_t, std::string>>;

Entries RegistryEntries() {
    Entries out;
    Handles::ForEach([&out](std::uint16_t handle, std::string_view name) {
        out.emplace_back(handle, std::string(name));
    });
    return out;
}

std::string EntryBytes(std::uint16_t handle, const std::string& name) {
    return Le16(handle) + Le32(static_cast<std::uint32_t>(name.size())) + name;
}

// count lines "N0=0", "N1=1"...
std::string ShortLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "N" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    return text;
}

class HandleFileTest : public ::testing::Test {
  protected:
    // A fresh process as far as the registry is concerned, then a load.
    std::unique_ptr<Handles> Load(const char* name = "HANDLES") {
        Handles::DropRegistry();
        return std::make_unique<Handles>(machine.model.Parent(), name);
    }
    std::string Text() const { return machine.Path("HANDLES.TXT"); }
    std::string Cache() const { return machine.Path("HANDLES.BIN"); }

    TestMachine machine;
};

TEST_F(HandleFileTest, LineGrammar) {
    struct Case {
        const char* line;
        bool entry;
        const char* name;
        std::uint16_t number;
    } cases[] = {
        {"A=5;remark", true, "A", 5},
        {"A = 5 6", true, "A", 5},
        {"  \tTOOL\t = \t 17", true, "TOOL", 17},
        {"A=5 // remark = 7", true, "A", 5},
        {"// A=5", false, "", 0},
        {"; A=5", false, "", 0},
        {"", false, "", 0},
        {"no equals sign here", false, "", 0},
        {"A=-1", true, "A", 0xFFFF},
        {"A=70000", true, "A", 70000 & 0xFFFF},
        // The number is a 32-bit long first: beyond it, it stops at the limit.
        {"A=2147483647", true, "A", 0xFFFF},
        {"A=2147483648", true, "A", 0xFFFF},
        {"A=4294967297", true, "A", 0xFFFF},
        {"A=99999999999999999999", true, "A", 0xFFFF},
        {"A=-2147483648", true, "A", 0},
        {"A=-4294967297", true, "A", 0},
        {"A=+12", true, "A", 12},
        {"A = 70000   ; remark", true, "A", 70000 & 0xFFFF},
        {"A=+0012345678;remark", true, "A", 12345678 & 0xFFFF},
        {"A=-123456789 remark", true, "A", static_cast<std::uint16_t>(-123456789)},
        {"A=1 2345678 remark", true, "A", 1},
        {"A=\t4294967296123", true, "A", 0xFFFF},
        {"A=12x", true, "A", 12},
        {"A=x", true, "A", 0},
        {"A=", true, "A", 0},
        {"=7", true, "", 7},
        {"A B=3", true, "A B", 3},
        {"A=1=2", true, "A", 1},
        {"A;B=3", false, "", 0},
        {"A/B=3", true, "A/B", 3},
    };
    for (const Case& c : cases) {
        std::string_view name;
        std::uint16_t number = 0;
        const auto kind = korvex::files::ParseHandleLine(c.line, name, number);
        EXPECT_EQ(kind == korvex::files::HandleLineKind::Entry, c.entry) << c.line;
        if (!c.entry) continue;
        EXPECT_EQ(name, c.name) << c.line;
        EXPECT_EQ(number, c.number) << c.line;
    }

    // The file check finds the same entries on the same lines as the lines
    // parsed one by one, wherever the lines fall in the text and whatever
    // ends them (a zero byte cuts a line short).
    std::string lines;
    for (const Case& c : cases) lines += std::string(c.line) + "\n";
    lines += std::string(300, 'L') + "=9 ; " + std::string(70, '=') + "\nX=1\0=2\nY\0Z=3\nX=/\n/=/";
    for (const char* feed : {"\n", "\r\n", "\r"}) {
        for (std::size_t pad = 0; pad < 70; ++pad) {
            std::string text = "//" + std::string(pad, '=') + "\n";
            for (char ch : lines) text += ch == '\n' ? std::string(feed) : std::string(1, ch);
            EXPECT_EQ(ScannedHandleEntries(text), ParsedHandleEntries(text)) << pad << " " << text;
            const std::string clean = text.substr(0, text.find('\0'));
            EXPECT_EQ(ScannedHandleEntries(clean), ParsedHandleEntries(clean)) << pad << " " << clean;
        }
    }
}

// Registry iteration order decides the cache's entry order: by name-hash
// bucket, the newest entry of a bucket first. "AB" and "B>" share a hash.
TEST_F(HandleFileTest, WritesTheCacheByteForByte) {
    machine.WriteFile("HANDLES.TXT", "ZZ=300\r\nAB=1\n\n// remark\nB>=2 ; remark\nA=4\n");
    const std::uint32_t stamp = SetStamp(Text(), 2021, 3, 15, 10, 37, 42);
    auto handles = Load();
    EXPECT_EQ(handles->LoadResultCode(), Handles::Loaded);
    EXPECT_FALSE(Handles::LoadedFromCache());
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    EXPECT_TRUE(machine.host.fatalExits.empty());

    // NameHash buckets: A 260, AB and B> 1304, ZZ 1800.
    const std::string expected = HeaderBytes(stamp) + Le32(9) + Le16(4) + EntryBytes(4, "A") +
                                 EntryBytes(2, "B>") + EntryBytes(1, "AB") + EntryBytes(300, "ZZ");
    EXPECT_EQ(machine.ReadFile("HANDLES.BIN"), expected);
    // The registry in use was read back from the cache, which turns the order
    // inside a bucket around.
    EXPECT_EQ(RegistryEntries(), (Entries{{4, "A"}, {1, "AB"}, {2, "B>"}, {300, "ZZ"}}));
    EXPECT_EQ(handles->NameToHandle("zz"), 300);
}

// An empty name and a name taken twice whatever its case are the lint
// script's too.
TEST_F(HandleFileTest, ErrorsStopTheLoadWithTheirMessage) {
    const std::string longName(256, 'N');
    struct Case {
        std::string text;
        std::vector<std::pair<std::string, std::string>> boxes;  // caption, text
        std::uint8_t result;
    } cases[] = {
        {"A=1\n \t = 7\n", {{"Syntax - Error in Handle - File !!", "Line : 2"}}, 2},
        {"\n// remark\nA=1\nB=1\nC=1\n",
         {{"Handle already exists !!", "Line : 4\nHandle : 1\n"}},
         3},
        {"A=1\r\nA=1\r\n",
         {{"Handle already exists !!", "Line : 2\nHandle : 1\n"},
          {"Syntax - Error in Handle - File !!", "Line : 2\nName : A"}},
         4},
        // Only 'a' to 'z' match without regard to case, also in a file long
        // enough to outgrow the load's first table of names.
        {"\xC3\x84=1\n\xC3\xA4=2\nab=3\naB=4\n",
         {{"Syntax - Error in Handle - File !!", "Line : 4\nName : aB"}},
         4},
        {ShortLines(3000) + "n0=9000\n",
         {{"Syntax - Error in Handle - File !!", "Line : 3001\nName : n0"}},
         4},
        {"A=1\n" + longName + "=2\n",
         {{"Syntax - Error in Handle - File !!", "Line : 2\nName longer than 255 characters"}},
         2},
    };
    for (const Case& c : cases) {
        TestMachine fresh;
        fresh.WriteFile("HANDLES.TXT", c.text);
        const Handles handles(fresh.model.Parent(), "HANDLES");
        ASSERT_EQ(fresh.host.messageBoxes.size(), c.boxes.size()) << c.text;
        for (std::size_t i = 0; i < c.boxes.size(); ++i) {
            EXPECT_EQ(fresh.host.messageBoxes[i].caption, c.boxes[i].first) << c.text;
            EXPECT_EQ(fresh.host.messageBoxes[i].text, c.boxes[i].second) << c.text;
        }
        EXPECT_EQ(handles.LoadResultCode(), c.result) << c.text;
        EXPECT_EQ(fresh.host.fatalExits, std::vector<int>{0}) << c.text;
        EXPECT_FALSE(Handles::IsLoaded()) << c.text;
        EXPECT_FALSE(fresh.Exists("HANDLES.BIN")) << c.text;
    }
}

TEST_F(HandleFileTest, LongLinesAreReadWhole) {
    const std::string name(255, 'L');
    machine.WriteFile("HANDLES.TXT", name + std::string(300, ' ') + "= 7\nB" +
                                         std::string(400, ' ') + "=8 ;" + std::string(500, 'r') +
                                         "\n");
    auto handles = Load();
    EXPECT_EQ(handles->NameToHandle(name.c_str()), 7);
    EXPECT_EQ(handles->NameToHandle("B"), 8);
}

// Headers compare as zero-terminated texts: a stamp whose low byte is 0
// ends the comparison there.
TEST_F(HandleFileTest, HeaderComparisonStopsAtTheFirstZeroByte) {
    using korvex::files::HeadersMatch;
    const std::string a = HeaderBytes(0x52341500u);
    const std::string b = HeaderBytes(0x11111100u);
    const std::string c = HeaderBytes(0x52341501u);
    auto bytes = [](const std::string& s) {
        return reinterpret_cast<const unsigned char*>(s.data());
    };
    EXPECT_TRUE(HeadersMatch(bytes(a), bytes(b)));
    EXPECT_FALSE(HeadersMatch(bytes(a), bytes(c)));
    EXPECT_TRUE(HeadersMatch(bytes(c), bytes(c)));
    std::string d = c;
    d[200] = 'x';  // after the terminating zero
    EXPECT_TRUE(HeadersMatch(bytes(c), bytes(d)));

    // 10:40:00 and 10:48:00 both pack to a low byte of 0.
    machine.WriteFile("HANDLES.TXT", "A=1\n");
    SetStamp(Text(), 2021, 3, 15, 10, 40, 0);
    Load();
    machine.WriteFile("HANDLES.TXT", "B=2\n");
    SetStamp(Text(), 2021, 3, 15, 10, 48, 1);
    Load();
    EXPECT_TRUE(Handles::LoadedFromCache());
    EXPECT_EQ(RegistryEntries(), (Entries{{1, "A"}}));
}

TEST_F(HandleFileTest, DamagedCachesAreRebuiltFromTheText) {
    machine.WriteFile("HANDLES.TXT", "ALPHA=10\nBETA=20\nGAMMA=30\n");
    SetStamp(Text(), 2021, 3, 15, 10, 37, 42);
    Load();
    const std::string good = machine.ReadFile("HANDLES.BIN");
    ASSERT_EQ(good.size(), 262u + 3 * 6 + 5 + 4 + 5);
    const Entries loaded = RegistryEntries();
    // The first entry (BETA, hash bucket order) starts at 262.
    ASSERT_EQ(good.substr(262 + 6, 4), "BETA");

    auto with = [&good](std::size_t at, const std::string& bytes) {
        return korvex::testing::Patched(good, at, bytes);
    };
    struct Case {
        const char* what;
        std::string cache;
    } cases[] = {
        {"truncated inside the header", good.substr(0, 100)},
        {"truncated inside the version", good.substr(0, 258)},
        {"truncated inside the count", good.substr(0, 261)},
        {"truncated inside an entry", good.substr(0, good.size() - 2)},
        {"truncated before an entry's length", good.substr(0, 262 + 3)},
        {"version 8", with(256, Le32(8))},
        {"name length 256", with(264, Le32(256))},
        {"name length 0", with(264, Le32(0))},
        {"name length beyond the file", with(264, Le32(0x7FFFFFFF))},
        {"count beyond the file's end", with(260, Le16(4))},
        {"count short of the entries", with(260, Le16(2))},
        {"garbage after a valid header",
         good.substr(0, 256) + std::string("\x13\x37garbage\xff\xfe\x01 bytes of no format", 30)},
        {"bytes after the last entry", good + "X"},
        {"a zero byte inside a name", with(262 + 7, std::string(1, '\0'))},
        {"another build", with(good.find("Dez 16 2016"), "Dez 17 2016")},
    };
    for (const Case& c : cases) {
        machine.WriteFile("HANDLES.BIN", c.cache);
        auto handles = Load();
        EXPECT_FALSE(Handles::LoadedFromCache()) << c.what;
        EXPECT_EQ(handles->LoadResultCode(), Handles::Loaded) << c.what;
        EXPECT_EQ(RegistryEntries(), loaded) << c.what;
        EXPECT_EQ(machine.ReadFile("HANDLES.BIN"), good) << c.what;
    }
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    EXPECT_TRUE(machine.host.halts.empty());
    EXPECT_TRUE(machine.host.fatalExits.empty());
}

// A zero byte anywhere in a name of any length makes the cache invalid:
// names are checked a word at a time, so the edges of each word count.
TEST_F(HandleFileTest, AZeroByteAtAnyPlaceOfANameIsDamage) {
    for (const std::size_t length : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 255}) {
        const std::string name = "X" + std::string(length - 1, 'a');
        machine.WriteFile("HANDLES.TXT", name + "=7\n");
        std::filesystem::remove(Cache());  // the text may keep its stamp
        Load();
        const std::string good = machine.ReadFile("HANDLES.BIN");
        Load();
        ASSERT_TRUE(Handles::LoadedFromCache()) << length;
        for (const std::size_t at : {std::size_t{0}, length / 2, length - 1, (length * 5) / 8}) {
            machine.WriteFile("HANDLES.BIN", korvex::testing::Patched(good, 262 + 6 + at,
                                                                     std::string(1, '\0')));
            Load();
            EXPECT_FALSE(Handles::LoadedFromCache()) << length << " at " << at;
            EXPECT_EQ(RegistryEntries(), (Entries{{7, name}})) << length << " at " << at;
        }
    }
}

TEST_F(HandleFileTest, ALoadedRegistryIsNotLoadedAgain) {
    machine.WriteFile("HANDLES.TXT", "A=1\n");
    Load();
    std::filesystem::remove(Text());
    std::filesystem::remove(Cache());
    const Handles second(machine.model.Parent(), "HANDLES");
    EXPECT_EQ(second.LoadResultCode(), Handles::Loaded);
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    EXPECT_EQ(RegistryEntries(), (Entries{{1, "A"}}));
}

TEST_F(HandleFileTest, WithoutAHostNothingIsLoaded) {
    machine.WriteFile("HANDLES.TXT", "A=1\n");
    Handles::DropRegistry();
    const Handles front(nullptr, "HANDLES");
    EXPECT_EQ(front.LoadResultCode(), Handles::Loaded);
    EXPECT_FALSE(Handles::IsLoaded());
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    EXPECT_TRUE(machine.host.fatalExits.empty());
    std::unique_ptr<Daten> daten(new Daten(nullptr, "QZ_DATEN", "HANDLES"));
    EXPECT_EQ(daten->ConstructionResult(), 0);
    EXPECT_EQ(daten->DefinitionCount(), 0u);
    EXPECT_TRUE(machine.host.messageBoxes.empty());
}

// The definition caches are trusted only while newer than the handle cache,
// by the two-second unit of the packed stamp.
TEST_F(HandleFileTest, BinDateiUpToDate) {
    machine.WriteFile("HANDLES.TXT", "A=1\n");
    Load();
    const std::uint32_t cacheTime = SetStamp(Cache(), 2022, 6, 10, 12, 30, 20);
    Load();
    ASSERT_TRUE(Handles::LoadedFromCache());
    EXPECT_EQ(Handles::HandleCacheTime(), cacheTime);

    Handles handles(machine.model.Parent(), "HANDLES");
    const std::string other = machine.Path("OTHER.BIN");
    machine.WriteFile("OTHER.BIN", "");
    struct Case {
        int year, month, day, hour, minute, second;
        bool newer;
    } cases[] = {
        {2022, 6, 10, 12, 30, 20, false}, {2022, 6, 10, 12, 30, 21, false},
        {2022, 6, 10, 12, 30, 22, true},  {2022, 6, 10, 12, 30, 19, false},
        {2022, 6, 10, 12, 31, 0, true},   {2022, 6, 10, 13, 0, 0, true},
        {2022, 6, 11, 0, 0, 0, true},     {2022, 7, 1, 0, 0, 0, true},
        {2023, 1, 1, 0, 0, 0, true},      {2021, 12, 31, 23, 59, 58, false},
        {2022, 6, 9, 23, 59, 58, false},
    };
    for (const Case& c : cases) {
        SetStamp(other, c.year, c.month, c.day, c.hour, c.minute, c.second);
        EXPECT_EQ(handles.BinDateiUpToDate(other.c_str()), c.newer)
            << c.day << " " << c.hour << ":" << c.minute << ":" << c.second;
    }
    EXPECT_FALSE(handles.BinDateiUpToDate(machine.Path("MISSING.BIN").c_str()));
}

TEST_F(HandleFileTest, CacheFileName) {
    TGlobalData global;
    char out[korvex::files::kPathSize];
    struct Case {
        const char *dir, *name, *expected;
    } cases[] = {
        {"/m", "HANDLES", "/m/HANDLES.BIN"},
        {"/m/", "QZ_DATEN", "/m/QZ_DATEN.BIN"},
        {"/m.d", "HANDLES.TXT", "/m.d/HANDLES.BIN"},
        {"/m.d", "NAME", "/m.d/NAME.BIN"},
        {"C:\\M\\", "HANDLES", "C:\\M\\HANDLES.BIN"},
        {"", "HANDLES", "/HANDLES.BIN"},
    };
    for (const Case& c : cases) {
        global.mMachineDir = c.dir;
        ASSERT_TRUE(korvex::files::CacheFileName(global, c.name, out, sizeof out));
        EXPECT_STREQ(out, c.expected);
    }
    global.mMachineDir = std::string(2000, 'd');
    EXPECT_FALSE(korvex::files::CacheFileName(global, "HANDLES", out, sizeof out));
    EXPECT_STREQ(out, "");
}

}  // namespace
