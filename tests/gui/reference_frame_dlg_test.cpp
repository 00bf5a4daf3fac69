// "Select Reference Frame": the frames offered in order with their numbers
// and points, the given frame selected, the chosen frame on OK and -1 on
// Cancel.

#include "gui/gui_fixture.h"

#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "app/reference_frame_dlg.h"

using namespace vexel::test;

namespace {

class ReferenceFrameDlgTest : public GuiTest {
protected:
    // Frame 2 cannot be used and is not offered.
    const std::vector<ReferenceFrameChoice> frames = {{0, "/data/run/frame_000.pgm", 110},
                                                      {1, "/data/run/frame_001.pgm", 1},
                                                      {3, "/data/run/frame_003.pgm", -1},
                                                      {4, "/data/run/frame_004.pgm", 96}};

    // Shows the dialog modally with Choose and lets `act` answer it.
    int choose(int initial, const std::function<void(CReferenceFrameDlg*)>& act) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CReferenceFrameDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            act(dialog);
        });
        return CReferenceFrameDlg::Choose(frames, initial);
    }

    static QPushButton* button(CReferenceFrameDlg* dialog, const QString& text) {
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }
};

TEST_F(ReferenceFrameDlgTest, ListsTheFramesInOrderWithTheGivenFrameSelected) {
    CReferenceFrameDlg dialog(frames, 3);
    EXPECT_EQ(dialog.windowTitle(), "Select Reference Frame");
    QListWidget* list = dialog.ListBox();
    ASSERT_EQ(list->count(), 4);
    // Each row: number, file, points, then the folder; the tooltip has the path.
    EXPECT_EQ(list->item(0)->text(), QString::fromUtf8("0: frame_000.pgm, 110 points  \u2014  /data/run"));
    EXPECT_EQ(list->item(1)->text(), QString::fromUtf8("1: frame_001.pgm, 1 point  \u2014  /data/run"));
    EXPECT_EQ(list->item(2)->text(), QString::fromUtf8("3: frame_003.pgm, not searched yet  \u2014  /data/run"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(list->item(i)->toolTip().toStdString(), frames[static_cast<std::size_t>(i)].name);
    EXPECT_EQ(CReferenceFrameDlg::RowText({7, "/clip.vsq Frame 7", 20}),
              QString::fromUtf8("7: clip.vsq Frame 7, 20 points  \u2014  /"));
    EXPECT_EQ(CReferenceFrameDlg::RowText({0, "relative.pgm", 4}), "0: relative.pgm, 4 points");
    EXPECT_EQ(list->currentRow(), 2);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->row(list->selectedItems().front()), 2);
    ASSERT_NE(button(&dialog, "OK"), nullptr);
    EXPECT_TRUE(button(&dialog, "OK")->isDefault());
    ASSERT_NE(button(&dialog, "Cancel"), nullptr);
}

TEST_F(ReferenceFrameDlgTest, OkReturnsTheChosenFrameAndCancelMinusOne) {
    EXPECT_EQ(choose(1, [](CReferenceFrameDlg* d) { button(d, "OK")->click(); }), 1);
    EXPECT_EQ(choose(1,
                     [](CReferenceFrameDlg* d) {
                         d->ListBox()->setCurrentRow(3);
                         button(d, "OK")->click();
                     }),
              4);
    EXPECT_EQ(choose(1,
                     [](CReferenceFrameDlg* d) {
                         d->ListBox()->setCurrentRow(3);
                         button(d, "Cancel")->click();
                     }),
              -1);
    // Nothing selected (an initial frame not offered): OK gives -1.
    EXPECT_EQ(choose(2, [](CReferenceFrameDlg* d) { button(d, "OK")->click(); }), -1);
}

TEST_F(ReferenceFrameDlgTest, HorizontalScrollBarReachesTheEndOfTheLongestPath) {
    std::vector<ReferenceFrameChoice> longNames = {{0, "/short.pgm", 4},
                                                   {1, "/" + std::string(300, 'x') + "/very_long_frame_name.pgm", 4}};
    CReferenceFrameDlg dialog(longNames, 0);
    dialog.show();
    QApplication::processEvents();
    QListWidget* list = dialog.ListBox();
    const int textWidth = list->fontMetrics().horizontalAdvance(list->item(1)->text());
    QScrollBar* bar = list->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    // Scrolled to the end, the whole text width is covered.
    EXPECT_GE(bar->maximum() + list->viewport()->width(), textWidth);
    EXPECT_EQ(list->item(1)->toolTip().toStdString(), longNames[1].name);
}

}  // namespace
