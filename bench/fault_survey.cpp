// The survey of photographic faults: rendered views of the board with what
// users' own photographs bring (shadows, hands, glare, blur, exposure, small
// cells, JPEG, strong lens distortion), each with the truth of which corners
// can be seen, run through our extraction (plain and with --refine) and the
// vision library's two chessboard finders.
//
// Per kind of fault it prints, for each detector: the share of the visible
// corners labelled within 1 px of their truth, the points farther than 1 px
// from their truth (or with a wrong label: "wrong"), and the corner RMS of
// the labelled points; then the corner RMS of ours and of
// findChessboardCorners + cornerSubPix on the corners both label.

#include <CLI/CLI.hpp>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "compare_detectors_stats.h"
#include "found_corners.h"
#include "grid/extract_frame.h"
#include "grid/grid_set.h"
#include "pattern/board.h"
#include "pattern/photo_faults.h"
#include "pattern/renderer.h"

namespace {

namespace vp = vexel::pattern;
namespace vb = vexel::bench;
using vb::fixed;

const cv::Size kLattice(vp::kLastCornerX - vp::kFirstCornerX + 1, vp::kLastCornerY - vp::kFirstCornerY + 1);
constexpr int kMaxPoints = 200;
constexpr double kWrong = 1.0;  // pixels from the truth

enum Detector { Ours = 0, OursRefined, Classic, Sector, DetectorCount };
const char* const kDetectorNames[DetectorCount] = {"ours", "ours --refine", "fCC+subPix", "fCC SB"};

// A category of the survey: a kind of fault, or strong lens distortion
// (kind None on another camera).
struct Category {
    std::string name;
    vp::FaultKind kind;
    int views;
    bool barrel = false;
    bool onOrigin = false;  // the glare right on the origin marker, which it hides
};

std::vector<Category> defaultCategories() {
    using K = vp::FaultKind;
    return {{"none", K::None, 6},       {"shadow", K::Shadow, 8},   {"hand", K::Hand, 8},
            {"glare", K::Glare, 8},     {"motion", K::MotionBlur, 8}, {"defocus", K::Defocus, 6},
            {"overexposed", K::OverExposed, 6}, {"lowlight", K::LowLight, 6}, {"small", K::SmallBoard, 8},
            {"jpeg", K::Jpeg, 4},       {"barrel", K::None, 4, true}, {"origin", K::Glare, 6, false, true}};
}

struct Options {
    std::string size = "1920x1080";
    uint32_t seed = 11;
    std::vector<std::string> only;
    double scale = 1.0;  // views per category times this
    bool peers = true;
    double peerTimeout = 30.0;
    bool verbose = false;
    std::string writeDir;
};

struct Detection {
    bool found = false;
    bool timedOut = false;
    std::vector<cv::Point2f> image;
    std::vector<cv::Point2f> pattern;  // ours: the labels it gave
    double ms = 0.0;
};

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Detection runOurs(const cv::Mat& frame, bool refine) {
    Detection d;
    const double start = nowMs();
    GridSet set;
    set.allocate(1, kMaxPoints);
    ExtractOptions options;
    options.refineCorners = refine;
    extractFrame(set, 0, frame, nullptr, nullptr, nullptr, options);
    d.ms = nowMs() - start;
    d.found = set.getPointCount(0) > 0;
    vb::foundCorners(set, d.image, d.pattern);
    return d;
}

// Runs a chessboard finder in a child process, so that a call that takes
// minutes (findChessboardCorners on a board it cannot complete) ends after
// `timeout` seconds and counts as not found.
Detection runPeer(const cv::Mat& frame, Detector detector, double timeout) {
    Detection d;
    int fds[2];
    if (pipe(fds) != 0) return d;
    const double start = nowMs();
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        cv::setNumThreads(1);
        std::vector<cv::Point2f> corners;
        bool found = false;
        if (detector == Classic) {
            found = cv::findChessboardCorners(frame, kLattice, corners,
                                              cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE);
            if (found)
                cv::cornerSubPix(frame, corners, cv::Size(5, 5), cv::Size(-1, -1),
                                 cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.01));
        } else {
            found = cv::findChessboardCornersSB(frame, kLattice, corners, 0);
        }
        const int count = found ? static_cast<int>(corners.size()) : 0;
        bool ok = write(fds[1], &count, sizeof count) == sizeof count;
        if (ok && count > 0) {
            const size_t bytes = sizeof(cv::Point2f) * corners.size();
            ok = write(fds[1], corners.data(), bytes) == static_cast<ssize_t>(bytes);
        }
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return d;
    }
    pollfd waiting{fds[0], POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(timeout * 1000.0));
    if (ready <= 0) {
        kill(child, SIGKILL);
        d.timedOut = true;
    } else {
        int count = 0;
        if (read(fds[0], &count, sizeof count) == sizeof count && count > 0 && count <= 1000) {
            d.image.resize(static_cast<size_t>(count));
            size_t got = 0;
            const size_t bytes = sizeof(cv::Point2f) * d.image.size();
            while (got < bytes) {
                const ssize_t n = read(fds[0], reinterpret_cast<char*>(d.image.data()) + got, bytes - got);
                if (n <= 0) break;
                got += static_cast<size_t>(n);
            }
            d.found = got == bytes;
            if (!d.found) d.image.clear();
        }
    }
    close(fds[0]);
    waitpid(child, nullptr, 0);
    d.ms = nowMs() - start;
    return d;
}

// One detector's tally over the views of a category.
struct Tally {
    long visible = 0;       // visible corners of the views counted
    long labelled = 0;      // output points within kWrong of their truth, on visible corners
    long wrong = 0;         // output points farther, or with a wrong label
    vb::ErrorSum error;     // of the points within kWrong
    int found = 0;          // views with output
    int timedOut = 0;
    std::vector<double> ms;
};

struct CommonRms {
    vb::ErrorSum ours, oursRefined, classicForOurs, classicForRefined;
};

struct CategoryResult {
    int views = 0;
    int twoMarkerViews = 0;
    Tally all[DetectorCount];
    Tally twoMarkers[DetectorCount];
    CommonRms common;
};

// Scores a detection: per true corner index, its error (NaN: not labelled
// or wrong). Ours are matched by label, the finders (whose lattice order may
// come out in any orientation) by the nearest true corner.
std::vector<double> score(Detector detector, const Detection& d, const std::vector<vp::CornerTruth>& truth,
                          const std::vector<bool>& hidden, Tally& tally, Tally* second) {
    std::vector<double> errors(truth.size(), std::numeric_limits<double>::quiet_NaN());
    long visible = 0;
    for (bool h : hidden) visible += h ? 0 : 1;
    for (Tally* t : {&tally, second}) {
        if (t == nullptr) continue;
        t->visible += visible;
        t->ms.push_back(d.ms);
        t->found += d.found ? 1 : 0;
        t->timedOut += d.timedOut ? 1 : 0;
    }
    for (size_t i = 0; i < d.image.size(); ++i) {
        int index = -1;
        double distance = std::numeric_limits<double>::infinity();
        if (detector == Ours || detector == OursRefined) {
            for (size_t k = 0; k < truth.size(); ++k) {
                if (static_cast<float>(truth[k].patternX) == d.pattern[i].x &&
                    static_cast<float>(truth[k].patternY) == d.pattern[i].y) {
                    index = static_cast<int>(k);
                    distance = std::hypot(truth[k].imageX - d.image[i].x, truth[k].imageY - d.image[i].y);
                }
            }
        } else {
            for (size_t k = 0; k < truth.size(); ++k) {
                const double e = std::hypot(truth[k].imageX - d.image[i].x, truth[k].imageY - d.image[i].y);
                if (e < distance) {
                    distance = e;
                    index = static_cast<int>(k);
                }
            }
        }
        const bool wrong = index < 0 || !(distance <= kWrong);
        for (Tally* t : {&tally, second}) {
            if (t == nullptr) continue;
            if (wrong) {
                ++t->wrong;
                continue;
            }
            t->error.add(distance);
            if (!hidden[static_cast<size_t>(index)]) ++t->labelled;
        }
        if (!wrong) errors[static_cast<size_t>(index)] = distance;
    }
    return errors;
}

std::string percent(long part, long whole) {
    if (whole <= 0) return fixed(NAN, 1, 6);
    return fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1, 6);
}

std::string padded(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

vp::Camera cameraFor(int width, int height, bool barrel) {
    // The renderer's camera scaled to the frame; a wider lens with strong
    // barrel distortion for the distortion category.
    vp::Camera camera = vp::scaledCamera(width, height);
    if (barrel) {
        camera.fx *= 0.75;
        camera.fy *= 0.75;
        camera.k1 = -0.32;
        camera.k2 = 0.09;
    }
    return camera;
}

void printTable(const std::vector<Category>& categories, const std::vector<CategoryResult>& results,
                const std::vector<Detector>& detectors, bool twoMarkers) {
    std::cout << "  " << padded("kind", 12) << " views visible";
    for (Detector d : detectors) std::cout << " | " << padded(kDetectorNames[d], 24);
    std::cout << "\n  " << padded("", 12) << "              ";
    for (size_t i = 0; i < detectors.size(); ++i) std::cout << " |  label%  wrong   rms px ";
    std::cout << '\n';
    CategoryResult total;
    for (size_t c = 0; c <= categories.size(); ++c) {
        const bool last = c == categories.size();
        const CategoryResult& r = last ? total : results[c];
        if (!last) {
            total.views += r.views;
            total.twoMarkerViews += r.twoMarkerViews;
        }
        const int views = twoMarkers ? r.twoMarkerViews : r.views;
        std::cout << "  " << padded(last ? "all" : categories[c].name, 12) << fixed(views, 0, 6);
        std::cout << fixed(static_cast<double>((twoMarkers ? r.twoMarkers : r.all)[Ours].visible), 0, 8);
        for (Detector d : detectors) {
            const Tally& t = (twoMarkers ? r.twoMarkers : r.all)[d];
            std::cout << " | " << percent(t.labelled, t.visible) << "  " << fixed(static_cast<double>(t.wrong), 0, 5)
                      << fixed(t.error.rms(), 4, 8) << ' ';
            if (!last) {
                Tally& sum = (twoMarkers ? total.twoMarkers : total.all)[d];
                sum.visible += t.visible;
                sum.labelled += t.labelled;
                sum.wrong += t.wrong;
                sum.error.sumSquares += t.error.sumSquares;
                sum.error.count += t.error.count;
                sum.error.max = std::max(sum.error.max, t.error.max);
            }
        }
        std::cout << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"Survey of our extraction and the chessboard finders on rendered views with photographic faults."};
    app.add_option("--size", options.size, "frame size WIDTHxHEIGHT (default 1920x1080)");
    app.add_option("--seed", options.seed, "seed of the poses, faults and noise");
    app.add_option("--only", options.only, "only these categories")->delimiter(',');
    app.add_option("--scale", options.scale, "views per category times this")->check(CLI::Range(0.1, 20.0));
    app.add_flag("!--no-peers", options.peers, "run only our extraction");
    app.add_option("--peer-timeout", options.peerTimeout, "seconds after which a chessboard finder's call is ended")
        ->check(CLI::Range(1.0, 3600.0));
    app.add_flag("--verbose", options.verbose, "a line per view");
    app.add_option("--write", options.writeDir, "also write every view (PGM) and its truth to this folder");
    CLI11_PARSE(app, argc, argv);

    int width = 0, height = 0;
    if (!vb::parseSize(options.size, width, height)) {
        std::cerr << "fault_survey: bad frame size '" << options.size << "'\n";
        return 2;
    }
    std::vector<Category> categories;
    std::vector<uint32_t> seeds;  // per category, from its place in the full list
    const std::vector<Category> all = defaultCategories();
    for (size_t c = 0; c < all.size(); ++c) {
        if (!options.only.empty() && std::find(options.only.begin(), options.only.end(), all[c].name) == options.only.end())
            continue;
        Category scaled = all[c];
        scaled.views = std::max(1, static_cast<int>(std::lround(all[c].views * options.scale)));
        categories.push_back(scaled);
        seeds.push_back(options.seed * 7919u + static_cast<uint32_t>(c) * 104729u);
    }
    const std::vector<Detector> detectors = options.peers ? std::vector<Detector>{Ours, OursRefined, Classic, Sector}
                                                          : std::vector<Detector>{Ours, OursRefined};
    int totalViews = 0;
    for (const Category& c : categories) totalViews += c.views;
    std::cout << "fault_survey: " << totalViews << " views of " << width << "x" << height << ", seed " << options.seed
              << ", OpenCV " << CV_VERSION << "; a point is wrong when it lies more than " << kWrong
              << " px from its true corner (or carries another corner's label); label% is the share of the visible"
                 " corners labelled within that; rms over those points; chessboard finders' calls end after "
              << options.peerTimeout << " s\n";

    std::vector<CategoryResult> results(categories.size());
    for (size_t c = 0; c < categories.size(); ++c) {
        const Category& category = categories[c];
        const vp::Camera camera = cameraFor(width, height, category.barrel);
        const uint32_t seed = seeds[c];
        vp::PoseRange spread = vp::poseRangeFor(category.kind);
        if (category.barrel) spread.minFill = 0.5, spread.maxFill = 0.85;
        const std::vector<vp::ViewPose> poses = vp::randomPoses(camera, category.views, seed, spread);
        vp::PortableRandom draws(seed + 17u);
        CategoryResult& result = results[c];
        for (size_t v = 0; v < poses.size(); ++v) {
            vp::RenderOptions render;
            render.samples = 4;
            render.blurSigma = draws.uniform(0.7, 1.2) * width / 1920.0;
            render.noiseSigma = draws.uniform(1.5, 2.5);
            render.noiseSeed = seed * 31u + static_cast<uint32_t>(v);
            render.backdropSeed = seed + static_cast<uint32_t>(v) + 1u;
            vp::PhotoFaults faults = vp::drawFaults(category.kind, camera, poses[v], draws);
            if (category.onOrigin) {
                // A spot of glare on the origin marker's centre, (-0.5, 2.5).
                vp::projectPatternPoint(camera, poses[v], -0.5, 2.5, faults.glareCentre);
                faults.glareLength = 0.0;
            }
            const vp::FaultyView view = vp::renderFaultyView(camera, poses[v], render, faults);
            if (!options.writeDir.empty()) {
                const std::filesystem::path dir = std::filesystem::path(options.writeDir) / category.name;
                std::filesystem::create_directories(dir);
                const std::string file = vp::viewFileName(static_cast<int>(v), vp::ImageFormat::Pgm);
                cv::imwrite((dir / file).string(), view.view.image);
                std::string error;
                vp::writeTextFile((dir / (file + ".truth.json")).string(),
                                  vp::truthJson(camera, {file}, {poses[v]}), error);
                vp::writeTextFile((dir / (file + ".faults.json")).string(),
                                  vp::faultsJson({vp::faultRecord(file, category.kind, view)}), error);
            }

            ++result.views;
            const bool twoMarkers = view.visibleMarkers >= 2;
            result.twoMarkerViews += twoMarkers ? 1 : 0;
            std::vector<std::vector<double>> errors(DetectorCount);
            std::ostringstream line;
            for (Detector d : detectors) {
                const Detection detection = d == Ours || d == OursRefined
                                                ? runOurs(view.view.image, d == OursRefined)
                                                : runPeer(view.view.image, d, options.peerTimeout);
                errors[d] = score(d, detection, view.view.corners, view.hidden, result.all[d],
                                  twoMarkers ? &result.twoMarkers[d] : nullptr);
                long good = 0, wrong = 0;
                for (double e : errors[d]) good += std::isfinite(e) ? 1 : 0;
                wrong = static_cast<long>(detection.image.size()) - good;
                line << "  " << kDetectorNames[d] << " " << good << (wrong > 0 ? "+" + std::to_string(wrong) + "!" : "")
                     << (detection.timedOut ? " (timed out)" : "");
                if (wrong > 0 && options.verbose && (d == Ours || d == OursRefined)) {
                    // Name the wrong points: label, where they are, how far off.
                    for (size_t i = 0; i < detection.image.size(); ++i) {
                        for (const vp::CornerTruth& t : view.view.corners) {
                            if (static_cast<float>(t.patternX) != detection.pattern[i].x ||
                                static_cast<float>(t.patternY) != detection.pattern[i].y)
                                continue;
                            const double e = std::hypot(t.imageX - detection.image[i].x, t.imageY - detection.image[i].y);
                            if (e > kWrong)
                                line << " (" << t.patternX << "," << t.patternY << ")@" << fixed(detection.image[i].x, 1, 0)
                                     << "," << fixed(detection.image[i].y, 1, 0) << ":" << fixed(e, 2, 0);
                        }
                    }
                }
            }
            if (options.peers) {
                // Corner RMS on the corners that ours and the finder both label.
                for (size_t k = 0; k < view.view.corners.size(); ++k) {
                    const double classic = errors[Classic][k];
                    if (!std::isfinite(classic)) continue;
                    if (std::isfinite(errors[Ours][k])) {
                        result.common.ours.add(errors[Ours][k]);
                        result.common.classicForOurs.add(classic);
                    }
                    if (std::isfinite(errors[OursRefined][k])) {
                        result.common.oursRefined.add(errors[OursRefined][k]);
                        result.common.classicForRefined.add(classic);
                    }
                }
            }
            if (options.verbose) {
                long visible = 0;
                for (bool h : view.hidden) visible += h ? 0 : 1;
                std::cout << "  " << category.name << " view " << v << ": " << visible << " visible, "
                          << view.visibleMarkers << " markers;" << line.str() << std::endl;
            }
        }
    }

    std::cout << "\nall views:\n";
    printTable(categories, results, detectors, false);
    std::cout << "\nviews where two or more markers can be seen:\n";
    printTable(categories, results, detectors, true);
    if (options.peers) {
        std::cout << "\ncorner RMS (px) on the corners that ours and fCC+subPix both label:\n";
        std::cout << "  " << padded("kind", 12) << " corners     ours  fCC+subPix | corners  --refine  fCC+subPix\n";
        for (size_t c = 0; c < categories.size(); ++c) {
            const CommonRms& r = results[c].common;
            std::cout << "  " << padded(categories[c].name, 12) << fixed(static_cast<double>(r.ours.count), 0, 8)
                      << fixed(r.ours.rms(), 4, 9) << fixed(r.classicForOurs.rms(), 4, 12) << " |"
                      << fixed(static_cast<double>(r.oursRefined.count), 0, 8) << fixed(r.oursRefined.rms(), 4, 10)
                      << fixed(r.classicForRefined.rms(), 4, 12) << '\n';
        }
        std::cout << "\nmedian time per view (ms; the finders' include starting a process):\n";
        std::cout << "  " << padded("kind", 12);
        for (Detector d : detectors) std::cout << padded(kDetectorNames[d], 16);
        std::cout << " finders' timeouts\n";
        for (size_t c = 0; c < categories.size(); ++c) {
            std::cout << "  " << padded(categories[c].name, 12);
            for (Detector d : detectors) std::cout << padded(fixed(vb::median(results[c].all[d].ms), 1, 0), 16);
            std::cout << results[c].all[Classic].timedOut << " / " << results[c].all[Sector].timedOut << '\n';
        }
    }
    return 0;
}
