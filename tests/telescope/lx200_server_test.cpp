#include "telescope/lx200_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "telescope/scripted_telescope.h"

namespace tarvi {
namespace {

using Strings = std::vector<std::string>;

std::span<const std::uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct FramingCase {
    const char* name;
    std::vector<std::string> pieces;  // as they come off the socket
    std::vector<std::string> commands;
    bool kept;  // the client stays connected
};

TEST(LX200ClientInputTest, FramesTheCommandGrammarAndClosesOnAnythingElse)
{
    const std::string longest = ":Sr " + std::string(35, '1') + "#";
    ASSERT_EQ(longest.size(), LX200ClientInput::longestCommand);
    const std::vector<FramingCase> cases = {
        {"one", {":GR#"}, {":GR#"}, true},
        {"ack alone", {"\x06"}, {"\x06"}, true},
        {"run together", {":GR#:GD#\x06"}, {":GR#", ":GD#", "\x06"}, true},
        {"split", {":G", "R", "#"}, {":GR#"}, true},
        {"colons inside", {":Sr 12:34:56#"}, {":Sr 12:34:56#"}, true},
        {"clearing hash", {"#:GR#"}, {":GR#"}, true},
        {"longest", {longest}, {longest}, true},
        {"one too long", {":Sr " + std::string(36, '1') + "#"}, {}, false},
        {"junk up to the limit", {std::string(64, '#') + ":GR#"}, {":GR#"}, true},
        {"junk past it", {std::string(65, 'x')}, {}, false},
        {"junk counted afresh after a command", {std::string(60, '#') + ":GR#" + std::string(60, '#')}, {":GR#"}, true},
        {"newline", {":GR#\n"}, {":GR#"}, false},
        {"control byte inside", {":G\x01R#"}, {}, false},
        {"ack inside a command", {":G\x06R#"}, {}, false},
        {"high byte", {"\xDF"}, {}, false},
    };
    for (const FramingCase& c : cases) {
        LX200ClientInput input;
        std::deque<std::string> out;
        bool kept = true;
        for (const std::string& piece : c.pieces)
            kept = kept && input.take(bytesOf(piece), out);
        EXPECT_EQ(kept, c.kept) << c.name;
        EXPECT_EQ(std::vector<std::string>(out.begin(), out.end()), c.commands) << c.name;
    }
}

class LX200ServerTest : public ::testing::Test, protected test::ScriptedTelescope {
protected:
    LX200Server server{clock, line};
    std::vector<std::pair<int, std::string>> toClients;

    void SetUp() override
    {
        lineHandle = addPort();
        server.sendReply = [this](int id, const std::string& reply) { toClients.emplace_back(id, reply); };
    }
    void serveAll()
    {
        while (server.serveOne()) {
        }
    }
};

TEST_F(LX200ServerTest, RepliesFollowTheReplyKindOfEachCommand)
{
    struct Case {
        std::string command;
        std::vector<std::string> telescope;
        std::string client;  // empty: the client gets nothing
    };
    const std::vector<Case> cases = {
        {":GR#", {"12:34:56#"}, "12:34:56#"},
        {":GD#", {"+45\xDF" "30:00#"}, "+45\xDF" "30:00#"},
        {"\x06", {"P"}, "P"},
        {":Sr 05:35:17#", {"1"}, "1"},
        {":Sd +22*00:52#", {"0"}, "0"},
        {":MS#", {"0"}, "0"},
        {":MS#", {"2Object Below Higher#"}, "2Object Below Higher#"},
        {":CM#", {" M31 EX GAL MAG 3.5 SZ178.0'#"}, " M31 EX GAL MAG 3.5 SZ178.0'#"},
        {":SC 12/07/26#", {"1Updating Planetary Data#", "", "", "                                #"},
         "1Updating Planetary Data#                                #"},
        {":SC 13/40/26#", {"0"}, "0"},
        {":Qn#", {}, ""},
        {":GR#", {}, ""},             // silence
        {":GL#", {"20:1"}, ""},       // cut off before its "#"
        {":GVP#", {"Tar", "vi#"}, "Tarvi#"},  // in two bursts
    };
    const int id = server.connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        replies.clear();
        replies[c.command] = c.telescope;
        toClients.clear();
        script->writes.clear();
        clock.advance(LX200Server::positionReadMs);
        ASSERT_TRUE(server.receive(id, bytesOf(c.command)));
        serveAll();
        EXPECT_EQ(sent(), Strings{c.command});
        if (c.client.empty())
            EXPECT_TRUE(toClients.empty());
        else
            EXPECT_EQ(toClients, (std::vector<std::pair<int, std::string>>{{id, c.client}}));
        script->arrivals.clear();
    }
}

TEST_F(LX200ServerTest, PositionReadsOfSeveralClientsShareOneTelescopeRead)
{
    replies[":GR#"] = {"12:34:56#"};
    replies[":GD#"] = {"+45\xDF" "30:00#"};
    const int first = server.connect();
    const int second = server.connect();
    for (const int id : {first, second})
        ASSERT_TRUE(server.receive(id, bytesOf(":GR#:GD#")));
    serveAll();
    EXPECT_EQ(sent(), (Strings{":GR#", ":GD#"}));
    EXPECT_EQ(toClients.size(), 4u);
    EXPECT_EQ(server.readsShared(), 2u);

    // A quarter of a second on, the telescope is asked again; a command that
    // moves it makes the next read a fresh one at once.
    clock.advance(LX200Server::positionReadMs);
    ASSERT_TRUE(server.receive(first, bytesOf(":GR#:Me#:GR#")));
    serveAll();
    EXPECT_EQ(sent(), (Strings{":GR#", ":GD#", ":GR#", ":Me#", ":GR#"}));
}

TEST_F(LX200ServerTest, WhileTheSheetMovesTheTelescopeOnlyMotionWaits)
{
    bool sheetMoves = true;
    server.sheetMoves = [&] { return sheetMoves; };
    replies[":GR#"] = {"12:34:56#"};
    const int mover = server.connect();
    const int reader = server.connect();
    ASSERT_TRUE(server.receive(mover, bytesOf(":Mn#:Q#")));
    ASSERT_TRUE(server.receive(reader, bytesOf(":Qs#:F+#:GR#")));
    serveAll();
    // Stops go at once: the mover's overtakes its motion, which it undoes;
    // the reader's focus command waits, and its read behind it.
    EXPECT_EQ(sent(), (Strings{":Q#", ":Qs#"}));
    sheetMoves = false;
    serveAll();
    EXPECT_EQ(sent(), (Strings{":Q#", ":Qs#", ":F+#", ":GR#"}));
}

TEST_F(LX200ServerTest, NothingGoesInsideAnExchangeOfTheSheet)
{
    const int id = server.connect();
    ASSERT_TRUE(server.receive(id, bytesOf(":Q#")));
    {
        const auto exchange = line.exchange();
        EXPECT_FALSE(server.serveOne());
    }
    EXPECT_TRUE(server.serveOne());
    EXPECT_EQ(sent(), Strings{":Q#"});
}

TEST_F(LX200ServerTest, TheFormatToggleIsNotPassedOnAndQueuesAreBounded)
{
    const int id = server.connect();
    std::string flood;
    for (int i = 0; i < 20; ++i)
        flood += ":U#";
    ASSERT_TRUE(server.receive(id, bytesOf(flood.substr(0, 3 * LX200Server::queueLimit))));
    EXPECT_FALSE(server.wantsInput(id));
    serveAll();
    EXPECT_TRUE(server.wantsInput(id));
    EXPECT_TRUE(sent().empty());
}

TEST_F(LX200ServerTest, AClosedPortIsOpenedOncePerClientAndALostOneWaitsForTheUser)
{
    int opens = 0;
    server.openPort = [&] {
        ++opens;
        return false;
    };
    ports.close(lineHandle);
    lineHandle = PortTable::closed;
    const int first = server.connect();
    ASSERT_TRUE(server.receive(first, bytesOf(":GR#:GR#")));
    serveAll();
    EXPECT_EQ(opens, 1);
    const int second = server.connect();
    ASSERT_TRUE(server.receive(second, bytesOf(":GR#")));
    serveAll();
    EXPECT_EQ(opens, 2);

    // A device that goes away mid-exchange is said once; later commands get
    // nothing and open nothing.
    lineHandle = addPort();
    script->deviceError = EIO;
    ASSERT_TRUE(server.receive(second, bytesOf(":GR#:GD#")));
    serveAll();
    EXPECT_TRUE(line.lost());
    EXPECT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(opens, 2);
    EXPECT_TRUE(toClients.empty());
}

TEST_F(LX200ServerTest, AClientThatLeavesTakesOnlyItsOwnCommands)
{
    replies[":GR#"] = {"12:34:56#"};
    const int leaving = server.connect();
    const int staying = server.connect();
    ASSERT_TRUE(server.receive(leaving, bytesOf(":Mn#:Ms#")));
    ASSERT_TRUE(server.receive(staying, bytesOf(":GR#")));
    server.disconnect(leaving);
    serveAll();
    EXPECT_EQ(sent(), Strings{":GR#"});
    EXPECT_EQ(toClients, (std::vector<std::pair<int, std::string>>{{staying, "12:34:56#"}}));
    for (std::size_t i = server.clientCount(); i < LX200Server::maxClients; ++i)
        EXPECT_NE(server.connect(), 0);
    EXPECT_EQ(server.connect(), 0);
}

}  // namespace
}  // namespace tarvi
