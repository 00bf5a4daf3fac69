#pragma once
// The calibration file (.cal) in its three forms, told apart by the first
// byte: 'b' binary (the 25 doubles, little-endian), 't' plain text (all 25
// numbers), 'c' labelled text (fx, fy, cx, cy, distortion, translation and
// rotation with their names). The writer always writes the lower-case letter.

#include <cstddef>
#include <string>
#include <string_view>

#include "calibration/calibration_record.h"
#include "calibration/output_file.h"

enum CalibrationFileForm { CAL_BINARY = 0, CAL_TEXT = 1, CAL_LABELLED = 2 };

// The largest calibration file read; its forms take a few hundred bytes.
constexpr std::size_t CALIBRATION_FILE_MAX = 64 * 1024;

// The bytes of `record` in `form`; empty for an unknown form.
std::string formatCalibrationFile(const CalibrationRecord& record, int form);

// Writes `record` to `path` in `form` (0 binary, 1 plain text, 2 labelled
// text). An unknown form writes nothing. The target is replaced only when the
// whole file was written. False on failure, with the reason in `error`.
bool CalibrationFileWriter(const CalibrationRecord& record, const std::string& path, int form,
                           std::string* error = nullptr, const vexel::OutputOptions& output = {});

struct CalibrationReadResult {
    bool opened = false;      // the file could be read
    std::string problem;      // why not, when it could not
    char form = 0;            // 'b', 't' or 'c'; 0 when the first byte names no form
    int valuesRead = 0;       // numbers stored into the record
    int valuesExpected = 0;   // numbers the form carries (25, 25 or 20)
    bool recognised() const { return opened && form != 0; }
    bool complete() const { return recognised() && valuesRead == valuesExpected; }
};

// Reads calibration file bytes into `record`. A value that cannot be read is
// not stored, so its field keeps what it held (the labelled form first sets
// both matrices to zero and camera element 8 to 1, since it carries only fx,
// fy, cx and cy of the camera matrix). An unknown first byte reads nothing.
CalibrationReadResult parseCalibrationFile(CalibrationRecord& record, std::string_view bytes);

// Reads the file at `path` into `record` as parseCalibrationFile does. A file
// that cannot be opened, is no regular file or is larger than
// CALIBRATION_FILE_MAX leaves the record unchanged.
CalibrationReadResult CalibrationFileReader(CalibrationRecord& record, const std::string& path);
