#pragma once
// Cell pruning: removes from pendingElements every candidate cell that does
// not fit one regular grid of quadrilaterals, and destroys it.

#include "geomlib/g_container.h"

class GridElement;
class GridSet;

// Three passes over pendingElements (topology, corner angles, connectivity);
// each rejected cell is taken out (the last cell moves into its slot) and,
// after the last pass, unlinked from its nodes and destroyed. The survivors
// stay in pendingElements in the order the removals left.
void pruneGridCells(GridSet& set);

// Unlinks `cell` from its nodes, removes it from `list` (the last item moves
// into its slot) and destroys it. Does nothing when `cell` is null or not in
// `list`.
void deleteGridCell(g_container<GridElement*>& list, GridElement* cell);
