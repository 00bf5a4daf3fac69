#pragma once
// The Calibration panel: a dock beside the frame list that keeps the result
// of the last calibration in sight. It shows what the calibration is and
// what it was made from (model, frames, points, image size) with a Copy
// button, the warnings of the last calibration and the reason the last
// calibration command failed as a list with an icon each, and the report's
// lines as text that can be selected. It only reads the document.

#include <QDockWidget>
#include <QString>
#include <QStringList>

class CVexelDoc;
class QLabel;
class QPushButton;
class QVBoxLayout;

class CCalibrationPanel : public QDockWidget {
    Q_OBJECT

public:
    explicit CCalibrationPanel(CVexelDoc* doc, QWidget* parent = nullptr);

    // Reads the calibration anew.
    void Refresh();

    // The summary lines, the report's lines and the warnings as shown.
    QString SummaryText() const;
    QString ReportText() const;
    QStringList Warnings() const { return m_warnings; }
    QLabel* ReportLabel() const { return m_report; }
    QPushButton* CopyButton() const { return m_copy; }
    // Puts `widget` below the report (a plot of the calibration's
    // figures); the panel takes it over.
    void AddFigure(QWidget* widget);
    // Puts `widget` between the warnings and the report (a verdict that
    // should be read before the numbers); the panel takes it over.
    void AddAboveReport(QWidget* widget);
    // Scrolls the panel so that `widget` (one of its figures) is in sight.
    void ShowFigure(QWidget* widget);

private:
    void CopyReport();
    void ShowWarnings(const QStringList& warnings, const QString& problem);

    CVexelDoc* m_doc;
    QLabel* m_summary;
    QLabel* m_report;
    QPushButton* m_copy;
    QWidget* m_warningBox;
    QVBoxLayout* m_warningRows;
    QVBoxLayout* m_layout;
    QStringList m_warnings;
};
