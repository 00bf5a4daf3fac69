// The calibration report beside the picture: its lines, font and the
// content size it asks for.

#include "gui/gui_fixture.h"
#include "support/document_access.h"
#include "support/scripted_ui.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <memory>

#include "calibration/calibration_report.h"
#include "view/report_drawing.h"
#include "view/vexel_view.h"

using namespace vexel::test;

namespace {

CalibrationRecord sampleRecord() {
    CalibrationRecord record;
    record.setCamera(701.25, 699.75, 320.5, 241.125);
    for (int i = 0; i < 9; ++i) record.rotation(i) = (i % 4 == 0) ? 1.0 : -0.015625 * i;
    record.translation(0) = -3.5;
    record.translation(1) = 2.25;
    record.translation(2) = 31.0;
    record.distortion(0) = -0.1875;
    return record;
}

// Rows of `image` between y0 and y1 that hold a dark pixel at x >= x0.
int inkedRows(const QImage& image, int x0, int y0, int y1) {
    int rows = 0;
    for (int y = std::max(0, y0); y < std::min(y1, image.height()); ++y)
        for (int x = x0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                ++rows;
                break;
            }
    return rows;
}

class CalibrationReportTest : public GuiTest {};

TEST_F(CalibrationReportTest, FontIsFixedPitchAndSixteenPixelsHigh) {
    const QFont font = CalibrationReportFont();
    EXPECT_EQ(font.pixelSize(), 16);
    EXPECT_TRUE(font.fixedPitch());
    EXPECT_TRUE(font.family() == "Courier New" || font.family() == "Liberation Mono") << font.family().toStdString();
    const QFontMetrics metrics(font);
    EXPECT_EQ(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("WWWW"));
}

TEST_F(CalibrationReportTest, DrawsFiveLinesOrElevenWithThePose) {
    const CalibrationRecord record = sampleRecord();
    const int lineHeight = QFontMetrics(CalibrationReportFont()).height();
    for (const bool extrinsic : {false, true}) {
        SCOPED_TRACE(extrinsic ? "extrinsic" : "intrinsic only");
        const std::vector<std::string> lines = calibrationReportLines(record, extrinsic);
        const int count = extrinsic ? 11 : 5;
        ASSERT_EQ(static_cast<int>(lines.size()), count);
        QImage image(900, 12 * lineHeight + 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        ReportExtent extent{0, 0};
        const int bottom = DrawReportLines(painter, 10, 5, lines, 0, extent);
        painter.end();
        EXPECT_EQ(bottom, 5 + count * lineHeight);
        EXPECT_EQ(extent.height, bottom);
        // The last line has ink; nothing is drawn below it.
        EXPECT_GT(inkedRows(image, 0, 5 + (count - 1) * lineHeight, bottom), 0);
        EXPECT_EQ(inkedRows(image, 0, bottom, image.height()), 0);
        EXPECT_EQ(inkedRows(image, 0, 0, 5), 0);
    }
}

TEST_F(CalibrationReportTest, ContentIsWidenedToImageWidthPlusWidestLine) {
    const std::vector<std::string> lines = calibrationReportLines(sampleRecord(), true);
    const QFontMetrics metrics(CalibrationReportFont());
    int widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(line)));
    QImage image(10, 10, QImage::Format_RGB32);
    QPainter painter(&image);
    // Narrower content is widened to exactly the sum; the height only grows.
    ReportExtent extent{50, 5000};
    DrawReportLines(painter, 0, 0, lines, 640, extent);
    EXPECT_EQ(extent.width, 640 + widest);
    EXPECT_EQ(extent.height, 5000);
    // The sum is the width also when the content was wider.
    extent = ReportExtent{4000, 0};
    DrawReportLines(painter, 0, 0, lines, 640, extent);
    EXPECT_EQ(extent.width, 640 + widest);
    EXPECT_EQ(extent.height, 11 * metrics.height());
}

TEST_F(CalibrationReportTest, ViewWritesTheReportRightOfThePictureAndThePoseOnTheReferenceFrame) {
    ScriptedUi ui;
    CVexelDoc doc(&ui);
    CVexelView view(&doc);
    view.resize(1000, 600);
    view.show();
    showSyntheticFrame(doc, 200, 120, 255);
    view.OnUpdate();
    const int lineHeight = QFontMetrics(CalibrationReportFont()).height();

    // No record: no report, the content is the picture.
    grabImage(*view.viewport());
    EXPECT_EQ(view.ContentWidth(), 200);
    EXPECT_EQ(view.ContentHeight(), 120);

    calibrationOf(doc) = std::make_unique<CalibrationRecord>(sampleRecord());
    referenceFrameOf(doc) = -1;
    QImage image = grabImage(*view.viewport());
    EXPECT_EQ(view.ContentHeight(), 120);  // five lines fit beside the picture
    EXPECT_GT(view.ContentWidth(), 200);
    EXPECT_GT(inkedRows(image, 200, 0, 5 * lineHeight), 0);
    EXPECT_EQ(inkedRows(image, 0, 5 * lineHeight, image.height()), 0);
    // The text starts at the picture's right edge.
    bool leftOfPicture = false;
    for (int y = 0; y < 5 * lineHeight; ++y)
        for (int x = 0; x < 200; ++x) leftOfPicture |= qGray(image.pixel(x, y)) < 128;
    EXPECT_FALSE(leftOfPicture);

    referenceFrameOf(doc) = doc.CurrentFrame();
    image = grabImage(*view.viewport());
    EXPECT_EQ(view.ContentHeight(), 11 * lineHeight);
    EXPECT_GT(inkedRows(image, 200, 10 * lineHeight, 11 * lineHeight), 0);
    EXPECT_EQ(inkedRows(image, 0, 11 * lineHeight, image.height()), 0);
}

}  // namespace
