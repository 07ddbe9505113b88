#include "telescope/sidereal_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "telescope/lx200_reply.h"
#include "telescope/site_time_checks.h"

namespace tarvi {
namespace {

TEST(JulianDate, PublishedDates)
{
    EXPECT_DOUBLE_EQ(julianDate(2000, 1, 1, 12, 0, 0), 2451545.0);
    EXPECT_DOUBLE_EQ(julianDate(1987, 4, 10, 0, 0, 0), 2446895.5);
    EXPECT_DOUBLE_EQ(julianDate(1999, 1, 1, 0, 0, 0), 2451179.5);
    EXPECT_NEAR(julianDate(1957, 10, 4, 19, 26, 24), 2436116.31, 1e-6);
    EXPECT_DOUBLE_EQ(julianDate(1987, 1, 27, 0, 0, 0), 2446822.5);
    EXPECT_DOUBLE_EQ(julianDate(1988, 6, 19, 12, 0, 0), 2447332.0);
}

TEST(JulianDate, SecondsBeyondTheDayMoveTheDate)
{
    EXPECT_DOUBLE_EQ(julianDate(2006, 3, 15, 21, 30, 5 * 3600), julianDate(2006, 3, 16, 2, 30, 0));
    EXPECT_DOUBLE_EQ(julianDate(2006, 3, 1, 1, 0, -2 * 3600), julianDate(2006, 2, 28, 23, 0, 0));
    EXPECT_DOUBLE_EQ(julianDate(2004, 2, 28, 23, 0, 7200), julianDate(2004, 2, 29, 1, 0, 0));
    EXPECT_DOUBLE_EQ(julianDate(2005, 12, 31, 23, 0, 7200), julianDate(2006, 1, 1, 1, 0, 0));
}

double centuries(double jd)
{
    return (jd - 2451545.0) / 36525.0;
}

TEST(GreenwichSiderealTime, MeeusExamples)
{
    // 12.a: 1987 April 10, 0h UT: 13h10m46.3668s.
    double jd = julianDate(1987, 4, 10, 0, 0, 0);
    EXPECT_NEAR(greenwichSiderealSeconds(jd, centuries(jd)), 13 * 3600 + 10 * 60 + 46.3668, 0.001);
    // 12.b: 19h21m00s UT: 8h34m57.0896s.
    jd = julianDate(1987, 4, 10, 19, 21, 0);
    EXPECT_NEAR(greenwichSiderealSeconds(jd, centuries(jd)), 8 * 3600 + 34 * 60 + 57.0896, 0.001);

    EXPECT_EQ(siderealTime(1987, 4, 10, 0, 0, 0, 0.0, 0), "13:10:46");
    EXPECT_EQ(siderealTime(1987, 4, 10, 19, 21, 0, 0.0, 0), "08:34:57");
}

TEST(GreenwichSiderealTime, AlwaysWithinOneDay)
{
    for (int year = 1900; year <= 2100; year += 7) {
        for (int hour = 0; hour < 24; hour += 5) {
            const double jd = julianDate(year, 1 + hour % 12, 1 + hour, hour, 7, 13);
            const double s = greenwichSiderealSeconds(jd, centuries(jd));
            EXPECT_GE(s, 0.0);
            EXPECT_LT(s, 86400.0);
        }
    }
}

// 1987-04-10 19:21:00 UT, Greenwich 08:34:57.09; half a degree is two minutes.
struct SiteCase {
    const char* longitudeReply;
    const char* sidereal;
};

void PrintTo(const SiteCase& c, std::ostream* os)
{
    *os << '"' << c.longitudeReply << '"';
}

class SiderealAtSite : public testing::TestWithParam<SiteCase> {};

TEST_P(SiderealAtSite, WestIsSubtractedEastAdded)
{
    const auto longitude = readLongitude(GetParam().longitudeReply);
    ASSERT_TRUE(longitude.has_value());
    EXPECT_EQ(siderealTime(1987, 4, 10, 19, 21, 0, *longitude, 0), GetParam().sidereal);
    // The same through the local time of a site seven hours behind.
    EXPECT_EQ(siderealTime(1987, 4, 10, 12, 21, 0, *longitude, 7), GetParam().sidereal);
}

INSTANTIATE_TEST_SUITE_P(Longitudes, SiderealAtSite,
                         testing::Values(SiteCase{"000:00", "08:34:57"}, SiteCase{"000:30", "08:32:57"},
                                         SiteCase{"359:30", "08:36:57"}, SiteCase{"-00:30", "08:36:57"},
                                         SiteCase{"+000:30", "08:32:57"},
                                         // 110 degrees east, both ways the telescope may say it.
                                         SiteCase{"250:00", "15:54:57"}, SiteCase{"-110:00", "15:54:57"},
                                         // 7 h 20 m 00 s west; takes the time below 0.
                                         SiteCase{"130:00", "23:54:57"}, SiteCase{"180:00", "20:34:57"}));

struct LongitudeCase {
    const char* reply;
    std::optional<double> degrees;
};

void PrintTo(const LongitudeCase& c, std::ostream* os)
{
    *os << '"' << c.reply << '"';
}

class LongitudeReply : public testing::TestWithParam<LongitudeCase> {};

TEST_P(LongitudeReply, WestPositive)
{
    const auto degrees = readLongitude(GetParam().reply);
    ASSERT_EQ(degrees.has_value(), GetParam().degrees.has_value());
    if (degrees) {
        EXPECT_NEAR(*degrees, *GetParam().degrees, 1e-12);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LongitudeReply,
    testing::Values(LongitudeCase{"105:00", 105.0}, LongitudeCase{"105:30", 105.5}, LongitudeCase{"000:30", 0.5},
                    LongitudeCase{"359:30", -0.5}, LongitudeCase{"250:00", -110.0}, LongitudeCase{"180:00", 180.0},
                    LongitudeCase{"181:00", -179.0}, LongitudeCase{"-110:00", -110.0},
                    LongitudeCase{"+110:00", 110.0}, LongitudeCase{"-00:30", -0.5}, LongitudeCase{"-000:30", -0.5},
                    LongitudeCase{"+00:00", 0.0}, LongitudeCase{"75*15", 75.25},
                    LongitudeCase{"105:00:00", 105.0}, LongitudeCase{"", std::nullopt},
                    LongitudeCase{"-", std::nullopt}, LongitudeCase{"105", std::nullopt},
                    LongitudeCase{"105:0", std::nullopt}, LongitudeCase{"1050:00", std::nullopt},
                    LongitudeCase{":30", std::nullopt}, LongitudeCase{"abc:de", std::nullopt}));

TEST(UtcOffsetReply, SignedDecimalInteger)
{
    EXPECT_EQ(readUtcOffset("+05"), 5);
    EXPECT_EQ(readUtcOffset("-05"), -5);
    EXPECT_EQ(readUtcOffset("05"), 5);
    EXPECT_EQ(readUtcOffset("-05.0"), -5);
    EXPECT_EQ(readUtcOffset(" -8"), -8);
    EXPECT_EQ(readUtcOffset("-00"), 0);
    EXPECT_EQ(readUtcOffset("+24"), 24);
    EXPECT_EQ(readUtcOffset(""), std::nullopt);
    EXPECT_EQ(readUtcOffset("+"), std::nullopt);
    EXPECT_EQ(readUtcOffset("x5"), std::nullopt);
    EXPECT_EQ(readUtcOffset("+25"), std::nullopt);
    EXPECT_EQ(readUtcOffset("99999999999999999999"), std::nullopt);
}

TEST(TelescopeDate, MonthDayAndTwoDigitYear)
{
    EXPECT_EQ(readTelescopeDate("03/15/06"), (CalendarDate{2006, 3, 15}));
    EXPECT_EQ(readTelescopeDate("12/31/99"), (CalendarDate{2099, 12, 31}));
    EXPECT_EQ(readTelescopeDate("3/15/06"), std::nullopt);
    EXPECT_EQ(readTelescopeDate("03/15/0"), std::nullopt);
    EXPECT_EQ(readTelescopeDate(""), std::nullopt);
}

std::string bytesReply(const std::string& received)
{
    return normalisedReply(reinterpret_cast<const std::uint8_t*>(received.data()), received.size());
}

TEST(SetTime, SiderealTimeSentAfterTheLocalTime)
{
    // 21:30:00 on 03/15/06, five hours to universal time, 105 degrees west:
    // the time for 2006-03-16 02:30:00 UT.
    const auto typed = readTypedTime("21:30:00");
    ASSERT_TRUE(typed.has_value());
    const auto offset = readUtcOffset(bytesReply("+05#"));
    ASSERT_TRUE(offset.has_value());
    const auto sidereal = siderealTimeToSet(*typed, bytesReply("03/15/06#"), *offset, bytesReply("105\xDF" "00#"));
    ASSERT_TRUE(sidereal.has_value());
    EXPECT_EQ(setLocalTimeCommand("21:30:00"), ":SL 21:30:00#");
    EXPECT_EQ(setSiderealTimeCommand(*sidereal), ":SS 07:04:11#");
    EXPECT_EQ(*sidereal, siderealTime(2006, 3, 16, 2, 30, 0, 105.0, 0));
}

TEST(SetTime, NoSiderealTimeFromUnreadableReplies)
{
    const ClockTime typed{21, 30, 0};
    EXPECT_EQ(siderealTimeToSet(typed, "", 5, "105:00"), std::nullopt);
    EXPECT_EQ(siderealTimeToSet(typed, "03/15/06", 5, ""), std::nullopt);
    EXPECT_EQ(siderealTimeToSet(typed, "03/15/06", 0, "250:00"),
              siderealTimeToSet(typed, "03/15/06", 0, "-110:00"));
}

TEST(ClockTimeText, FormatAndReadBackEverySecondOfTheDay)
{
    for (int s = 0; s < 86400; ++s) {
        const ClockTime t{s / 3600, s / 60 % 60, s % 60};
        const std::string text = formatClockTime(t.hour, t.minute, t.second);
        ASSERT_EQ(text.size(), 8u) << text;
        ASSERT_EQ(readTypedTime(text), t) << text;
    }
}

}  // namespace
}  // namespace tarvi
