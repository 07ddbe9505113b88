#include "view/display_size.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tarvi {
namespace {

struct PositionCase {
    int position;
    const char* shown;
};

void PrintTo(const PositionCase& c, std::ostream* out)
{
    *out << c.position;
}

class DisplaySizePositions : public ::testing::TestWithParam<PositionCase> {};

TEST_P(DisplaySizePositions, PositionShowsItsValueNeverBelowATenth)
{
    EXPECT_EQ(formatDisplaySize(displaySizeForPosition(GetParam().position)), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Positions, DisplaySizePositions,
                         ::testing::Values(PositionCase{0, " 0.10"}, PositionCase{1, " 0.10"},
                                           PositionCase{2, " 0.10"}, PositionCase{3, " 0.15"},
                                           PositionCase{11, " 0.55"}, PositionCase{20, " 1.00"},
                                           PositionCase{99, " 4.95"}, PositionCase{100, " 5.00"}));

TEST(DisplaySize, ThumbStartsWhereTheValueIs)
{
    EXPECT_EQ(positionForDisplaySize(1.0), 20);
    EXPECT_EQ(positionForDisplaySize(5.0), 100);
    EXPECT_EQ(positionForDisplaySize(0.55), 11);
    EXPECT_EQ(positionForDisplaySize(0.15), 3);
    // Position 9 makes 0.44999..., which truncates back to 8 when the dialog
    // opens again with it.
    EXPECT_EQ(positionForDisplaySize(displaySizeForPosition(9)), 8);
    EXPECT_EQ(formatDisplaySize(1.0), " 1.00");
    EXPECT_EQ(formatDisplaySize(12.5), "12.50");
}

struct ScrollCase {
    ScrollAction action;
    int from;
    int thumb;
    int to;
};

class DisplaySizeScrolling : public ::testing::TestWithParam<ScrollCase> {};

TEST_P(DisplaySizeScrolling, MovesByLinesPagesAndThumb)
{
    EXPECT_EQ(scrollPosition(GetParam().action, GetParam().from, GetParam().thumb), GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DisplaySizeScrolling,
    ::testing::Values(ScrollCase{ScrollAction::lineLeft, 20, 0, 19}, ScrollCase{ScrollAction::lineLeft, 0, 0, 0},
                      ScrollCase{ScrollAction::lineRight, 20, 0, 21},
                      ScrollCase{ScrollAction::lineRight, 100, 0, 100},
                      ScrollCase{ScrollAction::pageLeft, 20, 0, 15}, ScrollCase{ScrollAction::pageLeft, 3, 0, 0},
                      ScrollCase{ScrollAction::pageRight, 97, 0, 100},
                      ScrollCase{ScrollAction::pageRight, 20, 0, 25},
                      ScrollCase{ScrollAction::thumb, 20, 63, 63}, ScrollCase{ScrollAction::leftEnd, 40, 0, 0},
                      ScrollCase{ScrollAction::rightEnd, 40, 0, 100},
                      ScrollCase{ScrollAction::endScroll, 40, 7, 40}));

}  // namespace
}  // namespace tarvi
