// Frames left out of the calibrations, and going to a frame by its index.

#include <string>

#include "calibration/plural.h"
#include "document/vexel_doc.h"

bool CVexelDoc::FrameExcluded(int frame) const {
    return frame >= 0 && frame < m_frameCount && static_cast<std::size_t>(frame) < m_excludedFrames.size() &&
           m_excludedFrames[static_cast<std::size_t>(frame)];
}

bool CVexelDoc::SetFrameExcluded(int frame, bool excluded) {
    if (frame < 0 || frame >= m_frameCount) return false;
    const auto f = static_cast<std::size_t>(frame);
    if (m_excludedFrames.size() <= f) {
        if (!excluded) return true;
        m_excludedFrames.resize(static_cast<std::size_t>(m_frameCount), false);
    }
    m_excludedFrames[f] = excluded;
    return true;
}

int CVexelDoc::ExcludedFrameCount() const {
    int count = 0;
    for (int f = 0; f < m_frameCount; ++f)
        if (FrameExcluded(f)) ++count;
    return count;
}

void CVexelDoc::OnExcludeFrame(int frame, bool excluded) {
    if (SetFrameExcluded(frame, excluded)) {
        const int out = ExcludedFrameCount();
        std::string status = "Frame " + std::to_string(frame) +
                             (excluded ? " is left out of the calibrations" : " is used by the calibrations again");
        if (out > 0) status += "; " + vexel::plural(out, "frame", "frames") + " left out";
        Ui().showStatus(status);
    }
    UpdateTitleAndViews();
}

void CVexelDoc::OnUseAllFrames() {
    const int out = ExcludedFrameCount();
    m_excludedFrames.clear();
    if (out > 0)
        Ui().showStatus("Use All Frames: " + vexel::plural(out, "frame is", "frames are") +
                        " used by the calibrations again");
    UpdateTitleAndViews();
}

void CVexelDoc::OnGoToFrame(int frame) {
    if (frame >= 0 && frame < m_frameCount && frame != m_currentFrame) {
        GoToFrame(frame);
        StartLoader();
    }
    UpdateTitleAndViews();
}
