#include "calibration/lens_projection.h"

#include <cmath>

#include <opencv2/calib3d.hpp>

namespace {

bool fisheye(const LensCamera& camera) { return camera.model == LensModel::Fisheye; }

cv::Mat coefficients(const LensCamera& camera) { return cv::Mat(camera.distortion, true).reshape(1, 1); }

// The fisheye model's theta for a distorted radius theta_d, by Newton
// iteration; false when the model folds over first or theta reaches 90
// degrees (no place in the undistorted image).
bool fisheyeTheta(const std::vector<double>& k, double radius, double& theta) {
    double t = radius;
    for (int iteration = 0; iteration < 50; ++iteration) {
        const double t2 = t * t;
        const double value = t * (1 + t2 * (k[0] + t2 * (k[1] + t2 * (k[2] + t2 * k[3])))) - radius;
        const double slope = 1 + t2 * (3 * k[0] + t2 * (5 * k[1] + t2 * (7 * k[2] + t2 * 9 * k[3])));
        if (!(slope > 1e-9)) return false;
        const double step = value / slope;
        t -= step;
        if (!std::isfinite(t) || t < 0) return false;
        if (std::abs(step) < 1e-15 * (1 + t)) break;
    }
    theta = t;
    return true;
}

bool fisheyeAngle(const std::vector<double>& k, double radius, double& theta) {
    return fisheyeTheta(k, radius, theta) && theta < CV_PI / 2 - 1e-9;
}

}  // namespace

LensCamera lensCameraOf(const CalibrationRecord& record) {
    LensCamera camera;
    camera.model = record.model;
    camera.matrix = cv::Matx33d(record.fx(), 0, record.cx(), 0, record.fy(), record.cy(), 0, 0, 1);
    camera.distortion = record.distortionCoefficients();
    return camera;
}

bool usableLensCamera(const LensCamera& camera) {
    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(camera.matrix.val[i])) return false;
    for (double k : camera.distortion)
        if (!std::isfinite(k)) return false;
    return camera.matrix(0, 0) > 0 && camera.matrix(1, 1) > 0 &&
           static_cast<int>(camera.distortion.size()) == lensCoefficientCount(camera.model);
}

void projectLensPoints(const LensCamera& camera, const std::vector<cv::Point3f>& object, const cv::Vec3d& rvec,
                       const cv::Vec3d& tvec, std::vector<cv::Point2f>& image) {
    if (object.empty()) {
        image.clear();
        return;
    }
    if (fisheye(camera))
        cv::fisheye::projectPoints(object, image, rvec, tvec, camera.matrix, coefficients(camera));
    else
        cv::projectPoints(object, rvec, tvec, camera.matrix, coefficients(camera), image);
}

void undistortLensPoints(const LensCamera& camera, const std::vector<cv::Point2f>& in, std::vector<cv::Point2f>& out,
                         const cv::Matx33d* newCamera) {
    if (in.empty()) {
        out.clear();
        return;
    }
    if (!fisheye(camera)) {
        // More iterations than the library's default five: strong
        // distortion near the corners needs them.
        const cv::TermCriteria criteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 50, 1e-9);
        if (newCamera)
            cv::undistortPoints(in, out, camera.matrix, coefficients(camera), cv::noArray(), *newCamera, criteria);
        else
            cv::undistortPoints(in, out, camera.matrix, coefficients(camera), cv::noArray(), cv::noArray(), criteria);
        return;
    }
    // The equidistant model inverts along the radius alone.
    const cv::Matx33d& k = camera.matrix;
    std::vector<cv::Point2f> result(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const double xd = (in[i].x - k(0, 2)) / k(0, 0), yd = (in[i].y - k(1, 2)) / k(1, 1);
        const double radius = std::hypot(xd, yd);
        double theta = 0;
        if (!fisheyeAngle(camera.distortion, radius, theta)) {
            result[i] = cv::Point2f(-1e6f, -1e6f);
            continue;
        }
        const double scale = radius > 1e-15 ? std::tan(theta) / radius : 1.0;
        double x = xd * scale, y = yd * scale;
        if (newCamera) {
            const cv::Matx33d& p = *newCamera;
            const double u = p(0, 0) * x + p(0, 1) * y + p(0, 2), v = p(1, 1) * y + p(1, 2);
            x = u, y = v;
        }
        result[i] = cv::Point2f(static_cast<float>(x), static_cast<float>(y));
    }
    out.swap(result);
}

double fisheyeRayAngle(const LensCamera& camera, cv::Point2f image) {
    const cv::Matx33d& k = camera.matrix;
    const double radius = std::hypot((image.x - k(0, 2)) / k(0, 0), (image.y - k(1, 2)) / k(1, 1));
    double theta = 0;
    return fisheyeTheta(camera.distortion, radius, theta) ? theta : INFINITY;
}

bool solveLensPose(const LensCamera& camera, const std::vector<cv::Point3f>& object,
                   const std::vector<cv::Point2f>& image, cv::Vec3d& rvec, cv::Vec3d& tvec) {
    if (!fisheye(camera))
        return cv::solvePnP(object, image, camera.matrix, coefficients(camera), rvec, tvec, false,
                            cv::SOLVEPNP_ITERATIVE);
    // Through the undistorted, normalised points; those 90 degrees or more
    // off the axis have no such place and are left out.
    std::vector<cv::Point2f> normalised;
    undistortLensPoints(camera, image, normalised);
    std::vector<cv::Point3f> kept;
    std::vector<cv::Point2f> keptImage;
    for (std::size_t i = 0; i < normalised.size(); ++i) {
        if (normalised[i].x <= -1e5f) continue;
        kept.push_back(object[i]);
        keptImage.push_back(normalised[i]);
    }
    if (kept.size() < 4) return false;
    return cv::solvePnP(kept, keptImage, cv::Matx33d::eye(), cv::noArray(), rvec, tvec, false,
                        cv::SOLVEPNP_ITERATIVE);
}

void lensUndistortMaps(const LensCamera& camera, cv::Size size, cv::Mat& map1, cv::Mat& map2) {
    if (fisheye(camera))
        cv::fisheye::initUndistortRectifyMap(camera.matrix, coefficients(camera), cv::Matx33d::eye(), camera.matrix,
                                             size, CV_16SC2, map1, map2);
    else
        cv::initUndistortRectifyMap(camera.matrix, coefficients(camera), cv::noArray(), camera.matrix, size, CV_16SC2,
                                    map1, map2);
}
