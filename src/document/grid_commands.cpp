#include "document/grid_commands.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "calibration/busy_cursor.h"
#include "calibration/points_file.h"
#include "document/vexel_doc.h"
#include "grid/extract_frame.h"

namespace {

// Gives grid frame `frame` two empty parts, zero-filled slots and the point
// count `count` (the slot count, for a frame about to be searched; 0 for one
// that holds nothing).
void resetGridFrame(GridSet& set, int frame, int count) {
    const auto f = static_cast<std::size_t>(frame);
    // The work list may still name cells of the parts freed here.
    set.pendingElements.clear();
    // Elements go before the nodes they are registered with, in both parts.
    if (set.triangleParts[f]) set.triangleParts[f]->clearElements();
    if (set.gridParts[f]) set.gridParts[f]->clearElements();
    set.triangleParts[f] = std::make_unique<g_part>();
    set.gridParts[f] = std::make_unique<g_part>();
    const auto first = set.imagePoints.begin() + set.pointOffset[f];
    std::fill(first, first + set.maxPoints, GridPoint{0.0f, 0.0f});
    const auto pattern = set.patternPoints.begin() + set.pointOffset[f];
    std::fill(pattern, pattern + set.maxPoints, GridPoint{0.0f, 0.0f});
    set.pointCount[f] = count;
}

// One searched frame's record, while the grid set is sized anew.
struct KeptFrame {
    int frame = 0;
    int pointCount = 0;
    std::vector<GridPoint> imagePoints, patternPoints;
    std::unique_ptr<g_part> triangles, grid;

    KeptFrame() = default;
    KeptFrame(KeptFrame&&) = default;
    KeptFrame& operator=(KeptFrame&&) = delete;
    ~KeptFrame() {
        if (triangles) triangles->clearElements();
        if (grid) grid->clearElements();
    }
};

// Sizes the grid set for all of the document's frames, keeping the records
// of the frames already searched; every other frame holds no points and no
// cells. False (and nothing searched any more) when the grid set cannot be
// allocated.
bool prepareGridFrames(CVexelDoc& doc) {
    GridSet& set = doc.m_gridSet;
    const int count = doc.FrameCount();
    std::vector<FrameExtraction>& states = doc.m_gridFrames;
    states.resize(static_cast<std::size_t>(count));

    const bool usable = set.maxPoints == GRID_POINTS_PER_FRAME && set.hasFrame(0);
    if (!usable || set.frameCount != count) {
        const int keep = usable ? std::min(set.frameCount, count) : 0;
        std::vector<KeptFrame> kept;
        for (int f = 0; f < keep; ++f) {
            if (!states[static_cast<std::size_t>(f)].extracted) continue;
            const auto s = static_cast<std::size_t>(f);
            KeptFrame k;
            k.frame = f;
            k.pointCount = set.pointCount[s];
            const auto first = set.pointOffset[s];
            k.imagePoints.assign(set.imagePoints.begin() + first, set.imagePoints.begin() + first + set.maxPoints);
            k.patternPoints.assign(set.patternPoints.begin() + first,
                                   set.patternPoints.begin() + first + set.maxPoints);
            k.triangles = std::move(set.triangleParts[s]);
            k.grid = std::move(set.gridParts[s]);
            kept.push_back(std::move(k));
        }
        set.pendingElements.clear();
        set.allocate(count, GRID_POINTS_PER_FRAME);
        if (!set.hasFrame(0)) {
            states.assign(static_cast<std::size_t>(count), FrameExtraction{});
            return false;
        }
        std::vector<bool> restored(static_cast<std::size_t>(count), false);
        for (KeptFrame& k : kept) {
            const auto s = static_cast<std::size_t>(k.frame);
            set.pointCount[s] = k.pointCount;
            std::copy(k.imagePoints.begin(), k.imagePoints.end(), set.imagePoints.begin() + set.pointOffset[s]);
            std::copy(k.patternPoints.begin(), k.patternPoints.end(), set.patternPoints.begin() + set.pointOffset[s]);
            set.triangleParts[s] = std::move(k.triangles);
            set.gridParts[s] = std::move(k.grid);
            restored[s] = true;
        }
        for (int f = 0; f < count; ++f)
            if (!restored[static_cast<std::size_t>(f)]) states[static_cast<std::size_t>(f)] = FrameExtraction{};
    }
    for (int f = 0; f < count; ++f)
        if (!states[static_cast<std::size_t>(f)].extracted) resetGridFrame(set, f, 0);
    return true;
}

// Searches the current frame, once decoded, into grid frame `frame` and
// notes the outcome. False when the frame cannot be read.
bool extractCurrentFrame(CVexelDoc& doc, int frame, cv::Mat& work, const FrameExtractor& extract) {
    doc.EnsureCurrentFrameLoaded();
    // CopyFrameToImage reshapes the work image to the frame's own size.
    if (!doc.CopyFrameToImage(work) || work.empty()) {
        doc.m_gridFrames[static_cast<std::size_t>(frame)] = FrameExtraction{true, GridFailure::NotRead, cv::Size()};
        return false;
    }
    // Corner detection runs only on a frame whose count is the slot count.
    resetGridFrame(doc.m_gridSet, frame, doc.m_gridSet.maxPoints);
    std::string rejected;
    extract(doc.m_gridSet, frame, work, &rejected);
    recordExtraction(doc, frame, work.size(), rejected);
    return true;
}

// Puts the starting frame back on screen; used also while a failure is on
// its way out, so it throws nothing of its own.
void restoreCurrentFrame(CVexelDoc& doc, int start) noexcept {
    try {
        doc.GoToFrame(start);
        doc.StartLoader();
    } catch (...) {
        // The frame stays where the loop stopped; the failure that ends the
        // loop is the one to report.
    }
}

}  // namespace

void recordExtraction(CVexelDoc& doc, int frame, cv::Size size, const std::string& rejected) {
    if (frame < 0) return;
    if (doc.m_gridFrames.size() <= static_cast<std::size_t>(frame))
        doc.m_gridFrames.resize(static_cast<std::size_t>(frame) + 1);
    GridFailure failure = GridFailure::None;
    if (doc.m_gridSet.getPointCount(frame) <= 0)
        failure = rejected.empty() ? GridFailure::NoBoardFound : GridFailure::MarkersMisfit;
    doc.m_gridFrames[static_cast<std::size_t>(frame)] = FrameExtraction{true, failure, size};
}

int extractMissingFrames(CVexelDoc& doc, const FrameExtractor& extract, int only) {
    const int count = doc.FrameCount();
    if (count <= 0 || only >= count) return 0;
    if (!prepareGridFrames(doc)) return 0;

    const int start = doc.CurrentFrame();
    std::vector<int> frames;
    for (int k = 0; k < count; ++k) {
        const int f = (start + k) % count;
        if (!doc.m_gridFrames[static_cast<std::size_t>(f)].extracted && (only < 0 || f == only)) frames.push_back(f);
    }
    if (frames.empty()) return 0;

    cv::Mat work;
    int read = 0;
    int current = -1;  // the frame being searched, while it is
    try {
        const int total = static_cast<int>(frames.size());
        for (int i = 0; i < total; ++i) {
            // A stop asked for takes effect between frames: the frames done
            // keep what was found, the others stay to be searched.
            if (doc.Ui().cancelRequested()) break;
            current = frames[static_cast<std::size_t>(i)];
            const std::string step = "Extracting frame " + std::to_string(i + 1) + " of " + std::to_string(total);
            doc.Ui().showStatus(step);
            doc.Ui().progress(step, i, total);
            doc.GoToFrame(current);
            doc.StartLoader();
            if (extractCurrentFrame(doc, current, work, extract)) ++read;
            current = -1;
        }
    } catch (...) {
        // The frame that failed may hold half of its search: it holds
        // nothing and is searched again by the next command that needs it.
        if (current >= 0 && doc.m_gridSet.hasFrame(current)) {
            resetGridFrame(doc.m_gridSet, current, 0);
            doc.m_gridFrames[static_cast<std::size_t>(current)] = FrameExtraction{};
        }
        restoreCurrentFrame(doc, start);
        doc.Ui().endProgress();
        throw;
    }
    restoreCurrentFrame(doc, start);
    doc.Ui().endProgress();
    return read;
}

int extractAllFrames(CVexelDoc& doc, const FrameExtractor& extract) {
    doc.m_gridFrames.assign(static_cast<std::size_t>(std::max(doc.FrameCount(), 0)), FrameExtraction{});
    return extractMissingFrames(doc, extract);
}

FrameExtractor documentExtractor(CVexelDoc& doc) {
    std::ostream* diagnostics = doc.m_diagnostics;
    ExtractOptions options;
    options.refineCorners = doc.m_refineCorners;
    return [diagnostics, options](GridSet& set, int frame, const cv::Mat& image, std::string* rejected) {
        ExtractTrace trace;
        extractFrame(set, frame, image, &trace, diagnostics, &std::cerr, options);
        *rejected = trace.rejected;
    };
}

std::string cancelledNote(CVexelDoc& doc) {
    if (!doc.Ui().cancelRequested()) return {};
    const int missing = doc.FramesNotExtracted();
    return "; stopped, " + std::to_string(missing) + (missing == 1 ? " frame" : " frames") + " not searched";
}

std::string extractionSummary(const CVexelDoc& doc) {
    const int frames = doc.FrameCount();
    int withGrid = 0;
    int unread = 0;
    for (int f = 0; f < frames; ++f) {
        const FrameGridStatus status = doc.GridStatus(f);
        if (status.points >= MIN_FRAME_POINTS) ++withGrid;
        if (status.failure == GridFailure::NotRead) ++unread;
    }
    std::string status = "Extract Grid(s): " + std::to_string(withGrid) + " of " + std::to_string(frames) +
                         " frames with 4 or more points, " + std::to_string(doc.m_gridSet.getTotalPointCount()) +
                         " points in all";
    if (unread > 0) status += ", " + std::to_string(unread) + " frames could not be read";
    return status;
}

FrameGridStatus CVexelDoc::GridStatus(int frame) const {
    FrameGridStatus status;
    if (frame < 0 || frame >= m_frameCount || static_cast<std::size_t>(frame) >= m_gridFrames.size()) return status;
    const FrameExtraction& extraction = m_gridFrames[static_cast<std::size_t>(frame)];
    if (!extraction.extracted) return status;
    status.extracted = true;
    status.points = m_gridSet.getPointCount(frame);
    status.failure = extraction.failure;
    status.size = extraction.size;
    return status;
}

int CVexelDoc::FramesNotExtracted() const {
    int missing = 0;
    for (int f = 0; f < m_frameCount; ++f)
        if (!GridStatus(f).extracted) ++missing;
    return missing;
}

int CVexelDoc::ExtractMissingGrids(int frame) {
    if (m_frameCount <= 0 || frame >= m_frameCount) return 0;
    const int before = FramesNotExtracted();
    if (frame >= 0 ? GridStatus(frame).extracted : before == 0) return 0;
    {
        BusyCursor busy(Ui());
        extractMissingFrames(*this, documentExtractor(*this), frame);
    }
    Ui().showStatus(extractionSummary(*this) + cancelledNote(*this));
    return before - FramesNotExtracted();
}

void CVexelDoc::ClearGrids() {
    m_gridSet.pendingElements.clear();
    m_gridSet.allocate(0, 0);
    m_gridFrames.clear();
    m_excludedFrames.clear();
    m_frameNotes.clear();
    m_showGrid = false;
    m_referenceFrame = -1;
    m_calibrationStats.forgetFrames();
}

void CVexelDoc::OnGrid() {
    // The overlay shows the grids of the frames in the list, so the frames
    // not searched yet are searched before it is switched on.
    if (!m_showGrid) ExtractMissingGrids();
    m_showGrid = !m_showGrid && m_gridSet.getTotalPointCount() > 0;
    UpdateTitleAndViews();
}

void CVexelDoc::OnRefineCorners() {
    m_refineCorners = !m_refineCorners;
    bool searched = false;
    for (const FrameExtraction& frame : m_gridFrames) searched = searched || frame.extracted;
    m_gridFrames.assign(m_gridFrames.size(), FrameExtraction{});
    Ui().showStatus(std::string("Refine Corners ") + (m_refineCorners ? "on" : "off") +
                    (searched ? ": the grids are searched again" : ""));
    if (searched && m_showGrid) ExtractMissingGrids();
    UpdateTitleAndViews();
}

void CVexelDoc::OnExtractGrids() {
    if (m_frameCount <= 0) return;
    {
        BusyCursor busy(Ui());
        extractAllFrames(*this, documentExtractor(*this));
    }
    // What was found is shown at once.
    if (m_gridSet.getTotalPointCount() > 0) m_showGrid = true;
    Ui().showStatus(extractionSummary(*this) + cancelledNote(*this));
    UpdateTitleAndViews();
}
