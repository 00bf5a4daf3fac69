#pragma once
// The poses of the last intrinsic calibration in 3-D: every used frame's
// board in front of the camera (camera-centred) or the camera of every
// frame around the board (board-centred), the current frame in orange.
// Dragging turns the scene, the wheel zooms, and clicking a board (or a
// camera) asks for its frame. It only reads the document's calibration
// figures.

#include <QPolygonF>
#include <QWidget>

#include <memory>
#include <vector>

#include "calibration/pose_scene.h"

class CVexelDoc;
class QComboBox;

class CPoseView : public QWidget {
    Q_OBJECT

public:
    explicit CPoseView(CVexelDoc* doc, QWidget* parent = nullptr);

    // Reads the calibration figures anew and repaints.
    void Refresh();

    void SetCentre(PoseCentre centre);
    PoseCentre Centre() const { return m_centre; }
    // Turns the view (degrees from the start view) and zooms it.
    void SetViewDirection(double yaw, double pitch, double zoom = 1);

    // The frames shown, and where one of them is drawn (its board, or its
    // camera's outline), widget pixels; empty when not shown.
    int FrameCount() const;
    QPolygonF FrameOutline(int frame) const;
    // The frame drawn nearest the viewer at `point`, or -1.
    int FrameAt(const QPointF& point) const;

    QSize sizeHint() const override { return QSize(320, 260); }
    QSize minimumSizeHint() const override { return QSize(160, 120); }

Q_SIGNALS:
    void FrameClicked(int frame);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The scene as drawn now, farthest first, the current frame last.
    std::vector<ProjectedPolygon> Projected() const;

    CVexelDoc* m_doc;
    QComboBox* m_centreChoice;
    std::shared_ptr<const CalibrationInsight> m_insight;
    std::vector<ScenePolygon> m_scene;
    PoseCentre m_centre = PoseCentre::Camera;
    double m_yaw = -30;
    double m_pitch = 20;
    double m_zoom = 1;
    QPointF m_pressedAt;
    QPointF m_lastAt;
    bool m_dragged = false;
    bool m_pressed = false;
};
