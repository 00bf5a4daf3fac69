#include "view/report_drawing.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>


QFont CalibrationReportFont() {
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        return families.contains(QStringLiteral("Courier New"), Qt::CaseInsensitive)
                   ? QStringLiteral("Courier New")
                   : QStringLiteral("Liberation Mono");
    }();
    QFont font(family);
    font.setPixelSize(16);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

int DrawReportLines(QPainter& painter, int x, int y, const std::vector<std::string>& lines, int imageWidth,
                    ReportExtent& extent) {
    painter.save();
    const QFont font = CalibrationReportFont();
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font, painter.device());
    // Every line of a fixed-pitch font is as high as the font.
    const int lineHeight = metrics.height();
    int width = imageWidth;
    for (const std::string& line : lines) {
        const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        painter.drawText(x, y + metrics.ascent(), text);
        y += lineHeight;
        width = std::max(width, imageWidth + metrics.horizontalAdvance(text));
    }
    extent.width = width;
    extent.height = std::max(extent.height, y);
    painter.restore();
    return y;
}
