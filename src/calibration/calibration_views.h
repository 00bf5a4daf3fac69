#pragma once
// Gathers the calibration views from the grid record.

#include <functional>

#include "calibration/camera_calibration.h"

class GridSet;

// Every frame 0 to frameCount - 1 with at least 4 points, in increasing
// order, with its points in stored order (pattern z = 0). `accept`, when
// given, can leave further frames out.
CalibrationViews gatherCalibrationViews(const GridSet& set, int frameCount,
                                        const std::function<bool(int frame)>& accept = {});

// The point lists of one frame (empty when it has none).
void gatherFramePoints(const GridSet& set, int frame, std::vector<cv::Point2f>& imagePoints,
                       std::vector<cv::Point3f>& objectPoints);
