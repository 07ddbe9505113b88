#include "telescope/coordinates.h"

#include <gtest/gtest.h>

#include <string>

#include "telescope/lx200_reply.h"
#include "telescope/site_time_checks.h"

namespace tarvi {
namespace {

struct MotionCase {
    const char* ra;
    const char* dec;
    bool missing;
    bool raUsable;
    bool decUsable;
};

void PrintTo(const MotionCase& c, std::ostream* os)
{
    *os << '"' << c.ra << "\" \"" << c.dec << '"';
}

class MotionPageCheck : public testing::TestWithParam<MotionCase> {};

TEST_P(MotionPageCheck, UsableTextsAndMessages)
{
    const MotionCase& c = GetParam();
    const MotionPageCoordinates check = validateMotionPageCoordinates(c.ra, c.dec);
    EXPECT_EQ(check.missing, c.missing);
    EXPECT_EQ(check.raUsable, c.raUsable);
    EXPECT_EQ(check.decUsable, c.decUsable);
    EXPECT_EQ(check.usable(), c.raUsable && c.decUsable);

    std::vector<std::string_view> expected;
    if (c.missing)
        expected.push_back("You must enter RA and DEC coordinates");
    if (!c.raUsable)
        expected.push_back("Please re-enter RA in correct format.\n(Hours are from 0 to 23,\n Minutes are from 0 to 59,"
                           "\n Seconds are from 0 to 59)");
    if (!c.decUsable)
        expected.push_back("Please re-enter Dec in correct format.\n(Degrees are from 0 to 90,\n Minutes are from 0 "
                           "to 59,\n Seconds 0-59)");
    EXPECT_EQ(check.messages(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MotionPageCheck,
    testing::Values(MotionCase{"12:34:56", "+45:12:34", false, true, true},
                    MotionCase{"00:00:00", "-90:00:00", false, true, true},
                    MotionCase{"23:59:59", "+00:59:59", false, true, true},
                    MotionCase{"24:00:00", "+45:00:00", false, false, true},
                    MotionCase{"12:00:00", "+95:00:00", false, true, false},
                    MotionCase{"12:60:00", "+45:00:00", false, false, true},
                    MotionCase{"12:00:60", "+45:00:00", false, false, true},
                    MotionCase{"ab:cd:ef", "+45:00:00", false, false, true},
                    MotionCase{"12-34-56", "+45:00:00", false, false, true},
                    MotionCase{"12:00:00", "+45:60:00", false, true, false},
                    MotionCase{"12:00:00", "+45:00:60", false, true, false},
                    MotionCase{"12:00:00", "*45:00:00", false, true, false},
                    MotionCase{"12:00:00", "45:00:00 ", false, true, false},
                    // A length is wrong: only lengths count, for both texts.
                    MotionCase{"12:34", "+95:00:00", false, false, true},
                    MotionCase{"12:34", "+45:00", false, false, false},
                    MotionCase{"99:99:99", "+45:00", false, true, false},
                    MotionCase{"", "", true, false, false},
                    MotionCase{"12:34:56", "", true, true, false},
                    MotionCase{"", "+45:00:00", true, false, true}));

TEST(ObjectsPageCheck, ItsOwnRanges)
{
    EXPECT_TRUE(validateObjectsPageCoordinates("12:34:56", "+45:12:34"));
    EXPECT_TRUE(validateObjectsPageCoordinates("24:00:00", "+45:00:00"));
    EXPECT_TRUE(validateObjectsPageCoordinates("00:00:00", "-99:59:59"));
    EXPECT_FALSE(validateObjectsPageCoordinates("25:00:00", "+45:00:00"));
    EXPECT_FALSE(validateObjectsPageCoordinates("12:60:00", "+45:00:00"));
    EXPECT_FALSE(validateObjectsPageCoordinates("12:00:60", "+45:00:00"));
    EXPECT_FALSE(validateObjectsPageCoordinates("12:34", "+45:00:00"));
    EXPECT_FALSE(validateObjectsPageCoordinates("12:00:00", "+45:60:00"));
    EXPECT_FALSE(validateObjectsPageCoordinates("12:00:00", "+45:00:60"));
    EXPECT_FALSE(validateObjectsPageCoordinates("12:00:00", "45:00:00 "));
    EXPECT_FALSE(validateObjectsPageCoordinates("12:00:00", "+45:00"));
    EXPECT_FALSE(validateObjectsPageCoordinates("", ""));
}

TEST(SubtractOneSecond, Borrows)
{
    EXPECT_EQ(subtractOneSecond("00:00:00"), "23:59:59");
    EXPECT_EQ(subtractOneSecond("12:34:56"), "12:34:55");
    EXPECT_EQ(subtractOneSecond("12:00:00"), "11:59:59");
    EXPECT_EQ(subtractOneSecond("12:01:00"), "12:00:59");
    EXPECT_EQ(subtractOneSecond("24:00:00"), "23:59:59");
    EXPECT_EQ(subtractOneSecond("5:6:7"), "05:06:06");
    EXPECT_EQ(subtractOneSecond(""), std::nullopt);
    EXPECT_EQ(subtractOneSecond("12:34"), std::nullopt);
    EXPECT_EQ(subtractOneSecond("aa:bb:cc"), std::nullopt);
}

TEST(SubtractOneSecond, EverySecondOfTheDayGivesTheOneBefore)
{
    for (int s = 0; s < 86400; ++s) {
        const std::string ra = formatClockTime(s / 3600, s / 60 % 60, s % 60);
        const auto earlier = subtractOneSecond(ra);
        ASSERT_TRUE(earlier.has_value()) << ra;
        const auto back = readTypedTime(*earlier);
        ASSERT_TRUE(back.has_value()) << *earlier;
        ASSERT_EQ(back->hour * 3600 + back->minute * 60 + back->second, (s + 86399) % 86400) << ra;
    }
}

TEST(GoToCommands, ByteForByte)
{
    EXPECT_EQ(targetRaCommand("00:00:00"), ":Sr23:59:59#");
    EXPECT_EQ(targetRaCommand("12:34:56"), ":Sr12:34:55#");
    EXPECT_EQ(targetRaCommand("12:34"), std::nullopt);
    EXPECT_EQ(targetDecCommand("+22:00:52"), ":Sd+22\xDF" "00:52#");
    EXPECT_EQ(targetDecCommand("-05:23:14"), ":Sd-05\xDF" "23:14#");
    EXPECT_EQ(declinationToSend("+45:12"), "+45\xDF" "12");
    EXPECT_EQ(declinationToSend("+45"), "+45");
}

std::string normalised(const std::string& received)
{
    return normalisedReply(reinterpret_cast<const std::uint8_t*>(received.data()), received.size());
}

TEST(GoToCommands, DeclinationRoundTripThroughTheTelescope)
{
    // The telescope answers ":GD#" with what ":Sd" set, its degree sign and all.
    for (const char* dec : {"+22:00:52", "-89:59:59", "+00:00:00"}) {
        const std::string sent = targetDecCommand(dec);
        EXPECT_EQ(normalised(sent.substr(3)), dec);
    }
    const std::string reply = "+22\xDF" "00:52#";
    EXPECT_EQ(normalised(reply), "+22:00:52");
    EXPECT_EQ(targetDecCommand(normalised(reply)), ":Sd" + reply);
}

TEST(SlewReply, MotionAndSkyFlatsPages)
{
    EXPECT_EQ(slewRefusalMessage("1"), "Coordinates point to location below horizon - Canceled");
    EXPECT_EQ(slewRefusalMessage("1Object below horizon"), "Coordinates point to location below horizon - Canceled");
    EXPECT_EQ(slewRefusalMessage("2"), "Coordinates point to location below higher limit - Canceled");
    EXPECT_EQ(slewRefusalMessage("0"), std::nullopt);
    EXPECT_EQ(slewRefusalMessage(""), std::nullopt);
    EXPECT_EQ(slewRefusalMessage("3"), std::nullopt);
}

TEST(SlewReply, ObjectsPageShowsTheTelescopesText)
{
    EXPECT_EQ(objectsPageSlewRefusal("1Object Below Horizon"), "Object Below Horizon");
    EXPECT_EQ(objectsPageSlewRefusal("2Object Below Higher"), "Object Below Higher");
    EXPECT_EQ(objectsPageSlewRefusal("1"), "");
    EXPECT_EQ(objectsPageSlewRefusal("0"), std::nullopt);
    EXPECT_EQ(objectsPageSlewRefusal("0Slewing"), std::nullopt);
    EXPECT_EQ(objectsPageSlewRefusal(""), std::nullopt);
}

}  // namespace
}  // namespace tarvi
