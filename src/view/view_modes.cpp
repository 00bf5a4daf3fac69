// The view's two further ways of drawing the frame: undistorted with the
// current calibration, and with the correspondences of every frame as dots.

// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_checks.h"
#include "calibration/undistort_maps.h"
#include "document/vexel_doc.h"

#include "view/vexel_view.h"
#include "view/undistort_worker.h"

#include <QImage>
#include <QPainter>
#include <QPointF>

#include <vector>

#include <opencv2/core.hpp>

bool CVexelView::OnUndistorted() {
    if (!m_undistorted && !UndistortionProblem().isEmpty()) return false;
    m_undistorted = !m_undistorted;
    m_refusal.clear();
    viewport()->update();
    return true;
}

bool CVexelView::Undistorted() const { return m_undistorted && m_doc && m_doc->Calibration(); }

QString CVexelView::UndistortionProblem() const {
    if (!m_doc || !m_doc->Calibration())
        return QStringLiteral("Undistorted needs a calibration: run Intrinsic Calibration or load one");
    const std::string problem = calibrationSizeProblem(*m_doc->Calibration(), m_doc->Stats(),
                                                       cv::Size(m_imageWidth, m_imageHeight));
    return problem.empty() ? QString() : QStringLiteral("Undistorted: ") + QString::fromStdString(problem);
}

std::uint64_t CVexelView::UndistortMapBuilds() const { return m_undistortWorker->mapBuilds(); }

bool CVexelView::OnCoverage() {
    // The dots of frames of the calibration's size would land in the wrong
    // pixels of a frame of another size.
    if (!m_coverage && m_doc && m_doc->Calibration()) {
        const std::string problem = calibrationSizeProblem(*m_doc->Calibration(), m_doc->Stats(),
                                                           cv::Size(m_imageWidth, m_imageHeight));
        if (!problem.empty()) {
            m_coverageProblem = QStringLiteral("Coverage: ") + QString::fromStdString(problem);
            return false;
        }
    }
    m_coverage = !m_coverage;
    viewport()->update();
    return true;
}

void CVexelView::PrepareUndistortion() {
    if (!m_undistorted) return;
    if (!m_doc || !m_doc->Calibration()) {
        m_undistorted = false;
        m_undistortedPicture = QImage();
        return;
    }
    const CalibrationRecord& record = *m_doc->Calibration();
    if (!UndistortionProblem().isEmpty()) return;
    const bool held = m_undistortedSerial == m_pictureSerial && m_undistortedRecord == record;
    const bool asked = m_undistortPending && m_requestedSerial == m_pictureSerial && m_requestedRecord == record;
    if (held || asked) return;
    UndistortWorker::Job job;
    job.key = ++m_requestId;
    job.frame = cv::Mat(m_imageHeight, m_imageWidth, CV_8UC(m_channels), m_frameBuffer.data()).clone();
    job.record = record;
    m_requestedSerial = m_pictureSerial;
    m_requestedRecord = record;
    m_undistortPending = true;
    m_undistortWorker->request(std::move(job));
}

void CVexelView::OnUndistortedPicture(std::uint64_t request, const QImage& picture) {
    if (request != m_requestId) return;  // an answer to a request since replaced
    m_undistortPending = false;
    m_undistortedPicture = picture;
    m_undistortedSerial = m_requestedSerial;
    m_undistortedRecord = m_requestedRecord;
    viewport()->update();
}

bool CVexelView::UndistortionActive() const {
    // While a command runs the calibration may be changing: the frame is
    // drawn as it is.
    return m_undistorted && !m_docBusy && !m_undistortedPicture.isNull() &&
           m_undistortedSerial == m_pictureSerial && m_doc && m_doc->Calibration() &&
           *m_doc->Calibration() == m_undistortedRecord;
}

std::vector<QPoint> CVexelView::MapFramePoints(const std::vector<QPointF>& points) const {
    std::vector<cv::Point2f> moved;
    moved.reserve(points.size());
    for (const QPointF& p : points) moved.emplace_back(static_cast<float>(p.x()), static_cast<float>(p.y()));
    if (UndistortionActive()) UndistortMaps::undistortPoints(m_undistortedRecord, moved);
    std::vector<QPoint> mapped;
    mapped.reserve(moved.size());
    for (const cv::Point2f& p : moved) mapped.push_back(MapImagePoint(p.x, p.y));
    return mapped;
}

void CVexelView::DrawCoverage(QPainter& painter) {
    const GridSet& grid = m_doc->Grids();
    const cv::Size current(m_imageWidth, m_imageHeight);
    std::vector<QPointF> points;
    for (int f = 0; f < m_doc->FrameCount(); ++f) {
        if (m_doc->FrameExcluded(f)) continue;
        // Points of a frame of another size are in another picture's pixels.
        const cv::Size size = m_doc->GridOf(f).size;
        if (!size.empty() && size != current) continue;
        const int count = grid.getPointCount(f);
        for (int j = 0; j < count; ++j) {
            GridPoint p{};
            if (!grid.getImagePoint(f, j, p)) break;
            points.emplace_back(p.x, p.y);
        }
    }
    if (points.empty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 120, 0));
    for (const QPoint& p : MapFramePoints(points)) painter.drawEllipse(p, COVERAGE_DOT_RADIUS, COVERAGE_DOT_RADIUS);
    painter.restore();
}
