#pragma once
// The coverage figures of the last intrinsic calibration, each against its
// "good enough" mark (green when it reaches it, orange when not), the
// projection uncertainty at the centre and the worst corner, and the
// one-line verdict that says which picture to take next. Selectable text;
// it only reads the document's calibration figures.

#include <QString>
#include <QStringList>
#include <QWidget>

class CVexelDoc;
class QLabel;

class CCoveragePanel : public QWidget {
    Q_OBJECT

public:
    explicit CCoveragePanel(CVexelDoc* doc, QWidget* parent = nullptr);

    // Reads the calibration figures anew.
    void Refresh();

    // The lines shown (empty before a calibration) and the verdict among them.
    QStringList Lines() const { return m_lines; }
    QString Verdict() const { return m_verdict; }
    bool VerdictGood() const { return m_good; }

    QSize sizeHint() const override { return QSize(320, 160); }

private:
    CVexelDoc* m_doc;
    QLabel* m_text;
    QStringList m_lines;
    QString m_verdict;
    bool m_good = false;
};
