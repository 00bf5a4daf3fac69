#include "cli/svg_overlay.h"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <vector>

#include "calibration/calibration_residuals.h"
#include "calibration/name_text.h"
#include "pattern/image_encoding.h"

namespace vexel::cli {

std::string svgNumber(double value) {
    // A value no picture has (not finite, or beyond any coordinate) is
    // written as 0 rather than converted out of range.
    if (!std::isfinite(value) || std::abs(value) > 1e12) value = 0;
    char text[32];
    const long long hundredths = static_cast<long long>(value * 100.0 + (value < 0 ? -0.5 : 0.5));
    const long long whole = hundredths / 100;
    long long fraction = hundredths % 100;
    if (fraction < 0) fraction = -fraction;
    const bool negativeZero = hundredths < 0 && whole == 0;
    std::snprintf(text, sizeof text, "%s%lld.%02lld", negativeZero ? "-" : "", whole, fraction);
    return text;
}

std::string escapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {

std::string num(double value) { return svgNumber(value); }

// Pattern positions are whole cells; print them without decimals then.
std::string label(double value) {
    if (value == std::floor(value) && std::fabs(value) < 1e9) return std::to_string(static_cast<long long>(value));
    return num(value);
}

std::string points(const StagePolygon& polygon, const std::vector<GridPoint>& corners, bool& complete) {
    std::string text;
    complete = true;
    for (int node : polygon.nodes) {
        if (node < 0 || static_cast<size_t>(node) >= corners.size()) {
            complete = false;
            return {};
        }
        if (!text.empty()) text += ' ';
        text += num(corners[node].x) + "," + num(corners[node].y);
    }
    return text;
}

}  // namespace

std::string base64Encode(const unsigned char* data, size_t size) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < size; i += 3) {
        const unsigned v = (unsigned(data[i]) << 16) | (unsigned(data[i + 1]) << 8) | unsigned(data[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (i < size) {
        unsigned v = unsigned(data[i]) << 16;
        if (i + 1 < size) v |= unsigned(data[i + 1]) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < size ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

void writeSvgResiduals(std::ostream& out, const FrameResiduals& residuals, cv::Size imageSize) {
    const std::vector<FrameResiduals> one{residuals};
    const double scale = residualDrawingScale(one, imageSize);
    const double top = 2 * typicalLargeError(one);
    out << "<g id=\"residuals\" stroke-width=\"1.5\">\n"
        << "<title>residuals x " << svgNumber(scale) << ": RMS " << svgNumber(residuals.rms()) << " px</title>\n";
    for (std::size_t i = 0; i < residuals.detected.size(); ++i) {
        const cv::Point2f d = residuals.detected[i], r = residuals.reprojected[i], e = residuals.error(i);
        const auto c = residualColour(cv::norm(e), top);
        char colour[8];
        std::snprintf(colour, sizeof colour, "#%02x%02x%02x", c[0], c[1], c[2]);
        out << "<line x1=\"" << num(d.x) << "\" y1=\"" << num(d.y) << "\" x2=\"" << num(d.x + scale * e.x)
            << "\" y2=\"" << num(d.y + scale * e.y) << "\" stroke=\"" << colour << "\"/>"
            << "<circle cx=\"" << num(d.x) << "\" cy=\"" << num(d.y) << "\" r=\"1.5\" fill=\"#ffffff\" stroke=\"#000000\" "
               "stroke-width=\"0.5\"/>"
            << "<path d=\"M" << num(r.x - 2) << ' ' << num(r.y) << "h4M" << num(r.x) << ' ' << num(r.y - 2)
            << "v4\" stroke=\"#2878ff\" stroke-width=\"1\"/>\n";
    }
    for (int i : residuals.worst) {
        const cv::Point2f d = residuals.detected[static_cast<std::size_t>(i)];
        out << "<circle cx=\"" << num(d.x) << "\" cy=\"" << num(d.y) << "\" r=\"6\" fill=\"none\" stroke=\"#ff00c8\"/>"
            << "<text x=\"" << num(d.x + 8) << "\" y=\"" << num(d.y - 6) << "\" fill=\"#ff00c8\" font-family=\"sans-serif\" "
               "font-size=\"8\">"
            << svgNumber(cv::norm(residuals.error(static_cast<std::size_t>(i)))) << " px</text>\n";
    }
    out << "<text x=\"4\" y=\"" << imageSize.height - 6 << "\" fill=\"#000000\" stroke=\"#ffffff\" stroke-width=\"0.4\" "
        << "font-family=\"sans-serif\" font-size=\"11\">residuals x " << svgNumber(scale) << ", RMS "
        << svgNumber(residuals.rms()) << " px; dot: detected, cross: reprojected, ring: worst</text>\n</g>\n";
}

bool writeSvgOverlay(std::ostream& out, const cv::Mat& image, const FrameReport& report, std::string& error,
                     const FrameResiduals* residuals) {
    const std::string png = pattern::encodePng(image);
    if (png.empty()) {
        error = "cannot encode the frame as PNG";
        return false;
    }

    const std::vector<GridPoint>& corners = report.corners;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << image.cols << "\" height=\"" << image.rows
        << "\" viewBox=\"0 0 " << image.cols << ' ' << image.rows << "\">\n"
        << "<title>" << escapeXml(printableName(report.image)) << "</title>\n"
        << "<image x=\"0\" y=\"0\" width=\"" << image.cols << "\" height=\"" << image.rows
        << "\" href=\"data:image/png;base64," << base64Encode(reinterpret_cast<const unsigned char*>(png.data()), png.size()) << "\"/>\n";

    out << "<g id=\"triangles\" fill=\"none\" stroke=\"#3080ff\" stroke-width=\"0.5\" stroke-opacity=\"0.7\">\n";
    for (const StagePolygon& t : report.triangles) {
        bool complete = false;
        const std::string p = points(t, corners, complete);
        if (complete) out << "<polygon points=\"" << p << "\"/>\n";
    }
    out << "</g>\n";

    out << "<g id=\"cells\" fill=\"none\" stroke-width=\"1.2\">\n";
    for (const StagePolygon& c : report.cells) {
        bool complete = false;
        const std::string p = points(c, corners, complete);
        if (complete) out << "<polygon points=\"" << p << "\" stroke=\"" << (c.inGrid ? "#00d040" : "#f0c000") << "\"/>\n";
    }
    out << "</g>\n";

    out << "<g id=\"markers\" fill=\"#ff2020\" fill-opacity=\"0.35\" stroke=\"#ff2020\" stroke-width=\"1.5\">\n";
    for (size_t slot = 0; slot < report.markers.size(); ++slot) {
        const int m = report.markers[slot];
        if (m < 0 || static_cast<size_t>(m) >= report.cells.size()) continue;
        bool complete = false;
        const std::string p = points(report.cells[m], corners, complete);
        if (complete) out << "<polygon points=\"" << p << "\"><title>marker slot " << slot << "</title></polygon>\n";
    }
    out << "</g>\n";

    out << "<g id=\"corners\" fill=\"#ff3030\">\n";
    for (const GridPoint& c : corners) out << "<circle cx=\"" << num(c.x) << "\" cy=\"" << num(c.y) << "\" r=\"1.5\"/>\n";
    out << "</g>\n";

    out << "<g id=\"correspondences\" fill=\"#ffff60\" stroke=\"#000000\" stroke-width=\"0.25\" "
           "font-family=\"sans-serif\" font-size=\"6\">\n";
    for (const auto& c : report.correspondences) {
        out << "<text x=\"" << num(c[0] + 2.0) << "\" y=\"" << num(c[1] - 2.0) << "\">" << label(c[2]) << ","
            << label(c[3]) << "</text>\n";
    }
    out << "</g>\n";
    if (residuals) writeSvgResiduals(out, *residuals, cv::Size(image.cols, image.rows));
    out << "</svg>\n";
    return static_cast<bool>(out);
}

bool writeSvgOverlayFile(const std::string& path, const cv::Mat& image, const FrameReport& report,
                         std::string& error, const FrameResiduals* residuals, const vexel::OutputOptions& options) {
    std::ostringstream text;
    std::string why;
    if (!writeSvgOverlay(text, image, report, why, residuals)) {
        error = path + ": " + why;
        return false;
    }
    return vexel::writeOutputFile(path, text.str(), &error, options);
}

}  // namespace vexel::cli
