#pragma once
// Extract Grid(s) on several threads, for the batch tool. The frames are taken
// in the order the single-threaded command visits them (from the current frame
// onwards with wrap-around). Each image file is decoded by the worker that
// extracts it, with the document's decoder, into the same pixels a loader
// pass gives; sequence frames are copied from the document. Each frame is
// extracted on a worker into that worker's own grid record.
// The results are then moved into the document's grid set in visiting order,
// so the points, the cells and the diagnostic lines are the same as those of
// the single-threaded command, whatever the number of threads.

#include <functional>
#include <iosfwd>

class CVexelDoc;

// Called as frames finish: frames done so far and the total. Calls come from
// the worker threads, one at a time.
using ExtractionProgress = std::function<void(int done, int total)>;

// Sizes the document's grid set for every frame and extracts all of them on
// `jobs` threads (at least 1). Diagnostic lines go to the document's
// diagnostics stream and error lines to `errors` (null: dropped), both in
// visiting order once every frame is done. A frame that cannot be read ends
// with no points; every frame then counts as searched, with the same state
// (GridStatus) as after the single-threaded command. Returns the number of
// frames read. The frame cache and the current frame are left as they were.
// A failure thrown by the extraction of a frame (a broken
// geometry check) is thrown again here after every worker has stopped; the
// grid set then holds no points and no frame counts as searched.
int extractAllFramesParallel(CVexelDoc& doc, int jobs, const ExtractionProgress& progress = {},
                             std::ostream* errors = nullptr);
