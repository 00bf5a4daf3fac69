#pragma once
// The middle stage of a frame's extraction: triangles to accepted grid cells.

#include <opencv2/core.hpp>

class GridSet;

// Pairs the frame's triangles into candidate cells, prunes the candidates and
// adds the survivors, in their list order, to the frame's gridPart (which numbers
// them). Returns the number of candidate cells the pairing produced; 0 and
// nothing changed when the frame is not allocated or the image is empty.
// pendingElements is empty afterwards.
int buildGridCells(GridSet& set, int frame, const cv::Mat& image);
