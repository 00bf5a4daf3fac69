#include "calibration/camera_calibration.h"

#include <cmath>
#include <numeric>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "calibration/sparse_calibration.h"

int CalibrationViews::totalPoints() const {
    int total = 0;
    for (const auto& view : imagePoints) total += static_cast<int>(view.size());
    return total;
}

std::vector<int> CalibrationViews::pointCounts() const {
    std::vector<int> counts;
    for (const auto& view : imagePoints) counts.push_back(static_cast<int>(view.size()));
    return counts;
}

const char* solverName(IntrinsicSolver solver) {
    switch (solver) {
    case IntrinsicSolver::Library: return "library";
    case IntrinsicSolver::Sparse: return "sparse";
    case IntrinsicSolver::Auto: break;
    }
    return "auto";
}

bool parseSolverName(const std::string& name, IntrinsicSolver& solver) {
    for (IntrinsicSolver s : {IntrinsicSolver::Auto, IntrinsicSolver::Library, IntrinsicSolver::Sparse}) {
        if (name == solverName(s)) {
            solver = s;
            return true;
        }
    }
    return false;
}

namespace {

IntrinsicResult calibrateWithLibrary(const CalibrationViews& views, cv::Size imageSize,
                                     const cv::TermCriteria& criteria) {
    cv::Mat cameraMatrix = cv::Mat::zeros(3, 3, CV_64F);
    cv::Mat distortion = cv::Mat::zeros(4, 1, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    cv::Mat stdDevIntrinsic, stdDevExtrinsic, perViewErrors;
    double rms = cv::calibrateCamera(views.objectPoints, views.imagePoints, imageSize, cameraMatrix, distortion, rvecs,
                                     tvecs, stdDevIntrinsic, stdDevExtrinsic, perViewErrors, cv::CALIB_FIX_K3, criteria);

    IntrinsicResult result;
    result.rms = rms;
    cv::Mat camera64;
    cameraMatrix.convertTo(camera64, CV_64F);
    for (int i = 0; i < 9; ++i) result.record.camera(i) = camera64.at<double>(i / 3, i % 3);

    cv::Mat dist64;
    distortion.convertTo(dist64, CV_64F);
    dist64 = dist64.reshape(1, 1);
    for (int i = 0; i < 4 && i < dist64.cols; ++i) result.record.distortion(i) = dist64.at<double>(0, i);

    if (!rvecs.empty() && !tvecs.empty()) {
        cv::Mat rotation;
        cv::Rodrigues(rvecs[0], rotation);
        rotation.convertTo(rotation, CV_64F);
        for (int i = 0; i < 9; ++i) result.record.rotation(i) = rotation.at<double>(i / 3, i % 3);
        cv::Mat t;
        tvecs[0].convertTo(t, CV_64F);
        for (int i = 0; i < 3; ++i) result.record.translation(i) = t.at<double>(i);
    }

    // A degenerate set of views can end in numbers that are no result.
    bool finite = std::isfinite(rms);
    for (double v : result.record.values) finite = finite && std::isfinite(v);
    if (!finite) CV_Error(cv::Error::StsNoConv, "the calibration produced no finite result");

    for (std::size_t v = 0; v < rvecs.size() && v < tvecs.size(); ++v) {
        cv::Mat r, t;
        rvecs[v].convertTo(r, CV_64F);
        tvecs[v].convertTo(t, CV_64F);
        result.poses.push_back({cv::Vec3d(r.ptr<double>()), cv::Vec3d(t.ptr<double>())});
    }

    cv::Mat errors;
    perViewErrors.convertTo(errors, CV_64F);
    for (int i = 0; i < static_cast<int>(errors.total()); ++i) result.perViewErrors.push_back(errors.at<double>(i));

    // The intrinsic deviations come in the order fx, fy, cx, cy, k1, k2, p1, p2, k3, ...
    cv::Mat deviations;
    stdDevIntrinsic.convertTo(deviations, CV_64F);
    for (int i = 0; i < 8 && i < static_cast<int>(deviations.total()); ++i)
        result.stdDeviations[static_cast<std::size_t>(i)] = deviations.at<double>(i);
    result.solver = IntrinsicSolver::Library;
    return result;
}

}  // namespace

IntrinsicResult calibrateIntrinsic(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options) {
    if (views.viewCount() == 0 || views.imagePoints.size() != views.objectPoints.size() ||
        static_cast<int>(views.imagePoints.size()) != views.viewCount())
        CV_Error(cv::Error::StsBadArg, "no views to calibrate from");

    bool sparse = options.solver == IntrinsicSolver::Sparse ||
                  (options.solver == IntrinsicSolver::Auto && views.viewCount() > LIBRARY_SOLVER_MAX_VIEWS);
    if (sparse) return calibrateSparse(views, imageSize, options);
    return calibrateWithLibrary(views, imageSize, options.libraryCriteria);
}

ExtrinsicResult calibrateExtrinsic(const std::vector<cv::Point2f>& imagePoints,
                                   const std::vector<cv::Point3f>& objectPoints, const CalibrationRecord& intrinsic) {
    if (imagePoints.size() < 4 || imagePoints.size() != objectPoints.size())
        CV_Error(cv::Error::StsBadArg, "a pose needs at least 4 point pairs");

    // The intrinsics go to the pose estimation as the single-precision values
    // the calibration interface works with.
    auto narrow = [](double v) { return static_cast<double>(static_cast<float>(v)); };
    cv::Matx33d camera(narrow(intrinsic.fx()), 0, narrow(intrinsic.cx()), 0, narrow(intrinsic.fy()),
                       narrow(intrinsic.cy()), 0, 0, 1);
    cv::Vec4d distortion(narrow(intrinsic.distortion(0)), narrow(intrinsic.distortion(1)),
                         narrow(intrinsic.distortion(2)), narrow(intrinsic.distortion(3)));

    cv::Mat rvec, tvec;
    bool solved = cv::solvePnP(objectPoints, imagePoints, camera, distortion, rvec, tvec, false, cv::SOLVEPNP_ITERATIVE);
    if (!solved) CV_Error(cv::Error::StsNoConv, "the pose estimation found no solution");

    ExtrinsicResult result;
    cv::Mat rotation;
    cv::Rodrigues(rvec, rotation);
    rotation.convertTo(rotation, CV_64F);
    for (int i = 0; i < 9; ++i) result.rotation[i] = rotation.at<double>(i / 3, i % 3);
    cv::Mat t;
    tvec.convertTo(t, CV_64F);
    for (int i = 0; i < 3; ++i) result.translation[i] = t.at<double>(i);

    bool finite = true;
    for (double v : result.rotation) finite = finite && std::isfinite(v);
    for (double v : result.translation) finite = finite && std::isfinite(v);
    if (!finite) CV_Error(cv::Error::StsNoConv, "the pose estimation produced no finite result");

    std::vector<cv::Point2f> projected;
    cv::projectPoints(objectPoints, rvec, tvec, camera, distortion, projected);
    double sum = 0;
    for (std::size_t i = 0; i < projected.size(); ++i) {
        cv::Point2f d = projected[i] - imagePoints[i];
        sum += static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y;
    }
    result.rms = std::sqrt(sum / static_cast<double>(projected.size()));
    return result;
}
