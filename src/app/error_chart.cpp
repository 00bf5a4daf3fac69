// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_quality.h"
#include "calibration/plot_axis.h"
#include "document/vexel_doc.h"

#include "app/error_chart.h"
#include "app/plot_panel.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const int LEFT_MARGIN = 46;   // room for the value labels
const int RIGHT_MARGIN = 8;
const int TOP_MARGIN = 22;    // room for the mean's label
const int BOTTOM_MARGIN = 18; // room for the frame labels

const QColor BAR(70, 130, 180);
const QColor CURRENT_BAR(20, 50, 110);
const QColor FLAGGED_BAR(210, 30, 30);
const QColor MEAN_LINE(230, 140, 0);

QString pixels(double value) { return QString::number(value, 'f', value < 10 ? 3 : 1); }

}  // namespace

CErrorChart::CErrorChart(CVexelDoc* doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
    makePlotPanel(*this, QStringLiteral("errorChart"));
    setMouseTracking(false);
}

void CErrorChart::Refresh() {
    m_bars.clear();
    m_mean = 0;
    m_top = 1;
    if (m_doc && m_doc->Stats().valid) {
        const CalibrationStats& stats = m_doc->Stats();
        const std::vector<int> flagged = suspectFrames(stats);
        const std::size_t n = std::min(stats.frames.size(), stats.perViewErrors.size());
        double sum = 0, highest = 0;
        for (std::size_t i = 0; i < n; ++i) {
            Bar bar;
            bar.frame = stats.frames[i];
            // A view without a finite error stands at 0 but is flagged.
            bar.value = std::isfinite(stats.perViewErrors[i]) ? std::max(stats.perViewErrors[i], 0.0) : 0.0;
            bar.flagged = std::find(flagged.begin(), flagged.end(), bar.frame) != flagged.end();
            sum += bar.value;
            highest = std::max(highest, bar.value);
            m_bars.push_back(bar);
        }
        if (!m_bars.empty()) m_mean = sum / static_cast<double>(m_bars.size());
        m_top = vexel::roundAxisEnd(std::max(highest, m_mean) * 1.05);
    }
    update();
}

int CErrorChart::BarFrame(int i) const { return i >= 0 && i < BarCount() ? m_bars[static_cast<std::size_t>(i)].frame : -1; }

double CErrorChart::BarValue(int i) const {
    return i >= 0 && i < BarCount() ? m_bars[static_cast<std::size_t>(i)].value : 0.0;
}

bool CErrorChart::BarFlagged(int i) const {
    return i >= 0 && i < BarCount() && m_bars[static_cast<std::size_t>(i)].flagged;
}

QRect CErrorChart::PlotArea() const {
    return QRect(QPoint(LEFT_MARGIN, TOP_MARGIN),
                 QPoint(std::max(LEFT_MARGIN, width() - RIGHT_MARGIN - 1),
                        std::max(TOP_MARGIN, height() - BOTTOM_MARGIN - 1)));
}

int CErrorChart::ColumnLeft(int i) const {
    const QRect plot = PlotArea();
    const int n = std::max(BarCount(), 1);
    return plot.left() + static_cast<int>(static_cast<long long>(plot.width()) * i / n);
}

int CErrorChart::ValueToY(double value) const {
    const QRect plot = PlotArea();
    const double share = std::clamp(value / m_top, 0.0, 1.0);
    return plot.bottom() - static_cast<int>(std::lround(share * (plot.height() - 1)));
}

QRect CErrorChart::BarRect(int i) const {
    if (i < 0 || i >= BarCount()) return QRect();
    const int left = ColumnLeft(i);
    const int right = ColumnLeft(i + 1);
    // A pixel of white between bars when there is room for it.
    const int gap = right - left >= 4 ? std::max(1, (right - left) / 5) : 0;
    const int width = std::max(1, right - left - gap);
    const int top = ValueToY(BarValue(i));
    return QRect(QPoint(left + gap / 2, top), QPoint(left + gap / 2 + width - 1, PlotArea().bottom()));
}

int CErrorChart::MeanLineY() const { return ValueToY(m_mean); }

int CErrorChart::FrameAt(const QPoint& point) const {
    const QRect plot = PlotArea();
    if (BarCount() == 0 || point.y() < plot.top() || point.y() > plot.bottom() + BOTTOM_MARGIN) return -1;
    if (point.x() < plot.left() || point.x() > plot.right()) return -1;
    // The whole column of a bar counts, so that low and thin bars are easy to hit.
    for (int i = 0; i < BarCount(); ++i)
        if (point.x() >= ColumnLeft(i) && point.x() < std::max(ColumnLeft(i + 1), ColumnLeft(i) + 1))
            return BarFrame(i);
    return -1;
}

void CErrorChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const int frame = FrameAt(event->position().toPoint());
        if (frame >= 0) {
            Q_EMIT FrameClicked(frame);
            event->accept();
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

void CErrorChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics metrics(beginPlotPainting(p, *this));
    if (BarCount() == 0) {
        drawPlotNote(p, rect().adjusted(8, 8, -8, -8),
                     QStringLiteral("The error of every frame appears here after Intrinsic Calibration."));
        return;
    }
    const QRect plot = PlotArea();

    // Value axis: 0, half and the top, with faint lines across.
    p.setPen(QColor(0, 0, 0));
    for (double value : {0.0, m_top / 2, m_top}) {
        const int y = ValueToY(value);
        if (value > 0) {
            p.setPen(QColor(225, 225, 225));
            p.drawLine(plot.left(), y, plot.right(), y);
            p.setPen(QColor(0, 0, 0));
        }
        p.drawText(QRect(0, y - metrics.height() / 2, LEFT_MARGIN - 6, metrics.height()),
                   Qt::AlignRight | Qt::AlignVCenter, pixels(value));
    }
    p.drawText(QRect(2, 2, LEFT_MARGIN + 60, TOP_MARGIN - 4), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("RMS px"));

    const int current = m_doc ? m_doc->CurrentFrame() : -1;
    for (int i = 0; i < BarCount(); ++i) {
        const Bar& bar = m_bars[static_cast<std::size_t>(i)];
        const QColor colour = bar.flagged ? FLAGGED_BAR : bar.frame == current ? CURRENT_BAR : BAR;
        p.fillRect(BarRect(i), colour);
        if (bar.frame == current && bar.flagged) {
            // The current frame stays visible also when its bar is red.
            p.setPen(CURRENT_BAR);
            p.drawRect(BarRect(i).adjusted(0, 0, -1, -1));
        }
    }
    p.setPen(QColor(0, 0, 0));
    drawPlotAxes(p, plot);

    // Frame labels under the first and the last bar, and under the current
    // frame's bar when there is room.
    auto label = [&](int i) {
        const QRect bar = BarRect(i);
        const QString text = QString::number(BarFrame(i));
        const int w = metrics.horizontalAdvance(text);
        const int x = std::clamp(bar.center().x() - w / 2, plot.left(), width() - RIGHT_MARGIN - w);
        p.drawText(QPoint(x, plot.bottom() + metrics.ascent() + 3), text);
        return QRect(x, 0, w, 1);
    };
    const QRect first = label(0);
    QRect last;
    if (BarCount() > 1) {
        const QRect bar = BarRect(BarCount() - 1);
        const QString text = QString::number(BarFrame(BarCount() - 1));
        const int w = metrics.horizontalAdvance(text);
        const int x = std::clamp(bar.center().x() - w / 2, plot.left(), width() - RIGHT_MARGIN - w);
        last = QRect(x, 0, w, 1);
        if (x > first.right() + 4) label(BarCount() - 1);
    }
    for (int i = 1; i + 1 < BarCount(); ++i) {
        if (BarFrame(i) != current) continue;
        const QString text = QString::number(current);
        const int w = metrics.horizontalAdvance(text);
        const int x = BarRect(i).center().x() - w / 2;
        if (x > first.right() + 4 && x + w + 4 < last.left()) label(i);
    }

    // The mean, dashed, above the bars.
    const int y = MeanLineY();
    p.setPen(QPen(MEAN_LINE, 2, Qt::DashLine));
    p.drawLine(plot.left(), y, plot.right(), y);
    p.setPen(MEAN_LINE.darker(130));
    p.drawText(QRect(plot.left(), 2, plot.width(), TOP_MARGIN - 4), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("mean %1 px").arg(pixels(m_mean)));
}
