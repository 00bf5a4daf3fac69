// Draws the program's icon, a window of four by four cells of the board with
// its three marker spots, as a scalable SVG and as PNG files of the usual
// sizes: make_icons OUTDIR writes OUTDIR/vexel.svg and OUTDIR/NxN/vexel.png.

#include <cairo-svg.h>
#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "plugins/board_cairo.h"

namespace {

// The window shows pattern x from -2 to 2 and y from -1 to 3: the cells of
// the three markers.
void drawIcon(cairo_t* cr, double size) {
    const double pad = size / 16, cell = (size - 2 * pad) / 4, corner = size / 8;
    cairo_new_sub_path(cr);
    cairo_arc(cr, size - corner, corner, corner, -1.5707963267948966, 0);
    cairo_arc(cr, size - corner, size - corner, corner, 0, 1.5707963267948966);
    cairo_arc(cr, corner, size - corner, corner, 1.5707963267948966, 3.141592653589793);
    cairo_arc(cr, corner, corner, corner, 3.141592653589793, 4.71238898038469);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.55, 0.55, 0.55);
    cairo_set_line_width(cr, size / 64);
    cairo_stroke(cr);
    cairo_rectangle(cr, pad, pad, 4 * cell, 4 * cell);
    cairo_clip(cr);
    vexel::pattern::drawBoard(cr, pad - 4 * cell, pad - 3 * cell, cell);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons OUTDIR\n");
        return 2;
    }
    const std::filesystem::path out(argv[1]);
    std::filesystem::create_directories(out);
    cairo_surface_t* svg = cairo_svg_surface_create((out / "vexel.svg").c_str(), 256, 256);
    cairo_t* cr = cairo_create(svg);
    drawIcon(cr, 256);
    cairo_destroy(cr);
    cairo_surface_finish(svg);
    bool ok = cairo_surface_status(svg) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(svg);
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        std::filesystem::create_directories(out / name);
        cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
        cr = cairo_create(image);
        drawIcon(cr, size);
        cairo_destroy(cr);
        ok = cairo_surface_write_to_png(image, (out / name / "vexel.png").c_str()) == CAIRO_STATUS_SUCCESS && ok;
        cairo_surface_destroy(image);
    }
    if (!ok) std::fprintf(stderr, "make_icons: cannot write the icons in %s\n", argv[1]);
    return ok ? 0 : 1;
}
