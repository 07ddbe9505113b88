#include "camera/running_average.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvi {
namespace {

using Frame = RunningAverage::Frame;

Frame flat(std::uint8_t value)
{
    Frame frame;
    frame.fill(value);
    return frame;
}

TEST(RunningAverage, DarkFramesAreLeftOutAndTheRestAverageWithTruncation)
{
    RunningAverage average;
    std::vector<int> taken;  // the average after each frame; 0: left out
    for (std::uint8_t mean : {101, 110, 90, 98, 120})
        taken.push_back(average.add(flat(mean), false) ? average.average()[500] : 0);
    // 90 and 98 are below 0.9 x 110; 120 is not. 110 / 2 + 101 / 2 = 105.5,
    // truncated; then 120 / 3 + 105 * 2 / 3 = 110.
    EXPECT_EQ(taken, (std::vector<int>{101, 105, 0, 0, 110}));
    EXPECT_EQ(average.frames(), 3);
    EXPECT_DOUBLE_EQ(RunningAverage::imageMean(flat(77)), 77.0);
}

// A star at (x, buffer row 80) and a faint one in the top-right corner, on black.
Frame stars(int x)
{
    Frame frame = flat(0);
    frame[std::size_t(80) * 192 + x] = 200;
    frame[191] = 40;
    return frame;
}

TEST(RunningAverage, AlignedFramesAreShiftedOntoTheFirstWithTheEdgeRepeated)
{
    // Centroids: column 73 and 76, row 66 for both: the second frame is
    // sampled 3 columns further right.
    RunningAverage aligned;
    aligned.add(stars(50), true);
    ASSERT_TRUE(aligned.add(stars(53), true));
    EXPECT_EQ(aligned.average()[std::size_t(80) * 192 + 50], 200);
    // Past the right edge the last column is sampled again.
    EXPECT_EQ(aligned.average()[190], 20);
    EXPECT_EQ(aligned.average()[191], 40);

    RunningAverage unaligned;
    unaligned.add(stars(50), false);
    unaligned.add(stars(53), false);
    EXPECT_EQ(unaligned.average()[std::size_t(80) * 192 + 53], 100);
}

}  // namespace
}  // namespace tarvi
