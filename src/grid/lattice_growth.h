#pragma once
// Growing a frame's labelled corners outward: the board's corners next to
// the labelled block that the corner search missed (a deep shadow, the edge
// of a glare) are sought where their labelled neighbours put them.

#include <opencv2/core.hpp>

#include <vector>

#include "grid/corner_refinement.h"
#include "grid/point_check.h"

// A frame needs at least this many labelled points to be grown: the lattice
// fits need a block of neighbours, not a strip.
constexpr int kMinGrowthSeed = 12;

// A corner beyond the labelled block is predicted through the perspective
// map fitted to at least kMinHomographyNeighbours labelled neighbours.
constexpr int kMinHomographyNeighbours = 6;
// A corner found there is refined twice from the prediction, in the window
// sized from its cells and in one of kNarrowShare of that size
// (corner_refinement.h); a corner whose two positions lie farther apart
// than kWindowAgreement pixels has met something else in the wider window
// (a shadow's edge, a finger's, a marker's spot) and is not taken.
constexpr double kWindowAgreement = 0.25;

// Only the corners in other light than the labelled block's are sought:
// where the margin or the mean of the grey levels the saddle test samples
// at the predicted corner (saddleLevels) differs by more than kLightChange
// of the block's median (a shadow halves both, a glare lifts the mean). In
// the block's light the corner search saw a corner as well as the block's,
// and what it made of it stands.
constexpr double kLightChange = 0.15;

// `points` (the checked correspondences of `image`, 8-bit one channel),
// unchanged and in their order, followed by the board's corners they did
// not label that were found by growing them. In rounds, each unlabelled
// corner of the board with a labelled point among its eight neighbours, in
// other light, is predicted through the perspective map of its labelled neighbours; the
// local lattice fit (fitFromNeighbours) gives its cell size and the
// directions of its cells. From the prediction it is refined in the window
// sized from its cells (as refinedPoints sizes it) and in the narrow one;
// in brighter light than the block's (a glare) its position is the
// narrowed one (narrowedCorner; none, and the corner is not taken, when
// no two windows agree), elsewhere the wide one. It is taken when
// the window lies inside the image, the two positions agree, the corner
// lies within the map's tolerance of the prediction (as point_check widens
// it for an extrapolated corner, never beyond kMaxTolerancePixels), and it
// is the saddle its label says (isLabelledSaddle). The round's corners are
// then checked with all the others (soundPoints): one that fails, or near which (within
// kNeighbourReach) a point of the block now fails, is not taken, nor tried
// again. The rounds end when one takes nothing.
std::vector<LabelledPoint> grownPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points);
