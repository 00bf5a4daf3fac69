#pragma once
// Removes the lens distortion from the frame on screen on a thread of its
// own, so that the window never waits for it: making the pixel maps of a
// 12-megapixel frame takes a good part of a second, remapping it tens of
// milliseconds. The maps are kept for the last camera and frame size, so
// stepping through frames of one size only remaps. Only the latest request
// is worked on; one that comes while another is worked on replaces the
// waiting one.

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include <opencv2/core/mat.hpp>

#include "calibration/calibration_record.h"

class UndistortWorker {
public:
    struct Job {
        std::uint64_t key = 0;  // handed back with the picture
        cv::Mat frame;          // 8-bit, 1, 3 (blue-green-red) or 4 channels; the worker's own copy
        CalibrationRecord record;
    };
    // Called on the worker's thread with the job's key and the frame drawn
    // without the distortion, as a 32-bit picture (null when the record
    // has no usable camera).
    using Done = std::function<void(std::uint64_t key, const QImage& picture)>;

    explicit UndistortWorker(Done done);
    // Drops the waiting job and waits for the one being worked on.
    ~UndistortWorker();
    UndistortWorker(const UndistortWorker&) = delete;
    UndistortWorker& operator=(const UndistortWorker&) = delete;

    void request(Job job);
    // How often maps were made since construction.
    std::uint64_t mapBuilds() const { return m_builds.load(); }

private:
    void run();

    Done m_done;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_next;
    bool m_stop = false;
    std::atomic<std::uint64_t> m_builds{0};
    std::thread m_thread;
};
