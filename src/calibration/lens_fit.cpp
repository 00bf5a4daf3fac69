#include "calibration/lens_fit.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

#include "calibration/fisheye_start.h"
#include "calibration/fixed_format.h"
#include "calibration/lens_choice.h"
#include "calibration/lens_projection.h"
#include "calibration/sparse_calibration.h"

namespace {

// A remedy is only named when the other model is clearly better.
constexpr double BETTER_FACTOR = 0.67;

std::string cells(double value) { return vexel::formatDecimals(value, 2) + " cells"; }

// The model whose fit the views prefer, when it is another than `current`
// and clearly better; empty otherwise.
std::string betterModel(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options,
                        const IntrinsicResult& current) {
    IntrinsicOptions choose = options;
    choose.chooseModel = true;
    try {
        const IntrinsicResult chosen = chooseLensModel(views, imageSize, choose);
        if (chosen.record.model != current.record.model && chosen.rms < BETTER_FACTOR * current.rms)
            return lensModelName(chosen.record.model);
    } catch (const cv::Exception&) {
    }
    return {};
}

// When no lens model explains a poor fit, a bent board may: the line that
// says so when a calibration with board flex fits clearly better; empty
// otherwise (views of two cameras, a moved board, wrong points).
std::string bentBoardCause(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options,
                           const IntrinsicResult& current) {
    if (options.boardFlex) return {};
    IntrinsicOptions flex = options;
    flex.chooseModel = false;
    flex.model = current.record.model;
    flex.boardFlex = true;
    flex.solver = IntrinsicSolver::Sparse;  // the only one that estimates a bend
    try {
        const IntrinsicResult bent = calibrateIntrinsic(views, imageSize, flex);
        if (bent.flex.estimated && bent.rms < BETTER_FACTOR * current.rms)
            return "the board seems bent: with --board-flex it bends " + cells(bent.flex.atCentre()) +
                   " at its centre and the RMS error is " + vexel::formatDecimals(bent.rms, 2) +
                   " px; glue the print to something flat, or calibrate with --board-flex";
    } catch (const cv::Exception&) {
    }
    return {};
}

}  // namespace

bool ResidualRings::growsOutwards() const {
    return innerPoints >= RING_MIN_POINTS && outerPoints >= RING_MIN_POINTS && outerRms > RING_MIN_OUTER_RMS &&
           outerRms > RING_GROWTH * innerRms;
}

ResidualRings residualRings(const CalibrationViews& views, const IntrinsicResult& result, cv::Size imageSize) {
    ResidualRings rings;
    const LensCamera camera = lensCameraOf(result.record);
    if (!usableLensCamera(camera) || result.poses.size() != static_cast<std::size_t>(views.viewCount()))
        return rings;
    const cv::Point2d centre(result.record.cx(), result.record.cy());
    double reach = 0;
    for (cv::Point2d corner : {cv::Point2d(-0.5, -0.5), cv::Point2d(imageSize.width - 0.5, -0.5),
                               cv::Point2d(-0.5, imageSize.height - 0.5),
                               cv::Point2d(imageSize.width - 0.5, imageSize.height - 0.5)})
        reach = std::max(reach, cv::norm(corner - centre));
    if (!(reach > 0)) return rings;

    double innerSum = 0, outerSum = 0;
    for (int v = 0; v < views.viewCount(); ++v) {
        std::vector<cv::Point3f> object = views.objectPoints[v];
        if (result.flex.estimated) {
            for (cv::Point3f& p : object) {
                double alongX, alongY;
                boardFlexShape(p.x, p.y, alongX, alongY);
                p.z += static_cast<float>(result.flex.alongX * alongX + result.flex.alongY * alongY);
            }
        }
        const FramePose& pose = result.poses[static_cast<std::size_t>(v)];
        std::vector<cv::Point2f> projected;
        projectLensPoints(camera, object, pose.rotation, pose.translation, projected);
        for (std::size_t i = 0; i < projected.size(); ++i) {
            const cv::Point2f& seen = views.imagePoints[v][i];
            const cv::Point2f d = projected[i] - seen;
            const double squared = static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y;
            const double share = cv::norm(cv::Point2d(seen) - centre) / reach;
            if (share < 0.5) {
                innerSum += squared;
                ++rings.innerPoints;
            } else if (share >= 0.75) {
                outerSum += squared;
                ++rings.outerPoints;
            }
        }
    }
    if (rings.innerPoints > 0) rings.innerRms = std::sqrt(innerSum / rings.innerPoints);
    if (rings.outerPoints > 0) rings.outerRms = std::sqrt(outerSum / rings.outerPoints);
    return rings;
}

std::vector<std::string> lensFitWarnings(const CalibrationViews& allViews, const IntrinsicResult& result,
                                         cv::Size imageSize, const IntrinsicOptions& options) {
    std::vector<std::string> warnings;
    if (result.pointsBeyondModel > 0)
        warnings.push_back(std::to_string(result.pointsBeyondModel) +
                           (result.pointsBeyondModel == 1 ? " point lies" : " points lie") +
                           " 88 degrees or more off the optical axis, beyond what the fisheye model describes; "
                           "left out of the calibration");
    // A fisheye calibration fits only the points within the model's reach.
    CalibrationViews views = allViews;
    if (result.record.model == LensModel::Fisheye) {
        int leftOut = 0;
        try {
            views = withinFisheyeReach(allViews, lensCameraOf(result.record), leftOut);
        } catch (const cv::Exception&) {
        }
    }

    const ResidualRings rings = residualRings(views, result, imageSize);
    const bool outwards = rings.growsOutwards();
    if (outwards || result.rms > POOR_FIT_RMS) {
        std::string warning = "the lens model does not fit: ";
        if (outwards)
            warning += "residuals grow towards the image corners";
        else
            warning += "the RMS reprojection error " + vexel::formatDecimals(result.rms, 2) +
                       " px is far above what the corners allow";
        const std::string better =
            options.chooseModel ? std::string() : betterModel(allViews, imageSize, options, result);
        const std::string bent = better.empty() ? bentBoardCause(allViews, imageSize, options, result) : std::string();
        if (!better.empty())
            warning += "; try --model " + better;
        else if (!bent.empty())
            warning += "; no other lens model fits better";
        else
            warning += "; no other lens model fits better: look at the frames with the largest errors";
        warnings.push_back(warning);
        if (!bent.empty()) warnings.push_back(bent);
        // A lens model that does not fit leaves systematic residuals of its
        // own: only a sound fit can tell a bent board.
        return warnings;
    }

    if (!options.boardFlex && !result.poses.empty()) {
        try {
            const BoardFlex step = boardBendStep(views, result.record, poseVectors(result.poses));
            const double significance = std::max(std::abs(step.alongX) / std::max(step.sdX, 1e-300),
                                                 std::abs(step.alongY) / std::max(step.sdY, 1e-300));
            const double size = std::max(std::abs(step.alongX), std::abs(step.alongY));
            if (significance > BEND_SIGNIFICANCE && size >= BEND_MIN_CELLS)
                warnings.push_back("the board seems bent: the residuals show a bend of " + cells(step.atCentre()) +
                                   " at its centre (" + cells(step.alongX) + " along x, " + cells(step.alongY) +
                                   " along y); glue the print to something flat, or calibrate with --board-flex");
        } catch (const cv::Exception&) {
        }
    }
    return warnings;
}

std::string boardFlexLine(const BoardFlex& flex, double cellMm) {
    std::string line = "board bends " + cells(flex.atCentre());
    if (cellMm > 0) line += " (" + vexel::formatDecimals(flex.atCentre() * cellMm, 1) + " mm)";
    line += " at its centre (" + vexel::formatDecimals(flex.alongX, 3) + " \u00b1 " +
            vexel::formatDecimals(flex.sdX, 3) + " along x, " + vexel::formatDecimals(flex.alongY, 3) + " \u00b1 " +
            vexel::formatDecimals(flex.sdY, 3) + " along y)";
    return line;
}
