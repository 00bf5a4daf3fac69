// Frames left out of the calibrations, going to a frame by its index and
// removing one from the list.

#include <algorithm>
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

bool CVexelDoc::RemoveFrame(int frame) {
    if (frame < 0 || frame >= m_frameCount || m_sequence) return false;
    WaitForLoader();
    const auto f = static_cast<std::size_t>(frame);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // The slots are placed around indices that move: they are filled anew.
        for (int i = 0; i < SLOT_COUNT; ++i) ReleaseSlot(i);
        m_frameNames.erase(m_frameNames.begin() + frame);
        m_frameCount = static_cast<int>(m_frameNames.size());
        if (m_currentFrame > frame || m_currentFrame >= m_frameCount) m_currentFrame = std::max(m_currentFrame - 1, 0);
        m_currentSlot = START_SLOT;
        m_framePending = m_frameCount > 0;
        m_gridSet.removeFrame(frame);
    }
    if (f < m_excludedFrames.size()) m_excludedFrames.erase(m_excludedFrames.begin() + frame);
    if (f < m_frameNotes.size()) m_frameNotes.erase(m_frameNotes.begin() + frame);
    m_calibrationStats.removeFrame(frame);
    if (m_referenceFrame == frame)
        m_referenceFrame = -1;
    else if (m_referenceFrame > frame)
        --m_referenceFrame;
    if (m_frameCount == 0) m_showGrid = false;
    StartLoader();
    return true;
}

void CVexelDoc::OnRemoveFrame(int frame) {
    const std::string name = FrameName(frame);
    if (RemoveFrame(frame))
        Ui().showStatus("Removed frame " + std::to_string(frame) + " (" + name + "); " + std::to_string(m_frameCount) +
                        (m_frameCount == 1 ? " frame" : " frames") + " left");
    else if (m_sequence)
        Ui().showStatus("Remove Frame: the frames of a video sequence cannot be removed one by one");
    UpdateTitleAndViews();
}
