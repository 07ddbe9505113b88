#include "telescope/lx200_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvi::lx200 {
namespace {

TEST(CommandInfo, ReplyAndEffectOfEveryKind)
{
    const struct {
        Reply reply;
        Effect effect;
        std::vector<std::string> commands;
    } groups[] = {
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
            EXPECT_EQ(info.reply, group.reply) << testing::PrintToString(command);
            EXPECT_EQ(info.effect, group.effect) << testing::PrintToString(command);
        }
    }
}

}  // namespace
}  // namespace tarvi::lx200
