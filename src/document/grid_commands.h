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

// Extracts one frame into its record of the grid set. `rejected` (never
// null) receives why the marker check refused the frame's labels; it is left
// empty when the check did not refuse them.
using FrameExtractor =
    std::function<void(GridSet& set, int frame, const cv::Mat& image, std::string* rejected)>;

// Runs `extract` on every frame of the document not searched yet (with
// `only` >= 0: on that frame alone, if it was not searched yet). The grid set
// is first sized for every frame, keeping what was found in the frames
// already searched. The frames are visited from the current one onwards with
// wrap-around, each read once the loader has decoded it, at its own size;
// before each one the status line and the user interface's progress say
// "Extracting frame i of N" (i counting the frames visited, N those to
// visit). When the user interface asks to stop, the loop ends before the
// next frame. A frame that cannot be read ends
// with no points, searched, its failure "not read". The current frame is the
// starting one again at the end, also when the loop stops early: the frames
// done stay searched, the others hold no points and stay to be searched. A
// failure thrown by `extract` is thrown again after that. Returns the number
// of frames read.
int extractMissingFrames(CVexelDoc& doc, const FrameExtractor& extract, int only = -1);

// Extract Grid(s): every frame counts as not searched, then
// extractMissingFrames searches them all.
int extractAllFrames(CVexelDoc& doc, const FrameExtractor& extract);

// The document's own extraction: the whole pipeline, its diagnostic lines
// going to the document's diagnostics stream.
FrameExtractor documentExtractor(CVexelDoc& doc);

// Notes in the document that grid frame `frame` now holds what was found in
// the frame now at that index, read at `size`; `rejected` as the extractor
// gave it. Without points, the failure is "markers do not fit the grid" when
// `rejected` is not empty, else "no board found".
void recordExtraction(CVexelDoc& doc, int frame, cv::Size size, const std::string& rejected);

// The status line a search ends with: frames with a grid, points in all and
// the frames that could not be read, over the whole frame list.
std::string extractionSummary(const CVexelDoc& doc);

// "; stopped, N frames not searched" after a search the user stopped, else
// empty.
std::string cancelledNote(CVexelDoc& doc);
