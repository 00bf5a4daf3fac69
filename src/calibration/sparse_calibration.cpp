#include "calibration/sparse_calibration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ceres/ceres.h>
#include <ceres/rotation.h>
#include <Eigen/Dense>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

namespace {

constexpr int INTRINSICS = 8;  // fx, fy, cx, cy, k1, k2, p1, p2
constexpr int POSE = 6;        // rotation vector, translation

using Pose = std::array<double, POSE>;
using Matrix8 = Eigen::Matrix<double, INTRINSICS, INTRINSICS>;

// The reprojection residuals of one view, (u - u_observed, v - v_observed)
// per point, and their derivatives by the intrinsics and the view's pose.
// The projection: X_c = R(rvec) X + t, x = X_c / Z_c, y = Y_c / Z_c,
// r^2 = x^2 + y^2,
//   x_d = x (1 + k1 r^2 + k2 r^4) + 2 p1 x y + p2 (r^2 + 2 x^2)
//   y_d = y (1 + k1 r^2 + k2 r^4) + p1 (r^2 + 2 y^2) + 2 p2 x y
//   u = fx x_d + cx,  v = fy y_d + cy.
// The rotation and its derivatives by the rotation vector are computed once
// per view; every point's derivatives then follow by the chain rule.
class ViewReprojection final : public ceres::CostFunction {
public:
    ViewReprojection(const std::vector<cv::Point3f>& object, const std::vector<cv::Point2f>& image) {
        m_object.reserve(object.size() * 3);
        for (const cv::Point3f& p : object) m_object.insert(m_object.end(), {p.x, p.y, p.z});
        m_image.reserve(image.size() * 2);
        for (const cv::Point2f& p : image) m_image.insert(m_image.end(), {p.x, p.y});
        set_num_residuals(static_cast<int>(image.size()) * 2);
        *mutable_parameter_block_sizes() = {INTRINSICS, POSE};
    }

    int pointCount() const { return static_cast<int>(m_image.size() / 2); }

    bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override {
        const double* k = parameters[0];
        const double* pose = parameters[1];
        const double fx = k[0], fy = k[1], cx = k[2], cy = k[3], k1 = k[4], k2 = k[5], p1 = k[6], p2 = k[7];
        double* jIntrinsic = jacobians ? jacobians[0] : nullptr;
        double* jPose = jacobians ? jacobians[1] : nullptr;

        // R (row-major) with dR/drvec from a three-dimensional jet.
        using Jet = ceres::Jet<double, 3>;
        Jet w[3] = {Jet(pose[0], 0), Jet(pose[1], 1), Jet(pose[2], 2)};
        Jet rj[9];
        ceres::AngleAxisToRotationMatrix(w, ceres::RowMajorAdapter3x3(rj));
        double r[9], dr[3][9];
        for (int i = 0; i < 9; ++i) {
            r[i] = rj[i].a;
            for (int d = 0; d < 3; ++d) dr[d][i] = rj[i].v[d];
        }

        const int n = pointCount();
        for (int i = 0; i < n; ++i) {
            const double* X = &m_object[3 * static_cast<std::size_t>(i)];
            const double xc = r[0] * X[0] + r[1] * X[1] + r[2] * X[2] + pose[3];
            const double yc = r[3] * X[0] + r[4] * X[1] + r[5] * X[2] + pose[4];
            const double zc = r[6] * X[0] + r[7] * X[1] + r[8] * X[2] + pose[5];
            const double iz = zc != 0 ? 1.0 / zc : 1.0;
            const double x = xc * iz, y = yc * iz;
            const double r2 = x * x + y * y;
            const double radial = 1 + r2 * (k1 + k2 * r2);
            const double a1 = 2 * x * y, a2 = r2 + 2 * x * x, a3 = r2 + 2 * y * y;
            const double xd = x * radial + p1 * a1 + p2 * a2;
            const double yd = y * radial + p1 * a3 + p2 * a1;
            double* res = residuals + 2 * i;
            res[0] = fx * xd + cx - m_image[2 * static_cast<std::size_t>(i)];
            res[1] = fy * yd + cy - m_image[2 * static_cast<std::size_t>(i) + 1];

            if (jIntrinsic) {
                double* ju = jIntrinsic + (2 * i) * INTRINSICS;
                double* jv = ju + INTRINSICS;
                const double ur2 = r2 * r2;
                ju[0] = xd, ju[1] = 0, ju[2] = 1, ju[3] = 0;
                ju[4] = fx * x * r2, ju[5] = fx * x * ur2, ju[6] = fx * a1, ju[7] = fx * a2;
                jv[0] = 0, jv[1] = yd, jv[2] = 0, jv[3] = 1;
                jv[4] = fy * y * r2, jv[5] = fy * y * ur2, jv[6] = fy * a3, jv[7] = fy * a1;
            }
            if (jPose) {
                // d(x_d, y_d) / d(x, y)
                const double dRadial = 2 * (k1 + 2 * k2 * r2);  // d radial / d r^2, times 2
                const double dxdx = radial + x * x * dRadial + 2 * p1 * y + 6 * p2 * x;
                const double dxdy = x * y * dRadial + 2 * p1 * x + 2 * p2 * y;
                const double dydy = radial + y * y * dRadial + 6 * p1 * y + 2 * p2 * x;
                // d(u, v) / d(X_c, Y_c, Z_c)
                const double dux = fx * dxdx * iz, duy = fx * dxdy * iz, duz = -(dux * x + duy * y);
                const double dvx = fy * dxdy * iz, dvy = fy * dydy * iz, dvz = -(dvx * x + dvy * y);
                double* ju = jPose + (2 * i) * POSE;
                double* jv = ju + POSE;
                for (int d = 0; d < 3; ++d) {
                    const double* g = dr[d];
                    const double ex = g[0] * X[0] + g[1] * X[1] + g[2] * X[2];
                    const double ey = g[3] * X[0] + g[4] * X[1] + g[5] * X[2];
                    const double ez = g[6] * X[0] + g[7] * X[1] + g[8] * X[2];
                    ju[d] = dux * ex + duy * ey + duz * ez;
                    jv[d] = dvx * ex + dvy * ey + dvz * ez;
                }
                ju[3] = dux, ju[4] = duy, ju[5] = duz;
                jv[3] = dvx, jv[4] = dvy, jv[5] = dvz;
            }
        }
        return true;
    }

private:
    std::vector<double> m_object;  // x, y, z per point
    std::vector<double> m_image;   // u, v per point
};

void checkViews(const CalibrationViews& views) {
    for (int v = 0; v < views.viewCount(); ++v) {
        std::size_t n = views.imagePoints[v].size();
        if (n < 4 || n != views.objectPoints[v].size())
            CV_Error(cv::Error::StsBadArg, "view " + std::to_string(v) +
                                               " needs at least 4 image points and as many object points");
    }
}

// The library's calibration of a few views spread over the set, then the
// pose of every view from its intrinsics.
void startingPoint(const CalibrationViews& views, cv::Size imageSize, double* intrinsics, std::vector<Pose>& poses) {
    std::vector<std::vector<cv::Point3f>> object;
    std::vector<std::vector<cv::Point2f>> image;
    for (int v : spreadViewIndices(views.viewCount(), SPARSE_START_VIEWS)) {
        object.push_back(views.objectPoints[v]);
        image.push_back(views.imagePoints[v]);
    }
    cv::Mat camera = cv::Mat::zeros(3, 3, CV_64F);
    cv::Mat distortion = cv::Mat::zeros(4, 1, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    cv::calibrateCamera(object, image, imageSize, camera, distortion, rvecs, tvecs, cv::CALIB_FIX_K3);

    const double start[INTRINSICS] = {camera.at<double>(0, 0),  camera.at<double>(1, 1), camera.at<double>(0, 2),
                                      camera.at<double>(1, 2),  distortion.at<double>(0), distortion.at<double>(1),
                                      distortion.at<double>(2), distortion.at<double>(3)};
    std::copy(start, start + INTRINSICS, intrinsics);

    poses.assign(static_cast<std::size_t>(views.viewCount()), Pose{});
    for (int v = 0; v < views.viewCount(); ++v) {
        cv::Vec3d rvec, tvec;
        if (!cv::solvePnP(views.objectPoints[v], views.imagePoints[v], camera, distortion, rvec, tvec, false,
                          cv::SOLVEPNP_ITERATIVE))
            CV_Error(cv::Error::StsNoConv, "no starting pose found for view " + std::to_string(v));
        poses[v] = {rvec[0], rvec[1], rvec[2], tvec[0], tvec[1], tvec[2]};
    }
}

// The RMS errors and the deviations of the intrinsics at the solution: the
// inverse of the reduced system (the Gauss-Newton matrix with every pose
// eliminated) scaled by the residual variance. The variance divides the sum
// of squared residuals by the number of points (not of residuals, two per
// point) less the number of parameters, as the library's calibration does,
// so both solvers report the same deviations.
void fitAndDeviations(const std::vector<std::unique_ptr<ViewReprojection>>& costs, double* intrinsics,
                      std::vector<Pose>& poses, IntrinsicResult& result) {
    Matrix8 reduced = Matrix8::Zero();
    double sum = 0;
    int total = 0;
    std::vector<double> residuals, jIntrinsic, jPose;
    result.perViewErrors.clear();
    for (std::size_t v = 0; v < costs.size(); ++v) {
        const int rows = costs[v]->num_residuals();
        residuals.resize(static_cast<std::size_t>(rows));
        jIntrinsic.resize(static_cast<std::size_t>(rows) * INTRINSICS);
        jPose.resize(static_cast<std::size_t>(rows) * POSE);
        const double* parameters[2] = {intrinsics, poses[v].data()};
        double* jacobians[2] = {jIntrinsic.data(), jPose.data()};
        costs[v]->Evaluate(parameters, residuals.data(), jacobians);

        using RowMajor8 = Eigen::Matrix<double, Eigen::Dynamic, INTRINSICS, Eigen::RowMajor>;
        using RowMajor6 = Eigen::Matrix<double, Eigen::Dynamic, POSE, Eigen::RowMajor>;
        Eigen::Map<const RowMajor8> ji(jIntrinsic.data(), rows, INTRINSICS);
        Eigen::Map<const RowMajor6> je(jPose.data(), rows, POSE);
        const Eigen::Matrix<double, INTRINSICS, POSE> b = ji.transpose() * je;
        const Eigen::Matrix<double, POSE, POSE> c = je.transpose() * je;
        reduced += ji.transpose() * ji;
        reduced -= b * c.ldlt().solve(b.transpose());

        double viewSum = Eigen::Map<const Eigen::VectorXd>(residuals.data(), rows).squaredNorm();
        int points = costs[v]->pointCount();
        result.perViewErrors.push_back(std::sqrt(viewSum / points));
        sum += viewSum;
        total += points;
    }
    result.rms = std::sqrt(sum / total);

    // Inverted with Jacobi scaling: fx and k2 differ by many orders of magnitude.
    Eigen::Matrix<double, INTRINSICS, 1> scale = reduced.diagonal().cwiseMax(1e-300).cwiseSqrt().cwiseInverse();
    Matrix8 scaled = scale.asDiagonal() * reduced * scale.asDiagonal();
    Matrix8 inverse = scale.asDiagonal() * scaled.ldlt().solve(Matrix8::Identity()) * scale.asDiagonal();
    const int parameters = INTRINSICS + POSE * static_cast<int>(costs.size());
    const int freedom = total - parameters;
    result.stdDeviations.fill(0.0);
    if (freedom > 0) {
        const double variance = sum / freedom;
        for (int i = 0; i < INTRINSICS; ++i)
            result.stdDeviations[static_cast<std::size_t>(i)] = std::sqrt(std::max(0.0, inverse(i, i)) * variance);
    }
}

// Ends the solver between iterations once the caller asks it to stop.
class StopWhenAsked : public ceres::IterationCallback {
public:
    explicit StopWhenAsked(const std::function<bool()>& asked) : m_asked(asked) {}
    ceres::CallbackReturnType operator()(const ceres::IterationSummary&) override {
        return m_asked() ? ceres::SOLVER_ABORT : ceres::SOLVER_CONTINUE;
    }

private:
    const std::function<bool()>& m_asked;
};

}  // namespace

std::vector<int> spreadViewIndices(int viewCount, int count) {
    std::vector<int> indices;
    if (viewCount <= 0 || count <= 0) return indices;
    if (viewCount <= count || count == 1) {
        for (int i = 0; i < std::min(viewCount, count); ++i) indices.push_back(i);
        return indices;
    }
    for (int i = 0; i < count; ++i)
        indices.push_back(static_cast<int>((static_cast<long long>(i) * (viewCount - 1) + (count - 1) / 2) /
                                           (count - 1)));
    return indices;
}

IntrinsicResult calibrateSparse(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options) {
    if (views.viewCount() == 0 || static_cast<int>(views.imagePoints.size()) != views.viewCount() ||
        static_cast<int>(views.objectPoints.size()) != views.viewCount())
        CV_Error(cv::Error::StsBadArg, "no views to calibrate from");
    checkViews(views);

    double intrinsics[INTRINSICS];
    std::vector<Pose> poses;
    startingPoint(views, imageSize, intrinsics, poses);

    // The residual blocks stay ours (and outlive the problem): their
    // Jacobians give the deviations once the solver is done.
    std::vector<std::unique_ptr<ViewReprojection>> costs;
    ceres::Problem::Options problemOptions;
    problemOptions.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    ceres::Problem problem(problemOptions);
    auto ordering = std::make_shared<ceres::ParameterBlockOrdering>();
    for (int v = 0; v < views.viewCount(); ++v) {
        costs.push_back(std::make_unique<ViewReprojection>(views.objectPoints[v], views.imagePoints[v]));
        problem.AddResidualBlock(costs.back().get(), nullptr, intrinsics, poses[v].data());
        ordering->AddElementToGroup(poses[v].data(), 0);  // eliminated first
    }
    ordering->AddElementToGroup(intrinsics, 1);

    ceres::Solver::Options solverOptions;
    solverOptions.minimizer_type = ceres::TRUST_REGION;
    solverOptions.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
    solverOptions.linear_solver_type = ceres::DENSE_SCHUR;
    solverOptions.linear_solver_ordering = ordering;
    solverOptions.max_num_iterations = std::max(1, options.sparseMaxIterations);
    solverOptions.function_tolerance = options.sparseTolerance;
    solverOptions.parameter_tolerance = options.sparseTolerance;
    solverOptions.gradient_tolerance = options.sparseTolerance * 1e-4;
    solverOptions.num_threads = std::max(1, options.sparseThreads);
    solverOptions.logging_type = ceres::SILENT;
    solverOptions.minimizer_progress_to_stdout = false;

    std::string invalid;
    if (!solverOptions.IsValid(&invalid)) CV_Error(cv::Error::StsBadArg, "sparse solver options: " + invalid);
    StopWhenAsked stop(options.stopRequested);
    if (options.stopRequested) solverOptions.callbacks.push_back(&stop);
    ceres::Solver::Summary summary;
    ceres::Solve(solverOptions, &problem, &summary);
    if (options.stopRequested && summary.termination_type == ceres::USER_FAILURE) {
        IntrinsicResult stopped;
        stopped.solver = IntrinsicSolver::Sparse;
        stopped.stopped = true;
        return stopped;
    }
    if (!summary.IsSolutionUsable())
        CV_Error(cv::Error::StsNoConv, "the sparse solver failed: " + summary.message);

    IntrinsicResult result;
    result.solver = IntrinsicSolver::Sparse;
    fitAndDeviations(costs, intrinsics, poses, result);

    CalibrationRecord& record = result.record;
    record.camera(0) = intrinsics[0];
    record.camera(2) = intrinsics[2];
    record.camera(4) = intrinsics[1];
    record.camera(5) = intrinsics[3];
    record.camera(8) = 1.0;
    for (int i = 0; i < 4; ++i) record.distortion(static_cast<std::size_t>(i)) = intrinsics[4 + i];
    cv::Matx33d rotation;
    cv::Rodrigues(cv::Vec3d(poses[0][0], poses[0][1], poses[0][2]), rotation);
    for (int i = 0; i < 9; ++i) record.rotation(static_cast<std::size_t>(i)) = rotation(i / 3, i % 3);
    for (int i = 0; i < 3; ++i) record.translation(static_cast<std::size_t>(i)) = poses[0][3 + i];
    for (const Pose& pose : poses)
        result.poses.push_back({cv::Vec3d(pose[0], pose[1], pose[2]), cv::Vec3d(pose[3], pose[4], pose[5])});

    bool finite = std::isfinite(result.rms);
    for (double v : record.values) finite = finite && std::isfinite(v);
    if (!finite) CV_Error(cv::Error::StsNoConv, "the calibration produced no finite result");
    return result;
}
