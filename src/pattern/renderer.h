#pragma once
// Synthetic views of the printed board (board.h) seen by a pinhole camera with
// radial and tangential distortion or by an equidistant (fisheye) lens,
// together with the true image position of every labelled corner. The sheet
// may be bent (SheetBend).
//
// Perspective camera model (x, y normalised image coordinates of a point
// X_c = R X + t in the camera frame, r^2 = x^2 + y^2):
//   radial = (1 + k1 r^2 + k2 r^4 + k3 r^6) / (1 + k4 r^2 + k5 r^4 + k6 r^6)
//   x_d = x radial + 2 p1 x y + p2 (r^2 + 2 x^2)
//   y_d = y radial + p1 (r^2 + 2 y^2) + 2 p2 x y
//   u = fx x_d + cx,  v = fy y_d + cy
// Equidistant model (theta the angle between X_c and the optical axis, so
// points beside and behind the camera have a place in the image too):
//   theta_d = theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8)
//   (x_d, y_d) = theta_d (X_c, Y_c) / |(X_c, Y_c)|,  u = fx x_d + cx,  v = fy y_d + cy
// Image coordinates are pixels with the origin at the top-left pixel's centre
// (pixel (c, r) covers [c - 0.5, c + 0.5] x [r - 0.5, r + 0.5]).
// The board lies in the plane z = 0 of the pattern frame, printed side
// towards +z; translations are in cell units.
//
// Typical use:
//   vexel::pattern::Camera camera;                       // 640 x 480 defaults
//   auto poses = vexel::pattern::randomPoses(camera, 10, 7);
//   auto view = vexel::pattern::renderView(camera, poses[0]);
//   // view.image: 8-bit grey frame, view.corners: the 110 true corners

#include <opencv2/core.hpp>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace vexel::pattern {

// How the lens maps a ray to the image (see the models above).
enum class Projection { Perspective, Equidistant };

struct Camera {
    int width = 640;
    int height = 480;
    double fx = 700.0;
    double fy = 696.0;
    double cx = 322.0;
    double cy = 238.0;
    double k1 = -0.18;  // barrel distortion, clearly visible at the frame's corners
    double k2 = 0.05;
    double p1 = 0.0006;
    double p2 = -0.0004;
    // Perspective: the third radial term and the rational denominator.
    // Equidistant: k1 .. k4 are the theta polynomial's; p1, p2, k5, k6 unused.
    double k3 = 0.0;
    double k4 = 0.0;
    double k5 = 0.0;
    double k6 = 0.0;
    Projection projection = Projection::Perspective;

    cv::Matx33d cameraMatrix() const { return {fx, 0, cx, 0, fy, cy, 0, 0, 1}; }
    cv::Vec4d distortion() const { return {k1, k2, p1, p2}; }
    // Whether the perspective model uses more than k1, k2, p1, p2.
    bool rational() const { return k3 != 0.0 || k4 != 0.0 || k5 != 0.0 || k6 != 0.0; }
};

// An equidistant (fisheye) camera whose image is `fovDegrees` across its
// width, principal point at the frame's centre, square pixels and a mild
// theta polynomial (k1 .. k4 as given).
Camera equidistantCamera(int width, int height, double fovDegrees, double k1 = 0.0, double k2 = 0.0,
                         double k3 = 0.0, double k4 = 0.0);

// A sheet bent out of its plane into two parabolic arches: the printed point
// (x, y) lies `alongX` (1 - u^2) + `alongY` (1 - v^2) cells above the
// plane, towards the printed side, where u and v run from -1 to 1 across the
// board (board.h) along x and y. So `alongX` is how far the middle of the
// board stands above the straight line between its left and right edges,
// and the board's centre stands alongX + alongY above its four corners.
struct SheetBend {
    double alongX = 0.0;  // cells
    double alongY = 0.0;  // cells
    bool flat() const { return alongX == 0.0 && alongY == 0.0; }
};

// Height of the sheet above its plane at pattern point (x, y), in cells.
double sheetHeight(const SheetBend& bend, double x, double y);

// The default camera scaled to a frame of width x height: the focal lengths
// with the width (so a 16:9 frame keeps the pixels square), the principal
// point with each side.
inline Camera scaledCamera(int width, int height) {
    Camera camera;
    const double sx = width / static_cast<double>(camera.width), sy = height / static_cast<double>(camera.height);
    camera.width = width;
    camera.height = height;
    camera.fx *= sx;
    camera.fy *= sx;
    camera.cx *= sx;
    camera.cy *= sy;
    return camera;
}

// Pose of the pattern in the camera frame: X_c = R(rvec) X_pattern + tvec,
// and the shape of the sheet in this view.
struct ViewPose {
    cv::Vec3d rvec;  // rotation vector (axis times angle, radians)
    cv::Vec3d tvec;  // translation in cell units
    SheetBend bend;  // flat unless set
};

// True image position of the pattern corner (patternX, patternY).
struct CornerTruth {
    int patternX = 0;
    int patternY = 0;
    double imageX = 0.0;
    double imageY = 0.0;
};

struct RenderOptions {
    int samples = 16;              // sub-samples per pixel axis for the soft spots (1 .. 32); cell
                                   // and sheet edges are rendered by exact area coverage
    double darkGrey = 25.0;        // grey level of dark cells and dark spots
    double brightGrey = 215.0;     // grey level of bright cells, bright spots and the margin
    double backgroundGrey = 110.0; // grey level beyond the printed sheet
    double marginCells = 1.5;      // bright margin around the board, in cells
    double blurSigma = 0.0;        // Gaussian blur in pixels (0: none)
    double noiseSigma = 0.0;       // Gaussian noise in grey levels (0: none)
    uint32_t noiseSeed = 1;        // seed of the noise generator
    // 0: the flat backgroundGrey beyond the sheet; otherwise a busy scene
    // (makeBackdrop) made from this seed and the noise seed.
    uint32_t backdropSeed = 0;
};

struct RenderedView {
    cv::Mat image;                    // CV_8UC1, width x height, rows padded to 4 bytes
    std::vector<CornerTruth> corners; // y = -5 .. 5 outer, x = -5 .. 4 inner (110)
};

// A seeded generator whose uniform and normal draws are computed here from the
// engine's raw 32-bit output, so a seed gives the same numbers with every
// standard library.
class PortableRandom {
public:
    explicit PortableRandom(uint32_t seed) : engine_(seed) {}
    double uniform();                      // [0, 1)
    double uniform(double lo, double hi);  // [lo, hi)
    double normal();                       // mean 0, deviation 1 (Box-Muller)
    uint32_t raw() { return static_cast<uint32_t>(engine_()); }

private:
    std::mt19937 engine_;
    bool hasSpare_ = false;
    double spare_ = 0.0;
};

// The frame image of `grey` (CV_32FC1 grey levels): each pixel, plus
// noiseSigma times a normal draw from `random` when one is given, rounded
// and clipped to 0 .. 255, in a zero-filled buffer whose rows are padded to
// a multiple of 4 bytes, as frame images have them.
cv::Mat toFrameBuffer(const cv::Mat& grey, double noiseSigma = 0.0, PortableRandom* random = nullptr);

// The grey levels (CV_32FC1) of the sheet in front of `scene` (CV_32FC1, the
// frame's size). The sheet is rendered sharp and noiseless on black and on
// white, as `options` otherwise asks; its shading is linear in the
// background's grey, so the two give per pixel what the sheet contributes
// and how much of the pixel the background covers, and the scene is mixed
// in by that share, the sheet's edges staying antialiased.
cv::Mat1f sheetOverScene(const Camera& camera, const ViewPose& pose, const RenderOptions& options,
                         const cv::Mat1f& scene);

// Normalised, undistorted point (X_c / Z_c, Y_c / Z_c) -> distorted
// normalised point (x_d, y_d); for the equidistant model the point is taken
// to be in front of the camera.
cv::Point2d distortNormalised(const Camera& camera, cv::Point2d undistorted);

// Inverse of distortNormalised by Newton iteration; false when it does not
// converge (far outside the region where the model is invertible).
bool undistortNormalised(const Camera& camera, cv::Point2d distorted, cv::Point2d& undistorted);

// Image position of the camera-frame point `point`; false when the lens does
// not see it (behind a perspective camera, straight behind a fisheye, or
// where its model folds over).
bool projectCameraPoint(const Camera& camera, const cv::Vec3d& point, cv::Point2d& image);

// The direction, in the camera frame, of the ray the lens maps to image
// position `image`; false where the model cannot be inverted. Perspective
// rays are (x, y, 1); equidistant rays have length 1.
bool imageRay(const Camera& camera, cv::Point2d image, cv::Vec3d& ray);

// Image position of the sheet point printed at (x, y) (in the plane z = 0
// unless the pose bends the sheet); false when the lens does not see it.
bool projectPatternPoint(const Camera& camera, const ViewPose& pose, double x, double y, cv::Point2d& image);

// True image positions of the 110 labelled corners, in RenderedView order.
std::vector<CornerTruth> trueCorners(const Camera& camera, const ViewPose& pose);

// Renders one view. Invalid camera sizes (below 1 or above 16384) or sample
// counts outside 1 .. 32 throw std::invalid_argument.
RenderedView renderView(const Camera& camera, const ViewPose& pose, const RenderOptions& options = {});

// `count` poses of a wide-angle camera towards the rim of its view: the
// board's markers at `nearest` (0 .. 1) to 100 % of the way from the image
// centre to the frame's edge, the board turned to face the camera within 40
// degrees, with cells of 25 to 60 pixels, so that it is seen under the
// strongest distortion and often only in part. The origin marker and its two
// neighbouring markers, with the cells around them, stay inside the frame,
// so the labelling can succeed. With `nearest` 0 the views spread over the
// whole frame. Same inputs, same poses.
std::vector<ViewPose> rimPoses(const Camera& camera, int count, uint32_t seed, double nearest = 0.45);

// `count` well-spread poses: tilt up to 50 degrees about a random axis, any
// in-plane rotation, the board covering 30 to 80 % of the frame's area (in
// practice up to what still fits) and lying wholly inside the frame. At the
// default 640 x 480 camera the cells are then about 25 pixels or more. The
// same camera, count and seed give the same poses.
std::vector<ViewPose> randomPoses(const Camera& camera, int count, uint32_t seed);

// What randomPoses draws from; the defaults are the well-spread poses above.
// A small fill gives small cells (about 0.012 .. 0.03 for cells of 12 to 21
// pixels at 1920 x 1080).
struct PoseRange {
    double minTilt = 0.0;   // degrees, about a random axis in the board's plane
    double maxTilt = 50.0;
    double minRoll = 0.0;   // in-plane rotation, degrees
    double maxRoll = 360.0;
    double minFill = 0.3;   // board area over frame area
    double maxFill = 0.8;
    // Where the board sits in the room the frame leaves around it, on each
    // axis: 0 against the left (top) edge, 1 against the right (bottom).
    double minPlace = 0.0;
    double maxPlace = 1.0;
    // Views in turn against the top left, top right, bottom left and bottom
    // right corners instead.
    bool corners = false;
};

// Boards facing the camera (tilts up to 5 degrees, rolls up to 10 either
// way) in the middle of the frame, 30 to 45 % of its area.
inline PoseRange frontalPoseRange() { return {0.0, 5.0, -10.0, 10.0, 0.3, 0.45, 0.45, 0.55, false}; }
// Boards tilted by 30 to 50 degrees against the frame's corners, 12 to 25 %
// of its area.
inline PoseRange cornerPoseRange() { return {30.0, 50.0, -20.0, 20.0, 0.12, 0.25, 0.0, 1.0, true}; }

std::vector<ViewPose> randomPoses(const Camera& camera, int count, uint32_t seed, const PoseRange& range);

// Area of the board (x in [-6, 5], y in [-6, 6]) in the image over the frame's area.
double boardAreaFraction(const Camera& camera, const ViewPose& pose);

// Whether the whole board (with `marginPixels` to spare) projects inside the
// frame and the camera model is invertible over it.
bool boardInsideFrame(const Camera& camera, const ViewPose& pose, double marginPixels = 2.0);

enum class ImageFormat { Pgm, Jpeg };

// Name of view `index` in a render set: "view_000.pgm", "view_001.jpg", ...
std::string viewFileName(int index, ImageFormat format);

// The truth document of a render set:
// {"camera": {"width", "height", "fx", "fy", "cx", "cy", "distortion": [k1, k2, p1, p2]},
//  "views": [{"file", "rvec": [3], "tvec": [3], "corners": [[x, y, image_x, image_y], ...]}]}
// A perspective camera with k3 .. k6 lists all eight in the library's order
// (k1, k2, p1, p2, k3, k4, k5, k6); an equidistant one has "projection":
// "equidistant" and "distortion": [k1, k2, k3, k4]. A bent sheet adds
// "bend": [alongX, alongY] to its view.
std::string truthJson(const Camera& camera, const std::vector<std::string>& files,
                      const std::vector<ViewPose>& poses);

// Renders every pose into directory `dir` (created when missing) and writes
// the images, "views.iml" (one image file name per line) and "truth.json".
// View i uses options.noiseSeed + i as its noise seed. Returns false with a
// message naming the file and the problem when something cannot be written.
bool writeRenderSet(const std::string& dir, const Camera& camera, const std::vector<ViewPose>& poses,
                    const RenderOptions& options, ImageFormat format, std::string& error);

// Writes `text` to the file `path`; false with a message naming the file
// when it cannot be written.
bool writeTextFile(const std::string& path, const std::string& text, std::string& error);

// Renders view `index` of a set from its pose.
using ViewRenderer = std::function<RenderedView(const ViewPose& pose, int index)>;

// writeRenderSet with the views made by `render` (which may throw
// std::invalid_argument for a view it cannot make).
bool writeRenderSet(const std::string& dir, const Camera& camera, const std::vector<ViewPose>& poses,
                    const ViewRenderer& render, ImageFormat format, std::string& error);

}  // namespace vexel::pattern
