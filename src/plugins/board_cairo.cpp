#include "plugins/board_cairo.h"

#include "pattern/board.h"

namespace vexel::pattern {

void drawBoard(cairo_t* cr, double left, double top, double cell) {
    auto userX = [&](double x) { return left + (x - kBoardMinX) * cell; };
    auto userY = [&](double y) { return top + (kBoardMaxY - y) * cell; };
    cairo_save(cr);
    cairo_set_source_rgb(cr, kDark, kDark, kDark);
    for (int cellY = kLastCellY; cellY >= kFirstCellY; --cellY)
        for (int cellX = kFirstCellX; cellX <= kLastCellX; ++cellX)
            if (!isBrightCell(cellX, cellY)) cairo_rectangle(cr, userX(cellX - 1), userY(cellY), cell, cell);
    cairo_fill(cr);
    // Each spot: its own colour out to kSpotInnerRadius, a linear ramp to the
    // cell's colour at kSpotOuterRadius, where the disk ends.
    for (const MarkerCell& m : kMarkerCells) {
        const double cx = userX(m.x - 0.5), cy = userY(m.y - 0.5);
        const double spot = m.brightCell ? kDark : kBright, around = m.brightCell ? kBright : kDark;
        cairo_pattern_t* ramp = cairo_pattern_create_radial(cx, cy, 0.0, cx, cy, kSpotOuterRadius * cell);
        cairo_pattern_add_color_stop_rgb(ramp, 0.0, spot, spot, spot);
        cairo_pattern_add_color_stop_rgb(ramp, kSpotInnerRadius / kSpotOuterRadius, spot, spot, spot);
        cairo_pattern_add_color_stop_rgb(ramp, 1.0, around, around, around);
        cairo_set_source(cr, ramp);
        cairo_arc(cr, cx, cy, kSpotOuterRadius * cell, 0.0, 6.283185307179586);
        cairo_fill(cr);
        cairo_pattern_destroy(ramp);
    }
    cairo_restore(cr);
}

}  // namespace vexel::pattern
