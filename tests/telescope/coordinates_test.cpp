#include "telescope/coordinates.h"

#include <gtest/gtest.h>

#include <string>

#include "telescope/sidereal_time.h"

namespace tarvi {
namespace {

TEST(MotionPageCheck, UsableTextsAndMessages)
{
    const std::string_view missing = "You must enter RA and DEC coordinates";
    const std::string_view badRa = "Please re-enter RA in correct format.\n(Hours are from 0 to 23,\n Minutes are from "
                                   "0 to 59,\n Seconds are from 0 to 59)";
    const std::string_view badDec = "Please re-enter Dec in correct format.\n(Degrees are from 0 to 90,\n Minutes are "
                                    "from 0 to 59,\n Seconds 0-59)";
    const struct {
        const char *ra, *dec;
        bool missing, raUsable, decUsable;
    } cases[] = {
        {"00:00:00", "-90:00:00", false, true, true},  {"23:59:59", "+00:59:59", false, true, true},
        {"24:00:00", "+45:00:00", false, false, true}, {"12:00:00", "+95:00:00", false, true, false},
        {"12:60:00", "+45:00:00", false, false, true}, {"12:00:60", "+45:00:00", false, false, true},
        {"12-34-56", "+45:00:00", false, false, true}, {"12:00:00", "+45:60:00", false, true, false},
        {"12:00:00", "+45:00:60", false, true, false}, {"12:00:00", "*45:00:00", false, true, false},
        // A length is wrong: only lengths count, for both texts.
        {"12:34", "+95:00:00", false, false, true},    {"12:34", "+45:00", false, false, false},
        {"99:99:99", "+45:00", false, true, false},    {"", "", true, false, false},
        {"12:34:56", "", true, true, false},           {"", "+45:00:00", true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ra) + " " + c.dec);
        const MotionPageCoordinates check = validateMotionPageCoordinates(c.ra, c.dec);
        EXPECT_EQ(check.missing, c.missing);
        EXPECT_EQ(check.raUsable, c.raUsable);
        EXPECT_EQ(check.decUsable, c.decUsable);
        EXPECT_EQ(check.usable(), c.raUsable && c.decUsable);
        std::vector<std::string_view> expected;
        if (c.missing)
            expected.push_back(missing);
        if (!c.raUsable)
            expected.push_back(badRa);
        if (!c.decUsable)
            expected.push_back(badDec);
        EXPECT_EQ(check.messages(), expected);
    }
}

TEST(ObjectsPageCheck, ItsOwnRanges)
{
    const struct {
        const char *ra, *dec;
        bool usable;
    } cases[] = {
        {"24:00:00", "+45:00:00", true},  {"00:00:00", "-99:59:59", true},  {"25:00:00", "+45:00:00", false},
        {"12:60:00", "+45:00:00", false}, {"12:00:60", "+45:00:00", false}, {"12:34", "+45:00:00", false},
        {"12:00:00", "+45:60:00", false}, {"12:00:00", "+45:00:60", false}, {"12:00:00", "+45:00", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(validateObjectsPageCoordinates(c.ra, c.dec), c.usable) << c.ra << " " << c.dec;
}

TEST(SubtractOneSecond, BorrowsForEverySecondOfTheDay)
{
    EXPECT_EQ(subtractOneSecond("24:00:00"), "23:59:59");
    EXPECT_EQ(subtractOneSecond("5:6:7"), "05:06:06");
    for (const char* unreadable : {"", "12:34", "aa:bb:cc"})
        EXPECT_EQ(subtractOneSecond(unreadable), std::nullopt) << unreadable;
    for (int s = 0; s < 86400; ++s) {
        const int earlier = (s + 86399) % 86400;
        ASSERT_EQ(subtractOneSecond(formatClockTime(s / 3600, s / 60 % 60, s % 60)),
                  formatClockTime(earlier / 3600, earlier / 60 % 60, earlier % 60))
            << s;
    }
}

TEST(GoToCommands, ByteForByte)
{
    EXPECT_EQ(targetRaCommand("12:34:56"), ":Sr12:34:55#");
    EXPECT_EQ(targetRaCommand("12:34"), std::nullopt);
    EXPECT_EQ(targetDecCommand("-05:23:14"), ":Sd-05\xDF" "23:14#");
    EXPECT_EQ(declinationToSend("+45:12"), "+45\xDF" "12");
    EXPECT_EQ(declinationToSend("+45"), "+45");
}

TEST(SlewReply, MotionAndSkyFlatsPagesSayWhyObjectsPageShowsTheTelescopesText)
{
    const std::string horizon = "Coordinates point to location below horizon - Canceled";
    const std::pair<const char*, std::optional<std::string>> motion[] = {
        {"1", horizon}, {"1Object below horizon", horizon},
        {"2", "Coordinates point to location below higher limit - Canceled"},
        {"0", std::nullopt}, {"", std::nullopt}, {"3", std::nullopt},
    };
    for (const auto& [reply, message] : motion)
        EXPECT_EQ(slewRefusalMessage(reply), message) << reply;
    const std::pair<const char*, std::optional<std::string>> objects[] = {
        {"1Object Below Horizon", "Object Below Horizon"}, {"2Object Below Higher", "Object Below Higher"},
        {"1", ""}, {"0", std::nullopt}, {"0Slewing", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [reply, message] : objects)
        EXPECT_EQ(objectsPageSlewRefusal(reply), message) << reply;
}

}  // namespace
}  // namespace tarvi
