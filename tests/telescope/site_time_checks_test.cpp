#include "telescope/site_time_checks.h"

#include <gtest/gtest.h>

#include <string>

#include "telescope/lx200_reply.h"

namespace tarvi {
namespace {

struct TextCase {
    const char* text;
    bool usable;
};

void PrintTo(const TextCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class Latitude : public testing::TestWithParam<TextCase> {};
TEST_P(Latitude, SignTwoDigitsColonTwoDigits)
{
    EXPECT_EQ(latitudeUsable(GetParam().text), GetParam().usable);
    EXPECT_EQ(siteUsable(GetParam().text, "105:00"), GetParam().usable);
}
INSTANTIATE_TEST_SUITE_P(Texts, Latitude,
                         testing::Values(TextCase{"+45:00", true}, TextCase{"-90:00", true},
                                         TextCase{"+00:00", true}, TextCase{"-33:59", true},
                                         TextCase{"+90:59", true}, TextCase{"+91:00", false},
                                         TextCase{"45:00", false}, TextCase{" 45:00", false},
                                         TextCase{"+45:60", false}, TextCase{"+45-00", false},
                                         TextCase{"+4:500", false}, TextCase{"+45:00 ", false},
                                         TextCase{"+45:0", false}, TextCase{"", false}));

class Longitude : public testing::TestWithParam<TextCase> {};
TEST_P(Longitude, ThreeDigitsColonTwoDigits)
{
    EXPECT_EQ(longitudeUsable(GetParam().text), GetParam().usable);
    EXPECT_EQ(siteUsable("+45:00", GetParam().text), GetParam().usable);
    EXPECT_FALSE(siteUsable("45:00", GetParam().text));
}
INSTANTIATE_TEST_SUITE_P(Texts, Longitude,
                         testing::Values(TextCase{"105:00", true}, TextCase{"000:00", true},
                                         TextCase{"000:30", true}, TextCase{"180:59", true},
                                         TextCase{"181:00", true}, TextCase{"359:59", true},
                                         TextCase{"360:00", false}, TextCase{"999:00", false},
                                         TextCase{"-110:00", true}, TextCase{"+180:59", true},
                                         TextCase{"-181:00", false}, TextCase{"-110:60", false},
                                         TextCase{"105:60", false}, TextCase{"105:0", false},
                                         TextCase{"10:500", false}, TextCase{"-10:00", false},
                                         TextCase{"105.00", false}, TextCase{"", false}));

class Date : public testing::TestWithParam<TextCase> {};
TEST_P(Date, MonthDayYear)
{
    EXPECT_EQ(dateUsable(GetParam().text), GetParam().usable);
}
INSTANTIATE_TEST_SUITE_P(Texts, Date,
                         testing::Values(TextCase{"03/15/06", true}, TextCase{"00/00/05", true},
                                         TextCase{"12/31/99", true}, TextCase{"13/01/05", false},
                                         TextCase{"1/15/05", false}, TextCase{"01/32/05", false},
                                         TextCase{"01-15-05", false}, TextCase{"01/15/2005", false},
                                         TextCase{"ab/cd/ef", false}, TextCase{"", false}));

class TypedTime : public testing::TestWithParam<TextCase> {};
TEST_P(TypedTime, HoursMinutesSeconds)
{
    EXPECT_EQ(readTypedTime(GetParam().text).has_value(), GetParam().usable);
}
INSTANTIATE_TEST_SUITE_P(Texts, TypedTime,
                         testing::Values(TextCase{"21:30:00", true}, TextCase{"00:00:00", true},
                                         TextCase{"23:59:59", true}, TextCase{"24:00:00", false},
                                         TextCase{"12:60:00", false}, TextCase{"12:00:60", false},
                                         TextCase{"1:00:00", false}, TextCase{"12:00", false},
                                         TextCase{"12-00-00", false}, TextCase{"12:00:00 ", false},
                                         TextCase{"", false}));

TEST(SiteCommands, DegreeSignInPlaceOfTheColon)
{
    EXPECT_EQ(setLatitudeCommand("+45:30"), ":St +45\xDF" "30#");
    EXPECT_EQ(setLatitudeCommand("-05:07"), ":St -05\xDF" "07#");
    EXPECT_EQ(setLongitudeCommand("105:00"), ":Sg 105\xDF" "00#");
    EXPECT_EQ(setLongitudeCommand("000:30"), ":Sg 000\xDF" "30#");
    // East of Greenwich: as typed westward, or signed with east negative.
    EXPECT_EQ(setLongitudeCommand("250:00"), ":Sg 250\xDF" "00#");
    EXPECT_EQ(setLongitudeCommand("-110:00"), ":Sg 250\xDF" "00#");
    EXPECT_EQ(setLongitudeCommand("-000:30"), ":Sg 359\xDF" "30#");
    EXPECT_EQ(setLongitudeCommand("-000:00"), ":Sg 000\xDF" "00#");
    EXPECT_EQ(setLongitudeCommand("+105:00"), ":Sg 105\xDF" "00#");
    EXPECT_EQ(setLatitudeCommand("+45:30").size(), 11u);
}

TEST(SiteCommands, TheTelescopeEchoReadsAsTyped)
{
    // What the telescope gives back for ":Gt#" after ":St": the typed text.
    for (const char* latitude : {"+45:30", "-90:00", "+00:59"}) {
        const std::string sent = setLatitudeCommand(latitude);
        const std::string reply = sent.substr(4, 6) + "#";
        EXPECT_EQ(normalisedReply(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()), latitude);
    }
}

TEST(DateAndTimeCommands, ByteForByte)
{
    EXPECT_EQ(setDateCommand("03/15/06"), ":SC  03/15/06#");
    EXPECT_EQ(setDateCommand("00/00/05"), ":SC  00/00/05#");
    EXPECT_EQ(setLocalTimeCommand("21:30:00"), ":SL 21:30:00#");
    EXPECT_EQ(setSiderealTimeCommand("07:04:11"), ":SS 07:04:11#");
}

struct BacklashCase {
    const char* backlash;
    const char* product;
    const char* command;  // nullptr: none sent
};

void PrintTo(const BacklashCase& c, std::ostream* os)
{
    *os << '"' << c.backlash << "\" \"" << c.product << '"';
}

class Backlash : public testing::TestWithParam<BacklashCase> {};
TEST_P(Backlash, TwoDigitsAndAProductName)
{
    const auto command = backlashCommand(GetParam().backlash, GetParam().product);
    if (GetParam().command == nullptr)
        EXPECT_EQ(command, std::nullopt);
    else
        EXPECT_EQ(command, GetParam().command);
}
INSTANTIATE_TEST_SUITE_P(Texts, Backlash,
                         testing::Values(BacklashCase{"07", "LX200", ":$BA07#"}, BacklashCase{"99", "x", ":$BA99#"},
                                         BacklashCase{"7", "LX200", nullptr}, BacklashCase{"07", "", nullptr},
                                         BacklashCase{"??", "LX200", nullptr}, BacklashCase{"7a", "LX200", nullptr},
                                         BacklashCase{"123", "LX200", nullptr}));

TEST(TrackingRate, TypedForm)
{
    for (const char* rate : {"060.1", "057.9", "999.9", "000.0"})
        EXPECT_TRUE(trackingRateUsable(rate)) << rate;
    for (const char* rate : {"60.1", "060,1", "060.12", "???.?", "06.01", ""})
        EXPECT_FALSE(trackingRateUsable(rate)) << rate;
    EXPECT_EQ(setTrackingRateCommand("060.1"), ":S060.1#");
}

TEST(TrackingRate, GetKeepsThePreviousTextForA200Reply)
{
    EXPECT_EQ(trackingRateAfterGet("060.1", "2000"), "060.1");
    EXPECT_EQ(trackingRateAfterGet("060.1", "200"), "060.1");
    EXPECT_EQ(trackingRateAfterGet("???.?", "057.9"), "057.9");
    EXPECT_EQ(trackingRateAfterGet("060.1", "20"), "20");
    EXPECT_EQ(trackingRateAfterGet("060.1", ""), "");
}

TEST(TrackingRate, SetReplyRules)
{
    EXPECT_TRUE(trackingRateAccepted("1"));
    EXPECT_TRUE(trackingRateAccepted("10"));
    EXPECT_FALSE(trackingRateAccepted("0"));
    EXPECT_FALSE(trackingRateAccepted("01"));
    EXPECT_FALSE(trackingRateAccepted(""));
    // A bare "1" without "#" loses its only byte on the way in.
    const std::uint8_t bare[] = {'1'};
    EXPECT_FALSE(trackingRateAccepted(normalisedReply(bare, 1)));
    const std::uint8_t whole[] = {'1', '#'};
    EXPECT_TRUE(trackingRateAccepted(normalisedReply(whole, 2)));
}

}  // namespace
}  // namespace tarvi
