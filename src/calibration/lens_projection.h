#pragma once
// The vision library's projection, undistortion and pose functions for
// every lens model: the distortion models of calibrateCamera (opencv4,
// opencv5, rational) and the equidistant fisheye model.

#include <vector>

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

#include "calibration/calibration_record.h"
#include "calibration/lens_model.h"

// A camera as the library's functions take it: the camera matrix and the
// model's coefficients in its order.
struct LensCamera {
    LensModel model = LensModel::OpenCv4;
    cv::Matx33d matrix = cv::Matx33d::eye();
    std::vector<double> distortion = std::vector<double>(4, 0.0);
};

// fx, fy, cx, cy of the record in the library's published camera matrix
// (zero off the diagonal, 1 in the corner), its model and coefficients.
LensCamera lensCameraOf(const CalibrationRecord& record);

// Whether every number is finite and fx, fy are above 0.
bool usableLensCamera(const LensCamera& camera);

// Image positions of the object points seen from pose (rvec, tvec).
void projectLensPoints(const LensCamera& camera, const std::vector<cv::Point3f>& object, const cv::Vec3d& rvec,
                       const cv::Vec3d& tvec, std::vector<cv::Point2f>& image);

// Where image points land without the distortion: normalised coordinates
// (x / z, y / z) with an empty `newCamera`, else pixels of that camera
// matrix. A fisheye point 90 degrees or more off the axis has no such place;
// it goes to (-1e6, -1e6) (far outside any image).
void undistortLensPoints(const LensCamera& camera, const std::vector<cv::Point2f>& in, std::vector<cv::Point2f>& out,
                         const cv::Matx33d* newCamera = nullptr);

// The angle (radians) between the optical axis and the ray a fisheye
// `camera` maps to image position `image`; infinite where its model folds
// over first.
double fisheyeRayAngle(const LensCamera& camera, cv::Point2f image);

// The pose of one view from its points (at least 4); false when the library
// finds none.
bool solveLensPose(const LensCamera& camera, const std::vector<cv::Point3f>& object,
                   const std::vector<cv::Point2f>& image, cv::Vec3d& rvec, cv::Vec3d& tvec);

// Fixed-point maps (CV_16SC2 and its interpolation table) that draw a frame
// of `size` without the distortion, with the same camera matrix.
void lensUndistortMaps(const LensCamera& camera, cv::Size size, cv::Mat& map1, cv::Mat& map2);
