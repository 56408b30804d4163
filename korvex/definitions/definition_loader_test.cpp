#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvex/handles/cache_file.h"
#include "korvex/korvex.h"
#include "tests/support/machine_files.h"
#include "tests/support/test_machine.h"

namespace {

using korvex::testing::EmptyImage;
using korvex::testing::HeaderBytes;
using korvex::testing::Image;
using korvex::testing::Le16;
using korvex::testing::Le32;
using korvex::testing::SetStamp;
using korvex::testing::TestMachine;

constexpr const char* kHandles = "A=1\nB=2\nFIVE=5\n";
constexpr const char* kDefinitions =
    "[CONSTANTS]\nTOP=100\n"
    "[FIVE]\nType = LONGINT\nMin = -5\nMax = TOP\nDefault = 3\nMetricFormat = 10 3\n"
    "InchFormat = 10 4\nMetricUnit = [mm]\nInchUnit = [inch]\n"
    "[B]\nType = STRING 12\nWriteDirect = YES\n";

// A host whose file-stamp look-up can act on a file, to put faults between
// the cache check and the cache read.
class StampHookHost : public korvex::host::RecordingHost {
  public:
    bool GetFileStamp(const char* path, std::uint32_t& packed) override {
        const bool ok = RecordingHost::GetFileStamp(path, packed);
        if (onStamp) onStamp(path);
        return ok;
    }
    std::function<void(const std::string& path)> onStamp;
};

class DefinitionCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.WriteFile("HANDLES.TXT", kHandles);
        machine.WriteFile("QZ_DATEN.TXT", kDefinitions);
        textStamp = SetStamp(Text(), 2021, 3, 15, 10, 37, 42);
        SetStamp(machine.Path("HANDLES.TXT"), 2021, 3, 15, 10, 37, 42);
    }

    std::unique_ptr<Daten> Load() {
        Handles::DropRegistry();
        return std::unique_ptr<Daten>(machine.NewDaten());
    }
    // Loads from the text, then dates the caches so that the definition
    // cache counts as newer than the handle cache.
    std::string MakeValidCache() {
        Load();
        SetStamp(machine.Path("HANDLES.BIN"), 2022, 1, 1, 8, 0, 0);
        SetStamp(Cache(), 2022, 1, 1, 8, 0, 10);
        return machine.ReadFile("QZ_DATEN.BIN");
    }
    std::string Text() const { return machine.Path("QZ_DATEN.TXT"); }
    std::string Cache() const { return machine.Path("QZ_DATEN.BIN"); }
    void ExpectRecords(Daten& daten, const std::string& what) {
        ASSERT_EQ(daten.ConstructionResult(), 0) << what;
        EXPECT_EQ(daten.DefinitionCount(), 6u) << what;
        ASSERT_NE(daten.ExistHandle(5), nullptr) << what;
        EXPECT_EQ(daten.ExistHandle(5)->Max(), 100) << what;
        ASSERT_NE(daten.ExistHandle(2), nullptr) << what;
        EXPECT_EQ(daten.ExistHandle(2)->mLength, 12) << what;
        EXPECT_EQ(daten.ExistHandle(1), nullptr) << what;
    }

    TestMachine machine;
    std::uint32_t textStamp = 0;
};

// Header, record count and the records' images, whose offsets the DInfo
// tests pin down; handles without a definition hold the empty record.
TEST_F(DefinitionCacheTest, WrittenByteForByte) {
    auto daten = Load();
    ExpectRecords(*daten, "text");
    EXPECT_FALSE(daten->DefinitionsFromCache());
    const std::string empty = EmptyImage();
    const std::string five = Image(DInfo(DInfo::LONGINT, -5, 100, 3, 10, 3, 10, 4, 1.0, DInfo::TPara,
                                         0, 1, 1, "[mm]", "[inch]", "", "", "", 0, 0, 0, 10));
    const std::string b = Image(DInfo(DInfo::STRING, 12, DInfo::TPara, 1, 1, 0, 0));
    EXPECT_EQ(machine.ReadFile("QZ_DATEN.BIN"),
              HeaderBytes(textStamp) + Le32(9) + Le16(6) + empty + empty + b + empty + empty + five);
}

TEST_F(DefinitionCacheTest, ReadWhileNewerThanTheHandleCache) {
    const std::string written = MakeValidCache();
    auto daten = Load();
    EXPECT_TRUE(Handles::LoadedFromCache());
    EXPECT_TRUE(daten->DefinitionsFromCache());
    ExpectRecords(*daten, "cache");
    EXPECT_STREQ(daten->ExistHandle(5)->mszInchUnit, "[inch]");
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    // Records read from the cache share one block: one replaced later is
    // given up without being freed on its own, and every record goes with
    // the table (the sanitizer build sees a wrong or a second free).
    const std::int32_t before = DInfo::mCount;
    daten->SetDefinition(5, new DInfo(DInfo::STRING, 4, DInfo::TPara, 1, 1, 0, 0));
    daten->SetDefinition(9, nullptr);
    EXPECT_EQ(daten->ExistHandle(5)->mLength, 4);
    daten->ClearDefinitions();
    EXPECT_EQ(DInfo::mCount, before - 6);

    // Read from the cache even though the text would fail now: the text is
    // not looked at.
    machine.WriteFile("QZ_DATEN.TXT", "[NOPE]\n");
    SetStamp(Text(), 2021, 3, 15, 10, 37, 42);
    SetStamp(Cache(), 2022, 1, 1, 8, 0, 10);
    daten = Load();
    EXPECT_TRUE(daten->DefinitionsFromCache());
    EXPECT_EQ(daten->ConstructionResult(), 0);
}

// Touched text files are the tool's scripts' (machine_files); here the
// two-second unit of the stamps.
TEST_F(DefinitionCacheTest, StaleCachesAreReplaced) {
    for (std::uint32_t second : {1, 0}) {  // same unit as the handle cache; older
        MakeValidCache();
        SetStamp(Cache(), 2022, 1, 1, 8, 0, second);
        auto daten = Load();
        EXPECT_FALSE(daten->DefinitionsFromCache()) << second;
        ExpectRecords(*daten, "stale");
    }
}

// The header both caches share (cut short, another build) is the handle cache
// test's.
TEST_F(DefinitionCacheTest, DamagedCachesAreReplacedFromTheText) {
    const std::string good = MakeValidCache();
    ASSERT_EQ(good.size(), 862u);
    auto with = [&good](std::size_t at, const std::string& bytes) {
        return korvex::testing::Patched(good, at, bytes);
    };
    struct Case {
        const char* what;
        std::string cache;
        bool fromCache;
    } cases[] = {
        {"the good cache", good, true},
        {"truncated inside the version", good.substr(0, 258), false},
        {"truncated inside the count", good.substr(0, 261), false},
        {"truncated inside a record", good.substr(0, 262 + 5 * 100 + 40), false},
        {"truncated after a whole record", good.substr(0, 262 + 5 * 100), false},
        {"version 8", with(256, Le32(8)), false},
        {"record count beyond the file's end", with(260, Le16(7)), false},
        {"record count of 0xFFFF", with(260, Le16(0xFFFF)), false},
        {"record count short of the records", with(260, Le16(5)), false},
        {"record count 0", good.substr(0, 260) + Le16(0), false},
        {"bytes after the last record", good + std::string(100, '\0'), false},
        {"garbage after a valid header", good.substr(0, 256) + std::string(606, '\x5a'), false},
        {"a type code of 99", with(262 + 100, Le16(99)), false},
        {"a not-direct road of 7", with(262 + 148, Le16(7)), false},
    };
    for (const Case& c : cases) {
        machine.WriteFile("QZ_DATEN.BIN", c.cache);
        SetStamp(Cache(), 2022, 1, 1, 8, 0, 10);
        auto daten = Load();
        EXPECT_EQ(daten->DefinitionsFromCache(), c.fromCache) << c.what;
        ExpectRecords(*daten, c.what);
        // The rewritten cache is the good one again.
        EXPECT_EQ(machine.ReadFile("QZ_DATEN.BIN"), good) << c.what;
    }
    EXPECT_TRUE(machine.host.messageBoxes.empty());
    EXPECT_TRUE(machine.host.fatalExits.empty());
}

// Records are made where the cache was read to: what they must not carry
// from the file (reserved bytes, texts without their zero) is mended there.
TEST_F(DefinitionCacheTest, RecordsReadInPlaceAreMended) {
    std::string cache = MakeValidCache();
    const std::size_t five = 262 + 5 * 100;  // an odd record: its double is not 8-aligned
    for (const std::size_t at : {4, 5, 6, 7, 36, 37, 38, 39, 91, 97}) cache[five + at] = '\x7f';
    cache.replace(five + 55, 13, std::string(13, 'm'));
    cache.replace(five + 81, 9, std::string(9, 't'));
    machine.WriteFile("QZ_DATEN.BIN", cache);
    SetStamp(Cache(), 2022, 1, 1, 8, 0, 10);
    auto daten = Load();
    ASSERT_TRUE(daten->DefinitionsFromCache());
    ExpectRecords(*daten, "mended");
    const DInfo& record = *daten->ExistHandle(5);
    EXPECT_EQ(std::string(record.mszMetricUnit), std::string(12, 'm'));
    EXPECT_EQ(std::string(record.mszTabIdent) + record.mszTabIndex + record.mszTabParIdent,
              "tttttt");
    const unsigned char reserved[] = {record.mReserved4[0], record.mReserved4[1],
                                      record.mReserved4[2], record.mReserved4[3],
                                      record.mReserved36[0], record.mReserved36[1],
                                      record.mReserved36[2], record.mReserved36[3],
                                      record.mReserved91, record.mReserved97};
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reserved), sizeof reserved),
              std::string(sizeof reserved, '\0'));
    EXPECT_EQ(double{record.mUserFactor}, 1.0);
    EXPECT_EQ(record.Def(), 3);
}

// Each fault of the cache's file ends the load with its message; nothing half
// read stays and no half-written cache is left.
TEST_F(DefinitionCacheTest, FileFaultsEndTheLoad) {
    struct Case {
        const char* caption;
        std::uint8_t result;
        std::function<void()> before;                     // prepares the files
        std::function<void(const std::string&)> onStamp;  // acts between check and read
        bool diskFull;
    } cases[] = {
        // the cache vanishes between its check and its read
        {"OPEN - ERROR !!", Daten::FileNotFound, [&] { MakeValidCache(); },
         [&](const std::string& path) { std::filesystem::remove(path); }, false},
        // opens like a file, fails to read like a broken disk
        {"READ - ERROR !!", Daten::DataOrDriverError, [&] { MakeValidCache(); },
         [&](const std::string& path) {
             std::filesystem::remove(path);
             std::filesystem::create_directory(path);
         },
         false},
        {"OPEN - ERROR !!", Daten::DataOrDriverError,
         [&] {
             std::filesystem::create_directory(Cache());
             machine.WriteFile("QZ_DATEN.BIN/keep", "x");
         },
         nullptr, false},
        // the handle cache exists, so only the definition cache is written
        {"WRITE - ERROR !!", Daten::DataOrDriverError,
         [&] {
             Load();
             std::filesystem::remove(Cache());
         },
         nullptr, true},
    };
    StampHookHost host;
    for (const Case& c : cases) {
        std::filesystem::remove_all(Cache());
        host.onStamp = nullptr;
        c.before();
        host.messageBoxes.clear();
        host.fatalExits.clear();
        host.onStamp = [&](const std::string& path) {
            if (path == Cache() && c.onStamp) c.onStamp(path);
        };
        korvex::files::FailFileWrite(c.diskFull ? 1 : 0);
        auto daten = Load();
        korvex::files::FailFileWrite(0);
        ASSERT_EQ(host.messageBoxes.size(), 1u) << c.caption;
        EXPECT_EQ(host.messageBoxes[0].caption, c.caption);
        EXPECT_EQ(host.messageBoxes[0].text, Cache());
        EXPECT_EQ(daten->ConstructionResult(), c.result) << c.caption;
        EXPECT_EQ(host.fatalExits, std::vector<int>{0}) << c.caption;
        EXPECT_EQ(daten->DefinitionCount(), 0u) << c.caption;
        EXPECT_EQ(machine.Exists("QZ_DATEN.BIN"), !c.diskFull && c.result != 5);
    }
}

TEST_F(DefinitionCacheTest, ProgressWhileReadingTheCache) {
    std::string handles, definitions;
    for (int i = 0; i < 260; ++i) {
        handles += "H" + std::to_string(i) + "=" + std::to_string(i) + "\n";
        definitions += "[H" + std::to_string(i) + "]\nType = STRING 4\n";
    }
    machine.WriteFile("HANDLES.TXT", handles);
    machine.WriteFile("QZ_DATEN.TXT", definitions);
    MakeValidCache();
    machine.model.hello.SetCaption("");
    auto daten = Load();
    ASSERT_TRUE(daten->DefinitionsFromCache());
    EXPECT_EQ(daten->DefinitionCount(), 260u);
    EXPECT_EQ(machine.model.hello.Caption(), "DORIX1 interface  [200]");
}

}  // namespace
