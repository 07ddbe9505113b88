#include "view/display_size.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

TEST(DisplaySize, ScrollPositionsStandForTwentiethsNeverBelowATenth)
{
    // Position, the size shown, and where the thumb starts when the dialog opens again with that size.
    const std::tuple<int, const char*, int> positions[] = {{0, " 0.10", 2}, {1, " 0.10", 2}, {2, " 0.10", 2},
                                                           {3, " 0.15", 3}, {9, " 0.45", 8}, {11, " 0.55", 11},
                                                           {20, " 1.00", 20}, {99, " 4.95", 99}, {100, " 5.00", 100}};
    for (const auto& [position, shown, back] : positions) {
        EXPECT_EQ(formatDisplaySize(displaySizeForPosition(position)), shown) << position;
        EXPECT_EQ(positionForDisplaySize(displaySizeForPosition(position)), back) << position;
    }
    EXPECT_EQ(formatDisplaySize(12.5), "12.50");
    using enum ScrollAction;
    const std::tuple<ScrollAction, int, int, int> moves[] = {
        {lineLeft, 20, 0, 19},  {lineLeft, 0, 0, 0},   {lineLeft, 1, 0, 0},     {lineRight, 20, 0, 21},
        {lineRight, 100, 0, 100}, {lineRight, 99, 0, 100}, {pageLeft, 20, 0, 15}, {pageLeft, 3, 0, 0},
        {pageLeft, 0, 0, 0},    {pageRight, 97, 0, 100}, {pageRight, 20, 0, 25}, {pageRight, 100, 0, 100},
        {thumb, 20, 63, 63},    {thumb, 20, 101, 100}, {thumb, 20, -1, 0},     {leftEnd, 40, 0, 0},
        {rightEnd, 40, 0, 100}, {endScroll, 40, 7, 40}};
    for (const auto& [action, from, thumbAt, to] : moves)
        EXPECT_EQ(scrollPosition(action, from, thumbAt), to) << static_cast<int>(action) << " from " << from;
}

}  // namespace
}  // namespace tarvi
