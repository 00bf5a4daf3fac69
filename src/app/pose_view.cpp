// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_insight.h"
#include "calibration/pose_scene.h"
#include "document/vexel_doc.h"

#include "app/pose_view.h"
#include "app/plot_panel.h"

#include <QComboBox>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QColor BOARD(120, 170, 220, 90);
const QColor BOARD_EDGE(40, 80, 140);
const QColor CURRENT(255, 140, 0, 220);
const QColor CURRENT_EDGE(170, 70, 0);
const QColor FIXED(80, 80, 80);
const int DRAG_DISTANCE = 4;  // pixels a press may move and still be a click

QPolygonF toPolygon(const std::vector<cv::Point2d>& points) {
    QPolygonF polygon;
    for (const cv::Point2d& p : points) polygon << QPointF(p.x, p.y);
    return polygon;
}

}  // namespace

CPoseView::CPoseView(CVexelDoc* doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
    makePlotPanel(*this, QStringLiteral("poseView"));
    m_centreChoice = new QComboBox(this);
    m_centreChoice->setObjectName(QStringLiteral("poseCentre"));
    m_centreChoice->addItem(QStringLiteral("Camera-centred"));
    m_centreChoice->addItem(QStringLiteral("Board-centred"));
    m_centreChoice->move(4, 4);
    m_centreChoice->adjustSize();
    connect(m_centreChoice, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetCentre(index == 1 ? PoseCentre::Board : PoseCentre::Camera); });
}

void CPoseView::Refresh() {
    m_insight = m_doc && m_doc->Stats().valid ? m_doc->Stats().insight : nullptr;
    m_scene = m_insight ? poseScene(*m_insight, m_centre) : std::vector<ScenePolygon>();
    update();
}

void CPoseView::SetCentre(PoseCentre centre) {
    if (centre == m_centre) return;
    m_centre = centre;
    m_centreChoice->setCurrentIndex(centre == PoseCentre::Board ? 1 : 0);
    Refresh();
}

void CPoseView::SetViewDirection(double yaw, double pitch, double zoom) {
    m_yaw = yaw;
    m_pitch = std::clamp(pitch, -89.0, 89.0);
    m_zoom = std::clamp(zoom, 0.2, 20.0);
    update();
}

std::vector<ProjectedPolygon> CPoseView::Projected() const {
    // The room under the centre choice is left free.
    const int top = m_centreChoice->geometry().bottom() + 4;
    const SceneViewer viewer(m_scene, m_centre, cv::Size(width(), std::max(1, height() - top)), m_yaw, m_pitch, m_zoom);
    std::vector<ProjectedPolygon> projected = projectScene(m_scene, viewer, m_doc ? m_doc->CurrentFrame() : -1);
    for (ProjectedPolygon& polygon : projected)
        for (cv::Point2d& p : polygon.points) p.y += top;
    return projected;
}

int CPoseView::FrameCount() const { return m_insight ? static_cast<int>(m_insight->frames.size()) : 0; }

QPolygonF CPoseView::FrameOutline(int frame) const {
    QPolygonF outline;
    for (const ProjectedPolygon& polygon : Projected())
        if (polygon.polygon->frame == frame) outline = outline.united(toPolygon(polygon.points));
    return outline;
}

int CPoseView::FrameAt(const QPointF& point) const {
    const std::vector<ProjectedPolygon> projected = Projected();
    // Nearest first.
    for (auto it = projected.rbegin(); it != projected.rend(); ++it)
        if (it->polygon->frame >= 0 && toPolygon(it->points).containsPoint(point, Qt::OddEvenFill))
            return it->polygon->frame;
    return -1;
}

void CPoseView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    beginPlotPainting(p, *this);
    if (m_scene.empty()) {
        drawPlotNote(p, rect().adjusted(8, 30, -8, -8),
                     QStringLiteral("The poses of the frames appear here after Intrinsic Calibration."));
        return;
    }
    const int current = m_doc ? m_doc->CurrentFrame() : -1;
    p.setRenderHint(QPainter::Antialiasing, true);
    QPointF currentLabel(-1, -1);
    for (const ProjectedPolygon& polygon : Projected()) {
        const int frame = polygon.polygon->frame;
        const QPolygonF shape = toPolygon(polygon.points);
        if (frame < 0) {
            p.setPen(QPen(FIXED, 1.5));
            p.setBrush(polygon.polygon->board ? QBrush(QColor(200, 200, 200, 160)) : QBrush(Qt::NoBrush));
        } else if (frame == current) {
            p.setPen(QPen(CURRENT_EDGE, 2));
            p.setBrush(polygon.polygon->board ? QBrush(CURRENT) : QBrush(QColor(255, 140, 0, 60)));
            currentLabel = shape.boundingRect().topRight();
        } else {
            p.setPen(QPen(BOARD_EDGE, 1));
            p.setBrush(polygon.polygon->board ? QBrush(BOARD) : QBrush(Qt::NoBrush));
        }
        p.drawPolygon(shape);
    }
    if (currentLabel.x() >= 0) {
        const QString label = QStringLiteral("frame %1").arg(current);
        const double room = width() - 4 - p.fontMetrics().horizontalAdvance(label);
        p.setPen(CURRENT_EDGE);
        p.drawText(QPointF(std::min(currentLabel.x() + 3, room), std::max(currentLabel.y(), 40.0)), label);
    }
    p.setPen(QColor(110, 110, 110));
    p.drawText(rect().adjusted(4, 0, -4, -3), Qt::AlignBottom | Qt::AlignLeft,
               QStringLiteral("drag: turn, wheel: zoom, click: go to the frame"));
}

void CPoseView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    m_pressed = true;
    m_dragged = false;
    m_pressedAt = m_lastAt = event->position();
    event->accept();
}

void CPoseView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressed) return QWidget::mouseMoveEvent(event);
    const QPointF at = event->position();
    if ((at - m_pressedAt).manhattanLength() > DRAG_DISTANCE) m_dragged = true;
    if (m_dragged) {
        SetViewDirection(m_yaw + (at.x() - m_lastAt.x()) * 0.5, m_pitch - (at.y() - m_lastAt.y()) * 0.5, m_zoom);
        m_lastAt = at;
    }
    event->accept();
}

void CPoseView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed) return QWidget::mouseReleaseEvent(event);
    m_pressed = false;
    if (!m_dragged) {
        const int frame = FrameAt(event->position());
        if (frame >= 0) Q_EMIT FrameClicked(frame);
    }
    event->accept();
}

void CPoseView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) return event->ignore();
    SetViewDirection(m_yaw, m_pitch, m_zoom * std::pow(1.2, steps));
    event->accept();
}
