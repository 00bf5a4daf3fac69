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

#include "calibration/lens_projection.h"

namespace {

constexpr int POSE = 6;  // rotation vector, translation
constexpr int BEND = 2;  // the board's bend along x and along y

using Pose = ViewPoseVector;

// --- The lens models: where a normalised point (x, y) = (X_c / Z_c,
// Y_c / Z_c) lands, (x_d, y_d), before u = fx x_d + cx, v = fy y_d + cy.
// The intrinsic parameters are fx, fy, cx, cy, then the model's
// coefficients. `apply` fills x_d and y_d; with `ju` and `jv` (the rows of
// du and dv by the intrinsics) the columns of the coefficients, from 4 on;
// with `slopes` d x_d / dx, d x_d / dy (which is d y_d / dx in every model
// here) and d y_d / dy.

// Two radial and two tangential coefficients:
//   x_d = x (1 + k1 r^2 + k2 r^4) + 2 p1 x y + p2 (r^2 + 2 x^2)
//   y_d = y (1 + k1 r^2 + k2 r^4) + p1 (r^2 + 2 y^2) + 2 p2 x y
struct BrownConrady4 {
    static constexpr int COEFFICIENTS = 4;
    static void apply(const double* k, double fx, double fy, double x, double y, double& xd, double& yd, double* ju,
                      double* jv, double* slopes) {
        const double k1 = k[4], k2 = k[5], p1 = k[6], p2 = k[7];
        const double r2 = x * x + y * y;
        const double radial = 1 + r2 * (k1 + k2 * r2);
        const double a1 = 2 * x * y, a2 = r2 + 2 * x * x, a3 = r2 + 2 * y * y;
        xd = x * radial + p1 * a1 + p2 * a2;
        yd = y * radial + p1 * a3 + p2 * a1;
        if (ju) {
            const double ur2 = r2 * r2;
            ju[4] = fx * x * r2, ju[5] = fx * x * ur2, ju[6] = fx * a1, ju[7] = fx * a2;
            jv[4] = fy * y * r2, jv[5] = fy * y * ur2, jv[6] = fy * a3, jv[7] = fy * a1;
        }
        if (slopes) {
            const double dRadial = 2 * (k1 + 2 * k2 * r2);  // d radial / d r^2, times 2
            slopes[0] = radial + x * x * dRadial + 2 * p1 * y + 6 * p2 * x;
            slopes[1] = x * y * dRadial + 2 * p1 * x + 2 * p2 * y;
            slopes[2] = radial + y * y * dRadial + 6 * p1 * y + 2 * p2 * x;
        }
    }
};

// The same with the radial factor (1 + k1 r^2 + k2 r^4 + k3 r^6) /
// (1 + k4 r^2 + k5 r^4 + k6 r^6); coefficients k1 k2 p1 p2 k3 (N = 5) and
// k4 k5 k6 (N = 8).
template <int N>
struct BrownRational {
    static constexpr int COEFFICIENTS = N;
    static void apply(const double* k, double fx, double fy, double x, double y, double& xd, double& yd, double* ju,
                      double* jv, double* slopes) {
        const double k1 = k[4], k2 = k[5], p1 = k[6], p2 = k[7], k3 = k[8];
        double k4 = 0, k5 = 0, k6 = 0;
        if constexpr (N > 5) k4 = k[9], k5 = k[10], k6 = k[11];
        const double r2 = x * x + y * y, r4 = r2 * r2, r6 = r4 * r2;
        const double numerator = 1 + r2 * (k1 + r2 * (k2 + r2 * k3));
        const double inverse = 1 / (1 + r2 * (k4 + r2 * (k5 + r2 * k6)));
        const double radial = numerator * inverse;
        const double a1 = 2 * x * y, a2 = r2 + 2 * x * x, a3 = r2 + 2 * y * y;
        xd = x * radial + p1 * a1 + p2 * a2;
        yd = y * radial + p1 * a3 + p2 * a1;
        if (ju) {
            const double xs = fx * x * inverse, ys = fy * y * inverse;
            ju[4] = xs * r2, ju[5] = xs * r4, ju[6] = fx * a1, ju[7] = fx * a2, ju[8] = xs * r6;
            jv[4] = ys * r2, jv[5] = ys * r4, jv[6] = fy * a3, jv[7] = fy * a1, jv[8] = ys * r6;
            if constexpr (N > 5) {
                const double xr = -xs * radial, yr = -ys * radial;
                ju[9] = xr * r2, ju[10] = xr * r4, ju[11] = xr * r6;
                jv[9] = yr * r2, jv[10] = yr * r4, jv[11] = yr * r6;
            }
        }
        if (slopes) {
            const double dNumerator = k1 + r2 * (2 * k2 + r2 * 3 * k3);
            const double dDenominator = k4 + r2 * (2 * k5 + r2 * 3 * k6);
            const double dRadial = 2 * (dNumerator - radial * dDenominator) * inverse;
            slopes[0] = radial + x * x * dRadial + 2 * p1 * y + 6 * p2 * x;
            slopes[1] = x * y * dRadial + 2 * p1 * x + 2 * p2 * y;
            slopes[2] = radial + y * y * dRadial + 6 * p1 * y + 2 * p2 * x;
        }
    }
};

// The equidistant (fisheye) model of the library: theta = atan(r),
// theta_d = theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8),
// (x_d, y_d) = (theta_d / r) (x, y).
struct Equidistant {
    static constexpr int COEFFICIENTS = 4;
    static void apply(const double* k, double fx, double fy, double x, double y, double& xd, double& yd, double* ju,
                      double* jv, double* slopes) {
        const double k1 = k[4], k2 = k[5], k3 = k[6], k4 = k[7];
        const double r2 = x * x + y * y, r = std::sqrt(r2);
        const double theta = std::atan(r), t2 = theta * theta;
        const double q = r > 1e-12 ? theta / r : 1.0;  // theta / r, 1 at the centre
        const double s = q * (1 + t2 * (k1 + t2 * (k2 + t2 * (k3 + t2 * k4))));  // theta_d / r
        xd = x * s;
        yd = y * s;
        if (ju) {
            const double t4 = t2 * t2, xq = fx * x * q * t2, yq = fy * y * q * t2;
            ju[4] = xq, ju[5] = xq * t2, ju[6] = xq * t4, ju[7] = xq * t4 * t2;
            jv[4] = yq, jv[5] = yq * t2, jv[6] = yq * t4, jv[7] = yq * t4 * t2;
        }
        if (slopes) {
            // w = (ds / dr) / r; its limit at the centre is 2 (k1 - 1/3).
            double w = 2 * (k1 - 1.0 / 3.0);
            if (r2 > 1e-10) {
                const double dThetaD = 1 + t2 * (3 * k1 + t2 * (5 * k2 + t2 * (7 * k3 + t2 * 9 * k4)));
                w = (dThetaD / (1 + r2) - s) / r2;
            }
            slopes[0] = s + x * x * w;
            slopes[1] = x * y * w;
            slopes[2] = s + y * y * w;
        }
    }
};

// The reprojection residuals of one view, (u - u_observed, v - v_observed)
// per point, and their derivatives by the intrinsics, the view's pose and,
// with FLEX, the board's bend (board_flex.h). The pattern point (X, Y, Z)
// moves to Z + bend_x s_x(X, Y) + bend_y s_y(X, Y) with the bend, then
// X_c = R(rvec) X + t and the lens maps X_c / Z_c to the image. The
// rotation and its derivatives by the rotation vector are computed once
// per view; every point's derivatives then follow by the chain rule.
template <class Lens, bool FLEX>
class ViewReprojection final : public ceres::CostFunction {
public:
    static constexpr int INTRINSICS = 4 + Lens::COEFFICIENTS;

    ViewReprojection(const std::vector<cv::Point3f>& object, const std::vector<cv::Point2f>& image) {
        m_object.reserve(object.size() * 3);
        for (const cv::Point3f& p : object) m_object.insert(m_object.end(), {p.x, p.y, p.z});
        m_image.reserve(image.size() * 2);
        for (const cv::Point2f& p : image) m_image.insert(m_image.end(), {p.x, p.y});
        if constexpr (FLEX) {
            for (const cv::Point3f& p : object) {
                double alongX, alongY;
                boardFlexShape(p.x, p.y, alongX, alongY);
                m_shape.insert(m_shape.end(), {alongX, alongY});
            }
        }
        set_num_residuals(static_cast<int>(image.size()) * 2);
        if constexpr (FLEX)
            *mutable_parameter_block_sizes() = {INTRINSICS, POSE, BEND};
        else
            *mutable_parameter_block_sizes() = {INTRINSICS, POSE};
    }

    int pointCount() const { return static_cast<int>(m_image.size() / 2); }

    bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override {
        const double* k = parameters[0];
        const double* pose = parameters[1];
        const double fx = k[0], fy = k[1], cx = k[2], cy = k[3];
        double* jIntrinsic = jacobians ? jacobians[0] : nullptr;
        double* jPose = jacobians ? jacobians[1] : nullptr;
        double* jBend = nullptr;
        if constexpr (FLEX) jBend = jacobians ? jacobians[2] : nullptr;

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
            double z = X[2];
            const double* shape = nullptr;
            if constexpr (FLEX) {
                shape = &m_shape[2 * static_cast<std::size_t>(i)];
                z = X[2] + parameters[2][0] * shape[0] + parameters[2][1] * shape[1];
            }
            const double xc = r[0] * X[0] + r[1] * X[1] + r[2] * z + pose[3];
            const double yc = r[3] * X[0] + r[4] * X[1] + r[5] * z + pose[4];
            const double zc = r[6] * X[0] + r[7] * X[1] + r[8] * z + pose[5];
            const double iz = zc != 0 ? 1.0 / zc : 1.0;
            const double x = xc * iz, y = yc * iz;
            double* ju = jIntrinsic ? jIntrinsic + (2 * i) * INTRINSICS : nullptr;
            double* jv = ju ? ju + INTRINSICS : nullptr;
            double xd, yd, slopes[3];
            Lens::apply(k, fx, fy, x, y, xd, yd, ju, jv, jPose || jBend ? slopes : nullptr);
            double* res = residuals + 2 * i;
            res[0] = fx * xd + cx - m_image[2 * static_cast<std::size_t>(i)];
            res[1] = fy * yd + cy - m_image[2 * static_cast<std::size_t>(i) + 1];

            if (ju) {
                ju[0] = xd, ju[1] = 0, ju[2] = 1, ju[3] = 0;
                jv[0] = 0, jv[1] = yd, jv[2] = 0, jv[3] = 1;
            }
            if (jPose || jBend) {
                // d(u, v) / d(X_c, Y_c, Z_c)
                const double dux = fx * slopes[0] * iz, duy = fx * slopes[1] * iz, duz = -(dux * x + duy * y);
                const double dvx = fy * slopes[1] * iz, dvy = fy * slopes[2] * iz, dvz = -(dvx * x + dvy * y);
                if (jPose) {
                    double* pu = jPose + (2 * i) * POSE;
                    double* pv = pu + POSE;
                    for (int d = 0; d < 3; ++d) {
                        const double* g = dr[d];
                        const double ex = g[0] * X[0] + g[1] * X[1] + g[2] * z;
                        const double ey = g[3] * X[0] + g[4] * X[1] + g[5] * z;
                        const double ez = g[6] * X[0] + g[7] * X[1] + g[8] * z;
                        pu[d] = dux * ex + duy * ey + duz * ez;
                        pv[d] = dvx * ex + dvy * ey + dvz * ez;
                    }
                    pu[3] = dux, pu[4] = duy, pu[5] = duz;
                    pv[3] = dvx, pv[4] = dvy, pv[5] = dvz;
                }
                if (jBend) {
                    // The bend moves the point along the board's normal, R's third column.
                    const double bu = dux * r[2] + duy * r[5] + duz * r[8];
                    const double bv = dvx * r[2] + dvy * r[5] + dvz * r[8];
                    double* b = jBend + (2 * i) * BEND;
                    b[0] = bu * shape[0], b[1] = bu * shape[1];
                    b[2] = bv * shape[0], b[3] = bv * shape[1];
                }
            }
        }
        return true;
    }

private:
    std::vector<double> m_object;  // x, y, z per point
    std::vector<double> m_image;   // u, v per point
    std::vector<double> m_shape;   // the two arches' heights per point, with FLEX
};

void checkViews(const CalibrationViews& views) {
    if (views.viewCount() == 0 || static_cast<int>(views.imagePoints.size()) != views.viewCount() ||
        static_cast<int>(views.objectPoints.size()) != views.viewCount())
        CV_Error(cv::Error::StsBadArg, "no views to calibrate from");
    for (int v = 0; v < views.viewCount(); ++v) {
        std::size_t n = views.imagePoints[v].size();
        if (n < 4 || n != views.objectPoints[v].size())
            CV_Error(cv::Error::StsBadArg, "view " + std::to_string(v) +
                                               " needs at least 4 image points and as many object points");
    }
}

// The library's calibration of a few views spread over the set, then the
// pose of every view from its intrinsics.
void startingPoint(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options,
                   double* intrinsics, std::vector<Pose>& poses) {
    CalibrationViews spread;
    for (int v : spreadViewIndices(views.viewCount(), SPARSE_START_VIEWS)) {
        spread.frames.push_back(views.frames.empty() ? v : views.frames[v]);
        spread.objectPoints.push_back(views.objectPoints[v]);
        spread.imagePoints.push_back(views.imagePoints[v]);
    }
    LensCamera camera;
    if (options.model == LensModel::OpenCv4) {
        cv::Mat matrix = cv::Mat::zeros(3, 3, CV_64F);
        cv::Mat distortion = cv::Mat::zeros(4, 1, CV_64F);
        std::vector<cv::Mat> rvecs, tvecs;
        cv::calibrateCamera(spread.objectPoints, spread.imagePoints, imageSize, matrix, distortion, rvecs, tvecs,
                            cv::CALIB_FIX_K3);
        camera.matrix = cv::Matx33d(matrix);
        camera.distortion = {distortion.at<double>(0), distortion.at<double>(1), distortion.at<double>(2),
                             distortion.at<double>(3)};
    } else {
        IntrinsicOptions library = options;
        library.solver = IntrinsicSolver::Library;
        library.boardFlex = false;
        camera = lensCameraOf(calibrateIntrinsic(spread, imageSize, library).record);
    }
    intrinsics[0] = camera.matrix(0, 0);
    intrinsics[1] = camera.matrix(1, 1);
    intrinsics[2] = camera.matrix(0, 2);
    intrinsics[3] = camera.matrix(1, 2);
    std::copy(camera.distortion.begin(), camera.distortion.end(), intrinsics + 4);

    poses.assign(static_cast<std::size_t>(views.viewCount()), Pose{});
    for (int v = 0; v < views.viewCount(); ++v) {
        cv::Vec3d rvec, tvec;
        if (!solveLensPose(camera, views.objectPoints[v], views.imagePoints[v], rvec, tvec))
            CV_Error(cv::Error::StsNoConv, "no starting pose found for view " + std::to_string(v));
        poses[v] = {rvec[0], rvec[1], rvec[2], tvec[0], tvec[1], tvec[2]};
    }
}

// The fit at given parameters: RMS errors, the reduced normal matrix (the
// Gauss-Newton matrix of the intrinsics and the bend with every pose
// eliminated, a Schur complement) and the reduced gradient.
template <class Lens, bool FLEX>
struct Fit {
    static constexpr int INTRINSICS = 4 + Lens::COEFFICIENTS;
    static constexpr int GLOBAL = INTRINSICS + (FLEX ? BEND : 0);
    using Cost = ViewReprojection<Lens, FLEX>;
    using MatrixG = Eigen::Matrix<double, GLOBAL, GLOBAL>;
    using VectorG = Eigen::Matrix<double, GLOBAL, 1>;

    MatrixG reduced = MatrixG::Zero();
    VectorG gradient = VectorG::Zero();
    double sum = 0;  // of squared residuals
    int points = 0;
    std::vector<double> perViewErrors;

    Fit(const std::vector<std::unique_ptr<Cost>>& costs, const double* intrinsics, const double* bend,
        const std::vector<Pose>& poses) {
        std::vector<double> residuals, jIntrinsic, jPose, jBend;
        for (std::size_t v = 0; v < costs.size(); ++v) {
            const int rows = costs[v]->num_residuals();
            residuals.resize(static_cast<std::size_t>(rows));
            jIntrinsic.resize(static_cast<std::size_t>(rows) * INTRINSICS);
            jPose.resize(static_cast<std::size_t>(rows) * POSE);
            jBend.resize(static_cast<std::size_t>(rows) * BEND);
            const double* parameters[3] = {intrinsics, poses[v].data(), bend};
            double* jacobians[3] = {jIntrinsic.data(), jPose.data(), jBend.data()};
            costs[v]->Evaluate(parameters, residuals.data(), jacobians);

            using RowMajorI = Eigen::Matrix<double, Eigen::Dynamic, INTRINSICS, Eigen::RowMajor>;
            using RowMajor6 = Eigen::Matrix<double, Eigen::Dynamic, POSE, Eigen::RowMajor>;
            Eigen::Map<const RowMajorI> ji(jIntrinsic.data(), rows, INTRINSICS);
            Eigen::Map<const RowMajor6> je(jPose.data(), rows, POSE);
            const Eigen::Map<const Eigen::VectorXd> res(residuals.data(), rows);
            const Eigen::Matrix<double, POSE, POSE> c = je.transpose() * je;
            if constexpr (FLEX) {
                using RowMajor2 = Eigen::Matrix<double, Eigen::Dynamic, BEND, Eigen::RowMajor>;
                Eigen::Matrix<double, Eigen::Dynamic, GLOBAL> jg(rows, GLOBAL);
                jg << ji, Eigen::Map<const RowMajor2>(jBend.data(), rows, BEND);
                const Eigen::Matrix<double, GLOBAL, POSE> b = jg.transpose() * je;
                const auto solver = c.ldlt();
                reduced += jg.transpose() * jg;
                reduced -= b * solver.solve(b.transpose());
                gradient += jg.transpose() * res;
                gradient -= b * solver.solve(je.transpose() * res);
            } else {
                const Eigen::Matrix<double, INTRINSICS, POSE> b = ji.transpose() * je;
                reduced += ji.transpose() * ji;
                reduced -= b * c.ldlt().solve(b.transpose());
            }

            const double viewSum = res.squaredNorm();
            const int viewPoints = costs[v]->pointCount();
            perViewErrors.push_back(std::sqrt(viewSum / viewPoints));
            sum += viewSum;
            points += viewPoints;
        }
    }

    // The inverse of the reduced matrix, with Jacobi scaling: fx and the
    // higher coefficients differ by many orders of magnitude.
    MatrixG inverse() const {
        VectorG scale = reduced.diagonal().cwiseMax(1e-300).cwiseSqrt().cwiseInverse();
        MatrixG scaled = scale.asDiagonal() * reduced * scale.asDiagonal();
        return scale.asDiagonal() * scaled.ldlt().solve(MatrixG::Identity()) * scale.asDiagonal();
    }

    // The residual variance: the sum of squares over the number of points
    // (not of residuals, two per point) less the number of parameters, as
    // the library's calibration takes it, so both solvers report the same
    // deviations. 0 when there are no more points than parameters.
    double variance(std::size_t views) const {
        const int freedom = points - (GLOBAL + POSE * static_cast<int>(views));
        return freedom > 0 ? sum / freedom : 0.0;
    }
};

template <class Lens, bool FLEX>
std::vector<std::unique_ptr<ViewReprojection<Lens, FLEX>>> makeCosts(const CalibrationViews& views) {
    std::vector<std::unique_ptr<ViewReprojection<Lens, FLEX>>> costs;
    for (int v = 0; v < views.viewCount(); ++v)
        costs.push_back(std::make_unique<ViewReprojection<Lens, FLEX>>(views.objectPoints[v], views.imagePoints[v]));
    return costs;
}

// RMS errors, deviations and covariance of the intrinsics (and the bend's
// deviations, with FLEX) at the solution.
template <class Lens, bool FLEX>
void describe(const std::vector<std::unique_ptr<ViewReprojection<Lens, FLEX>>>& costs, const double* intrinsics,
              const double* bend, const std::vector<Pose>& poses, IntrinsicResult& result) {
    using F = Fit<Lens, FLEX>;
    const F fit(costs, intrinsics, bend, poses);
    result.perViewErrors = fit.perViewErrors;
    result.rms = std::sqrt(fit.sum / fit.points);
    const typename F::MatrixG inverse = fit.inverse();
    const double variance = fit.variance(costs.size());
    result.stdDeviations.fill(0.0);
    result.covariance.assign(static_cast<std::size_t>(F::INTRINSICS * F::INTRINSICS), 0.0);
    if (variance > 0) {
        for (int i = 0; i < F::INTRINSICS; ++i) {
            result.stdDeviations[static_cast<std::size_t>(i)] = std::sqrt(std::max(0.0, inverse(i, i)) * variance);
            for (int j = 0; j < F::INTRINSICS; ++j)
                result.covariance[static_cast<std::size_t>(i * F::INTRINSICS + j)] = inverse(i, j) * variance;
        }
    }
    if constexpr (FLEX) {
        const int x = F::INTRINSICS, y = F::INTRINSICS + 1;
        result.flex.sdX = std::sqrt(std::max(0.0, inverse(x, x)) * variance);
        result.flex.sdY = std::sqrt(std::max(0.0, inverse(y, y)) * variance);
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

template <class Lens, bool FLEX>
IntrinsicResult solve(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options) {
    constexpr int INTRINSICS = 4 + Lens::COEFFICIENTS;
    double intrinsics[INTRINSICS];
    double bend[BEND] = {0.0, 0.0};
    std::vector<Pose> poses;
    startingPoint(views, imageSize, options, intrinsics, poses);

    // The residual blocks stay ours (and outlive the problem): their
    // Jacobians give the deviations once the solver is done.
    auto costs = makeCosts<Lens, FLEX>(views);
    ceres::Problem::Options problemOptions;
    problemOptions.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    ceres::Problem problem(problemOptions);
    auto ordering = std::make_shared<ceres::ParameterBlockOrdering>();
    for (int v = 0; v < views.viewCount(); ++v) {
        if constexpr (FLEX)
            problem.AddResidualBlock(costs[v].get(), nullptr, intrinsics, poses[v].data(), bend);
        else
            problem.AddResidualBlock(costs[v].get(), nullptr, intrinsics, poses[v].data());
        ordering->AddElementToGroup(poses[v].data(), 0);  // eliminated first
    }
    ordering->AddElementToGroup(intrinsics, 1);
    if constexpr (FLEX) ordering->AddElementToGroup(bend, 1);

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
    describe<Lens, FLEX>(costs, intrinsics, bend, poses, result);
    if constexpr (FLEX) {
        result.flex.estimated = true;
        result.flex.alongX = bend[0];
        result.flex.alongY = bend[1];
    }

    CalibrationRecord& record = result.record;
    record.setCamera(intrinsics[0], intrinsics[1], intrinsics[2], intrinsics[3]);
    record.setLens(options.model, std::vector<double>(intrinsics + 4, intrinsics + INTRINSICS));
    cv::Matx33d rotation;
    cv::Rodrigues(cv::Vec3d(poses[0][0], poses[0][1], poses[0][2]), rotation);
    for (int i = 0; i < 9; ++i) record.rotation(static_cast<std::size_t>(i)) = rotation(i / 3, i % 3);
    for (int i = 0; i < 3; ++i) record.translation(static_cast<std::size_t>(i)) = poses[0][3 + i];
    for (const Pose& pose : poses)
        result.poses.push_back({cv::Vec3d(pose[0], pose[1], pose[2]), cv::Vec3d(pose[3], pose[4], pose[5])});

    bool finite = std::isfinite(result.rms);
    for (double v : record.values) finite = finite && std::isfinite(v);
    for (double v : record.moreDistortion) finite = finite && std::isfinite(v);
    if (!finite) CV_Error(cv::Error::StsNoConv, "the calibration produced no finite result");
    return result;
}

template <bool FLEX>
IntrinsicResult solveModel(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options) {
    switch (options.model) {
        case LensModel::OpenCv5: return solve<BrownRational<5>, FLEX>(views, imageSize, options);
        case LensModel::Rational: return solve<BrownRational<8>, FLEX>(views, imageSize, options);
        case LensModel::Fisheye: return solve<Equidistant, FLEX>(views, imageSize, options);
        case LensModel::OpenCv4: break;
    }
    return solve<BrownConrady4, FLEX>(views, imageSize, options);
}

// The intrinsics of a record as the solver holds them.
template <class Lens>
std::array<double, 4 + Lens::COEFFICIENTS> intrinsicsOf(const CalibrationRecord& record) {
    std::array<double, 4 + Lens::COEFFICIENTS> k{record.fx(), record.fy(), record.cx(), record.cy()};
    for (int i = 0; i < Lens::COEFFICIENTS; ++i) k[4 + i] = record.distortion(static_cast<std::size_t>(i));
    return k;
}

template <class Lens>
void describeModel(const CalibrationViews& views, const CalibrationRecord& record, const std::vector<Pose>& poses,
                   IntrinsicResult& result) {
    const auto intrinsics = intrinsicsOf<Lens>(record);
    describe<Lens, false>(makeCosts<Lens, false>(views), intrinsics.data(), nullptr, poses, result);
}

template <class Lens>
BoardFlex bendStep(const CalibrationViews& views, const CalibrationRecord& record, const std::vector<Pose>& poses) {
    using F = Fit<Lens, true>;
    const auto intrinsics = intrinsicsOf<Lens>(record);
    const double flat[BEND] = {0.0, 0.0};
    const F fit(makeCosts<Lens, true>(views), intrinsics.data(), flat, poses);
    const typename F::MatrixG inverse = fit.inverse();
    const typename F::VectorG step = -(inverse * fit.gradient);
    const double variance = fit.variance(poses.size());
    const int x = F::INTRINSICS, y = F::INTRINSICS + 1;
    BoardFlex bend;
    bend.alongX = step(x);
    bend.alongY = step(y);
    bend.sdX = std::sqrt(std::max(0.0, inverse(x, x)) * variance);
    bend.sdY = std::sqrt(std::max(0.0, inverse(y, y)) * variance);
    return bend;
}

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
    return options.boardFlex ? solveModel<true>(views, imageSize, options)
                             : solveModel<false>(views, imageSize, options);
}

void describeFit(const CalibrationViews& views, const CalibrationRecord& record,
                 const std::vector<ViewPoseVector>& poses, IntrinsicResult& result) {
    checkViews(views);
    if (poses.size() != static_cast<std::size_t>(views.viewCount()))
        CV_Error(cv::Error::StsBadArg, "one pose per view is needed");
    switch (record.model) {
        case LensModel::OpenCv5: return describeModel<BrownRational<5>>(views, record, poses, result);
        case LensModel::Rational: return describeModel<BrownRational<8>>(views, record, poses, result);
        case LensModel::Fisheye: return describeModel<Equidistant>(views, record, poses, result);
        case LensModel::OpenCv4: break;
    }
    describeModel<BrownConrady4>(views, record, poses, result);
}

BoardFlex boardBendStep(const CalibrationViews& views, const CalibrationRecord& record,
                        const std::vector<ViewPoseVector>& poses) {
    checkViews(views);
    if (poses.size() != static_cast<std::size_t>(views.viewCount()))
        CV_Error(cv::Error::StsBadArg, "one pose per view is needed");
    switch (record.model) {
        case LensModel::OpenCv5: return bendStep<BrownRational<5>>(views, record, poses);
        case LensModel::Rational: return bendStep<BrownRational<8>>(views, record, poses);
        case LensModel::Fisheye: return bendStep<Equidistant>(views, record, poses);
        case LensModel::OpenCv4: break;
    }
    return bendStep<BrownConrady4>(views, record, poses);
}
