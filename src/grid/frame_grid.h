#pragma once
// One frame's record in the grid set: what the extraction found in the frame
// and how its search ended. The stages write the points and parts; the
// extraction driver keeps the search's outcome; the hosts read both.

#include <memory>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

#include "geomlib/g_part.h"

// A position in the image (pixels) or on the pattern (cells).
struct GridPoint {
    float x, y;
};

// Why a searched frame holds no points.
enum class GridFailure {
    None,            // it has points, or it has not been searched
    NotRead,         // the frame could not be decoded
    NoBoardFound,    // no grid of cells was found in it
    MarkersMisfit,   // the marker cells did not fit the grid, so its labels were refused
};

// The words shown for a failure: "not read", "no board found", "markers do
// not fit the grid"; empty for None.
const char* gridFailureText(GridFailure failure);

// Why a searched frame holds no points, from its point count and the marker
// check's refusal (empty when the check did not refuse its labels).
GridFailure searchFailure(int points, const std::string& rejected);

struct FrameGrid {
    // Slots in use: the slot count until the corners are searched (corner
    // detection runs only then), then the number of corners, finally the
    // number of correspondences.
    int pointCount = 0;
    // The slots (the grid set's maxPoints of each; none while the record is
    // absent): first the corners, later the image positions of the
    // correspondences, and their pattern positions slot for slot.
    std::vector<GridPoint> imagePoints;
    std::vector<GridPoint> patternPoints;
    // One node per corner (node id k + 1 from slot k) and the Delaunay
    // triangles on them.
    std::unique_ptr<g_part> trianglePart;
    // A second, independent node per corner and the accepted grid cells.
    std::unique_ptr<g_part> gridPart;

    // Kept by the extraction driver: whether the record holds what was found
    // in the frame now at its index, why it holds no points, and the frame's
    // size when it was searched (empty when it could not be read).
    bool searched = false;
    GridFailure failure = GridFailure::None;
    // Why the frame could not be read ("truncated JPEG"), with NotRead.
    std::string unreadReason;
    cv::Size size;
};

// The failure with its detail when there is one: "not read: truncated JPEG";
// else as gridFailureText.
std::string frameFailureText(const FrameGrid& grid);
