#include "app/plot_panel.h"

#include <QPainter>
#include <QPalette>
#include <QWidget>

void makePlotPanel(QWidget& widget, const QString& name) {
    widget.setObjectName(name);
    widget.setAutoFillBackground(true);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget.setPalette(palette);
}

QFont beginPlotPainting(QPainter& painter, const QWidget& widget) {
    painter.fillRect(widget.rect(), Qt::white);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    return font;
}

void drawPlotNote(QPainter& painter, const QRect& area, const QString& text) {
    painter.setPen(QColor(110, 110, 110));
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text);
}

void drawPlotAxes(QPainter& painter, const QRect& plot) {
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
}
