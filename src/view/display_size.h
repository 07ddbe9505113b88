#pragma once

#include <string>

namespace tarvi {

// The display size dialog's scroll bar runs 0..100; position p stands for
// p / 20, so 0..100 covers 0.00..5.00, and nothing below 0.10 is offered.
namespace displaySizeScroll {
inline constexpr int minimum = 0;
inline constexpr int maximum = 100;
inline constexpr int pageStep = 5;
}  // namespace displaySizeScroll

enum class ScrollAction { lineLeft, lineRight, pageLeft, pageRight, thumb, leftEnd, rightEnd, endScroll };

double displaySizeForPosition(int position);
int positionForDisplaySize(double factor);
int scrollPosition(ScrollAction action, int position, int thumbPosition);

// "%5.2f": five characters, the decimal point always ".".
std::string formatDisplaySize(double factor);

}  // namespace tarvi
