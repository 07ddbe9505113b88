#include "view/display_size.h"

#include <algorithm>
#include <charconv>

namespace tarvi {

double displaySizeForPosition(int position)
{
    return std::max(position * 0.01 * 5.0, 0.1);
}

int positionForDisplaySize(double factor)
{
    return static_cast<int>(factor * 100 / 5.0);
}

int scrollPosition(ScrollAction action, int p, int thumbPosition)
{
    using namespace displaySizeScroll;
    switch (action) {
    case ScrollAction::lineLeft: return p > minimum ? p - 1 : p;
    case ScrollAction::lineRight: return p < maximum ? p + 1 : p;
    case ScrollAction::pageLeft: return p > minimum ? std::max(p - pageStep, minimum) : p;
    case ScrollAction::pageRight: return p < maximum ? std::min(p + pageStep, maximum) : p;
    case ScrollAction::thumb: return std::clamp(thumbPosition, minimum, maximum);
    case ScrollAction::leftEnd: return minimum;
    case ScrollAction::rightEnd: return maximum;
    case ScrollAction::endScroll: return p;
    }
    return p;
}

std::string formatDisplaySize(double factor)
{
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, factor, std::chars_format::fixed, 2);
    std::string text(buffer, written.ptr);
    if (text.size() < 5)
        text.insert(0, 5 - text.size(), ' ');
    return text;
}

}  // namespace tarvi
