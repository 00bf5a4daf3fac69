#pragma once
// Labelling of a frame's grid cells with pattern coordinates, starting from
// the marker cells, and the corner correspondences that follow from them.

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
