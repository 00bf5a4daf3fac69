#include "pattern/backdrop.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "pattern/renderer.h"

namespace vexel::pattern {

cv::Mat makeBackdrop(cv::Size size, uint32_t seed) {
    PortableRandom random(seed * 747796405u + 2891336453u);
    const int w = std::max(size.width, 1), h = std::max(size.height, 1);
    const double scale = std::sqrt(static_cast<double>(w) * h) / 550.0;

    // A wall lit from one side, with soft patches of light and shade.
    cv::Mat1f scene(h, w);
    const double slopeX = random.uniform(-60, 60), slopeY = random.uniform(-50, 50), base = random.uniform(90, 150);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            scene(y, x) = static_cast<float>(base + slopeX * (x - w / 2.0) / w + slopeY * (y - h / 2.0) / h);
    cv::Mat1f patches(h, w, 0.0f);
    for (int k = 0; k < 9; ++k) {
        const cv::Point centre(static_cast<int>(random.uniform(0, w)), static_cast<int>(random.uniform(0, h)));
        const cv::Size axes(static_cast<int>(random.uniform(40, 160) * scale), static_cast<int>(random.uniform(30, 120) * scale));
        cv::ellipse(patches, centre, axes, random.uniform(0, 180), 0, 360, cv::Scalar(random.uniform(-45, 45)),
                    cv::FILLED, cv::LINE_AA);
    }
    cv::GaussianBlur(patches, patches, cv::Size(0, 0), 25 * scale);
    scene += patches;

    // Boxes and books at angles, some with a label or a stripe.
    for (int k = 0; k < 22; ++k) {
        const cv::RotatedRect box(cv::Point2f(static_cast<float>(random.uniform(0, w)), static_cast<float>(random.uniform(0, h))),
                                  cv::Size2f(static_cast<float>(random.uniform(15, 110) * scale),
                                             static_cast<float>(random.uniform(10, 80) * scale)),
                                  static_cast<float>(random.uniform(-40, 40)));
        cv::Point2f corners[4];
        box.points(corners);
        std::vector<cv::Point> polygon(corners, corners + 4);
        const double grey = random.uniform() < 0.5 ? random.uniform(10, 80) : random.uniform(150, 245);
        cv::fillConvexPoly(scene, polygon, cv::Scalar(grey), cv::LINE_AA);
        if (random.uniform() < 0.4) {
            const cv::RotatedRect label(box.center, box.size * 0.45f, box.angle);
            label.points(corners);
            std::vector<cv::Point> inner(corners, corners + 4);
            cv::fillConvexPoly(scene, inner, cv::Scalar(255 - grey), cv::LINE_AA);
        }
    }
    // Cups, plates and plant pots.
    for (int k = 0; k < 9; ++k) {
        const cv::Point centre(static_cast<int>(random.uniform(0, w)), static_cast<int>(random.uniform(0, h)));
        const int radius = static_cast<int>(random.uniform(6, 40) * scale);
        cv::circle(scene, centre, radius, cv::Scalar(random.uniform(20, 235)), cv::FILLED, cv::LINE_AA);
        if (random.uniform() < 0.5)
            cv::circle(scene, centre, std::max(radius / 2, 1), cv::Scalar(random.uniform(20, 235)),
                       std::max(1, static_cast<int>(3 * scale)), cv::LINE_AA);
    }
    // Table edges and cables.
    for (int k = 0; k < 12; ++k) {
        const cv::Point a(static_cast<int>(random.uniform(-0.2, 1.2) * w), static_cast<int>(random.uniform(-0.2, 1.2) * h));
        const cv::Point b(static_cast<int>(random.uniform(-0.2, 1.2) * w), static_cast<int>(random.uniform(-0.2, 1.2) * h));
        cv::line(scene, a, b, cv::Scalar(random.uniform(0, 255)), std::max(1, static_cast<int>(random.uniform(1, 5) * scale)),
                 cv::LINE_AA);
    }
    // Lines of print on a poster or a screen.
    const char* const words[] = {"AGENDA 09:30", "total 1245.80", "do not remove", "shelf 3 / B", "RETURN BY FRIDAY",
                                 "x = 42", "lab notes", "QC passed"};
    for (int k = 0; k < 7; ++k) {
        const cv::Point at(static_cast<int>(random.uniform(0, 0.8) * w), static_cast<int>(random.uniform(0.05, 1.0) * h));
        const std::string text = words[static_cast<int>(random.uniform(0, 8)) % 8];
        cv::putText(scene, text, at, cv::FONT_HERSHEY_SIMPLEX, random.uniform(0.35, 0.9) * scale,
                    cv::Scalar(random.uniform() < 0.5 ? 20 : 235), std::max(1, static_cast<int>(std::lround(scale))),
                    cv::LINE_AA);
    }

    // Grain, then a slight defocus.
    cv::Mat1f grain(h, w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) grain(y, x) = static_cast<float>(random.normal() * 14.0);
    cv::GaussianBlur(grain, grain, cv::Size(0, 0), 1.2);
    scene += grain;
    cv::GaussianBlur(scene, scene, cv::Size(0, 0), 0.8 * scale);

    cv::Mat out;
    scene.convertTo(out, CV_8UC1);  // rounds and saturates
    return out;
}

}  // namespace vexel::pattern
