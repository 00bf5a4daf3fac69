#pragma once
// The camera model written for other tools: a YAML file of the vision
// library's persistence format and a camera_info YAML file. Both texts are
// made here digit by digit, so the C library's numeric locale never changes
// them, and both files are replaced atomically.

#include <string>
#include <string_view>

#include "calibration/calibration_record.h"
#include "calibration/output_file.h"
#include "calibration/calibration_stats.h"
#include "calibration/name_text.h"

// image_width, image_height, camera_matrix (3 x 3), distortion_coefficients
// (1 x 5, the fifth, k3, is 0), avg_reprojection_error,
// per_view_reprojection_errors (one per frame used) and nr_of_frames; with a
// cell side above 0 also square_size, in millimetres.
std::string formatOpenCvYaml(const CalibrationRecord& record, const CalibrationStats& stats,
                             double cellSizeMm = 0);

// image_width, image_height, camera_name, camera_matrix, distortion_model
// plumb_bob, distortion_coefficients (1 x 5), rectification_matrix
// (identity) and projection_matrix (the camera matrix with a zero fourth
// column).
std::string formatCameraInfoYaml(const CalibrationRecord& record, const CalibrationStats& stats,
                                 const std::string& cameraName);

// Write the texts above to `path` (a camera name that is not UTF-8 is
// refused); false, with a reason naming the file in
// `error`, when the file could not be written (it is then left as it was).
bool writeOpenCvYaml(const std::string& path, const CalibrationRecord& record, const CalibrationStats& stats,
                     std::string* error = nullptr, const vexel::OutputOptions& output = {},
                     double cellSizeMm = 0);
bool writeCameraInfoYaml(const std::string& path, const CalibrationRecord& record, const CalibrationStats& stats,
                         const std::string& cameraName, std::string* error = nullptr,
                         const vexel::OutputOptions& output = {});
