// The session commands of the document: Save Session, Save Session As and
// Open Session, and whether the working set has changed since its session
// was last saved or opened.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "calibration/calibration_export.h"
#include "calibration/output_file.h"
#include "document/grid_commands.h"
#include "calibration/regular_file.h"
#include "document/session_file.h"
#include "document/vexel_doc.h"
#include "geomlib/g_node.h"
#include "grid/grid_element.h"

namespace fs = std::filesystem;

namespace {

const char* const SESSION_FILTER = "Vexel Sessions (*.vexel)|*.vexel||";
const char* const SESSION_EXTENSION = ".vexel";
const char* const FILE_MISSING = "file missing";
const char* const FILE_CHANGED = "file changed since the session was saved";

GridFailure failureOf(const std::string& text) {
    for (GridFailure failure : {GridFailure::NotRead, GridFailure::NoBoardFound, GridFailure::MarkersMisfit})
        if (text == gridFailureText(failure)) return failure;
    return GridFailure::None;
}

// Puts what the session found in frame `f` into its record of the grid
// set, made anew.
void restoreFrame(GridSet& grid, int f, const SessionFrame& frame) {
    if (!grid.resetFrame(f, 0)) return;
    FrameGrid& record = grid.frames[static_cast<std::size_t>(f)];
    const std::size_t count = std::min(frame.imagePoints.size(), record.imagePoints.size());
    std::copy_n(frame.imagePoints.begin(), count, record.imagePoints.begin());
    std::copy_n(frame.patternPoints.begin(), count, record.patternPoints.begin());
    record.pointCount = static_cast<int>(count);
    std::vector<g_node*> corners;
    for (std::size_t i = 0; i < frame.cornerX.size(); ++i) {
        auto* node = new g_node(g_vector(frame.cornerX[i], frame.cornerY[i], 0));
        record.gridPart->addNode(node);
        corners.push_back(node);
    }
    for (const std::vector<int>& indices : frame.cells) {
        auto* cell = new GridElement;
        for (int i : indices) cell->addNode(corners[static_cast<std::size_t>(i)]);
        cell->inGrid = 1;
        record.gridPart->addElement(cell);
    }
    record.searched = true;
    record.failure = failureOf(frame.failure);
    record.size = cv::Size(frame.width, frame.height);
}

std::string plural(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::size_t CVexelDoc::SessionState() {
    const std::string folder = m_sessionPath.empty() ? std::string() : fs::path(m_sessionPath).parent_path().string();
    SessionData session = captureSession(*this, folder);
    // Moving through the frames is no change worth asking about.
    session.currentFrame = 0;
    return std::hash<std::string>{}(formatSession(session));
}

bool CVexelDoc::SessionModified() {
    if (m_frameCount <= 0 && m_sessionPath.empty()) return false;
    // A list of frames that nothing was done with yet is quickly made again.
    const bool work = !m_sessionPath.empty() || m_calibration || ExcludedFrameCount() > 0 ||
                      FramesNotExtracted() < m_frameCount;
    return work && (!m_sessionSaved || SessionState() != m_sessionState);
}

std::string CVexelDoc::FrameNote(int frame) const {
    return frame >= 0 && static_cast<std::size_t>(frame) < m_frameNotes.size() && frame < m_frameCount
               ? m_frameNotes[static_cast<std::size_t>(frame)]
               : std::string();
}

bool CVexelDoc::SaveSessionFile(const std::string& path, std::string* error) {
    std::string reason;
    const SessionData session = captureSession(*this, fs::path(path).parent_path().string());
    for (std::size_t f = 0; f < session.frames.size() && reason.empty(); ++f)
        if (!isValidUtf8(session.frames[f].name))
            reason = "cannot write " + path + ": the name of frame " + std::to_string(f) +
                     " is not UTF-8 text, which a session cannot hold";
    if (!isValidUtf8(session.sourcePath))
        reason = "cannot write " + path + ": the video's name is not UTF-8 text, which a session cannot hold";
    if (!reason.empty() || !vexel::writeOutputFile(path, formatSession(session), &reason)) {
        Ui().showStatus("Save Session: " + reason);
        if (error) *error = reason;
        return false;
    }
    m_sessionPath = path;
    m_sessionState = SessionState();
    m_sessionSaved = true;
    Ui().showStatus("Saved session to " + path);
    return true;
}

bool CVexelDoc::OpenSessionFile(const std::string& path, std::string* error) {
    const auto fail = [&](const std::string& why) {
        Ui().showStatus("Open Session: " + path + ": " + why + "; nothing was changed");
        if (error) *error = why;
        return false;
    };
    std::string bytes, why;
    if (!vexel::readRegularFile(path, SESSION_FILE_MAX, bytes, &why)) return fail(why);
    SessionData session;
    if (!parseSession(bytes, session, why)) return fail(why);
    const fs::path folder = fs::path(path).parent_path();
    const auto resolve = [&](const std::string& name) {
        const fs::path p(name);
        return p.is_absolute() || folder.empty() ? name : (folder / p).lexically_normal().string();
    };
    const int count = static_cast<int>(session.frames.size());

    // The frames first: a sequence that cannot be read leaves everything as it was.
    bool sourceChanged = false;
    if (session.source == "images") {
        std::vector<std::string> names;
        for (const SessionFrame& frame : session.frames) names.push_back(resolve(frame.name));
        OnNewDocument();
        if (!names.empty()) AppendImageFiles(names);
    } else {
        const std::string source = resolve(session.sourcePath);
        bool imported = false;
        std::string problem;
        if (session.source == "vsq") {
            imported = ImportVsqFile(source);
        } else {
            vexel::VideoImportOptions options;
            const std::vector<int>& numbers = session.sourceFrameNumbers;
            options.every = numbers.size() >= 2 ? std::max(numbers[1] - numbers[0], 1) : 1;
            options.maxFrames = std::max(count, 1);
            imported = ImportVideoFile(source, options, {}, &problem);
        }
        if (!imported)
            return fail("the " + std::string(session.source == "vsq" ? "video sequence " : "video ") + source +
                        " cannot be read" + (problem.empty() ? std::string() : " (" + problem + ")"));
        m_calibration.reset();
        m_calibrationStats = CalibrationStats{};
        m_calibrationProblem.clear();
        sourceChanged = m_frameCount != count || fileStamp(source) != session.sourceStamp ||
                        (session.source == "video" && m_sequence->SourceFrameNumbers() != session.sourceFrameNumbers);
    }

    m_refineCorners = session.refineCorners;
    m_cellSizeMm = session.cellSizeMm;
    m_lensModel = session.lensModel;
    m_chooseLensModel = session.chooseLensModel;
    m_boardFlex = session.boardFlex;
    m_frameNotes.assign(static_cast<std::size_t>(m_frameCount), std::string());
    // Every record starts empty and not searched; the frames searched are
    // filled from the session.
    m_gridSet.allocate(0, 0);
    m_gridSet.maxPoints = GRID_POINTS_PER_FRAME;
    m_gridSet.resize(m_frameCount);
    int missing = 0, changed = 0;
    for (int f = 0; f < m_frameCount && f < count; ++f) {
        const SessionFrame& frame = session.frames[static_cast<std::size_t>(f)];
        std::string note;
        if (session.source == "images") {
            const FileStamp stamp = fileStamp(FrameName(f));
            if (stamp.size < 0)
                note = FILE_MISSING;
            else if (frame.stamp.size >= 0 && stamp != frame.stamp)
                note = FILE_CHANGED;
        } else if (sourceChanged) {
            note = FILE_CHANGED;
        }
        // What was found in a file that changed or went is not used: the
        // frame is left out and searched again when needed.
        if (!note.empty()) {
            ++(note == FILE_MISSING ? missing : changed);
            m_frameNotes[static_cast<std::size_t>(f)] = note;
            SetFrameExcluded(f, true);
            continue;
        }
        SetFrameExcluded(f, frame.leftOut);
        if (!frame.searched) continue;
        restoreFrame(m_gridSet, f, frame);
    }

    if (session.hasCalibration) {
        m_calibration = std::make_unique<CalibrationRecord>(session.record);
        m_calibrationStats = session.stats;
        // Figures of frames whose files changed belong to other pictures.
        if (changed + missing > 0 || sourceChanged) m_calibrationStats.forgetFrames();
        m_referenceFrame = changed + missing > 0 || sourceChanged ? -1 : session.referenceFrame;
        m_calibrationModified = false;
    }
    m_showGrid = session.showGrid && m_gridSet.getTotalPointCount() > 0;
    if (session.currentFrame > 0 && session.currentFrame < m_frameCount) {
        GoToFrame(session.currentFrame);
        StartLoader();
    }
    m_sessionPath = path;
    m_sessionState = SessionState();
    m_sessionSaved = true;

    std::string status = "Opened session " + path + ": " + plural(m_frameCount, "frame", "frames");
    if (m_calibration) status += ", a calibration";
    if (missing > 0) status += "; " + plural(missing, "file is", "files are") + " missing";
    if (changed > 0)
        status += "; " + plural(changed, "file has", "files have") + " changed since the session was saved";
    if (missing + changed > 0) status += " (left out, searched again when needed)";
    Ui().showStatus(status);
    return true;
}

bool CVexelDoc::SaveSession(bool ask) {
    if (!ask && !m_sessionPath.empty()) return SaveSessionFile(m_sessionPath);
    std::optional<std::string> path = Ui().chooseSaveFile(SESSION_FILTER, SESSION_EXTENSION, true);
    return path && !path->empty() && SaveSessionFile(*path);
}

void CVexelDoc::OnSaveSession() {
    SaveSession();
    UpdateTitleAndViews();
}

void CVexelDoc::OnSaveSessionAs() {
    SaveSession(true);
    UpdateTitleAndViews();
}

void CVexelDoc::OnOpenSession() {
    std::vector<std::string> paths = Ui().chooseOpenFiles(SESSION_FILTER, SESSION_EXTENSION, false);
    if (!paths.empty() && !paths.front().empty() && ConfirmClose()) OpenSessionFile(paths.front());
    UpdateTitleAndViews();
}
