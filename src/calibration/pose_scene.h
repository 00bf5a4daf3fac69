#pragma once
// The poses of a calibration as a small 3-D scene to draw: every used
// frame's board in front of the camera (camera-centred) or every frame's
// camera around the board (board-centred), and a viewer that projects the
// scene onto a picture from a direction the user can turn, scaled so that
// the whole scene fills the picture.

#include <vector>

#include <opencv2/core/types.hpp>

#include "calibration/calibration_insight.h"

enum class PoseCentre { Camera, Board };

struct ScenePolygon {
    int frame = -1;                   // the frame it shows; -1 for the camera or board at the centre
    bool board = false;               // a board (filled) rather than a camera's outline
    std::vector<cv::Point3d> points;  // a closed outline
};

// Camera-centred: the camera's viewing pyramid (its apex at the origin,
// its base the image's rectangle at a sixth of the boards' typical
// depth) and each frame's board as the rectangle its points span, in the
// camera's frame (x right, y down, z ahead). Board-centred: the board, and
// each frame's camera pyramid, in the pattern's frame (x right, y up, z
// towards the cameras).
std::vector<ScenePolygon> poseScene(const CalibrationInsight& insight, PoseCentre centre);

// Projects the scene onto a width x height picture: looks at the middle of
// the scene from outside it, turned by `yaw` and `pitch` (degrees) from the
// start view (behind and above the camera, or in front of the board),
// scaled by `zoom`.
class SceneViewer {
public:
    SceneViewer(const std::vector<ScenePolygon>& scene, PoseCentre centre, cv::Size picture, double yaw = -30,
                double pitch = 20, double zoom = 1);
    // The picture position of a scene point and its depth from the viewer
    // (larger: farther); false when it is behind the viewer.
    bool project(const cv::Point3d& point, cv::Point2d& position, double& depth) const;

private:
    cv::Matx33d m_rotation;
    cv::Point3d m_middle;
    double m_distance = 1;
    double m_focal = 1;
    cv::Point2d m_centre;
};

// A polygon as the viewer shows it, with its mean depth (for drawing the
// far ones first).
struct ProjectedPolygon {
    const ScenePolygon* polygon = nullptr;
    std::vector<cv::Point2d> points;
    double depth = 0;
};

// Every polygon wholly in front of the viewer, farthest first, those of
// frame `onTop` (when given) after all others so that they stay in sight.
std::vector<ProjectedPolygon> projectScene(const std::vector<ScenePolygon>& scene, const SceneViewer& viewer,
                                           int onTop = -1);
