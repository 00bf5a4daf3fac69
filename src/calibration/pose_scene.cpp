#include "calibration/pose_scene.h"

#include <algorithm>
#include <cmath>

namespace {

// The image's corners as rays of the camera, scaled to `depth`.
std::vector<cv::Point3d> pyramidBase(const CalibrationInsight& insight, double depth) {
    const CameraModel model(insight.record);
    const double right = insight.imageSize.width - 1, bottom = insight.imageSize.height - 1;
    std::vector<cv::Point3d> base;
    for (const cv::Point2d corner : {cv::Point2d(0, 0), cv::Point2d(right, 0), cv::Point2d(right, bottom),
                                     cv::Point2d(0, bottom)}) {
        cv::Point2d ray;
        if (!model.unproject(corner, ray)) {
            const double fx = insight.record.fx() != 0 ? insight.record.fx() : 1;
            const double fy = insight.record.fy() != 0 ? insight.record.fy() : 1;
            ray = cv::Point2d((corner.x - insight.record.cx()) / fx, (corner.y - insight.record.cy()) / fy);
        }
        base.emplace_back(ray.x * depth, ray.y * depth, depth);
    }
    return base;
}

// The pyramid as its four sides and its base, moved by `place`.
template <typename Place>
void addPyramid(std::vector<ScenePolygon>& scene, int frame, const std::vector<cv::Point3d>& base, Place place) {
    const cv::Point3d apex = place(cv::Point3d(0, 0, 0));
    for (std::size_t i = 0; i < base.size(); ++i)
        scene.push_back({frame, false, {apex, place(base[i]), place(base[(i + 1) % base.size()])}});
    std::vector<cv::Point3d> placed;
    for (const cv::Point3d& p : base) placed.push_back(place(p));
    scene.push_back({frame, false, placed});
}

std::vector<cv::Point3d> boardOutline(const cv::Rect2d& extent) {
    return {{extent.x, extent.y, 0},
            {extent.x + extent.width, extent.y, 0},
            {extent.x + extent.width, extent.y + extent.height, 0},
            {extent.x, extent.y + extent.height, 0}};
}

cv::Matx33d turn(int axis, double degrees) {
    const double a = degrees * CV_PI / 180, c = std::cos(a), s = std::sin(a);
    if (axis == 0) return {1, 0, 0, 0, c, -s, 0, s, c};
    return {c, 0, s, 0, 1, 0, -s, 0, c};
}

}  // namespace

std::vector<ScenePolygon> poseScene(const CalibrationInsight& insight, PoseCentre centre) {
    std::vector<ScenePolygon> scene;
    const double depth = insight.coverage.typicalDepth > 0 ? insight.coverage.typicalDepth / 6 : 1.0;
    const std::vector<cv::Point3d> base = pyramidBase(insight, depth);
    const std::vector<cv::Point3d> board = boardOutline(insight.boardExtent);
    if (centre == PoseCentre::Camera) {
        addPyramid(scene, -1, base, [](const cv::Point3d& p) { return p; });
        for (std::size_t v = 0; v < insight.poses.size() && v < insight.frames.size(); ++v) {
            ScenePolygon polygon{insight.frames[v], true, {}};
            for (const cv::Point3d& p : board) polygon.points.push_back(insight.poses[v].toCamera(p));
            scene.push_back(std::move(polygon));
        }
    } else {
        scene.push_back({-1, true, board});
        for (std::size_t v = 0; v < insight.poses.size() && v < insight.frames.size(); ++v) {
            const FramePose& pose = insight.poses[v];
            addPyramid(scene, insight.frames[v], base, [&pose](const cv::Point3d& p) { return pose.toPattern(p); });
        }
    }
    return scene;
}

SceneViewer::SceneViewer(const std::vector<ScenePolygon>& scene, PoseCentre centre, cv::Size picture, double yaw,
                         double pitch, double zoom) {
    // From the scene's frame to the viewer's: x right, y down, z away.
    const cv::Matx33d start = centre == PoseCentre::Camera ? cv::Matx33d::eye() : cv::Matx33d(1, 0, 0, 0, -1, 0, 0, 0, -1);
    m_rotation = turn(0, pitch) * turn(1, yaw) * start;
    cv::Point3d low(HUGE_VAL, HUGE_VAL, HUGE_VAL), high(-HUGE_VAL, -HUGE_VAL, -HUGE_VAL);
    for (const ScenePolygon& polygon : scene)
        for (const cv::Point3d& p : polygon.points) {
            low = cv::Point3d(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z));
            high = cv::Point3d(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
        }
    double radius = 1;
    if (low.x <= high.x) {
        m_middle = (low + high) * 0.5;
        radius = std::max(cv::norm(high - low) / 2, 1e-9);
    }
    m_distance = 4 * radius;
    // Scaled and moved so that the whole scene fills the picture.
    m_focal = 1;
    m_centre = cv::Point2d(0, 0);
    cv::Point2d first(HUGE_VAL, HUGE_VAL), last(-HUGE_VAL, -HUGE_VAL);
    for (const ScenePolygon& polygon : scene)
        for (const cv::Point3d& p : polygon.points) {
            cv::Point2d at;
            double depth = 0;
            if (!project(p, at, depth)) continue;
            first = cv::Point2d(std::min(first.x, at.x), std::min(first.y, at.y));
            last = cv::Point2d(std::max(last.x, at.x), std::max(last.y, at.y));
        }
    const double spanX = last.x - first.x, spanY = last.y - first.y;
    if (spanX > 0 && spanY > 0 && std::isfinite(spanX) && std::isfinite(spanY)) {
        m_focal = 0.9 * std::min(picture.width / spanX, picture.height / spanY) * std::max(zoom, 1e-3);
        m_centre = cv::Point2d(picture.width / 2.0, picture.height / 2.0) - (first + last) * (0.5 * m_focal);
    } else {
        m_centre = cv::Point2d(picture.width / 2.0, picture.height / 2.0);
    }
}

bool SceneViewer::project(const cv::Point3d& point, cv::Point2d& position, double& depth) const {
    const cv::Vec3d v = m_rotation * cv::Vec3d(point.x - m_middle.x, point.y - m_middle.y, point.z - m_middle.z);
    depth = v[2] + m_distance;
    if (!(depth > 1e-6 * m_distance)) return false;
    position = m_centre + cv::Point2d(v[0], v[1]) * (m_focal / depth);
    return true;
}

std::vector<ProjectedPolygon> projectScene(const std::vector<ScenePolygon>& scene, const SceneViewer& viewer,
                                           int onTop) {
    std::vector<ProjectedPolygon> out;
    for (const ScenePolygon& polygon : scene) {
        ProjectedPolygon projected{&polygon, {}, 0};
        bool visible = !polygon.points.empty();
        for (const cv::Point3d& p : polygon.points) {
            cv::Point2d at;
            double depth = 0;
            if (!viewer.project(p, at, depth)) {
                visible = false;
                break;
            }
            projected.points.push_back(at);
            projected.depth += depth;
        }
        if (!visible) continue;
        projected.depth /= static_cast<double>(polygon.points.size());
        out.push_back(std::move(projected));
    }
    std::stable_sort(out.begin(), out.end(), [onTop](const auto& a, const auto& b) {
        const bool aTop = onTop >= 0 && a.polygon->frame == onTop, bTop = onTop >= 0 && b.polygon->frame == onTop;
        return aTop != bTop ? bTop : a.depth > b.depth;
    });
    return out;
}
