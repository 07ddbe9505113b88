// The LX200 command table and the network server that shares the telescope
// with planetarium programs, against a scripted telescope.
#include "telescope/lx200_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telescope/lx200_commands.h"
#include "telescope/scripted_telescope.h"

namespace tarvi {
namespace {

using test::bytesOf;
using test::Strings;
using ToClients = std::vector<std::pair<int, std::string>>;

TEST(CommandInfo, ReplyAndEffectOfEveryKind)
{
    using namespace lx200;
    const struct { Reply reply; Effect effect; Strings commands; } groups[] = {
        {Reply::digit, Effect::read, {"\x06"}},
        {Reply::text, Effect::read, {":GR#", ":Gr#", ":Gs#", ":GT#", ":Gt#", ":GVF#", ":D#", ":LI#"}},
        {Reply::digit, Effect::set,
         {":Sr12:34:56#", ":Sr#", ":Sd+45\xDF" "12:34#", ":St +45\xDF" "05#", ":SG -03#", ":SS 04:05:06#",
          ":S060.1#", ":ST60.1#", ":Ls 1#", ":Lo 2#"}},
        {Reply::date, Effect::set, {":SC  03/15/06#"}},
        {Reply::none, Effect::set, {":LS 308#", ":LM 31#", ":LF#", ":U#", ":$BA07#"}},
        {Reply::goTo, Effect::motion, {":MS#"}},
        {Reply::text, Effect::motion, {":CM#"}},
        {Reply::none, Effect::motion, {":Ms#", ":Mw#", ":RG#"}},
        {Reply::none, Effect::stop, {":Q#", ":Qn#", ":FQ#"}},
        {Reply::none, Effect::focus, {":F-#", ":FS#"}},
        // Case, whole names, and what is not one command.
        {Reply::none, Effect::other,
         {":gr#", ":GRx#", ":G#", ":GV#", ":Qx#", ":MSx#", ":LIx#", ":S#", ":Sx1#", ":GR#:GD#", ":GR", "GR#",
          ":#", ":", "#", "", "\x06\x06"}},
    };
    for (const auto& group : groups) {
        for (const std::string& command : group.commands) {
            const CommandInfo info = commandInfo(command);
            EXPECT_EQ(std::pair(info.reply, info.effect), std::pair(group.reply, group.effect))
                << testing::PrintToString(command);
        }
    }
}

TEST(LX200ClientInputTest, FramesTheCommandGrammarAndClosesOnAnythingElse)
{
    const std::string longest = ":Sr " + std::string(35, '1') + "#";
    ASSERT_EQ(longest.size(), LX200ClientInput::longestCommand);
    // The pieces as they come off the socket, the commands framed, and
    // whether the client stays connected.
    const struct { const char* name; Strings pieces, commands; bool kept; } cases[] = {
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
    for (const auto& c : cases) {
        LX200ClientInput input;
        std::deque<std::string> out;
        bool kept = true;
        for (const std::string& piece : c.pieces)
            kept = kept && input.take(bytesOf(piece), out);
        EXPECT_EQ(kept, c.kept) << c.name;
        EXPECT_EQ(Strings(out.begin(), out.end()), c.commands) << c.name;
    }
}

class LX200ServerTest : public ::testing::Test, protected test::ScriptedTelescope {
protected:
    LX200Server server{clock, line};
    ToClients toClients;

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
    // The telescope's reply in its bursts, and what the client gets.
    const struct { std::string command; Strings telescope; std::string client; } cases[] = {
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
        {":GR#", {}, ""},                     // silence
        {":GL#", {"20:1"}, ""},               // cut off before its "#"
        {":GVP#", {"Tar", "vi#"}, "Tarvi#"},  // in two bursts
    };
    const int id = server.connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        replies = {{c.command, c.telescope}};
        toClients.clear();
        script->writes.clear();
        clock.advance(LX200Server::positionReadMs);
        ASSERT_TRUE(server.receive(id, bytesOf(c.command)));
        serveAll();
        EXPECT_EQ(sent(), Strings{c.command});
        EXPECT_EQ(toClients, (c.client.empty() ? ToClients{} : ToClients{{id, c.client}}));
        script->arrivals.clear();
    }
}

TEST_F(LX200ServerTest, PositionReadsOfSeveralClientsShareOneTelescopeRead)
{
    replies = {{":GR#", {"12:34:56#"}}, {":GD#", {"+45\xDF" "30:00#"}}};
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

TEST_F(LX200ServerTest, TheSheetComesFirstWhileItMovesTheTelescopeOnlyMotionWaits)
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

    // Nothing goes inside an exchange of the sheet.
    ASSERT_TRUE(server.receive(mover, bytesOf(":Qn#")));
    {
        const auto exchange = line.exchange();
        EXPECT_FALSE(server.serveOne());
    }
    EXPECT_TRUE(server.serveOne());
    EXPECT_EQ(sent().back(), ":Qn#");
}

TEST_F(LX200ServerTest, QueuesAreBoundedTheFormatToggleIsNotPassedOnAndALeavingClientTakesItsCommands)
{
    const int id = server.connect();
    std::string flood;
    for (std::size_t i = 0; i < LX200Server::queueLimit; ++i)
        flood += ":U#";
    ASSERT_TRUE(server.receive(id, bytesOf(flood)));
    EXPECT_FALSE(server.wantsInput(id));
    serveAll();
    EXPECT_TRUE(server.wantsInput(id));
    EXPECT_TRUE(sent().empty());

    replies[":GR#"] = {"12:34:56#"};
    const int leaving = server.connect();
    ASSERT_TRUE(server.receive(leaving, bytesOf(":Mn#:Ms#")));
    ASSERT_TRUE(server.receive(id, bytesOf(":GR#")));
    server.disconnect(leaving);
    serveAll();
    EXPECT_EQ(sent(), Strings{":GR#"});
    EXPECT_EQ(toClients, (ToClients{{id, "12:34:56#"}}));
    for (std::size_t i = server.clientCount(); i < LX200Server::maxClients; ++i)
        EXPECT_NE(server.connect(), 0);
    EXPECT_EQ(server.connect(), 0);
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

}  // namespace
}  // namespace tarvi
