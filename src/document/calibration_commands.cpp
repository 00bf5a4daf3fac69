// The calibration commands of the document: Load, Save, Save
// Correspondences, Intrinsic and Extrinsic Calibration.

#include "document/calibration_commands.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "document/busy_cursor.h"
#include "calibration/calibration_checks.h"
#include "calibration/calibration_export.h"
#include "calibration/calibration_file.h"
#include "calibration/calibration_views.h"
#include "calibration/camera_calibration.h"
#include "calibration/fixed_format.h"
#include "calibration/plural.h"
#include "calibration/points_file.h"
#include "calibration/output_file.h"
#include "document/grid_commands.h"
#include "document/vexel_doc.h"

namespace {

const char* const CAL_FILTER = "Camera Calibration Files (*.cal)|*.cal||";
const char* const CAL_EXTENSION = ".cal";
const char* const POINTS_FILTER = "Correspondence files (*.points)|*.points||";
const char* const POINTS_EXTENSION = ".points";
const char* const NEED_INTRINSIC = "Must have intrinsic calibration before extrinsic parameters can be used.";
const char* const NEED_FOUR_POINTS = "Must select an image in which 4 or more points could be mapped.";
const char* const SAVE_BEFORE_CLOSING = "Save the calibration before closing?";
const char* const SAVE_SESSION_BEFORE_CLOSING = "Save the session before closing?";

std::string pixels(double value) { return vexel::formatFixed(value) + " px"; }

// The size to calibrate at: that of most frames in use with 4 or more
// points, ties going to the current frame's size.
cv::Size calibrationSize(CVexelDoc& doc, cv::Size current) {
    std::vector<cv::Size> sizes;
    for (int f = 0; f < doc.FrameCount(); ++f)
        if (frameHasView(doc.Grids(), f) && !doc.FrameExcluded(f))
            sizes.push_back(doc.GridOf(f).size);
    const cv::Size common = mostCommonSize(sizes, current);
    return common.empty() ? current : common;
}

// A calibration command that failed says why in the status message, and the
// document keeps the reason for the calibration panel.
void reportProblem(CVexelDoc& doc, const std::string& text) {
    doc.ReportCalibrationProblem(text);
}

std::string withWarnings(std::string status, const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) status += "; warning: " + warning;
    return status;
}

}  // namespace

CalibrationLoad readCalibrationRecord(const std::string& path, CalibrationRecord& record, std::string& reason) {
    CalibrationRecord read = record;
    CalibrationReadResult result = CalibrationFileReader(read, path);
    if (!result.opened) {
        reason = "cannot read " + path + (result.problem.empty() ? std::string() : ": " + result.problem);
        return CalibrationLoad::Unreadable;
    }
    if (!result.recognised()) {
        reason = path + " is not a calibration file";
        return CalibrationLoad::NotCalibration;
    }
    if (!result.problem.empty()) {
        reason = path + ": " + result.problem;
        return CalibrationLoad::Refused;
    }
    if (!result.complete()) {
        reason = path + " is truncated: read " + std::to_string(result.valuesRead) + " of " +
                 std::to_string(result.valuesExpected) + " values, " +
                 calibrationFileField(result.form, result.valuesRead, result.model) + " is missing";
        return CalibrationLoad::Refused;
    }
    if (std::string problem = calibrationValueProblem(read); !problem.empty()) {
        reason = path + ": " + problem;
        return CalibrationLoad::Refused;
    }
    record = read;
    return CalibrationLoad::Loaded;
}

bool LoadCalibrationFile(CVexelDoc& doc, const std::string& path) {
    // Read into a copy, so that a file that is refused changes nothing, not
    // even whether a record exists.
    CalibrationRecord record = doc.m_calibration ? *doc.m_calibration : CalibrationRecord{};
    std::string reason;
    switch (readCalibrationRecord(path, record, reason)) {
        case CalibrationLoad::Loaded: break;
        case CalibrationLoad::Refused:
            reportProblem(doc, "Load Calibration: " + reason + "; the calibration was not changed");
            return false;
        default: reportProblem(doc, "Load Calibration: " + reason); return false;
    }
    if (!doc.m_calibration) doc.m_calibration = std::make_unique<CalibrationRecord>();
    *doc.m_calibration = record;
    doc.m_calibrationStats = CalibrationStats{};
    doc.m_calibrationModified = false;
    // The next calibration fits the model of the calibration held.
    doc.m_lensModel = record.model;
    doc.m_chooseLensModel = false;
    // The loaded pose belongs to none of the frames in the list.
    doc.m_referenceFrame = -1;
    doc.m_calibrationProblem.clear();
    doc.Ui().showStatus("Loaded calibration from " + path);
    return true;
}

bool SaveCalibrationFile(CVexelDoc& doc, const std::string& path, int form, std::string* error,
                         const vexel::OutputOptions& output) {
    std::string reason;
    bool ok = false;
    if (!doc.m_calibration) {
        reason = "there is no calibration to save";
    } else {
        ok = CalibrationFileWriter(*doc.m_calibration, path, form, &reason, output);
    }
    if (!ok) {
        doc.Ui().showStatus("Save Calibration: " + reason);
        if (error) *error = reason;
        return false;
    }
    doc.m_calibrationModified = false;
    doc.Ui().showStatus("Saved calibration to " + path);
    return true;
}

bool SaveMrcalCornersFile(CVexelDoc& doc, const std::string& path, std::string* error,
                          const vexel::OutputOptions& output) {
    doc.ExtractMissingGrids();
    const std::vector<std::string> names = doc.FrameNames();
    std::string text;
    {
        std::lock_guard<std::mutex> lock(doc.Lock());
        text = formatMrcalCorners(doc.Grids(), doc.FrameCount(), names);
    }
    std::string reason;
    if (!vexel::writeOutputFile(path, text, &reason, output)) {
        doc.Ui().showStatus("Save mrcal corners: " + reason);
        if (error) *error = reason;
        return false;
    }
    return true;
}

bool SaveCorrespondencesFile(CVexelDoc& doc, const std::string& path, std::string* error,
                             const vexel::OutputOptions& output) {
    // Every frame's points are those of the frame now at its index.
    doc.ExtractMissingGrids();
    // The grid set is read under the lock; the file is written after it.
    std::string text;
    {
        std::lock_guard<std::mutex> lock(doc.Lock());
        text = formatCorrespondences(doc.Grids(), doc.FrameCount());
    }
    std::string reason;
    if (!vexel::writeOutputFile(path, text, &reason, output)) {
        doc.Ui().showStatus("Save Correspondences: " + reason);
        if (error) *error = reason;
        return false;
    }
    doc.Ui().showStatus("Saved correspondences to " + path);
    return true;
}

const std::vector<CalibrationExportFormat>& calibrationExportFormats() {
    static const std::vector<CalibrationExportFormat> formats = {
        {"OpenCV YAML...", "OpenCV YAML (*.yml;*.yaml)|*.yml;*.yaml||", ".yml"},
        {"ROS camera_info YAML...", "ROS camera_info YAML (*.yaml)|*.yaml||", ".yaml"},
        {"Calibration, plain text...", "Camera Calibration Files (*.cal)|*.cal||", ".cal"},
        {"Calibration, binary...", "Camera Calibration Files (*.cal)|*.cal||", ".cal"},
        {"mrcal camera model...", "mrcal Camera Models (*.cameramodel)|*.cameramodel||", ".cameramodel"},
        {"Kalibr camchain YAML...", "Kalibr Camchain (*.yaml)|*.yaml||", ".yaml"},
        {"COLMAP cameras.txt...", "COLMAP Cameras (*.txt)|*.txt||", ".txt"},
    };
    return formats;
}

bool ExportCalibrationFile(CVexelDoc& doc, int format, const std::string& path, std::string* error) {
    std::string reason;
    bool ok = false;
    const CalibrationRecord* record = doc.Calibration();
    if (!record) {
        reason = "there is no calibration to export";
    } else if (format == 0) {
        ok = writeOpenCvYaml(path, *record, doc.Stats(), &reason, {}, doc.CellSizeMm());
    } else if (format == 1) {
        ok = writeCameraInfoYaml(path, *record, doc.Stats(), "camera", &reason);
    } else if (format == 2 || format == 3) {
        ok = CalibrationFileWriter(*record, path, format == 2 ? CAL_TEXT : CAL_BINARY, &reason);
    } else if (format >= 4 && format <= 6) {
        static constexpr bool (*toolFormats[])(const ExportedCamera&, std::string&, std::string&) = {
            formatMrcalModel, formatKalibrCamchain, formatColmapCameras};
        ok = writeToolExport(path, toolFormats[format - 4], exportedCamera(*record, doc.Stats()), &reason);
    } else {
        reason = "no such export format";
    }
    if (!ok) {
        doc.Ui().showStatus("Export Calibration: " + reason);
        if (error) *error = reason;
        return false;
    }
    doc.Ui().showStatus("Exported calibration to " + path);
    return true;
}

void CVexelDoc::OnExportCalibration(int format) {
    const auto& formats = calibrationExportFormats();
    if (m_calibration && format >= 0 && static_cast<std::size_t>(format) < formats.size()) {
        const CalibrationExportFormat& chosen = formats[static_cast<std::size_t>(format)];
        std::optional<std::string> path = Ui().chooseSaveFile(chosen.filter, chosen.extension, true);
        if (path && !path->empty()) ExportCalibrationFile(*this, format, *path);
    } else if (!m_calibration) {
        Ui().showStatus("Export Calibration: there is no calibration to export");
    }
    UpdateTitleAndViews();
}

void CVexelDoc::OnLoadCalibration() {
    std::vector<std::string> paths = Ui().chooseOpenFiles(CAL_FILTER, CAL_EXTENSION, false);
    if (!paths.empty() && !paths.front().empty()) LoadCalibrationFile(*this, paths.front());
    UpdateTitleAndViews();
}

void CVexelDoc::OnSaveCalibration() {
    if (m_calibration) {
        std::optional<std::string> path = Ui().chooseSaveFile(CAL_FILTER, CAL_EXTENSION, true);
        if (path && !path->empty()) SaveCalibrationFile(*this, *path, CAL_LABELLED);
    }
    UpdateTitleAndViews();
}

void CVexelDoc::OnSaveCorrespondences() {
    ExtractMissingGrids();
    // A search the user stopped leaves frames without their points: nothing
    // is written then.
    if (m_gridSet.getTotalPointCount() > 0 && !Ui().cancelRequested()) {
        std::optional<std::string> path = Ui().chooseSaveFile(POINTS_FILTER, POINTS_EXTENSION, true);
        if (path && !path->empty()) SaveCorrespondencesFile(*this, *path);
    }
    UpdateTitleAndViews();
}

bool CVexelDoc::ConfirmClose() {
    // Once the work is kept in a session file, the session (which holds the
    // calibration too) is what is asked about; before that, the calibration.
    if (!SessionPath().empty()) {
        if (!SessionModified()) return true;
        switch (Ui().askSaveBeforeClosing(SAVE_SESSION_BEFORE_CLOSING)) {
            case SaveChoice::Discard: return true;
            case SaveChoice::Save: return SaveSession();
            case SaveChoice::Cancel: break;
        }
        return false;
    }
    if (!m_calibration || !m_calibrationModified) return true;
    switch (Ui().askSaveBeforeClosing(SAVE_BEFORE_CLOSING)) {
        case SaveChoice::Discard: return true;
        case SaveChoice::Save: {
            std::optional<std::string> path = Ui().chooseSaveFile(CAL_FILTER, CAL_EXTENSION, true);
            return path && !path->empty() && SaveCalibrationFile(*this, *path, CAL_LABELLED);
        }
        case SaveChoice::Cancel: break;
    }
    return false;
}

void CVexelDoc::KeepIntrinsicResult(const IntrinsicResult& result, const CalibrationViews& views, cv::Size size,
                                    int framesOtherSize, const IntrinsicOptions& options) {
    if (!m_calibration) m_calibration = std::make_unique<CalibrationRecord>();
    *m_calibration = result.record;
    m_lensModel = result.record.model;
    m_calibrationModified = true;
    // The record's pose is now that of the first frame used, so no frame is
    // shown as the reference frame any more.
    m_referenceFrame = -1;
    m_calibrationStats = intrinsicStats(views, result, size, framesOtherSize, options);
    m_calibrationProblem.clear();
}

void CVexelDoc::OnIntrinsicCalibration(const IntrinsicOptions& options) {
    if (m_frameCount <= 0) {
        UpdateTitleAndViews();
        return;
    }
    ExtractMissingGrids();
    if (Ui().cancelRequested()) {
        Ui().showStatus("Intrinsic Calibration stopped before it began; the calibration was not changed");
        UpdateTitleAndViews();
        return;
    }

    {
        BusyCursor busy(Ui());
        // The frames of the size most of them have take part; a tie goes to
        // the current frame's size, once it is decoded.
        EnsureCurrentFrameLoaded();
        const cv::Size size = calibrationSize(*this, cv::Size(GetFrameWidth(), GetFrameHeight()));

        int otherSize = 0;
        int leftOutByUser = 0;
        CalibrationViews views = gatherCalibrationViews(m_gridSet, m_frameCount, [&](int frame) {
            if (FrameExcluded(frame)) {
                ++leftOutByUser;
                return false;
            }
            cv::Size own = GridOf(frame).size;
            if (own.empty() || own == size) return true;
            ++otherSize;
            return false;
        });

        if (views.viewCount() == 0 || size.empty()) {
            std::string leftOut;
            if (otherSize > 0)
                leftOut = "; " + vexel::plural(otherSize, "frame", "frames") +
                          " of another size left out";
            if (leftOutByUser > 0)
                leftOut += "; " + vexel::plural(leftOutByUser, "frame", "frames") +
                           " with points left out";
            reportProblem(*this, std::string("Intrinsic Calibration: no frame ") + (leftOutByUser > 0 ? "in use " : "") +
                            "has 4 or more points" + leftOut +
                            "; the calibration was not changed");
        } else {
            try {
                Ui().progress("Calibrating with " + std::to_string(views.viewCount()) + " frames, " +
                                  std::to_string(views.totalPoints()) + " points",
                              0, 0);
                IntrinsicOptions solving = options;
                solving.stopRequested = [this] { return Ui().cancelRequested(); };
                const IntrinsicResult result = calibrateIntrinsic(views, size, solving);
                Ui().endProgress();
                if (result.stopped || Ui().cancelRequested()) {
                    // A result the user stopped waiting for is not kept.
                    Ui().showStatus("Intrinsic Calibration stopped; the calibration was not changed");
                } else {
                    KeepIntrinsicResult(result, views, size, otherSize, solving);
                    Ui().showStatus(withWarnings("Intrinsic Calibration: " + std::to_string(views.viewCount()) +
                                                     " frames, " + std::to_string(views.totalPoints()) +
                                                     " points, RMS reprojection error " + pixels(result.rms) +
                                                     (result.record.model != LensModel::OpenCv4
                                                          ? std::string(", lens model ") +
                                                                lensModelName(result.record.model)
                                                          : std::string()) +
                                                     (leftOutByUser > 0
                                                          ? ", " + vexel::plural(leftOutByUser, "frame", "frames") +
                                                                " left out"
                                                          : std::string()),
                                                 m_calibrationStats.warnings));
                }
            } catch (const cv::Exception& e) {
                Ui().endProgress();
                reportProblem(*this, "Intrinsic Calibration failed: " + e.err + "; the calibration was not changed");
            }
        }
    }
    UpdateTitleAndViews();
}

void CVexelDoc::OnExtrinsicCalibration() {
    if (!m_calibration) {
        Ui().showMessageBox(NEED_INTRINSIC);
        return;
    }
    // The frames offered are those that can be used: in use, and searched
    // with 4 or more points or not searched yet.
    std::vector<ReferenceFrameChoice> choices;
    int initial = -1;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const std::vector<std::string> names = FrameNames();
        for (int f = 0; f < m_frameCount; ++f) {
            const FrameGrid& status = GridOf(f);
            if (FrameExcluded(f) || (status.searched && status.pointCount < MIN_FRAME_POINTS)) continue;
            choices.push_back({f, names[static_cast<std::size_t>(f)], status.searched ? status.pointCount : -1});
            if (initial < 0 || (f <= m_currentFrame && initial < m_currentFrame)) initial = f;
        }
    }
    if (choices.empty()) {
        const int leftOut = ExcludedFrameCount();
        reportProblem(*this, "Extrinsic Calibration: no frame in use has 4 or more points" +
                                 (leftOut > 0 ? "; " + std::to_string(leftOut) +
                                                    (leftOut == 1 ? " frame left out" : " frames left out")
                                              : std::string()) +
                                 "; the calibration was not changed");
        UpdateTitleAndViews();
        return;
    }
    int r = Ui().chooseReferenceFrame(choices, initial);
    if (r < 0 || r >= m_frameCount) {
        Ui().setBusy(false);
        UpdateTitleAndViews();
        return;
    }

    if (FrameExcluded(r)) {
        reportProblem(*this, "Extrinsic Calibration: frame " + std::to_string(r) +
                        " is left out of the calibrations; the calibration was not changed");
        UpdateTitleAndViews();
        return;
    }
    if (!GridOf(r).searched) {
        // Only the reference frame is searched, on screen; the other
        // frames keep what they hold or stay to be searched.
        BusyCursor busy(Ui());
        GoToFrame(r);
        StartLoader();
        ExtractMissingGrids(r);
    }
    if (Ui().cancelRequested()) {
        Ui().showStatus("Extrinsic Calibration stopped; the calibration was not changed");
        UpdateTitleAndViews();
        return;
    }
    if (const std::string problem = calibrationSizeProblem(*m_calibration, m_calibrationStats, GridOf(r).size);
        !problem.empty()) {
        reportProblem(*this, "Extrinsic Calibration of frame " + std::to_string(r) + ": " + problem +
                                 "; the calibration was not changed");
        UpdateTitleAndViews();
        return;
    }
    if (!frameHasView(m_gridSet, r)) {
        // No wait cursor is left over the message box.
        Ui().showMessageBox(NEED_FOUR_POINTS);
        return;
    }

    {
        BusyCursor busy(Ui());
        std::vector<cv::Point2f> imagePoints;
        std::vector<cv::Point3f> objectPoints;
        gatherFramePoints(m_gridSet, r, imagePoints, objectPoints);
        try {
            ExtrinsicResult pose = calibrateExtrinsic(imagePoints, objectPoints, *m_calibration);
            if (!(pose.rms <= MAX_EXTRINSIC_RMS)) {
                // The intrinsics do not fit this frame: such a pose is no result.
                reportProblem(*this, "Extrinsic Calibration of frame " + std::to_string(r) +
                                " failed: RMS reprojection error " + pixels(pose.rms) + " is above " +
                                pixels(MAX_EXTRINSIC_RMS) + "; the calibration was not changed");
            } else {
                for (int i = 0; i < 3; ++i) m_calibration->translation(i) = pose.translation[i];
                for (int i = 0; i < 9; ++i) m_calibration->rotation(i) = pose.rotation[i];
                m_calibrationModified = true;
                m_referenceFrame = r;
                m_calibrationStats.extrinsicFrame = r;
                m_calibrationStats.extrinsicRms = pose.rms;
                m_calibrationStats.poseFrame = r;
                m_calibrationProblem.clear();
                Ui().showStatus("Extrinsic Calibration of frame " + std::to_string(r) + ": " +
                                std::to_string(imagePoints.size()) + " points, RMS reprojection error " +
                                pixels(pose.rms));
            }
        } catch (const cv::Exception& e) {
            reportProblem(*this, "Extrinsic Calibration failed: " + e.err + "; the calibration was not changed");
        }
    }
    UpdateTitleAndViews();
}

void CVexelDoc::OnCellSize(double millimetres) {
    if (!(millimetres >= 0 && millimetres <= MAX_CELL_SIZE_MM)) {
        Ui().showStatus("Cell Size: " + vexel::formatDecimals(millimetres, 2) + " mm is not a cell side (0 to " +
                        vexel::formatDecimals(MAX_CELL_SIZE_MM, 0) + " mm); the cell size was not changed");
    } else {
        m_cellSizeMm = millimetres;
        Ui().showStatus(millimetres > 0 ? "Cell side " + vexel::formatDecimals(millimetres, 2) +
                                              " mm: poses are given in millimetres"
                                        : std::string("Cell side not set: poses are given in cells"));
    }
    UpdateTitleAndViews();
}
