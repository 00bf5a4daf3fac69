// What the view draws over the frame to show why a calibration is good or
// bad: the residual of every correspondence, and how uncertain the
// projection is across the image.

// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_insight.h"
#include "document/vexel_doc.h"

#include "view/vexel_view.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor DETECTED(255, 255, 255);
const QColor REPROJECTED(40, 120, 255);
const QColor WORST(255, 0, 200);
const int LEGEND_MARGIN = 8;
const int RAMP_WIDTH = 160;
const int RAMP_HEIGHT = 10;
// The colour pictures of the uncertainty are made this wide.
const int COLOURS_WIDTH = 320;
const int COLOURS_ALPHA = 150;

QColor colour(const std::array<unsigned char, 3>& rgb, int alpha = 255) { return QColor(rgb[0], rgb[1], rgb[2], alpha); }

QString pixels(double value) {
    const int decimals = value >= 10 ? 1 : value >= 1 ? 2 : value >= 0.1 ? 2 : 3;
    return QString::number(value, 'f', decimals);
}

std::vector<QPointF> toQt(const std::vector<cv::Point2d>& points) {
    std::vector<QPointF> out;
    out.reserve(points.size());
    for (const cv::Point2d& p : points) out.emplace_back(p.x, p.y);
    return out;
}

}  // namespace

void CVexelView::OnResiduals() {
    m_residuals = !m_residuals;
    viewport()->update();
}

void CVexelView::OnUncertainty() {
    m_uncertainty = !m_uncertainty;
    viewport()->update();
}

std::shared_ptr<const CalibrationInsight> CVexelView::InsightForFrame() const {
    if (!m_doc) return nullptr;
    std::shared_ptr<const CalibrationInsight> insight =
        m_docBusy ? m_snapshot.insight : m_doc->Stats().insight;
    if (!insight || insight->imageSize != cv::Size(m_imageWidth, m_imageHeight)) return nullptr;
    return insight;
}

double CVexelView::ResidualScale() const {
    const std::shared_ptr<const CalibrationInsight> insight = InsightForFrame();
    return insight ? residualDrawingScale(insight->residuals, insight->imageSize) : 0.0;
}

void CVexelView::DrawLegend(QPainter& painter, const std::vector<QString>& lines, const QImage* ramp) {
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    int width = ramp ? RAMP_WIDTH : 0;
    for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
    const int height = static_cast<int>(lines.size()) * metrics.height() + (ramp ? RAMP_HEIGHT + 4 : 0);
    const QRect picture(-ScrollX(), -ScrollY(), m_displayWidth, m_displayHeight);
    const int left = std::max(picture.left(), 0) + LEGEND_MARGIN;
    const int x = std::max(left, m_legendRight + 2 * LEGEND_MARGIN) + 6;
    const bool roomBelow = picture.bottom() + LEGEND_MARGIN + height + 12 <= viewport()->height();
    const int y0 = roomBelow ? picture.bottom() + LEGEND_MARGIN
                             : std::min(picture.bottom(), viewport()->height()) - height - LEGEND_MARGIN - 12;
    const QRect box(x - 6, y0, width + 12, height + 12);
    m_legendRight = box.right();
    painter.setPen(QColor(90, 90, 90));
    painter.setBrush(QColor(255, 255, 255, 225));
    painter.drawRect(box);
    painter.setPen(Qt::black);
    int y = box.top() + 6;
    for (const QString& line : lines) {
        painter.drawText(QPoint(x, y + metrics.ascent()), line);
        y += metrics.height();
    }
    if (ramp) painter.drawImage(QRect(x, y + 2, RAMP_WIDTH, RAMP_HEIGHT), *ramp);
    painter.restore();
}

void CVexelView::DrawResiduals(QPainter& painter, const CalibrationInsight& insight, int frame) {
    const FrameResiduals* residuals = insight.residualsOf(frame);
    if (!residuals || residuals->detected.empty()) return;
    const double scale = residualDrawingScale(insight.residuals, insight.imageSize);
    const double top = 2 * typicalLargeError(insight.residuals);

    std::vector<QPointF> points;  // detected, reprojected, tip of the enlarged error, per point
    for (std::size_t i = 0; i < residuals->detected.size(); ++i) {
        const cv::Point2f d = residuals->detected[i], e = residuals->error(i);
        points.emplace_back(d.x, d.y);
        points.emplace_back(residuals->reprojected[i].x, residuals->reprojected[i].y);
        points.emplace_back(d.x + scale * e.x, d.y + scale * e.y);
    }
    const std::vector<QPoint> mapped = MapFramePoints(points);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (std::size_t i = 0; i < residuals->detected.size(); ++i) {
        const QPoint& detected = mapped[3 * i];
        const QPoint& reprojected = mapped[3 * i + 1];
        const QPoint& tip = mapped[3 * i + 2];
        painter.setPen(QPen(colour(residualColour(cv::norm(residuals->error(i)), top)), 2));
        painter.drawLine(detected, tip);
        painter.setPen(QPen(REPROJECTED, 1.5));
        painter.drawLine(reprojected + QPoint(-3, 0), reprojected + QPoint(3, 0));
        painter.drawLine(reprojected + QPoint(0, -3), reprojected + QPoint(0, 3));
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(DETECTED);
        painter.drawEllipse(QPointF(detected), 2.5, 2.5);
    }
    // The worst corners ringed, with their error.
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    for (int i : residuals->worst) {
        const QPoint& detected = mapped[3 * static_cast<std::size_t>(i)];
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(WORST, 2));
        painter.drawEllipse(QPointF(detected), 8, 8);
        const QString text = pixels(cv::norm(residuals->error(static_cast<std::size_t>(i)))) + QStringLiteral(" px");
        const QPoint at = detected + QPoint(10, -8);
        painter.setPen(Qt::black);
        painter.drawText(at + QPoint(1, 1), text);
        painter.setPen(WORST);
        painter.drawText(at, text);
    }
    painter.restore();

    QImage ramp(RAMP_WIDTH, 1, QImage::Format_RGB32);
    for (int x = 0; x < RAMP_WIDTH; ++x)
        ramp.setPixelColor(x, 0, colour(residualColour(top * x / (RAMP_WIDTH - 1), top)));
    DrawLegend(painter,
               {QStringLiteral("residuals x %1, frame %2: RMS %3 px").arg(scale).arg(frame).arg(pixels(residuals->rms())),
                QStringLiteral("dot: detected, cross: reprojected, ring: worst"),
                QStringLiteral("error length 0 to %1 px:").arg(pixels(top))},
               &ramp);
}

void CVexelView::DrawUncertainty(QPainter& painter, const std::shared_ptr<const CalibrationInsight>& insight) {
    const UncertaintyMap& map = insight->uncertainty;
    if (map.empty()) {
        DrawLegend(painter, {QStringLiteral("The projection uncertainty could not be worked out for this calibration.")});
        return;
    }
    // The colours and lines are made once for each calibration.
    if (!m_uncertaintyPicture || m_uncertaintyPicture->insight != insight) {
        auto picture = std::make_shared<UncertaintyPicture>();
        picture->insight = insight;
        const int height = std::max(2, COLOURS_WIDTH * map.imageSize.height / std::max(1, map.imageSize.width));
        picture->colours = std::make_shared<QImage>(COLOURS_WIDTH, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < COLOURS_WIDTH; ++x) {
                const double value = map.at((x + 0.5) * map.imageSize.width / COLOURS_WIDTH - 0.5,
                                            (y + 0.5) * map.imageSize.height / height - 0.5);
                picture->colours->setPixelColor(x, y, colour(uncertaintyColour(uncertaintyShade(value)), COLOURS_ALPHA));
            }
        for (double level : contourLevels(map)) {
            std::vector<std::vector<QPointF>> lines;
            for (const auto& line : contourLines(map, level)) lines.push_back(toQt(line));
            picture->contours.emplace_back(level, std::move(lines));
        }
        for (const auto& line : contourLines(map, highUncertaintyLevel(map))) picture->highOutline.push_back(toQt(line));
        m_uncertaintyPicture = picture;
    }
    const UncertaintyPicture& picture = *m_uncertaintyPicture;

    painter.save();
    // Without the distortion the picture's pixels move; the lines move with
    // them, the colours are left out.
    if (!UndistortionActive()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRect(-ScrollX(), -ScrollY(), m_displayWidth, m_displayHeight), *picture.colours);
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    auto polyline = [this](const std::vector<QPointF>& line) {
        const std::vector<QPoint> mapped = MapFramePoints(line);
        return QPolygon(mapped.begin(), mapped.end());
    };
    for (const auto& [level, lines] : picture.contours) {
        const QString label = pixels(level) + QStringLiteral(" px");
        for (const auto& line : lines) {
            const QPolygon shape = polyline(line);
            painter.setPen(QPen(QColor(0, 0, 0, 160), 3));
            painter.drawPolyline(shape);
            painter.setPen(QPen(QColor(255, 255, 255), 1.5));
            painter.drawPolyline(shape);
            if (shape.size() < 4) continue;
            // The label sits on the line, half way along it.
            const QPoint at = shape[shape.size() / 2];
            const QRect box(at.x() - metrics.horizontalAdvance(label) / 2 - 2, at.y() - metrics.height() / 2,
                            metrics.horizontalAdvance(label) + 4, metrics.height());
            painter.fillRect(box, QColor(0, 0, 0, 170));
            painter.setPen(Qt::white);
            painter.drawText(box, Qt::AlignCenter, label);
        }
    }
    // Where it is high: the region's edge, and the advice at its peak.
    painter.setPen(QPen(QColor(255, 40, 40), 2, Qt::DashLine));
    for (const auto& line : picture.highOutline) painter.drawPolyline(polyline(line));
    QFont bold = font;
    bold.setPixelSize(12);
    bold.setBold(true);
    painter.setFont(bold);
    const QFontMetrics boldMetrics(bold);
    const QString advice = QString::fromLatin1(ADD_VIEWS_HERE);
    const QRect picture_(-ScrollX(), -ScrollY(), m_displayWidth, m_displayHeight);
    const QPointF middle(map.imageSize.width / 2.0, map.imageSize.height / 2.0);
    for (const cv::Point2d& peak : highUncertaintyRegions(map)) {
        // A little in from the peak, which is often a corner of the frame.
        const QPointF from(peak.x, peak.y);
        const QPoint at = MapFramePoints({from + (middle - from) * 0.12}).front();
        QRect box(0, 0, boldMetrics.horizontalAdvance(advice) + 10, boldMetrics.height() + 6);
        box.moveCenter(at);
        // Kept inside the picture, a little in from its edge.
        box.moveLeft(std::clamp(box.left(), picture_.left() + 4, std::max(picture_.left() + 4, picture_.right() - box.width() - 4)));
        box.moveTop(std::clamp(box.top(), picture_.top() + 4, std::max(picture_.top() + 4, picture_.bottom() - box.height() - 4)));
        painter.setPen(QPen(QColor(255, 40, 40), 1.5));
        painter.setBrush(QColor(255, 255, 255, 230));
        painter.drawRoundedRect(box, 4, 4);
        painter.setPen(QColor(190, 0, 0));
        painter.drawText(box, Qt::AlignCenter, advice);
    }
    painter.restore();

    QImage ramp(RAMP_WIDTH, 1, QImage::Format_RGB32);
    for (int x = 0; x < RAMP_WIDTH; ++x)
        ramp.setPixelColor(x, 0, colour(uncertaintyColour(static_cast<double>(x) / (RAMP_WIDTH - 1))));
    DrawLegend(painter,
               {QStringLiteral("projection uncertainty at %1 cells: %2 to %3 px")
                    .arg(map.depth, 0, 'f', 1)
                    .arg(pixels(map.minimum()), pixels(map.maximum())),
                QStringLiteral("colours from %1 px to %2 px and over:").arg(UNCERTAINTY_SCALE_LOW).arg(UNCERTAINTY_SCALE_HIGH)},
               &ramp);
}
