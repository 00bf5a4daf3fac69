#pragma once
// Gathers the calibration views from the grid record.

#include <functional>

#include "calibration/camera_calibration.h"

class GridSet;

// A frame takes part in the calibrations and the correspondence file only
// with at least this many points: a pose needs four.
constexpr int MIN_FRAME_POINTS = 4;

// Whether frame `frame` of the grid set has that many points.
bool frameHasView(const GridSet& set, int frame);

// Every frame 0 to frameCount - 1 with a view, in increasing
// order, with its points in stored order (pattern z = 0). `accept`, when
// given, can leave further frames out.
CalibrationViews gatherCalibrationViews(const GridSet& set, int frameCount,
                                        const std::function<bool(int frame)>& accept = {});

// The point lists of one frame (empty when it has none).
void gatherFramePoints(const GridSet& set, int frame, std::vector<cv::Point2f>& imagePoints,
                       std::vector<cv::Point3f>& objectPoints);
