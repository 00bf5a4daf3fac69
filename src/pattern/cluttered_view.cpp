#include "pattern/cluttered_view.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "pattern/board.h"

namespace vexel::pattern {

RenderedView renderClutteredView(const Camera& camera, const ViewPose& pose, const RenderOptions& look) {
    const double marginCells = look.marginCells;
    PortableRandom random(look.noiseSeed);
    const int w = camera.width;
    const int h = camera.height;
    cv::Mat coarse(h / 40 + 2, w / 40 + 2, CV_32F);
    for (int r = 0; r < coarse.rows; ++r)
        for (int c = 0; c < coarse.cols; ++c) coarse.at<float>(r, c) = static_cast<float>(random.uniform(30, 230));
    cv::Mat clutter;
    cv::resize(coarse, clutter, cv::Size(w, h), 0, 0, cv::INTER_CUBIC);

    // Points along the sheet's edge, where shapes touch the board.
    std::vector<cv::Point2d> edge;
    const double x0 = kBoardMinX - marginCells;
    const double x1 = kBoardMaxX + marginCells;
    const double y0 = kBoardMinY - marginCells;
    const double y1 = kBoardMaxY + marginCells;
    for (int i = 0; i <= 40; ++i) {
        const double t = i / 40.0;
        const cv::Point2d along[4] = {{x0 + t * (x1 - x0), y0}, {x0 + t * (x1 - x0), y1},
                                      {x0, y0 + t * (y1 - y0)}, {x1, y0 + t * (y1 - y0)}};
        for (const cv::Point2d& p : along) {
            cv::Point2d image;
            if (projectPatternPoint(camera, pose, p.x, p.y, image)) edge.push_back(image);
        }
    }
    const double cellPixels = std::sqrt(boardAreaFraction(camera, pose) * w * h / (11.0 * 12.0));
    const int shapes = 90;
    for (int i = 0; i < shapes; ++i) {
        cv::Point2d centre;
        if (!edge.empty() && i % 3 != 0) {
            centre = edge[std::min(edge.size() - 1, static_cast<size_t>(random.uniform() * edge.size()))];
            centre += cv::Point2d(random.uniform(-0.7, 0.7), random.uniform(-0.7, 0.7)) * cellPixels;
        } else {
            centre = {random.uniform(0, w), random.uniform(0, h)};
        }
        const double size = random.uniform(0.3, 2.5) * cellPixels;
        const double grey = random.uniform() < 0.5 ? random.uniform(0, 60) : random.uniform(160, 255);
        const double angle = random.uniform(0, 180);
        const int kind = static_cast<int>(random.uniform() * 3);
        if (kind == 0) {
            cv::RotatedRect box(cv::Point2f(centre), cv::Size2f(size, size * random.uniform(0.4, 1.0)),
                                static_cast<float>(angle));
            cv::Point2f p[4];
            box.points(p);
            std::vector<cv::Point> q(p, p + 4);
            cv::fillConvexPoly(clutter, q, cv::Scalar(grey), cv::LINE_AA);
        } else if (kind == 1) {
            cv::ellipse(clutter, cv::Point(centre), cv::Size(size / 2, size * random.uniform(0.2, 0.5)), angle, 0,
                        360, cv::Scalar(grey), cv::FILLED, cv::LINE_AA);
        } else {
            std::vector<cv::Point> q;
            for (int k = 0; k < 4; ++k) {
                const double a = (k + random.uniform(-0.3, 0.3)) * std::numbers::pi / 2;
                q.emplace_back(centre + size * random.uniform(0.3, 0.8) * cv::Point2d(std::cos(a), std::sin(a)));
            }
            cv::fillConvexPoly(clutter, q, cv::Scalar(grey), cv::LINE_AA);
        }
    }

    cv::Mat1f grey = sheetOverScene(camera, pose, look, clutter);
    if (look.blurSigma > 0.0)
        cv::GaussianBlur(grey, grey, cv::Size(0, 0), look.blurSigma, look.blurSigma, cv::BORDER_REPLICATE);
    RenderedView view;
    view.image = toFrameBuffer(grey, look.noiseSigma, &random);
    view.corners = trueCorners(camera, pose);
    return view;
}

}  // namespace vexel::pattern
