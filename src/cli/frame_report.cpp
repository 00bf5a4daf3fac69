#include "cli/frame_report.h"

#include <charconv>
#include <cmath>
#include <ostream>

#include "calibration/name_text.h"
#include "cli/json_text.h"
#include "geomlib/g_part.h"
#include "grid/extract_frame.h"

namespace vexel::cli {
namespace {

constexpr int REPORT_POINTS = 200;

std::vector<StagePolygon> polygonsOf(const g_part& part) {
    std::vector<StagePolygon> polygons;
    const g_container<g_element*>& elements = part.elements();
    polygons.reserve(elements.numberOfItems());
    for (uint32_t i = 0; i < elements.numberOfItems(); ++i) {
        const auto* element = static_cast<const GridElement*>(elements.item(i));
        StagePolygon polygon;
        const g_container<g_node*>& nodes = element->nodes();
        for (uint32_t k = 0; k < nodes.numberOfItems(); ++k) polygon.nodes.push_back(nodes.item(k)->getId() - 1);
        polygon.meanGrey = element->meanGrey;
        polygon.inGrid = element->inGrid;
        polygon.labelled = element->labelled;
        polygon.gridX = element->gridX;
        polygon.gridY = element->gridY;
        polygons.push_back(std::move(polygon));
    }
    return polygons;
}

int positionIn(const g_part& part, const GridElement* cell) {
    if (cell == nullptr) return -1;
    const g_container<g_element*>& elements = part.elements();
    for (uint32_t i = 0; i < elements.numberOfItems(); ++i)
        if (elements.item(i) == cell) return static_cast<int>(i);
    return -1;
}

nlohmann::ordered_json polygonJson(const StagePolygon& polygon, bool cell) {
    nlohmann::ordered_json entry;
    entry["nodes"] = polygon.nodes;
    entry["meanGrey"] = polygon.meanGrey;
    entry["inGrid"] = polygon.inGrid;
    if (cell) {
        entry["labelled"] = polygon.labelled;
        entry["gridX"] = polygon.gridX;
        entry["gridY"] = polygon.gridY;
    }
    return entry;
}

std::string formatDouble(double value) {
    if (std::isnan(value) || std::isinf(value)) return "null";  // JSON has no such numbers
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific);
    std::string text(digits, result.ptr);
    // text is [-]d[.ddd]e(+|-)xx
    const size_t e = text.find('e');
    const int exponent = std::stoi(text.substr(e + 1));
    std::string mantissa = text.substr(0, e);
    std::string sign;
    if (!mantissa.empty() && mantissa[0] == '-') {
        sign = "-";
        mantissa.erase(0, 1);
    }
    std::string significant;
    for (char c : mantissa)
        if (c != '.') significant += c;
    if (exponent < -4 || exponent >= 16) {
        std::string out = sign + significant.substr(0, 1);
        if (significant.size() > 1) out += "." + significant.substr(1);
        const int magnitude = exponent < 0 ? -exponent : exponent;
        out += exponent < 0 ? "e-" : "e+";
        if (magnitude < 10) out += '0';
        out += std::to_string(magnitude);
        return out;
    }
    if (exponent < 0) return sign + "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + significant;
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (significant.size() <= integerDigits)
        return sign + significant + std::string(integerDigits - significant.size(), '0') + ".0";
    return sign + significant.substr(0, integerDigits) + "." + significant.substr(integerDigits);
}

void formatValue(std::string& out, const nlohmann::ordered_json& value, int depth) {
    const std::string inner(static_cast<size_t>(depth + 1), ' ');
    const std::string outer(static_cast<size_t>(depth), ' ');
    if (value.is_object()) {
        if (value.empty()) {
            out += "{}";
            return;
        }
        out += "{\n";
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first) out += ",\n";
            first = false;
            out += inner + jsonText(nlohmann::ordered_json(it.key())) + ": ";
            formatValue(out, it.value(), depth + 1);
        }
        out += "\n" + outer + "}";
    } else if (value.is_array()) {
        if (value.empty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        bool first = true;
        for (const auto& item : value) {
            if (!first) out += ",\n";
            first = false;
            out += inner;
            formatValue(out, item, depth + 1);
        }
        out += "\n" + outer + "]";
    } else if (value.is_number_float()) {
        out += formatDouble(value.get<double>());
    } else {
        out += jsonText(value);
    }
}

}  // namespace

std::string formatJson(const nlohmann::ordered_json& value) {
    std::string out;
    formatValue(out, value, 0);
    return out;
}

FrameReport reportFrame(const std::string& imageName, const cv::Mat& image, std::ostream* diagnostics,
                        std::ostream* errors, const ExtractOptions& options) {
    FrameReport result;
    result.image = imageName;
    result.width = image.cols;
    result.height = image.rows;

    GridSet set;
    set.allocate(1, REPORT_POINTS);
    if (!set.hasFrame(0)) return result;
    ExtractTrace trace;
    extractFrame(set, 0, image, &trace, diagnostics, errors, options);

    result.corners = trace.corners;
    result.candidateCount = trace.candidateCount;
    result.rejected = trace.rejected;
    const FrameGrid& record = set.frames.front();
    if (record.trianglePart) result.triangles = polygonsOf(*record.trianglePart);
    if (record.gridPart) {
        result.cells = polygonsOf(*record.gridPart);
        for (size_t k = 0; k < trace.markers.size(); ++k) result.markers[k] = positionIn(*record.gridPart, trace.markers[k]);
    }
    const int count = set.getPointCount(0);
    for (int k = 0; k < count; ++k) {
        GridPoint imagePoint{}, patternPoint{};
        if (!set.getImagePoint(0, k, imagePoint) || !set.getPatternPoint(0, k, patternPoint)) break;
        result.correspondences.push_back({imagePoint.x, imagePoint.y, patternPoint.x, patternPoint.y});
    }
    return result;
}

nlohmann::ordered_json frameReportJson(const FrameReport& report) {
    nlohmann::ordered_json out;
    out["image"] = report.image;
    out["width"] = report.width;
    out["height"] = report.height;
    nlohmann::ordered_json corners = nlohmann::ordered_json::array();
    for (const GridPoint& c : report.corners)
        corners.push_back({static_cast<double>(c.x), static_cast<double>(c.y)});
    out["corners"] = std::move(corners);
    nlohmann::ordered_json triangles = nlohmann::ordered_json::array();
    for (const StagePolygon& t : report.triangles) triangles.push_back(polygonJson(t, false));
    out["triangles"] = std::move(triangles);
    out["candidateCount"] = report.candidateCount;
    nlohmann::ordered_json cells = nlohmann::ordered_json::array();
    for (const StagePolygon& c : report.cells) cells.push_back(polygonJson(c, true));
    out["cells"] = std::move(cells);
    nlohmann::ordered_json markers = nlohmann::ordered_json::array();
    for (int m : report.markers) markers.push_back(m < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(m));
    out["markers"] = std::move(markers);
    nlohmann::ordered_json correspondences = nlohmann::ordered_json::array();
    for (const auto& c : report.correspondences) {
        correspondences.push_back({static_cast<double>(c[0]), static_cast<double>(c[1]), static_cast<double>(c[2]),
                                   static_cast<double>(c[3])});
    }
    out["correspondences"] = std::move(correspondences);
    if (!report.rejected.empty()) out["rejected"] = report.rejected;
    return out;
}

void writeFrameSummary(std::ostream& out, const FrameReport& report) {
    int inGrid = 0;
    for (const StagePolygon& c : report.cells) inGrid += c.inGrid ? 1 : 0;
    int markers = 0;
    for (int m : report.markers) markers += m >= 0 ? 1 : 0;
    out << printableName(report.image) << ": " << report.width << " x " << report.height << " pixels\n"
        << "  corners:         " << report.corners.size() << "\n"
        << "  triangles:       " << report.triangles.size() << "\n"
        << "  candidate cells: " << report.candidateCount << "\n"
        << "  grid cells:      " << report.cells.size() << " (" << inGrid << " in the labelled window)\n"
        << "  markers:         " << markers << " of 3\n"
        << "  correspondences: " << report.correspondences.size() << "\n";
    if (!report.rejected.empty()) out << "  rejected:        " << report.rejected << "\n";
}

}  // namespace vexel::cli
