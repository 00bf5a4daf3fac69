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
#include <vector>

#include "calibration/busy_cursor.h"
#include "calibration/points_file.h"
#include "document/vexel_doc.h"
#include "grid/extract_frame.h"

namespace {

// Gives grid frame `frame` two empty parts, zero-filled slots and the point
// count `count` (the slot count, for a frame about to be searched; 0 for one
// that holds nothing).
void resetGridFrame(GridSet& set, int frame, int count) {
    const auto f = static_cast<std::size_t>(frame);
    // The work list may still name cells of the parts freed here.
    set.pendingElements.clear();
    // Elements go before the nodes they are registered with, in both parts.
    if (set.triangleParts[f]) set.triangleParts[f]->clearElements();
    if (set.gridParts[f]) set.gridParts[f]->clearElements();
    set.triangleParts[f] = std::make_unique<g_part>();
    set.gridParts[f] = std::make_unique<g_part>();
    const auto first = set.imagePoints.begin() + set.pointOffset[f];
    std::fill(first, first + set.maxPoints, GridPoint{0.0f, 0.0f});
    const auto pattern = set.patternPoints.begin() + set.pointOffset[f];
    std::fill(pattern, pattern + set.maxPoints, GridPoint{0.0f, 0.0f});
    set.pointCount[f] = count;
}

// One searched frame's record, while the grid set is sized anew.
struct KeptFrame {
    int frame = 0;
    int pointCount = 0;
    std::vector<GridPoint> imagePoints, patternPoints;
    std::unique_ptr<g_part> triangles, grid;

    KeptFrame() = default;
    KeptFrame(KeptFrame&&) = default;
    KeptFrame& operator=(KeptFrame&&) = delete;
    ~KeptFrame() {
        if (triangles) triangles->clearElements();
        if (grid) grid->clearElements();
    }
};

// Sizes the grid set for all of the document's frames, keeping the records
// of the frames already searched; every other frame holds no points and no
// cells. False (and nothing searched any more) when the grid set cannot be
// allocated.
bool prepareGridFrames(CVexelDoc& doc) {
    GridSet& set = doc.m_gridSet;
    const int count = doc.FrameCount();
    std::vector<FrameExtraction>& states = doc.m_gridFrames;
    states.resize(static_cast<std::size_t>(count));

    const bool usable = set.maxPoints == GRID_POINTS_PER_FRAME && set.hasFrame(0);
    if (!usable || set.frameCount != count) {
        const int keep = usable ? std::min(set.frameCount, count) : 0;
        std::vector<KeptFrame> kept;
        for (int f = 0; f < keep; ++f) {
            if (!states[static_cast<std::size_t>(f)].extracted) continue;
            const auto s = static_cast<std::size_t>(f);
            KeptFrame k;
            k.frame = f;
            k.pointCount = set.pointCount[s];
            const auto first = set.pointOffset[s];
            k.imagePoints.assign(set.imagePoints.begin() + first, set.imagePoints.begin() + first + set.maxPoints);
            k.patternPoints.assign(set.patternPoints.begin() + first,
                                   set.patternPoints.begin() + first + set.maxPoints);
            k.triangles = std::move(set.triangleParts[s]);
            k.grid = std::move(set.gridParts[s]);
            kept.push_back(std::move(k));
        }
        set.pendingElements.clear();
        set.allocate(count, GRID_POINTS_PER_FRAME);
        if (!set.hasFrame(0)) {
            states.assign(static_cast<std::size_t>(count), FrameExtraction{});
            return false;
        }
        std::vector<bool> restored(static_cast<std::size_t>(count), false);
        for (KeptFrame& k : kept) {
            const auto s = static_cast<std::size_t>(k.frame);
            set.pointCount[s] = k.pointCount;
            std::copy(k.imagePoints.begin(), k.imagePoints.end(), set.imagePoints.begin() + set.pointOffset[s]);
            std::copy(k.patternPoints.begin(), k.patternPoints.end(), set.patternPoints.begin() + set.pointOffset[s]);
            set.triangleParts[s] = std::move(k.triangles);
            set.gridParts[s] = std::move(k.grid);
            restored[s] = true;
        }
        for (int f = 0; f < count; ++f)
            if (!restored[static_cast<std::size_t>(f)]) states[static_cast<std::size_t>(f)] = FrameExtraction{};
    }
    for (int f = 0; f < count; ++f)
        if (!states[static_cast<std::size_t>(f)].extracted) resetGridFrame(set, f, 0);
    return true;
}

// One frame's search as the thread that searched it leaves it, waiting to
// be taken into the document's grid set in visiting order.
struct FrameResult {
    bool done = false;
    bool read = false;
    cv::Size size;
    int pointCount = 0;
    std::vector<GridPoint> imagePoints, patternPoints;
    std::unique_ptr<g_part> triangles, grid;
    std::string rejected, diagnostics, errors;
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
          m_withDiagnostics(doc.m_diagnostics != nullptr),
          m_withErrors(doc.m_errors != nullptr) {
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
            cv::Mat image = m_doc.ReadFrame(f);
            if (!image.empty()) {
                result.read = true;
                result.size = image.size();
                if (!own.hasFrame(f)) own.allocate(m_doc.FrameCount(), GRID_POINTS_PER_FRAME);
                if (!own.hasFrame(f)) throw std::bad_alloc();
                std::ostringstream diagnostics, errors;
                FrameNotes notes{m_withDiagnostics ? &diagnostics : nullptr, m_withErrors ? &errors : nullptr, {}};
                m_extract(own, f, image, notes);
                const auto s = static_cast<std::size_t>(f);
                const auto first = own.imagePoints.begin() + own.pointOffset[s];
                const auto pattern = own.patternPoints.begin() + own.pointOffset[s];
                result.pointCount = own.pointCount[s];
                result.imagePoints.assign(first, first + own.maxPoints);
                result.patternPoints.assign(pattern, pattern + own.maxPoints);
                result.triangles = std::move(own.triangleParts[s]);
                result.grid = std::move(own.gridParts[s]);
                result.rejected = std::move(notes.rejected);
                result.diagnostics = diagnostics.str();
                result.errors = errors.str();
            }
        } catch (...) {
            result.failure = std::current_exception();
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

// Notes in the document that grid frame `frame` now holds what was found in
// the frame now at that index, read at `size`. Without points, the failure
// is "markers do not fit the grid" when the marker check refused the labels,
// else "no board found".
void recordExtraction(CVexelDoc& doc, int frame, cv::Size size, const std::string& rejected) {
    GridFailure failure = GridFailure::None;
    if (doc.m_gridSet.getPointCount(frame) <= 0)
        failure = rejected.empty() ? GridFailure::NoBoardFound : GridFailure::MarkersMisfit;
    doc.m_gridFrames[static_cast<std::size_t>(frame)] = FrameExtraction{true, failure, size};
}

// Takes one frame's result into the document's grid set and notes the
// outcome; its lines go to the document's streams.
void takeResult(CVexelDoc& doc, int frame, FrameResult& result) {
    GridSet& set = doc.m_gridSet;
    const auto f = static_cast<std::size_t>(frame);
    if (!result.read) {
        set.pointCount[f] = 0;
        doc.m_gridFrames[f] = FrameExtraction{true, GridFailure::NotRead, cv::Size()};
        return;
    }
    set.pointCount[f] = result.pointCount;
    std::copy(result.imagePoints.begin(), result.imagePoints.end(), set.imagePoints.begin() + set.pointOffset[f]);
    std::copy(result.patternPoints.begin(), result.patternPoints.end(), set.patternPoints.begin() + set.pointOffset[f]);
    set.triangleParts[f] = std::move(result.triangles);
    set.gridParts[f] = std::move(result.grid);
    recordExtraction(doc, frame, result.size, result.rejected);
    if (doc.m_diagnostics) *doc.m_diagnostics << result.diagnostics;
    if (doc.m_errors) *doc.m_errors << result.errors;
}

// The document's own extraction: the whole pipeline with the document's
// Refine Corners setting.
FrameExtractor documentExtractor(const CVexelDoc& doc) {
    ExtractOptions options;
    options.refineCorners = doc.m_refineCorners;
    return [options](GridSet& set, int frame, const cv::Mat& image, FrameNotes& notes) {
        ExtractTrace trace;
        extractFrame(set, frame, image, &trace, notes.diagnostics, notes.errors, options);
        notes.rejected = std::move(trace.rejected);
    };
}

}  // namespace

GridSearchResult searchGrids(CVexelDoc& doc, const GridSearch& search) {
    GridSearchResult outcome;
    const int count = doc.FrameCount();
    if (count <= 0 || search.only >= count) return outcome;
    if (search.everyFrame) doc.m_gridFrames.assign(static_cast<std::size_t>(count), FrameExtraction{});
    if (!prepareGridFrames(doc)) return outcome;

    std::vector<int> frames;
    for (int k = 0; k < count; ++k) {
        const int f = (doc.CurrentFrame() + k) % count;
        if (!doc.m_gridFrames[static_cast<std::size_t>(f)].extracted && (search.only < 0 || f == search.only))
            frames.push_back(f);
    }
    if (frames.empty()) return outcome;

    const int total = static_cast<int>(frames.size());
    {
        SearchRun run(doc, std::move(frames), search.extract ? search.extract : documentExtractor(doc),
                      std::clamp(search.threads, 1, total));
        GridSet own;
        for (int i = 0; i < total; ++i) {
            // A stop asked for takes effect between frames: the frames done
            // keep what was found, the others stay to be searched.
            if (doc.Ui().cancelRequested()) {
                outcome.stopped = true;
                break;
            }
            const std::string step = "Extracting frame " + std::to_string(i + 1) + " of " + std::to_string(total);
            if (search.statusPerFrame) doc.Ui().showStatus(step);
            doc.Ui().progress(step, i, total);
            FrameResult& result = run.await(i, own);
            if (result.failure) {
                outcome.failedFrame = run.frame(i);
                outcome.failure = result.failure;
                break;
            }
            takeResult(doc, run.frame(i), result);
            run.taken(i);
            ++outcome.searched;
            if (result.read) ++outcome.read;
            if (i + 1 == total) doc.Ui().progress(step, total, total);
        }
    }
    doc.Ui().endProgress();
    return outcome;
}

std::string cancelledNote(CVexelDoc& doc) {
    if (!doc.Ui().cancelRequested()) return {};
    const int missing = doc.FramesNotExtracted();
    return "; stopped, " + std::to_string(missing) + (missing == 1 ? " frame" : " frames") + " not searched";
}

std::string extractionSummary(const CVexelDoc& doc) {
    const int frames = doc.FrameCount();
    int withGrid = 0;
    int unread = 0;
    for (int f = 0; f < frames; ++f) {
        const FrameGridStatus status = doc.GridStatus(f);
        if (status.points >= MIN_FRAME_POINTS) ++withGrid;
        if (status.failure == GridFailure::NotRead) ++unread;
    }
    std::string status = "Extract Grid(s): " + std::to_string(withGrid) + " of " + std::to_string(frames) +
                         " frames with 4 or more points, " + std::to_string(doc.m_gridSet.getTotalPointCount()) +
                         " points in all";
    if (unread > 0) status += ", " + std::to_string(unread) + " frames could not be read";
    return status;
}

FrameGridStatus CVexelDoc::GridStatus(int frame) const {
    FrameGridStatus status;
    if (frame < 0 || frame >= m_frameCount || static_cast<std::size_t>(frame) >= m_gridFrames.size()) return status;
    const FrameExtraction& extraction = m_gridFrames[static_cast<std::size_t>(frame)];
    if (!extraction.extracted) return status;
    status.extracted = true;
    status.points = m_gridSet.getPointCount(frame);
    status.failure = extraction.failure;
    status.size = extraction.size;
    return status;
}

int CVexelDoc::FramesNotExtracted() const {
    int missing = 0;
    for (int f = 0; f < m_frameCount; ++f)
        if (!GridStatus(f).extracted) ++missing;
    return missing;
}

int CVexelDoc::ExtractMissingGrids(int frame) {
    if (m_frameCount <= 0 || frame >= m_frameCount) return 0;
    const int before = FramesNotExtracted();
    if (frame >= 0 ? GridStatus(frame).extracted : before == 0) return 0;
    {
        BusyCursor busy(Ui());
        GridSearch search;
        search.threads = m_extractionThreads;
        search.only = frame;
        const GridSearchResult result = searchGrids(*this, search);
        if (result.failure) std::rethrow_exception(result.failure);
    }
    Ui().showStatus(extractionSummary(*this) + cancelledNote(*this));
    return before - FramesNotExtracted();
}

void CVexelDoc::ClearGrids() {
    m_gridSet.pendingElements.clear();
    m_gridSet.allocate(0, 0);
    m_gridFrames.clear();
    m_excludedFrames.clear();
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
    bool searched = false;
    for (const FrameExtraction& frame : m_gridFrames) searched = searched || frame.extracted;
    m_gridFrames.assign(m_gridFrames.size(), FrameExtraction{});
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
        const GridSearchResult result = searchGrids(*this, search);
        if (result.failure) std::rethrow_exception(result.failure);
    }
    Ui().showStatus(extractionSummary(*this) + cancelledNote(*this));
    UpdateTitleAndViews();
}
