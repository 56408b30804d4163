#include "korvex/handles/handles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_machine.h"

namespace {

class HandlesTest : public ::testing::Test {
  protected:
    void SetUp() override { Handles::CreateRegistry(); }
    korvex::testing::TestMachine machine;  // resets the registry around each test
    Handles handles{nullptr, "HANDLES"};
};

TEST_F(HandlesTest, FindsNamesWithoutRegardToCaseAndKeepsTheFileSpelling) {
    ASSERT_TRUE(handles.addNew("XPOSITION", 120));
    EXPECT_FALSE(handles.addNew("", 1) || handles.addNew(nullptr, 1));
    struct Case {
        const char* name;
        std::uint16_t handle;
    } cases[] = {{"xposition", 120},
                 {"XPosition", 120},
                 {"XPOSITIO", Handles::kNoHandle},
                 {"XPOSITION2", Handles::kNoHandle},
                 {"", Handles::kNoHandle},
                 {nullptr, Handles::kNoHandle}};
    for (const Case& c : cases) EXPECT_EQ(handles.NameToHandle(c.name), c.handle);
    EXPECT_STREQ(handles.getNamePtr("xposition"), "XPOSITION");
    EXPECT_EQ(handles.getNamePtr(nullptr), nullptr);
    EXPECT_EQ(Handles::InternedName(120), handles.getNamePtr("XPOSITION"));
    EXPECT_EQ(Handles::InternedName(121), nullptr);
    EXPECT_TRUE(handles.existName("xPOSITION"));
    EXPECT_FALSE(handles.existName(nullptr));
    const void* entry = nullptr;
    EXPECT_TRUE(handles.existHandle(120, &entry) && entry && handles.existHandle(120, nullptr));
    EXPECT_FALSE(handles.existHandle(2, &entry));
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(handles.HandlesInContainer(), 1u);
}

// Names compare 'a' to 'z' without regard to case and every other byte as
// it is, at every length and position (the compare goes by words).
TEST_F(HandlesTest, SameNameComparesEveryByteByTheCaseRule) {
    const auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    const std::string base = "aZ_9@[x{\xC4q`~Mz0?Kk";
    const std::pair<char, char> changes[] = {{'a', 'A'}, {'z', 'Z'}, {'@', '`'}, {'[', '{'},
                                             {'\xC4', '\xE4'}, {'x', 'y'}, {'0', 'p'}};
    for (std::size_t length = 1; length <= base.size(); ++length) {
        const std::string name = base.substr(0, length);
        EXPECT_TRUE(Handles::SameName(name, name));
        EXPECT_FALSE(Handles::SameName(name, name + "a"));
        for (std::size_t at = 0; at < length; ++at)
            for (const auto& [from, to] : changes) {
                std::string a = name, b = name;
                a[at] = from;
                b[at] = to;
                const bool same = upper(static_cast<unsigned char>(from)) ==
                                  upper(static_cast<unsigned char>(to));
                EXPECT_EQ(Handles::SameName(a, b), same) << a << " " << b;
            }
    }
    // A name inside a longer text is looked up without its terminator.
    ASSERT_TRUE(handles.addNew("XPOS", 9));
    EXPECT_EQ(handles.NameToHandle(std::string_view("xposition").substr(0, 4)), 9);
    EXPECT_EQ(handles.NameToHandle(std::string_view()), Handles::kNoHandle);
}

// One look-up that finds a known name or enters a new one.
TEST_F(HandlesTest, FindOrAddEntersOnlyWhatIsNewAndAskedFor) {
    ASSERT_TRUE(handles.addNew("KNOWN", 7));
    const std::string tooLong(Handles::kMaxNameLength + 1, 'L');
    struct Case {
        std::string name;
        std::uint16_t handle, answer;
        bool added;
    } cases[] = {
        {"known", 9, 7, false},                         // known: its own number stays
        {"NEW", Handles::kNoHandle, Handles::kNoHandle, false},  // asked only to find
        {"NEW", 0xFFFE, 0xFFFE, true},                  // the last page of numbers
        {"new", 3, 0xFFFE, false},                      // found, not entered twice
        {"ZERO", 0, 0, true},
        {"", 5, Handles::kNoHandle, false},
        {tooLong, 5, Handles::kNoHandle, false},
    };
    for (const Case& c : cases) {
        bool added = !c.added;
        EXPECT_EQ(handles.FindOrAdd(c.name, c.handle, added), c.answer) << c.name;
        EXPECT_EQ(added, c.added) << c.name;
    }
    EXPECT_EQ(handles.HandlesInContainer(), 3u);
    EXPECT_STREQ(Handles::InternedName(0xFFFE), "NEW");
    EXPECT_EQ(Handles::InternedName(0xFFFF), nullptr);
    Handles::DropRegistry();
    bool added = true;
    EXPECT_EQ(handles.FindOrAdd("OTHER", 4, added), Handles::kNoHandle);
    EXPECT_FALSE(added);
}

TEST_F(HandlesTest, NameWithIndex) {
    ASSERT_TRUE(handles.addNew("TOOLDIA", 280));
    struct Case {
        const char* text;
        std::uint16_t handle, index;
    } cases[] = {
        {"TOOLDIA 12", 280, 12},       {"  TOOLDIA   12  ", 280, 12},
        {"TOOLDIA x1", 280, 0},        {"TOOLDIA", 280, 0},
        {"tooldia 7", 280, 7},         {"TOOLDIA 1 2", 280, 0},
        {"TOOLDIA 65535", 280, 65535}, {"UNKNOWN 3", Handles::kNoHandle, 0},
        {"", Handles::kNoHandle, 0},   {"    ", Handles::kNoHandle, 0},
        {"TOOLDIA -4", 280, 0},
    };
    for (const Case& c : cases) {
        std::uint16_t index = 99;
        EXPECT_EQ(handles.NameToHandle(c.text, index), c.handle) << c.text;
        EXPECT_EQ(index, c.index) << c.text;
    }
    std::uint16_t index = 99;
    EXPECT_EQ(handles.NameToHandle(nullptr, index), Handles::kNoHandle);
    EXPECT_EQ(index, 0);
    // A long index text wraps instead of overrunning.
    EXPECT_EQ(handles.NameToHandle(("TOOLDIA " + std::string(600, '9')).c_str(), index), 280);
}

TEST_F(HandlesTest, HandleToName) {
    ASSERT_TRUE(handles.addNew("SPINDLE", 42));
    char buffer[Handles::kNameBufferSize];
    EXPECT_STREQ(handles.HandleToName(42, buffer, Handles::kNoHandle), "SPINDLE");
    EXPECT_STREQ(handles.HandleToName(42, buffer, 7), "SPINDLE 7");
    EXPECT_STREQ(handles.HandleToName(42, buffer, 65534), "SPINDLE 65534");
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(handles.HandleToName(43, buffer, 0), nullptr);
    EXPECT_STREQ(buffer, "untouched");
    char small[5];
    EXPECT_STREQ(handles.HandleToName(42, small, 7, sizeof small), "SPIN");
    // The longest name fits its buffer with any index.
    const std::string longest(Handles::kMaxNameLength, 'N');
    ASSERT_TRUE(handles.addNew(longest.c_str(), 9));
    EXPECT_FALSE(handles.addNew((longest + "N").c_str(), 10));
    EXPECT_EQ(std::string(handles.HandleToName(9, buffer, 65534)), longest + " 65534");
}

TEST_F(HandlesTest, UnloadedRegistryAnswersUnknown) {
    ASSERT_TRUE(handles.addNew("A", 1));
    Handles::DropRegistry();
    char buffer[Handles::kNameBufferSize] = "x";
    std::uint16_t index = 5;
    const void* entry = &index;
    EXPECT_EQ(handles.NameToHandle("A"), Handles::kNoHandle);
    EXPECT_EQ(handles.NameToHandle("A 3", index), Handles::kNoHandle);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(handles.HandleToName(1, buffer, 0), nullptr);
    EXPECT_FALSE(handles.existName("A") || handles.existHandle(1, &entry) ||
                 handles.addNew("B", 2));
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(handles.getNamePtr("A"), nullptr);
    EXPECT_EQ(handles.HandlesInContainer() + handles.MakeChecksum(), 0u);
}

TEST_F(HandlesTest, NameHashFollowsTheRule) {
    EXPECT_EQ(Handles::NameHash(""), 0u);
    EXPECT_EQ(Handles::NameHash("A"), 65u * 4);
    EXPECT_EQ(Handles::NameHash("ab"), ((65u * 4) + 66) * 4);
    EXPECT_EQ(Handles::NameHash("ab"), Handles::NameHash("AB"));
    // Bytes above 0x7F count as negative.
    EXPECT_EQ(Handles::NameHash("\xFF"), static_cast<std::uint32_t>(-1) * 4);
    // Names of every length up to 26 with bytes around 'a' to 'z' and above
    // 0x7F: the rule applied to every character, as the cache format
    // defines it.
    const std::string pattern = "GraphicQue_\xE4z`{@[Za\x80\x7F\xFF_9zy";
    for (std::size_t length = 0; length <= pattern.size(); ++length) {
        const std::string name = pattern.substr(pattern.size() - length);
        std::uint32_t plain = 0;
        for (char c : name) {
            const int code = static_cast<signed char>(c);
            const int upper = code >= 'a' && code <= 'z' ? code - 32 : code;
            plain = (plain + static_cast<std::uint32_t>(upper)) * 4;
        }
        EXPECT_EQ(Handles::NameHash(name), plain) << name;
    }
}

// Names whose hashes differ by a multiple of the bucket count share a bucket.
TEST_F(HandlesTest, CollidingNamesAreAllFound) {
    std::vector<std::string> names;
    const std::uint32_t wanted = Handles::NameHash("K0") % Handles::kBuckets;
    for (int i = 0; names.size() < 6 && i < 2000000; ++i) {
        const std::string name = "K" + std::to_string(i);
        if (Handles::NameHash(name) % Handles::kBuckets == wanted) names.push_back(name);
    }
    ASSERT_GE(names.size(), 3u);
    ASSERT_NE(Handles::NameHash(names[0]), Handles::NameHash(names[1]));
    for (std::size_t i = 0; i < names.size(); ++i)
        ASSERT_TRUE(handles.addNew(names[i].c_str(), static_cast<std::uint16_t>(100 + i)));
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(handles.NameToHandle(names[i].c_str()), 100 + i) << names[i];
}

// The iteration order (by bucket, newest first) is the handle cache test's;
// flush writes the names in that order.
TEST_F(HandlesTest, FlushWritesTheNamesInIterationOrder) {
    ASSERT_TRUE(handles.addNew("C", 3));
    ASSERT_TRUE(handles.addNew("B", 2));
    ASSERT_TRUE(handles.addNew("b", 22));  // same bucket as "B", inserted later
    handles.flush(machine.Path("names.txt").c_str());
    EXPECT_EQ(machine.ReadFile("names.txt"), "b\nB\nC\n");
}

TEST_F(HandlesTest, Checksum) {
    ASSERT_TRUE(handles.addNew("ONLY", 77));
    EXPECT_EQ(handles.MakeChecksum(), 0u);  // the first entry adds nothing
    ASSERT_TRUE(handles.addNew("B", 0x0102));
    ASSERT_TRUE(handles.addNew("C", 0x0304));
    // Iteration order: B, C, ONLY (by bucket).
    std::uint32_t expected = 0;
    expected += (Handles::NameHash("C") ^ 0x0403u) * 1;
    expected += (Handles::NameHash("ONLY") ^ 0x4D00u) * 2;
    EXPECT_EQ(handles.MakeChecksum(), expected);
}

TEST_F(HandlesTest, InternedNamesStayPutWhileTheRegistryGrows) {
    ASSERT_TRUE(handles.addNew("FIRST", 1));
    const char* first = handles.getNamePtr("FIRST");
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(handles.addNew(("GROW" + std::to_string(i)).c_str(),
                                   static_cast<std::uint16_t>(i + 2)));
    EXPECT_EQ(handles.getNamePtr("first"), first);
    EXPECT_STREQ(first, "FIRST");
    EXPECT_EQ(handles.HandlesInContainer(), 20001u);
    EXPECT_EQ(handles.NameToHandle("grow19999"), 20001);
}

TEST_F(HandlesTest, ReservingRoomKeepsEveryNameFindable) {
    // Room asked for while entries are in: none of them may drop out of the
    // name look-up, the newest included.
    for (int count : {1, 2, 700}) {
        Handles::CreateRegistry();
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(
                handles.addNew(("R" + std::to_string(i)).c_str(), static_cast<std::uint16_t>(i)));
        Handles::ReserveRegistry(5000);
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(handles.NameToHandle(("r" + std::to_string(i)).c_str()), i) << count;
    }
}

// Entries entered all at once (a cache load) make the registry that entering
// them one by one makes: the same walk, checksum and answers, also for a
// name or a number given twice and onto a registry that already holds names.
TEST_F(HandlesTest, EntriesEnteredAtOnceMatchThemEnteredOneByOne) {
    std::vector<std::string> names = {"b", "B", "C", "Twice", "twice", "K0"};
    for (int i = 0; i < 3000; ++i) names.push_back("BULK" + std::to_string(i));
    std::vector<Handles::NewEntry> entries;
    for (std::size_t i = 0; i < names.size(); ++i)
        entries.push_back({names[i], static_cast<std::uint16_t>(i % 2500)});
    auto snapshot = [] {
        std::string walk;
        Handles::ForEach([&walk](std::uint16_t handle, std::string_view name) {
            walk += std::to_string(handle) + " " + std::string(name) + "\n";
        });
        return walk;
    };
    for (bool startFilled : {false, true}) {
        Handles::CreateRegistry();
        if (startFilled) {
            ASSERT_TRUE(handles.addNew("twice", 9));
        }
        // A walk half way through must not keep the later names out of the next.
        std::size_t added = 0;
        for (const auto& entry : entries) {
            ASSERT_TRUE(handles.addNew(entry.name, entry.handle));
            if (++added == entries.size() / 2) snapshot();
        }
        const std::string walk = snapshot();
        const std::uint32_t checksum = handles.MakeChecksum();

        Handles::CreateRegistry();
        if (startFilled) {
            ASSERT_TRUE(handles.addNew("twice", 9));
        }
        ASSERT_TRUE(Handles::AddEntries(entries.data(), entries.size()));
        EXPECT_EQ(snapshot(), walk);
        EXPECT_EQ(handles.MakeChecksum(), checksum);
        EXPECT_EQ(handles.NameToHandle("TWICE"), 4);  // the newest of the name
        char name[Handles::kNameBufferSize];
        // Number 6 is BULK0's and BULK2500's (positions 6 and 2506): the newest answers.
        EXPECT_STREQ(handles.HandleToName(6, name, Handles::kNoHandle), "BULK2500");
        EXPECT_EQ(handles.NameToHandle("bulk2999"), (6 + 2999) % 2500);
    }
    const Handles::NewEntry bad[] = {{"GOOD", 1}, {"", 2}};
    EXPECT_FALSE(Handles::AddEntries(bad, 2));
    EXPECT_EQ(handles.NameToHandle("GOOD"), Handles::kNoHandle);  // nothing entered
}

}  // namespace
