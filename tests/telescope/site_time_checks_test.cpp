// The site, date, time and tracking texts the site and time page checks,
// sends and reads back, and the sidereal time it computes from them.
#include "telescope/site_time_checks.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "telescope/lx200_reply.h"
#include "telescope/sidereal_time.h"

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

TEST(GreenwichSiderealTime, PublishedExamples)
{
    const auto seconds = [](int hour, int minute) {
        const double jd = julianDate(1987, 4, 10, hour, minute, 0);
        return greenwichSiderealSeconds(jd, (jd - 2451545.0) / 36525.0);
    };
    // 1987 April 10, 0h UT: 13h10m46.3668s; 19h21m00s UT: 8h34m57.0896s.
    EXPECT_NEAR(seconds(0, 0), 13 * 3600 + 10 * 60 + 46.3668, 0.001);
    EXPECT_NEAR(seconds(19, 21), 8 * 3600 + 34 * 60 + 57.0896, 0.001);
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
    const std::pair<const char*, std::optional<CalendarDate>> dates[] = {
        {"03/15/06", CalendarDate{2006, 3, 15}}, {"12/31/99", CalendarDate{2099, 12, 31}},
        {"3/15/06", std::nullopt}, {"03/15/0", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [reply, date] : dates)
        EXPECT_EQ(readTelescopeDate(reply), date) << reply;
}

struct TextCase {
    const char* text;
    bool usable;
};

TEST(SiteTimeChecks, TypedTextsTheTelescopeMayBeSent)
{
    const TextCase latitudes[] = {
        {"-90:00", true}, {"+00:00", true}, {"+90:59", true}, {"+91:00", false}, {"45:00", false}, {"+45:60", false},
        {"+45-00", false}, {"+4:500", false}, {"+45:00 ", false}, {"+45:0", false}, {"", false},
    };
    for (const auto& c : latitudes) {
        EXPECT_EQ(latitudeUsable(c.text), c.usable) << c.text;
        EXPECT_EQ(siteUsable(c.text, "105:00"), c.usable) << c.text;
    }
    const TextCase longitudes[] = {
        {"000:00", true}, {"181:00", true}, {"359:59", true}, {"360:00", false}, {"-110:00", true}, {"+180:59", true},
        {"-181:00", false}, {"-110:60", false}, {"105:60", false}, {"105:0", false}, {"10:500", false},
        {"-10:00", false}, {"105.00", false}, {"", false},
    };
    for (const auto& c : longitudes) {
        EXPECT_EQ(longitudeUsable(c.text), c.usable) << c.text;
        EXPECT_EQ(siteUsable("+45:00", c.text), c.usable) << c.text;
        EXPECT_FALSE(siteUsable("45:00", c.text)) << c.text;
    }
    const TextCase dates[] = {
        {"00/00/05", true}, {"12/31/99", true}, {"13/01/05", false}, {"1/15/05", false}, {"01/32/05", false},
        {"01-15-05", false}, {"01/15/2005", false}, {"ab/cd/ef", false},
    };
    for (const auto& c : dates)
        EXPECT_EQ(dateUsable(c.text), c.usable) << c.text;
    const TextCase times[] = {
        {"00:00:00", true}, {"23:59:59", true}, {"24:00:00", false}, {"12:60:00", false}, {"12:00:60", false},
        {"1:00:00", false}, {"12:00", false}, {"12-00-00", false}, {"12:00:00 ", false},
    };
    for (const auto& c : times)
        EXPECT_EQ(readTypedTime(c.text).has_value(), c.usable) << c.text;
    const TextCase rates[] = {
        {"999.9", true}, {"000.0", true}, {"60.1", false}, {"060,1", false}, {"060.12", false}, {"06.01", false},
    };
    for (const auto& c : rates)
        EXPECT_EQ(trackingRateUsable(c.text), c.usable) << c.text;
}

TEST(SiteTimeChecks, CommandsByteForByte)
{
    const std::pair<std::string, std::string> cases[] = {
        {setLatitudeCommand("-05:07"), ":St -05\xDF" "07#"}, {setLongitudeCommand("000:30"), ":Sg 000\xDF" "30#"},
        // East of Greenwich: as typed westward, or signed with east negative.
        {setLongitudeCommand("250:00"), ":Sg 250\xDF" "00#"}, {setLongitudeCommand("-110:00"), ":Sg 250\xDF" "00#"},
        {setLongitudeCommand("-000:30"), ":Sg 359\xDF" "30#"}, {setLongitudeCommand("-000:00"), ":Sg 000\xDF" "00#"},
        {setLongitudeCommand("+105:00"), ":Sg 105\xDF" "00#"}, {setDateCommand("03/15/06"), ":SC  03/15/06#"},
        {setLocalTimeCommand("21:30:00"), ":SL 21:30:00#"}, {setSiderealTimeCommand("07:04:11"), ":SS 07:04:11#"},
        {setTrackingRateCommand("060.1"), ":S060.1#"},
    };
    for (const auto& [command, bytes] : cases)
        EXPECT_EQ(command, bytes);
    // Two digits and a product name, or nothing is sent.
    const std::tuple<const char*, const char*, std::optional<std::string>> backlashes[] = {
        {"07", "LX200", ":$BA07#"}, {"99", "x", ":$BA99#"}, {"7", "LX200", std::nullopt}, {"07", "", std::nullopt},
        {"??", "LX200", std::nullopt}, {"7a", "LX200", std::nullopt}, {"123", "LX200", std::nullopt},
    };
    for (const auto& [backlash, product, command] : backlashes)
        EXPECT_EQ(backlashCommand(backlash, product), command) << backlash << " " << product;
}

TEST(TrackingRate, GetKeepsThePreviousTextForA200ReplyAndSetWantsAWholeOne)
{
    const std::tuple<const char*, const char*, const char*> gets[] = {
        {"060.1", "2000", "060.1"}, {"060.1", "200", "060.1"}, {"???.?", "057.9", "057.9"},
        {"060.1", "20", "20"}, {"060.1", "", ""},
    };
    for (const auto& [previous, reply, shown] : gets)
        EXPECT_EQ(trackingRateAfterGet(previous, reply), shown) << reply;
    for (const auto& [reply, accepted] : {std::pair{"1", true}, {"10", true}, {"0", false}, {"01", false}, {"", false}})
        EXPECT_EQ(trackingRateAccepted(reply), accepted) << reply;
}

}  // namespace
}  // namespace tarvi
