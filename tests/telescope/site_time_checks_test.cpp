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
    // What the telescope gives back for ":Gt#" after ":St": the typed text.
    for (const char* latitude : {"+45:30", "-90:00", "+00:59"}) {
        const std::string reply = setLatitudeCommand(latitude).substr(4, 6) + "#";
        EXPECT_EQ(normalisedReply(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()), latitude);
    }
    const struct {
        const char *backlash, *product, *command;  // nullptr: none sent
    } backlashes[] = {
        {"07", "LX200", ":$BA07#"}, {"99", "x", ":$BA99#"}, {"7", "LX200", nullptr}, {"07", "", nullptr},
        {"??", "LX200", nullptr}, {"7a", "LX200", nullptr}, {"123", "LX200", nullptr},
    };
    for (const auto& c : backlashes) {
        const auto command = backlashCommand(c.backlash, c.product);
        EXPECT_EQ(command.has_value(), c.command != nullptr) << c.backlash << " " << c.product;
        if (command && c.command) {
            EXPECT_EQ(*command, c.command);
        }
    }
}

TEST(TrackingRate, GetKeepsThePreviousTextForA200ReplyAndSetWantsAWholeOne)
{
    EXPECT_EQ(trackingRateAfterGet("060.1", "2000"), "060.1");
    EXPECT_EQ(trackingRateAfterGet("060.1", "200"), "060.1");
    EXPECT_EQ(trackingRateAfterGet("???.?", "057.9"), "057.9");
    EXPECT_EQ(trackingRateAfterGet("060.1", "20"), "20");
    EXPECT_EQ(trackingRateAfterGet("060.1", ""), "");
    for (const auto& [reply, accepted] : {std::pair{"1", true}, {"10", true}, {"0", false}, {"01", false}, {"", false}})
        EXPECT_EQ(trackingRateAccepted(reply), accepted) << reply;
    // A bare "1" without "#" loses its only byte on the way in.
    const std::uint8_t bare[] = {'1', '#'};
    EXPECT_FALSE(trackingRateAccepted(normalisedReply(bare, 1)));
}

}  // namespace
}  // namespace tarvi
