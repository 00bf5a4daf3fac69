#include "document/parallel_extraction.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "document/grid_commands.h"
#include "document/vexel_doc.h"
#include "grid/extract_frame.h"

namespace {

struct FrameTask {
    int frame = -1;
    cv::Mat image;
};

// What one frame's extraction left in a worker's record, ready to be moved
// into the document's grid set.
struct FrameResult {
    bool extracted = false;
    int pointCount = 0;
    std::vector<GridPoint> imagePoints;
    std::vector<GridPoint> patternPoints;
    std::unique_ptr<g_part> triangles;
    std::unique_ptr<g_part> grid;
    std::string diagnostics;
    std::string errors;
    std::string rejected;  // why the marker check refused the frame's labels
    cv::Size size;
    std::exception_ptr failure;
};

// Frames on their way from the reading thread to the workers. Bounded, so
// that only a few decoded frames wait in memory at any time.
class TaskQueue {
public:
    explicit TaskQueue(std::size_t capacity) : m_capacity(capacity) {}

    // False when the queue was closed (a worker failed) instead.
    bool push(FrameTask task) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notFull.wait(lock, [&] { return m_closed || m_tasks.size() < m_capacity; });
        if (m_closed) return false;
        m_tasks.push_back(std::move(task));
        m_notEmpty.notify_one();
        return true;
    }

    // False once the queue is closed and empty.
    bool pop(FrameTask& task) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notEmpty.wait(lock, [&] { return m_closed || !m_tasks.empty(); });
        if (m_tasks.empty()) return false;
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_notFull.notify_one();
        return true;
    }

    // No more tasks come; the waiting ones are still handed out.
    void finish() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_notEmpty.notify_all();
        m_notFull.notify_all();
    }

    // Drops the waiting tasks as well.
    void abort() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_tasks.clear();
        m_notEmpty.notify_all();
        m_notFull.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_notEmpty, m_notFull;
    std::deque<FrameTask> m_tasks;
    std::size_t m_capacity;
    bool m_closed = false;
};

}  // namespace

int extractAllFramesParallel(CVexelDoc& doc, int jobs, const ExtractionProgress& progress, std::ostream* errors) {
    const int count = doc.FrameCount();
    if (count <= 0) return 0;
    GridSet& set = doc.m_gridSet;
    set.allocate(count, GRID_POINTS_PER_FRAME);
    doc.m_gridFrames.assign(static_cast<std::size_t>(count), FrameExtraction{});
    if (!set.hasFrame(0)) return 0;
    const int maxPoints = set.maxPoints;
    const int workers = std::clamp(jobs, 1, count);
    const bool withDiagnostics = doc.m_diagnostics != nullptr;
    const bool withErrors = errors != nullptr;
    ExtractOptions options;
    options.refineCorners = doc.m_refineCorners;

    std::vector<FrameResult> results(static_cast<std::size_t>(count));
    TaskQueue queue(static_cast<std::size_t>(2 * workers));
    std::mutex progressMutex;
    int done = 0;

    // Image files are decoded on the workers themselves, each frame by the
    // worker that extracts it, so that decoding runs on every thread instead
    // of one frame at a time through the cache's loader. Sequence frames are
    // already in memory and are copied out on the calling thread.
    const bool decodeOnWorkers = !doc.InSequenceMode();
    std::atomic<int> read{0};

    auto countDone = [&]() {
        std::lock_guard<std::mutex> lock(progressMutex);
        ++done;
        if (progress) progress(done, count);
    };

    auto work = [&]() {
        // Each worker extracts into its own record: its own slots, parts and
        // pending-cell list. It is sized for every frame, so a frame is
        // extracted under its own index exactly as in the document's record.
        GridSet own;
        own.allocate(count, maxPoints);
        bool usable = own.hasFrame(0);
        FrameTask task;
        while (queue.pop(task)) {
            const int f = task.frame;
            FrameResult& result = results[static_cast<std::size_t>(f)];
            if (decodeOnWorkers) {
                task.image = doc.DecodeFrame(f);
                if (task.image.empty()) {
                    countDone();  // not read: no points, as after the single-threaded command
                    continue;
                }
                result.size = task.image.size();
                ++read;
            }
            try {
                if (!usable) throw std::bad_alloc();
                std::ostringstream diagnostics, frameErrors;
                ExtractTrace trace;
                extractFrame(own, f, task.image, &trace, withDiagnostics ? &diagnostics : nullptr,
                             withErrors ? &frameErrors : nullptr, options);
                result.rejected = trace.rejected;
                const auto first = static_cast<std::ptrdiff_t>(own.pointOffset[static_cast<std::size_t>(f)]);
                result.pointCount = own.pointCount[static_cast<std::size_t>(f)];
                result.imagePoints.assign(own.imagePoints.begin() + first, own.imagePoints.begin() + first + maxPoints);
                result.patternPoints.assign(own.patternPoints.begin() + first,
                                            own.patternPoints.begin() + first + maxPoints);
                result.triangles = std::move(own.triangleParts[static_cast<std::size_t>(f)]);
                result.grid = std::move(own.gridParts[static_cast<std::size_t>(f)]);
                result.diagnostics = diagnostics.str();
                result.errors = frameErrors.str();
                result.extracted = true;
            } catch (...) {
                result.failure = std::current_exception();
                queue.abort();
            }
            task.image.release();
            countDone();
        }
        // The moved-out parts' cells may still be listed here; nothing of
        // this record is read again.
        own.pendingElements.clear();
    };

    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(workers));
    try {
        for (int i = 0; i < workers; ++i) threads.emplace_back(work);
    } catch (...) {
        queue.abort();
        for (std::thread& t : threads) t.join();
        throw;
    }

    // The frames are handed out in the order the single-threaded command
    // visits them: from the current frame onwards with wrap-around.
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(count));
    if (decodeOnWorkers) {
        // The cache and the current frame are left as they are.
        for (int i = 0; i < count; ++i) {
            const int frame = (doc.CurrentFrame() + i) % count;
            order.push_back(frame);
            FrameTask task;
            task.frame = frame;
            if (!queue.push(std::move(task))) break;
        }
        for (int i = static_cast<int>(order.size()); i < count; ++i)
            order.push_back((doc.CurrentFrame() + i) % count);
    } else {
        // Sequence frames are read through the document as the
        // single-threaded command reads them. After a failure the remaining
        // frames are only stepped over, so the starting frame is current
        // again at the end in every case.
        bool stopped = false;
        for (int i = 0; i < count; ++i) {
            const int frame = doc.CurrentFrame();
            order.push_back(frame);
            if (!stopped) {
                FrameTask task;
                task.frame = frame;
                if (doc.CopyFrameToImage(task.image) && !task.image.empty()) {
                    results[static_cast<std::size_t>(frame)].size = task.image.size();
                    ++read;
                    stopped = !queue.push(std::move(task));
                } else {
                    countDone();
                }
            }
            doc.StepForward();
        }
    }
    queue.finish();
    for (std::thread& t : threads) t.join();

    for (int frame : order) {
        const FrameResult& result = results[static_cast<std::size_t>(frame)];
        if (result.failure) {
            std::fill(set.pointCount.begin(), set.pointCount.end(), 0);
            set.pendingElements.clear();
            doc.m_gridFrames.assign(static_cast<std::size_t>(count), FrameExtraction{});
            std::rethrow_exception(result.failure);
        }
    }

    for (int frame : order) {
        FrameResult& result = results[static_cast<std::size_t>(frame)];
        const auto f = static_cast<std::size_t>(frame);
        if (!result.extracted) {
            set.pointCount[f] = 0;
            doc.m_gridFrames[f] = FrameExtraction{true, GridFailure::NotRead, cv::Size()};
            continue;
        }
        set.pointCount[f] = result.pointCount;
        std::copy(result.imagePoints.begin(), result.imagePoints.end(), set.imagePoints.begin() + set.pointOffset[f]);
        std::copy(result.patternPoints.begin(), result.patternPoints.end(),
                  set.patternPoints.begin() + set.pointOffset[f]);
        set.triangleParts[f] = std::move(result.triangles);
        set.gridParts[f] = std::move(result.grid);
        recordExtraction(doc, frame, result.size, result.rejected);
        if (withDiagnostics) *doc.m_diagnostics << result.diagnostics;
        if (withErrors) *errors << result.errors;
    }
    set.pendingElements.clear();
    return read.load();
}
