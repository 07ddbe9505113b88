#include "app/command_router.h"
#include "app/command_table.h"

#include <gtest/gtest.h>

#include <set>

namespace tarvi {
namespace {

TEST(CommandTable, IdentifiersAreUniqueAndEveryMenuItemIsInTheTable)
{
    std::set<int> ids;
    for (const Command& command : commandTable()) {
        EXPECT_TRUE(ids.insert(command.id).second) << command.id;
    }
    for (int menu : {menuNoDocument, menuDocument}) {
        for (const MenuDef& def : menuLayout(menu)) {
            for (int id : def.items) {
                if (id != cmd::separator) {
                    EXPECT_NE(findCommand(id), nullptr) << id;
                }
            }
        }
    }
    EXPECT_EQ(findCommand(12345), nullptr);
    EXPECT_TRUE(menuLayout(130).empty());
}

TEST(CommandTable, MenuTextSplitsAtTheTab)
{
    const Command* open = findCommand(cmd::fileOpen);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(menuItemText(*open), "&Open...");
    EXPECT_EQ(menuItemAccelerator(*open), "Ctrl+O");
    const Command* exit = findCommand(cmd::appExit);
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(menuItemText(*exit), "E&xit");
    EXPECT_EQ(menuItemAccelerator(*exit), "");
}

TEST(CommandRouter, BothGammaIdentifiersReachTheOneRoutine)
{
    CommandRouter router;
    int gammas = 0;
    int conversions = 0;
    router.setHandler(Handler::setConversionGammas, [&] { ++gammas; });
    router.setHandler(Handler::conversion, [&] { ++conversions; });
    EXPECT_TRUE(router.route(145));
    EXPECT_TRUE(router.route(147));
    EXPECT_EQ(gammas, 2);
    EXPECT_TRUE(router.route(32783));
    EXPECT_EQ(conversions, 1);
}

TEST(CommandRouter, CommandWithoutARoutineDoesNothing)
{
    CommandRouter router;
    EXPECT_FALSE(router.hasHandler(Handler::captureImage));
    EXPECT_FALSE(router.route(cmd::captureImage));
    EXPECT_FALSE(router.route(99999));
    router.setHandler(Handler::captureImage, nullptr);
    EXPECT_FALSE(router.route(cmd::captureImage));
}

TEST(CommandRouter, RoutineMayReplaceItselfWhileRunning)
{
    CommandRouter router;
    int calls = 0;
    router.setHandler(Handler::appAbout, [&] {
        ++calls;
        router.setHandler(Handler::appAbout, nullptr);
    });
    EXPECT_TRUE(router.route(cmd::appAbout));
    EXPECT_FALSE(router.route(cmd::appAbout));
    EXPECT_EQ(calls, 1);
}

TEST(CommandTable, ABusyDeviceRefusesWhatWouldPullItFromUnderItsWork)
{
    struct Case {
        Handler handler;
        BusyDevices busy;
        std::string_view refusal;
    };
    const BusyDevices camera{.camera = true};
    const BusyDevices telescope{.telescope = true};
    const Case cases[] = {
        {Handler::setupComm, camera, cameraBusyMessage},
        {Handler::setupComm, telescope, telescopeBusyMessage},
        {Handler::setupComm, {}, {}},
        {Handler::setupCamera, camera, cameraBusyMessage},
        {Handler::loadDarkFrame, camera, cameraBusyMessage},
        {Handler::captureImage, camera, cameraBusyMessage},
        {Handler::captureDarkFrame, camera, cameraBusyMessage},
        {Handler::autoShoot, camera, cameraBusyMessage},
        {Handler::showDarkFrame, camera, cameraBusyMessage},
        {Handler::lx200Controls, telescope, telescopeBusyMessage},
        // The other device stays usable, and so does everything else.
        {Handler::lx200Controls, camera, {}},
        {Handler::captureImage, telescope, {}},
        {Handler::fileOpen, {true, true}, {}},
        {Handler::autoshootSetup, camera, {}},
        {Handler::appExit, {true, true}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(busyRefusal(c.handler, c.busy), c.refusal)
            << static_cast<int>(c.handler) << " camera " << c.busy.camera << " telescope " << c.busy.telescope;
}

TEST(CommandRouter, AGateRefusesACommandAndSaysWhyOnlyWhenItRuns)
{
    CommandRouter router;
    int ran = 0;
    std::vector<bool> told;
    router.setHandler(Handler::captureImage, [&] { ++ran; });
    router.setGate([&](Handler, bool tell) {
        told.push_back(tell);
        return false;
    });
    EXPECT_FALSE(router.allowed(cmd::captureImage));
    EXPECT_FALSE(router.route(cmd::captureImage));
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(told, (std::vector<bool>{false, true}));
    router.setGate([](Handler, bool) { return true; });
    EXPECT_TRUE(router.route(cmd::captureImage));
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace tarvi
