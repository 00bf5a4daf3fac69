#include "document/grid_commands.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "calibration/calibration_views.h"
#include "calibration/fixed_format.h"
#include "calibration/plural.h"
#include "document/busy_cursor.h"
#include "document/vexel_doc.h"
#include "grid/extract_frame.h"

namespace {

// One frame's search as the thread that searched it leaves it, waiting to
// be taken into the document's grid set in visiting order.
struct FrameResult {
    bool done = false;
    bool read = false;
    FrameGrid record;
    std::string rejected, diagnostics, errors;
    std::string unread;  // why the frame could not be read
    std::exception_ptr failure;
};

// The frames of one run, handed out in visiting order to the threads that
// search them (the calling thread among them) and taken into the document
// by the calling thread in the same order. At most `window` frames are
// searched ahead of the one taken next.
class SearchRun {
public:
    SearchRun(CVexelDoc& doc, std::vector<int> frames, FrameExtractor extract, int threads)
        : m_doc(doc),
          m_frames(std::move(frames)),
          m_extract(std::move(extract)),
          m_results(m_frames.size()),
          m_window(2 * threads),
          m_withDiagnostics(doc.Diagnostics() != nullptr),
          m_withErrors(doc.Errors() != nullptr) {
        try {
            for (int i = 1; i < threads; ++i) m_workers.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for: the results are the same.
        }
    }

    ~SearchRun() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread& t : m_workers) t.join();
    }

    SearchRun(const SearchRun&) = delete;
    SearchRun& operator=(const SearchRun&) = delete;

    int frame(int i) const { return m_frames[static_cast<std::size_t>(i)]; }

    // The result of the i-th frame, searching it (or frames after it, while
    // another thread has it) on this thread in `own`. For i = 0, 1, ...
    FrameResult& await(int i, GridSet& own) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_results[static_cast<std::size_t>(i)].done) {
            if (claimable()) {
                const int next = m_next++;
                lock.unlock();
                search(next, own);
                lock.lock();
            } else {
                m_changed.wait(lock);
            }
        }
        return m_results[static_cast<std::size_t>(i)];
    }

    // The i-th frame has been taken into the document.
    void taken(int i) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_taken = i + 1;
        }
        m_changed.notify_all();
    }

private:
    int total() const { return static_cast<int>(m_frames.size()); }
    bool claimable() const { return !m_stop && m_next < total() && m_next < m_taken + m_window; }

    void work() {
        GridSet own;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stop || m_next >= total() || claimable(); });
            if (!claimable()) return;
            const int next = m_next++;
            lock.unlock();
            search(next, own);
            lock.lock();
        }
    }

    // Searches the i-th frame in `own`, the searching thread's grid set,
    // and moves the frame's record out of it into the result.
    void search(int i, GridSet& own) {
        FrameResult result;
        const int f = frame(i);
        try {
            cv::Mat image = m_doc.ReadFrame(f, &result.unread);
            if (!image.empty()) {
                result.read = true;
                // The thread's grid set holds a record only for the frame
                // it searches, under the frame's own index.
                own.maxPoints = GRID_POINTS_PER_FRAME;
                own.resize(m_doc.FrameCount());
                if (!own.resetFrame(f, own.maxPoints)) throw std::bad_alloc();
                std::ostringstream diagnostics, errors;
                FrameNotes notes{m_withDiagnostics ? &diagnostics : nullptr, m_withErrors ? &errors : nullptr, {}};
                m_extract(own, f, image, notes);
                result.record = std::exchange(own.frames[static_cast<std::size_t>(f)], FrameGrid{});
                // The triangles served the search alone (the cells have nodes
                // of their own): a long list keeps only what the results need.
                result.record.trianglePart = std::make_unique<g_part>();
                result.record.size = image.size();
                result.rejected = std::move(notes.rejected);
                result.diagnostics = diagnostics.str();
                result.errors = errors.str();
            }
        } catch (...) {
            result.failure = std::current_exception();
            // The record may hold half of the search.
            own.release();
        }
        // The work list may still name cells of the record moved out.
        own.pendingElements.clear();
        result.done = true;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_results[static_cast<std::size_t>(i)] = std::move(result);
        }
        m_changed.notify_all();
    }

    CVexelDoc& m_doc;
    const std::vector<int> m_frames;
    const FrameExtractor m_extract;
    std::vector<FrameResult> m_results;
    const int m_window;
    const bool m_withDiagnostics, m_withErrors;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_next = 0;   // the next frame to hand out
    int m_taken = 0;  // frames taken into the document
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

// Takes one frame's result into the grid set, noting how its search ended,
// and writes its lines to the streams. Without points, the failure is
// "markers do not fit the grid" when the marker check refused the labels,
// else "no board found".
void takeResult(GridSet& set, int frame, FrameResult& result, std::ostream* diagnostics, std::ostream* errors) {
    FrameGrid& record = set.frames[static_cast<std::size_t>(frame)];
    if (result.read) {
        record = std::move(result.record);
        record.failure = searchFailure(record.pointCount, result.rejected);
        if (diagnostics) *diagnostics << result.diagnostics;
        if (errors) *errors << result.errors;
    } else {
        record.failure = GridFailure::NotRead;
        record.unreadReason = std::move(result.unread);
    }
    record.searched = true;
}

// The document's own extraction: the whole pipeline with the document's
// Refine Corners setting.
FrameExtractor documentExtractor(const CVexelDoc& doc) {
    ExtractOptions options;
    options.refineCorners = doc.RefineCorners();
    return [options](GridSet& set, int frame, const cv::Mat& image, FrameNotes& notes) {
        ExtractTrace trace;
        extractFrame(set, frame, image, &trace, notes.diagnostics, notes.errors, options);
        notes.rejected = std::move(trace.rejected);
    };
}

}  // namespace

bool CVexelDoc::PrepareGridFrames() {
    if (m_gridSet.maxPoints != GRID_POINTS_PER_FRAME) {
        m_gridSet.allocate(0, 0);
        m_gridSet.maxPoints = GRID_POINTS_PER_FRAME;
    }
    m_gridSet.resize(m_frameCount);
    for (int f = 0; f < m_frameCount; ++f) {
        if (m_gridSet.frames[static_cast<std::size_t>(f)].searched && m_gridSet.hasFrame(f)) continue;
        if (!m_gridSet.resetFrame(f, 0)) {
            m_gridSet.release();
            return false;
        }
    }
    return true;
}

GridSearchResult CVexelDoc::SearchGrids(const GridSearch& search) {
    GridSearchResult outcome;
    const int count = m_frameCount;
    if (count <= 0 || search.only >= count) return outcome;
    if (search.everyFrame) ForgetGrids();
    if (!PrepareGridFrames()) return outcome;

    std::vector<int> frames;
    for (int k = 0; k < count; ++k) {
        const int f = (m_currentFrame + k) % count;
        if (!GridOf(f).searched && (search.only < 0 || f == search.only)) frames.push_back(f);
    }
    if (frames.empty()) return outcome;

    const int total = static_cast<int>(frames.size());
    {
        SearchRun run(*this, std::move(frames), search.extract ? search.extract : documentExtractor(*this),
                      std::clamp(search.threads, 1, total));
        GridSet own;
        for (int i = 0; i < total; ++i) {
            // A stop asked for takes effect between frames: the frames done
            // keep what was found, the others stay to be searched.
            if (m_ui->cancelRequested()) {
                outcome.stopped = true;
                break;
            }
            const std::string step = "Extracting frame " + std::to_string(i + 1) + " of " + std::to_string(total);
            if (search.statusPerFrame) m_ui->showStatus(step);
            m_ui->progress(step, i, total);
            FrameResult& result = run.await(i, own);
            if (result.failure) {
                outcome.failedFrame = run.frame(i);
                outcome.failure = result.failure;
                break;
            }
            takeResult(m_gridSet, run.frame(i), result, m_diagnostics, m_errors);
            run.taken(i);
            ++outcome.searched;
            if (result.read) ++outcome.read;
            if (i + 1 == total) m_ui->progress(step, total, total);
        }
    }
    m_ui->endProgress();
    return outcome;
}

std::string searchFailureText(const CVexelDoc& doc, const GridSearchResult& result) {
    std::string why = "unknown error";
    try {
        if (result.failure) std::rethrow_exception(result.failure);
    } catch (const std::bad_alloc&) {
        why = "out of memory";
    } catch (const cv::Exception& e) {
        why = e.code == cv::Error::StsNoMem ? std::string("out of memory") : e.err;
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
    }
    return "frame " + std::to_string(result.failedFrame) + " (" + doc.FrameName(result.failedFrame) +
           ") could not be searched: " + why;
}

// A search that failed names the frame in the status line, then its
// failure goes on to the command's caller.
static void rethrowSearchFailure(CVexelDoc& doc, const GridSearchResult& result) {
    if (!result.failure) return;
    doc.Ui().showStatus("Extract Grid(s): " + searchFailureText(doc, result));
    std::rethrow_exception(result.failure);
}

std::string cancelledNote(CVexelDoc& doc) {
    if (!doc.Ui().cancelRequested()) return {};
    const int missing = doc.FramesNotExtracted();
    return "; stopped, " + vexel::plural(missing, "frame", "frames") + " not searched";
}

std::string gridCountText(const CVexelDoc& doc) {
    return std::to_string(doc.FramesWithGrid()) + " of " + std::to_string(doc.FrameCount()) +
           " frames with 4 or more points, " + std::to_string(doc.Grids().getTotalPointCount()) + " points";
}

std::string frameResultText(const CVexelDoc& doc, int frame) {
    const FrameGrid& grid = doc.GridOf(frame);
    std::string text;
    if (!grid.searched)
        text = "not searched yet";
    else if (grid.pointCount <= 0 && grid.failure != GridFailure::None)
        text = frameFailureText(grid);
    else
        text = vexel::plural(grid.pointCount, "point", "points");
    const double rms = doc.Stats().valid ? doc.Stats().frameError(frame) : -1.0;
    if (rms >= 0) text += ", RMS " + vexel::formatDecimals(rms, 3) + " px";
    if (doc.FrameExcluded(frame)) text += ", left out";
    return text;
}

std::string extractionSummary(const CVexelDoc& doc) {
    int unread = 0;
    for (int f = 0; f < doc.FrameCount(); ++f)
        if (doc.GridOf(f).failure == GridFailure::NotRead) ++unread;
    std::string status = "Extract Grid(s): " + gridCountText(doc) + " in all";
    if (unread > 0) status += ", " + std::to_string(unread) + " frames could not be read";
    return status;
}

int CVexelDoc::FramesWithGrid() const {
    int count = 0;
    for (int f = 0; f < m_frameCount; ++f)
        if (frameHasView(m_gridSet, f)) ++count;
    return count;
}

const FrameGrid& CVexelDoc::GridOf(int frame) const {
    static const FrameGrid notSearched;
    if (frame < 0 || frame >= m_frameCount || frame >= m_gridSet.frameCount()) return notSearched;
    const FrameGrid& grid = m_gridSet.frames[static_cast<std::size_t>(frame)];
    return grid.searched ? grid : notSearched;
}

void CVexelDoc::ForgetGrids() {
    for (int f = 0; f < m_gridSet.frameCount(); ++f)
        if (m_gridSet.frames[static_cast<std::size_t>(f)].searched) m_gridSet.resetFrame(f, 0);
}

int CVexelDoc::FramesNotExtracted() const {
    int missing = 0;
    for (int f = 0; f < m_frameCount; ++f)
        if (!GridOf(f).searched) ++missing;
    return missing;
}

int CVexelDoc::ExtractMissingGrids(int frame) {
    if (m_frameCount <= 0 || frame >= m_frameCount) return 0;
    const int before = FramesNotExtracted();
    if (frame >= 0 ? GridOf(frame).searched : before == 0) return 0;
    {
        BusyCursor busy(Ui());
        GridSearch search;
        search.threads = m_extractionThreads;
        search.only = frame;
        rethrowSearchFailure(*this, SearchGrids(search));
    }
    Ui().showStatus(extractionSummary(*this) + cancelledNote(*this));
    return before - FramesNotExtracted();
}

void CVexelDoc::ClearGrids() {
    m_gridSet.pendingElements.clear();
    m_gridSet.resize(0);
    m_excludedFrames.clear();
    m_frameNotes.clear();
    m_showGrid = false;
    m_referenceFrame = -1;
    m_calibrationStats.forgetFrames();
}

void CVexelDoc::OnGrid() {
    // The overlay shows the grids of the frames in the list, so the frames
    // not searched yet are searched before it is switched on.
    if (!m_showGrid) ExtractMissingGrids();
    m_showGrid = !m_showGrid && m_gridSet.getTotalPointCount() > 0;
    UpdateTitleAndViews();
}

void CVexelDoc::OnRefineCorners() {
    m_refineCorners = !m_refineCorners;
    const bool searched = FramesNotExtracted() < m_frameCount;
    ForgetGrids();
    Ui().showStatus(std::string("Refine Corners ") + (m_refineCorners ? "on" : "off") +
                    (searched ? ": the grids are searched again" : ""));
    if (searched && m_showGrid) ExtractMissingGrids();
    UpdateTitleAndViews();
}

void CVexelDoc::OnExtractGrids() {
    if (m_frameCount <= 0) return;
    {
        BusyCursor busy(Ui());
        GridSearch search;
        search.threads = m_extractionThreads;
        search.everyFrame = true;
        rethrowSearchFailure(*this, SearchGrids(search));
    }
    // What was found is shown at once.
    if (m_gridSet.getTotalPointCount() > 0) m_showGrid = true;
    Ui().showStatus(extractionSummary(*this) + cancelledNote(*this));
    UpdateTitleAndViews();
}
