#pragma once

#include <string_view>

namespace tarvi::lx200 {

// The byte a client sends alone to ask the telescope's alignment mode; the
// telescope answers "A", "L" or "P" with no "#".
inline constexpr char ack = '\x06';

// What comes back for a command of the classic set.
enum class Reply {
    none,   // nothing
    digit,  // one character and no "#": "1"/"0", or the alignment mode
    text,   // a text closed by "#"
    goTo,   // ":MS#": "0", or "1" or "2" followed by a text closed by "#"
    date    // ":SC...#": "0", or "1" followed by two texts closed by "#",
            // the second once the planetary data are updated
};

// What a command does to the telescope, for sharing the line between the
// control sheet and network clients.
enum class Effect {
    read,    // asks only
    stop,    // ":Q#", ":Qn#", ":Qs#", ":Qe#", ":Qw#", ":FQ#"
    motion,  // moves the mount or changes how it moves: direction keys, go-to, sync, rates
    focus,   // runs the focuser or sets its speed
    set,     // site, time, date, target, tracking, format, catalogs
    other    // not a command of the set
};

struct CommandInfo {
    Reply reply = Reply::none;
    Effect effect = Effect::other;
};

// command is a whole command as sent, ":" to "#", or the single ACK byte.
// A command the set does not have gets { none, other }.
CommandInfo commandInfo(std::string_view command);

// Whether the bytes received so far are the whole of a reply of this kind, so
// that its read ends there and not at the deadline. A reply of kind none never
// is, nor a bare digit: their reads wait out the deadline. The received bytes
// may run past the reply's end. A date's reply is whole at its first text;
// the second comes later and is read on its own.
bool replyComplete(Reply kind, std::string_view received);

}  // namespace tarvi::lx200
