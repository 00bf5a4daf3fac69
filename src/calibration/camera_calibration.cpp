#include "calibration/camera_calibration.h"

#include <cmath>
#include <numeric>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "calibration/fisheye_start.h"
#include "calibration/lens_choice.h"
#include "calibration/lens_projection.h"
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

void storePose(CalibrationRecord& record, const cv::Mat& rvec, const cv::Mat& tvec) {
    cv::Mat rotation;
    cv::Rodrigues(rvec, rotation);
    rotation.convertTo(rotation, CV_64F);
    for (int i = 0; i < 9; ++i) record.rotation(i) = rotation.at<double>(i / 3, i % 3);
    cv::Mat t;
    tvec.convertTo(t, CV_64F);
    for (int i = 0; i < 3; ++i) record.translation(i) = t.at<double>(i);
}

std::vector<FramePose> posesOf(const std::vector<cv::Mat>& rvecs, const std::vector<cv::Mat>& tvecs) {
    std::vector<FramePose> poses;
    for (std::size_t v = 0; v < rvecs.size() && v < tvecs.size(); ++v) {
        cv::Mat r, t;
        rvecs[v].convertTo(r, CV_64F);
        tvecs[v].convertTo(t, CV_64F);
        poses.push_back({cv::Vec3d(r.ptr<double>()), cv::Vec3d(t.ptr<double>())});
    }
    return poses;
}

void requireFinite(const IntrinsicResult& result) {
    // A degenerate set of views can end in numbers that are no result.
    bool finite = std::isfinite(result.rms);
    for (double v : result.record.values) finite = finite && std::isfinite(v);
    for (double v : result.record.moreDistortion) finite = finite && std::isfinite(v);
    if (!finite) CV_Error(cv::Error::StsNoConv, "the calibration produced no finite result");
}

// The covariance of the intrinsics at the library's solution, as the sparse
// solver estimates it (the library gives their deviations only).
void addCovariance(const CalibrationViews& views, IntrinsicResult& result) {
    IntrinsicResult described;
    try {
        describeFit(views, result.record, poseVectors(result.poses), described);
        result.covariance = described.covariance;
    } catch (const cv::Exception&) {
        // Views the fit cannot describe (fewer than 4 points) leave it unknown.
    }
}

// The models of the library's calibrateCamera: the default with k3 held at
// 0, opencv5 with k3, rational with the rational model's flag. With `start`,
// the fit begins at its camera and coefficients (those it lacks at 0)
// instead of the library's own starting camera.
IntrinsicResult calibrateWithLibrary(const CalibrationViews& views, cv::Size imageSize, LensModel model,
                                     const cv::TermCriteria& criteria, const CalibrationRecord* start = nullptr) {
    const int count = lensCoefficientCount(model);
    int flags = model == LensModel::OpenCv4    ? cv::CALIB_FIX_K3
                : model == LensModel::Rational ? cv::CALIB_RATIONAL_MODEL
                                               : 0;
    cv::Mat cameraMatrix = cv::Mat::zeros(3, 3, CV_64F);
    cv::Mat distortion = cv::Mat::zeros(count, 1, CV_64F);
    if (start) {
        flags |= cv::CALIB_USE_INTRINSIC_GUESS;
        for (int i = 0; i < 9; ++i) cameraMatrix.at<double>(i / 3, i % 3) = start->camera(static_cast<std::size_t>(i));
        for (int i = 0; i < count && i < lensCoefficientCount(start->model); ++i)
            distortion.at<double>(i) = start->distortion(static_cast<std::size_t>(i));
    }
    std::vector<cv::Mat> rvecs, tvecs;
    cv::Mat stdDevIntrinsic, stdDevExtrinsic, perViewErrors;
    double rms = cv::calibrateCamera(views.objectPoints, views.imagePoints, imageSize, cameraMatrix, distortion, rvecs,
                                     tvecs, stdDevIntrinsic, stdDevExtrinsic, perViewErrors, flags, criteria);

    IntrinsicResult result;
    result.rms = rms;
    cv::Mat camera64;
    cameraMatrix.convertTo(camera64, CV_64F);
    for (int i = 0; i < 9; ++i) result.record.camera(i) = camera64.at<double>(i / 3, i % 3);

    cv::Mat dist64;
    distortion.convertTo(dist64, CV_64F);
    dist64 = dist64.reshape(1, 1);
    result.record.model = model;
    for (int i = 0; i < count && i < dist64.cols; ++i) result.record.distortion(i) = dist64.at<double>(0, i);

    if (!rvecs.empty() && !tvecs.empty()) storePose(result.record, rvecs[0], tvecs[0]);
    requireFinite(result);

    cv::Mat errors;
    perViewErrors.convertTo(errors, CV_64F);
    for (int i = 0; i < static_cast<int>(errors.total()); ++i) result.perViewErrors.push_back(errors.at<double>(i));

    // The intrinsic deviations come in the order fx, fy, cx, cy, k1, k2, p1, p2, k3, ...
    cv::Mat deviations;
    stdDevIntrinsic.convertTo(deviations, CV_64F);
    for (int i = 0; i < 4 + count && i < static_cast<int>(deviations.total()); ++i)
        result.stdDeviations[static_cast<std::size_t>(i)] = deviations.at<double>(i);
    result.solver = IntrinsicSolver::Library;
    result.poses = posesOf(rvecs, tvecs);
    addCovariance(views, result);
    return result;
}

// The library's fisheye calibration (skew held at 0) from the starting
// camera of fisheye_start.h. It gives no deviations; they, the errors and
// the covariance come from the fit.
IntrinsicResult calibrateFisheyeWithLibrary(const CalibrationViews& views, cv::Size imageSize,
                                            const cv::TermCriteria& criteria) {
    cv::Matx33d camera = fisheyeStartingCamera(views, imageSize);
    cv::Vec4d distortion(0, 0, 0, 0);
    std::vector<cv::Mat> rvecs, tvecs;
    // Its own default is 100 iterations, more than calibrateCamera's 30.
    const cv::TermCriteria fisheyeCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS,
                                           std::max(100, criteria.maxCount), criteria.epsilon);
    cv::fisheye::calibrate(views.objectPoints, views.imagePoints, imageSize, camera, distortion, rvecs, tvecs,
                           cv::fisheye::CALIB_USE_INTRINSIC_GUESS | cv::fisheye::CALIB_RECOMPUTE_EXTRINSIC |
                               cv::fisheye::CALIB_FIX_SKEW,
                           fisheyeCriteria);

    IntrinsicResult result;
    for (int i = 0; i < 9; ++i) result.record.camera(i) = camera(i / 3, i % 3);
    result.record.setLens(LensModel::Fisheye, {distortion[0], distortion[1], distortion[2], distortion[3]});
    if (!rvecs.empty() && !tvecs.empty()) storePose(result.record, rvecs[0], tvecs[0]);
    result.poses = posesOf(rvecs, tvecs);
    if (result.poses.size() != static_cast<std::size_t>(views.viewCount()))
        CV_Error(cv::Error::StsNoConv, "the fisheye calibration gave no pose for every view");
    describeFit(views, result.record, poseVectors(result.poses), result);
    result.solver = IntrinsicSolver::Library;
    requireFinite(result);
    return result;
}

IntrinsicResult calibrateModel(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options) {
    bool sparse = options.solver == IntrinsicSolver::Sparse || options.boardFlex ||
                  (options.solver == IntrinsicSolver::Auto && views.viewCount() > LIBRARY_SOLVER_MAX_VIEWS);
    if (sparse) return calibrateSparse(views, imageSize, options);
    if (options.model == LensModel::Fisheye)
        return calibrateFisheyeWithLibrary(views, imageSize, options.libraryCriteria);
    IntrinsicResult result = calibrateWithLibrary(views, imageSize, options.model, options.libraryCriteria);
    if (options.model == LensModel::OpenCv4) return result;
    // From the library's own start the higher models can run off to a far
    // worse minimum on strongly distorted views (the rational model to
    // several pixels where it fits to a tenth). The fit is tried again from
    // the next simpler model's result, and the better of the two is kept.
    IntrinsicOptions simpler = options;
    simpler.model = options.model == LensModel::Rational ? LensModel::OpenCv5 : LensModel::OpenCv4;
    try {
        const IntrinsicResult base = calibrateModel(views, imageSize, simpler);
        IntrinsicResult guided =
            calibrateWithLibrary(views, imageSize, options.model, options.libraryCriteria, &base.record);
        if (guided.rms < result.rms) result = std::move(guided);
    } catch (const cv::Exception&) {
        // The first fit stands.
    }
    return result;
}

}  // namespace

IntrinsicResult calibrateIntrinsic(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options) {
    if (views.viewCount() == 0 || views.imagePoints.size() != views.objectPoints.size() ||
        static_cast<int>(views.imagePoints.size()) != views.viewCount())
        CV_Error(cv::Error::StsBadArg, "no views to calibrate from");
    if (options.boardFlex && options.solver == IntrinsicSolver::Library)
        CV_Error(cv::Error::StsBadArg, "only the sparse solver estimates the board's bend");
    if (options.chooseModel) return chooseLensModel(views, imageSize, options);
    if (options.model != LensModel::Fisheye) return calibrateModel(views, imageSize, options);

    // Both solvers see only the points the fisheye model can describe.
    LensCamera start;
    start.model = LensModel::Fisheye;
    start.matrix = fisheyeStartingCamera(views, imageSize);
    int leftOut = 0;
    IntrinsicResult result = calibrateModel(withinFisheyeReach(views, start, leftOut), imageSize, options);
    result.pointsBeyondModel = leftOut;
    return result;
}

namespace {

// The pose of a view through a lens of another model than the default.
ExtrinsicResult lensExtrinsic(const std::vector<cv::Point2f>& imagePoints,
                              const std::vector<cv::Point3f>& objectPoints, const CalibrationRecord& intrinsic) {
    const LensCamera camera = lensCameraOf(intrinsic);
    if (!usableLensCamera(camera)) CV_Error(cv::Error::StsBadArg, "the calibration has no usable camera");
    cv::Vec3d rvec, tvec;
    if (!solveLensPose(camera, objectPoints, imagePoints, rvec, tvec))
        CV_Error(cv::Error::StsNoConv, "the pose estimation found no solution");
    ExtrinsicResult result;
    cv::Matx33d rotation;
    cv::Rodrigues(rvec, rotation);
    for (int i = 0; i < 9; ++i) result.rotation[i] = rotation(i / 3, i % 3);
    for (int i = 0; i < 3; ++i) result.translation[i] = tvec[i];
    bool finite = true;
    for (double v : result.rotation) finite = finite && std::isfinite(v);
    for (double v : result.translation) finite = finite && std::isfinite(v);
    if (!finite) CV_Error(cv::Error::StsNoConv, "the pose estimation produced no finite result");
    std::vector<cv::Point2f> projected;
    projectLensPoints(camera, objectPoints, rvec, tvec, projected);
    double sum = 0;
    for (std::size_t i = 0; i < projected.size(); ++i) {
        cv::Point2f d = projected[i] - imagePoints[i];
        sum += static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y;
    }
    result.rms = std::sqrt(sum / static_cast<double>(projected.size()));
    return result;
}

}  // namespace

ExtrinsicResult calibrateExtrinsic(const std::vector<cv::Point2f>& imagePoints,
                                   const std::vector<cv::Point3f>& objectPoints, const CalibrationRecord& intrinsic) {
    if (imagePoints.size() < 4 || imagePoints.size() != objectPoints.size())
        CV_Error(cv::Error::StsBadArg, "a pose needs at least 4 point pairs");

    if (intrinsic.model != LensModel::OpenCv4) return lensExtrinsic(imagePoints, objectPoints, intrinsic);

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
