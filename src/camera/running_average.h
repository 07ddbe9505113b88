#pragma once

#include <array>
#include <cstdint>

#include "image/bmp.h"

namespace tarvi {

// The average an autoshoot run keeps: frames aligned on the first frame's
// centroid (when asked), frames clearly darker than the last one taken in
// left out.
class RunningAverage {
public:
    static constexpr int width = 192;
    static constexpr int height = 165;
    using Frame = std::array<std::uint8_t, width * height>;

    // The mean of all the frame's bytes.
    static double imageMean(const Frame& frame);

    // Folds the frame in (or leaves it out); true when it was taken.
    bool add(const Frame& frame, bool align);

    int frames() const { return frames_; }
    const Frame& average() const { return average_; }
    Frame& average() { return average_; }

private:
    Frame average_{};
    int frames_ = 0;
    double lastMean_ = 0.0;
    CentroidPoint reference_;
};

}  // namespace tarvi
