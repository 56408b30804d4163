#include "tools/bridge/bridge_format.h"

#include <gtest/gtest.h>

namespace korvex::bridge {
namespace {

TEST(BridgeFormatTest, GlobMatch) {
    struct Case {
        const char *pattern, *name;
        bool match;
    } cases[] = {
        {"*", "TDiaD", true},         {"*", "", true},
        {"tdiad", "TDiaD", true},     {"TDia", "TDiaD", false},
        {"T*D", "TDiaD", true},       {"T*D", "TDiaX", false},
        {"?Dia?", "TDiaD", true},     {"?Dia?", "TDia", false},
        {"*a*a*", "MagazineA", true}, {"*a*a*b", "MagazineA", false},
        {"Mag*Count", "MagCount", true}, {"", "X", false},
        {"**", "X", true},            {"X*", "X", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GlobMatch(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
    EXPECT_FALSE(MatchesAny({}, "TDiaD"));
    EXPECT_TRUE(MatchesAny({"X*", "t*"}, "TDiaD"));
}

TEST(BridgeFormatTest, SetTopics) {
    struct Case {
        const char* topic;
        bool ok;
        const char *name, *index;
    } cases[] = {
        {"korvex/m1/0/TDiaD/4/set", true, "TDiaD", "4"},
        {"korvex/m1/0/TDiaD/x/set", true, "TDiaD", "x"},
        {"korvex/m1/1/TDiaD/4/set", false, "", ""},      // another CNC
        {"korvex/m2/0/TDiaD/4/set", false, "", ""},      // another root
        {"korvex/m1/0/TDiaD/4/result", false, "", ""},
        {"korvex/m1/0/TDiaD/set", false, "", ""},        // no index level
        {"korvex/m1/0/a/b/4/set", false, "", ""},        // a name with a slash
        {"korvex/m1/0//4/set", false, "", ""},
        {"korvex/m1/0/TDiaD//set", true, "TDiaD", ""},  // found wanting later
    };
    for (const Case& c : cases) {
        std::string name, index;
        EXPECT_EQ(ParseSetTopic("korvex/m1", 0, c.topic, name, index), c.ok) << c.topic;
        if (!c.ok) continue;
        EXPECT_EQ(name, c.name) << c.topic;
        EXPECT_EQ(index, c.index) << c.topic;
    }
    EXPECT_EQ(ResultTopic("korvex/m1/0/TDiaD/4/set"), "korvex/m1/0/TDiaD/4/result");
    EXPECT_EQ(ValueTopic("r", 2, "N", 7), "r/2/N/7");
    EXPECT_EQ(SetFilter("r", 2), "r/2/+/+/set");
    EXPECT_TRUE(NameFitsTopic("TDiaD 4"));
    for (const char* bad : {"", "a/b", "a+", "#"}) EXPECT_FALSE(NameFitsTopic(bad)) << bad;
}

TEST(BridgeFormatTest, Latin1AndUtf8) {
    struct Case {
        std::string utf8;
        bool ok;
        std::string latin1;
    } cases[] = {
        {"plain", true, "plain"},
        {"Gr\xc3\xb6\xc3\x9f" "e", true, "Gr\xf6\xdf" "e"},
        {"\xc2\xa0", true, "\xa0"},
        {"\xff", false, ""},              // no UTF-8 at all
        {"\xc3", false, ""},              // cut sequence
        {"\xc3(", false, ""},             // bad continuation
        {"\xe2\x82\xac", false, ""},      // the euro sign: beyond Latin-1
        {"\xc0\xaf", false, ""},          // overlong '/'
        {std::string("a\0b", 3), false, ""},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(Utf8ToLatin1(c.utf8, out), c.ok) << c.utf8;
        if (!c.ok) continue;
        EXPECT_EQ(out, c.latin1);
        EXPECT_EQ(Latin1ToUtf8(out), c.utf8);
    }
}

TEST(BridgeFormatTest, Payloads) {
    Reading length;
    length.integer = 1200;
    length.display = "1.200";
    length.unit = "[mm]";
    Reading real;
    real.kind = Reading::Kind::Real;
    real.real = 0.25;
    real.display = "0.250";
    Reading text;
    text.kind = Reading::Kind::Text;
    text.text = text.display = "Gr\xf6\xdf" "e \"A\\B\"";
    Reading nan = real;
    nan.real = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::optional<std::uint16_t> handle;
        const Reading& reading;
        const char* json;
    } cases[] = {
        {3001, length,
         R"({"handle":3001,"name":"N","index":4,"raw":1200,"text":"1.200","unit":"[mm]"})"},
        {std::nullopt, real,
         R"({"handle":null,"name":"N","index":4,"raw":0.25,"text":"0.250","unit":""})"},
        {100, text,
         "{\"handle\":100,\"name\":\"N\",\"index\":4,\"raw\":\"Gr\xc3\xb6\xc3\x9f" "e \\\"A\\\\B\\\"\","
         "\"text\":\"Gr\xc3\xb6\xc3\x9f" "e \\\"A\\\\B\\\"\",\"unit\":\"\"}"},
        {1, nan, R"({"handle":1,"name":"N","index":4,"raw":null,"text":"0.250","unit":""})"},
    };
    for (const Case& c : cases) EXPECT_EQ(ValuePayload(c.handle, "N", 4, c.reading), c.json);
    EXPECT_EQ(ResultPayload(0), R"({"error":0,"text":"","sent":[]})");
    EXPECT_EQ(ResultPayload(2), R"({"error":2,"text":"Direct access not allowed!","sent":[]})");
}

TEST(BridgeFormatTest, SameReading) {
    Reading base;
    base.integer = 5;
    base.display = "5";
    Reading otherValue = base, otherText = base, otherUnit = base, otherKind = base;
    otherValue.integer = 6;
    otherText.display = "5.0";  // the inch switch changes only the text
    otherUnit.unit = "[inch]";
    otherKind.kind = Reading::Kind::Real;
    EXPECT_TRUE(SameReading(base, base));
    for (const Reading* other : {&otherValue, &otherText, &otherUnit, &otherKind})
        EXPECT_FALSE(SameReading(base, *other));
    Reading nan;
    nan.kind = Reading::Kind::Real;
    nan.real = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(SameReading(nan, nan));  // a NaN that stays is no change
}

// Refused broker addresses and options are the usage script's.
TEST(BridgeFormatTest, Arguments) {
    BridgeOptions options;
    std::string error;
    EXPECT_FALSE(ParseBridgeArguments({}, options, error));
    EXPECT_EQ(error, "bridge needs the broker's HOST:PORT");
    ASSERT_TRUE(ParseBridgeArguments(
        {"[::1]:1883", "--root", "plant/m1", "--publish", "T*", "--publish", "Mag*", "--writable",
         "TDia*", "--interval", "50", "--username", "u", "--password-file", "f", "--tls-ca",
         "ca.pem"},
        options, error))
        << error;
    EXPECT_EQ(options.host, "::1");
    EXPECT_EQ(options.port, 1883);
    EXPECT_EQ(options.root, "plant/m1");
    EXPECT_EQ(options.publish, (std::vector<std::string>{"T*", "Mag*"}));
    EXPECT_EQ(options.writable, (std::vector<std::string>{"TDia*"}));
    EXPECT_EQ(options.intervalMs, 50u);
    EXPECT_EQ(options.tlsCa, "ca.pem");
}

}  // namespace
}  // namespace korvex::bridge
