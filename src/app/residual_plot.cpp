// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_insight.h"
#include "calibration/plot_axis.h"
#include "document/vexel_doc.h"

#include "app/residual_plot.h"
#include "app/plot_panel.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

const int MARGIN = 6;
const int TITLE = 16;      // room for a plot's title
const int AXIS_LABEL = 14; // room for the axis values under a plot
const QColor DOT(70, 130, 180, 110);
const QColor CURRENT_DOT(200, 80, 0);
const QColor TREND(230, 140, 0);
const QColor RMS_CIRCLE(20, 50, 110);

QString value(double v) { return QString::number(v, 'g', 3); }

}  // namespace

CResidualPlot::CResidualPlot(CVexelDoc* doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
    makePlotPanel(*this, QStringLiteral("residualPlot"));
}

void CResidualPlot::Refresh() {
    m_insight = m_doc && m_doc->Stats().valid ? m_doc->Stats().insight : nullptr;
    m_points = 0;
    double largestComponent = 0, farthest = 0, longest = 0;
    if (m_insight) {
        for (const FrameResiduals& frame : m_insight->residuals)
            for (std::size_t i = 0; i < frame.detected.size(); ++i) {
                const cv::Point2f e = frame.error(i);
                const double radius = cv::norm(cv::Point2d(frame.detected[i]) - m_insight->principalPoint);
                if (!std::isfinite(e.x) || !std::isfinite(e.y) || !std::isfinite(radius)) continue;
                ++m_points;
                largestComponent = std::max({largestComponent, double(std::abs(e.x)), double(std::abs(e.y))});
                farthest = std::max(farthest, radius);
                longest = std::max(longest, cv::norm(e));
            }
    }
    m_errorRange = vexel::roundAxisEnd(largestComponent * 1.05);
    m_radiusRange = vexel::roundAxisEnd(farthest);
    m_lengthRange = vexel::roundAxisEnd(longest * 1.05);
    // Without residuals there is nothing to plot: the panel keeps its room.
    setVisible(m_insight != nullptr);
    update();
}

QRect CResidualPlot::ScatterArea() const {
    // A square on the left, as high as the widget allows.
    const int side = std::max(10, std::min(height() - TITLE - AXIS_LABEL - 2 * MARGIN, width() / 2 - 2 * MARGIN));
    return QRect(MARGIN, TITLE + MARGIN, side, side);
}

QRect CResidualPlot::RadialArea() const {
    const QRect scatter = ScatterArea();
    const int left = scatter.right() + 4 * MARGIN + 22;
    return QRect(QPoint(left, scatter.top()), QPoint(std::max(left + 10, width() - MARGIN - 1), scatter.bottom()));
}

QPointF CResidualPlot::ScatterPosition(double dx, double dy) const {
    const QRectF area = ScatterArea();
    return QPointF(area.center().x() + dx / m_errorRange * area.width() / 2,
                   area.center().y() + dy / m_errorRange * area.height() / 2);
}

QPointF CResidualPlot::RadialPosition(double radius, double length) const {
    const QRectF area = RadialArea();
    return QPointF(area.left() + radius / m_radiusRange * area.width(), area.bottom() - length / m_lengthRange * area.height());
}

void CResidualPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    beginPlotPainting(p, *this);
    if (!m_insight || m_points == 0) {
        drawPlotNote(p, rect().adjusted(8, 8, -8, -8),
                     QStringLiteral("The residuals of every frame appear here after Intrinsic Calibration."));
        return;
    }
    const QRect scatter = ScatterArea(), radial = RadialArea();
    const int current = m_doc ? m_doc->CurrentFrame() : -1;

    // Frames and axes.
    p.setPen(QColor(225, 225, 225));
    p.drawLine(QPointF(scatter.left(), scatter.center().y()), QPointF(scatter.right(), scatter.center().y()));
    p.drawLine(QPointF(scatter.center().x(), scatter.top()), QPointF(scatter.center().x(), scatter.bottom()));
    p.setPen(Qt::black);
    p.drawRect(scatter);
    drawPlotAxes(p, radial);
    p.drawText(QRect(scatter.left(), 0, scatter.width() + 40, TITLE), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("error vectors (px)"));
    p.drawText(QRect(radial.left() - 20, 0, radial.width() + 20, TITLE), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("length against radius"));
    const int below = scatter.bottom() + 2;
    p.drawText(QRect(scatter.left() - 4, below, 40, AXIS_LABEL), Qt::AlignLeft | Qt::AlignTop, value(-m_errorRange));
    p.drawText(QRect(scatter.right() - 40, below, 44, AXIS_LABEL), Qt::AlignRight | Qt::AlignTop, value(m_errorRange));
    p.drawText(QRect(radial.left() - 24, radial.top() - 2, 22, AXIS_LABEL), Qt::AlignRight | Qt::AlignTop,
               value(m_lengthRange));
    p.drawText(QRect(radial.left() - 24, radial.bottom() - AXIS_LABEL + 2, 22, AXIS_LABEL),
               Qt::AlignRight | Qt::AlignBottom, QStringLiteral("0"));
    p.drawText(QRect(radial.right() - 60, below, 60, AXIS_LABEL), Qt::AlignRight | Qt::AlignTop,
               value(m_radiusRange) + QStringLiteral(" px"));

    // The dots, the current frame's on top.
    QPolygonF others, own, othersRadial, ownRadial;
    double squares = 0;
    for (const FrameResiduals& frame : m_insight->residuals) {
        const bool isCurrent = frame.frame == current;
        for (std::size_t i = 0; i < frame.detected.size(); ++i) {
            const cv::Point2f e = frame.error(i);
            const double radius = cv::norm(cv::Point2d(frame.detected[i]) - m_insight->principalPoint);
            if (!std::isfinite(e.x) || !std::isfinite(e.y) || !std::isfinite(radius)) continue;
            squares += static_cast<double>(e.x) * e.x + static_cast<double>(e.y) * e.y;
            (isCurrent ? own : others) << ScatterPosition(e.x, e.y);
            (isCurrent ? ownRadial : othersRadial) << RadialPosition(radius, cv::norm(e));
        }
    }
    p.setClipRect(scatter.adjusted(1, 1, 0, 0));
    p.setPen(QPen(DOT, 2));
    p.drawPoints(others);
    p.setPen(QPen(CURRENT_DOT, 2.5));
    p.drawPoints(own);
    const double rms = std::sqrt(squares / m_points);
    const QPointF centre = ScatterPosition(0, 0);
    const QPointF edge = ScatterPosition(rms, rms);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(RMS_CIRCLE, 1.5, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, edge.x() - centre.x(), edge.y() - centre.y());
    p.setClipRect(radial.adjusted(1, 0, 0, 0));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(DOT, 2));
    p.drawPoints(othersRadial);
    p.setPen(QPen(CURRENT_DOT, 2.5));
    p.drawPoints(ownRadial);
    QPolygonF trend;
    for (const RadialBin& bin : radialErrorProfile(m_insight->residuals, m_insight->principalPoint))
        trend << RadialPosition(bin.radius, bin.meanError);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(TREND, 2.5));
    p.drawPolyline(trend);
    p.setClipping(false);
    p.setPen(RMS_CIRCLE);
    p.drawText(QRect(scatter.left() + 3, scatter.top() + 1, scatter.width(), AXIS_LABEL), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("RMS %1").arg(value(rms)));
}
