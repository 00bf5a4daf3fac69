#pragma once
// What the calibration's plot panels share: a white ground, an 11-pixel
// font, a grey note in the plot's place while there is nothing to show, and
// the axes along a plot's left and bottom edges.

#include <QFont>
#include <QRect>
#include <QString>

class QPainter;
class QWidget;

// Names `widget` and gives it the plots' white ground.
void makePlotPanel(QWidget& widget, const QString& name);

// Starts painting `widget`: fills it white and sets the plots' font, which
// it returns.
QFont beginPlotPainting(QPainter& painter, const QWidget& widget);

// The note shown in grey, centred in `area`, in place of an empty plot.
void drawPlotNote(QPainter& painter, const QRect& area, const QString& text);

// The two axes of `plot`, along its left and bottom edges, in the current pen.
void drawPlotAxes(QPainter& painter, const QRect& plot);
