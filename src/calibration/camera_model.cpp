#include "calibration/camera_model.h"

#include <cmath>
#include <limits>

#include <opencv2/calib3d.hpp>

cv::Matx33d FramePose::rotationMatrix() const {
    cv::Matx33d r;
    cv::Rodrigues(rotation, r);
    return r;
}

cv::Point3d FramePose::toCamera(const cv::Point3d& p) const {
    const cv::Vec3d c = rotationMatrix() * cv::Vec3d(p.x, p.y, p.z) + translation;
    return {c[0], c[1], c[2]};
}

cv::Point3d FramePose::toPattern(const cv::Point3d& p) const {
    const cv::Vec3d x = rotationMatrix().t() * (cv::Vec3d(p.x, p.y, p.z) - translation);
    return {x[0], x[1], x[2]};
}

CameraModel::CameraModel(const CalibrationRecord& r)
    : m_model(r.model), m_parameters{r.fx(), r.fy(), r.cx(), r.cy()} {
    for (double c : r.distortionCoefficients()) m_parameters.push_back(c);
}

cv::Point2d CameraModel::project(const double* k, const cv::Point3d& p) const {
    if (!(p.z > 0)) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    const double x = p.x / p.z, y = p.y / p.z;
    const double r2 = x * x + y * y;
    const double* d = k + 4;
    double xd, yd;
    if (m_model == LensModel::Fisheye) {
        const double r = std::sqrt(r2);
        const double theta = std::atan(r), t2 = theta * theta;
        const double thetaD = theta * (1 + t2 * (d[0] + t2 * (d[1] + t2 * (d[2] + t2 * d[3]))));
        // Near the axis theta_d / r tends to 1 + k1 r^2 ..., and to 1 at r = 0.
        const double scale = r > 1e-12 ? thetaD / r : 1.0;
        xd = x * scale;
        yd = y * scale;
    } else {
        const double k3 = m_model == LensModel::OpenCv4 ? 0.0 : d[4];
        double radial = 1 + r2 * (d[0] + r2 * (d[1] + r2 * k3));
        if (m_model == LensModel::Rational) radial /= 1 + r2 * (d[5] + r2 * (d[6] + r2 * d[7]));
        xd = x * radial + 2 * d[2] * x * y + d[3] * (r2 + 2 * x * x);
        yd = y * radial + d[2] * (r2 + 2 * y * y) + 2 * d[3] * x * y;
    }
    return {k[0] * xd + k[2], k[1] * yd + k[3]};
}

bool CameraModel::unproject(const cv::Point2d& pixel, cv::Point2d& ray) const {
    const double* k = m_parameters.data();
    if (!(k[0] != 0 && k[1] != 0)) return false;
    // Newton's method on the projection of (x, y, 1), with derivatives by
    // central differences so that it serves any lens model.
    cv::Point2d x((pixel.x - k[2]) / k[0], (pixel.y - k[3]) / k[1]);
    const double h = 1e-7;
    for (int iteration = 0; iteration < 50; ++iteration) {
        const cv::Point2d q = project(cv::Point3d(x.x, x.y, 1));
        const cv::Point2d error = q - pixel;
        if (!std::isfinite(error.x) || !std::isfinite(error.y)) return false;
        if (std::abs(error.x) < 1e-9 && std::abs(error.y) < 1e-9) break;
        const cv::Point2d dx = (project(cv::Point3d(x.x + h, x.y, 1)) - project(cv::Point3d(x.x - h, x.y, 1))) / (2 * h);
        const cv::Point2d dy = (project(cv::Point3d(x.x, x.y + h, 1)) - project(cv::Point3d(x.x, x.y - h, 1))) / (2 * h);
        const double det = dx.x * dy.y - dy.x * dx.y;
        if (!(std::abs(det) > 1e-12)) return false;
        x.x -= (dy.y * error.x - dy.x * error.y) / det;
        x.y -= (-dx.y * error.x + dx.x * error.y) / det;
    }
    const cv::Point2d q = project(cv::Point3d(x.x, x.y, 1));
    if (!(cv::norm(q - pixel) < 1e-4)) return false;
    ray = x;
    return true;
}

cv::Point2d CameraModel::principalPoint() const { return {m_parameters[2], m_parameters[3]}; }
