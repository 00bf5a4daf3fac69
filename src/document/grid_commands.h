#pragma once
// The grid commands' driver, open to callers that run their own per-frame
// extraction (the tests record the visiting order with it).

#include <functional>
#include <string>

#include <opencv2/core/mat.hpp>

class CVexelDoc;
class GridSet;

// Point slots reserved per frame by the grid commands.
constexpr int GRID_POINTS_PER_FRAME = 200;

using FrameExtractor = std::function<void(GridSet& set, int frame, const cv::Mat& image)>;

// Sizes the document's grid set for every frame and runs `extract` on each
// frame once, from the current frame onwards with wrap-around; the current
// frame is the starting one again at the end. Each frame is read only once
// the loader has decoded it, at its own size. Before each frame the status
// line says "Extracting frame i of N" (i counting the frames visited). A frame that cannot be read is
// not extracted and ends with no points. Returns the number of frames read.
int extractAllFrames(CVexelDoc& doc, const FrameExtractor& extract);

// The document's own extraction: the whole pipeline, its diagnostic lines
// going to the document's diagnostics stream.
FrameExtractor documentExtractor(CVexelDoc& doc);

// Runs `extract` on the current frame into grid frame `frame` after waiting
// for the loader; records the frame's size. False (and the frame's point
// count set to 0) when the frame cannot be read.
bool extractCurrentFrame(CVexelDoc& doc, int frame, cv::Mat& work, const FrameExtractor& extract);

// The status line Extract Grid(s) ends with: frames with a grid, points in
// all and, when `read` falls short of the frame count, the unread frames.
std::string extractionSummary(const CVexelDoc& doc, int read);
