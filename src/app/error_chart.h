#pragma once
// The per-frame error chart: one bar per frame the last intrinsic
// calibration used, as high as that frame's RMS reprojection error, and the
// mean of those errors as a line across. Bars of frames whose fit is far
// worse than the rest's are red, the current frame's bar is darker.
// Clicking a bar's column asks for its frame. The chart only reads the
// document's calibration figures.

#include <QString>
#include <QWidget>

#include <vector>

class CVexelDoc;

class CErrorChart : public QWidget {
    Q_OBJECT

public:
    explicit CErrorChart(CVexelDoc* doc, QWidget* parent = nullptr);

    // Reads the calibration figures anew and repaints.
    void Refresh();

    int BarCount() const { return static_cast<int>(m_bars.size()); }
    int BarFrame(int i) const;
    double BarValue(int i) const;
    bool BarFlagged(int i) const;
    // Where bar `i` is drawn, in widget pixels (empty when out of range).
    QRect BarRect(int i) const;
    // The mean of the bars' errors and the height its line is drawn at.
    double Mean() const { return m_mean; }
    int MeanLineY() const;
    // The frame whose bar's column holds `point`, or -1.
    int FrameAt(const QPoint& point) const;

    QSize sizeHint() const override { return QSize(320, 180); }
    QSize minimumSizeHint() const override { return QSize(160, 100); }

Q_SIGNALS:
    void FrameClicked(int frame);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct Bar {
        int frame = 0;
        double value = 0;
        bool flagged = false;
    };

    // The rectangle the bars stand in.
    QRect PlotArea() const;
    // Column of bar `i`: its left edge and the next bar's.
    int ColumnLeft(int i) const;
    int ValueToY(double value) const;

    CVexelDoc* m_doc;
    std::vector<Bar> m_bars;
    double m_mean = 0;
    double m_top = 1;  // the value at the top of the plot
};
