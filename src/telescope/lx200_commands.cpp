#include "telescope/lx200_commands.h"

#include <algorithm>
#include <array>

namespace tarvi::lx200 {
namespace {

// How a command's body, between ":" and "#", meets a name of the table. The
// argument may be empty: the telescope then refuses in the command's own
// shape, ":Sr#" gets "0" like any other right ascension out of form.
enum class Match {
    whole,     // the name alone: ":Q#" is not ":Qn#"
    argument,  // the name and whatever follows: ":Sr12:34:56#", ":LS 1#"
    number     // the name and a digit first: ":S060.1#", the tracking rate
};

struct Command {
    std::string_view name;
    Match match;
    CommandInfo info;
};

constexpr CommandInfo textRead{Reply::text, Effect::read};
constexpr CommandInfo digitSet{Reply::digit, Effect::set};
constexpr CommandInfo noneSet{Reply::none, Effect::set};
constexpr CommandInfo noneMotion{Reply::none, Effect::motion};
constexpr CommandInfo noneStop{Reply::none, Effect::stop};
constexpr CommandInfo noneFocus{Reply::none, Effect::focus};

// ":SB" is left out: it would change the line's speed under the program.
// ":P#" too: its "HIGH PRECISION" has no "#" and fits no reply kind.
constexpr auto commands = std::to_array<Command>({
    {"GA", Match::whole, textRead},   // altitude
    {"Ga", Match::whole, textRead},   // local time, 12-hour
    {"Gb", Match::whole, textRead},   // brighter magnitude limit of the finder
    {"GC", Match::whole, textRead},   // date
    {"Gc", Match::whole, textRead},   // 12 or 24-hour clock
    {"GD", Match::whole, textRead},   // declination
    {"Gd", Match::whole, textRead},   // target declination
    {"Gf", Match::whole, textRead},   // fainter magnitude limit
    {"GF", Match::whole, textRead},   // field diameter
    {"Gg", Match::whole, textRead},   // longitude
    {"GG", Match::whole, textRead},   // UTC offset
    {"Gh", Match::whole, textRead},   // higher limit
    {"GL", Match::whole, textRead},   // local time, 24-hour
    {"Gl", Match::whole, textRead},   // larger size limit
    {"GM", Match::whole, textRead},   // site names 1 to 4
    {"GN", Match::whole, textRead},
    {"GO", Match::whole, textRead},
    {"GP", Match::whole, textRead},
    {"Go", Match::whole, textRead},   // lower limit
    {"Gq", Match::whole, textRead},   // lowest object quality
    {"GR", Match::whole, textRead},   // right ascension
    {"Gr", Match::whole, textRead},   // target right ascension
    {"GS", Match::whole, textRead},   // sidereal time
    {"Gs", Match::whole, textRead},   // tracking rate
    {"GT", Match::whole, textRead},   // tracking frequency
    {"Gt", Match::whole, textRead},   // latitude
    {"Gy", Match::whole, textRead},   // object types the finder looks for
    {"GZ", Match::whole, textRead},   // azimuth
    {"GVD", Match::whole, textRead},  // firmware date
    {"GVF", Match::whole, textRead},  // firmware
    {"GVN", Match::whole, textRead},  // firmware number
    {"GVP", Match::whole, textRead},  // product name
    {"GVT", Match::whole, textRead},  // firmware time
    {"D", Match::whole, textRead},    // distance bars
    {"LI", Match::whole, textRead},   // object information

    {"Sa", Match::argument, digitSet},  // target altitude
    {"Sb", Match::argument, digitSet},
    {"Sd", Match::argument, digitSet},
    {"Sf", Match::argument, digitSet},
    {"SF", Match::argument, digitSet},
    {"Sg", Match::argument, digitSet},
    {"SG", Match::argument, digitSet},
    {"Sh", Match::argument, digitSet},
    {"Sl", Match::argument, digitSet},
    {"SL", Match::argument, digitSet},
    {"SM", Match::argument, digitSet},
    {"SN", Match::argument, digitSet},
    {"SO", Match::argument, digitSet},
    {"SP", Match::argument, digitSet},
    {"So", Match::argument, digitSet},
    {"Sr", Match::argument, digitSet},
    {"Ss", Match::argument, digitSet},
    {"SS", Match::argument, digitSet},
    {"St", Match::argument, digitSet},
    {"ST", Match::argument, digitSet},
    {"Sw", Match::argument, digitSet},
    {"Sy", Match::argument, digitSet},
    {"Sz", Match::argument, digitSet},  // target azimuth
    {"S", Match::number, digitSet},
    {"SC", Match::argument, {Reply::date, Effect::set}},
    {"Sq", Match::whole, noneSet},
    {"Lo", Match::argument, digitSet},
    {"Ls", Match::argument, digitSet},
    {"LS", Match::argument, noneSet},
    {"LC", Match::argument, noneSet},
    {"LM", Match::argument, noneSet},
    {"LF", Match::whole, noneSet},
    {"LN", Match::whole, noneSet},
    {"LB", Match::whole, noneSet},
    {"U", Match::whole, noneSet},
    {"H", Match::whole, noneSet},  // toggles the 12 and 24-hour clock
    {"AA", Match::whole, noneSet},  // alignment modes
    {"AL", Match::whole, noneSet},
    {"AP", Match::whole, noneSet},
    {"T+", Match::whole, noneSet},  // tracking frequency
    {"T-", Match::whole, noneSet},
    {"TM", Match::whole, noneSet},
    {"TQ", Match::whole, noneSet},
    {"B+", Match::whole, noneSet},  // reticle brightness
    {"B-", Match::whole, noneSet},
    {"B0", Match::whole, noneSet},
    {"B1", Match::whole, noneSet},
    {"B2", Match::whole, noneSet},
    {"B3", Match::whole, noneSet},
    {"$BA", Match::argument, noneSet},  // declination backlash

    {"MS", Match::whole, {Reply::goTo, Effect::motion}},
    {"MA", Match::whole, {Reply::digit, Effect::motion}},  // go-to the altitude and azimuth set
    {"Mn", Match::whole, noneMotion},
    {"Ms", Match::whole, noneMotion},
    {"Me", Match::whole, noneMotion},
    {"Mw", Match::whole, noneMotion},
    {"CM", Match::whole, {Reply::text, Effect::motion}},
    {"RS", Match::whole, noneMotion},
    {"RM", Match::whole, noneMotion},
    {"RC", Match::whole, noneMotion},
    {"RG", Match::whole, noneMotion},

    {"Q", Match::whole, noneStop},
    {"Qn", Match::whole, noneStop},
    {"Qs", Match::whole, noneStop},
    {"Qe", Match::whole, noneStop},
    {"Qw", Match::whole, noneStop},
    {"FQ", Match::whole, noneStop},

    {"F+", Match::whole, noneFocus},
    {"F-", Match::whole, noneFocus},
    {"FF", Match::whole, noneFocus},
    {"FS", Match::whole, noneFocus},
});

bool matches(const Command& command, std::string_view body)
{
    switch (command.match) {
    case Match::whole:
        return body == command.name;
    case Match::argument:
        return body.starts_with(command.name);
    case Match::number:
        return body.starts_with(command.name) && body.size() > command.name.size()
               && body[command.name.size()] >= '0' && body[command.name.size()] <= '9';
    }
    return false;
}

}  // namespace

CommandInfo commandInfo(std::string_view command)
{
    if (command.size() == 1 && command[0] == ack)
        return {Reply::digit, Effect::read};
    if (command.size() < 3 || command.front() != ':' || command.back() != '#')
        return {};
    const std::string_view body = command.substr(1, command.size() - 2);
    // Two commands run together are not one.
    if (body.find('#') != std::string_view::npos)
        return {};
    const auto found = std::ranges::find_if(commands, [body](const Command& c) { return matches(c, body); });
    return found == commands.end() ? CommandInfo{} : found->info;
}

bool replyComplete(Reply kind, std::string_view received)
{
    if (received.empty())
        return false;
    // A read may take bytes that came after the end in the same chunk.
    const bool closed = received.find('#', 1) != std::string_view::npos;
    switch (kind) {
    case Reply::none:
        return false;
    case Reply::digit:
        // A digit is whole alone, but some telescopes close it with "#"
        // (and the tracking rate's check reads it so): only a "#" ends the
        // read early.
    case Reply::text:
        return received.front() == '#' || closed;
    case Reply::goTo:
    case Reply::date:
        return received.front() == '0' || (received.size() > 1 && closed);
    }
    return false;
}

}  // namespace tarvi::lx200
