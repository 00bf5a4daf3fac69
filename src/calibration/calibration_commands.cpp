// The calibration commands of the document: Load, Save, Save
// Correspondences, Intrinsic and Extrinsic Calibration.

#include "calibration/calibration_commands.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "calibration/busy_cursor.h"
#include "calibration/calibration_file.h"
#include "calibration/calibration_views.h"
#include "calibration/camera_calibration.h"
#include "calibration/fixed_format.h"
#include "calibration/points_file.h"
#include "calibration/replace_file.h"
#include "document/grid_commands.h"
#include "document/vexel_doc.h"

namespace {

const char* const CAL_FILTER = "Camera Calibration Files (*.cal)|*.cal||";
const char* const CAL_EXTENSION = ".cal";
const char* const POINTS_FILTER = "Correspondence files (*.points)|*.points||";
const char* const POINTS_EXTENSION = ".points";
const char* const NEED_INTRINSIC = "Must have intrinsic calibration before extrinsic parameters can be used.";
const char* const NEED_FOUR_POINTS = "Must select an image in which 4 or more points could be mapped.";

std::string pixels(double value) { return vexel::formatFixed(value) + " px"; }

// The size a grid frame was extracted at; empty when unknown.
cv::Size gridFrameSize(const CVexelDoc& doc, int frame) {
    if (frame < 0 || static_cast<std::size_t>(frame) >= doc.m_gridFrameSizes.size()) return {};
    return doc.m_gridFrameSizes[frame];
}

}  // namespace

bool LoadCalibrationFile(CVexelDoc& doc, const std::string& path) {
    // Read into a copy, so that a file that turns out to be no calibration
    // file changes nothing, not even whether a record exists.
    CalibrationRecord record = doc.m_calibration ? *doc.m_calibration : CalibrationRecord{};
    CalibrationReadResult result = CalibrationFileReader(record, path);
    if (!result.opened) {
        doc.Ui().showStatus("Load Calibration: cannot read " + path);
        return false;
    }
    if (!result.recognised()) {
        doc.Ui().showStatus("Load Calibration: " + path + " is not a calibration file");
        return false;
    }
    if (!doc.m_calibration) doc.m_calibration = std::make_unique<CalibrationRecord>();
    *doc.m_calibration = record;
    doc.m_calibrationStats = CalibrationStats{};
    if (result.complete()) {
        doc.Ui().showStatus("Loaded calibration from " + path);
    } else {
        doc.Ui().showStatus("Load Calibration: " + path + " is incomplete: read " + std::to_string(result.valuesRead) +
                            " of " + std::to_string(result.valuesExpected) + " values");
    }
    return true;
}

bool SaveCalibrationFile(CVexelDoc& doc, const std::string& path, int form, std::string* error) {
    std::string reason;
    bool ok = false;
    if (!doc.m_calibration) {
        reason = "there is no calibration to save";
    } else {
        ok = CalibrationFileWriter(*doc.m_calibration, path, form, &reason);
    }
    if (!ok) {
        doc.Ui().showStatus("Save Calibration: " + reason);
        if (error) *error = reason;
        return false;
    }
    doc.Ui().showStatus("Saved calibration to " + path);
    return true;
}

bool SaveCorrespondencesFile(CVexelDoc& doc, const std::string& path, std::string* error) {
    // The grid set is read under the lock; the file is written after it.
    std::string text;
    {
        std::lock_guard<std::mutex> lock(doc.Lock());
        text = formatCorrespondences(doc.m_gridSet, doc.m_frameCount);
    }
    std::string reason;
    if (!vexel::replaceFileContents(path, text, &reason)) {
        doc.Ui().showStatus("Save Correspondences: " + reason);
        if (error) *error = reason;
        return false;
    }
    doc.Ui().showStatus("Saved correspondences to " + path);
    return true;
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
    if (m_gridSet.getTotalPointCount() > 0) {
        std::optional<std::string> path = Ui().chooseSaveFile(POINTS_FILTER, POINTS_EXTENSION, true);
        if (path && !path->empty()) SaveCorrespondencesFile(*this, *path);
    }
    UpdateTitleAndViews();
}

void CVexelDoc::OnIntrinsicCalibration(const IntrinsicOptions& options) {
    if (m_frameCount <= 0) {
        UpdateTitleAndViews();
        return;
    }
    if (m_gridSet.getTotalPointCount() == 0) OnExtractGrids();

    {
        BusyCursor busy(Ui());
        // The image size is that of the current frame once it is decoded; a
        // current frame that cannot be read gives way to the first frame
        // with points whose size is known.
        EnsureCurrentFrameLoaded();
        cv::Size size(GetFrameWidth(), GetFrameHeight());
        if (size.width <= 0 || size.height <= 0) {
            size = cv::Size();
            for (int f = 0; f < m_frameCount && size.empty(); ++f)
                if (m_gridSet.getPointCount(f) >= MIN_FRAME_POINTS) size = gridFrameSize(*this, f);
        }

        int otherSize = 0;
        CalibrationViews views = gatherCalibrationViews(m_gridSet, m_frameCount, [&](int frame) {
            cv::Size own = gridFrameSize(*this, frame);
            if (own.empty() || own == size) return true;
            ++otherSize;
            return false;
        });
        std::string leftOut;
        if (otherSize > 0)
            leftOut = "; " + std::to_string(otherSize) + (otherSize == 1 ? " frame" : " frames") +
                      " of another size left out";

        if (views.viewCount() == 0 || size.empty()) {
            Ui().showStatus("Intrinsic Calibration: no frame has 4 or more points" + leftOut +
                            "; the calibration was not changed");
        } else {
            try {
                IntrinsicResult result = calibrateIntrinsic(views, size, options);
                if (!m_calibration) m_calibration = std::make_unique<CalibrationRecord>();
                *m_calibration = result.record;
                // The record's pose is now that of the first frame used, so
                // no frame is shown as the reference frame any more.
                m_referenceFrame = -1;
                CalibrationStats stats;
                stats.valid = true;
                stats.frames = views.frames;
                stats.pointCounts = views.pointCounts();
                stats.perViewErrors = result.perViewErrors;
                stats.rms = result.rms;
                stats.framesOtherSize = otherSize;
                stats.imageSize = size;
                stats.stdDeviations = result.stdDeviations;
                stats.solver = solverName(result.solver);
                m_calibrationStats = stats;
                Ui().showStatus("Intrinsic Calibration: " + std::to_string(views.viewCount()) + " frames, " +
                                std::to_string(views.totalPoints()) + " points, RMS reprojection error " +
                                pixels(result.rms) + leftOut);
            } catch (const cv::Exception& e) {
                Ui().showStatus("Intrinsic Calibration failed: " + e.err + "; the calibration was not changed");
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
    std::vector<std::string> names;
    int initial = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        names = m_frameNames;
        initial = m_currentFrame;
    }
    int r = Ui().chooseReferenceFrame(names, initial);
    if (r < 0 || r >= m_frameCount) {
        Ui().setBusy(false);
        UpdateTitleAndViews();
        return;
    }

    {
        BusyCursor busy(Ui());
        if (m_gridSet.getTotalPointCount() > 0) {
            if (m_gridSet.getPointCount(r) < MIN_FRAME_POINTS) {
                Ui().showMessageBox(NEED_FOUR_POINTS);
                return;
            }
        } else {
            // Nothing extracted yet: the grid set gets a record for every
            // frame, and only the reference frame is searched, into its own
            // index; the others hold no points.
            GoToFrame(r);
            StartLoader();
            m_gridSet.allocate(m_frameCount, GRID_POINTS_PER_FRAME);
            m_gridFrameSizes.assign(static_cast<std::size_t>(m_frameCount), cv::Size());
            if (!m_gridSet.hasFrame(r)) return;
            for (int f = 0; f < m_frameCount; ++f)
                if (f != r) m_gridSet.pointCount[f] = 0;
            cv::Mat work;
            extractCurrentFrame(*this, r, work, documentExtractor(*this));
            if (m_gridSet.getPointCount(r) < MIN_FRAME_POINTS) {
                Ui().showMessageBox(NEED_FOUR_POINTS);
                return;
            }
        }

        std::vector<cv::Point2f> imagePoints;
        std::vector<cv::Point3f> objectPoints;
        gatherFramePoints(m_gridSet, r, imagePoints, objectPoints);
        try {
            ExtrinsicResult pose = calibrateExtrinsic(imagePoints, objectPoints, *m_calibration);
            for (int i = 0; i < 3; ++i) m_calibration->translation(i) = pose.translation[i];
            for (int i = 0; i < 9; ++i) m_calibration->rotation(i) = pose.rotation[i];
            m_referenceFrame = r;
            m_calibrationStats.extrinsicFrame = r;
            m_calibrationStats.extrinsicRms = pose.rms;
            Ui().showStatus("Extrinsic Calibration of frame " + std::to_string(r) + ": " +
                            std::to_string(imagePoints.size()) + " points, RMS reprojection error " +
                            pixels(pose.rms));
        } catch (const cv::Exception& e) {
            Ui().showStatus("Extrinsic Calibration failed: " + e.err + "; the calibration was not changed");
        }
    }
    UpdateTitleAndViews();
}
