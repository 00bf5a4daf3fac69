#include "view/undistort_worker.h"

#include <utility>

#include "calibration/undistort_maps.h"

namespace {

// The remapped frame as 0xffRRGGBB pixels.
QImage toPicture(const cv::Mat& frame) {
    QImage picture(frame.cols, frame.rows, QImage::Format_RGB32);
    const int channels = frame.channels();
    for (int y = 0; y < frame.rows; ++y) {
        const std::uint8_t* in = frame.ptr<std::uint8_t>(y);
        auto* out = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < frame.cols; ++x, in += channels)
            out[x] = channels == 1 ? qRgb(in[0], in[0], in[0]) : qRgb(in[2], in[1], in[0]);
    }
    return picture;
}

}  // namespace

UndistortWorker::UndistortWorker(Done done) : m_done(std::move(done)), m_thread([this] { run(); }) {}

UndistortWorker::~UndistortWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_next.reset();
    }
    m_wake.notify_one();
    m_thread.join();
}

void UndistortWorker::request(Job job) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = std::move(job);
    }
    m_wake.notify_one();
}

void UndistortWorker::run() {
    UndistortMaps maps;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_next; });
            if (m_stop) return;
            job = std::move(*m_next);
            m_next.reset();
        }
        QImage picture;
        const std::uint64_t builds = maps.builds();
        cv::Mat remapped;
        if (maps.prepare(job.record, job.frame.size()) && maps.remap(job.frame, remapped))
            picture = toPicture(remapped);
        m_builds += maps.builds() - builds;
        m_done(job.key, picture);
    }
}
