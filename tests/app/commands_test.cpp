// The rules behind the commands: the command table and its router, the
// program's command line, and what a file's name decides.
#include <gtest/gtest.h>

#include <set>

#include "app/command_line.h"
#include "app/command_router.h"
#include "app/command_table.h"
#include "app/document_names.h"

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
    // The refusal with the camera busy, the telescope busy, and both.
    const std::pair<Handler, std::tuple<std::string_view, std::string_view, std::string_view>> cases[] = {
        {Handler::setupComm, {cam, tel, cam}},          {Handler::setupCamera, {cam, none, cam}},
        {Handler::loadDarkFrame, {cam, none, cam}},     {Handler::captureImage, {cam, none, cam}},
        {Handler::captureDarkFrame, {cam, none, cam}},  {Handler::autoShoot, {cam, none, cam}},
        {Handler::showDarkFrame, {cam, none, cam}},     {Handler::lx200Controls, {none, tel, tel}},
        {Handler::fileOpen, {none, none, none}},        {Handler::autoshootSetup, {none, none, none}},
    };
    for (const auto& [handler, refusals] : cases) {
        EXPECT_EQ(busyRefusal(handler, {}), none) << static_cast<int>(handler);
        const auto got = std::tuple(busyRefusal(handler, {.camera = true}), busyRefusal(handler, {.telescope = true}),
                                    busyRefusal(handler, {true, true}));
        EXPECT_EQ(got, refusals) << static_cast<int>(handler);
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
    EXPECT_EQ(std::pair(gammas, conversions), std::pair(2, 1));
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

TEST(CommandLine, ArgumentsTable)
{
    const std::string notAPort = " is not a TCP port (1 to 65535)";
    using Files = std::vector<std::string>;
    // Help, version, simulate, desktop, the shared telescope's port, the files and the error.
    using Line = std::tuple<bool, bool, bool, bool, int, Files, std::string>;
    const std::pair<Files, Line> cases[] = {
        {{}, {false, false, false, false, 0, {}, ""}},
        {{"a.fit", "b.bmp"}, {false, false, false, false, 0, {"a.fit", "b.bmp"}, ""}},
        {{"--help"}, {true, false, false, false, 0, {}, ""}},
        {{"-h", "-v"}, {true, true, false, false, 0, {}, ""}},
        {{"--version"}, {false, true, false, false, 0, {}, ""}},
        {{"--", "--help", "--simulate"}, {false, false, false, false, 0, {"--help", "--simulate"}, ""}},
        {{"-", ""}, {false, false, false, false, 0, {"-", ""}, ""}},
        {{"--frobnicate", "x.bmp", "-y"}, {false, false, false, false, 0, {"x.bmp"}, "unknown option '--frobnicate'"}},
        {{"--simulate", "m42.bmp"}, {false, false, true, false, 0, {"m42.bmp"}, ""}},
        {{"--desktop"}, {false, false, false, true, 0, {}, ""}},
        {{"--share-telescope"}, {false, false, false, false, 4030, {}, ""}},
        {{"--share-telescope=1"}, {false, false, false, false, 1, {}, ""}},
        {{"--share-telescope=65535"}, {false, false, false, false, 65535, {}, ""}},
        {{"--share-telescope=0"}, {false, false, false, false, 0, {}, "'0'" + notAPort}},
        {{"--share-telescope=65536", "-x"}, {false, false, false, false, 0, {}, "'65536'" + notAPort}},
        {{"--share-telescope=40x"}, {false, false, false, false, 0, {}, "'40x'" + notAPort}},
        {{"--share-telescope="}, {false, false, false, false, 0, {}, "''" + notAPort}},
    };
    for (const auto& [arguments, expected] : cases) {
        const CommandLine l = parseCommandLine(arguments);
        EXPECT_EQ(Line(l.help, l.version, l.simulate, l.desktop, l.shareTelescopePort, l.files, l.error), expected)
            << testing::PrintToString(arguments);
    }
}

// Save As wants ".bmp" or ".fit" as the first such ending, case-sensitive;
// reading and saving go by the last four characters in any case.
TEST(DocumentNames, EndingsDecideTheFormatAndTheProposedName)
{
    constexpr auto none = ImageFormat::none, bmp = ImageFormat::bmp, fits = ImageFormat::fits;
    // The path, then what Save As, reading and saving make of it, and the name Save As proposes.
    const std::pair<const char*, std::tuple<ImageFormat, ImageFormat, ImageFormat, std::string>> cases[] = {
        {"shot.bmp", {bmp, bmp, bmp, "shot.bmp"}},
        {"shot.fit", {fits, fits, fits, "shot.fit.bmp"}},
        {"shot.FIT", {none, fits, fits, "shot.FIT.bmp"}},
        {"shot.bmp.fit", {fits, fits, fits, "shot.bmp.fit.bmp"}},
        {"shot.fit.bmp", {bmp, bmp, bmp, "shot.fit.bmp"}},
        {"a.bmp/shot.bmp", {none, bmp, bmp, "a.bmp/shot.bmp.bmp"}},
        {"a.bmp.x", {none, none, bmp, "a.bmp.x.bmp"}},
        {"M42.FTS", {none, fits, fits, "M42.FTS.bmp"}},
        {"m42.fts", {none, fits, fits, "m42.fts.bmp"}},
        {"M42.FITS", {none, none, bmp, "M42.FITS.bmp"}},
        {"M42.BMP", {none, bmp, bmp, "M42.BMP.bmp"}},
        {".bmp", {bmp, bmp, bmp, ".bmp"}},
        {"bmp", {none, none, bmp, "bmp.bmp"}},
        {"", {none, none, bmp, ".bmp"}},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(std::tuple(saveAsFormat(path), readFormat(path), saveFormat(path), proposeSaveAsName(path)), expected)
            << path;
}

}  // namespace
}  // namespace tarvi
