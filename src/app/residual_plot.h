#pragma once
// The residual summary of the last intrinsic calibration, two plots side by
// side: every residual vector of every used frame as a dot (x error against
// y error, a circle at the RMS error), and every error's length against its
// distance from the principal point with the mean per ring as a line, where
// a lens model that does not fit shows as a trend. The current frame's dots
// are drawn darker. It only reads the document's calibration figures.

#include <QWidget>

#include <memory>

class CVexelDoc;
struct CalibrationInsight;

class CResidualPlot : public QWidget {
    Q_OBJECT

public:
    explicit CResidualPlot(CVexelDoc* doc, QWidget* parent = nullptr);

    // Reads the calibration figures anew and repaints.
    void Refresh();

    bool HasResiduals() const { return m_insight != nullptr; }
    int PointCount() const { return m_points; }
    // Where the plots draw an error vector and an error length at a
    // distance from the principal point, widget pixels.
    QPointF ScatterPosition(double dx, double dy) const;
    QPointF RadialPosition(double radius, double length) const;
    // The two plots' areas.
    QRect ScatterArea() const;
    QRect RadialArea() const;

    QSize sizeHint() const override { return QSize(320, 180); }
    QSize minimumSizeHint() const override { return QSize(200, 100); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CVexelDoc* m_doc;
    std::shared_ptr<const CalibrationInsight> m_insight;
    int m_points = 0;
    double m_errorRange = 1;   // the scatter runs from -this to +this on both axes
    double m_radiusRange = 1;  // the radial plot's x axis ends here
    double m_lengthRange = 1;  // and its y axis here
};
