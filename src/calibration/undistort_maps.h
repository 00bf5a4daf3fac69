#pragma once
// Removes the lens distortion of a calibration from frames and points. The
// pixel maps are made once for a camera and a frame size and kept until
// either changes, so stepping through frames of one size with one
// calibration remaps without making them again.

#include <array>
#include <cstdint>
#include <vector>

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

#include "calibration/calibration_record.h"

class UndistortMaps {
public:
    // Makes the maps for the record's camera matrix, lens model and distortion at
    // `size`, unless the maps held are already for them. False (and no maps
    // held) when the record has no usable camera (fx or fy not above 0, or a
    // value that is not a finite number) or the size is empty.
    bool prepare(const CalibrationRecord& record, cv::Size size);
    bool ready() const { return !m_map1.empty(); }
    cv::Size size() const { return m_size; }
    // How often maps were made since construction.
    std::uint64_t builds() const { return m_builds; }
    void clear();

    // `in` (8-bit, 1 to 4 channels, of the prepared size) drawn without the
    // distortion into `out`: the same camera matrix, pixels that no part of
    // the frame reaches black. False, `out` untouched, when not prepared or
    // the size differs.
    bool remap(const cv::Mat& in, cv::Mat& out) const;
    // Where the frame's pixel positions land in the remapped image. Without
    // prepared maps the points stay as they are.
    void undistortPoints(std::vector<cv::Point2f>& points) const;
    // The same for the record's camera, without maps; a record without a
    // usable camera leaves the points as they are.
    static void undistortPoints(const CalibrationRecord& record, std::vector<cv::Point2f>& points);

private:
    std::array<double, 9> m_camera{};
    LensModel m_model = LensModel::OpenCv4;
    std::array<double, MAX_LENS_COEFFICIENTS> m_distortion{};
    cv::Size m_size;
    cv::Mat m_map1, m_map2;
    std::uint64_t m_builds = 0;
};
