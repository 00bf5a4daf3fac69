// The frame view: display size of large frames, scrolling, the picture's
// colours and the grid overlay's placement.

#include "gui/gui_fixture.h"
#include "support/document_access.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <QScrollBar>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

#include <unistd.h>

#include "document/video_sequence.h"
#include "view/vexel_view.h"

using namespace vexel::test;

namespace {

class VexelViewTest : public ViewTest {
protected:
    // Whether a blue pixel lies within `radius` of viewport point p.
    bool blueNear(const QImage& image, QPoint p, int radius = 1) {
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx) {
                const QPoint q = p + QPoint(dx, dy);
                if (image.rect().contains(q) && isBlue(image.pixel(q))) return true;
            }
        return false;
    }
};

TEST_F(VexelViewTest, LargeFramesAreShownAt800x600WhileShrinking) {
    struct Case {
        int width, height;
        bool large;
    };
    for (const Case c : {Case{1024, 768, false}, Case{1025, 768, true}, Case{1024, 769, true}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        view->ReleaseBuffers();
        show(c.width, c.height);
        EXPECT_EQ(view->IsLargeImage(), c.large);
        // A large frame fits inside 800 x 600 with its aspect ratio kept.
        EXPECT_EQ(view->DisplayWidth(), c.large ? (c.width > 1024 ? 800 : 799) : c.width);
        EXPECT_EQ(view->DisplayHeight(), c.large ? (c.width > 1024 ? 599 : 600) : c.height);
    }
    // Without shrinking a large frame is shown at its own size.
    view->OnShrinkLargeImages();
    EXPECT_FALSE(view->ShrinkLargeImages());
    EXPECT_EQ(view->DisplayWidth(), 1024);
    EXPECT_EQ(view->DisplayHeight(), 769);
    EXPECT_EQ(view->ContentWidth(), 1024);
}

TEST_F(VexelViewTest, ShrunkPictureFillsExactly800x600) {
    show(1600, 1200, 90);
    const QImage image = grabImage(*view->viewport());
    ASSERT_EQ(view->ScrollX(), 0);
    ASSERT_GE(image.width(), 400);
    EXPECT_EQ(qRed(image.pixel(10, 10)), 90);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 800 - view->viewport()->width());
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 600 - view->viewport()->height());
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    // Scrolled to the far corner, the picture ends at the window's corner.
    const QImage end = grabImage(*view->viewport());
    const int w = view->viewport()->width(), h = view->viewport()->height();
    EXPECT_EQ(qRed(end.pixel(w - 1, h - 1)), 90);  // last picture pixel at the corner
}

TEST_F(VexelViewTest, ScrollStepsAndRangeFollowTheContent) {
    show(1600, 1200);
    view->OnShrinkLargeImages();  // 1600 x 1200 content in a smaller window
    QScrollBar* h = view->horizontalScrollBar();
    EXPECT_EQ(h->singleStep(), 1);
    EXPECT_EQ(h->pageStep(), 32);
    EXPECT_EQ(h->minimum(), 0);
    EXPECT_EQ(h->maximum(), 1600 - view->viewport()->width());
    h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(view->ScrollX(), 1);
    h->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(view->ScrollX(), 33);
    h->triggerAction(QAbstractSlider::SliderPageStepSub);
    h->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(view->ScrollX(), 0);

    // Content smaller than the window: nothing to scroll.
    view->ReleaseBuffers();
    view->SetContentSize(0, 0);
    show(100, 80);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->ScrollX(), 0);
    EXPECT_EQ(view->ScrollY(), 0);
}

TEST_F(VexelViewTest, TogglingShrinkReturnsBothScrollBarsToZero) {
    show(1600, 1200);
    for (int round = 0; round < 2; ++round) {
        view->horizontalScrollBar()->setValue(150);
        view->verticalScrollBar()->setValue(120);
        ASSERT_EQ(view->ScrollX(), 150);
        ASSERT_EQ(view->ScrollY(), 120);
        view->OnShrinkLargeImages();
        EXPECT_EQ(view->ScrollX(), 0);
        EXPECT_EQ(view->ScrollY(), 0);
        EXPECT_EQ(view->horizontalScrollBar()->value(), 0);
    }
}

TEST_F(VexelViewTest, GreyFrameIsDrawnGrey) {
    doc->SetFrameDecoder([](const std::string&) {
        cv::Mat image = makeFrameImage(7, 5);  // odd width: rows are padded
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) image.at<std::uint8_t>(y, x) = static_cast<std::uint8_t>(30 * x + 7 * y);
        return image;
    });
    doc->ImportImageFiles({"gradient"});
    doc->EnsureCurrentFrameLoaded();
    view->OnUpdate();
    const QImage image = grabImage(*view->viewport());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const QRgb p = image.pixel(x, y);
            EXPECT_EQ(qRed(p), 30 * x + 7 * y) << x << "," << y;
            EXPECT_EQ(qGreen(p), qRed(p));
            EXPECT_EQ(qBlue(p), qRed(p));
        }
}

TEST_F(VexelViewTest, ColourSequenceFramesKeepTheirColours) {
    // A 3 x 2 frame in blue-green-red order, 24 bits (9 bytes a row, so the
    // picture's rows need padding) and 32 bits (a fourth byte not shown).
    const TempDir dir("gui_view_colour");
    const std::string path = (dir / "colour.vsq").string();
    for (int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        const int bytes = bits / 8;
        {
            VideoSequence sequence;
            ASSERT_TRUE(sequence.Allocate(1, 3, 2, bits));
            std::uint8_t* frame = sequence.Frame(0);
            for (int i = 0; i < 6; ++i) {
                frame[bytes * i + 0] = static_cast<std::uint8_t>(10 + i);   // blue
                frame[bytes * i + 1] = static_cast<std::uint8_t>(100 + i);  // green
                frame[bytes * i + 2] = static_cast<std::uint8_t>(200 + i);  // red
                if (bytes == 4) frame[bytes * i + 3] = 0;
            }
            std::FILE* file = std::fopen(path.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            ASSERT_TRUE(sequence.Write(file));
            std::fclose(file);
        }
        ASSERT_TRUE(doc->ImportVsqFile(path));
        view->OnUpdate();
        ASSERT_EQ(view->Channels(), bytes);
        const QImage image = grabImage(*view->viewport());
        for (int i = 0; i < 6; ++i) {
            const QRgb p = image.pixel(i % 3, i / 3);
            EXPECT_EQ(qRed(p), 200 + i);
            EXPECT_EQ(qGreen(p), 100 + i);
            EXPECT_EQ(qBlue(p), 10 + i);
        }
    }
}

TEST_F(VexelViewTest, SmallerFrameAfterLargerOneKeepsTheBuffers) {
    show(1600, 1200);
    show(640, 480, 50);
    EXPECT_EQ(view->ImageWidth(), 640);
    EXPECT_EQ(view->ImageHeight(), 480);
    EXPECT_TRUE(view->HasBuffers());
    // The picture is drawn from the larger buffers and nothing reads past the frame.
    const QImage image = grabImage(*view->viewport());
    EXPECT_EQ(qRed(image.pixel(5, 5)), 50);

    // A frame that did not decode: zero sizes, no picture, buffers kept.
    doc->ImportImageFiles({"undecodable"});
    doc->GoToFrame(1);
    doc->EnsureCurrentFrameLoaded();
    view->OnUpdate();
    EXPECT_EQ(view->ImageWidth(), 0);
    EXPECT_TRUE(view->HasBuffers());
    const QImage empty = grabImage(*view->viewport());
    EXPECT_EQ(empty.pixel(5, 5), qRgb(255, 255, 255));
}

TEST_F(VexelViewTest, GridOverlayOutlinesCellsWhereTheMappingPutsThem) {
    show(1600, 1200, 200);
    // A cell near the origin and one whose corner is the frame's far corner.
    addCell(*doc, 0, {{100, 100}, {300, 100}, {300, 260}, {100, 260}});
    addCell(*doc, 0, {{1400, 1000}, {1600, 1000}, {1600, 1200}, {1400, 1200}});
    addCell(*doc, 0, {{500, 100}, {700, 100}, {700, 260}, {500, 260}}, /*inGrid=*/false);
    showGridOf(*doc) = true;
    view->resize(900, 700);
    QApplication::processEvents();

    // Shrunk: (x, y) goes to (x / 2, y / 2), truncated.
    ASSERT_TRUE(view->IsShrinking());
    EXPECT_EQ(view->MapImagePoint(1600, 1200), QPoint(800, 600));
    EXPECT_EQ(view->MapImagePoint(301, 261), QPoint(150, 130));
    QImage image = grabImage(*view->viewport());
    EXPECT_TRUE(blueNear(image, QPoint(50, 50)));     // corners
    EXPECT_TRUE(blueNear(image, QPoint(150, 130)));
    EXPECT_TRUE(blueNear(image, QPoint(100, 50)));    // top edge
    EXPECT_TRUE(blueNear(image, QPoint(50, 90)));     // closing edge back to the first corner
    EXPECT_FALSE(blueNear(image, QPoint(100, 90), 3));  // inside
    EXPECT_FALSE(blueNear(image, QPoint(300, 50), 3));  // the cell outside the grid
    EXPECT_TRUE(blueNear(image, QPoint(700, 550)));
    EXPECT_TRUE(blueNear(image, QPoint(799, 599)));  // the frame's far corner

    // Unshrunk and scrolled: (x, y) - scroll.
    view->OnShrinkLargeImages();
    view->horizontalScrollBar()->setValue(60);
    view->verticalScrollBar()->setValue(40);
    ASSERT_EQ(view->ScrollX(), 60);
    EXPECT_EQ(view->MapImagePoint(1600, 1200), QPoint(1540, 1160));
    image = grabImage(*view->viewport());
    EXPECT_TRUE(blueNear(image, QPoint(40, 60)));
    EXPECT_TRUE(blueNear(image, QPoint(240, 220)));
    EXPECT_TRUE(blueNear(image, QPoint(140, 60)));
    EXPECT_FALSE(blueNear(image, QPoint(50, 50), 3));  // where the shrunk corner was

    // Overlay off: no blue at all.
    showGridOf(*doc) = false;
    image = grabImage(*view->viewport());
    EXPECT_FALSE(blueNear(image, QPoint(40, 60), 3));
}

}  // namespace
