#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>
#include <unistd.h>

#include "pattern/board.h"
#include "pattern/renderer.h"
#include "support/temp_dir.h"

using namespace vexel::pattern;

namespace {

// Board centre on the optical axis, printed side towards the camera, pattern y up.
ViewPose frontalPose(double distance = 25.0) {
    return {cv::Vec3d(std::numbers::pi, 0, 0), cv::Vec3d(0.5, 0.0, distance)};
}

Camera cameraFrom(const nlohmann::json& c) {
    Camera camera;
    camera.width = c["width"];
    camera.height = c["height"];
    camera.fx = c["fx"];
    camera.fy = c["fy"];
    camera.cx = c["cx"];
    camera.cy = c["cy"];
    camera.k1 = c["distortion"][0];
    camera.k2 = c["distortion"][1];
    camera.p1 = c["distortion"][2];
    camera.p2 = c["distortion"][3];
    return camera;
}

nlohmann::json readJson(const std::filesystem::path& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

}  // namespace

TEST(Renderer, PortableRandomIsFixedBySeed) {
    PortableRandom a(42), b(42), c(43);
    double sum = 0.0, sumSquares = 0.0;
    for (int k = 0; k < 20000; ++k) {
        const double u = a.uniform();
        ASSERT_EQ(u, b.uniform());
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        const double g = a.normal();
        ASSERT_EQ(g, b.normal());
        sum += g;
        sumSquares += g * g;
    }
    EXPECT_NE(PortableRandom(42).uniform(), c.uniform());
    EXPECT_NEAR(sum / 20000, 0.0, 0.03);
    EXPECT_NEAR(sumSquares / 20000, 1.0, 0.05);
    // The first draw depends only on the engine's raw output.
    std::mt19937 engine(7);
    const uint64_t hi = engine() >> 5, lo = engine() >> 6;
    EXPECT_EQ(PortableRandom(7).uniform(), static_cast<double>((hi << 26) | lo) / 9007199254740992.0);
}

TEST(Renderer, DistortionRoundTripsAndInvalidInversionIsRefused) {
    Camera camera;
    for (double x = -0.6; x <= 0.6; x += 0.05) {
        for (double y = -0.45; y <= 0.45; y += 0.05) {
            cv::Point2d back;
            ASSERT_TRUE(undistortNormalised(camera, distortNormalised(camera, {x, y}), back));
            EXPECT_NEAR(back.x, x, 1e-12);
            EXPECT_NEAR(back.y, y, 1e-12);
        }
    }
    // Strong barrel distortion folds the image beyond some radius: such
    // points have no inverse on the visible branch.
    Camera folded;
    folded.k1 = -0.5;
    folded.k2 = 0.0;
    cv::Point2d out;
    EXPECT_FALSE(undistortNormalised(folded, {1.0, 0.0}, out));
}

TEST(Renderer, TrueCornersMatchOpenCvProjection) {
    Camera camera;
    camera.p1 = 0.002;
    camera.p2 = -0.001;
    const ViewPose pose{cv::Vec3d(2.6, 0.4, -0.3), cv::Vec3d(-0.7, 0.9, 24.0)};
    const std::vector<CornerTruth> corners = trueCorners(camera, pose);
    ASSERT_EQ(corners.size(), 110u);
    std::vector<cv::Point3d> object;
    for (const CornerTruth& c : corners) object.emplace_back(c.patternX, c.patternY, 0.0);
    std::vector<cv::Point2d> projected;
    cv::projectPoints(object, pose.rvec, pose.tvec, cv::Mat(camera.cameraMatrix()), cv::Mat(camera.distortion()),
                      projected);
    for (size_t k = 0; k < corners.size(); ++k) {
        EXPECT_NEAR(corners[k].imageX, projected[k].x, 1e-9);
        EXPECT_NEAR(corners[k].imageY, projected[k].y, 1e-9);
    }
    // Order: x fastest from -5 to 4, then y from -5 to 5.
    EXPECT_EQ(corners.front().patternX, -5);
    EXPECT_EQ(corners.front().patternY, -5);
    EXPECT_EQ(corners[1].patternX, -4);
    EXPECT_EQ(corners[10].patternY, -4);
    EXPECT_EQ(corners.back().patternX, 4);
    EXPECT_EQ(corners.back().patternY, 5);
}

TEST(Renderer, FrontalViewHasSharpXJunctionsAtTheTrueCorners) {
    Camera camera;
    const RenderedView view = renderView(camera, frontalPose());
    ASSERT_EQ(view.image.type(), CV_8UC1);
    ASSERT_EQ(view.image.size(), cv::Size(640, 480));
    EXPECT_EQ(view.image.step % 4, 0u);
    for (const CornerTruth& c : view.corners) {
        const int x = static_cast<int>(std::lround(c.imageX)), y = static_cast<int>(std::lround(c.imageY));
        // Image right is pattern +x, image down is pattern -y: the quadrant
        // down-right of corner (i, j) is cell (i + 1, j).
        const bool downRightBright = isBrightCell(c.patternX + 1, c.patternY);
        const int dr = view.image.at<uint8_t>(y + 3, x + 3), ul = view.image.at<uint8_t>(y - 3, x - 3);
        const int ur = view.image.at<uint8_t>(y - 3, x + 3), dl = view.image.at<uint8_t>(y + 3, x - 3);
        const int bright = 215, dark = 25;
        EXPECT_EQ(dr, downRightBright ? bright : dark) << c.patternX << "," << c.patternY;
        EXPECT_EQ(ul, dr);
        EXPECT_EQ(ur, downRightBright ? dark : bright);
        EXPECT_EQ(dl, ur);
    }
    // Spots and background where they belong: the origin marker (0, 3) is a
    // bright cell with a dark spot, beyond the sheet lies the background grey.
    cv::Point2d spot;
    ASSERT_TRUE(projectPatternPoint(camera, frontalPose(), -0.5, 2.5, spot));
    EXPECT_EQ(view.image.at<uint8_t>(static_cast<int>(std::lround(spot.y)), static_cast<int>(std::lround(spot.x))), 25);
    EXPECT_EQ(view.image.at<uint8_t>(2, 2), 110);
}

TEST(Renderer, PixelsAreTheExactAreaAverageOfTheBoard) {
    // Without distortion a frontal view maps pixels to axis-aligned
    // rectangles of the board, whose mean reflectance is known exactly. A
    // tenth of a pixel of edge displacement would be 19 grey levels; the
    // tolerance is the rounding to whole grey levels.
    Camera camera;
    camera.k1 = camera.k2 = camera.p1 = camera.p2 = 0.0;
    const double depth = 21.3;
    const RenderedView view = renderView(camera, frontalPose(depth));
    auto patternX = [&](double u) { return (u - camera.cx) * depth / camera.fx - 0.5; };
    auto patternY = [&](double v) { return -(v - camera.cy) * depth / camera.fy; };
    int edgePixels = 0;
    for (int row = 0; row < camera.height; ++row) {
        for (int col = 0; col < camera.width; ++col) {
            const double x0 = patternX(col - 0.5), x1 = patternX(col + 0.5);
            const double y0 = patternY(row + 0.5), y1 = patternY(row - 0.5);
            if (x0 < kBoardMinX + 0.01 || x1 > kBoardMaxX - 0.01 || y0 < kBoardMinY + 0.01 || y1 > kBoardMaxY - 0.01)
                continue;
            double bright = 0.0;
            bool nearSpot = false;
            for (int cy = cellLabelOf(y0); cy <= cellLabelOf(y1); ++cy) {
                for (int cx = cellLabelOf(x0); cx <= cellLabelOf(x1); ++cx) {
                    nearSpot = nearSpot || isMarkerCell(cx, cy);
                    const double w = std::min<double>(x1, cx) - std::max<double>(x0, cx - 1);
                    const double h = std::min<double>(y1, cy) - std::max<double>(y0, cy - 1);
                    if (w > 0 && h > 0 && isBrightCell(cx, cy)) bright += w * h;
                }
            }
            if (nearSpot) continue;
            const double fraction = bright / ((x1 - x0) * (y1 - y0));
            const double expected = 25.0 + 190.0 * fraction;
            edgePixels += fraction > 0.01 && fraction < 0.99 ? 1 : 0;
            ASSERT_NEAR(view.image.at<uint8_t>(row, col), expected, 0.5 + 1e-6) << col << "," << row;
        }
    }
    EXPECT_GT(edgePixels, 3000);
}

TEST(Renderer, GrazingViewWithTheHorizonInTheFrameRendersCleanly) {
    // The board plane seen almost edge-on: pixels near the horizon map to
    // huge or unbounded plane footprints, above it the rays miss the plane.
    Camera camera;
    const ViewPose grazing{cv::Vec3d(std::numbers::pi * 0.52, 0, 0), cv::Vec3d(0.5, 0.0, 8.0)};
    const RenderedView view = renderView(camera, grazing);
    int background = 0, bright = 0, dark = 0;
    for (int row = 0; row < camera.height; ++row) {
        for (int col = 0; col < camera.width; ++col) {
            const int v = view.image.at<uint8_t>(row, col);
            background += v == 110;
            bright += v == 215;
            dark += v == 25;
        }
    }
    EXPECT_GT(background, 1000);
    EXPECT_GT(bright, 1000);
    EXPECT_GT(dark, 1000);
    EXPECT_EQ(cellLabelOf(std::numeric_limits<double>::quiet_NaN()), -1000000);
    EXPECT_EQ(cellLabelOf(1e300), 1000001);
    EXPECT_EQ(cellLabelOf(-0.5), 0);
}

TEST(Renderer, DistortedTiltedViewsMatchDenseSamplingAroundTheCorners) {
    // Pixels around the corners against a dense, independent evaluation:
    // every sub-sample is mapped back through the camera model to the board
    // plane on its own. A tenth of a pixel of edge displacement would show
    // as some 19 grey levels in an edge pixel; the tolerance (2 levels, about
    // 0.01 pixel) covers rounding and the dense sampling's own error.
    Camera camera;
    const std::vector<ViewPose> poses = randomPoses(camera, 2, 11);
    ASSERT_EQ(poses.size(), 2u);
    const int n = 40;
    for (const ViewPose& pose : poses) {
        const RenderedView view = renderView(camera, pose);
        cv::Matx33d r;
        cv::Rodrigues(pose.rvec, r);
        const cv::Vec3d b = r.t() * pose.tvec;
        auto reflectanceSeenAt = [&](double u, double v) {
            cv::Point2d normalised;
            EXPECT_TRUE(undistortNormalised(camera, {(u - camera.cx) / camera.fx, (v - camera.cy) / camera.fy}, normalised));
            const cv::Vec3d a = r.t() * cv::Vec3d(normalised.x, normalised.y, 1.0);
            const double s = b[2] / a[2];
            return boardReflectance(s * a[0] - b[0], s * a[1] - b[1]);
        };
        for (size_t k = 0; k < view.corners.size(); k += 7) {
            const int cx = static_cast<int>(std::lround(view.corners[k].imageX));
            const int cy = static_cast<int>(std::lround(view.corners[k].imageY));
            for (int row = cy - 2; row <= cy + 1; ++row) {
                for (int col = cx - 2; col <= cx + 1; ++col) {
                    double sum = 0.0;
                    for (int j = 0; j < n; ++j)
                        for (int i = 0; i < n; ++i)
                            sum += reflectanceSeenAt(col - 0.5 + (i + 0.5) / n, row - 0.5 + (j + 0.5) / n);
                    const double expected = 25.0 + 190.0 * sum / (n * n);
                    ASSERT_NEAR(view.image.at<uint8_t>(row, col), expected, 2.0) << col << "," << row;
                }
            }
        }
    }
}

TEST(Renderer, MatchesTheReferenceFrames) {
    // The reference frames were made by an independent renderer of the same
    // board (dark 35, blur 0.6, noise 1.5): with the same camera, pose and
    // levels the difference is the noise alone.
    for (const std::string name : {"frontal", "tilted", "steep", "upside_down"}) {
        const auto base = std::filesystem::path(VEXEL_TEST_DATA_DIR) / "frames";
        const nlohmann::json truth = readJson(base / (name + ".truth.json"));
        const Camera camera = cameraFrom(truth["camera"]);
        ViewPose pose;
        for (int k = 0; k < 3; ++k) {
            pose.rvec[k] = truth["rvec"][k];
            pose.tvec[k] = truth["tvec"][k];
        }
        RenderOptions options;
        options.darkGrey = 35;
        options.blurSigma = 0.6;
        const RenderedView view = renderView(camera, pose, options);
        size_t k = 0;
        for (const auto& c : truth["corners"]) {
            ASSERT_EQ(view.corners[k].patternX, c[0].get<int>());
            ASSERT_EQ(view.corners[k].patternY, c[1].get<int>());
            EXPECT_NEAR(view.corners[k].imageX, c[2].get<double>(), 1e-9);
            EXPECT_NEAR(view.corners[k].imageY, c[3].get<double>(), 1e-9);
            ++k;
        }
        const cv::Mat reference = cv::imread((base / (name + ".pgm")).string(), cv::IMREAD_GRAYSCALE);
        ASSERT_EQ(reference.size(), view.image.size());
        cv::Mat diff;
        cv::absdiff(reference, view.image, diff);
        EXPECT_LT(cv::mean(diff)[0], 1.5) << name;
        EXPECT_EQ(cv::countNonZero(diff > 12), 0) << name;
    }
}

TEST(Renderer, RandomPosesAreSpreadAndKeepTheBoardInTheFrame) {
    Camera camera;
    const std::vector<ViewPose> poses = randomPoses(camera, 60, 3);
    ASSERT_EQ(poses.size(), 60u);
    double maxTilt = 0.0, minFill = 1.0, maxFill = 0.0;
    int steep = 0, upsideDown = 0;
    for (const ViewPose& pose : poses) {
        EXPECT_TRUE(boardInsideFrame(camera, pose, 0.5));
        cv::Matx33d r;
        cv::Rodrigues(pose.rvec, r);
        const cv::Vec3d normal = r * cv::Vec3d(0, 0, 1);
        const double tilt = std::acos(-normal[2]) * 180.0 / std::numbers::pi;  // printed side faces the camera
        maxTilt = std::max(maxTilt, tilt);
        steep += tilt > 35.0 ? 1 : 0;
        // Pattern y pointing down the image: the board is seen upside down.
        upsideDown += (r * cv::Vec3d(0, 1, 0))[1] > 0.0 ? 1 : 0;
        // Board area in the frame, from a fine grid of projected cells.
        double area = 0.0;
        const double step = 0.25;
        for (double x = kBoardMinX; x < kBoardMaxX - 1e-9; x += step) {
            for (double y = kBoardMinY; y < kBoardMaxY - 1e-9; y += step) {
                cv::Point2d a, b, c;
                ASSERT_TRUE(projectPatternPoint(camera, pose, x, y, a));
                ASSERT_TRUE(projectPatternPoint(camera, pose, x + step, y, b));
                ASSERT_TRUE(projectPatternPoint(camera, pose, x, y + step, c));
                area += std::abs((b - a).cross(c - a));
            }
        }
        const double fill = area / (camera.width * camera.height);
        EXPECT_NEAR(fill, boardAreaFraction(camera, pose), 1e-2 * fill);
        minFill = std::min(minFill, fill);
        maxFill = std::max(maxFill, fill);
    }
    EXPECT_LE(maxTilt, 50.0);
    EXPECT_GT(maxTilt, 40.0);
    EXPECT_GT(steep, 10);
    EXPECT_GT(upsideDown, 10);
    EXPECT_GE(minFill, 0.3 - 3e-3);
    EXPECT_LE(maxFill, 0.8 + 3e-3);
    EXPECT_LT(minFill, 0.35);
    EXPECT_GT(maxFill, 0.5);

    const std::vector<ViewPose> again = randomPoses(camera, 60, 3);
    for (size_t k = 0; k < poses.size(); ++k) {
        EXPECT_EQ(again[k].rvec, poses[k].rvec);
        EXPECT_EQ(again[k].tvec, poses[k].tvec);
    }
    EXPECT_NE(randomPoses(camera, 1, 4)[0].tvec, poses[0].tvec);
    EXPECT_TRUE(randomPoses(camera, 0, 3).empty());
}

TEST(Renderer, NoiseAndBlurAreDeterministicAndRejectBadInput) {
    Camera camera;
    camera.width = 321;  // odd width: rows padded to 324 bytes
    camera.height = 240;
    camera.fx = camera.fy = 350;
    camera.cx = 160;
    camera.cy = 120;
    const ViewPose pose = randomPoses(camera, 1, 9).at(0);
    RenderOptions options;
    options.blurSigma = 0.8;
    options.noiseSigma = 2.0;
    options.noiseSeed = 5;
    const RenderedView a = renderView(camera, pose, options);
    const RenderedView b = renderView(camera, pose, options);
    EXPECT_EQ(a.image.step, 324u);
    EXPECT_EQ(cv::norm(a.image, b.image, cv::NORM_INF), 0.0);
    options.noiseSeed = 6;
    const RenderedView c = renderView(camera, pose, options);
    EXPECT_GT(cv::norm(a.image, c.image, cv::NORM_INF), 0.0);
    options.noiseSigma = 0.0;
    const RenderedView clean = renderView(camera, pose, options);
    cv::Mat diff;
    cv::absdiff(a.image, clean.image, diff);
    EXPECT_NEAR(cv::mean(diff)[0], 2.0 * std::sqrt(2.0 / std::numbers::pi), 0.15);

    options.samples = 0;
    EXPECT_THROW(renderView(camera, pose, options), std::invalid_argument);
    options.samples = 4;
    options.blurSigma = -1;
    EXPECT_THROW(renderView(camera, pose, options), std::invalid_argument);
    Camera empty;
    empty.width = 0;
    EXPECT_THROW(renderView(empty, pose), std::invalid_argument);
}

TEST(Renderer, WritesARenderSetWithImagesListAndTruth) {
    Camera camera;
    const std::vector<ViewPose> poses = randomPoses(camera, 2, 21);
    const TempDir scratch("vexel_render");
    const auto dir = scratch / "set";
    RenderOptions options;
    options.noiseSigma = 1.0;
    options.noiseSeed = 100;
    std::string error;
    ASSERT_TRUE(writeRenderSet(dir.string(), camera, poses, options, ImageFormat::Pgm, error)) << error;

    std::ifstream list(dir / "views.iml");
    std::stringstream listText;
    listText << list.rdbuf();
    EXPECT_EQ(listText.str(), "view_000.pgm\nview_001.pgm\n");

    const nlohmann::json truth = readJson(dir / "truth.json");
    EXPECT_EQ(truth["camera"]["width"], 640);
    EXPECT_EQ(truth["camera"]["height"], 480);
    EXPECT_EQ(truth["camera"]["fx"], camera.fx);
    EXPECT_EQ(truth["camera"]["distortion"].size(), 4u);
    EXPECT_EQ(truth["camera"]["distortion"][2], camera.p1);
    ASSERT_EQ(truth["views"].size(), 2u);
    for (size_t v = 0; v < 2; ++v) {
        const auto& view = truth["views"][v];
        EXPECT_EQ(view["file"], viewFileName(static_cast<int>(v), ImageFormat::Pgm));
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(view["rvec"][k].get<double>(), poses[v].rvec[k]);  // shortest round-trip form
            EXPECT_EQ(view["tvec"][k].get<double>(), poses[v].tvec[k]);
        }
        const std::vector<CornerTruth> corners = trueCorners(camera, poses[v]);
        ASSERT_EQ(view["corners"].size(), 110u);
        for (size_t k = 0; k < corners.size(); ++k) {
            EXPECT_EQ(view["corners"][k][0], corners[k].patternX);
            EXPECT_EQ(view["corners"][k][2].get<double>(), corners[k].imageX);
        }
        // Each view's noise is seeded with the set's seed plus its index.
        RenderOptions viewOptions = options;
        viewOptions.noiseSeed = 100 + static_cast<uint32_t>(v);
        const cv::Mat written = cv::imread((dir / view["file"].get<std::string>()).string(), cv::IMREAD_UNCHANGED);
        EXPECT_EQ(cv::norm(written, renderView(camera, poses[v], viewOptions).image, cv::NORM_INF), 0.0);
    }

    ASSERT_TRUE(writeRenderSet(dir.string(), camera, poses, options, ImageFormat::Jpeg, error)) << error;
    EXPECT_EQ(cv::imread((dir / "view_001.jpg").string(), cv::IMREAD_GRAYSCALE).size(), cv::Size(640, 480));
    EXPECT_EQ(readJson(dir / "truth.json")["views"][1]["file"], "view_001.jpg");

    // A directory that cannot be made: the error names it.
    std::ofstream(dir / "plain_file") << "x";
    EXPECT_FALSE(writeRenderSet((dir / "plain_file" / "sub").string(), camera, poses, options, ImageFormat::Pgm, error));
    EXPECT_NE(error.find("plain_file"), std::string::npos);
}
