#pragma once
// The extraction driver: the one loop that searches the frames of the
// document for their grids, on one thread or several, for the window's
// commands, the batch tool and the tests alike.

#include <exception>
#include <functional>
#include <iosfwd>
#include <string>

#include <opencv2/core/mat.hpp>

class CVexelDoc;
class GridSet;

// Point slots reserved per frame by the grid commands.
constexpr int GRID_POINTS_PER_FRAME = 200;

// What the search of one frame says besides its record: the triangulation's
// diagnostic lines and the line saying why the frame was given up go to the
// two streams (null: dropped); `rejected` receives why the marker check
// refused the frame's labels (empty when it did not refuse them).
struct FrameNotes {
    std::ostream* diagnostics = nullptr;
    std::ostream* errors = nullptr;
    std::string rejected;
};

// Extracts one frame into its record of the grid set. Called on the thread
// that searches the frame, with a grid set of that thread's own.
using FrameExtractor = std::function<void(GridSet& set, int frame, const cv::Mat& image, FrameNotes& notes)>;

// One run of the driver.
struct GridSearch {
    // Frames searched at once, the calling thread being one of them (at
    // least 1). The results are the same for any count.
    int threads = 1;
    // Every frame is searched anew (Extract Grid(s)); otherwise only the
    // frames not searched yet.
    bool everyFrame = false;
    // With >= 0, that frame alone (if it is to be searched).
    int only = -1;
    // "Extracting frame i of N" in the status line before each frame (the
    // desktop program's status bar); the progress report says it always.
    bool statusPerFrame = true;
    // Empty: the document's own extraction (the whole pipeline, with its
    // Refine Corners setting).
    FrameExtractor extract;
};

struct GridSearchResult {
    int read = 0;          // frames read (those that could not be read count as searched)
    int searched = 0;      // frames searched
    bool stopped = false;  // the user asked to stop before every frame was searched
    // The frame whose search failed with an exception (a broken geometry
    // check, an exhausted resource) and that exception; -1 and null when
    // none did.
    int failedFrame = -1;
    std::exception_ptr failure;
};

// CVexelDoc::SearchGrids runs `search` over the frames of the document.
// The grid set is first sized for every frame, keeping what was found in
// the frames already searched. The frames are visited from the current one
// onwards with wrap-around, each read at its own size from its file or the
// sequence (the cache and the current frame are left as they are), and
// taken into the grid set in that order: the points, the cells and the
// lines on the document's streams are those of one thread whatever the
// thread count. Before each frame the progress report (and with
// `statusPerFrame` the status line) says "Extracting frame i of N" (i
// counting the frames visited, N those to visit), and after the last one
// it counts all N done. When the user interface asks to stop, the run ends
// before the next frame: the frames done stay searched, the others stay to
// be searched. A frame that cannot be read ends with no points, searched,
// its failure "not read". When the search of a frame fails, the run ends
// there: that frame and the ones after it stay to be searched, and the
// result names the frame and holds the failure.

// "N of M frames with 4 or more points, P points": the frames of the list
// with a grid and the points in all, as the extraction reports them.
std::string gridCountText(const CVexelDoc& doc);

// Frame `frame`'s result as the frame list shows it: "not searched yet",
// why the search found nothing ("no board found"...) or "N points", then
// ", RMS e px" (three decimals) when the last intrinsic calibration used
// the frame and ", left out" when the calibrations leave it out.
std::string frameResultText(const CVexelDoc& doc, int frame);

// The status line a search ends with: frames with a grid, points in all and
// the frames that could not be read, over the whole frame list.
std::string extractionSummary(const CVexelDoc& doc);

// "frame N (NAME) could not be searched: out of memory": why the search of
// `result`'s failed frame failed.
std::string searchFailureText(const CVexelDoc& doc, const GridSearchResult& result);

// "; stopped, N frames not searched" after a search the user stopped, else
// empty.
std::string cancelledNote(CVexelDoc& doc);
