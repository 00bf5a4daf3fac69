#pragma once
// Choosing the lens model from the views (--model auto): every model is
// fitted to the same correspondences, and the simplest whose fit is not
// clearly worse than the best one's is kept. Simplest means fewest
// parameters, the default model first among equals: opencv4 and fisheye
// (8), opencv5 (9), rational (12). Not clearly worse means an RMS
// reprojection error at most CHOICE_RMS_FACTOR times the best one plus
// CHOICE_RMS_SLACK: a model that cannot describe the lens leaves errors many
// times the corners' accuracy, while a richer model than the lens needs
// gains only a few per cent from fitting the noise.

#include "calibration/camera_calibration.h"

constexpr double CHOICE_RMS_FACTOR = 1.05;
constexpr double CHOICE_RMS_SLACK = 0.005;  // pixels

// The models in the order they are preferred.
const std::vector<LensModel>& modelsSimplestFirst();

// Calibrates with every model (options.model and chooseModel are ignored)
// and returns the chosen model's result, with modelChoice saying why and
// candidates every model's RMS (negative where its calibration failed).
// Throws cv::Exception when no model could be fitted.
IntrinsicResult chooseLensModel(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options);
