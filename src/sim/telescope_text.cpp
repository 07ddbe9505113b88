#include "sim/telescope_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarvi::sim {
namespace {

// Against a value set from a text and moved by a few additions: 12:34:56
// must not come back as 12:34:55.999999.
constexpr double cutSlack = 1e-6;

// Reads a text from left to right; every step fails once one has failed.
class TextReader {
public:
    explicit TextReader(std::string_view text) : text_(text) {}

    int digits(std::size_t count)
    {
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!ok_ || at_ >= text_.size() || text_[at_] < '0' || text_[at_] > '9') {
                ok_ = false;
                return 0;
            }
            value = value * 10 + (text_[at_++] - '0');
        }
        return value;
    }
    void expect(std::string_view anyOf)
    {
        if (!ok_ || at_ >= text_.size() || anyOf.find(text_[at_]) == std::string_view::npos)
            ok_ = false;
        else
            ++at_;
    }
    // A leading "+" or "-", or none: +1 or -1.
    int sign()
    {
        if (ok_ && at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-'))
            return text_[at_++] == '-' ? -1 : 1;
        return 1;
    }
    bool atEnd() const { return at_ == text_.size(); }
    bool finished() const { return ok_ && atEnd(); }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

constexpr std::string_view degreeSigns = "\xDF*:";

std::string printed(const char* format, auto... values)
{
    char text[32];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

std::string formatRightAscension(double raSeconds, bool longFormat)
{
    const auto seconds = static_cast<long>(std::floor(raSeconds + cutSlack)) % 86400;
    if (longFormat)
        return printed("%02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    const long tenthsOfMinute = seconds / 6;
    return printed("%02ld:%02ld.%ld", tenthsOfMinute / 600, tenthsOfMinute / 10 % 60, tenthsOfMinute % 10);
}

std::string formatDeclination(double decArcseconds, bool longFormat)
{
    const auto arcseconds = static_cast<long>(std::floor(std::fabs(decArcseconds) + cutSlack));
    const char sign = decArcseconds < 0 && arcseconds > 0 ? '-' : '+';
    if (longFormat)
        return printed("%c%02ld%c%02ld:%02ld", sign, arcseconds / 3600, lx200DegreeSign, arcseconds / 60 % 60,
                       arcseconds % 60);
    return printed("%c%02ld%c%02ld", sign, arcseconds / 3600, lx200DegreeSign, arcseconds / 60 % 60);
}

std::string formatTimeOfDay(int seconds)
{
    return printed("%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string formatDate(const CivilTime& time)
{
    return printed("%02d/%02d/%02d", time.month, time.day, ((time.year % 100) + 100) % 100);
}

std::string formatLatitude(int arcminutes)
{
    return printed("%c%02d%c%02d", arcminutes < 0 ? '-' : '+', std::abs(arcminutes) / 60, lx200DegreeSign,
                   std::abs(arcminutes) % 60);
}

std::string formatLongitude(int arcminutes)
{
    return printed("%03d%c%02d", arcminutes / 60, lx200DegreeSign, arcminutes % 60);
}

std::string formatAzimuth(double arcseconds, bool longFormat)
{
    const auto cut = static_cast<long>(std::floor(arcseconds + cutSlack)) % (360 * 3600);
    if (longFormat)
        return printed("%03ld%c%02ld:%02ld", cut / 3600, lx200DegreeSign, cut / 60 % 60, cut % 60);
    return printed("%03ld%c%02ld", cut / 3600, lx200DegreeSign, cut / 60 % 60);
}

std::string formatAltitudeLimit(int degrees)
{
    return printed("%+03d%c", degrees, lx200DegreeSign);
}

std::string formatTrackingRate(int tenths)
{
    return printed("%02d.%d", tenths / 10, tenths % 10);
}

std::optional<double> parseRightAscension(std::string_view text)
{
    TextReader reader(text);
    const int hours = reader.digits(2);
    reader.expect(":");
    const int minutes = reader.digits(2);
    double seconds = 0;
    if (text.size() == 7) {
        reader.expect(".");
        seconds = reader.digits(1) * 6;
    } else {
        reader.expect(":");
        seconds = reader.digits(2);
    }
    if (!reader.finished() || hours > 23 || minutes > 59 || seconds > 59)
        return std::nullopt;
    return hours * 3600 + minutes * 60 + seconds;
}

std::optional<double> parseDeclination(std::string_view text)
{
    TextReader reader(text);
    const int sign = reader.sign();
    const int degrees = reader.digits(2);
    reader.expect(degreeSigns);
    const int minutes = reader.digits(2);
    int seconds = 0;
    if (!reader.atEnd()) {
        reader.expect(":'");
        seconds = reader.digits(2);
    }
    const int arcseconds = degrees * 3600 + minutes * 60 + seconds;
    if (!reader.finished() || minutes > 59 || seconds > 59 || arcseconds > 90 * 3600)
        return std::nullopt;
    return sign * arcseconds;
}

std::optional<int> parseTimeOfDay(std::string_view text)
{
    TextReader reader(text);
    const int hours = reader.digits(2);
    reader.expect(":");
    const int minutes = reader.digits(2);
    reader.expect(":");
    const int seconds = reader.digits(2);
    if (!reader.finished() || hours > 23 || minutes > 59 || seconds > 59)
        return std::nullopt;
    return hours * 3600 + minutes * 60 + seconds;
}

std::optional<CivilTime> parseDate(std::string_view text)
{
    TextReader reader(text);
    CivilTime date;
    date.month = reader.digits(2);
    reader.expect("/");
    date.day = reader.digits(2);
    reader.expect("/");
    date.year = 2000 + reader.digits(2);
    if (!reader.finished() || !isValid(date))
        return std::nullopt;
    return date;
}

std::optional<int> parseLatitude(std::string_view text)
{
    TextReader reader(text);
    const int sign = reader.sign();
    const int degrees = reader.digits(2);
    reader.expect(degreeSigns);
    const int minutes = reader.digits(2);
    const int arcminutes = degrees * 60 + minutes;
    if (!reader.finished() || minutes > 59 || arcminutes > 90 * 60)
        return std::nullopt;
    return sign * arcminutes;
}

std::optional<int> parseLongitude(std::string_view text)
{
    TextReader reader(text);
    const int degrees = reader.digits(3);
    reader.expect(degreeSigns);
    const int minutes = reader.digits(2);
    const int arcminutes = degrees * 60 + minutes;
    if (!reader.finished() || minutes > 59 || arcminutes > 360 * 60)
        return std::nullopt;
    return arcminutes % (360 * 60);
}

std::optional<int> parseUtcOffset(std::string_view text)
{
    TextReader reader(text);
    const bool hasSign = !text.empty() && (text[0] == '+' || text[0] == '-');
    const std::size_t digitCount = text.size() - (hasSign ? 1 : 0);
    if (digitCount < 1 || digitCount > 2)
        return std::nullopt;
    const int sign = reader.sign();
    const int hours = reader.digits(digitCount);
    if (!reader.finished() || hours > 14)
        return std::nullopt;
    return sign * hours;
}

std::optional<int> parseTrackingRate(std::string_view text)
{
    TextReader reader(text);
    const int whole = reader.digits(text.size() == 5 ? 3 : 2);
    reader.expect(".");
    const int tenth = reader.digits(1);
    if (!reader.finished())
        return std::nullopt;
    return whole * 10 + tenth;
}

std::string_view skipBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

}  // namespace tarvi::sim
