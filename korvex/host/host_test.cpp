#include "korvex/host/host.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "korvex/host/profile.h"
#include "korvex/host/trace.h"
#include "tests/support/test_machine.h"

namespace {

// Whole paths are the cache file name test's; here the cuts of tight buffers.
TEST(HostFunctionsTest, PathFunctions) {
    char tight[8] = "/abcdef";  // no room for the separator: left as it is
    EXPECT_STREQ(AppendStrich(tight, sizeof tight), "/abcdef");
    char small[10] = "ABCDEFG";
    EXPECT_STREQ(ChangeExtension(small, sizeof small, ".BIN"), "ABCDEFG.B");
}

TEST(HostFunctionsTest, CopiesAndSwaps) {
    char buffer[4] = "xyz";
    EXPECT_STREQ(StrCopy(buffer, "abcdef", sizeof buffer), "abc");
    EXPECT_STREQ(StrCopy(buffer, nullptr, sizeof buffer), "");
    StrCopy(buffer, "q", 0);  // size 0 writes nothing
    EXPECT_STREQ(buffer, "");
    char* copy = StrDup("text");
    EXPECT_STREQ(copy, "text");
    delete[] copy;
    EXPECT_EQ(StrDup(nullptr), nullptr);
    EXPECT_EQ(Swap(std::uint16_t{0x1234}), 0x3412);
    EXPECT_EQ(Swap(std::uint32_t{0x12345678}), 0x78563412u);
}

TEST(HostFunctionsTest, QuotesBytes) {
    using korvex::host::QuoteBytes;
    const std::uint16_t thousand = 1000;
    EXPECT_EQ(QuoteBytes(&thousand, 2), "\"\\xe8\\x03\"");
    EXPECT_EQ(QuoteBytes("a \"b\\~\x7f", 7), "\"a \\x22b\\x5c~\\x7f\"");
    EXPECT_EQ(korvex::host::QuoteText(nullptr), "\"\"");
}

TEST(ProfileTest, ReadsKeysLikeWindows) {
    korvex::testing::TestMachine machine;
    machine.WriteFile("COMM.TXT",
                      "; command templates\r\n"
                      "[TDiaD]\r\n"
                      "Val = ZO?X \r\n"
                      "Val0=\"NOSPEK\"\r\n"
                      "[  comFVO ]\n"
                      "VAL=FVO\n"
                      "Empty=\n"
                      "[Other]\n"
                      "Val=wrong\n");
    const std::string file = machine.Path("COMM.TXT");
    struct Case {
        const char *section, *key, *expected;
    } cases[] = {
        {"TDiaD", "Val", "ZO?X"},   {"tdiad", "val", "ZO?X"},     {"TDiaD", "Val0", "NOSPEK"},
        {"ComFVO", "Val", "FVO"},   {"ComFVO", "Empty", ""},      {"ComFVO", "Val1", "dflt"},
        {"Missing", "Val", "dflt"}, {"Other", "Val", "wrong"},
    };
    for (const Case& c : cases) {
        char out[32];
        const std::uint32_t length = korvex::host::ReadProfileString(c.section, c.key, "dflt", out,
                                                                     sizeof out, file.c_str());
        EXPECT_STREQ(out, c.expected) << c.section << "/" << c.key;
        EXPECT_EQ(length, std::strlen(c.expected));
    }
    char tiny[4];
    EXPECT_EQ(korvex::host::ReadProfileString("TDiaD", "Val0", "", tiny, sizeof tiny,
                                              file.c_str()),
              3u);
    EXPECT_STREQ(tiny, "NOS");
    char out[8];
    korvex::host::ReadProfileString("TDiaD", "Val", "", out, sizeof out,
                                    machine.Path("NOFILE.TXT").c_str());
    EXPECT_STREQ(out, "");
}

TEST(GlobalDataTest, FindsFilesWithoutRegardToCase) {
    korvex::testing::TestMachine machine;
    machine.WriteFile("handles.txt", "A=1\n");
    char path[256];
    EXPECT_TRUE(machine.model.global.SearchFileName(path, sizeof path, 1, "HANDLES", "TXT"));
    EXPECT_EQ(std::string(path), machine.Path("handles.txt"));
    EXPECT_FALSE(machine.model.global.SearchFileName(path, sizeof path, 1, "QZ_DATEN", "TXT"));
    EXPECT_EQ(std::string(path), machine.Path("QZ_DATEN.TXT"));
    char tooSmall[8];
    EXPECT_FALSE(machine.model.global.SearchFileName(tooSmall, sizeof tooSmall, 1, "HANDLES", "TXT"));
    EXPECT_EQ(std::strlen(tooSmall), 7u);

    // A directory that has been still is listed once; a file added or taken
    // away later is still seen.
    const std::string directory = machine.model.global.mMachineDir;
    struct timeval old[2] = {{std::time(nullptr) - 60, 0}, {std::time(nullptr) - 60, 0}};
    ASSERT_EQ(::utimes(directory.c_str(), old), 0);
    EXPECT_TRUE(machine.model.global.SearchFileName(path, sizeof path, 1, "HANDLES", "TXT"));
    machine.WriteFile("qz_daten.txt", "");
    EXPECT_TRUE(machine.model.global.SearchFileName(path, sizeof path, 1, "QZ_DATEN", "TXT"));
    EXPECT_EQ(std::string(path), machine.Path("qz_daten.txt"));
    ASSERT_EQ(::utimes(directory.c_str(), old), 0);
    EXPECT_TRUE(machine.model.global.SearchFileName(path, sizeof path, 1, "QZ_DATEN", "TXT"));
    std::filesystem::remove(machine.Path("qz_daten.txt"));
    EXPECT_FALSE(machine.model.global.SearchFileName(path, sizeof path, 1, "QZ_DATEN", "TXT"));
}


// The default host never ends the process silently or with success: the
// library's own fatal exit passes 0 after its message box.
TEST(DefaultHostDeathTest, FatalExitSaysWhyAndFails) {
    struct Case {
        std::function<void()> call;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {[] {
             korvex::host::HostServices services;
             services.MessageBox("HANDLES", "FILE NOT FOUND !!", MB_OK);
             services.FatalExit(0);
         },
         1, "fatal exit: FILE NOT FOUND !!: HANDLES"},
        {[] { korvex::host::HostServices().FatalExit(7); }, 7, "fatal exit: no message"},
        {[] { korvex::host::HostServices().FatalAppExit(0, "CData"); }, 1, "fatal exit: CData"},
    };
    for (const Case& c : cases) EXPECT_EXIT(c.call(), ::testing::ExitedWithCode(c.code), c.says);
}

}  // namespace
