#pragma once
// The document's working set as the tests set it up by hand: a grid set, a
// calibration or a reference frame made directly instead of by the commands.

#include <memory>
#include <string>
#include <vector>

#include "document/vexel_doc.h"

struct DocumentTestAccess {
    static GridSet& grids(CVexelDoc& doc) { return doc.m_gridSet; }
    static std::unique_ptr<CalibrationRecord>& calibration(CVexelDoc& doc) { return doc.m_calibration; }
    static CalibrationStats& stats(CVexelDoc& doc) { return doc.m_calibrationStats; }
    static int& referenceFrame(CVexelDoc& doc) { return doc.m_referenceFrame; }
    static bool& showGrid(CVexelDoc& doc) { return doc.m_showGrid; }
    static bool& calibrationModified(CVexelDoc& doc) { return doc.m_calibrationModified; }
    static const std::vector<std::string>& frameNames(const CVexelDoc& doc) { return doc.m_frameNames; }
};

namespace vexel::test {

inline GridSet& gridsOf(CVexelDoc& doc) { return DocumentTestAccess::grids(doc); }
inline std::unique_ptr<CalibrationRecord>& calibrationOf(CVexelDoc& doc) { return DocumentTestAccess::calibration(doc); }
inline CalibrationStats& statsOf(CVexelDoc& doc) { return DocumentTestAccess::stats(doc); }
inline int& referenceFrameOf(CVexelDoc& doc) { return DocumentTestAccess::referenceFrame(doc); }
inline bool& showGridOf(CVexelDoc& doc) { return DocumentTestAccess::showGrid(doc); }
inline bool& calibrationModifiedOf(CVexelDoc& doc) { return DocumentTestAccess::calibrationModified(doc); }
// The image files' paths as imported (empty for a sequence).
inline const std::vector<std::string>& frameNamesOf(const CVexelDoc& doc) { return DocumentTestAccess::frameNames(doc); }

}  // namespace vexel::test

using vexel::test::calibrationModifiedOf;
using vexel::test::calibrationOf;
using vexel::test::frameNamesOf;
using vexel::test::gridsOf;
using vexel::test::referenceFrameOf;
using vexel::test::showGridOf;
using vexel::test::statsOf;
