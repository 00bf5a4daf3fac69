// "Select Reference Frame": the frame names in order, the current frame
// selected, the chosen row on OK and -1 on Cancel.

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
    const std::vector<std::string> names = {"/data/run/frame_000.pgm", "/data/run/frame_001.pgm",
                                            "/data/run/frame_002.pgm", "/data/run/frame_003.pgm"};

    // Shows the dialog modally with Choose and lets `act` answer it.
    int choose(int initial, const std::function<void(CReferenceFrameDlg*)>& act) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CReferenceFrameDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            act(dialog);
        });
        return CReferenceFrameDlg::Choose(names, initial);
    }

    static QPushButton* button(CReferenceFrameDlg* dialog, const QString& text) {
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }
};

TEST_F(ReferenceFrameDlgTest, ListsTheNamesInOrderWithTheCurrentFrameSelected) {
    CReferenceFrameDlg dialog(names, 2);
    EXPECT_EQ(dialog.windowTitle(), "Select Reference Frame");
    QListWidget* list = dialog.ListBox();
    ASSERT_EQ(list->count(), 4);
    // Each row names the file first, then its folder; the tooltip has the path.
    EXPECT_EQ(list->item(1)->text(), QString::fromUtf8("frame_001.pgm  \u2014  /data/run"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(list->item(i)->toolTip().toStdString(), names[static_cast<std::size_t>(i)]);
    EXPECT_EQ(CReferenceFrameDlg::RowText("/clip.vsq Frame 3"), QString::fromUtf8("clip.vsq Frame 3  \u2014  /"));
    EXPECT_EQ(CReferenceFrameDlg::RowText("relative.pgm"), "relative.pgm");
    EXPECT_EQ(list->currentRow(), 2);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->row(list->selectedItems().front()), 2);
    ASSERT_NE(button(&dialog, "OK"), nullptr);
    EXPECT_TRUE(button(&dialog, "OK")->isDefault());
    ASSERT_NE(button(&dialog, "Cancel"), nullptr);
}

TEST_F(ReferenceFrameDlgTest, OkReturnsTheChosenRowAndCancelMinusOne) {
    EXPECT_EQ(choose(1, [](CReferenceFrameDlg* d) { button(d, "OK")->click(); }), 1);
    EXPECT_EQ(choose(1,
                     [](CReferenceFrameDlg* d) {
                         d->ListBox()->setCurrentRow(3);
                         button(d, "OK")->click();
                     }),
              3);
    EXPECT_EQ(choose(1,
                     [](CReferenceFrameDlg* d) {
                         d->ListBox()->setCurrentRow(3);
                         button(d, "Cancel")->click();
                     }),
              -1);
    // Nothing selected (an initial index outside the list): OK gives -1.
    EXPECT_EQ(choose(-1, [](CReferenceFrameDlg* d) { button(d, "OK")->click(); }), -1);
}

TEST_F(ReferenceFrameDlgTest, HorizontalScrollBarReachesTheEndOfTheLongestPath) {
    std::vector<std::string> longNames = {"/short.pgm", "/" + std::string(300, 'x') + "/very_long_frame_name.pgm"};
    CReferenceFrameDlg dialog(longNames, 0);
    dialog.show();
    QApplication::processEvents();
    QListWidget* list = dialog.ListBox();
    const int textWidth = list->fontMetrics().horizontalAdvance(list->item(1)->text());
    QScrollBar* bar = list->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    // Scrolled to the end, the whole text width is covered.
    EXPECT_GE(bar->maximum() + list->viewport()->width(), textWidth);
    EXPECT_EQ(list->item(1)->toolTip().toStdString(), longNames[1]);
}

}  // namespace
