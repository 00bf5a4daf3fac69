#pragma once
// Grid records made by hand, for the tests of what reads them: frames that
// count as searched, and views of the pattern projected exactly under a
// known camera.

#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "grid/grid_set.h"

namespace vexel::test {

// The camera the views are projected with.
inline const cv::Matx33d VIEW_CAMERA(700, 0, 322, 0, 696, 238, 0, 0, 1);
inline const cv::Vec4d VIEW_DISTORTION(-0.18, 0.05, 0.0006, -0.0004);

// Sizes `set` for `count` frames, each searched at `size` and holding no point.
inline void searchedFrames(GridSet& set, int count, cv::Size size = {}) {
    set.allocate(count, 200);
    for (FrameGrid& record : set.frames) {
        record.searched = true;
        record.pointCount = 0;
        record.size = size;
    }
}

// Frame `frame` holds the exact projections of the first `count` of the
// pattern's 110 corners (row by row from (-5, -5)) seen from the pose
// `rvec`, `tvec`.
inline void projectView(GridSet& set, int frame, int count, cv::Vec3d rvec = {0.1, 0.2, 0.3},
                        cv::Vec3d tvec = {0.2, -0.1, 26}) {
    std::vector<cv::Point3f> object;
    for (int y = -5; y <= 5; ++y)
        for (int x = -5; x <= 4; ++x) object.emplace_back(static_cast<float>(x), static_cast<float>(y), 0.0f);
    object.resize(static_cast<std::size_t>(count));
    std::vector<cv::Point2f> image;
    if (count > 0) cv::projectPoints(object, rvec, tvec, VIEW_CAMERA, VIEW_DISTORTION, image);
    FrameGrid& record = set.frames[static_cast<std::size_t>(frame)];
    record.pointCount = count;
    for (std::size_t j = 0; j < object.size(); ++j) {
        record.patternPoints[j] = {object[j].x, object[j].y};
        record.imagePoints[j] = {image[j].x, image[j].y};
    }
}

// Frames 0 .. count - 1 hold all 110 corners, each from a pose of its own.
inline void projectViews(GridSet& set, int count) {
    const cv::Vec3d rvecs[] = {{0.05, 0.02, 0.1}, {0.5, 0.1, -0.3}, {-0.45, 0.3, 0.8},
                               {0.2, -0.55, 1.6}, {-0.3, -0.4, -1.2}, {0.6, 0.5, 2.5}};
    for (int f = 0; f < count; ++f) projectView(set, f, 110, rvecs[f % 6], {0.1 * f, -0.05 * f, 25.0 + f});
}

}  // namespace vexel::test

using vexel::test::projectView;
using vexel::test::projectViews;
using vexel::test::searchedFrames;
