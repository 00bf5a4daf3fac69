#pragma once
// The camera a calibration describes, in the form the residual and
// uncertainty computations use: the intrinsic parameters as one vector and
// the projection of a point in the camera's frame with any values of them,
// so that derivatives can be taken numerically whatever the lens model.
// Poses place the pattern in the camera's frame.

#include <vector>

#include <opencv2/core/matx.hpp>
#include <opencv2/core/types.hpp>

#include "calibration/calibration_record.h"

// The pose of the pattern in one view: X_camera = R(rotation) X_pattern +
// translation, the rotation as a rotation vector (axis times angle).
struct FramePose {
    cv::Vec3d rotation;
    cv::Vec3d translation;  // pattern units

    cv::Matx33d rotationMatrix() const;
    cv::Point3d toCamera(const cv::Point3d& patternPoint) const;
    cv::Point3d toPattern(const cv::Point3d& cameraPoint) const;
};

// The record's camera: fx, fy, cx, cy, then its lens model's distortion
// coefficients in the vision library's order. With x = X / Z, y = Y / Z,
// r^2 = x^2 + y^2, the models of calibrateCamera give
//   radial = (1 + k1 r^2 + k2 r^4 + k3 r^6) / (1 + k4 r^2 + k5 r^4 + k6 r^6)
//   x_d = x radial + 2 p1 x y + p2 (r^2 + 2 x^2)
//   y_d = y radial + p1 (r^2 + 2 y^2) + 2 p2 x y
// (k3..k6 zero where the model lacks them), and the fisheye model
//   theta = atan(r), theta_d = theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8)
//   x_d = x theta_d / r, y_d = y theta_d / r;
// then u = fx x_d + cx, v = fy y_d + cy.
class CameraModel {
public:
    explicit CameraModel(const CalibrationRecord& record);

    int parameterCount() const { return static_cast<int>(m_parameters.size()); }
    const std::vector<double>& parameters() const { return m_parameters; }

    // Where a point of the camera's frame lands in the image with the given
    // parameters (parameterCount() of them); not finite when the point is
    // not in front of the camera.
    cv::Point2d project(const double* parameters, const cv::Point3d& cameraPoint) const;
    cv::Point2d project(const cv::Point3d& cameraPoint) const { return project(m_parameters.data(), cameraPoint); }
    cv::Point2d project(const FramePose& pose, const cv::Point3d& patternPoint) const {
        return project(pose.toCamera(patternPoint));
    }

    // The ray (x, y, 1) of the camera's frame that projects to `pixel`;
    // false when the search does not reach it (outside the region where
    // the lens model can be inverted).
    bool unproject(const cv::Point2d& pixel, cv::Point2d& ray) const;

    cv::Point2d principalPoint() const;
    LensModel lensModel() const { return m_model; }

private:
    LensModel m_model;
    std::vector<double> m_parameters;
};
