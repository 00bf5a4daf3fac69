// The main window's docks: the frame list and, under it, the calibration
// panel (with the coverage figures and the verdict above its report and the
// residual summary under it) and the error chart; the poses in 3-D as a tab beside
// the calibration panel. All only read the document; what the user does in
// them runs as the document's commands, under the same guard as the menu's.

// Core headers first: they use identifiers that Qt defines as macros.
#include "document/vexel_doc.h"

#include "app/main_frame.h"

#include <QDockWidget>

#include "app/calibration_panel.h"
#include "app/coverage_panel.h"
#include "app/error_chart.h"
#include "app/frame_list_dock.h"
#include "app/pose_view.h"
#include "app/residual_plot.h"

namespace {

QDockWidget* makeDock(const QString& title, const QString& name, QWidget* parent) {
    auto* dock = new QDockWidget(title, parent);
    dock->setObjectName(name);
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    return dock;
}

}  // namespace

void CMainFrame::CreateDocks() {
    m_frameList = new CFrameListDock(m_doc, this);
    addDockWidget(Qt::RightDockWidgetArea, m_frameList);

    m_errorDock = makeDock(QStringLiteral("Per-frame error"), QStringLiteral("errorChartDock"), this);
    m_errorChart = new CErrorChart(m_doc, m_errorDock);
    m_errorDock->setWidget(m_errorChart);
    addDockWidget(Qt::RightDockWidgetArea, m_errorDock);
    m_calibrationPanel = new CCalibrationPanel(m_doc, this);
    addDockWidget(Qt::RightDockWidgetArea, m_calibrationPanel);
    splitDockWidget(m_frameList, m_calibrationPanel, Qt::Vertical);
    splitDockWidget(m_calibrationPanel, m_errorDock, Qt::Vertical);
    resizeDocks({m_frameList}, {330}, Qt::Horizontal);
    resizeDocks({m_frameList, m_calibrationPanel, m_errorDock}, {200, 330, 150}, Qt::Vertical);

    // The verdict and the coverage figures above the calibration's report,
    // so that they are read first; the residual summary under it.
    m_coveragePanel = new CCoveragePanel(m_doc);
    m_calibrationPanel->AddAboveReport(m_coveragePanel);
    m_residualPlot = new CResidualPlot(m_doc);
    m_calibrationPanel->AddFigure(m_residualPlot);
    // Poses is shown by View > Poses, and can be closed.
    m_poseDock = makeDock(QStringLiteral("Poses"), QStringLiteral("poseDock"), this);
    m_poseDock->setFeatures(m_poseDock->features() | QDockWidget::DockWidgetClosable);
    m_poseView = new CPoseView(m_doc, m_poseDock);
    m_poseDock->setWidget(m_poseView);
    tabifyDockWidget(m_calibrationPanel, m_poseDock);
    m_poseDock->hide();
    m_calibrationPanel->raise();

    auto goTo = [this](int frame) {
        RunGuarded(QStringLiteral("Go to Frame"), [this, frame] { m_doc->OnGoToFrame(frame); });
        UpdateCommandUi();
    };
    connect(m_frameList, &CFrameListDock::FrameChosen, this, goTo);
    connect(m_errorChart, &CErrorChart::FrameClicked, this, goTo);
    connect(m_poseView, &CPoseView::FrameClicked, this, goTo);
    connect(m_frameList, &CFrameListDock::FrameUseChanged, this, [this](int frame, bool used) {
        RunGuarded(QStringLiteral("Use Frame"), [this, frame, used] { m_doc->OnExcludeFrame(frame, !used); });
        UpdateCommandUi();
    });
    connect(m_frameList, &CFrameListDock::FrameRemoveRequested, this, [this](int frame) {
        RunGuarded(QStringLiteral("Remove Frame"), [this, frame] { m_doc->OnRemoveFrame(frame); });
        UpdateCommandUi();
    });
}

void CMainFrame::RefreshDocks() {
    if (!m_doc) return;
    if (m_frameList) m_frameList->Refresh();
    if (m_calibrationPanel) m_calibrationPanel->Refresh();
    if (m_errorChart) m_errorChart->Refresh();
    if (m_residualPlot) m_residualPlot->Refresh();
    if (m_coveragePanel) m_coveragePanel->Refresh();
    if (m_poseView) m_poseView->Refresh();
}

void CMainFrame::ShowDock(QDockWidget* dock) {
    if (!dock) return;
    dock->show();
    dock->raise();
}
