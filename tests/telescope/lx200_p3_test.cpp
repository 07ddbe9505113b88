// The sky-flats page against a scripted telescope, with a clock that does not
// wait.
#include "telescope/lx200_p3.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "telescope/scripted_telescope.h"

namespace tarvi {
namespace {

using test::joined;
using test::Strings;

class SkyFlatsPageTest : public ::testing::Test, protected test::ScriptedTelescope {
protected:
    LX200P3 page{ui, clock, line};

    void SetUp() override
    {
        replies = {{":GR#", {"05:35:17#"}}, {":GD#", {"-05\xDF" "23:28#"}}, {":MS#", {"0"}}};
        ui.clock = &clock;
        page.setPort(addPort());
    }
    // Ends the run at the message step after that many legs: the refresh
    // before each leg, and the one of the stop before the run, have gone out.
    void pressAfterLegs(int legs)
    {
        ui.onLook = [this, legs] {
            const auto refreshes = std::count(script->writes.begin(), script->writes.end(), test::bytesOf(":GR#"));
            return InputSeen{.leftButtonPressed = refreshes >= legs + 2};
        };
    }
};

const Strings stopAll{":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#", ":GR#", ":GD#"};

TEST_F(SkyFlatsPageTest, RunDriftsNorthEastSouthWestUntilTheButtonIsPressed)
{
    page.millisecondsEdit()->setText("1000");
    pressAfterLegs(5);
    page.onStart();
    const auto expected = joined({stopAll, {":RC#"}, {":GR#", ":GD#", ":Mn#", ":Qw#"}, {":GR#", ":GD#", ":Me#", ":Qn#"},
                                  {":GR#", ":GD#", ":Ms#", ":Qe#"}, {":GR#", ":GD#", ":Mw#", ":Qs#"},
                                  {":GR#", ":GD#", ":Mn#", ":Qw#"},
                                  {":GR#", ":GD#"},  // the press arrives after this refresh
                                  stopAll,
                                  {":GR#", ":GD#"},  // once more, before the guiding rate
                                  {":RG#"}});
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(clock.waits, (std::vector<std::int64_t>{500, 1000, 1000, 1000, 1000, 1000, 500}));
    EXPECT_EQ(page.raEdit()->text(), "05:35:17");
    EXPECT_EQ(page.decEdit()->text(), "-05:23:28");
}

TEST_F(SkyFlatsPageTest, EveryTwoHundredAndFirstLegReturnsHomeAsReadAtTheStartAndARefusalIsSaid)
{
    replies[":MS#"] = {"1Below#"};
    page.millisecondsEdit()->setText("0");
    pressAfterLegs(402);
    page.onStart();
    // The telescope drifted meanwhile; home is where the run began.
    const Strings home{":Sr05:35:17#", ":Sd-05\xDF" "23:28#", ":MS#"};
    std::vector<std::size_t> homes;
    const auto traffic = sent();
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        if (traffic[i] == home[0]) {
            homes.push_back(i);
            EXPECT_EQ(Strings(traffic.begin() + long(i), traffic.begin() + long(i) + 3), home);
        }
    }
    // 8 commands before the first leg, 4 a leg: the 201st and the 402nd legs go home.
    ASSERT_EQ(homes.size(), 2u);
    EXPECT_EQ(homes[0], 8 + 201 * 4);
    EXPECT_EQ(homes[1], 8 + 402 * 4 + 3);
    EXPECT_EQ(clock.waits, std::vector<std::int64_t>(4, 500)) << "two stops, two returns, no wait for legs of 0 ms";
    // The run goes on past a refused return.
    EXPECT_EQ(ui.boxTexts(), Strings(2, "Coordinates point to location below horizon - Canceled"));
    EXPECT_EQ(traffic.back(), ":RG#");
}

TEST_F(SkyFlatsPageTest, LegLengthOutOfRangeOrNoPortStartsNoRunASilentTelescopeIsSaidAndLeavingStopsEveryMotion)
{
    page.millisecondsEdit()->setText("20001");
    page.onStart();
    EXPECT_EQ(ui.boxTexts(), Strings{"Please enter an integer between 0 and 20000."});
    EXPECT_TRUE(script->writes.empty());
    page.millisecondsEdit()->setText("20000");
    pressAfterLegs(1);
    page.onStart();
    EXPECT_EQ(clock.waits, (std::vector<std::int64_t>{500, 20000, 500}));

    forget();
    replies.clear();
    page.onSetActive();
    ASSERT_EQ(ui.boxTexts(), Strings{"Telescope not responding"});
    EXPECT_EQ(ui.boxes[0].caption, "ERROR");
    EXPECT_TRUE(ui.boxes[0].style.setForeground);
    forget();
    page.onKillActive();
    EXPECT_EQ(sent(), stopAll);

    forget();
    page.setPort(PortTable::closed);
    page.onStart();
    EXPECT_TRUE(script->writes.empty());
    page.onStop();
    EXPECT_EQ(ui.boxTexts(), Strings{"Telescope port is not open."});
}

}  // namespace
}  // namespace tarvi
