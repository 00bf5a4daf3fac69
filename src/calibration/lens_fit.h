#pragma once
// Whether an intrinsic calibration's lens model fits its views, and whether
// the board they show was flat: warnings that name the likely cause and the
// remedy.
//
// - The model does not fit when the RMS reprojection error is above
//   POOR_FIT_RMS (corners are found to about 0.1 px, so a sound fit stays
//   well below), or when the residuals grow towards the image corners: the
//   points beyond three quarters of the way from the principal point to the
//   farthest image corner have an RMS error RING_GROWTH times that of the
//   points within half the way, and above RING_MIN_OUTER_RMS. The other
//   models are then fitted too (lens_choice.h) and the one that fits is
//   named.
// - The board was bent when a calibration with board flex would move away
//   from a flat board: the bend one Gauss-Newton step takes
//   (boardBendStep) is BEND_SIGNIFICANCE times its standard deviation and
//   at least BEND_MIN_CELLS.

#include <string>
#include <vector>

#include "calibration/camera_calibration.h"

constexpr double POOR_FIT_RMS = 0.5;          // pixels
constexpr double RING_GROWTH = 3.0;
constexpr double RING_MIN_OUTER_RMS = 0.2;    // pixels
constexpr int RING_MIN_POINTS = 20;
constexpr double BEND_SIGNIFICANCE = 5.0;
constexpr double BEND_MIN_CELLS = 0.02;

// The RMS reprojection error of the points near the principal point and of
// those towards the image corners (see above), with their counts.
struct ResidualRings {
    double innerRms = 0;
    double outerRms = 0;
    int innerPoints = 0;
    int outerPoints = 0;
    bool growsOutwards() const;
};

// The residuals of the calibration `result` of `views` (its record and one
// pose per view; a bend it estimated included) by ring.
ResidualRings residualRings(const CalibrationViews& views, const IntrinsicResult& result, cv::Size imageSize);

// The warnings about the fit of `result`, calibrated from `views` at
// `imageSize` with `options` (which say whether the model was chosen and
// whether the bend was estimated; the other models are fitted with them
// when the model does not fit). Empty when the fit is sound.
std::vector<std::string> lensFitWarnings(const CalibrationViews& views, const IntrinsicResult& result,
                                         cv::Size imageSize, const IntrinsicOptions& options);

// "board bends 0.11 cells at its centre (0.110 ± 0.002 along x, 0.000 ±
// 0.002 along y)", with " (2.8 mm)" after the cells when `cellMm` > 0.
std::string boardFlexLine(const BoardFlex& flex, double cellMm = 0.0);
