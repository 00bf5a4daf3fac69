// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_report.h"
#include "document/vexel_doc.h"

#include "app/calibration_panel.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString joinLines(const std::vector<std::string>& lines) {
    QStringList texts;
    for (const std::string& line : lines) texts << QString::fromStdString(line);
    return texts.join(QLatin1Char('\n'));
}

QLabel* wrappedLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

}  // namespace

CCalibrationPanel::CCalibrationPanel(CVexelDoc* doc, QWidget* parent)
    : QDockWidget(QStringLiteral("Calibration"), parent), m_doc(doc) {
    setObjectName(QStringLiteral("calibrationDock"));
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);

    auto* content = new QWidget;
    m_layout = new QVBoxLayout(content);
    m_layout->setContentsMargins(6, 4, 6, 4);
    m_layout->setSpacing(4);
    m_summary = wrappedLabel(content);
    m_summary->setObjectName(QStringLiteral("calibrationSummary"));
    m_copy = new QPushButton(QStringLiteral("Copy"), content);
    m_copy->setToolTip(QStringLiteral("Copy the report to the clipboard"));
    connect(m_copy, &QPushButton::clicked, this, &CCalibrationPanel::CopyReport);
    auto* top = new QHBoxLayout;
    top->addWidget(m_summary, 1);
    top->addWidget(m_copy, 0, Qt::AlignTop);
    m_layout->addLayout(top);

    // The warnings come first: they say whether to trust the numbers.
    m_warningBox = new QWidget(content);
    m_warningRows = new QVBoxLayout(m_warningBox);
    m_warningRows->setContentsMargins(0, 0, 0, 0);
    m_warningRows->setSpacing(2);
    m_layout->addWidget(m_warningBox);

    m_report = wrappedLabel(content);
    m_report->setObjectName(QStringLiteral("calibrationReport"));
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(fixed.pointSizeF() * 0.9);
    m_report->setFont(fixed);
    m_layout->addWidget(m_report);


    m_layout->addStretch();

    // A small window scrolls the panel rather than cutting it off.
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    setWidget(scroll);
    Refresh();
}

void CCalibrationPanel::Refresh() {
    const CalibrationRecord* record = m_doc ? m_doc->Calibration() : nullptr;
    const QString problem = m_doc ? QString::fromStdString(m_doc->CalibrationProblem()) : QString();
    if (!record) {
        m_summary->setText(QStringLiteral("No calibration yet: Calibration > Extract Grid(s), then Intrinsic "
                                          "Calibration, or File > Load Calibration."));
        m_report->clear();
        m_report->hide();
        m_copy->setEnabled(false);
        ShowWarnings({}, problem);
        return;
    }
    const CalibrationStats& stats = m_doc->Stats();
    m_summary->setText(joinLines(calibrationSummaryLines(*record, stats, m_doc->CellSizeMm())));
    // The pose is shown whenever there is one of a frame of the list, not
    // only while that frame is on screen.
    const QString report =
        joinLines(fullReportLines(*record, stats, m_doc->ReferenceFrame() >= 0, m_doc->CellSizeMm()));
    if (m_report->text() != report) m_report->setText(report);
    m_report->show();
    m_copy->setEnabled(true);
    QStringList warnings;
    for (const std::string& warning : stats.warnings) warnings << QString::fromStdString(warning);
    ShowWarnings(warnings, problem);
}

void CCalibrationPanel::ShowWarnings(const QStringList& warnings, const QString& problem) {
    QStringList shown = warnings;
    if (!problem.isEmpty()) shown.prepend(problem);
    if (shown == m_warnings) return;
    m_warnings = shown;
    while (QLayoutItem* item = m_warningRows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize);
    for (int i = 0; i < shown.size(); ++i) {
        const bool failure = i == 0 && !problem.isEmpty();
        auto* row = new QWidget(m_warningBox);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* icon = new QLabel(row);
        icon->setPixmap(style()
                            ->standardIcon(failure ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning)
                            .pixmap(iconSize, iconSize));
        icon->setAlignment(Qt::AlignTop);
        auto* text = wrappedLabel(row);
        text->setText(shown[i]);
        layout->addWidget(icon);
        layout->addWidget(text, 1);
        m_warningRows->addWidget(row);
    }
    m_warningBox->setVisible(!shown.isEmpty());
}

QString CCalibrationPanel::SummaryText() const { return m_summary->text(); }
QString CCalibrationPanel::ReportText() const { return m_report->text(); }

void CCalibrationPanel::CopyReport() {
    QString text = m_summary->text() + QLatin1Char('\n') + m_report->text();
    if (!m_warnings.isEmpty()) text += QStringLiteral("\nWarnings:\n") + m_warnings.join(QLatin1Char('\n'));
    QApplication::clipboard()->setText(text + QLatin1Char('\n'));
}

void CCalibrationPanel::AddFigure(QWidget* widget) {
    // Before the stretch at the end.
    m_layout->insertWidget(m_layout->count() - 1, widget);
}

void CCalibrationPanel::AddAboveReport(QWidget* widget) { m_layout->insertWidget(m_layout->indexOf(m_report), widget); }

void CCalibrationPanel::ShowFigure(QWidget* widget) {
    // After the pending layout, so that the figure's place is known.
    QTimer::singleShot(0, this, [this, widget] {
        if (auto* scroll = qobject_cast<QScrollArea*>(this->widget())) scroll->ensureWidgetVisible(widget, 0, 0);
    });
}
