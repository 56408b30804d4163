#include "korvex/definitions/definition_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "korvex/korvex.h"
#include "tests/support/machine_files.h"
#include "tests/support/test_machine.h"

namespace {

using korvex::testing::Describe;
using korvex::testing::Image;
using korvex::testing::TestMachine;

constexpr const char* kHandles = "A=1\nB=2\nC=3\nFIVE=5\nXYZ=6\nNINE=9\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class DefinitionFileTest : public ::testing::Test {
  protected:
    // Loads a Daten over the given files, as a fresh process would.
    std::unique_ptr<Daten> Load(const std::string& definitions,
                                const std::string& handles = kHandles) {
        machine.WriteFile("HANDLES.TXT", handles);
        machine.WriteFile("QZ_DATEN.TXT", definitions);
        std::filesystem::remove(machine.Path("QZ_DATEN.BIN"));
        Handles::DropRegistry();
        machine.host.messageBoxes.clear();
        machine.host.fatalExits.clear();
        return std::unique_ptr<Daten>(machine.NewDaten());
    }
    std::string File() const { return machine.Path("QZ_DATEN.TXT"); }

    TestMachine machine;
};

TEST_F(DefinitionFileTest, EveryErrorWithItsCaptionTextAndResult) {
    // The message is the detail (when there is one), then file and line. The
    // errors the lint script shows (a missing "]", a constant's first
    // character, a lower-case type, a zero length, a bad base, an unknown
    // keyword, a WORD maximum) are not repeated here.
    const std::string kLong = "[A]\nType = LONGINT\n", kNo = "InchMetric = NO\n";
    const std::string kFormat = "MetricFormat = 10 0\n" + kNo;
    const std::string kDefault = "Default out of bounds !!";
    const std::string kOrder = "2nd parameter is greater than 1st parameter !!",
                      kYesNo = "Wrong parameter (YES / NO) !!",
                      kUnset = "Min, Max, MetricFormat or InchFormat not defined !!";
    struct Case {
        std::string definitions, caption;
        const char* detail;
        int line;
        std::uint8_t result;
    } cases[] = {
        // Lines outside records and headers.
        {"; remark\nType = LONGINT\n", "Handle not valid !!", nullptr, 2, 7},
        {"[NOPE]\n", "Handle not found !!", "NOPE", 1, 6},
        {"[ A B ]\n", "Handle not found !!", "A B", 1, 6},
        {"[]\n", "Handle not found !!", "", 1, 6},
        {"[A]\nType = STRING 4\n[B]\nType = STRING 4\n[a]\n", "Handle already exists !!", "a", 5,
         8},
        // Constants.
        {"[CONSTANTS]\n-X = 5\n", "First character 0..9 or - !!", "-X", 2, 13},
        {"[CONSTANTS]\nX=5\nY=6\nX=7\n", "Parameter defined twice !!", "X", 4, 9},
        // Keyword checks.
        {kLong + "Type = WORD\n", "Parameter defined twice !!", "Type", 3, 9},
        {kLong + "Min = 1\nMin = NOSUCH\n", "Parameter defined twice !!", "Min", 4, 9},
        {"[A]\nMin = 0\n", "Type not defined !!", nullptr, 2, 7},
        {"[A]\nDefault = NOSUCH\n", "Type not defined !!", nullptr, 2, 7},
        {kLong + "Max = MAXNEG\n", "Constant not found !!", "MAXNEG", 3, 7},
        {"[A]\nType = STRING\n", "Constant not found !!", "", 2, 7},
        {kLong + "MetricFormat = 10\n", "Constant not found !!", "", 3, 7},
        {kLong + "UserFactor = .5\n", "Constant not found !!", ".5", 3, 7},
        {"[A]\nType = BYTE\nMin = -1\n", "Minimum out of bounds !!", "-1", 3, 13},
        {"[A]\nType = WORD\nMin = -1\n", "Minimum out of bounds !!", "-1", 3, 13},
        {"[A]\nType = INTEGER\nMin = -32769\n", "Minimum out of bounds !!", "-32769", 3, 13},
        {"[A]\nType = QZSHORTREAL\nMin = -40000\n", "Minimum out of bounds !!", "-40000", 3, 13},
        {"[A]\nType = SHORTINT\nMin = -129\n", "Minimum out of bounds !!", "-129", 3, 13},
        {"[CONSTANTS]\nLOW=-7\n[A]\nType = BYTE\nMin = LOW\n", "Minimum out of bounds !!", "-7", 5,
         13},
        {"[A]\nType = BYTE\nMax = 256\n", "Maximum out of bounds !!", "256", 3, 13},
        {"[A]\nType = INTEGER\nMax = 32768\n", "Maximum out of bounds !!", "32768", 3, 13},
        {"[A]\nType = QZSHORTREAL\nMax = 32768\n", "Maximum out of bounds !!", "32768", 3, 13},
        {"[A]\nType = SHORTINT\nMax = 128\n", "Maximum out of bounds !!", "128", 3, 13},
        {"[A]\nType =\n", "Unknown parameter !!", "", 2, 12},
        {"[A]\nType = BITMASK -4\n", "Parameter error !!", "-4", 2, 13},
        {"[A]\nType = STRING 65536\n", "Parameter error !!", "65536", 2, 13},
        {kLong + "MetricFormat = 3 3\n", kOrder, "MetricFormat", 3, 13},
        {kLong + "MetricFormat = 3 10\n", kOrder, "MetricFormat", 3, 13},
        {kLong + "InchFormat = 3 10\n", kOrder, "3 10", 3, 13},
        {kLong + "Visible = maybe\n", kYesNo, "maybe", 3, 13},
        {kLong + "WriteDirect = NO,Other\n", kYesNo, "NO,Other", 3, 13},
        {kLong + "InchMetric = YES,3\n", kYesNo, "YES,3", 3, 13},
        {"[A]\nType = BITMASK 2\nSwapBitmask = 1\n", kYesNo, "1", 3, 13},
        {"[A]\nType = BITMASK 2\nRevertBitmask = JA\n", kYesNo, "JA", 3, 13},
        {kLong + "ZReverse =\n", kYesNo, "", 3, 13},
        {kLong + "Min\t= 0\n", "Unknown keyword !!", "Min\t", 3, 10},
        {"[A]\n// Max = 5\n", "Unknown keyword !!", "// Max", 2, 10},
        // Closing a record.
        {"[A]\n[B]\n", "Type not defined !!", nullptr, 2, 7},
        {"[A]\nVisible = YES\n\n\n", "Type not defined !!", nullptr, 4, 7},
        {kLong + "Min = 5\nMax = 10\nDefault = 11\n" + kFormat + "[B]\n", kDefault, nullptr, 8, 13},
        {kLong + "Min = 5\nDefault = 4\n" + kFormat, kDefault, nullptr, 6, 13},
        {"[A]\nType = BYTE\nDefault = 256\nMetricFormat = 3 0\n" + kNo, kDefault, nullptr, 5, 13},
        {"[A]\nType = REAL\nMin = 1.5\nMax = 2.5\nDefault = 2.6\nMetricFormat = 10 3\n" + kNo,
         kDefault, nullptr, 7, 13},
        {kLong + "MetricFormat = 10 3\n", kUnset, nullptr, 3, 7},
        {"[A]\nType = QZREAL\nInchFormat = 10 4\n", kUnset, nullptr, 3, 7},
        {kLong + "InchMetric = NO\n[CONSTANTS]\n", kUnset, nullptr, 4, 7},
    };
    for (const Case& c : cases) {
        auto daten = Load(c.definitions);
        const std::string text = (c.detail ? std::string(c.detail) + "\n" : "") + "File : " +
                                 File() + "\nLine : " + std::to_string(c.line);
        ASSERT_EQ(machine.host.messageBoxes.size(), 1u) << c.definitions;
        EXPECT_EQ(machine.host.messageBoxes[0].caption, c.caption) << c.definitions;
        EXPECT_EQ(machine.host.messageBoxes[0].text, text) << c.definitions;
        EXPECT_EQ(daten->ConstructionResult(), c.result) << c.definitions;
        EXPECT_EQ(machine.host.fatalExits, std::vector<int>{0}) << c.definitions;
        // Nothing half read survives, and no cache is written.
        EXPECT_EQ(daten->DefinitionCount(), 0u) << c.definitions;
        EXPECT_FALSE(machine.Exists("QZ_DATEN.BIN")) << c.definitions;
    }
}

TEST_F(DefinitionFileTest, DefaultLimitsPerType) {
    struct Case {
        const char* type;
        std::int32_t min, max;
        std::uint16_t length;
    } cases[] = {
        {"BYTE", 0, 255, 1},
        {"SHORTINT", -128, 127, 1},
        {"WORD", 0, 65535, 2},
        {"INTEGER", -32768, 32767, 2},
        {"LONGINT", INT32_MIN, INT32_MAX, 4},
        {"QZREAL", INT32_MIN, INT32_MAX, 4},
        {"QZSHORTREAL", -32768, 32767, 2},
        {"QZSHORTREALPLUS", 0, 65535, 2},
        {"QZLONGCARD", 0, INT32_MAX, 4},
        {"QZCARD", 0, 65535, 2},
    };
    for (const Case& c : cases) {
        auto daten =
            Load(std::string("[A]\nType = ") + c.type + "\nMetricFormat = 10 3\nInchMetric = NO\n");
        ASSERT_EQ(daten->ConstructionResult(), 0) << c.type;
        const DInfo* r = daten->ExistHandle(1);
        ASSERT_NE(r, nullptr) << c.type;
        EXPECT_EQ(r->Min(), c.min) << c.type;
        EXPECT_EQ(r->Max(), c.max) << c.type;
        EXPECT_EQ(r->Def(), INT32_MAX) << c.type;
        EXPECT_EQ(r->mLength, c.length) << c.type;
        EXPECT_EQ(r->mInchMetric, 0) << c.type;
    }
    auto daten = Load("[A]\nType = REAL\nMetricFormat = 12 4\nInchMetric = NO\n");
    const DInfo* r = daten->ExistHandle(1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mType, DInfo::REAL);
    EXPECT_EQ(r->mLength, 8);
    EXPECT_EQ(r->RealMin(), 2.225074e-300);
    EXPECT_EQ(r->RealMax(), 1.797693e+300);
    EXPECT_EQ(r->RealDef(), 2147483647.0);
}

TEST_F(DefinitionFileTest, InchMetricDefaultsToOneAndThenNeedsAnInchFormat) {
    auto daten = Load("[A]\nType = LONGINT\nMetricFormat = 10 3\nInchFormat = 10 4\n");
    ASSERT_EQ(daten->ConstructionResult(), 0);
    EXPECT_EQ(daten->ExistHandle(1)->mInchMetric, 1);
    EXPECT_EQ(daten->ExistHandle(1)->Min(), INT32_MIN);
    daten = Load("[A]\nType = LONGINT\nMetricFormat = 10 3\nInchMetric = NO\n");
    EXPECT_EQ(daten->ConstructionResult(), 0);
    daten = Load("[A]\nType = QZCARD\nMin = -1\nMetricFormat = 10 3\nInchMetric = NO\n");
    ASSERT_EQ(daten->ConstructionResult(), 0);
    EXPECT_EQ(daten->ExistHandle(1)->Min(), -1);
}

TEST_F(DefinitionFileTest, EveryKeywordReachesTheRecord) {
    auto daten = Load(
        "[CONSTANTS]\nMAXPOS=750\nUNIT=[mm/min]\nSHOW=NO\nTYPEWORD=QZREAL\n\n"
        "[ A ] text after the bracket\nType = TYPEWORD\nMin = -20\nMax = MAXPOS\n"
        "Default = 3\nDefault = 7\nMetricFormat = 10 3 ignored\nInchFormat = 9 4\n"
        "UserFactor = 25.4\nWriteDirect = no,commvalue\nInchMetric = yes,2\nVisible = SHOW\n"
        "ZReverse = Yes\nMetricUnit = UNIT\nInchUnit = [inch/minute/x]\nTabIdent = TAB\n"
        "TabIndex = I\nTabParIdent = PD\nNotValid = -99\nBase = hex\nSpecial = anything\n"
        "Special = again\na remark line inside a record\n"
        "[B]\nType = BITMASK 16\nSwapBitmask = YES\nRevertBitmask = YES\n"
        "WriteDirect = NO,CommFlag\nMin = 4\nMetricUnit = [x]\n"
        "[C]\nType = REAL\nMin = -1.5\nMax = 1e3\nDefault = 0.25\nMetricFormat = 12 4\n"
        "InchFormat = 12 5\nNotValid = 5\nZReverse = YES\nWriteDirect = YES\nBase = Bin\n");
    ASSERT_EQ(daten->ConstructionResult(), 0) << machine.host.messageBoxes.size();
    // What each record should hold, through the constructors whose images the
    // DInfo tests pin down. The string-and-bitmask record drops everything
    // else; the REAL record takes neither the not-valid value nor Z reverse.
    const DInfo expected[] = {
        DInfo(DInfo::QZREAL, -20, 750, 7, 10, 3, 9, 4, 25.4, DInfo::CommValue, 0, 2, 0, "[mm/min]",
              "[inch/minute", "TA", "I", "PD", 1, -99, 1, 16),
        DInfo(DInfo::BITMASK, 16, DInfo::CommFlag, 0, 1, 1, 1),
        DInfo(-1.5, 1000.0, 0.25, 12, 4, 12, 5, 1.0, DInfo::TPara, 1, 1, 1, "", "", "", "", "", 2),
    };
    for (std::uint16_t handle = 1; handle <= 3; ++handle) {
        ASSERT_NE(daten->ExistHandle(handle), nullptr) << handle;
        EXPECT_EQ(Describe(*daten->ExistHandle(handle)), Describe(expected[handle - 1])) << handle;
    }
}

TEST_F(DefinitionFileTest, StringRecordAndNotValidNo) {
    auto daten = Load(
        "[A]\nType = STRING 20\nVisible = no\n[B]\nType = BYTE\nNotValid = NO\n"
        "MetricFormat = 3 0\nInchMetric = NO\n");
    ASSERT_EQ(daten->ConstructionResult(), 0);
    EXPECT_EQ(daten->ExistHandle(1)->mType, DInfo::STRING);
    EXPECT_EQ(daten->ExistHandle(1)->mLength, 20);
    EXPECT_EQ(daten->ExistHandle(1)->mVisible, 0);
    EXPECT_EQ(daten->ExistHandle(2)->mNotValid, 0);
}

TEST_F(DefinitionFileTest, ConstantsSectionsReplaceTheTable) {
    // Empty names or values are skipped; a second CONSTANTS header empties
    // the table.
    auto daten = Load(
        "[CONSTANTS]\nLEN=8\nX=\n=5\n[A]\nType = STRING LEN\n"
        "[constants]\nOTHER=1\n[B]\nType = STRING LEN\n");
    ASSERT_EQ(machine.host.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.host.messageBoxes[0].caption, "Constant not found !!");
    EXPECT_EQ(machine.host.messageBoxes[0].text, "LEN\nFile : " + File() + "\nLine : 10");
}

TEST_F(DefinitionFileTest, WindowsLineEndsAndLongLines) {
    const std::string lf = "[A]\nType = LONGINT\nMin" + std::string(300, ' ') +
                           "= 5\nMetricFormat = 10 0\n"
                           "InchMetric = NO\nMetricUnit = [mm]" +
                           std::string(400, ' ') + "tail\n[B]\nType = STRING 4\n";
    auto daten = Load(lf);
    ASSERT_EQ(daten->ConstructionResult(), 0);
    EXPECT_EQ(daten->ExistHandle(1)->Min(), 5);
    EXPECT_STREQ(daten->ExistHandle(1)->mszMetricUnit, "[mm]");
    const std::string fromLf = Image(*daten->ExistHandle(1));
    auto crlf = Load(Replace(lf, "\n", "\r\n"));
    ASSERT_EQ(crlf->ConstructionResult(), 0);
    EXPECT_EQ(Image(*crlf->ExistHandle(1)), fromLf);
    EXPECT_EQ(crlf->ExistHandle(2)->mLength, 4);

    // Messages count the same lines.
    Load("[A]\r\nType = LONGINT\r\n\r\nMin = X\r\n");
    ASSERT_EQ(machine.host.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.host.messageBoxes[0].text, "X\nFile : " + File() + "\nLine : 4");
}

TEST(ConstantTableTest, HashAndLookUp) {
    using korvex::definitions::ConstantTable;
    EXPECT_EQ(ConstantTable::Hash(""), 0u);
    EXPECT_EQ(ConstantTable::Hash("A"), 260u);
    EXPECT_EQ(ConstantTable::Hash("ab"), (97u * 4 + 98) * 4);
    // Signed characters: 0xFF counts as -1.
    EXPECT_EQ(ConstantTable::Hash("\xff"), static_cast<std::uint32_t>(-4));
    ConstantTable table;
    table.Add("MAXPOS", "750");
    table.Add("maxpos", "1");
    // "\x01\x3d" hashes to (1 * 4 + 61) * 4 = 260, as "A" does.
    table.Add("\x01\x3d", "same bucket");
    ASSERT_NE(table.Find("MAXPOS"), nullptr);
    EXPECT_EQ(*table.Find("MAXPOS"), "750");
    EXPECT_EQ(*table.Find("maxpos"), "1");
    EXPECT_EQ(table.Find("MaxPos"), nullptr);
    table.Add("A", "first of the bucket");
    EXPECT_EQ(*table.Find("A"), "first of the bucket");
    EXPECT_EQ(*table.Find("\x01\x3d"), "same bucket");
    EXPECT_EQ(table.Size(), 4u);
    table.Clear();
    EXPECT_EQ(table.Find("A"), nullptr);
}

TEST(NumberTextTest, AsTheCLibraryReadsThem) {
    using korvex::definitions::ParseDouble;
    using korvex::definitions::ParseLong;
    EXPECT_EQ(ParseLong("12"), 12);
    EXPECT_EQ(ParseLong("-12x"), -12);
    EXPECT_EQ(ParseLong("x"), 0);
    EXPECT_EQ(ParseLong("-"), 0);
    EXPECT_EQ(ParseLong("2147483648"), INT32_MAX);
    EXPECT_EQ(ParseLong("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseLong("-99999999999"), INT32_MIN);
    EXPECT_EQ(ParseDouble("25.4"), 25.4);
    EXPECT_EQ(ParseDouble("-1e3x"), -1000.0);
    // Every spelling reads as strtod reads it, to the last bit and the sign
    // of a zero.
    const char* const texts[] = {
        "0.1", "-0", "-0.0", "0.001", "123456789012345", "1234567890123456", "9.999999999999999",
        "0.000000000000001", "-1.5", "1.", ".5", "-.5", "1.2.3", "+2", "1e3", "12ab", "", "-",
        "4503599627370497", "8.30", "0.30000000000000004", "179769313486231570000"};
    for (const char* text : texts) {
        const double expected = std::strtod(text, nullptr);
        const double got = ParseDouble(text);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text << " " << got;
    }
    EXPECT_EQ(ParseDouble(std::string(100, '1') + ".5"),
              std::strtod((std::string(100, '1') + ".5").c_str(), nullptr));
}

}  // namespace

namespace {

// The scanner classifies a line from the 32 bytes where it starts; lines
// around that width, blanks and '=' anywhere, Windows line ends and a last
// line without one must read as the plain line-by-line split reads them.
TEST(DefinitionParserScan, ReadsAsTheLineByLineSplit) {
    const std::vector<std::string> shapes = {
        "[A]", "[ B ]", "[C", "Type = LONGINT", "Type=STRING 4", "Min =  -5 ",
        "MetricFormat = 10 0", "=", " = x", "Max", "NotValid = NO", "MetricUnit = [m m] x",
        "TabIdent =    T    F   ", "Visible = NO", "InchMetric = NO", "Base = Hex",
        "Colour = 1", "[CONSTANTS]", "X=1", "Y = 2 3", "Default = Y"};
    std::string text;
    int variant = 0;
    for (int pad = 0; pad < 36; ++pad) {
        for (const std::string& shape : shapes) {
            ++variant;
            // Blanks before, inside or after, so that lines end on each side
            // of the 32-byte window.
            std::string line = shape;
            if (variant % 3 == 0) line = std::string(static_cast<std::size_t>(pad), ' ') + line;
            else if (variant % 3 == 1) line += std::string(static_cast<std::size_t>(pad), ' ');
            else if (line.find('=') != std::string::npos)
                line.insert(line.find('='), static_cast<std::size_t>(pad), ' ');
            // Each line in a record of its own, typed unless it types it.
            if (shape.find("Type") == std::string::npos) text += "[R]\nType = LONGINT\n";
            else text += "[R]\n";
            text += line + (variant % 5 == 0 ? "\r\n" : "\n");
        }
    }
    for (std::size_t cut : {text.size(), text.size() - 1, text.size() - 7, text.size() - 40}) {
        const std::string_view part(text.data(), cut);
        std::string said[2];
        std::vector<std::string> images[2];
        for (int road = 0; road < 2; ++road) {
            std::vector<DInfo*> table{new DInfo()};
            std::uint16_t handles = 0;
            korvex::definitions::DefinitionParser parser(
                table, "QZ_DATEN.TXT", [&handles](const char*) { return ++handles; },
                [&said, road](const korvex::files::LoadMessage& message) {
                    said[road] += std::to_string(message.line) + " " + message.caption + " " +
                                  message.text + "\n";
                    return true;
                });
            if (road == 1) parser.SplitLineByLine();
            parser.Parse(part);
            for (DInfo* record : table) {
                images[road].push_back(Image(*record));
                delete record;
            }
        }
        EXPECT_FALSE(said[0].empty());
        EXPECT_EQ(said[0], said[1]) << cut;
        EXPECT_EQ(images[0], images[1]) << cut;
    }
}

}  // namespace
