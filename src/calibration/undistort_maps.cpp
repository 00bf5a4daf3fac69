#include "calibration/undistort_maps.h"

#include <cmath>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "calibration/lens_projection.h"

namespace {

bool usableCamera(const CalibrationRecord& record) {
    for (std::size_t i = 0; i < 9; ++i)
        if (!std::isfinite(record.camera(i))) return false;
    for (std::size_t i = 0; i < static_cast<std::size_t>(MAX_LENS_COEFFICIENTS); ++i)
        if (!std::isfinite(record.distortion(i))) return false;
    return record.fx() > 0 && record.fy() > 0;
}

// Undistorts through the lens of `model` with its coefficients, in the
// model's order.
void undistortWith(const cv::Matx33d& k, LensModel model, const double* coefficients,
                   std::vector<cv::Point2f>& points) {
    if (points.empty()) return;
    std::vector<cv::Point2f> out;
    if (model != LensModel::OpenCv4) {
        LensCamera camera;
        camera.model = model;
        camera.matrix = k;
        camera.distortion.assign(coefficients, coefficients + lensCoefficientCount(model));
        undistortLensPoints(camera, points, out, &k);
    } else {
        const cv::Vec4d d(coefficients[0], coefficients[1], coefficients[2], coefficients[3]);
        // More iterations than the library's default five: strong distortion
        // near the corners needs them.
        cv::undistortPoints(points, out, k, d, cv::noArray(), k,
                            cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 50, 1e-9));
    }
    points.swap(out);
}

}  // namespace

void UndistortMaps::clear() {
    m_map1.release();
    m_map2.release();
    m_size = cv::Size();
}

bool UndistortMaps::prepare(const CalibrationRecord& record, cv::Size size) {
    if (size.width <= 0 || size.height <= 0 || !usableCamera(record)) {
        clear();
        return false;
    }
    std::array<double, 9> camera{};
    std::array<double, MAX_LENS_COEFFICIENTS> distortion{};
    for (std::size_t i = 0; i < 9; ++i) camera[i] = record.camera(i);
    for (std::size_t i = 0; i < distortion.size(); ++i) distortion[i] = record.distortion(i);
    if (ready() && size == m_size && camera == m_camera && record.model == m_model && distortion == m_distortion)
        return true;

    if (record.model == LensModel::OpenCv4) {
        const cv::Matx33d k(camera.data());
        const cv::Vec4d d(distortion[0], distortion[1], distortion[2], distortion[3]);
        // Fixed-point maps: a camera without distortion maps every pixel onto
        // itself exactly, so the remapped frame equals the frame.
        cv::initUndistortRectifyMap(k, d, cv::noArray(), k, size, CV_16SC2, m_map1, m_map2);
    } else {
        lensUndistortMaps(lensCameraOf(record), size, m_map1, m_map2);
    }
    m_camera = camera;
    m_model = record.model;
    m_distortion = distortion;
    m_size = size;
    ++m_builds;
    return true;
}

bool UndistortMaps::remap(const cv::Mat& in, cv::Mat& out) const {
    if (!ready() || in.empty() || in.size() != m_size || in.depth() != CV_8U) return false;
    cv::remap(in, out, m_map1, m_map2, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    return true;
}

void UndistortMaps::undistortPoints(std::vector<cv::Point2f>& points) const {
    if (!ready()) return;
    undistortWith(cv::Matx33d(m_camera.data()), m_model, m_distortion.data(), points);
}

void UndistortMaps::undistortPoints(const CalibrationRecord& record, std::vector<cv::Point2f>& points) {
    if (!usableCamera(record)) return;
    const std::vector<double> coefficients = record.distortionCoefficients();
    undistortWith(cv::Matx33d(&record.values[CalibrationRecord::CAMERA]), record.model, coefficients.data(), points);
}
