#pragma once
// Labelling of a frame's grid cells with pattern coordinates, starting from
// the marker cells, and the corner correspondences that follow from them.

#include <opencv2/core/types.hpp>

#include "geomlib/g_container.h"

class g_element;
class g_node;
class GridElement;

// The labelled window of pattern cells: a cell (X, Y) inside it gets inGrid.
constexpr int kWindowMinX = -4;
constexpr int kWindowMaxX = 4;
constexpr int kWindowMinY = -4;
constexpr int kWindowMaxY = 5;

// Pattern labels of the origin marker cell.
constexpr int kOriginCellX = 0;
constexpr int kOriginCellY = 3;

// How often one cell may be taken from the walk queue. In a mesh where every
// side is shared by at most two cells each cell is taken once; the limit only
// ends walks that would otherwise cycle on sides shared by three or more.
constexpr int kMaxWalkVisits = 4;

// Labels the cells and emits one correspondence per grid corner.
//
// `markers` holds `markerCount` (must be 3) cell slots: slot 0 the origin
// marker, slots 1 and 2 further markers (may be null); slots 1 and 2 may be
// swapped. Every cell reachable from slot 0 through shared sides gets walk
// labels (`labelled` set); the markers then fix the pattern orientation, and
// the cells whose pattern labels lie inside the window get those labels and
// `inGrid`. For every corner of those cells, each once, the image node is
// appended to `imageNodes` and a new node at (pattern x, pattern y, 0) to
// `patternNodes`; the caller owns (and deletes) the new pattern nodes.
//
// Returns the number of correspondences appended; 0 when the markers are
// missing or unusable (no cell gets inGrid then). Only cells that are
// GridElements with four nodes take part.
int labelGrid(GridElement** markers, int markerCount, g_container<g_element*>& cells,
              g_container<g_node*>& imageNodes, g_container<g_node*>& patternNodes);

// The walk of labelGrid on its own: every cell reachable from `start`
// through shared sides gets walk labels (start (0, 0)) and `labelled`.
void walkGrid(GridElement* start, g_container<g_element*>& cells);

// How walk labels become pattern labels: the origin marker's walk labels
// and one of the four maps of labelGrid (0: (x, y) -> (y, x + 3); 1: (-y,
// 3 - x); 2: (-x, y + 3); 3: (x, 3 - y), for walk labels relative to the
// origin's).
struct GridPlacement {
    int orientation = 0;
    int originX = 0;
    int originY = 0;
};

// Steps 3 and 4 of labelGrid with a given placement, on walked cells: the
// cells inside the window get pattern labels and inGrid, and their corners
// are emitted. Returns the number of correspondences appended.
int placeGrid(const GridPlacement& placement, g_container<g_element*>& cells, g_container<g_node*>& imageNodes,
              g_container<g_node*>& patternNodes);

// The walk-label offset, from the origin marker's, of pattern cell (x, y)
// under `orientation` (the inverse of placeGrid's map).
cv::Point walkOffsetOf(int orientation, int patternX, int patternY);
