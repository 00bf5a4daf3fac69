#include "grid/extract_frame.h"

#include <algorithm>
#include <ostream>
#include <streambuf>

#include "grid/corner_detection.h"
#include "grid/corner_mesh.h"
#include "grid/corner_refinement.h"
#include "grid/grid_cells.h"
#include "grid/marker_cells.h"
#include "grid/nnsort.h"

namespace {

// A stream that swallows everything, for the null diagnostics stream.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

}  // namespace

void extractFrame(GridSet& set, int frame, const cv::Mat& image, ExtractTrace* trace, std::ostream* diagnostics,
                  std::ostream* errors, const ExtractOptions& options) {
    if (!set.hasFrame(frame) || image.empty()) return;

    detectCorners(set, frame, image);
    if (trace != nullptr) {
        const FrameGrid& record = set.frames[static_cast<size_t>(frame)];
        const auto first = record.imagePoints.begin();
        trace->corners.assign(first, first + std::clamp(record.pointCount, 0, set.maxPoints));
    }

    NullBuffer nullBuffer;
    std::ostream nullStream(&nullBuffer);
    try {
        triangulateCorners(set, frame, diagnostics != nullptr ? *diagnostics : nullStream);
    } catch (const TriangulationError& failure) {
        set.frames[static_cast<size_t>(frame)].pointCount = 0;
        if (errors != nullptr) *errors << "frame " << frame << ": triangulation failed: " << failure.what() << '\n';
        return;
    }

    const int candidates = buildGridCells(set, frame, image);
    if (trace != nullptr) trace->candidateCount = candidates;

    std::string rejected;
    labelFrameGrid(set, frame, image, trace != nullptr ? &trace->markers : nullptr, &rejected);
    if (!rejected.empty() && errors != nullptr) *errors << "frame " << frame << ": " << rejected << '\n';
    if (trace != nullptr) trace->rejected = rejected;
    if (options.refineCorners) refineCorrespondences(set, frame, image);
}
