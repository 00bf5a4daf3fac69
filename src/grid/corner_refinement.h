#pragma once
// A second, finer refinement of a frame's correspondences, once they are
// labelled: each corner is refined on the full-resolution frame with a
// window sized from the cells around it, where detection had to use one
// small window for every corner.

#include <opencv2/core.hpp>

class GridSet;

// The refinement window's half-size is kRefineCellShare of the shortest side
// from the corner to its labelled neighbours, clamped to kMinHalfWindow ..
// kMaxHalfWindow pixels and kept inside the image (refinementWindowInside).
// A marker's spot reaches to a third of a side from the cell's corners along
// the diagonal (0.707 - 0.375), which a window of 0.3 reaches (0.42): the
// spot's edges would pull the corner towards it. Corners of a marker cell
// use kMarkerCornerShare, whose window ends at 0.28 along the diagonal.
constexpr double kRefineCellShare = 0.3;
constexpr double kMarkerCornerShare = 0.2;
constexpr int kMinHalfWindow = 3;
constexpr int kMaxHalfWindow = 25;
// A corner the refinement moves farther than this share of that side has
// run to another feature (a spot, a neighbouring corner): it is dropped.
constexpr double kMaxMoveShare = 0.25;

// Refines the correspondences of `frame` in place on `image` (the 8-bit
// one-channel frame they were found in); corners that move too far are
// dropped and the rest keep their order. Returns the number dropped. Does
// nothing when the frame holds no correspondences or the image is not
// 8-bit one-channel.
int refineCorrespondences(GridSet& set, int frame, const cv::Mat& image);
