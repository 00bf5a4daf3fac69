#pragma once
// The calibration of one camera: 25 doubles in a fixed order, the same order
// the binary calibration file stores them in, and the lens model its
// distortion coefficients belong to.
//
//   0 to 8    camera matrix, 3 x 3 row-major (fx = 0, cx = 2, fy = 4, cy = 5)
//   9 to 17   rotation matrix, 3 x 3 row-major (pattern to camera)
//   18 to 20  translation vector, in pattern units
//   21 to 24  distortion: the model's first four coefficients (for the
//             default model two radial, then two tangential)
//
// A model with more than four coefficients keeps the others in
// moreDistortion. Code that reads the distortion goes by `model` (and
// lensCoefficientCount): the fisheye model's four coefficients are no
// k1 k2 p1 p2.

#include <array>
#include <cstddef>
#include <vector>

#include "calibration/lens_model.h"

struct CalibrationRecord {
    static constexpr std::size_t CAMERA = 0;
    static constexpr std::size_t ROTATION = 9;
    static constexpr std::size_t TRANSLATION = 18;
    static constexpr std::size_t DISTORTION = 21;
    static constexpr std::size_t SIZE = 25;

    std::array<double, SIZE> values{};
    LensModel model = LensModel::OpenCv4;
    // Coefficients 5 to 8 of the model (k3 .. k6 of the rational model).
    std::array<double, MAX_LENS_COEFFICIENTS - 4> moreDistortion{};

    double& camera(std::size_t i) { return values[CAMERA + i]; }
    // Sets the camera matrix of focal lengths fx, fy and principal point
    // (cx, cy), without skew.
    void setCamera(double fx, double fy, double cx, double cy) {
        const double matrix[9] = {fx, 0, cx, 0, fy, cy, 0, 0, 1};
        for (std::size_t i = 0; i < 9; ++i) camera(i) = matrix[i];
    }
    double camera(std::size_t i) const { return values[CAMERA + i]; }
    double& rotation(std::size_t i) { return values[ROTATION + i]; }
    double rotation(std::size_t i) const { return values[ROTATION + i]; }
    double& translation(std::size_t i) { return values[TRANSLATION + i]; }
    double translation(std::size_t i) const { return values[TRANSLATION + i]; }
    // Coefficient i (0 .. 7) of the model, in its order.
    double& distortion(std::size_t i) { return i < 4 ? values[DISTORTION + i] : moreDistortion[i - 4]; }
    double distortion(std::size_t i) const { return i < 4 ? values[DISTORTION + i] : moreDistortion[i - 4]; }
    // The model's coefficients, as many as it has.
    std::vector<double> distortionCoefficients() const {
        std::vector<double> coefficients;
        for (int i = 0; i < lensCoefficientCount(model); ++i)
            coefficients.push_back(distortion(static_cast<std::size_t>(i)));
        return coefficients;
    }
    // Sets the model and its coefficients (as many as it has; the rest 0).
    void setLens(LensModel lens, const std::vector<double>& coefficients) {
        model = lens;
        const std::size_t count = static_cast<std::size_t>(lensCoefficientCount(lens));
        for (std::size_t i = 0; i < static_cast<std::size_t>(MAX_LENS_COEFFICIENTS); ++i)
            distortion(i) = i < count && i < coefficients.size() ? coefficients[i] : 0.0;
    }

    double fx() const { return values[CAMERA + 0]; }
    double cx() const { return values[CAMERA + 2]; }
    double fy() const { return values[CAMERA + 4]; }
    double cy() const { return values[CAMERA + 5]; }

    bool operator==(const CalibrationRecord&) const = default;
};

static_assert(sizeof(CalibrationRecord::values) == 200, "the record's numbers are 25 packed doubles");
