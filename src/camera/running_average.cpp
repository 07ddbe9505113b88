#include "camera/running_average.h"

#include <algorithm>
#include <cstdint>

namespace tarvi {

double RunningAverage::imageMean(const Frame& frame)
{
    std::uint64_t sum = 0;
    for (const std::uint8_t v : frame)
        sum += v;
    return static_cast<double>(sum) / static_cast<double>(frame.size());
}

bool RunningAverage::add(const Frame& frame, bool align)
{
    const double mean = imageMean(frame);
    const CentroidPoint centroid = findCentroid(frame.data(), width, height);
    int dx = 0;
    int dy = 0;
    if (frames_ == 0) {
        reference_ = centroid;
    } else if (align) {
        dx = centroid.x - reference_.x;
        dy = centroid.y - reference_.y;
    }
    if (frames_ == 0) {
        lastMean_ = mean;
        average_ = frame;
        frames_ = 1;
        return true;
    }
    // A frame much darker than the last (a cloud, a slipped guide) is left out.
    if (mean < 0.9 * lastMean_)
        return false;
    lastMean_ = mean;
    const int n = frames_ + 1;
    for (int r = 0; r < height; ++r) {
        const int sourceRow = std::clamp(r + dy, 0, height - 1);
        for (int k = 0; k < width; ++k) {
            const int sourceCol = std::clamp(k + dx, 0, width - 1);
            const double s = frame[static_cast<std::size_t>(sourceRow) * width + sourceCol];
            std::uint8_t& a = average_[static_cast<std::size_t>(r) * width + k];
            a = static_cast<std::uint8_t>(s / n + a * static_cast<double>(n - 1) / n);
        }
    }
    frames_ = n;
    return true;
}

}  // namespace tarvi
