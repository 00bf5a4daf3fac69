#include "calibration/board_axes.h"

#include <vector>

#include <opencv2/calib3d.hpp>

#include "calibration/lens_projection.h"

std::array<cv::Point2f, 4> projectBoardAxes(const CalibrationRecord& record, double length) {
    const std::vector<cv::Point3d> ends = {{0, 0, 0}, {length, 0, 0}, {0, length, 0}, {0, 0, length}};
    cv::Vec3d rotation;
    cv::Rodrigues(cv::Matx33d(&record.values[CalibrationRecord::ROTATION]), rotation);
    const cv::Vec3d translation(record.translation(0), record.translation(1), record.translation(2));
    std::array<cv::Point2f, 4> axes;
    if (record.model != LensModel::OpenCv4) {
        // Through the calibration's own lens.
        std::vector<cv::Point3f> points;
        for (const cv::Point3d& end : ends) points.emplace_back(end);
        std::vector<cv::Point2f> image;
        projectLensPoints(lensCameraOf(record), points, rotation, translation, image);
        for (std::size_t i = 0; i < axes.size() && i < image.size(); ++i) axes[i] = image[i];
        return axes;
    }
    const cv::Matx33d camera(&record.values[CalibrationRecord::CAMERA]);
    const cv::Vec4d distortion(record.distortion(0), record.distortion(1), record.distortion(2),
                               record.distortion(3));
    std::vector<cv::Point2d> projected;
    cv::projectPoints(ends, rotation, translation, camera, distortion, projected);
    for (std::size_t i = 0; i < axes.size(); ++i) axes[i] = cv::Point2f(projected[i]);
    return axes;
}
