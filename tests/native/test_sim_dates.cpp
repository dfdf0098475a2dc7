// Tests of the simulated trading library's OLE date arithmetic (CK7RDateUtils): epoch, negative
// dates, the calendar's ends, rounding to the nearest second, range checks and forced failures.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

#include "velvix/K7RBase.h"

#include "core/World.h"

namespace
{

struct Moment
{
    int year, month, day, hour, minute, second;
};

std::tm calendar(const Moment& m)
{
    std::tm t{};
    t.tm_year = m.year - 1900;
    t.tm_mon = m.month - 1;
    t.tm_mday = m.day;
    t.tm_hour = m.hour;
    t.tm_min = m.minute;
    t.tm_sec = m.second;
    return t;
}

void expectMoment(const std::tm& t, const Moment& m)
{
    EXPECT_EQ(t.tm_year + 1900, m.year);
    EXPECT_EQ(t.tm_mon + 1, m.month);
    EXPECT_EQ(t.tm_mday, m.day);
    EXPECT_EQ(t.tm_hour, m.hour);
    EXPECT_EQ(t.tm_min, m.minute);
    EXPECT_EQ(t.tm_sec, m.second);
}

class SimDates : public testing::Test
{
protected:
    void SetUp() override { sim::world().reset(); }
    void TearDown() override { sim::world().faults().clear(); }
};

struct OleCase
{
    double ole;
    Moment moment;
    int wday, yday;
};

class SimDatesFromOle : public SimDates, public testing::WithParamInterface<OleCase>
{
};

TEST_P(SimDatesFromOle, GivesTheCalendarMoment)
{
    const OleCase& c = GetParam();
    std::tm t{};
    t.tm_isdst = 1;
    ASSERT_TRUE(CK7RDateUtils::OleTimeToCTime(c.ole, &t)) << c.ole;
    expectMoment(t, c.moment);
    EXPECT_EQ(t.tm_wday, c.wday);
    EXPECT_EQ(t.tm_yday, c.yday);
    EXPECT_EQ(t.tm_isdst, 0);
}

constexpr double Second = 1.0 / 86400.0;

INSTANTIATE_TEST_SUITE_P(
    Table, SimDatesFromOle,
    testing::Values(
        OleCase{0.0, {1899, 12, 30, 0, 0, 0}, 6, 363},
        OleCase{1.0, {1899, 12, 31, 0, 0, 0}, 0, 364},
        OleCase{2.5, {1900, 1, 1, 12, 0, 0}, 1, 0},
        OleCase{61.0, {1900, 3, 1, 0, 0, 0}, 4, 59},  // 1900 is no leap year
        // Before the epoch the integer part counts back, the fraction still runs forward.
        OleCase{-1.25, {1899, 12, 29, 6, 0, 0}, 5, 362},
        OleCase{-0.5, {1899, 12, 30, 12, 0, 0}, 6, 363},
        OleCase{-109512.75, {1600, 2, 29, 18, 0, 0}, 2, 59},
        OleCase{-182619.0, {1400, 1, 1, 0, 0, 0}, 3, 0},
        OleCase{-657434.0, {100, 1, 1, 0, 0, 0}, 5, 0},
        OleCase{2958465.0 + 86399 * Second, {9999, 12, 31, 23, 59, 59}, 5, 364},
        OleCase{44398.0 + 37815 * Second, {2021, 7, 21, 10, 30, 15}, 3, 201},
        // To the nearest second, also across midnight, on either side of the epoch.
        OleCase{44398.0 + (37815 - 0.49) * Second, {2021, 7, 21, 10, 30, 15}, 3, 201},
        OleCase{44398.0 + (37815 + 0.49) * Second, {2021, 7, 21, 10, 30, 15}, 3, 201},
        OleCase{44398.0 + (37815 + 0.51) * Second, {2021, 7, 21, 10, 30, 16}, 3, 201},
        OleCase{44398.0 - 1e-9, {2021, 7, 21, 0, 0, 0}, 3, 201},
        OleCase{44398.0 + 86399.6 * Second, {2021, 7, 22, 0, 0, 0}, 4, 202},
        OleCase{-1.0 - 86399.6 * Second, {1899, 12, 30, 0, 0, 0}, 6, 363}));

struct RoundTripCase
{
    Moment moment;
    double ole;
};

class SimDatesToOle : public SimDates, public testing::WithParamInterface<RoundTripCase>
{
};

TEST_P(SimDatesToOle, GivesTheOleDateAndComesBackExactly)
{
    const RoundTripCase& c = GetParam();
    std::tm in = calendar(c.moment);
    // Ignored fields: no time-zone or daylight-saving shift may come from them.
    in.tm_wday = 5;
    in.tm_yday = 300;
    in.tm_isdst = 1;
    double ole = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(CK7RDateUtils::CTimeToOleTime(&in, &ole));
    EXPECT_NEAR(ole, c.ole, 1e-9);
    std::tm back{};
    ASSERT_TRUE(CK7RDateUtils::OleTimeToCTime(ole, &back));
    expectMoment(back, c.moment);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimDatesToOle,
    testing::Values(RoundTripCase{{1899, 12, 30, 0, 0, 0}, 0.0},
                    RoundTripCase{{2021, 7, 21, 10, 30, 15}, 44398.0 + 37815 * Second},
                    RoundTripCase{{1899, 12, 29, 6, 0, 0}, -1.25},
                    RoundTripCase{{1899, 12, 28, 23, 59, 59}, -2.0 - 86399 * Second},
                    RoundTripCase{{1400, 1, 1, 0, 0, 0}, -182619.0},
                    RoundTripCase{{1400, 1, 1, 0, 0, 1}, -182619.0 - Second},
                    RoundTripCase{{9999, 12, 31, 23, 59, 59}, 2958465.0 + 86399 * Second},
                    RoundTripCase{{2000, 2, 29, 12, 0, 0}, 36585.5}));

TEST_F(SimDates, OutOfRangeCalendarFieldsFail)
{
    const Moment good{2021, 7, 21, 10, 30, 15};
    struct Bad
    {
        const char* what;
        void (*spoil)(std::tm&);
    };
    const Bad cases[] = {
        {"month 13", [](std::tm& t) { t.tm_mon = 12; }},
        {"month 0", [](std::tm& t) { t.tm_mon = -1; }},
        {"day 0", [](std::tm& t) { t.tm_mday = 0; }},
        {"day 32", [](std::tm& t) { t.tm_mday = 32; }},
        {"31 June", [](std::tm& t) { t.tm_mon = 5, t.tm_mday = 31; }},
        {"29 February 1900", [](std::tm& t) { t.tm_year = 0, t.tm_mon = 1, t.tm_mday = 29; }},
        {"hour 24", [](std::tm& t) { t.tm_hour = 24; }},
        {"hour -1", [](std::tm& t) { t.tm_hour = -1; }},
        {"minute 60", [](std::tm& t) { t.tm_min = 60; }},
        {"second 60", [](std::tm& t) { t.tm_sec = 60; }},
        {"second -1", [](std::tm& t) { t.tm_sec = -1; }},
        {"year 10000", [](std::tm& t) { t.tm_year = 10000 - 1900; }},
        {"year 99", [](std::tm& t) { t.tm_year = 99 - 1900; }},
        {"huge year", [](std::tm& t) { t.tm_year = std::numeric_limits<int>::max(); }},
    };
    for (const Bad& c : cases)
    {
        std::tm t = calendar(good);
        c.spoil(t);
        double ole = 123.0;
        EXPECT_FALSE(CK7RDateUtils::CTimeToOleTime(&t, &ole)) << c.what;
        EXPECT_EQ(ole, 123.0) << c.what;
    }
    double ole = 0;
    EXPECT_FALSE(CK7RDateUtils::CTimeToOleTime(nullptr, &ole));
    std::tm t = calendar(good);
    EXPECT_FALSE(CK7RDateUtils::CTimeToOleTime(&t, nullptr));
}

TEST_F(SimDates, OleDatesOutsideTheCalendarFailAndLeaveTheRecord)
{
    const double cases[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 2958466.0,  // 10000-01-01
                            2958465.0 + 86399.6 * Second,                         // rounds into 10000
                            -657435.0,                                            // 0099-12-31
                            1e300};
    for (double ole : cases)
    {
        std::tm t{};
        t.tm_mday = 17;
        EXPECT_FALSE(CK7RDateUtils::OleTimeToCTime(ole, &t)) << ole;
        EXPECT_EQ(t.tm_mday, 17) << ole;
    }
    EXPECT_FALSE(CK7RDateUtils::OleTimeToCTime(0.0, nullptr));
}

TEST_F(SimDates, ForcedFailuresAreOneShotAndLeaveTheRecordUntouched)
{
    sim::world().faults().arm("CK7RDateUtils::OleTimeToCTime", sim::FaultKind::False);
    std::tm t{};
    EXPECT_FALSE(CK7RDateUtils::OleTimeToCTime(44398.5, &t));
    EXPECT_EQ(t.tm_mday, 0);
    EXPECT_EQ(t.tm_year, 0);
    EXPECT_TRUE(CK7RDateUtils::OleTimeToCTime(44398.5, &t));
    EXPECT_EQ(t.tm_mday, 21);

    sim::world().faults().arm("CK7RDateUtils::CTimeToOleTime", sim::FaultKind::False, {}, 2);
    double ole = -7.0;
    EXPECT_FALSE(CK7RDateUtils::CTimeToOleTime(&t, &ole));
    EXPECT_FALSE(CK7RDateUtils::CTimeToOleTime(&t, &ole));
    EXPECT_EQ(ole, -7.0);
    EXPECT_TRUE(CK7RDateUtils::CTimeToOleTime(&t, &ole));
    EXPECT_DOUBLE_EQ(ole, 44398.5);
}

}  // namespace
