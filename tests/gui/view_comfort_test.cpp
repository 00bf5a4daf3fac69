// Looking through a session: large frames shrunk with their aspect ratio,
// each frame at its own size, the report's room measured from the picture
// as drawn, the wheel, the frame and command keys, and crisp toolbar icons.

#include "gui/gui_fixture.h"
#include "support/document_access.h"
#include "support/scripted_ui.h"

#include <QAction>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>

#include <memory>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/vexel_app.h"
#include "calibration/calibration_report.h"
#include "view/report_drawing.h"
#include "view/vexel_view.h"

using namespace vexel::test;
namespace cmd = vexel::cmd;

namespace {

class ViewComfortTest : public ViewTest {
protected:
    // Turns the wheel by `notches` (positive: away from the user).
    void wheel(int notches, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QPointF at(50, 50);
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    }
};

TEST_F(ViewComfortTest, LargeFramesFitInside800x600WithTheirAspectRatio) {
    struct Case {
        int width, height, displayWidth, displayHeight;
    };
    for (const Case c : {Case{1600, 1200, 800, 600}, Case{2000, 1000, 800, 400}, Case{1000, 1500, 400, 600},
                         Case{1025, 768, 800, 599}, Case{1024, 768, 1024, 768}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        view->ReleaseBuffers();
        show(c.width, c.height);
        EXPECT_EQ(view->DisplayWidth(), c.displayWidth);
        EXPECT_EQ(view->DisplayHeight(), c.displayHeight);
        // The overlay follows the picture: the frame's far corner is the
        // picture's.
        EXPECT_EQ(view->MapImagePoint(c.width, c.height), QPoint(c.displayWidth, c.displayHeight));
    }
    // The 2000 x 1000 picture ends where its display size says.
    view->ReleaseBuffers();
    view->resize(900, 700);
    show(2000, 1000, 60);
    QApplication::processEvents();
    const QImage image = grabImage(*view->viewport());
    EXPECT_EQ(qRed(image.pixel(799, 399)), 60);
    EXPECT_EQ(image.pixel(10, 401), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(801, 10), qRgb(255, 255, 255));
}

TEST_F(ViewComfortTest, EachFrameIsShownAtItsOwnSize) {
    show(1600, 1200, 40);
    ASSERT_EQ(view->DisplayWidth(), 800);
    // A small frame after a large one is not enlarged, and the scroll range
    // shrinks with it.
    show(640, 480, 90);
    EXPECT_EQ(view->DisplayWidth(), 640);
    EXPECT_EQ(view->DisplayHeight(), 480);
    EXPECT_FALSE(view->IsLargeImage());
    EXPECT_EQ(view->ContentWidth(), 640);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 640 - view->viewport()->width());
    EXPECT_EQ(view->MapImagePoint(600, 400), QPoint(600, 400));
    view->resize(900, 700);
    QApplication::processEvents();
    const QImage image = grabImage(*view->viewport());
    EXPECT_EQ(qRed(image.pixel(639, 479)), 90);
    EXPECT_EQ(image.pixel(700, 10), qRgb(255, 255, 255));  // not stretched to the old 800
    // And back to the large one: shrunk again.
    show(1600, 1200);
    EXPECT_EQ(view->DisplayWidth(), 800);
}

TEST_F(ViewComfortTest, ReportRoomIsMeasuredFromThePictureAsDrawn) {
    show(1600, 1200);
    CalibrationRecord record;
    record.camera(0) = record.camera(4) = 700.0;
    calibrationOf(*doc) = std::make_unique<CalibrationRecord>(record);
    const std::vector<std::string> lines = view->ReportLines();
    const QFontMetrics metrics(CalibrationReportFont());
    int widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(line.c_str())));
    grabImage(*view->viewport());
    EXPECT_EQ(view->ContentWidth(), 800 + widest);  // not 1600 + widest
    view->OnShrinkLargeImages();
    grabImage(*view->viewport());
    EXPECT_EQ(view->ContentWidth(), 1600 + widest);
}

TEST_F(ViewComfortTest, WheelScrolls40PixelsANotch) {
    show(1600, 1200);
    view->OnShrinkLargeImages();  // 1600 x 1200 to scroll over
    wheel(-1);
    EXPECT_EQ(view->ScrollY(), 40);
    wheel(-2);
    EXPECT_EQ(view->ScrollY(), 120);
    wheel(1);
    EXPECT_EQ(view->ScrollY(), 80);
    wheel(-1, Qt::ShiftModifier);
    EXPECT_EQ(view->ScrollX(), 40);
    EXPECT_EQ(view->ScrollY(), 80);
    wheel(10);
    EXPECT_EQ(view->ScrollY(), 0);  // not past the top
}

class FrameKeysTest : public GuiTest {};

TEST_F(FrameKeysTest, ArrowAndPageKeysStepFramesAndFunctionKeysRunTheCommands) {
    CVexelApp app;
    const QString frontal = QStringLiteral(VEXEL_TEST_DATA_DIR "/frames/frontal.pgm");
    const QString steep = QStringLiteral(VEXEL_TEST_DATA_DIR "/frames/steep.pgm");
    ASSERT_TRUE(app.InitInstance({frontal, steep, frontal}, /*show=*/true));
    CMainFrame* frame = app.MainFrame();
    CVexelDoc* doc = app.Document();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    frame->View()->setFocus();

    const std::vector<std::pair<Qt::Key, int>> steps = {
        {Qt::Key_Right, 1}, {Qt::Key_PageDown, 2}, {Qt::Key_Right, 0}, {Qt::Key_Left, 2}, {Qt::Key_PageUp, 1}};
    for (const auto& [key, expected] : steps) {
        QTest::keyClick(frame->View(), key);
        EXPECT_EQ(doc->CurrentFrame(), expected) << QKeySequence(key).toString().toStdString();
    }
    // The view's own scrolling does not take the keys first.
    EXPECT_EQ(frame->View()->ScrollX(), 0);

    QTest::keyClick(frame->View(), Qt::Key_F5);
    EXPECT_EQ(doc->FramesNotExtracted(), 0);
    // The window is active again once the progress window has gone.
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    QTest::keyClick(frame->View(), Qt::Key_F6);
    EXPECT_TRUE(doc->Calibration());
    EXPECT_EQ(doc->Stats().frames.size(), 3u);
}

TEST_F(FrameKeysTest, ToolbarIconsHaveAPictureForDoubleDensityScreens) {
    CVexelApp app;
    ASSERT_TRUE(app.InitInstance({}, /*show=*/false));
    for (QAction* action : app.MainFrame()->ToolBar()->actions()) {
        if (action->isSeparator()) continue;
        const QPixmap sharp = action->icon().pixmap(QSize(16, 15), 2.0);
        EXPECT_EQ(sharp.devicePixelRatio(), 2.0) << action->text().toStdString();
        EXPECT_EQ(sharp.size(), QSize(32, 30)) << action->text().toStdString();
        // Drawn at that size, not scaled up: a one-pixel line stays one
        // device pixel wide, so some pixel differs from its neighbour in
        // each pair of columns.
        const QImage image = sharp.toImage();
        bool fine = false;
        for (int y = 0; y < image.height() && !fine; ++y)
            for (int x = 0; x + 1 < image.width(); x += 2) fine |= image.pixel(x, y) != image.pixel(x + 1, y);
        EXPECT_TRUE(fine) << action->text().toStdString();
    }
}

}  // namespace
