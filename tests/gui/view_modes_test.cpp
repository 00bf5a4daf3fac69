// The view's undistorted drawing and the coverage dots.

#include "gui/gui_fixture.h"
#include "support/document_access.h"
#include "support/grid_views.h"
#include "support/scripted_ui.h"

#include <QElapsedTimer>
#include <QPainter>

#include <cstdio>
#include <memory>

#include "calibration/undistort_maps.h"
#include "view/vexel_view.h"

using namespace vexel::test;

namespace {

// Frames named "texture" are diagonal stripes over a ramp, 320 x 240.
cv::Mat texturedFrame(const std::string& name) {
    if (name != "texture") return syntheticFrame(name);
    cv::Mat image = makeFrameImage(320, 240);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) image.at<uchar>(y, x) = static_cast<uchar>(((x + y) / 6 % 2) * 150 + x / 4);
    return image;
}

class ViewModesTest : public GuiTest {
protected:
    void SetUp() override {
        doc = std::make_unique<CVexelDoc>(&ui);
        doc->SetFrameDecoder(texturedFrame);
        ASSERT_TRUE(doc->ImportImageFiles({"texture"}));
        doc->EnsureCurrentFrameLoaded();
        view = std::make_unique<CVexelView>(doc.get());
        view->resize(400, 300);
        view->OnUpdate();
    }

    void calibrate(double k1, double k2 = 0) {
        calibrationOf(*doc) = std::make_unique<CalibrationRecord>();
        CalibrationRecord& r = *calibrationOf(*doc);
        r.setCamera(280, 280, 160, 120);
        r.distortion(0) = k1;
        r.distortion(1) = k2;
    }

    // The frame's picture as the view draws it (the report is left out),
    // once the undistorted picture asked for is ready.
    QImage picture() {
        QImage image(320, 240, QImage::Format_RGB32);
        for (int pass = 0; pass < 2; ++pass) {
            image.fill(Qt::white);
            std::unique_ptr<CalibrationRecord> record = std::move(calibrationOf(*doc));
            {
                QPainter painter(&image);
                calibrationOf(*doc) = std::move(record);
                view->Draw(painter);
            }
            if (!view->UndistortionPending()) break;
            QElapsedTimer clock;
            clock.start();
            while (view->UndistortionPending() && clock.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return image;
    }

    static double meanDifference(const QImage& a, const QImage& b, QRect area) {
        double sum = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
        return sum / (area.width() * area.height());
    }

    ScriptedUi ui;
    std::unique_ptr<CVexelDoc> doc;
    std::unique_ptr<CVexelView> view;
};

}  // namespace

TEST_F(ViewModesTest, UndistortedDrawingNeedsACalibrationAndRemovesItsDistortion) {
    const QImage original = picture();
    EXPECT_FALSE(view->OnUndistorted());  // no calibration yet
    EXPECT_FALSE(view->Undistorted());

    // No distortion: the same picture.
    calibrate(0);
    ASSERT_TRUE(view->OnUndistorted());
    EXPECT_TRUE(view->Undistorted());
    EXPECT_EQ(picture(), original);

    // Strong distortion: the picture changes most towards its corners.
    calibrate(-0.4, 0.1);
    const QImage undistorted = picture();
    const QRect corner(0, 0, 60, 40), centre(140, 100, 40, 40);
    EXPECT_GT(meanDifference(original, undistorted, corner), 20.0);
    EXPECT_LT(meanDifference(original, undistorted, centre), meanDifference(original, undistorted, corner) / 4);
    // Drawing again reuses the maps.
    const std::uint64_t builds = view->UndistortMapBuilds();
    picture();
    EXPECT_EQ(view->UndistortMapBuilds(), builds);

    // Switched off, or once the calibration is gone, the frame is as it is.
    ASSERT_TRUE(view->OnUndistorted());
    EXPECT_EQ(picture(), original);
    ASSERT_TRUE(view->OnUndistorted());
    calibrationOf(*doc).reset();
    EXPECT_EQ(picture(), original);
    EXPECT_FALSE(view->Undistorted());
}

TEST_F(ViewModesTest, CoverageDrawsTheCorrespondencesOfEveryFrameInUse) {
    ASSERT_TRUE(doc->ImportImageFiles({frameName(320, 240), frameName(640, 480)}));
    searchedFrames(gridsOf(*doc), 3, cv::Size(320, 240));
    gridsOf(*doc).frames[2].size = cv::Size(640, 480);
    const GridPoint points[3] = {{40, 30}, {250, 200}, {100, 150}};
    for (int f = 0; f < 3; ++f) {
        gridsOf(*doc).frames[f].pointCount = 1;
        gridsOf(*doc).frames[f].imagePoints[0] = points[f];
    }
    const QImage plain = picture();
    auto orange = [](QRgb p) { return qRed(p) > 200 && qGreen(p) > 80 && qGreen(p) < 170 && qBlue(p) < 60; };
    EXPECT_FALSE(orange(plain.pixel(40, 30)));

    view->OnCoverage();
    ASSERT_TRUE(view->Coverage());
    QImage dots = picture();
    EXPECT_TRUE(orange(dots.pixel(40, 30)));
    EXPECT_TRUE(orange(dots.pixel(250, 200)));
    // A frame of another size has its points in other pixels.
    EXPECT_FALSE(orange(dots.pixel(100, 150)));
    // Frames left out are not drawn.
    doc->SetFrameExcluded(1, true);
    dots = picture();
    EXPECT_FALSE(orange(dots.pixel(250, 200)));
    EXPECT_TRUE(orange(dots.pixel(40, 30)));

    // With the frame undistorted the dots move with it.
    calibrate(-0.4, 0.1);
    ASSERT_TRUE(view->OnUndistorted());
    dots = picture();
    std::vector<QPoint> moved = view->MapFramePoints({QPointF(40, 30)});
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_GT((moved[0] - QPoint(40, 30)).manhattanLength(), 5);
    EXPECT_TRUE(orange(dots.pixel(moved[0])));

    view->OnCoverage();
    EXPECT_FALSE(orange(picture().pixel(moved[0])));
}
