#pragma once
// The calibration commands' work without their dialogs, for callers that
// know the file names already (the command-line tool). The document's
// On... handlers ask the user and end up here.

#include <string>
#include <vector>

#include "calibration/output_file.h"

class CVexelDoc;

struct CalibrationRecord;

// How reading a calibration file ended.
enum class CalibrationLoad {
    Loaded,
    Unreadable,      // the file could not be read
    NotCalibration,  // its first byte names no form
    Refused,         // truncated, or a value no camera can have
};

// Reads the calibration file at `path` into `record` when it is complete
// and every value is usable; otherwise leaves `record` as it was and says
// why in `reason`, naming the file and the field.
CalibrationLoad readCalibrationRecord(const std::string& path, CalibrationRecord& record, std::string& reason);

// Reads a calibration file into the document's record. A file that cannot be
// read, is no calibration file, is truncated or holds a value no camera can
// have (not a finite number, fx or fy not above 0) leaves the record (and its
// absence) as it was. Reports the outcome in the status message, naming the
// file and the field; true when the record was read from the file.
bool LoadCalibrationFile(CVexelDoc& doc, const std::string& path);

// Writes the document's record to `path` in `form` (0 binary, 1 plain text,
// 2 labelled text). False, with the reason in `error` and the status
// message, when there is no record or the file could not be written.
bool SaveCalibrationFile(CVexelDoc& doc, const std::string& path, int form, std::string* error = nullptr,
                         const vexel::OutputOptions& output = {});

// Writes the correspondences of every frame to `path` with the document's
// lock held. False, with the reason in `error` and the status message, when
// the file could not be written.
bool SaveCorrespondencesFile(CVexelDoc& doc, const std::string& path, std::string* error = nullptr,
                             const vexel::OutputOptions& output = {});

// Writes mrcal's corner list of every frame (formatMrcalCorners) to `path`,
// as SaveCorrespondencesFile.
bool SaveMrcalCornersFile(CVexelDoc& doc, const std::string& path, std::string* error = nullptr,
                          const vexel::OutputOptions& output = {});

// The forms File > Export Calibration writes: those vexel-cli writes.
struct CalibrationExportFormat {
    const char* name;       // the menu's text
    const char* filter;     // the save dialog's filter
    const char* extension;  // its default extension
};
const std::vector<CalibrationExportFormat>& calibrationExportFormats();

// Writes the document's calibration to `path` in export format `format`
// (an index into calibrationExportFormats()). False, with the reason in
// `error` and the status message, when there is no calibration or the
// file could not be written.
bool ExportCalibrationFile(CVexelDoc& doc, int format, const std::string& path, std::string* error = nullptr);
