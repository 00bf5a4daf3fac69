// The PDF module (vexel-print.so): the printable board as a one-page PDF at
// exact scale. Kept out of the programs because the PDF library brings its
// font and drawing libraries, which only this command needs.

#include <cairo-pdf.h>
#include <cairo.h>

#include <exception>
#include <string>

#include "pattern/printable_board.h"
#include "plugins/board_cairo.h"

namespace {

constexpr double POINTS_PER_MM = 72.0 / 25.4;
constexpr double CAPTION_POINTS = 10.0;

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    } catch (const std::exception&) {
        return CAIRO_STATUS_WRITE_ERROR;
    }
}

}  // namespace

extern "C" bool vexelBoardPdf(const vexel::pattern::PageLayout& layout, std::string& bytes, std::string& error) {
    using namespace vexel::pattern;
    bytes.clear();
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(
        appendBytes, &bytes, layout.pageWidthMm * POINTS_PER_MM, layout.pageHeightMm * POINTS_PER_MM);
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, "Vexel calibration board");
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "vexel-cli");
    cairo_t* cr = cairo_create(surface);
    // User units are millimetres from the page's top-left corner.
    cairo_scale(cr, POINTS_PER_MM, POINTS_PER_MM);
    drawBoard(cr, layout.boardLeftMm, layout.boardTopMm, layout.cellMm);

    // The caption below the board's bright margin of 1.5 cells.
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, CAPTION_POINTS / POINTS_PER_MM);
    cairo_set_source_rgb(cr, 0, 0, 0);
    double baseline = layout.boardTopMm + kCellRows * layout.cellMm + kMarginCells * layout.cellMm;
    for (const std::string& line : layout.caption) {
        cairo_text_extents_t extents;
        cairo_text_extents(cr, line.c_str(), &extents);
        baseline += 1.4 * CAPTION_POINTS / POINTS_PER_MM;
        cairo_move_to(cr, (layout.pageWidthMm - extents.x_advance) / 2, baseline);
        cairo_show_text(cr, line.c_str());
    }
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = std::string("cannot make the PDF: ") + cairo_status_to_string(status);
        bytes.clear();
        return false;
    }
    return true;
}
