#include "telescope/sidereal_time.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "telescope/lx200_reply.h"
#include "telescope/site_time_checks.h"

namespace tarvi {
namespace {

TEST(JulianDate, PublishedDatesAndSecondsBeyondTheDay)
{
    EXPECT_DOUBLE_EQ(julianDate(2000, 1, 1, 12, 0, 0), 2451545.0);
    EXPECT_DOUBLE_EQ(julianDate(1987, 4, 10, 0, 0, 0), 2446895.5);
    EXPECT_NEAR(julianDate(1957, 10, 4, 19, 26, 24), 2436116.31, 1e-6);
    EXPECT_DOUBLE_EQ(julianDate(1988, 6, 19, 12, 0, 0), 2447332.0);
    EXPECT_DOUBLE_EQ(julianDate(2006, 3, 1, 1, 0, -2 * 3600), julianDate(2006, 2, 28, 23, 0, 0));
    EXPECT_DOUBLE_EQ(julianDate(2004, 2, 28, 23, 0, 7200), julianDate(2004, 2, 29, 1, 0, 0));
    EXPECT_DOUBLE_EQ(julianDate(2005, 12, 31, 23, 0, 7200), julianDate(2006, 1, 1, 1, 0, 0));
}

double centuries(double jd)
{
    return (jd - 2451545.0) / 36525.0;
}

TEST(GreenwichSiderealTime, PublishedExamplesAndAlwaysWithinOneDay)
{
    // 1987 April 10, 0h UT: 13h10m46.3668s; 19h21m00s UT: 8h34m57.0896s.
    double jd = julianDate(1987, 4, 10, 0, 0, 0);
    EXPECT_NEAR(greenwichSiderealSeconds(jd, centuries(jd)), 13 * 3600 + 10 * 60 + 46.3668, 0.001);
    jd = julianDate(1987, 4, 10, 19, 21, 0);
    EXPECT_NEAR(greenwichSiderealSeconds(jd, centuries(jd)), 8 * 3600 + 34 * 60 + 57.0896, 0.001);
    EXPECT_EQ(siderealTime(1987, 4, 10, 0, 0, 0, 0.0, 0), "13:10:46");
    for (int year = 1900; year <= 2100; year += 7) {
        for (int hour = 0; hour < 24; hour += 5) {
            jd = julianDate(year, 1 + hour % 12, 1 + hour, hour, 7, 13);
            const double s = greenwichSiderealSeconds(jd, centuries(jd));
            EXPECT_GE(s, 0.0);
            EXPECT_LT(s, 86400.0);
        }
    }
}

TEST(SiderealTime, WestIsSubtractedEastAddedAsTheTelescopeSaysIt)
{
    // 1987-04-10 19:21:00 UT, Greenwich 08:34:57.09; half a degree is two minutes.
    const std::pair<const char*, const char*> cases[] = {
        {"000:00", "08:34:57"}, {"000:30", "08:32:57"}, {"359:30", "08:36:57"}, {"-00:30", "08:36:57"},
        {"+000:30", "08:32:57"}, {"250:00", "15:54:57"}, {"-110:00", "15:54:57"},  // 110 degrees east, both ways
        {"130:00", "23:54:57"}, {"180:00", "20:34:57"},  // below 0 h, and round
    };
    for (const auto& [reply, sidereal] : cases) {
        const auto longitude = readLongitude(reply);
        ASSERT_TRUE(longitude.has_value()) << reply;
        EXPECT_EQ(siderealTime(1987, 4, 10, 19, 21, 0, *longitude, 0), sidereal) << reply;
        // The same through the local time of a site seven hours behind.
        EXPECT_EQ(siderealTime(1987, 4, 10, 12, 21, 0, *longitude, 7), sidereal) << reply;
    }
}

TEST(TelescopeReplies, LongitudeWestPositiveOffsetAndDate)
{
    const std::pair<const char*, std::optional<double>> longitudes[] = {
        {"105:30", 105.5}, {"359:30", -0.5}, {"180:00", 180.0}, {"181:00", -179.0}, {"+110:00", 110.0},
        {"-000:30", -0.5}, {"75*15", 75.25}, {"105:00:00", 105.0}, {"", std::nullopt}, {"-", std::nullopt},
        {"105", std::nullopt}, {"105:0", std::nullopt}, {"1050:00", std::nullopt}, {":30", std::nullopt},
    };
    for (const auto& [reply, degrees] : longitudes) {
        const auto read = readLongitude(reply);
        ASSERT_EQ(read.has_value(), degrees.has_value()) << reply;
        if (read) {
            EXPECT_NEAR(*read, *degrees, 1e-12) << reply;
        }
    }
    const std::pair<const char*, std::optional<int>> offsets[] = {
        {"05", 5}, {"-05.0", -5}, {" -8", -8}, {"+24", 24}, {"-24", -24}, {"", std::nullopt}, {"+", std::nullopt},
        {"x5", std::nullopt}, {"+25", std::nullopt}, {"-25", std::nullopt}, {"99999999999999999999", std::nullopt},
    };
    for (const auto& [reply, hours] : offsets)
        EXPECT_EQ(readUtcOffset(reply), hours) << reply;
    EXPECT_EQ(readTelescopeDate("03/15/06"), (CalendarDate{2006, 3, 15}));
    EXPECT_EQ(readTelescopeDate("12/31/99"), (CalendarDate{2099, 12, 31}));
    for (const char* date : {"3/15/06", "03/15/0", ""})
        EXPECT_EQ(readTelescopeDate(date), std::nullopt) << date;
}

}  // namespace
}  // namespace tarvi
