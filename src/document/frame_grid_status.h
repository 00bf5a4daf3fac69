#pragma once
// What the document knows about the grid of each frame: whether the grid set
// holds what was found in the frame now at that index, and why a frame that
// was searched holds no points. The frame list of the desktop program and the
// batch tool's JSON read the same state.

#include <string>

#include <opencv2/core/types.hpp>

// Why a searched frame holds no points.
enum class GridFailure {
    None,            // it has points, or it has not been searched
    NotRead,         // the frame could not be decoded
    NoBoardFound,    // no grid of cells was found in it
    MarkersMisfit,   // the marker cells did not fit the grid, so its labels were refused
};

// The words shown for a failure: "not read", "no board found", "markers do
// not fit the grid"; empty for None.
inline const char* gridFailureText(GridFailure failure) {
    switch (failure) {
        case GridFailure::NotRead: return "not read";
        case GridFailure::NoBoardFound: return "no board found";
        case GridFailure::MarkersMisfit: return "markers do not fit the grid";
        case GridFailure::None: break;
    }
    return "";
}

// Why a searched frame holds no points, from its point count and the
// marker check's refusal (empty when the check did not refuse it).
inline GridFailure searchFailure(int points, const std::string& rejected) {
    if (points > 0) return GridFailure::None;
    return rejected.empty() ? GridFailure::NoBoardFound : GridFailure::MarkersMisfit;
}

// One frame's extraction as the document keeps it beside the grid set.
struct FrameExtraction {
    bool extracted = false;  // the grid set holds what was found in the frame now at this index
    GridFailure failure = GridFailure::None;
    cv::Size size;           // the frame's size when it was searched (empty when it could not be read)
};

// One frame's grid as the document's queries report it.
struct FrameGridStatus {
    bool extracted = false;
    int points = 0;  // correspondences; 0 for a frame not searched yet
    GridFailure failure = GridFailure::None;
    cv::Size size;
};
