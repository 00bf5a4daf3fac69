// The view's two further ways of drawing the frame: undistorted with the
// current calibration, and with the correspondences of every frame as dots.

// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/undistort_maps.h"
#include "document/vexel_doc.h"

#include "view/vexel_view.h"

#include <QImage>
#include <QPainter>
#include <QPointF>

#include <vector>

#include <opencv2/core.hpp>

bool CVexelView::OnUndistorted() {
    if (!m_undistorted && !(m_doc && m_doc->Calibration())) return false;
    m_undistorted = !m_undistorted;
    viewport()->update();
    return true;
}

bool CVexelView::Undistorted() const { return m_undistorted && m_doc && m_doc->Calibration(); }

void CVexelView::OnCoverage() {
    m_coverage = !m_coverage;
    viewport()->update();
}

void CVexelView::PrepareUndistortion() {
    if (!m_undistorted) return;
    if (!m_doc || !m_doc->Calibration()) {
        m_undistorted = false;
        m_undistortMaps->clear();
        return;
    }
    // A record the maps cannot be made from leaves the frame as it is.
    m_undistortMaps->prepare(*m_doc->Calibration(), cv::Size(m_imageWidth, m_imageHeight));
}

bool CVexelView::UndistortionActive() const {
    return m_undistorted && m_undistortMaps->ready() && m_undistortMaps->size() == cv::Size(m_imageWidth, m_imageHeight);
}

QImage CVexelView::UndistortPicture(const QImage& picture) const {
    if (!UndistortionActive() || picture.format() != QImage::Format_RGB888) return picture;
    const cv::Mat in(picture.height(), picture.width(), CV_8UC3, const_cast<uchar*>(picture.constBits()),
                     static_cast<std::size_t>(picture.bytesPerLine()));
    QImage out(picture.size(), QImage::Format_RGB888);
    cv::Mat target(out.height(), out.width(), CV_8UC3, out.bits(), static_cast<std::size_t>(out.bytesPerLine()));
    cv::Mat remapped;
    if (!m_undistortMaps->remap(in, remapped)) return picture;
    remapped.copyTo(target);
    return out;
}

std::vector<QPoint> CVexelView::MapFramePoints(const std::vector<QPointF>& points) const {
    std::vector<cv::Point2f> moved;
    moved.reserve(points.size());
    for (const QPointF& p : points) moved.emplace_back(static_cast<float>(p.x()), static_cast<float>(p.y()));
    if (UndistortionActive()) m_undistortMaps->undistortPoints(moved);
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
