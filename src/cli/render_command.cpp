// vexel-cli render OUTDIR: synthetic views of the board with their truth.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>
#include <algorithm>

#include "cli/command_registry.h"
#include "pattern/photo_faults.h"
#include "pattern/renderer.h"

namespace vexel::cli {
namespace {

struct RenderArgs {
    std::string outputDir;
    int views = 10;
    std::string size = "640x480";
    uint32_t seed = 1;
    double fx = 0, fy = 0, cx = 0, cy = 0;
    double k1 = 0, k2 = 0, p1 = 0, p2 = 0;
    double k3 = 0, k4 = 0, k5 = 0, k6 = 0;
    double fisheye = 0;           // field of view across the width, degrees (0: perspective)
    std::vector<double> bend;     // cells along x (and y)
    int rimViews = 0;
    double blur = 0.0;
    double noise = 0.0;
    uint32_t backdrop = 0;
    std::string format = "pgm";
    std::string poses = "random";
    std::string fault;
    bool quiet = false;
    CLI::Option* optFx = nullptr;
    CLI::Option* optFy = nullptr;
    CLI::Option* optCx = nullptr;
    CLI::Option* optCy = nullptr;
    CLI::Option* optK1 = nullptr;
    CLI::Option* optK2 = nullptr;
    CLI::Option* optP1 = nullptr;
    CLI::Option* optP2 = nullptr;
};

// The sheet's bend from --bend X[,Y].
pattern::SheetBend bendOf(const std::vector<double>& cells) {
    pattern::SheetBend bend;
    if (!cells.empty()) bend.alongX = cells[0];
    if (cells.size() > 1) bend.alongY = cells[1];
    return bend;
}

bool parseSize(const std::string& text, int& width, int& height) {
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &tail) != 2) return false;
    return width >= 16 && height >= 16 && width <= 16384 && height <= 16384;
}

CommandRun setupRender(CLI::App& sub) {
    auto a = std::make_shared<RenderArgs>();
    sub.add_option("outdir", a->outputDir, "Output directory (created when missing)")->required();
    sub.add_option("--views", a->views, "Number of views")->check(CLI::Range(1, 10000));
    sub.add_option("--size", a->size, "Frame size WxH (default 640x480)");
    sub.add_option("--seed", a->seed, "Seed of the poses and the noise");
    a->optFx = sub.add_option("--fx", a->fx, "Focal length x in pixels");
    a->optFy = sub.add_option("--fy", a->fy, "Focal length y in pixels");
    a->optCx = sub.add_option("--cx", a->cx, "Principal point x");
    a->optCy = sub.add_option("--cy", a->cy, "Principal point y");
    a->optK1 = sub.add_option("--k1", a->k1, "Radial distortion k1");
    a->optK2 = sub.add_option("--k2", a->k2, "Radial distortion k2");
    a->optP1 = sub.add_option("--p1", a->p1, "Tangential distortion p1");
    a->optP2 = sub.add_option("--p2", a->p2, "Tangential distortion p2");
    sub.add_option("--k3", a->k3, "Radial distortion k3 (with --fisheye: the theta polynomial's k3)");
    sub.add_option("--k4", a->k4, "Rational denominator k4 (with --fisheye: the theta polynomial's k4)");
    sub.add_option("--k5", a->k5, "Rational denominator k5");
    sub.add_option("--k6", a->k6, "Rational denominator k6");
    sub.add_option("--fisheye", a->fisheye,
                   "An equidistant fisheye lens this many degrees across the frame's width (--k1 .. --k4 its theta "
                   "polynomial, 0 unless given)")
        ->check(CLI::Range(10.0, 270.0));
    sub.add_option("--bend", a->bend, "Bend the sheet: how far its middle stands out along x[,y], in cells")
        ->delimiter(',')
        ->expected(1, 2)
        ->type_name("X[,Y]");
    sub.add_option("--rim-views", a->rimViews,
                   "Of the views, this many towards the rim of the frame, the board often only partly inside")
        ->check(CLI::Range(0, 10000));
    sub.add_option("--blur", a->blur, "Gaussian blur sigma in pixels")->check(CLI::Range(0.0, 20.0));
    sub.add_option("--noise", a->noise, "Gaussian noise sigma in grey levels")->check(CLI::Range(0.0, 100.0));
    sub.add_option("--backdrop", a->backdrop,
                   "Seed of a busy scene behind the printed sheet (boxes, print, cables); 0: flat grey");
    sub.add_option("--format", a->format, "Image format")->check(CLI::IsMember({"jpg", "pgm"}));
    sub.add_option("--poses", a->poses,
                   "random: well spread (default); frontal: facing the camera in the middle of the frame; "
                   "corners: tilted by 30-50 degrees in the frame's corners")
        ->check(CLI::IsMember({"random", "frontal", "corners"}));
    std::vector<std::string> faultNames;
    for (pattern::FaultKind kind : pattern::allFaultKinds()) faultNames.emplace_back(pattern::faultKindName(kind));
    sub.add_option("--fault", a->fault,
                   "A photographic fault in every view, drawn per view: shadow, hand, glare, motion, defocus, "
                   "overexposed, lowlight, small, jpeg (or none); the hidden corners go to faults.json")
        ->check(CLI::IsMember(faultNames));
    sub.add_flag("-q,--quiet", a->quiet, "Nothing on standard output; errors only on standard error");
    sub.footer(R"(DESCRIPTION
  Renders synthetic views of the board seen by a known camera from random
  poses, with an image list views.iml and the true corners and camera in
  truth.json, for testing the extraction and the calibration end to end.
  Camera options left out keep the default camera, scaled to --size.
  --fisheye renders through an equidistant lens instead; --k3 .. --k6 add
  the higher radial terms of the perspective lens; --bend bends the sheet
  into a parabolic arch along each board axis; --rim-views places views
  towards the frame's rim, often with the board partly outside it.
  --fault puts a photographic fault into every view (its strength and place
  drawn per view: a cast shadow, a hand over the board, a glare, motion blur,
  defocus, over- or under-exposure, small cells, strong JPEG compression);
  faults.json then says per view which corners cannot be seen.

EXIT STATUS
  0 written; 2 bad arguments, a camera that cannot see the whole board, or
  the files could not be written.

EXAMPLES
  vexel-cli render views --views 20 --size 1280x960 --noise 1.5
  vexel-cli render cluttered --views 12 --backdrop 3 --blur 0.6 --noise 1.5
  vexel-cli render fisheye --size 1280x960 --fisheye 140 --views 16 --rim-views 8
  vexel-cli render bent --views 15 --bend 0.1
  vexel-cli render frontal --views 10 --poses frontal
  vexel-cli render shadows --views 8 --size 1920x1080 --backdrop 5 --fault shadow --format jpg
  vexel-cli render "test views" --k1 -0.2 --format jpg && vexel-cli calibrate "test views/views.iml")");

    return [a]() {
        pattern::Camera camera;
        int width = 0, height = 0;
        if (!parseSize(a->size, width, height)) {
            std::cerr << "vexel-cli render: --size \"" << a->size << "\" is not WxH with 16 .. 16384 pixels\n";
            return 2;
        }
        if (width != camera.width || height != camera.height) {
            // Other frame sizes keep the default camera's field of view.
            const double scale = static_cast<double>(width) / camera.width;
            camera.fx *= scale;
            camera.fy *= scale;
            camera.cx = width / 2.0;
            camera.cy = height / 2.0;
            camera.width = width;
            camera.height = height;
        }
        if (*a->optFx) camera.fx = a->fx;
        if (*a->optFy) camera.fy = a->fy;
        if (*a->optCx) camera.cx = a->cx;
        if (*a->optCy) camera.cy = a->cy;
        if (*a->optK1) camera.k1 = a->k1;
        if (*a->optK2) camera.k2 = a->k2;
        if (*a->optP1) camera.p1 = a->p1;
        if (*a->optP2) camera.p2 = a->p2;
        camera.k3 = a->k3;
        camera.k4 = a->k4;
        camera.k5 = a->k5;
        camera.k6 = a->k6;
        if (a->fisheye > 0) {
            pattern::Camera fisheye = pattern::equidistantCamera(width, height, a->fisheye, *a->optK1 ? a->k1 : 0.0,
                                                                 *a->optK2 ? a->k2 : 0.0, a->k3, a->k4);
            if (*a->optFx) fisheye.fx = a->fx;
            if (*a->optFy) fisheye.fy = a->fy;
            if (*a->optCx) fisheye.cx = a->cx;
            if (*a->optCy) fisheye.cy = a->cy;
            camera = fisheye;
        }
        if (!(camera.fx > 0.0) || !(camera.fy > 0.0)) {
            std::cerr << "vexel-cli render: focal lengths must be positive\n";
            return 2;
        }

        pattern::FaultKind fault = pattern::FaultKind::None;
        const bool faulty = !a->fault.empty() && pattern::faultKindFromName(a->fault, fault);
        pattern::PoseRange range = a->poses == "frontal"   ? pattern::frontalPoseRange()
                                   : a->poses == "corners" ? pattern::cornerPoseRange()
                                                           : pattern::PoseRange{};
        if (fault == pattern::FaultKind::SmallBoard) range = pattern::poseRangeFor(fault);
        const int rim = std::min(a->rimViews, a->views);
        std::vector<pattern::ViewPose> poses = pattern::randomPoses(camera, a->views - rim, a->seed, range);
        if (static_cast<int>(poses.size()) < a->views - rim) {
            std::cerr << "vexel-cli render: cannot place the whole board in the frame with this camera ("
                      << poses.size() << " of " << a->views - rim << " views)\n";
            return 2;
        }
        const std::vector<pattern::ViewPose> rimPoses = pattern::rimPoses(camera, rim, a->seed);
        if (static_cast<int>(rimPoses.size()) < rim) {
            std::cerr << "vexel-cli render: cannot place the board's markers towards the rim of the frame ("
                      << rimPoses.size() << " of " << rim << " views)\n";
            return 2;
        }
        poses.insert(poses.end(), rimPoses.begin(), rimPoses.end());
        for (pattern::ViewPose& pose : poses) pose.bend = bendOf(a->bend);
        pattern::RenderOptions options;
        options.blurSigma = a->blur;
        options.noiseSigma = a->noise;
        options.backdropSeed = a->backdrop;
        // The noise draws its own stream, apart from the poses'.
        options.noiseSeed = a->seed * 2654435761u + 12345u;
        const auto format = a->format == "jpg" ? pattern::ImageFormat::Jpeg : pattern::ImageFormat::Pgm;
        std::string error;
        bool written = false;
        if (!faulty) {
            written = pattern::writeRenderSet(a->outputDir, camera, poses, options, format, error);
        } else {
            // The faults draw a stream of their own too, so that a set with
            // faults shows the same poses as the set without.
            pattern::PortableRandom draws(a->seed * 40503u + 977u);
            std::vector<pattern::FaultRecord> records;
            const pattern::ViewRenderer render = [&](const pattern::ViewPose& pose, int index) {
                pattern::RenderOptions viewOptions = options;
                viewOptions.noiseSeed = options.noiseSeed + static_cast<uint32_t>(index);
                const pattern::PhotoFaults faults = pattern::drawFaults(fault, camera, pose, draws);
                pattern::FaultyView view = pattern::renderFaultyView(camera, pose, viewOptions, faults);
                records.push_back(pattern::faultRecord(pattern::viewFileName(index, format), fault, view));
                return std::move(view.view);
            };
            written = pattern::writeRenderSet(a->outputDir, camera, poses, render, format, error) &&
                      pattern::writeTextFile(a->outputDir + "/faults.json", pattern::faultsJson(records), error);
        }
        if (!written) {
            std::cerr << "vexel-cli render: " << error << "\n";
            return 2;
        }
        if (!a->quiet)
            std::cout << "wrote " << poses.size() << " views, views.iml" << (faulty ? ", faults.json" : "")
                      << " and truth.json to " << a->outputDir << "\n";
        return 0;
    };
}

const CommandRegistration registration("render", "Render synthetic views of the board with their true corners",
                                       setupRender);

}  // namespace
}  // namespace vexel::cli
