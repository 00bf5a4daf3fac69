// The frame list and the error chart: their rows and bars, what they show
// for each frame, and that using them moves to a frame or leaves it out.

#include "gui/gui_fixture.h"

#include <QAction>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTreeWidget>

#include <memory>

#include "app/command_ids.h"
#include "app/error_chart.h"
#include "app/frame_list_dock.h"
#include "app/main_frame.h"
#include "app/vexel_app.h"
#include "support/document_access.h"

using namespace vexel::test;
namespace cmd = vexel::cmd;

namespace {

// How a frame's search ended.
struct Outcome {
    bool searched = false;
    GridFailure failure = GridFailure::None;
    cv::Size size;
};

class FrameDocksTest : public WindowTest {
protected:
    void SetUp() override {
        openWindow(/*show=*/false);
        doc->SetFrameDecoder(syntheticFrame);
        frame->SetFailureReporter([](const QString& command, const QString& reason) {
            ADD_FAILURE() << command.toStdString() << ": " << reason.toStdString();
        });
    }

    // Imports `count` frames of 64 x 48, then gives them the outcomes of a
    // search: per frame a point count, or a failure.
    void importSearched(const std::vector<Outcome>& outcomes, const std::vector<int>& points) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < outcomes.size(); ++i) names.push_back("/data/shots/" + frameName(64, 48, 10 + int(i)));
        ASSERT_TRUE(doc->ImportImageFiles(names));
        gridsOf(*doc).allocate(static_cast<int>(outcomes.size()), 200);
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            FrameGrid& record = gridsOf(*doc).frames[i];
            record.searched = outcomes[i].searched;
            record.failure = outcomes[i].failure;
            record.size = outcomes[i].size;
            record.pointCount = points[i];
        }
    }

    // The last calibration used `frames` with these errors.
    void calibrated(const std::vector<int>& frames, const std::vector<double>& errors) {
        CalibrationStats& stats = statsOf(*doc);
        stats = CalibrationStats{};
        stats.valid = true;
        stats.frames = frames;
        stats.perViewErrors = errors;
        stats.pointCounts.assign(frames.size(), 110);
    }

    QTreeWidget* tree() { return frame->FrameList()->Tree(); }
    QString result(int row) { return tree()->topLevelItem(row)->text(CFrameListDock::RESULT_COLUMN); }
};

const Outcome FOUND{true, GridFailure::None, cv::Size(64, 48)};

}  // namespace

TEST_F(FrameDocksTest, EveryFrameHasARowSayingWhatItsSearchFound) {
    importSearched({FOUND, {true, GridFailure::NotRead, {}}, {true, GridFailure::NoBoardFound, cv::Size(64, 48)},
                    {true, GridFailure::MarkersMisfit, cv::Size(64, 48)}, Outcome{}, FOUND},
                   {110, 0, 0, 0, 0, 1});
    doc->UpdateTitleAndViews();
    ASSERT_EQ(tree()->topLevelItemCount(), 6);
    EXPECT_EQ(tree()->topLevelItem(2)->text(CFrameListDock::INDEX_COLUMN), QStringLiteral("2"));
    EXPECT_EQ(tree()->topLevelItem(2)->text(CFrameListDock::NAME_COLUMN), QStringLiteral("12"));
    EXPECT_EQ(tree()->topLevelItem(2)->toolTip(CFrameListDock::NAME_COLUMN), QStringLiteral("/data/shots/64x48/12"));
    EXPECT_EQ(result(0), QStringLiteral("110 points"));
    EXPECT_EQ(result(1), QStringLiteral("not read"));
    EXPECT_EQ(result(2), QStringLiteral("no board found"));
    EXPECT_EQ(result(3), QStringLiteral("markers do not fit the grid"));
    EXPECT_EQ(result(4), QStringLiteral("not searched yet"));
    EXPECT_EQ(result(5), QStringLiteral("1 point"));
    EXPECT_EQ(tree()->currentItem(), tree()->topLevelItem(0));

    // After a calibration the frames it used show their error.
    calibrated({0}, {0.04567});
    doc->UpdateTitleAndViews();
    EXPECT_EQ(result(0), QStringLiteral("110 points, RMS 0.046 px"));
    EXPECT_EQ(result(5), QStringLiteral("1 point"));

    // Frames appended get rows; a new list drops them.
    ASSERT_TRUE(doc->ImportImageFiles({frameName(64, 48, 99)}));
    doc->UpdateTitleAndViews();
    EXPECT_EQ(tree()->topLevelItemCount(), 7);
    EXPECT_EQ(result(6), QStringLiteral("not searched yet"));
    ASSERT_TRUE(frame->OnCommand(cmd::FILE_NEW));
    EXPECT_EQ(tree()->topLevelItemCount(), 0);
}

TEST_F(FrameDocksTest, ChoosingARowGoesToItsFrameAndFollowsFrameSteps) {
    importSearched(std::vector<Outcome>(5, FOUND), {110, 110, 110, 110, 110});
    doc->UpdateTitleAndViews();
    tree()->setCurrentItem(tree()->topLevelItem(3));  // as a click or the arrow keys do
    EXPECT_EQ(doc->CurrentFrame(), 3);
    EXPECT_TRUE(tree()->topLevelItem(3)->isSelected());
    ASSERT_TRUE(frame->OnCommand(cmd::FRAME_FORWARD));
    EXPECT_EQ(tree()->currentItem(), tree()->topLevelItem(4));
    EXPECT_EQ(doc->CurrentFrame(), 4);
}

TEST_F(FrameDocksTest, CheckBoxesLeaveFramesOutAndUseAllFramesPutsThemBack) {
    importSearched(std::vector<Outcome>(4, FOUND), {110, 110, 110, 110});
    doc->UpdateTitleAndViews();
    QTreeWidgetItem* row = tree()->topLevelItem(2);
    EXPECT_EQ(row->checkState(CFrameListDock::INDEX_COLUMN), Qt::Checked);
    row->setCheckState(CFrameListDock::INDEX_COLUMN, Qt::Unchecked);  // as a click on the box does
    EXPECT_TRUE(doc->FrameExcluded(2));
    EXPECT_EQ(result(2), QStringLiteral("110 points, left out"));
    EXPECT_TRUE(row->font(CFrameListDock::RESULT_COLUMN).italic());

    QAction* useAll = frame->Action(cmd::USE_ALL_FRAMES);
    ASSERT_NE(useAll, nullptr);
    useAll->trigger();
    EXPECT_EQ(doc->ExcludedFrameCount(), 0);
    EXPECT_EQ(tree()->topLevelItem(2)->checkState(CFrameListDock::INDEX_COLUMN), Qt::Checked);
    EXPECT_EQ(result(2), QStringLiteral("110 points"));
}

TEST_F(FrameDocksTest, FramesThatFitFarWorseThanTheRestAreRed) {
    importSearched(std::vector<Outcome>(5, FOUND), {110, 110, 110, 110, 110});
    calibrated({0, 1, 2, 3, 4}, {0.05, 0.06, 2.4, 0.05, 0.07});
    doc->UpdateTitleAndViews();
    for (int r = 0; r < 5; ++r) EXPECT_EQ(frame->FrameList()->RowFlagged(r), r == 2) << r;

    CErrorChart* chart = frame->ErrorChart();
    EXPECT_TRUE(chart->BarFlagged(2));
    EXPECT_FALSE(chart->BarFlagged(1));
}

TEST_F(FrameDocksTest, TheChartHasABarPerCalibratedFrameAsHighAsItsError) {
    importSearched(std::vector<Outcome>(6, FOUND), {110, 110, 0, 110, 110, 110});
    calibrated({0, 1, 3, 5}, {0.08, 0.02, 0.05, 0.11});
    CErrorChart* chart = frame->ErrorChart();
    chart->resize(300, 180);
    doc->UpdateTitleAndViews();

    ASSERT_EQ(chart->BarCount(), 4);
    EXPECT_EQ(chart->BarFrame(2), 3);
    // Higher errors stand higher (the bars in increasing order of their
    // errors); all share one base line.
    const int order[] = {1, 2, 0, 3};
    for (int k = 0; k + 1 < 4; ++k)
        EXPECT_LT(chart->BarRect(order[k]).height(), chart->BarRect(order[k + 1]).height()) << k;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(chart->BarRect(i).bottom(), chart->BarRect(0).bottom());
    for (int i = 0; i + 1 < 4; ++i) EXPECT_LT(chart->BarRect(i).right(), chart->BarRect(i + 1).left());
    // The mean line lies between the lowest and the highest bar's tops.
    EXPECT_DOUBLE_EQ(chart->Mean(), 0.065);
    EXPECT_GT(chart->MeanLineY(), chart->BarRect(3).top());
    EXPECT_LT(chart->MeanLineY(), chart->BarRect(1).top());

    // The bars are drawn where they say they are.
    const QImage image = grabImage(*chart);
    const QRect bar = chart->BarRect(3);
    EXPECT_NE(image.pixel(bar.center()), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(QPoint(bar.center().x(), bar.top() - 3)), qRgb(255, 255, 255));

    // A click on a bar goes to its frame, also above a low bar.
    const QPoint at(chart->BarRect(2).center().x(), chart->BarRect(3).top());
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), chart->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(chart, &press);
    EXPECT_EQ(doc->CurrentFrame(), 3);
    EXPECT_EQ(chart->FrameAt(QPoint(2, 2)), -1);

    // Without a calibration there are no bars.
    statsOf(*doc) = CalibrationStats{};
    doc->UpdateTitleAndViews();
    EXPECT_EQ(chart->BarCount(), 0);
}

TEST_F(FrameDocksTest, UndistortedAndCoverageItemsAreCheckedWhileOn) {
    importSearched(std::vector<Outcome>(2, FOUND), {110, 110});
    QAction* undistorted = frame->Action(cmd::VIEW_UNDISTORTED);
    QAction* coverage = frame->Action(cmd::VIEW_COVERAGE);
    ASSERT_TRUE(undistorted && coverage);
    ASSERT_TRUE(undistorted->isCheckable() && coverage->isCheckable());

    // Without a calibration there is nothing to undistort with: it stays off and says why.
    undistorted->trigger();
    EXPECT_FALSE(undistorted->isChecked());
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("needs a calibration")));

    calibrationOf(*doc) = std::make_unique<CalibrationRecord>();
    calibrationOf(*doc)->camera(0) = calibrationOf(*doc)->camera(4) = 100;
    calibrationOf(*doc)->camera(8) = 1;
    undistorted->trigger();
    EXPECT_TRUE(undistorted->isChecked());
    coverage->trigger();
    EXPECT_TRUE(coverage->isChecked());

    // New drops the calibration, and with it the undistorted drawing.
    ASSERT_TRUE(frame->OnCommand(cmd::FILE_NEW));
    EXPECT_FALSE(undistorted->isChecked());
    EXPECT_TRUE(coverage->isChecked());
}
