#pragma once
// The calibration file (.cal) in its forms, told apart by the first byte:
// 'b' binary (the 25 doubles, little-endian), 't' plain text (all 25
// numbers), 'c' labelled text (fx, fy, cx, cy, distortion, translation and
// rotation with their names), and 'm' the labelled text of a calibration
// with another lens model than the default:
//
//   m
//   model = fisheye
//   focal length = [fx fy]
//   principle point = [cx cy]
//   distortion = [k1 k2 k3 k4]            (the model's coefficients in its order)
//   translation = [x y z]
//   rotation matrix =
//   [r11 r12 r13
//    r21 r22 r23
//    r31 r32 r33]
//
// The first three forms carry the default model alone (four coefficients);
// readers that know only them refuse the fourth by its first byte. The
// writer always writes the lower-case letter.

#include <cstddef>
#include <string>
#include <string_view>

#include "calibration/calibration_record.h"
#include "calibration/output_file.h"

enum CalibrationFileForm { CAL_BINARY = 0, CAL_TEXT = 1, CAL_LABELLED = 2 };

// The largest calibration file read; its forms take a few hundred bytes.
constexpr std::size_t CALIBRATION_FILE_MAX = 64 * 1024;

// The bytes of `record` in `form`; empty for an unknown form. The labelled
// form of a record with another lens model than the default is the 'm'
// form; the binary and plain text forms of such a record are empty (they
// cannot hold it).
std::string formatCalibrationFile(const CalibrationRecord& record, int form);

// Writes `record` to `path` in `form` (0 binary, 1 plain text, 2 labelled
// text, as formatCalibrationFile makes them). An unknown form, or one that
// cannot hold the record's lens model, writes nothing. The target is
// replaced only when the whole file was written. False on failure, with
// the reason in `error`.
bool CalibrationFileWriter(const CalibrationRecord& record, const std::string& path, int form,
                           std::string* error = nullptr, const vexel::OutputOptions& output = {});

struct CalibrationReadResult {
    bool opened = false;      // the file could be read
    std::string problem;      // why not, when it could not be read or names no model known
    char form = 0;            // 'b', 't', 'c' or 'm'; 0 when the first byte names no form
    int valuesRead = 0;       // numbers stored into the record
    int valuesExpected = 0;   // numbers the form carries (25, 25, 20, or 16 + the model's coefficients)
    LensModel model = LensModel::OpenCv4;  // the lens model the file names
    bool recognised() const { return opened && form != 0; }
    bool complete() const { return recognised() && problem.empty() && valuesRead == valuesExpected; }
};

// Reads calibration file bytes into `record`. A value that cannot be read is
// not stored, so its field keeps what it held (the labelled forms first set
// both matrices to zero and camera element 8 to 1, since they carry only fx,
// fy, cx and cy of the camera matrix). Every form sets the record's lens
// model: the first three the default, the 'm' form the one it names. An 'm'
// file naming no model it knows reads nothing more and says so in
// `problem`. An unknown first byte reads nothing.
CalibrationReadResult parseCalibrationFile(CalibrationRecord& record, std::string_view bytes);

// Reads the file at `path` into `record` as parseCalibrationFile does. A file
// that cannot be opened, is no regular file or is larger than
// CALIBRATION_FILE_MAX leaves the record unchanged.
CalibrationReadResult CalibrationFileReader(CalibrationRecord& record, const std::string& path);
