#include "cli/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "calibration/calibration_insight.h"
#include "calibration/calibration_quality.h"
#include "calibration/calibration_report.h"
#include "calibration/name_text.h"
#include "calibration/fixed_format.h"
#include "calibration/plot_axis.h"
#include "calibration/pose_scene.h"
#include "cli/svg_overlay.h"
#include "document/vexel_doc.h"
#include "pattern/image_encoding.h"

namespace vexel::cli {

namespace {

const char* const STYLE =
    "body{font-family:sans-serif;margin:2em;color:#202020;max-width:1100px}"
    "pre{background:#f4f4f4;padding:0.8em}svg{background:#fff;border:1px solid #ccc;margin:0.3em}"
    "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:0.2em 0.6em;text-align:right}"
    "td.name{text-align:left}tr.flagged{color:#c01010}.good{color:#1a8f2a}.short{color:#d06000}"
    "figure{display:inline-block;margin:0.5em}figcaption{font-size:90%;color:#505050}";

std::string esc(const std::string& text) { return escapeXml(text); }
std::string n(double value) { return svgNumber(value); }
std::string fixed(double value, int decimals) { return vexel::formatDecimals(value, decimals); }

std::string hexColour(const std::array<unsigned char, 3>& c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c[0], c[1], c[2]);
    return text;
}

std::string svgOpen(int width, int height, const std::string& label) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
           "\" font-family=\"sans-serif\" font-size=\"11\" role=\"img\" aria-label=\"" + esc(label) + "\">\n";
}

std::string text(double x, double y, const std::string& content, const std::string& extra = "") {
    return "<text x=\"" + n(x) + "\" y=\"" + n(y) + "\"" + (extra.empty() ? "" : " " + extra) + ">" + esc(content) +
           "</text>\n";
}

std::string polyline(const std::vector<cv::Point2d>& points, const std::string& style, bool closed = false) {
    std::string out = closed ? "<polygon points=\"" : "<polyline points=\"";
    for (const cv::Point2d& p : points) out += n(p.x) + "," + n(p.y) + " ";
    return out + "\" " + style + "/>\n";
}

std::string figure(const std::string& svg, const std::string& caption) {
    return "<figure>" + svg + "</svg><figcaption>" + esc(caption) + "</figcaption></figure>\n";
}

// Bars of the used frames' RMS errors, flagged ones red, and the mean.
std::string frameErrorChart(const CalibrationStats& stats, const std::vector<int>& flagged) {
    const int width = 640, height = 200, left = 46, right = 8, top = 14, bottom = 22;
    const std::size_t count = std::min(stats.frames.size(), stats.perViewErrors.size());
    double highest = 0, sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = std::isfinite(stats.perViewErrors[i]) ? stats.perViewErrors[i] : 0.0;
        highest = std::max(highest, v);
        sum += v;
    }
    const double mean = count ? sum / static_cast<double>(count) : 0.0;
    const double axisTop = vexel::roundAxisEnd(std::max(highest, mean) * 1.05);
    const double plotWidth = width - left - right, plotHeight = height - top - bottom;
    auto y = [&](double v) { return top + plotHeight * (1 - std::clamp(v / axisTop, 0.0, 1.0)); };
    std::string svg = svgOpen(width, height, "RMS reprojection error per frame");
    for (double v : {0.0, axisTop / 2, axisTop})
        svg += "<line x1=\"" + n(left) + "\" y1=\"" + n(y(v)) + "\" x2=\"" + n(width - right) + "\" y2=\"" + n(y(v)) +
               "\" stroke=\"#e0e0e0\"/>" + text(left - 4, y(v) + 4, fixed(v, 3), "text-anchor=\"end\"");
    for (std::size_t i = 0; i < count; ++i) {
        const double x0 = left + plotWidth * static_cast<double>(i) / static_cast<double>(count);
        const double w = std::max(1.0, plotWidth / static_cast<double>(count) * 0.8);
        const double v = std::isfinite(stats.perViewErrors[i]) ? stats.perViewErrors[i] : 0.0;
        const bool bad = std::find(flagged.begin(), flagged.end(), stats.frames[i]) != flagged.end();
        svg += "<rect x=\"" + n(x0) + "\" y=\"" + n(y(v)) + "\" width=\"" + n(w) + "\" height=\"" +
               n(top + plotHeight - y(v)) + "\" fill=\"" + (bad ? "#d21e1e" : "#4682b4") + "\"><title>frame " +
               std::to_string(stats.frames[i]) + ": " + fixed(v, 4) + " px</title></rect>\n";
    }
    svg += "<line x1=\"" + n(left) + "\" y1=\"" + n(y(mean)) + "\" x2=\"" + n(width - right) + "\" y2=\"" +
           n(y(mean)) + "\" stroke=\"#e68c00\" stroke-width=\"2\" stroke-dasharray=\"6 4\"/>" +
           text(width - right, top - 3, "mean " + fixed(mean, 3) + " px", "text-anchor=\"end\" fill=\"#a05a00\"") +
           text(2, top - 3, "RMS px");
    if (count > 0) {
        svg += text(left, height - 6, std::to_string(stats.frames.front()));
        svg += text(width - right, height - 6, std::to_string(stats.frames[count - 1]), "text-anchor=\"end\"");
    }
    return figure(svg, "RMS reprojection error of every frame used; red: far worse than the rest, dashed: the mean");
}

// Every residual vector as a dot, with a circle at the RMS error.
std::string residualScatter(const CalibrationInsight& insight) {
    const int size = 300, margin = 20;
    double largest = 0, squares = 0;
    int count = 0;
    for (const FrameResiduals& f : insight.residuals)
        for (std::size_t i = 0; i < f.detected.size(); ++i) {
            const cv::Point2f e = f.error(i);
            if (!std::isfinite(e.x) || !std::isfinite(e.y)) continue;
            largest = std::max({largest, double(std::abs(e.x)), double(std::abs(e.y))});
            squares += static_cast<double>(e.x) * e.x + static_cast<double>(e.y) * e.y;
            ++count;
        }
    const double range = vexel::roundAxisEnd(largest * 1.05);
    const double half = (size - 2 * margin) / 2.0, middle = size / 2.0;
    std::string svg = svgOpen(size, size, "residual vectors");
    svg += "<rect x=\"" + n(margin) + "\" y=\"" + n(margin) + "\" width=\"" + n(2 * half) + "\" height=\"" +
           n(2 * half) + "\" fill=\"none\" stroke=\"#000\"/>";
    svg += "<path d=\"M" + n(margin) + " " + n(middle) + "H" + n(size - margin) + "M" + n(middle) + " " + n(margin) +
           "V" + n(size - margin) + "\" stroke=\"#ddd\"/>\n<g fill=\"#4682b4\" fill-opacity=\"0.45\">";
    for (const FrameResiduals& f : insight.residuals)
        for (std::size_t i = 0; i < f.detected.size(); ++i) {
            const cv::Point2f e = f.error(i);
            if (!std::isfinite(e.x) || !std::isfinite(e.y)) continue;
            svg += "<circle cx=\"" + n(middle + e.x / range * half) + "\" cy=\"" + n(middle + e.y / range * half) +
                   "\" r=\"1.3\"/>";
        }
    const double rms = count ? std::sqrt(squares / count) : 0.0;
    svg += "</g>\n<circle cx=\"" + n(middle) + "\" cy=\"" + n(middle) + "\" r=\"" + n(rms / range * half) +
           "\" fill=\"none\" stroke=\"#14326e\" stroke-dasharray=\"4 3\"/>";
    svg += text(margin, margin - 6, "x, y error (px), RMS " + fixed(rms, 4)) +
           text(margin, size - 6, fixed(-range, 3)) + text(size - margin, size - 6, fixed(range, 3), "text-anchor=\"end\"");
    return figure(svg, "every residual vector (reprojected minus detected) of every frame used");
}

// Error length against distance from the principal point, with the mean
// per ring.
std::string residualRadial(const CalibrationInsight& insight) {
    const int width = 360, height = 300, left = 40, right = 10, top = 20, bottom = 24;
    double farthest = 0, longest = 0;
    for (const FrameResiduals& f : insight.residuals)
        for (std::size_t i = 0; i < f.detected.size(); ++i) {
            const double r = cv::norm(cv::Point2d(f.detected[i]) - insight.principalPoint);
            const double l = cv::norm(f.error(i));
            if (!std::isfinite(r) || !std::isfinite(l)) continue;
            farthest = std::max(farthest, r);
            longest = std::max(longest, l);
        }
    const double xEnd = vexel::roundAxisEnd(farthest), yEnd = vexel::roundAxisEnd(longest * 1.05);
    auto at = [&](double r, double l) {
        return cv::Point2d(left + (width - left - right) * r / xEnd, top + (height - top - bottom) * (1 - l / yEnd));
    };
    std::string svg = svgOpen(width, height, "error against distance from the principal point");
    svg += polyline({at(0, yEnd), at(0, 0), at(xEnd, 0)}, "fill=\"none\" stroke=\"#000\"");
    svg += "<g fill=\"#4682b4\" fill-opacity=\"0.45\">";
    for (const FrameResiduals& f : insight.residuals)
        for (std::size_t i = 0; i < f.detected.size(); ++i) {
            const cv::Point2d p = at(cv::norm(cv::Point2d(f.detected[i]) - insight.principalPoint), cv::norm(f.error(i)));
            if (std::isfinite(p.x) && std::isfinite(p.y))
                svg += "<circle cx=\"" + n(p.x) + "\" cy=\"" + n(p.y) + "\" r=\"1.3\"/>";
        }
    svg += "</g>\n";
    std::vector<cv::Point2d> trend;
    for (const RadialBin& bin : radialErrorProfile(insight.residuals, insight.principalPoint))
        trend.push_back(at(bin.radius, bin.meanError));
    svg += polyline(trend, "fill=\"none\" stroke=\"#e68c00\" stroke-width=\"2.5\"");
    svg += text(left - 4, top + 4, fixed(yEnd, 3), "text-anchor=\"end\"") +
           text(left - 4, height - bottom, "0", "text-anchor=\"end\"") +
           text(width - right, height - 6, fixed(xEnd, 0) + " px", "text-anchor=\"end\"") +
           text(left, top - 6, "error length (px) against distance from the principal point");
    return figure(svg, "a lens model that does not fit shows as a trend of the mean (orange)");
}

std::string poseFigure(const CalibrationInsight& insight, PoseCentre centre, int highlight) {
    const int width = 420, height = 320;
    const std::vector<ScenePolygon> scene = poseScene(insight, centre);
    const SceneViewer viewer(scene, centre, cv::Size(width, height));
    std::string svg = svgOpen(width, height, centre == PoseCentre::Camera ? "boards around the camera" : "cameras around the board");
    for (const ProjectedPolygon& p : projectScene(scene, viewer, highlight)) {
        const int frame = p.polygon->frame;
        std::string style;
        if (frame < 0)
            style = p.polygon->board ? "fill=\"#c8c8c8\" stroke=\"#505050\"" : "fill=\"none\" stroke=\"#505050\"";
        else if (frame == highlight)
            style = p.polygon->board ? "fill=\"#ff8c00\" stroke=\"#aa4600\"" : "fill=\"#ff8c00\" fill-opacity=\"0.25\" stroke=\"#aa4600\"";
        else
            style = p.polygon->board ? "fill=\"#78aadc\" fill-opacity=\"0.5\" stroke=\"#28508c\""
                                     : "fill=\"none\" stroke=\"#28508c\"";
        svg += "<g><title>" + (frame < 0 ? std::string(centre == PoseCentre::Camera ? "the camera" : "the board")
                                         : "frame " + std::to_string(frame)) +
               "</title>" + polyline(p.points, style, true) + "</g>";
    }
    return figure(svg, centre == PoseCentre::Camera
                           ? "camera-centred: every used frame's board in front of the camera"
                           : "board-centred: the camera of every used frame around the board");
}

// The uncertainty's colours (as a PNG) with the boards' outlines, labelled
// contour lines and, where it is high, the advice to put the board there.
std::string uncertaintyFigure(const CalibrationInsight& insight) {
    const UncertaintyMap& map = insight.uncertainty;
    const double scale = std::min(1.0, 640.0 / map.imageSize.width);
    const int width = std::max(2, static_cast<int>(std::lround(map.imageSize.width * scale)));
    const int height = std::max(2, static_cast<int>(std::lround(map.imageSize.height * scale)));
    cv::Mat colours(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto c = uncertaintyColour(uncertaintyShade(map.at((x + 0.5) / scale - 0.5, (y + 0.5) / scale - 0.5)));
            colours.at<cv::Vec3b>(y, x) = cv::Vec3b(c[2], c[1], c[0]);
        }
    const std::string png = pattern::encodePng(colours);
    std::string svg = svgOpen(width, height + 40, "projection uncertainty");
    svg += "<image x=\"0\" y=\"0\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
           "\" href=\"data:image/png;base64," + base64Encode(reinterpret_cast<const unsigned char*>(png.data()), png.size()) + "\"/>\n";
    auto scaled = [scale](std::vector<cv::Point2d> points) {
        for (cv::Point2d& p : points) p *= scale;
        return points;
    };
    svg += "<g id=\"boards\" fill=\"none\" stroke=\"#ffffff\" stroke-opacity=\"0.5\">";
    for (const FrameResiduals& f : insight.residuals) {
        if (f.detected.size() < 3) continue;
        std::vector<cv::Point2f> hull;
        cv::convexHull(f.detected, hull);
        std::vector<cv::Point2d> outline(hull.begin(), hull.end());
        svg += polyline(scaled(outline), "", true);
    }
    svg += "</g>\n<g id=\"contours\">";
    for (double level : contourLevels(map)) {
        for (const auto& line : contourLines(map, level)) {
            const std::vector<cv::Point2d> points = scaled(line);
            svg += polyline(points, "fill=\"none\" stroke=\"#ffffff\" stroke-width=\"1.5\"");
            if (points.size() < 4) continue;
            const cv::Point2d at = points[points.size() / 2];
            svg += text(at.x, at.y + 4, fixed(level, level < 0.1 ? 3 : 2) + " px",
                        "text-anchor=\"middle\" fill=\"#ffffff\" stroke=\"#000000\" stroke-width=\"3\" "
                        "paint-order=\"stroke\"");
        }
    }
    svg += "</g>\n<g id=\"advice\">";
    const cv::Point2d middle(width / 2.0, height / 2.0);
    for (const cv::Point2d& peak : highUncertaintyRegions(map)) {
        cv::Point2d at = peak * scale + (middle - peak * scale) * 0.12;
        const double boxWidth = 230, boxHeight = 18;
        at.x = std::clamp(at.x, boxWidth / 2 + 4, std::max(boxWidth / 2 + 4, width - boxWidth / 2 - 4));
        at.y = std::clamp(at.y, boxHeight / 2 + 4, std::max(boxHeight / 2 + 4, height - boxHeight / 2 - 4));
        svg += "<rect x=\"" + n(at.x - boxWidth / 2) + "\" y=\"" + n(at.y - boxHeight / 2) + "\" width=\"" + n(boxWidth) +
               "\" height=\"" + n(boxHeight) + "\" rx=\"4\" fill=\"#ffffff\" fill-opacity=\"0.9\" stroke=\"#ff2828\"/>" +
               text(at.x, at.y + 4, "add views that put the board here",
                    "text-anchor=\"middle\" fill=\"#be0000\" font-weight=\"bold\"");
    }
    svg += "</g>\n";
    // The colour scale under the picture.
    for (int i = 0; i < 20; ++i)
        svg += "<rect x=\"" + n(4 + 8 * i) + "\" y=\"" + n(height + 20) + "\" width=\"8\" height=\"10\" fill=\"" +
               hexColour(uncertaintyColour(i / 19.0)) + "\"/>";
    svg += text(172, height + 30,
                "colours from " + fixed(UNCERTAINTY_SCALE_LOW, 2) + " px to " + fixed(UNCERTAINTY_SCALE_HIGH, 0) +
                    " px and over; this map " + fixed(map.minimum(), 3) + " to " + fixed(map.maximum(), 3) + " px") +
           text(4, height + 14, "projection uncertainty at " + fixed(map.depth, 1) + " cells (white lines: the boards)");
    return figure(svg, "how far a projection may be off (one standard deviation, worst direction), from the full "
                       "covariance of the calibration");
}

}  // namespace

std::string calibrationReportHtml(CVexelDoc& doc, bool extrinsic) {
    const CalibrationStats& stats = doc.Stats();
    const std::vector<std::string> names = doc.FrameNames();
    std::string page = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head><meta "
                       "charset=\"utf-8\"/><title>Vexel calibration report</title><style>";
    page += STYLE;
    page += "</style></head>\n<body>\n<h1>Vexel calibration report</h1>\n";
    page += "<p>" + std::to_string(stats.frames.size()) + " of " + std::to_string(doc.FrameCount()) +
            " frames used (" + std::to_string(stats.imageSize.width) + " x " + std::to_string(stats.imageSize.height) +
            "), solver " + esc(stats.solver) + ", RMS reprojection error " + fixed(stats.rms, 4) + " px.</p>\n";

    page += "<section id=\"parameters\"><h2>Parameters</h2>\n<pre>";
    if (doc.Calibration()) {
        for (const std::string& line : fullReportLines(*doc.Calibration(), stats, extrinsic, doc.CellSizeMm()))
            page += esc(line) + "\n";
    }
    page += "</pre></section>\n";

    const std::vector<int> flagged = suspectFrames(stats);
    page += "<section id=\"warnings\"><h2>Warnings</h2>\n";
    if (stats.warnings.empty() && flagged.empty()) page += "<p>None.</p>\n";
    else {
        page += "<ul>\n";
        for (const std::string& warning : stats.warnings) page += "<li>" + esc(warning) + "</li>\n";
        for (int f : flagged)
            page += "<li>frame " + std::to_string(f) + " fits far worse than the rest (" + fixed(stats.frameError(f), 4) +
                    " px): a likely bad detection</li>\n";
        page += "</ul>\n";
    }
    page += "</section>\n";

    const CalibrationInsight* insight = stats.insight.get();
    page += "<section id=\"coverage\"><h2>Coverage and verdict</h2>\n";
    if (insight) {
        const std::vector<std::string> lines = insightLines(*insight);
        const bool marks[3] = {insight->verdict.imageGood, insight->verdict.tiltGood, insight->verdict.distanceGood};
        page += "<ul>\n";
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            const std::string cls = i < 3 ? (marks[i] ? " class=\"good\"" : " class=\"short\"") : "";
            page += "<li" + cls + ">" + esc(lines[i]) + "</li>\n";
        }
        page += "</ul>\n<p class=\"" + std::string(insight->verdict.good() ? "good" : "short") + "\"><b>" +
                esc(lines.back()) + "</b></p>\n";
    }
    page += "</section>\n";

    page += "<section id=\"frames\"><h2>Per-frame errors</h2>\n" + frameErrorChart(stats, flagged);
    page += "<table>\n<tr><th>frame</th><th>RMS (px)</th><th>points</th><th>name</th></tr>\n";
    for (std::size_t i = 0; i < stats.frames.size() && i < stats.perViewErrors.size(); ++i) {
        const int f = stats.frames[i];
        const bool bad = std::find(flagged.begin(), flagged.end(), f) != flagged.end();
        page += std::string(bad ? "<tr class=\"flagged\">" : "<tr>") + "<td>" + std::to_string(f) + "</td><td>" +
                fixed(stats.perViewErrors[i], 4) + "</td><td>" +
                std::to_string(i < stats.pointCounts.size() ? stats.pointCounts[i] : 0) + "</td><td class=\"name\">" +
                esc(printableName(static_cast<std::size_t>(f) < names.size() ? names[static_cast<std::size_t>(f)] : std::string())) +
                "</td></tr>\n";
    }
    page += "</table></section>\n";

    page += "<section id=\"residuals\"><h2>Residuals</h2>\n";
    if (insight) page += residualScatter(*insight) + residualRadial(*insight);
    page += "</section>\n<section id=\"poses\"><h2>Poses</h2>\n";
    if (insight) {
        const int highlight = stats.poseFrame;
        page += poseFigure(*insight, PoseCentre::Camera, highlight) + poseFigure(*insight, PoseCentre::Board, highlight);
    }
    page += "</section>\n<section id=\"uncertainty\"><h2>Projection uncertainty</h2>\n";
    if (insight && !insight->uncertainty.empty())
        page += uncertaintyFigure(*insight);
    else
        page += "<p>The projection uncertainty could not be worked out for this calibration.</p>\n";
    page += "</section>\n</body>\n</html>\n";
    return page;
}

bool writeCalibrationReport(const std::string& path, CVexelDoc& doc, bool extrinsic, std::string& error,
                            const vexel::OutputOptions& options) {
    return vexel::writeOutputFile(path, calibrationReportHtml(doc, extrinsic), &error, options);
}

}  // namespace vexel::cli
