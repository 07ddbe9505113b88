// Any bytes from the telescope: the normalised text has no degree sign and no
// 0 byte, every reader keeps to its range, and a sidereal time is always
// "HH:MM:SS" within the day.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "telescope/catalogs.h"
#include "telescope/coordinates.h"
#include "telescope/lx200_reply.h"
#include "telescope/sidereal_time.h"
#include "telescope/site_time_checks.h"
#include "check.h"

using tarvi::fuzz::check;

namespace {


bool isClockTime(const std::string& text)
{
    const auto t = tarvi::readTypedTime(text);
    return t && tarvi::formatClockTime(t->hour, t->minute, t->second) == text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string reply = tarvi::normalisedReply(data, size);
    check(reply.size() + 1 <= std::max<std::size_t>(size, 1));
    check(reply.find('\xDF') == std::string::npos && reply.find('\0') == std::string::npos);
    std::vector<std::uint8_t> buffer(data, data + size);
    buffer.resize(std::max<std::size_t>(size, 1));
    tarvi::normaliseReply(buffer.data(), size);
    check(std::strlen(reinterpret_cast<const char*>(buffer.data())) == reply.size());
    check(std::memcmp(buffer.data(), reply.data(), reply.size()) == 0);

    if (const auto longitude = tarvi::readLongitude(reply))
        check(std::isfinite(*longitude) && *longitude >= -180.0 && *longitude <= 180.0);
    const auto offset = tarvi::readUtcOffset(reply);
    if (offset)
        check(*offset >= -24 && *offset <= 24);
    if (const auto date = tarvi::readTelescopeDate(reply))
        check(date->year >= 2000 && date->year <= 2099 && date->month <= 99 && date->day <= 99);
    if (const auto typed = tarvi::readTypedTime(reply)) {
        check(tarvi::formatClockTime(typed->hour, typed->minute, typed->second) == reply);
        // The same bytes as date and longitude replies, as a broken telescope might give.
        if (const auto sidereal = tarvi::siderealTimeToSet(*typed, reply, offset.value_or(0), reply))
            check(isClockTime(*sidereal));
    }

    // Raw numbers from the input, of any size, still give a time of day.
    if (size >= 6 * sizeof(int) + sizeof(double)) {
        int numbers[6];
        double longitude = 0;
        std::memcpy(numbers, data, sizeof numbers);
        std::memcpy(&longitude, data + sizeof numbers, sizeof longitude);
        const int offsetHours = numbers[5] % 100;
        check(isClockTime(tarvi::siderealTime(numbers[0] % 100000, numbers[1] % 100, numbers[2] % 1000,
                                              numbers[3] % 1000, numbers[4] % 1000, numbers[5] % 100000, longitude,
                                              offsetHours)));
    }

    if (const auto earlier = tarvi::subtractOneSecond(reply)) {
        if (tarvi::validateMotionPageCoordinates(reply, "+00:00:00").usable())
            check(isClockTime(*earlier));
    }
    if (tarvi::validateObjectsPageCoordinates(reply.substr(0, 8), reply.substr(std::min<std::size_t>(8, reply.size()))))
        check(tarvi::targetRaCommand(reply.substr(0, 8)).has_value());
    const std::string dec = tarvi::targetDecCommand(reply);
    check(dec.size() == reply.size() + 4);
    (void)tarvi::slewRefusalMessage(reply);
    if (const auto refusal = tarvi::objectsPageSlewRefusal(reply))
        check(refusal->size() + 1 == reply.size());
    (void)tarvi::catalogRequest(reply, reply);
    (void)tarvi::trackingRateAfterGet("???.?", reply);
    return 0;
}
