// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_insight.h"
#include "document/vexel_doc.h"

#include "app/coverage_panel.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

const char* const GOOD = "#1a8f2a";
const char* const SHORT = "#d06000";

}  // namespace

CCoveragePanel::CCoveragePanel(CVexelDoc* doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
    setObjectName(QStringLiteral("coveragePanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("coverageText"));
    m_text->setTextFormat(Qt::RichText);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_text, 1);
    Refresh();
}

void CCoveragePanel::Refresh() {
    m_lines.clear();
    m_verdict.clear();
    m_good = false;
    const CalibrationInsight* insight =
        m_doc && m_doc->Stats().valid ? m_doc->Stats().insight.get() : nullptr;
    // Before any calibration the panel above says what to do.
    setVisible(m_doc && m_doc->Calibration());
    if (!insight) {
        m_text->setText(QStringLiteral("<span style=\"color:#6e6e6e\">How well the frames cover the image, the tilts "
                                       "and the distances, and what picture to take next, appear here after "
                                       "Intrinsic Calibration.</span>"));
        return;
    }
    const std::vector<std::string> lines = insightLines(*insight);
    const bool marks[3] = {insight->verdict.imageGood, insight->verdict.tiltGood, insight->verdict.distanceGood};
    QString html;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromStdString(lines[i]);
        m_lines << line;
        const bool isVerdict = i + 1 == lines.size();
        QString shown = line.toHtmlEscaped();
        if (i < 3)
            shown = QStringLiteral("<span style=\"color:%1\">%2</span> %3")
                        .arg(QLatin1String(marks[i] ? GOOD : SHORT), marks[i] ? QStringLiteral("&#10003;") : QStringLiteral("&#10007;"), shown);
        if (isVerdict)
            shown = QStringLiteral("<b style=\"color:%1\">%2</b>").arg(QLatin1String(insight->verdict.good() ? GOOD : SHORT), shown);
        html += (i > 0 ? QStringLiteral("<br>") : QString()) + shown;
    }
    m_verdict = QString::fromStdString(insight->verdict.line);
    m_good = insight->verdict.good();
    m_text->setText(html);
}
