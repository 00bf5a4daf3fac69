#pragma once
// The calibration of one camera: 25 doubles in a fixed order, the same order
// the binary calibration file stores them in.
//
//   0 to 8    camera matrix, 3 x 3 row-major (fx = 0, cx = 2, fy = 4, cy = 5)
//   9 to 17   rotation matrix, 3 x 3 row-major (pattern to camera)
//   18 to 20  translation vector, in pattern units
//   21 to 24  distortion: two radial, then two tangential coefficients

#include <array>
#include <cstddef>

struct CalibrationRecord {
    static constexpr std::size_t CAMERA = 0;
    static constexpr std::size_t ROTATION = 9;
    static constexpr std::size_t TRANSLATION = 18;
    static constexpr std::size_t DISTORTION = 21;
    static constexpr std::size_t SIZE = 25;

    std::array<double, SIZE> values{};

    double& camera(std::size_t i) { return values[CAMERA + i]; }
    double camera(std::size_t i) const { return values[CAMERA + i]; }
    double& rotation(std::size_t i) { return values[ROTATION + i]; }
    double rotation(std::size_t i) const { return values[ROTATION + i]; }
    double& translation(std::size_t i) { return values[TRANSLATION + i]; }
    double translation(std::size_t i) const { return values[TRANSLATION + i]; }
    double& distortion(std::size_t i) { return values[DISTORTION + i]; }
    double distortion(std::size_t i) const { return values[DISTORTION + i]; }

    double fx() const { return values[CAMERA + 0]; }
    double cx() const { return values[CAMERA + 2]; }
    double fy() const { return values[CAMERA + 4]; }
    double cy() const { return values[CAMERA + 5]; }

    bool operator==(const CalibrationRecord&) const = default;
};

static_assert(sizeof(CalibrationRecord) == 200, "the record is 25 packed doubles");
