#pragma once
// The printed board drawn with cairo: the page of the PDF module and the
// program's icon share it.

#include <cairo.h>

namespace vexel::pattern {

// Draws the board's dark cells and marker spots (the bright paper is left
// as it is) with pattern point (x, y) at (left + (x + 6) * cell,
// top + (6 - y) * cell) in the context's user space.
void drawBoard(cairo_t* cr, double left, double top, double cell);

}  // namespace vexel::pattern
