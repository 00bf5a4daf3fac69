#pragma once
// The corners our extraction found, as the detector comparisons read them.

#include <vector>

#include <opencv2/core.hpp>

#include "grid/grid_set.h"

namespace vexel::bench {

// Appends the image positions of the corners found in frame 0 of `set` and
// the board labels they were given.
inline void foundCorners(const GridSet& set, std::vector<cv::Point2f>& image, std::vector<cv::Point2f>& pattern) {
    const int n = set.getPointCount(0);
    for (int i = 0; i < n; ++i) {
        GridPoint p{}, q{};
        if (!set.getImagePoint(0, i, p) || !set.getPatternPoint(0, i, q)) continue;
        image.emplace_back(p.x, p.y);
        pattern.emplace_back(q.x, q.y);
    }
}

}  // namespace vexel::bench
