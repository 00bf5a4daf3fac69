#pragma once
// How well the last calibrations fit their views. Kept beside the
// calibration record (which holds only the 25 numbers the files store).

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/board_flex.h"
#include "calibration/lens_model.h"
struct CalibrationInsight;

struct CalibrationStats {
    bool valid = false;                 // an intrinsic calibration has filled these
    std::vector<int> frames;            // the frames used, in increasing order
    std::vector<int> pointCounts;       // their point counts
    std::vector<double> perViewErrors;  // RMS reprojection error of each used frame, pixels
    double rms = 0;                     // over all points of all used frames, pixels
    int framesOtherSize = 0;            // frames with points left out for their image size
    cv::Size imageSize;                 // the image size the calibration was made for
    // Standard deviations of fx, fy, cx, cy and the lens model's
    // coefficients (k1, k2, p1, p2 for the default model), and their
    // covariance (n x n row-major, n = 4 + the model's coefficient count;
    // empty when not known).
    std::array<double, MAX_INTRINSIC_PARAMETERS> stdDeviations{};
    std::vector<double> covariance;
    std::string solver;                 // the solver that ran: "library" or "sparse"
    // When the model was chosen from the views: why, and every model's RMS
    // (negative where it could not be fitted).
    std::string modelChoice;
    std::vector<std::pair<LensModel, double>> modelCandidates;
    BoardFlex flex;                     // the board's bend, when it was estimated

    // Views of the last intrinsic calibration that are not copies of one
    // another, and what makes its result doubtful (empty: nothing).
    int distinctViews = 0;
    std::vector<std::string> warnings;

    // The last extrinsic calibration that succeeded: its frame (-1: none)
    // and the reprojection error of its pose, pixels.
    int extrinsicFrame = -1;
    double extrinsicRms = 0;
    // The frame whose pose the record's rotation and translation hold: the
    // first frame of an intrinsic calibration or the extrinsic calibration's
    // frame; -1 when it is no frame of the list (none, or a loaded pose).
    int poseFrame = -1;

    // The residuals, poses, coverage and uncertainty of the last intrinsic
    // calibration (calibration_insight.h); null without one.
    std::shared_ptr<const CalibrationInsight> insight;

    // Forgets what refers to frames by index, for when the frame list is
    // replaced; the figures of the calibration itself stay.
    void forgetFrames() {
        frames.clear();
        pointCounts.clear();
        perViewErrors.clear();
        extrinsicFrame = -1;
        poseFrame = -1;
        insight.reset();
    }

    // Frame `frame` left the list and the frames after it moved down by
    // one. When the calibration used it, its figures no longer name their
    // frames (as forgetFrames).
    void removeFrame(int frame) {
        if (std::find(frames.begin(), frames.end(), frame) != frames.end()) {
            forgetFrames();
            return;
        }
        const auto shift = [frame](int& f) { f = f == frame ? -1 : f > frame ? f - 1 : f; };
        for (int& f : frames) shift(f);
        shift(extrinsicFrame);
        shift(poseFrame);
    }

    // The frame's RMS error, or a negative value when it was not used.
    double frameError(int frame) const {
        for (std::size_t i = 0; i < frames.size() && i < perViewErrors.size(); ++i)
            if (frames[i] == frame) return perViewErrors[i];
        return -1.0;
    }
};
