#include "document/grid_commands.h"

#include <string>

#include "calibration/busy_cursor.h"
#include "calibration/points_file.h"
#include "document/vexel_doc.h"
#include "grid/extract_frame.h"

bool extractCurrentFrame(CVexelDoc& doc, int frame, cv::Mat& work, const FrameExtractor& extract) {
    GridSet& set = doc.m_gridSet;
    if (!set.hasFrame(frame)) return false;
    if (doc.m_gridFrameSizes.size() != static_cast<std::size_t>(set.frameCount))
        doc.m_gridFrameSizes.assign(static_cast<std::size_t>(set.frameCount), cv::Size());
    doc.EnsureCurrentFrameLoaded();
    // CopyFrameToImage reshapes the work image to the frame's own size.
    if (!doc.CopyFrameToImage(work) || work.empty()) {
        set.pointCount[frame] = 0;
        doc.m_gridFrameSizes[frame] = cv::Size();
        return false;
    }
    doc.m_gridFrameSizes[frame] = work.size();
    extract(set, frame, work);
    return true;
}

int extractAllFrames(CVexelDoc& doc, const FrameExtractor& extract) {
    int count = doc.FrameCount();
    if (count <= 0) return 0;
    doc.m_gridSet.allocate(count, GRID_POINTS_PER_FRAME);
    doc.m_gridFrameSizes.assign(static_cast<std::size_t>(count), cv::Size());
    if (!doc.m_gridSet.hasFrame(0)) return 0;

    cv::Mat work;
    int read = 0;
    for (int i = 0; i < count; ++i) {
        doc.Ui().showStatus("Extracting frame " + std::to_string(i + 1) + " of " + std::to_string(count));
        if (extractCurrentFrame(doc, doc.CurrentFrame(), work, extract)) ++read;
        doc.StepForward();
        doc.StartLoader();
    }
    return read;
}

FrameExtractor documentExtractor(CVexelDoc& doc) {
    std::ostream* diagnostics = doc.m_diagnostics;
    return [diagnostics](GridSet& set, int frame, const cv::Mat& image) {
        extractFrame(set, frame, image, nullptr, diagnostics, &std::cerr);
    };
}

std::string extractionSummary(const CVexelDoc& doc, int read) {
    const int frames = doc.FrameCount();
    int withGrid = 0;
    for (int f = 0; f < frames; ++f)
        if (doc.m_gridSet.getPointCount(f) >= MIN_FRAME_POINTS) ++withGrid;
    std::string status = "Extract Grid(s): " + std::to_string(withGrid) + " of " + std::to_string(frames) +
                         " frames with 4 or more points, " + std::to_string(doc.m_gridSet.getTotalPointCount()) +
                         " points in all";
    if (read < frames) status += ", " + std::to_string(frames - read) + " frames could not be read";
    return status;
}

void CVexelDoc::OnGrid() {
    m_showGrid = !m_showGrid && m_gridSet.getTotalPointCount() > 0;
    UpdateTitleAndViews();
}

void CVexelDoc::OnExtractGrids() {
    if (m_frameCount <= 0) return;
    int read = 0;
    {
        BusyCursor busy(Ui());
        read = extractAllFrames(*this, documentExtractor(*this));
    }
    std::string status = extractionSummary(*this, read);
    Ui().showStatus(status);
    UpdateTitleAndViews();
}
