#pragma once
// How well the views of a calibration cover what a calibration needs: the
// image area (where the lens is seen), the board's tilt (which separates
// focal length from distance) and its distance, each against a mark that
// is good enough, and a one-line verdict that says what picture to take
// next.

#include <array>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/camera_calibration.h"
#include "calibration/camera_model.h"

// Good enough: this share of the image inside some view's board outline,
// and at least GOOD_ZONE_SHARE of each ninth of the image (3 x 3).
constexpr double GOOD_IMAGE_SHARE = 0.6;
constexpr double GOOD_ZONE_SHARE = 0.25;
// Good enough: some view tilted by this much (degrees between the board's
// normal and the optical axis).
constexpr double GOOD_LARGEST_TILT = 30.0;
// Good enough: the farthest board this many times as far as the nearest.
constexpr double GOOD_DISTANCE_RATIO = 1.3;

struct CoverageFigures {
    double imageShare = 0;              // share of the image inside some view's board outline
    std::array<double, 9> zoneShares{}; // the same per ninth of the image, row by row from the top left
    double smallestTilt = 0;            // degrees
    double largestTilt = 0;
    double nearest = 0;                 // distance of the board's centre from the camera, pattern units
    double farthest = 0;
    double typicalDepth = 0;            // the median depth of the boards' centres, pattern units
};

// The figures of the views with their poses in an image of `imageSize`.
// The board outline of a view is the convex hull of its image points.
CoverageFigures coverageFigures(const CalibrationViews& views, const std::vector<FramePose>& poses,
                                cv::Size imageSize);

struct CoverageVerdict {
    bool imageGood = false;
    bool tiltGood = false;
    bool distanceGood = false;
    bool good() const { return imageGood && tiltGood && distanceGood; }
    // "coverage good; tilt range small: add views tilted by 30-50 degrees; distance range good"
    std::string line;
};

CoverageVerdict coverageVerdict(const CoverageFigures& figures);

// The figures, each beside its mark: "image covered: 45 % (good enough: 60 %
// and a quarter of every ninth)", "tilts: 0.5 to 4.2 degrees (good enough:
// 30 degrees or more)", "distances: 17.8 to 18.4 cells (good enough:
// farthest 1.3 x nearest)".
std::vector<std::string> coverageLines(const CoverageFigures& figures);
