#include "telescope/sky_flats.h"

#include <utility>

#include "telescope/coordinates.h"

namespace tarvi {

namespace {

struct Leg {
    std::string_view start;
    std::string_view stopPrevious;
};
constexpr std::array<Leg, 4> legs{{
    {":Mn#", ":Qw#"},
    {":Me#", ":Qn#"},
    {":Ms#", ":Qe#"},
    {":Mw#", ":Qs#"},
}};

constexpr int afterHomeWaitMs = 500;

}  // namespace

bool legLengthUsable(int milliseconds)
{
    return milliseconds >= smallestLegMs && milliseconds <= largestLegMs;
}

SkyFlatPattern::SkyFlatPattern(std::string homeRa, std::string homeDec, int legMs)
    : homeRa_(std::move(homeRa)), homeDec_(std::move(homeDec)), legMs_(legMs)
{
}

std::vector<SkyFlatStep> SkyFlatPattern::nextLeg()
{
    using Kind = SkyFlatStep::Kind;
    const Leg& leg = legs[std::size_t(direction_)];
    direction_ = (direction_ + 1) % 4;
    std::vector<SkyFlatStep> steps{{Kind::send, std::string(leg.start), 0},
                                   {Kind::send, std::string(leg.stopPrevious), 0}};
    if (legsBeforeHome_ > 0) {
        --legsBeforeHome_;
    } else {
        legsBeforeHome_ = 200;
        // The home R.A. goes out as read, without the second that the go-to
        // buttons take off.
        steps.push_back({Kind::sendAndRead, ":Sr" + homeRa_ + "#", 0});
        steps.push_back({Kind::sendAndRead, targetDecCommand(homeDec_), 0});
        steps.push_back({Kind::slew, ":MS#", 0});
        steps.push_back({Kind::wait, {}, afterHomeWaitMs});
    }
    if (legMs_ > 0)
        steps.push_back({Kind::wait, {}, legMs_});
    return steps;
}

}  // namespace tarvi
