#include "grid/grid_element.h"

// GridElement is a plain data extension of g_element; nothing to define here.
// The file keeps the class in the grid library's own translation unit list.
static_assert(sizeof(GridElement) > sizeof(g_element));
