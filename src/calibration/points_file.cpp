#include "calibration/points_file.h"

#include "calibration/calibration_views.h"
#include "calibration/fixed_format.h"
#include "calibration/output_file.h"
#include "grid/grid_set.h"

std::string formatCorrespondences(const GridSet& set, int frameCount) {
    std::string out;
    for (int frame = 0; frame < frameCount; ++frame) {
        out += "frame" + std::to_string(frame) + "\n";
        if (!frameHasView(set, frame)) continue;
        const int count = set.getPointCount(frame);
        for (int j = 0; j < count; ++j) {
            GridPoint image{}, pattern{};
            if (!set.getImagePoint(frame, j, image) || !set.getPatternPoint(frame, j, pattern)) break;
            vexel::appendFixed(out, pattern.x);
            out += ' ';
            vexel::appendFixed(out, pattern.y);
            out += ' ';
            vexel::appendFixed(out, image.x);
            out += ' ';
            vexel::appendFixed(out, image.y);
            out += '\n';
        }
    }
    out += '\n';
    return out;
}

bool CorrespondenceFileWriter(const GridSet& set, int frameCount, const std::string& path, std::string* error,
                              const vexel::OutputOptions& output) {
    return vexel::writeOutputFile(path, formatCorrespondences(set, frameCount), error, output);
}
