// Side-by-side comparison of our per-frame grid extraction with the vision
// library's two chessboard finders, on the same rendered views of the board
// (known camera, fixed seeds) and on frames that show no board at all.
//
// Per frame size it prints the detection rate, the median and 90th-percentile
// time per frame, the corner error against the true projected corners and the
// peers' time relative to ours; then the camera calibrated from each
// detector's corners beside the true camera. The last line is the speed-up
// over findChessboardCorners at 640 x 480.

#include <CLI/CLI.hpp>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "compare_detectors_stats.h"
#include "found_corners.h"
#include "grid/corner_detection.h"
#include "grid/corner_mesh.h"
#include "grid/extract_frame.h"
#include "grid/frame_image.h"
#include "grid/grid_cells.h"
#include "grid/grid_set.h"
#include "grid/marker_cells.h"
#include "pattern/board.h"
#include "pattern/renderer.h"

namespace {

namespace vp = vexel::pattern;
namespace vb = vexel::bench;
using vb::fixed;

// Times are taken from the calling thread's CPU clock by default: on a
// shared machine a run of a few milliseconds is often preempted, which adds a
// whole scheduler slice to a wall-clock reading. With more than one thread
// the vision library works on other threads too, so wall-clock time is used.
bool gThreadClock = true;

struct Clock {
    using time_point = double;  // milliseconds
    static time_point now() {
        if (gThreadClock) {
            timespec t{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// The board's inner corners as the chessboard finders count them: 10 columns
// (pattern x = -5 .. 4) by 11 rows (pattern y = -5 .. 5).
const cv::Size kLattice(vp::kLastCornerX - vp::kFirstCornerX + 1, vp::kLastCornerY - vp::kFirstCornerY + 1);
constexpr int kMaxPoints = 200;

enum Detector { Ours = 0, OursRefined, Classic, ClassicFast, Sector, DetectorCount };
const char* const kDetectorNames[DetectorCount] = {"ours (extractFrame)", "ours --refine", "findChessboardCorners+subpix",
                                                   "findChessboardCorners FAST_CHECK", "findChessboardCornersSB"};

struct Options {
    int views = 20;
    std::vector<std::string> sizes{"640x480", "1280x960", "1600x1200", "1920x1080", "4032x3024"};
    int noBoard = 10;
    int repeat = 5;
    double budgetMs = 400.0;
    bool verbose = false;
    bool oursOnly = false;
    std::string clock = "auto";
    int threads = 1;
    uint32_t seed = 7;
};

// What one detector returned on one frame.
struct Detection {
    bool found = false;
    std::vector<cv::Point2f> image;
    std::vector<cv::Point2f> pattern;  // ours only: the labels it gave
};

// One detector's results over a set of frames.
struct Column {
    std::vector<double> frameMs;  // per frame: median over the repeats
    int found = 0;
    long corners = 0;
    vb::ErrorSum error;
    long labelErrors = 0;  // ours: labels that differ from the nearest true corner's
    std::vector<std::vector<cv::Point3f>> calibObject;
    std::vector<std::vector<cv::Point2f>> calibImage;
};

double lastOf(const std::vector<double>& values) {
    return values.empty() ? std::numeric_limits<double>::quiet_NaN() : values.back();
}

double elapsedMs(Clock::time_point start) { return Clock::now() - start; }

Detection runOurs(const cv::Mat& frame, double& ms, std::string& why, bool refine = false) {
    Detection d;
    std::ostringstream errors;
    const auto start = Clock::now();
    GridSet set;
    set.allocate(1, kMaxPoints);
    ExtractOptions extraction;
    extraction.refineCorners = refine;
    extractFrame(set, 0, frame, nullptr, nullptr, &errors, extraction);
    ms = elapsedMs(start);
    why = errors.str();
    d.found = set.getPointCount(0) >= 4;
    vb::foundCorners(set, d.image, d.pattern);
    return d;
}

// Runs the extraction once more with a trace and says how far it got.

std::string explainOurs(const cv::Mat& frame) {
    GridSet set;
    set.allocate(1, kMaxPoints);
    ExtractTrace trace;
    std::ostringstream errors;
    extractFrame(set, 0, frame, &trace, nullptr, &errors);
    int markers = 0;
    for (auto* m : trace.markers) markers += m != nullptr ? 1 : 0;
    std::ostringstream out;
    out << trace.corners.size() << " corners, " << trace.candidateCount << " candidate cells, "
        << set.getCellCount(0) << " grid cells, " << markers << " marker cells, " << set.getPointCount(0)
        << " correspondences";
    const std::string why = errors.str();
    out << (why.empty() ? std::string("\n") : "; " + why);
    return out.str();
}

// Times the extraction's stages one by one (the best of `repeat` runs each),
// for finding where the time goes.
std::string stageTimes(const cv::Mat& frame, int repeat) {
    std::array<double, 4> best;
    best.fill(std::numeric_limits<double>::infinity());
    int corners = 0, triangles = 0;
    for (int r = 0; r < repeat; ++r) {
        GridSet set;
        set.allocate(1, kMaxPoints);
        std::ostringstream sink;
        auto start = Clock::now();
        detectCorners(set, 0, frame);
        best[0] = std::min(best[0], elapsedMs(start));
        corners = set.getPointCount(0);
        start = Clock::now();
        try {
            triangulateCorners(set, 0, sink);
        } catch (const std::exception&) {
            return "triangulation failed";
        }
        best[1] = std::min(best[1], elapsedMs(start));
        triangles = static_cast<int>(set.frames[0].trianglePart->elements().numberOfItems());
        start = Clock::now();
        buildGridCells(set, 0, frame);
        best[2] = std::min(best[2], elapsedMs(start));
        start = Clock::now();
        labelFrameGrid(set, 0, frame);
        best[3] = std::min(best[3], elapsedMs(start));
    }
    std::ostringstream out;
    out << "corners " << fixed(best[0], 3, 0) << " (" << corners << "), mesh " << fixed(best[1], 3, 0) << " ("
        << triangles << " triangles), cells " << fixed(best[2], 3, 0) << ", labels " << fixed(best[3], 3, 0)
        << " ms";
    return out.str();
}

Detection runClassic(const cv::Mat& frame, int flags, bool refine, double& ms) {
    Detection d;
    const auto start = Clock::now();
    d.found = cv::findChessboardCorners(frame, kLattice, d.image, flags);
    if (d.found && refine)
        cv::cornerSubPix(frame, d.image, cv::Size(5, 5), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.01));
    ms = elapsedMs(start);
    if (!d.found) d.image.clear();
    return d;
}

Detection runSector(const cv::Mat& frame, double& ms) {
    Detection d;
    const auto start = Clock::now();
    d.found = cv::findChessboardCornersSB(frame, kLattice, d.image, 0);
    ms = elapsedMs(start);
    if (!d.found) d.image.clear();
    return d;
}

// Runs the detectors `active` on one frame up to `repeat` times, interleaved
// so that load from elsewhere on the machine hits all of them alike; a
// detector stops repeating once its runs on this frame took `budgetMs` (a
// call of seconds gains nothing from repeats). Returns the first run's
// detections and adds each detector's median time to its column.
std::vector<Detection> measureFrame(const cv::Mat& frame, const std::vector<Detector>& active, int repeat,
                                    double budgetMs, std::vector<Column>& columns, std::string& oursWhy) {
    std::vector<Detection> first(DetectorCount);
    std::vector<std::vector<double>> times(DetectorCount);
    std::vector<double> spent(DetectorCount, 0.0);
    for (int r = 0; r < repeat; ++r) {
        for (Detector detector : active) {
            if (r > 0 && spent[detector] >= budgetMs) continue;
            double ms = 0.0;
            Detection d;
            std::string why;
            switch (detector) {
                case Ours:
                    d = runOurs(frame, ms, why);
                    if (r == 0) oursWhy = why;
                    break;
                case OursRefined: d = runOurs(frame, ms, why, true); break;
                case Classic:
                    d = runClassic(frame, cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE, true, ms);
                    break;
                case ClassicFast:
                    d = runClassic(frame,
                                   cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE |
                                       cv::CALIB_CB_FAST_CHECK,
                                   true, ms);
                    break;
                case Sector: d = runSector(frame, ms); break;
                default: break;
            }
            times[detector].push_back(ms);
            spent[detector] += ms;
            if (r == 0) first[detector] = std::move(d);
        }
    }
    for (Detector detector : active) columns[detector].frameMs.push_back(vb::median(times[detector]));
    return first;
}

std::vector<vb::TrueCorner> truthOf(const vp::RenderedView& view) {
    std::vector<vb::TrueCorner> truth;
    for (const auto& c : view.corners) truth.push_back({c.patternX, c.patternY, c.imageX, c.imageY});
    return truth;
}

// Scores one detection against the truth and keeps its correspondences for
// the calibration. Every detected corner is matched to the nearest true
// corner: the finders' lattice order may come out in any orientation, so
// their pattern points are those of the matched true corners; ours keep the
// labels the extraction gave them.
void score(Detector detector, const Detection& d, const std::vector<vb::TrueCorner>& truth, Column& column) {
    if (!d.found) return;
    ++column.found;
    column.corners += static_cast<long>(d.image.size());
    std::vector<cv::Point3f> object;
    std::vector<cv::Point2f> image;
    for (size_t i = 0; i < d.image.size(); ++i) {
        double distance = 0.0;
        const int t = vb::nearestTrueCorner(truth, d.image[i].x, d.image[i].y, distance);
        if (t < 0) continue;
        column.error.add(distance);
        if (detector == Ours || detector == OursRefined) {
            if (d.pattern[i].x != static_cast<float>(truth[t].patternX) ||
                d.pattern[i].y != static_cast<float>(truth[t].patternY))
                ++column.labelErrors;
            object.emplace_back(d.pattern[i].x, d.pattern[i].y, 0.0f);
        } else {
            object.emplace_back(static_cast<float>(truth[t].patternX), static_cast<float>(truth[t].patternY), 0.0f);
        }
        image.push_back(d.image[i]);
    }
    column.calibObject.push_back(std::move(object));
    column.calibImage.push_back(std::move(image));
}

// Frames without the board: noise, gradients, textures, shapes, lines, a dot
// grid and plain checkerboards without marker spots. Deterministic per index.
cv::Mat noBoardFrame(int width, int height, int index, uint32_t seed) {
    cv::Mat grey(height, width, CV_8UC1, cv::Scalar(128));
    cv::RNG rng(seed * 7919u + static_cast<uint32_t>(index) * 104729u + 1u);
    const double scale = width / 640.0;
    switch (index % 10) {
        case 0:  // white noise
            rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
            break;
        case 1:  // linear gradient
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    grey.at<uchar>(y, x) = cv::saturate_cast<uchar>(20.0 + 200.0 * (x + 0.5 * y) / (1.5 * width));
            break;
        case 2: {  // radial gradient with noise
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const double r = std::hypot(x - width / 2.0, y - height / 2.0) / (0.7 * width);
                    grey.at<uchar>(y, x) = cv::saturate_cast<uchar>(220.0 - 180.0 * r + rng.gaussian(6.0));
                }
            break;
        }
        case 3:  // plaid texture
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    grey.at<uchar>(y, x) = cv::saturate_cast<uchar>(
                        128.0 + 90.0 * std::sin(x / (7.0 * scale)) * std::sin(y / (11.0 * scale)));
            break;
        case 4:  // random rectangles and discs
            for (int i = 0; i < 60; ++i) {
                const cv::Point a(rng.uniform(0, width), rng.uniform(0, height));
                const int grey_level = rng.uniform(0, 256);
                if (i % 2 == 0)
                    cv::rectangle(grey, a, a + cv::Point(rng.uniform(5, width / 6), rng.uniform(5, height / 6)),
                                  cv::Scalar(grey_level), cv::FILLED, cv::LINE_AA);
                else
                    cv::circle(grey, a, rng.uniform(3, width / 12), cv::Scalar(grey_level), cv::FILLED,
                               cv::LINE_AA);
            }
            break;
        case 5: {  // smooth clouds: low-passed noise, stretched
            rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
            cv::GaussianBlur(grey, grey, cv::Size(), 6.0 * scale);
            cv::normalize(grey, grey, 0, 255, cv::NORM_MINMAX);
            break;
        }
        case 6:    // the board's own lattice (11 x 12 cells) in perspective, no spots
        case 7: {  // a smaller plain checkerboard (8 x 6 cells), turned
            const bool own = index % 10 == 6;
            const int columns = own ? 11 : 8, rows = own ? 12 : 6;
            const int cell = 40;
            cv::Mat flat(rows * cell + 2 * cell, columns * cell + 2 * cell, CV_8UC1, cv::Scalar(215));
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < columns; ++c)
                    if ((r + c) % 2 == 0)
                        cv::rectangle(flat, cv::Rect(cell + c * cell, cell + r * cell, cell, cell), cv::Scalar(25),
                                      cv::FILLED);
            grey.setTo(cv::Scalar(110));
            const float w = static_cast<float>(flat.cols), h = static_cast<float>(flat.rows);
            const cv::Point2f from[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
            const float W = static_cast<float>(width), H = static_cast<float>(height);
            cv::Point2f to[4];
            if (own) {
                to[0] = {0.22f * W, 0.12f * H};
                to[1] = {0.74f * W, 0.18f * H};
                to[2] = {0.80f * W, 0.90f * H};
                to[3] = {0.18f * W, 0.84f * H};
            } else {
                to[0] = {0.30f * W, 0.10f * H};
                to[1] = {0.85f * W, 0.30f * H};
                to[2] = {0.70f * W, 0.85f * H};
                to[3] = {0.15f * W, 0.65f * H};
            }
            cv::warpPerspective(flat, grey, cv::getPerspectiveTransform(from, to), grey.size(), cv::INTER_AREA,
                                cv::BORDER_TRANSPARENT);
            cv::GaussianBlur(grey, grey, cv::Size(), 0.7);
            break;
        }
        case 8:  // random lines
            grey.setTo(cv::Scalar(200));
            for (int i = 0; i < 80; ++i)
                cv::line(grey, {rng.uniform(0, width), rng.uniform(0, height)},
                         {rng.uniform(0, width), rng.uniform(0, height)}, cv::Scalar(rng.uniform(0, 120)),
                         rng.uniform(1, 4), cv::LINE_AA);
            break;
        default: {  // a grid of dark dots
            grey.setTo(cv::Scalar(215));
            const int step = static_cast<int>(40 * scale);
            for (int y = step; y < height - step / 2; y += step)
                for (int x = step; x < width - step / 2; x += step)
                    cv::circle(grey, {x, y}, step / 4, cv::Scalar(30), cv::FILLED, cv::LINE_AA);
            break;
        }
    }
    if (index % 10 != 0 && index % 10 != 2) {  // mild noise on the clean ones
        cv::Mat noise(height, width, CV_16SC1);
        rng.fill(noise, cv::RNG::NORMAL, 0, 2);
        cv::Mat wide;
        grey.convertTo(wide, CV_16SC1);
        wide += noise;
        wide.convertTo(grey, CV_8UC1);
    }
    return toFrameImage(grey);
}


std::string ratio(double peer, double ours) {
    if (!(std::isfinite(peer) && std::isfinite(ours) && ours > 0.0)) return fixed(NAN, 1, 9);
    return fixed(peer / ours, 1, 8) + "x";
}

std::string padded(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

struct Calibrated {
    bool ok = false;
    int frames = 0;
    double rms = NAN;
    double fx = NAN, fy = NAN, cx = NAN, cy = NAN, k1 = NAN, k2 = NAN;
    std::string failure;
};

Calibrated calibrate(const Column& column, cv::Size size) {
    Calibrated result;
    std::vector<std::vector<cv::Point3f>> object;
    std::vector<std::vector<cv::Point2f>> image;
    for (size_t i = 0; i < column.calibObject.size(); ++i) {
        if (column.calibObject[i].size() < 4) continue;
        object.push_back(column.calibObject[i]);
        image.push_back(column.calibImage[i]);
    }
    result.frames = static_cast<int>(object.size());
    if (object.size() < 2) {
        result.failure = "too few frames";
        return result;
    }
    try {
        cv::Mat k, dist;
        std::vector<cv::Mat> rvecs, tvecs;
        result.rms = cv::calibrateCamera(object, image, size, k, dist, rvecs, tvecs, cv::CALIB_FIX_K3);
        result.fx = k.at<double>(0, 0);
        result.fy = k.at<double>(1, 1);
        result.cx = k.at<double>(0, 2);
        result.cy = k.at<double>(1, 2);
        result.k1 = dist.at<double>(0);
        result.k2 = dist.at<double>(1);
        result.ok = true;
    } catch (const cv::Exception& e) {
        result.failure = std::string("calibration failed: ") + e.what();
    }
    return result;
}

void printCalibrationRow(const std::string& name, const Calibrated& c) {
    std::cout << "  " << padded(name, 34);
    if (!c.ok) {
        std::cout << fixed(c.frames, 0, 7) << "  " << c.failure << '\n';
        return;
    }
    std::cout << fixed(c.frames, 0, 7) << fixed(c.rms, 3, 8) << fixed(c.fx, 2, 10) << fixed(c.fy, 2, 10)
              << fixed(c.cx, 2, 9) << fixed(c.cy, 2, 9) << fixed(c.k1, 4, 9) << fixed(c.k2, 4, 9) << '\n';
}

struct SizeMedians {
    double ours = NAN;
    double classic = NAN;
};

// Runs one frame size; returns our and findChessboardCorners' median times on
// the views with the board.
SizeMedians runSize(const Options& options, int width, int height) {
    const vp::Camera camera = vp::scaledCamera(width, height);
    const std::vector<vp::ViewPose> poses = vp::randomPoses(camera, options.views, options.seed);
    std::cout << "\n== " << width << "x" << height << ": " << poses.size() << " views, " << options.noBoard
              << " frames without the board, " << options.repeat << " runs per frame, threads "
              << cv::getNumThreads() << " ==\n";
    if (static_cast<int>(poses.size()) < options.views)
        std::cout << "  (only " << poses.size() << " poses could be placed)\n";

    const std::vector<Detector> boardDetectors =
        options.oursOnly ? std::vector<Detector>{Ours} : std::vector<Detector>{Ours, OursRefined, Classic, Sector};
    std::vector<Column> columns(DetectorCount);
    vp::PortableRandom imaging(options.seed * 31u + static_cast<uint32_t>(width));
    double tiltMax = 0.0;
    for (size_t v = 0; v < poses.size(); ++v) {
        vp::RenderOptions render;
        render.samples = 4;
        render.blurSigma = imaging.uniform(0.4, 1.0) * width / 640.0;
        render.noiseSigma = imaging.uniform(1.0, 3.0);
        render.noiseSeed = options.seed * 1000u + static_cast<uint32_t>(v);
        const vp::RenderedView view = vp::renderView(camera, poses[v], render);
        cv::Matx33d r;
        cv::Rodrigues(poses[v].rvec, r);
        tiltMax = std::max(tiltMax, std::acos(std::min(1.0, std::abs(r(2, 2)))) * 180.0 / CV_PI);

        const cv::Mat frame = toFrameImage(view.image);
        const auto truth = truthOf(view);
        std::string why;
        const auto detections = measureFrame(frame, boardDetectors, options.repeat, options.budgetMs, columns, why);
        for (Detector detector : boardDetectors) score(detector, detections[detector], truth, columns[detector]);
        if (options.verbose)
            std::cout << "  view " << v << ": ours " << fixed(lastOf(columns[Ours].frameMs), 3, 0) << " ms ("
                      << detections[Ours].image.size() << " points), findChessboardCorners+subpix "
                      << fixed(lastOf(columns[Classic].frameMs), 3, 0) << " ms, SB "
                      << fixed(lastOf(columns[Sector].frameMs), 3, 0) << " ms\n    ours by stage: "
                      << stageTimes(frame, options.repeat) << '\n';
        if (!detections[Ours].found) {
            if (options.verbose) std::cout << "  view " << v << ": ours gave up: " << explainOurs(frame);
        }
        if (options.verbose && !options.oursOnly && !detections[Classic].found)
            std::cout << "  view " << v << ": findChessboardCorners found no board\n";
        if (options.verbose && !options.oursOnly && !detections[Sector].found)
            std::cout << "  view " << v << ": findChessboardCornersSB found no board\n";
    }

    std::cout << "  views with the board (largest tilt " << fixed(tiltMax, 1, 0) << " deg):\n";
    std::cout << "  " << padded("detector", 34) << "  found  median ms    p90 ms  p90/med   rms px   max px"
              << "  time/ours\n";
    const double oursMedian = vb::median(columns[Ours].frameMs);
    for (Detector detector : boardDetectors) {
        const Column& c = columns[detector];
        const double med = vb::median(c.frameMs), p90 = vb::percentile(c.frameMs, 0.9);
        char found[32];
        std::snprintf(found, sizeof found, "%7s", (std::to_string(c.found) + "/" + std::to_string(poses.size())).c_str());
        std::cout << "  " << padded(kDetectorNames[detector], 34) << found
                  << fixed(med, 3, 11) << fixed(p90, 3, 10) << fixed(p90 / med, 2, 9) << fixed(c.error.rms(), 4, 9)
                  << fixed(c.error.maximum(), 4, 9) << ratio(med, oursMedian) << '\n';
    }
    {
        const Column& c = columns[Ours];
        std::cout << "  ours: " << c.corners << " correspondences in " << c.found << " frames, "
                  << c.labelErrors << " with a label other than the nearest true corner's\n";
    }

    // Frames without the board.
    const std::vector<Detector> emptyDetectors = options.oursOnly
                                                     ? std::vector<Detector>{Ours}
                                                     : std::vector<Detector>{Ours, Classic, ClassicFast, Sector};
    std::vector<Column> empty(DetectorCount);
    for (int i = 0; i < options.noBoard; ++i) {
        const cv::Mat frame = noBoardFrame(width, height, i, options.seed);
        std::string why;
        const auto detections = measureFrame(frame, emptyDetectors, options.repeat, options.budgetMs, empty, why);
        if (options.verbose && !empty[Ours].frameMs.empty())
            std::cout << "  no-board frame " << i << ": ours " << std::fixed << std::setprecision(3)
                      << empty[Ours].frameMs.back() << " ms\n";
        for (Detector detector : emptyDetectors) {
            if (!detections[detector].found) continue;
            ++empty[detector].found;
            if (options.verbose)
                std::cout << "  no-board frame " << i << ": " << kDetectorNames[detector] << " reported a board\n";
        }
    }
    if (options.noBoard > 0) {
        std::cout << "  frames without the board (found = frames where a board was reported; frame 6 is a plain\n"
                     "  checkerboard of the board's lattice, a fair find for the chessboard finders):\n";
        std::cout << "  " << padded("detector", 34) << "  found  median ms    p90 ms  time/ours\n";
        const double oursEmpty = vb::median(empty[Ours].frameMs);
        for (Detector detector : emptyDetectors) {
            const Column& c = empty[detector];
            const double med = vb::median(c.frameMs), p90 = vb::percentile(c.frameMs, 0.9);
            char found[32];
            std::snprintf(found, sizeof found, "%7s",
                          (std::to_string(c.found) + "/" + std::to_string(options.noBoard)).c_str());
            std::cout << "  " << padded(detector == Classic ? "findChessboardCorners default" : kDetectorNames[detector],
                                        34)
                      << found << fixed(med, 3, 11) << fixed(p90, 3, 10) << ratio(med, oursEmpty) << '\n';
        }
    }

    // Calibration from each detector's corners.
    std::cout << "  calibration (flags CALIB_FIX_K3; fx fy cx cy in pixels):\n";
    std::cout << "  " << padded("", 34) << " frames  rms px        fx        fy       cx       cy       k1       k2\n";
    std::cout << "  " << padded("truth", 34) << fixed(poses.size(), 0, 7) << fixed(NAN, 3, 8)
              << fixed(camera.fx, 2, 10) << fixed(camera.fy, 2, 10) << fixed(camera.cx, 2, 9)
              << fixed(camera.cy, 2, 9) << fixed(camera.k1, 4, 9) << fixed(camera.k2, 4, 9) << '\n';
    for (Detector detector : boardDetectors)
        printCalibrationRow(kDetectorNames[detector], calibrate(columns[detector], cv::Size(width, height)));

    return SizeMedians{oursMedian, vb::median(columns[Classic].frameMs)};
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"Times our grid extraction beside the vision library's chessboard finders on rendered views."};
    app.add_option("--views", options.views, "views with the board per frame size")->check(CLI::Range(1, 1000));
    app.add_option("--sizes", options.sizes, "frame sizes, WIDTHxHEIGHT")->delimiter(',');
    app.add_option("--no-board", options.noBoard, "frames without the board per frame size")
        ->check(CLI::Range(0, 1000));
    app.add_option("--repeat", options.repeat, "runs per frame and detector (the median counts)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--budget-ms", options.budgetMs,
                   "a detector stops repeating on a frame once its runs there took this long")
        ->check(CLI::Range(0.0, 1e6));
    app.add_flag("--verbose", options.verbose, "name the frames a detector missed and why ours gave up");
    app.add_flag("--ours-only", options.oursOnly, "time only our extraction (for profiling)");
    app.add_option("--clock", options.clock,
                   "cpu: the calling thread's CPU time; wall: elapsed time; auto: cpu with one thread")
        ->check(CLI::IsMember({"auto", "cpu", "wall"}));
    app.add_option("--threads", options.threads, "threads the vision library may use")->check(CLI::Range(1, 256));
    app.add_option("--seed", options.seed, "seed of the poses, blur and noise");
    CLI11_PARSE(app, argc, argv);

    std::vector<std::pair<int, int>> sizes;
    for (const std::string& text : options.sizes) {
        int w = 0, h = 0;
        if (!vb::parseSize(text, w, h)) {
            std::cerr << "compare_detectors: bad frame size '" << text
                      << "' (expected WIDTHxHEIGHT, each 16 .. 16384)\n";
            return 2;
        }
        sizes.emplace_back(w, h);
    }

    cv::setNumThreads(options.threads);
    gThreadClock = options.clock == "cpu" || (options.clock == "auto" && options.threads == 1);
    std::cout << "compare_detectors: threads " << cv::getNumThreads() << " (cv::setNumThreads(" << options.threads
              << ")), clock " << (gThreadClock ? "thread CPU time" : "wall") << ", OpenCV " << CV_VERSION << ", seed " << options.seed << "\n";
    std::cout << "times are per frame, the median of up to " << options.repeat
              << " interleaved runs (fewer once a detector's runs on the frame took " << options.budgetMs
              << " ms); ours includes allocating the record; findChessboardCorners uses"
                 " ADAPTIVE_THRESH|NORMALIZE_IMAGE then cornerSubPix 11x11; SB uses flags 0\n";

    double speedup = NAN;
    std::vector<std::string> ratioLines;
    try {
        for (const auto& [w, h] : sizes) {
            const SizeMedians m = runSize(options, w, h);
            if (w == 640 && h == 480 && std::isfinite(m.classic) && m.ours > 0.0) speedup = m.classic / m.ours;
            ratioLines.push_back(vb::timeRatioLine(w, h, m.ours, m.classic));
        }
    } catch (const std::exception& e) {
        std::cerr << "compare_detectors: " << e.what() << '\n';
        return 1;
    }
    std::cout << '\n';
    for (const std::string& line : ratioLines) std::cout << line << '\n';
    std::cout << vb::speedupLine(speedup) << std::endl;
    return 0;
}
