#include "telescope/sky_flats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvi {

// Found by argument-dependent lookup, so it lives beside the type.
static void PrintTo(const SkyFlatStep& step, std::ostream* os)
{
    *os << static_cast<int>(step.kind) << " \"" << step.command << "\" " << step.milliseconds;
}

namespace {

using Kind = SkyFlatStep::Kind;
using Steps = std::vector<SkyFlatStep>;

SkyFlatStep send(std::string command)
{
    return {Kind::send, std::move(command), 0};
}

SkyFlatStep wait(int ms)
{
    return {Kind::wait, {}, ms};
}

TEST(SkyFlats, LegLengthZeroToTwentySeconds)
{
    for (const auto& [ms, usable] : {std::pair{-1, false}, {0, true}, {1000, true}, {20000, true}, {20001, false}})
        EXPECT_EQ(legLengthUsable(ms), usable) << ms;
}

TEST(SkyFlats, NorthEastSouthWestThenHomeOnLeg201AndEvery201LegsAfter)
{
    SkyFlatPattern pattern("12:34:56", "+45:12:34", 1000);
    const Steps first[] = {
        {send(":Mn#"), send(":Qw#"), wait(1000)}, {send(":Me#"), send(":Qn#"), wait(1000)},
        {send(":Ms#"), send(":Qe#"), wait(1000)}, {send(":Mw#"), send(":Qs#"), wait(1000)},
        {send(":Mn#"), send(":Qw#"), wait(1000)},
    };
    for (const auto& leg : first)
        EXPECT_EQ(pattern.nextLeg(), leg);
    std::vector<int> homeLegs;
    Steps firstHome;
    for (int leg = 6; leg <= 700; ++leg) {
        const auto steps = pattern.nextLeg();
        if (steps.size() > 3) {
            homeLegs.push_back(leg);
            if (firstHome.empty())
                firstHome = steps;
        }
    }
    EXPECT_EQ(homeLegs, (std::vector<int>{201, 402, 603}));
    // The R.A. goes back as read; the declination with the degree sign.
    const Steps home{
        send(":Mn#"), send(":Qw#"), {Kind::sendAndRead, ":Sr12:34:56#", 0}, {Kind::sendAndRead, ":Sd+45\xDF" "12:34#", 0},
        {Kind::slew, ":MS#", 0}, wait(500), wait(1000),
    };
    EXPECT_EQ(firstHome, home);
}

TEST(SkyFlats, NoWaitForZeroMilliseconds)
{
    SkyFlatPattern pattern("00:00:00", "-05:00:00", 0);
    EXPECT_EQ(pattern.nextLeg(), (Steps{send(":Mn#"), send(":Qw#")}));
    for (int leg = 2; leg < 201; ++leg)
        pattern.nextLeg();
    const auto home = pattern.nextLeg();
    ASSERT_FALSE(home.empty());
    EXPECT_EQ(home.back(), wait(500));
}

}  // namespace
}  // namespace tarvi
