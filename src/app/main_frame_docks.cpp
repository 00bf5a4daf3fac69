// The main window's docks: the frame list and, under it, the calibration
// panel and the error chart.
// Both only read the document; what the user does in them runs as the
// document's commands, under the same guard as the menu's.

// Core headers first: they use identifiers that Qt defines as macros.
#include "document/vexel_doc.h"

#include "app/main_frame.h"

#include <QDockWidget>

#include "app/calibration_panel.h"
#include "app/error_chart.h"
#include "app/frame_list_dock.h"

void CMainFrame::CreateDocks() {
    m_frameList = new CFrameListDock(m_doc, this);
    addDockWidget(Qt::RightDockWidgetArea, m_frameList);

    m_errorDock = new QDockWidget(QStringLiteral("Per-frame error"), this);
    m_errorDock->setObjectName(QStringLiteral("errorChartDock"));
    m_errorDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    m_errorChart = new CErrorChart(m_doc, m_errorDock);
    m_errorDock->setWidget(m_errorChart);
    addDockWidget(Qt::RightDockWidgetArea, m_errorDock);
    m_calibrationPanel = new CCalibrationPanel(m_doc, this);
    addDockWidget(Qt::RightDockWidgetArea, m_calibrationPanel);
    splitDockWidget(m_frameList, m_calibrationPanel, Qt::Vertical);
    splitDockWidget(m_calibrationPanel, m_errorDock, Qt::Vertical);
    resizeDocks({m_frameList}, {330}, Qt::Horizontal);
    resizeDocks({m_frameList, m_calibrationPanel, m_errorDock}, {200, 330, 150}, Qt::Vertical);

    auto goTo = [this](int frame) {
        RunGuarded(QStringLiteral("Go to Frame"), [this, frame] { m_doc->OnGoToFrame(frame); });
        UpdateCommandUi();
    };
    connect(m_frameList, &CFrameListDock::FrameChosen, this, goTo);
    connect(m_errorChart, &CErrorChart::FrameClicked, this, goTo);
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
}
