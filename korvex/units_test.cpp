#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/values_fixture.h"

namespace {

using korvex::host::SimDriver;
using korvex::testing::ValuesTest;

class UnitsTest : public ValuesTest {
  protected:
    // The notifications the frame got so far.
    std::size_t Updates() {
        const std::string expected = "frameNotify 0x490 1 \"UPDATE\"";
        std::size_t count = 0;
        for (const std::string& line : host().LinesStartingWith("frameNotify"))
            count += line == expected ? 1 : 0;
        EXPECT_EQ(count, host().LinesStartingWith("frameNotify").size());
        return count;
    }
    // A feed rate as the machines keep it: mm/min, shown m/min or inch/min.
    DInfo* DefineFeed(std::uint16_t handle, char inchMetric = 1) {
        DInfo* record = DefineInt(handle, DInfo::QZLONGCARD, 0, 60000, 10, 3, 10, 1, inchMetric);
        std::strcpy(record->mszMetricUnit, "[m/min]");
        std::strcpy(record->mszInchUnit, "[inch/min]");
        return record;
    }
    // The machine settings of the controller, all defined and metric.
    void DefineSettings() {
        for (std::uint16_t handle : {799, 801, 644, 683, 1310, 1625})
            DefineFull(handle, DInfo::LONGINT);
        PokeLong(799, 1);
        PokeLong(801, 1);
        PokeLong(644, 0);
        PokeLong(683, 0);
        PokeLong(1310, 0);
        PokeLong(1625, 0);
    }
};

TEST_F(UnitsTest, WhichHandlesAreShownInInch) {
    DefineInt(1, DInfo::QZREAL, 0, 10, 8, 3, 8, 4, 0);
    DefineInt(2, DInfo::QZREAL, 0, 10, 8, 3, 8, 4, 1);
    DefineInt(3, DInfo::QZREAL, 0, 10, 8, 3, 8, 4, 2);
    struct Case {
        std::uint8_t flag1, flag2;
        bool inch0, inch1, inch2;
    } cases[] = {
        {0, 0, false, false, false},
        {1, 0, false, true, false},
        {0, 1, false, false, true},
        {1, 1, false, true, true},
    };
    for (const Case& c : cases) {
        daten->mInchFlag1 = c.flag1;
        daten->mInchFlag2 = c.flag2;
        EXPECT_EQ(daten->CheckInch(1), c.inch0);
        EXPECT_EQ(daten->CheckInch(2), c.inch1);
        EXPECT_EQ(daten->CheckInch(3), c.inch2);
        EXPECT_FALSE(daten->CheckInch(30));     // no record
        EXPECT_FALSE(daten->CheckInch(15000));  // no data object
    }
}

TEST_F(UnitsTest, FeedRateModeAndFactors) {
    DefineFull(1625, DInfo::LONGINT);
    struct Case {
        std::int32_t mode;
        std::uint8_t conversion;
        double feedFactor;
    } cases[] = {
        {0, 0, 2.54}, {1, 1, 0.4233333333333333}, {2, 2, 1.0}, {3, 0, 2.54}, {-1, 0, 2.54}};
    for (const Case& c : cases) {
        PokeLong(1625, c.mode);
        EXPECT_EQ(daten->isTMET1_2Conversion(258), c.conversion) << c.mode;
        EXPECT_EQ(daten->isTMET1_2Conversion(1994), c.conversion) << c.mode;
        EXPECT_EQ(daten->getInchMetricFactor(258), c.feedFactor) << c.mode;
        EXPECT_EQ(daten->getInchMetricFactor(341), 8.333333333333332) << c.mode;
        EXPECT_EQ(daten->getInchMetricFactor(2060), 8.333333333333332) << c.mode;
        EXPECT_EQ(daten->getInchMetricFactor(100), 2.54) << c.mode;
    }
    // Handles outside the feed-rate set are answered without a read.
    const std::uint32_t reads = Reads();
    EXPECT_EQ(daten->isTMET1_2Conversion(257), 0);
    EXPECT_EQ(daten->isTMET1_2Conversion(341), 0);
    EXPECT_EQ(Reads(), reads);
    // A mode that cannot be read counts as 0.
    PokeLong(1625, 1);
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    EXPECT_EQ(daten->isTMET1_2Conversion(258), 0);
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    EXPECT_EQ(daten->getInchMetricFactor(258), 2.54);
}

// The units and factors of each mode are the values_feed_rates script's; here
// when the record changes at all.
TEST_F(UnitsTest, FeedRateRecordFollowsTheMode) {
    DefineFull(1625, DInfo::LONGINT);
    DInfo* feed = DefineFeed(258);
    PokeLong(1625, 1);
    EXPECT_TRUE(daten->HandleTMET1_2(258));
    EXPECT_FALSE(daten->HandleTMET1_2(258));  // already in that mode
    EXPECT_EQ(feed->mMetricWidth, 10);        // the width stays
    PokeLong(1625, 0);
    EXPECT_TRUE(daten->HandleTMET1_2(258));  // back to m/min: 3 decimals, factor 1
    EXPECT_EQ(feed->mMetricDecimals, 3);
    EXPECT_EQ(double{feed->mUserFactor}, 1.0);
    // An unknown mode, a failed read and a missing record change nothing.
    PokeLong(1625, 7);
    EXPECT_FALSE(daten->HandleTMET1_2(258));
    PokeLong(1625, 1);
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    EXPECT_FALSE(daten->HandleTMET1_2(258));
    EXPECT_STREQ(feed->mszMetricUnit, "[m/min]");
    EXPECT_FALSE(daten->HandleTMET1_2(259));
}

TEST_F(UnitsTest, ReloadFollowsTheMetricSwitches) {
    DefineSettings();
    struct Case {
        std::int32_t switch1, switch2;
        std::uint8_t flag1Before, flag2Before, flag1, flag2;
        bool update;
    } cases[] = {
        // Switch 1 saying inch, switch 2 the tool data: the values_metric_inch
        // script. Here what it does not show: no change, no notification; 2
        // leaves flag 1 alone; only the low byte counts.
        {0, 1, 1, 0, 1, 0, false},
        {2, 1, 1, 1, 1, 0, true},
        {0x100, 0x101, 1, 0, 1, 0, false},
        {0x100, 0x101, 0, 1, 1, 0, true},
    };
    for (const Case& c : cases) {
        PokeLong(799, c.switch1);
        PokeLong(801, c.switch2);
        daten->mInchFlag1 = c.flag1Before;
        daten->mInchFlag2 = c.flag2Before;
        const std::size_t before = Updates();
        EXPECT_EQ(daten->InitInchMetricCnc47(), 0);
        EXPECT_EQ(daten->mInchFlag1, c.flag1) << c.switch1 << " " << c.switch2;
        EXPECT_EQ(daten->mInchFlag2, c.flag2) << c.switch1 << " " << c.switch2;
        EXPECT_EQ(Updates() - before, c.update ? 1u : 0u) << c.switch1 << " " << c.switch2;
    }
}

TEST_F(UnitsTest, ReloadStopsAtTheFirstFailedRead) {
    DefineSettings();
    PokeLong(799, 0);  // inch
    PokeLong(683, 1);
    DInfo* selector = DefineInt(909, DInfo::QZREAL, 0, 10, 8, 3, 8, 4, 1);
    // The switch read fails: the second control code still follows.
    sim().FailNext(SimDriver::Operation::ReadByHandle);
    EXPECT_EQ(daten->InitInchMetricCnc47(), 15);
    EXPECT_EQ(sim().Controls().size(), 2u);
    EXPECT_EQ(sim().Controls().back().first, 0x28);
    EXPECT_EQ(daten->mInchFlag1, 0);

    // Later reads without a record: what changed before stays, no notification.
    struct Case {
        std::uint16_t missing;
        bool flagsChanged, selectorChanged, zChanged;
    } cases[] = {
        {801, true, false, false},
        {644, true, false, false},
        {683, true, true, false},
        {1310, true, true, true},
    };
    for (const Case& c : cases) {
        DefineSettings();
        PokeLong(799, 0);
        PokeLong(644, 1);
        PokeLong(683, 1);
        PokeLong(1310, 5000);
        daten->mInchFlag1 = 0;
        daten->mZReverse = 0;
        selector->mInchMetric = 1;
        daten->SetDefinition(c.missing, nullptr);
        const std::size_t controls = sim().Controls().size();
        const std::size_t updates = Updates();
        EXPECT_EQ(daten->InitInchMetricCnc47(), 6) << c.missing;
        EXPECT_EQ(sim().Controls().size() - controls, 2u) << c.missing;
        EXPECT_EQ(sim().Controls().back().first, 0x28) << c.missing;
        EXPECT_EQ(daten->mInchFlag1, c.flagsChanged ? 1 : 0) << c.missing;
        EXPECT_EQ(selector->mInchMetric, c.selectorChanged ? 2 : 1) << c.missing;
        EXPECT_EQ(daten->mZReverse, c.zChanged ? 1 : 0) << c.missing;
        EXPECT_EQ(Updates(), updates) << c.missing;
    }
}

// Every handle of the selector, feed-rate and Z-mirror sets is the
// values_metric_inch script's; here one of each, the notification and the
// Z reference.
TEST_F(UnitsTest, ReloadSetsSelectorsFeedRatesAndTheZMirror) {
    DefineSettings();
    DInfo* selector = DefineInt(909, DInfo::QZREAL, 0, 10, 8, 3, 8, 4, 1);
    DInfo* feed = DefineFeed(258);
    DInfo* mirrored = DefineInt(261, DInfo::QZREAL, -100000, 100000, 8, 3, 8, 4, 1);
    DInfo* other = DefineFeed(1);  // not a feed-rate handle

    PokeLong(644, 3);
    PokeLong(1625, 1);
    PokeLong(683, 1);
    PokeLong(1310, 5000);
    EXPECT_EQ(daten->InitInchMetricCnc47(), 0);
    EXPECT_EQ(selector->mInchMetric, 2);
    EXPECT_STREQ(feed->mszMetricUnit, "[mm/s]");
    EXPECT_STREQ(other->mszMetricUnit, "[m/min]");
    EXPECT_EQ(daten->mZReverse, 1);
    EXPECT_EQ(daten->mZReference, 5000);
    EXPECT_EQ(double{mirrored->mUserFactor}, -1.0);
    EXPECT_EQ(Updates(), 1u);

    // The user factors of the mirror handles are not a change of their own.
    mirrored->mUserFactor = 1.0;
    EXPECT_EQ(daten->InitInchMetricCnc47(), 0);
    EXPECT_EQ(Updates(), 1u);
    EXPECT_EQ(double{mirrored->mUserFactor}, -1.0);

    PokeLong(644, 0);
    PokeLong(683, 0);
    PokeLong(1310, 7000);  // not read while the mirror is off
    EXPECT_EQ(daten->InitInchMetricCnc47(), 0);
    EXPECT_EQ(selector->mInchMetric, 1);
    EXPECT_EQ(daten->mZReverse, 0);
    EXPECT_EQ(daten->mZReference, 5000);
    EXPECT_EQ(double{mirrored->mUserFactor}, 1.0);
    EXPECT_EQ(Updates(), 2u);
}

TEST_F(UnitsTest, MetricAndInchConversionsWhateverTheFlagsSay) {
    DefineSettings();
    DefineFeed(258);
    DefineInt(1, DInfo::QZREAL, INT32_MIN, INT32_MAX, 10, 3, 10, 4, 1);
    DefineInt(2, DInfo::QZREAL, INT32_MIN, INT32_MAX, 10, 3, 10, 4, 0);
    DefineFull(3, DInfo::LONGINT);
    DInfo* speed = DefineInt(341, DInfo::QZLONGCARD, 0, 20000, 8, 1, 8, 0, 1);
    (void)speed;
    struct Case {
        std::int32_t mode;
        std::uint16_t handle;
        std::int32_t value;
        const char* inchText;    // MetricValue2InchString
        const char* metricText;  // InchValue2MetricString
    } cases[] = {
        {0, 1, 25400, "1.0000", "64.516"},
        {0, 1, 10000, "0.3937", "25.400"},
        {0, 2, 25400, "25.400", "25.400"},  // always metric
        {0, 3, 25400, "25400", "25400"},
        {0, 341, 8333, "1000", "6944.2"},
        {0, 258, 1000, "39.4", "2.540"},
        {1, 258, 1000, "236.2", "42.4"},    // mm/s: the factor 25.4 / 60 on the inch side
        {2, 258, 394, "15.5", "1.001"},     // inch/min: 10 wide with 3 decimals on the metric side
        {1, 1, 25400, "1.0000", "64.516"},  // not a feed rate
    };
    for (const Case& c : cases) {
        PokeLong(1625, c.mode);
        EXPECT_EQ(daten->InitInchMetricCnc47(), 0);
        char out[Daten::kTextBufferSize];
        EXPECT_EQ(daten->MetricValue2InchString(c.handle, c.value, out, sizeof out), 0);
        EXPECT_STREQ(out, c.inchText) << c.mode << " " << c.handle << " " << c.value;
        EXPECT_EQ(daten->mConversionMode, 0);
        EXPECT_EQ(daten->InchValue2MetricString(c.handle, c.value, out, sizeof out), 0);
        EXPECT_STREQ(out, c.metricText) << c.mode << " " << c.handle << " " << c.value;
        EXPECT_EQ(daten->mConversionMode, 0);
        EXPECT_EQ(daten->mInchFlag1 + daten->mInchFlag2, 0);
    }
    char out[8] = "x";
    EXPECT_EQ(daten->MetricValue2InchString(15000, 1, out, sizeof out), 6);
    EXPECT_EQ(daten->InchValue2MetricString(15000, 1, out, sizeof out), 6);
}

}  // namespace
