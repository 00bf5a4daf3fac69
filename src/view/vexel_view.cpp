// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/board_axes.h"
#include "calibration/calibration_insight.h"
#include "document/vexel_doc.h"
#include "geomlib/g_node.h"
#include "grid/grid_element.h"

#include "view/vexel_view.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <exception>

#include "calibration/calibration_report.h"
#include "view/report_drawing.h"
#include "view/undistort_worker.h"

CVexelView::CVexelView(CVexelDoc* doc, QWidget* parent)
    : QAbstractScrollArea(parent), m_doc(doc) {
    m_undistortWorker = std::make_unique<UndistortWorker>([this](std::uint64_t request, const QImage& picture) {
        // Handed to this thread; dropped when the view is gone by then.
        QMetaObject::invokeMethod(
            this, [this, request, picture] { OnUndistortedPicture(request, picture); }, Qt::QueuedConnection);
    });
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
        bar->setRange(0, 0);
        bar->setSingleStep(LINE_STEP);
        bar->setPageStep(PAGE_STEP);
    }
    viewport()->setAutoFillBackground(true);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(palette);
    viewport()->setBackgroundRole(QPalette::Window);
}

CVexelView::~CVexelView() {
    // The worker stops before the view it reports to goes.
    m_undistortWorker.reset();
    ReleaseBuffers();
}

int CVexelView::ScrollX() const { return horizontalScrollBar()->value(); }
int CVexelView::ScrollY() const { return verticalScrollBar()->value(); }

void CVexelView::AllocateBuffers(int width, int height, int channels) {
    ReleaseBuffers();
    if (width <= 0 || height <= 0 || channels <= 0) return;
    m_imageWidth = width;
    m_imageHeight = height;
    m_channels = channels;
    m_displayBuffer.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0xff000000u);
    m_frameBuffer.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                             static_cast<std::size_t>(channels),
                         0);
    m_shownShape = {};  // the new buffers are filled at the next drawing
    m_pictureStale = true;
    UpdateDisplaySize();
}

void CVexelView::UpdateDisplaySize() {
    m_large = m_imageWidth > LARGE_WIDTH || m_imageHeight > LARGE_HEIGHT;
    m_displayWidth = m_imageWidth;
    m_displayHeight = m_imageHeight;
    if (m_imageWidth <= 0 || m_imageHeight <= 0) return;
    double scale = 1.0;
    if (m_zoom == Zoom::Fit) {
        // The room without scroll bars, less a horizontal bar's height: the
        // report beside the picture usually brings one.
        const QSize room = maximumViewportSize();
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        scale = std::min({1.0, static_cast<double>(room.width()) / m_imageWidth,
                          static_cast<double>(std::max(room.height() - bar, 1)) / m_imageHeight});
    } else if (m_zoom == Zoom::Scale) {
        scale = m_scale;
    }
    if (m_zoom != Zoom::Shrink) {
        m_displayWidth = std::max(1, static_cast<int>(std::lround(m_imageWidth * scale)));
        m_displayHeight = std::max(1, static_cast<int>(std::lround(m_imageHeight * scale)));
        return;
    }
    if (m_large && m_shrink) {
        // The largest size inside 800 x 600 with the frame's own aspect ratio.
        const double scale = std::min(static_cast<double>(SHRUNK_WIDTH) / m_imageWidth,
                                      static_cast<double>(SHRUNK_HEIGHT) / m_imageHeight);
        m_displayWidth = std::clamp(static_cast<int>(std::lround(m_imageWidth * scale)), 1, SHRUNK_WIDTH);
        m_displayHeight = std::clamp(static_cast<int>(std::lround(m_imageHeight * scale)), 1, SHRUNK_HEIGHT);
    }
}

void CVexelView::ReleaseBuffers() {
    std::vector<std::uint32_t>().swap(m_displayBuffer);
    std::vector<std::uint8_t>().swap(m_frameBuffer);
    std::vector<std::uint8_t>().swap(m_scratchBuffer);
    m_shownShape = {};
    m_pictureStale = true;
    m_imageWidth = m_imageHeight = m_channels = 0;
    m_large = false;
    m_displayWidth = m_displayHeight = 0;
}

void CVexelView::OnUpdate() {
    if (!m_doc) return;
    const int width = m_doc->GetFrameWidth();
    const int height = m_doc->GetFrameHeight();
    const int channels = m_doc->GetFrameChannels();
    const int displayWidth = m_displayWidth, displayHeight = m_displayHeight;
    if (width > m_imageWidth || height > m_imageHeight || channels > m_channels) {
        AllocateBuffers(width, height, channels);
    } else {
        // The buffers are big enough for a smaller frame; its display size
        // is its own (a small frame after a large one is not enlarged).
        m_imageWidth = width;
        m_imageHeight = height;
        m_channels = channels;
        if (width > 0 && height > 0) UpdateDisplaySize();
    }
    if (m_displayWidth != displayWidth || m_displayHeight != displayHeight) {
        // Nothing is left of the last frame's extent; the report widens it again.
        m_contentWidth = m_displayWidth;
        m_contentHeight = m_displayHeight;
    }
    m_contentWidth = std::max(m_contentWidth, m_displayWidth);
    m_contentHeight = std::max(m_contentHeight, m_displayHeight);
    TakeSnapshot();
    m_pictureStale = true;
    RecomputeScrollRanges();
    if (m_undistorted) {
        const QString problem = UndistortionProblem();
        if (!problem.isEmpty() && problem != m_refusal) Q_EMIT UndistortionRefused(problem);
        m_refusal = problem;
    }
    viewport()->update();
}

void CVexelView::SetDocumentBusy(bool busy) {
    if (busy && !m_docBusy) TakeSnapshot();
    m_docBusy = busy;
    m_pictureStale = true;
    viewport()->update();
}

void CVexelView::TakeSnapshot() {
    m_snapshot = Snapshot{};
    if (!m_doc) return;
    m_snapshot.frame = m_doc->CurrentFrame();
    m_snapshot.report = ReportLines();
    m_snapshot.insight = m_doc->Stats().insight;
    if (m_doc->ShowGrid()) m_snapshot.cells = GridCells(m_snapshot.frame);
}

std::vector<std::vector<QPointF>> CVexelView::GridCells(int frame) const {
    std::vector<std::vector<QPointF>> cells;
    const GridSet& grid = m_doc->Grids();
    if (!grid.hasFrame(frame)) return cells;
    const int count = grid.getCellCount(frame);
    for (int i = 0; i < count; ++i) {
        GridElement* cell = grid.getCell(frame, i);
        if (!cell || !cell->inGrid) continue;
        g_container<g_node*>& nodes = cell->nodes();
        std::vector<QPointF> corners;
        for (uint32_t k = 0; k < nodes.numberOfItems(); ++k) {
            const g_vector p = nodes.item(k)->getCoordinates();
            corners.emplace_back(p.x, p.y);
        }
        if (!corners.empty()) cells.push_back(std::move(corners));
    }
    return cells;
}

std::vector<std::string> CVexelView::ReportLines() const {
    std::vector<std::string> lines;
    const CalibrationRecord* record = m_doc ? m_doc->Calibration() : nullptr;
    if (!record) return lines;
    const bool extrinsic = m_doc->ReferenceFrame() == m_doc->CurrentFrame();
    lines = calibrationReportLines(*record, extrinsic);
    for (std::string& line : calibrationQualityLines(*record, m_doc->Stats())) lines.push_back(line);
    return lines;
}

void CVexelView::OnShrinkLargeImages() {
    m_shrink = !m_shrink;
    m_zoom = Zoom::Shrink;
    UpdateDisplaySize();
    m_contentWidth = m_displayWidth;
    m_contentHeight = m_displayHeight;
    RecomputeScrollRanges();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

double CVexelView::Scale() const {
    return m_imageWidth > 0 ? static_cast<double>(m_displayWidth) / m_imageWidth : 1.0;
}

void CVexelView::ResizeContent(int oldDisplayWidth) {
    // The report keeps its width beside the picture until it is drawn again.
    m_contentWidth = m_displayWidth + std::max(0, m_contentWidth - oldDisplayWidth);
    m_contentHeight = m_displayHeight;
    RecomputeScrollRanges();
    viewport()->update();
}

void CVexelView::SetZoom(Zoom zoom) {
    if (zoom == Zoom::Scale) m_scale = Scale();
    m_zoom = zoom;
    const int oldWidth = m_displayWidth;
    UpdateDisplaySize();
    ResizeContent(oldWidth);
}

void CVexelView::OnFitToWindow() { SetZoom(m_zoom == Zoom::Fit ? Zoom::Scale : Zoom::Fit); }

void CVexelView::OnZoomIn() { ZoomBy(ZOOM_STEP, QRectF(viewport()->rect()).center()); }

void CVexelView::OnZoomOut() { ZoomBy(1.0 / ZOOM_STEP, QRectF(viewport()->rect()).center()); }

void CVexelView::OnActualSize() { ZoomBy(1.0 / Scale(), QRectF(viewport()->rect()).center()); }

void CVexelView::ZoomBy(double factor, QPointF anchor) {
    const double old = Scale();
    const double scale = std::clamp(old * factor, MIN_ZOOM, MAX_ZOOM);
    // The frame point under the anchor, before the picture changes size.
    const QPointF point((anchor.x() + ScrollX()) / old, (anchor.y() + ScrollY()) / old);
    m_zoom = Zoom::Scale;
    m_scale = scale;
    const int oldWidth = m_displayWidth;
    UpdateDisplaySize();
    ResizeContent(oldWidth);
    const double now = Scale();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(point.x() * now - anchor.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(point.y() * now - anchor.y())));
}

void CVexelView::SetContentSize(int width, int height) {
    m_contentWidth = width;
    m_contentHeight = height;
}

void CVexelView::RecomputeScrollRanges() {
    const QSize client = viewport()->size();
    QScrollBar* bars[2] = {horizontalScrollBar(), verticalScrollBar()};
    const int content[2] = {m_contentWidth, m_contentHeight};
    const int window[2] = {client.width(), client.height()};
    for (int axis = 0; axis < 2; ++axis) {
        QScrollBar* bar = bars[axis];
        // QScrollBar clamps its value into the new range.
        bar->setRange(0, std::max(0, content[axis] - window[axis]));
        bar->setSingleStep(LINE_STEP);
        bar->setPageStep(PAGE_STEP);
    }
}

QPoint CVexelView::MapImagePoint(double x, double y) const {
    double sx = 1.0, sy = 1.0;
    if ((m_displayWidth != m_imageWidth || m_displayHeight != m_imageHeight) && m_imageWidth > 0 &&
        m_imageHeight > 0) {
        sx = static_cast<double>(m_displayWidth) / m_imageWidth;
        sy = static_cast<double>(m_displayHeight) / m_imageHeight;
    }
    // Truncation towards zero, as a cast does.
    return QPoint(static_cast<int>(sx * x) - ScrollX(), static_cast<int>(sy * y) - ScrollY());
}

void CVexelView::FillDisplayBuffer() {
    const std::size_t width = static_cast<std::size_t>(m_imageWidth);
    const std::size_t height = static_cast<std::size_t>(m_imageHeight);
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    if (channels == 3 || channels == 4) {
        // The document hands colour frames out in blue-green-red order, a
        // fourth byte per pixel (32-bit sequences) is not shown.
        const std::uint8_t* in = m_frameBuffer.data();
        for (std::size_t i = 0; i < width * height; ++i, in += channels) m_displayBuffer[i] = qRgb(in[2], in[1], in[0]);
    } else if (channels == 1) {
        for (std::size_t i = 0; i < width * height; ++i) {
            const std::uint8_t grey = m_frameBuffer[i];
            m_displayBuffer[i] = qRgb(grey, grey, grey);
        }
    }
}

void CVexelView::RefreshPicture() {
    if (!m_pictureStale && !m_docBusy) return;
    CVexelDoc::FrameShape shape;
    m_scratchBuffer.resize(m_frameBuffer.size());
    // A frame not decoded yet leaves the picture as it was, to be copied
    // again at the next drawing.
    if (m_doc->CopyFrameBytes(m_scratchBuffer.data(), m_scratchBuffer.size(), &shape) == 0) return;
    const bool fits = shape.width == m_imageWidth && shape.height == m_imageHeight && shape.channels == m_channels;
    // While a command moves through the frames, one of another size than
    // the buffers were laid out for leaves the last picture as it was.
    if (m_docBusy && !fits) return;
    if (!m_docBusy) m_pictureStale = false;
    // The same pixels keep their serial, and with it their undistorted picture.
    const auto used = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(m_imageWidth) *
                                                   static_cast<std::size_t>(m_imageHeight) *
                                                   static_cast<std::size_t>(m_channels));
    const PixelShape pixels{shape.frame, shape.width, shape.height, shape.channels};
    if (fits && pixels == m_shownShape &&
        std::equal(m_scratchBuffer.begin(), m_scratchBuffer.begin() + used, m_frameBuffer.begin()))
        return;
    m_frameBuffer.swap(m_scratchBuffer);
    m_shownShape = pixels;
    FillDisplayBuffer();
    ++m_pictureSerial;
}

void CVexelView::DrawPicture(QPainter& painter) {
    if (!HasBuffers() || m_imageWidth <= 0 || m_imageHeight <= 0) return;
    // The stored size never exceeds what the buffers were made for; check anyway.
    const std::size_t needFrame = static_cast<std::size_t>(m_imageWidth) * static_cast<std::size_t>(m_imageHeight) *
                                  static_cast<std::size_t>(std::max(m_channels, 0));
    const std::size_t needDisplay = static_cast<std::size_t>(m_imageWidth) * static_cast<std::size_t>(m_imageHeight);
    if (needFrame > m_frameBuffer.size() || needDisplay > m_displayBuffer.size()) return;
    RefreshPicture();
    if (!m_docBusy) PrepareUndistortion();
    const QImage frame(reinterpret_cast<const uchar*>(m_displayBuffer.data()), m_imageWidth, m_imageHeight,
                       m_imageWidth * 4, QImage::Format_RGB32);
    const QImage& picture = UndistortionActive() ? m_undistortedPicture : frame;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (m_displayWidth != m_imageWidth || m_displayHeight != m_imageHeight)
        painter.drawImage(QRect(-ScrollX(), -ScrollY(), m_displayWidth, m_displayHeight), picture);
    else
        painter.drawImage(QPoint(-ScrollX(), -ScrollY()), picture);
}

// Each cell's outline: its corners in their stored order, closed back to
// the first.
void CVexelView::DrawCells(QPainter& painter, const std::vector<std::vector<QPointF>>& cells) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(0, 0, 255), GRID_PEN_WIDTH, Qt::SolidLine));
    for (const std::vector<QPointF>& corners : cells) {
        if (corners.empty()) continue;
        const std::vector<QPoint> points = MapFramePoints(corners);
        QPoint previous = points.back();
        for (const QPoint& point : points) {
            painter.drawLine(previous, point);
            previous = point;
        }
    }
    painter.restore();
}

void CVexelView::DrawBoardAxes(QPainter& painter) {
    const CalibrationRecord* record = m_doc->Calibration();
    if (!record || m_doc->ReferenceFrame() < 0 || m_doc->ReferenceFrame() != m_doc->CurrentFrame()) return;
    const std::array<cv::Point2f, 4> axes = projectBoardAxes(*record);
    std::vector<QPointF> ends;
    for (const cv::Point2f& p : axes) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
        ends.emplace_back(p.x, p.y);
    }
    const std::vector<QPoint> points = MapFramePoints(ends);
    static const QColor COLOURS[3] = {QColor(230, 0, 0), QColor(0, 180, 0), QColor(0, 0, 255)};
    static const char* const NAMES[3] = {"X", "Y", "Z"};
    painter.save();
    // An axis that leaves the frame ends at its edge, clear of the report.
    painter.setClipRect(QRect(-ScrollX(), -ScrollY(), m_displayWidth, m_displayHeight));
    painter.setRenderHint(QPainter::Antialiasing, true);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    for (int axis = 0; axis < 3; ++axis) {
        painter.setPen(QPen(COLOURS[axis], AXIS_PEN_WIDTH, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(points[0], points[static_cast<std::size_t>(axis) + 1]);
        painter.drawText(points[static_cast<std::size_t>(axis) + 1] + QPoint(4, -4), QString::fromLatin1(NAMES[axis]));
    }
    // How long the axes are: one cell, in millimetres once the cell side is known.
    painter.setPen(Qt::white);
    const double cell = m_doc->CellSizeMm();
    painter.drawText(points[0] + QPoint(6, 14), cell > 0 ? QStringLiteral("%1 mm").arg(cell, 0, 'g', 6)
                                                          : QStringLiteral("1 cell"));
    painter.restore();
}

void CVexelView::DrawReport(QPainter& painter) {
    const std::vector<std::string> lines = m_docBusy ? m_snapshot.report : ReportLines();
    if (lines.empty()) return;
    // The report's room is measured from the picture as drawn, so a shrunk
    // frame leaves no empty scroll range behind it.
    ReportExtent extent{m_contentWidth, m_contentHeight};
    DrawReportLines(painter, m_displayWidth - ScrollX(), -ScrollY(), lines, m_displayWidth, extent);
    if (extent.width != m_contentWidth || extent.height != m_contentHeight) {
        SetContentSize(extent.width, extent.height);
        RecomputeScrollRanges();
    }
}

void CVexelView::Draw(QPainter& painter) {
    if (!m_doc) return;
    DrawPicture(painter);
    if (m_docBusy) {
        if (!m_snapshot.cells.empty() && m_snapshot.frame == m_doc->CurrentFrameLocked())
            DrawCells(painter, m_snapshot.cells);
    } else {
        if (m_doc->ShowGrid()) DrawCells(painter, GridCells(m_doc->CurrentFrame()));
        DrawBoardAxes(painter);
        // The dots read every frame's points: not while a command changes them.
        if (m_coverage) DrawCoverage(painter);
    }
    m_legendRight = 0;
    if (m_residuals || m_uncertainty) {
        const std::shared_ptr<const CalibrationInsight> insight = InsightForFrame();
        const int frame = m_docBusy ? m_snapshot.frame : m_doc->CurrentFrame();
        if (insight && (!m_docBusy || frame == m_doc->CurrentFrameLocked())) {
            if (m_uncertainty) DrawUncertainty(painter, insight);
            if (m_residuals) DrawResiduals(painter, *insight, frame);
        }
    }
    DrawReport(painter);
}

void CVexelView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    try {
        Draw(painter);
    } catch (...) {
        // A failure while drawing must not end the program; the picture stays
        // as far as it got and the next repaint tries again.
    }
}

void CVexelView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (m_zoom == Zoom::Fit) {
        const int oldWidth = m_displayWidth;
        UpdateDisplaySize();
        if (m_displayWidth != oldWidth) {
            ResizeContent(oldWidth);
            return;
        }
    }
    RecomputeScrollRanges();
}

void CVexelView::scrollContentsBy(int, int) { viewport()->update(); }

void CVexelView::wheelEvent(QWheelEvent* event) {
    // With Ctrl the wheel zooms about the pointer, one step a notch.
    if (event->modifiers() & Qt::ControlModifier) {
        const int notches = event->angleDelta().y();
        if (notches == 0) {
            event->ignore();
            return;
        }
        ZoomBy(std::pow(ZOOM_STEP, notches / 120.0), event->position());
        event->accept();
        return;
    }
    // 40 pixels a notch (120 eighths of a degree); a touchpad's pixel
    // deltas as they come. The wheel scrolls down and up, sideways with
    // Shift or a sideways wheel.
    QPoint delta = event->pixelDelta();
    if (delta.isNull()) delta = event->angleDelta() * WHEEL_STEP / 120;
    if (event->modifiers() & Qt::ShiftModifier && delta.x() == 0) delta = QPoint(delta.y(), 0);
    if (delta.isNull()) {
        event->ignore();
        return;
    }
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
    event->accept();
}
