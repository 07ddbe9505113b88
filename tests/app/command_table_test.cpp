#include "app/command_router.h"
#include "app/command_table.h"

#include <gtest/gtest.h>

#include <set>

namespace tarvi {
namespace {

TEST(CommandTable, IdentifiersAreUniqueAndEveryMenuItemIsInTheTable)
{
    std::set<int> ids;
    for (const Command& command : commandTable())
        EXPECT_TRUE(ids.insert(command.id).second) << command.id;
    for (int menu : {menuNoDocument, menuDocument}) {
        for (const MenuDef& def : menuLayout(menu)) {
            for (int id : def.items)
                EXPECT_TRUE(id == cmd::separator || findCommand(id) != nullptr) << id;
        }
    }
    EXPECT_EQ(findCommand(12345), nullptr);
    EXPECT_TRUE(menuLayout(130).empty());
    EXPECT_EQ(menuItemAccelerator(*findCommand(cmd::fileOpen)), "Ctrl+O");
    EXPECT_EQ(menuItemAccelerator(*findCommand(cmd::appExit)), "");
}

// The other device stays usable, and so does everything else; Setup
// Communications names the camera first when both are at work.
TEST(CommandTable, ABusyDeviceRefusesWhatWouldPullItFromUnderItsWork)
{
    const std::string_view cam = cameraBusyMessage, tel = telescopeBusyMessage, none;
    const struct {
        Handler handler;
        std::string_view cameraBusy, telescopeBusy, bothBusy;
    } cases[] = {
        {Handler::setupComm, cam, tel, cam},          {Handler::setupCamera, cam, none, cam},
        {Handler::loadDarkFrame, cam, none, cam},     {Handler::captureImage, cam, none, cam},
        {Handler::captureDarkFrame, cam, none, cam},  {Handler::autoShoot, cam, none, cam},
        {Handler::showDarkFrame, cam, none, cam},     {Handler::lx200Controls, none, tel, tel},
        {Handler::fileOpen, none, none, none},        {Handler::autoshootSetup, none, none, none},
    };
    for (const auto& c : cases) {
        const int h = static_cast<int>(c.handler);
        EXPECT_EQ(busyRefusal(c.handler, {}), none) << h;
        EXPECT_EQ(busyRefusal(c.handler, {.camera = true}), c.cameraBusy) << h;
        EXPECT_EQ(busyRefusal(c.handler, {.telescope = true}), c.telescopeBusy) << h;
        EXPECT_EQ(busyRefusal(c.handler, {true, true}), c.bothBusy) << h;
    }
}

TEST(CommandRouter, RoutesByHandlerThroughTheGate)
{
    CommandRouter router;
    int gammas = 0, conversions = 0, abouts = 0;
    EXPECT_FALSE(router.hasHandler(Handler::captureImage));
    EXPECT_FALSE(router.route(cmd::captureImage)) << "no routine";
    EXPECT_FALSE(router.route(99999));
    EXPECT_FALSE(router.allowed(99999));
    router.setHandler(Handler::setConversionGammas, [&] { ++gammas; });
    router.setHandler(Handler::conversion, [&] { ++conversions; });
    // Both gamma identifiers reach the one routine.
    EXPECT_TRUE(router.route(145));
    EXPECT_TRUE(router.route(147));
    EXPECT_TRUE(router.route(32783));
    EXPECT_EQ(gammas, 2);
    EXPECT_EQ(conversions, 1);
    // A routine may replace itself while it runs.
    router.setHandler(Handler::appAbout, [&] {
        ++abouts;
        router.setHandler(Handler::appAbout, nullptr);
    });
    EXPECT_TRUE(router.route(cmd::appAbout));
    EXPECT_FALSE(router.route(cmd::appAbout));
    EXPECT_EQ(abouts, 1);
    // A gate refuses, and is told to say why only when the command runs.
    std::vector<bool> told;
    router.setGate([&](Handler, bool tell) {
        told.push_back(tell);
        return false;
    });
    EXPECT_FALSE(router.allowed(cmd::conversion));
    EXPECT_FALSE(router.route(cmd::conversion));
    EXPECT_EQ(conversions, 1);
    EXPECT_EQ(told, (std::vector<bool>{false, true}));
    router.setGate([](Handler, bool) { return true; });
    EXPECT_TRUE(router.allowed(cmd::conversion));
    EXPECT_TRUE(router.route(cmd::conversion));
    EXPECT_EQ(conversions, 2);
}

}  // namespace
}  // namespace tarvi
