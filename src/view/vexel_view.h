#pragma once
// The one view of the document: the current frame as a picture, reduced to
// fit inside 800 x 600 when it is large and shrinking is on, fitted to the
// window or zoomed, the grid cells of the frame outlined on top, and the
// calibration report to the right of the picture. The view owns two pixel
// buffers sized for the frame and nothing else of the document's data.

#include "calibration/calibration_record.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QPointF>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CVexelDoc;
struct CalibrationInsight;
class QPainter;
class QPointF;
class UndistortWorker;

class CVexelView : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr int LARGE_WIDTH = 1024;   // wider than this is large
    static constexpr int LARGE_HEIGHT = 768;   // higher than this is large
    static constexpr int SHRUNK_WIDTH = 800;   // a shrunk large frame fits inside this
    static constexpr int SHRUNK_HEIGHT = 600;
    static constexpr int LINE_STEP = 1;        // one scroll line, in pixels
    static constexpr int PAGE_STEP = 32;       // one scroll page, in pixels
    static constexpr int GRID_PEN_WIDTH = 2;
    static constexpr int AXIS_PEN_WIDTH = 3;
    static constexpr int WHEEL_STEP = 40;      // pixels scrolled per wheel notch
    static constexpr double ZOOM_STEP = 1.25;  // Zoom In, Zoom Out and one Ctrl+wheel notch
    static constexpr double MIN_ZOOM = 1.0 / 32;
    static constexpr double MAX_ZOOM = 32.0;

    // How the picture's size is chosen: by the shrink flag (large frames
    // inside 800 x 600 while shrinking, else actual size), to fit the
    // window (never enlarged), or at a scale the user zoomed to.
    enum class Zoom { Shrink, Fit, Scale };

    explicit CVexelView(CVexelDoc* doc, QWidget* parent = nullptr);
    ~CVexelView() override;

    CVexelDoc* GetDocument() const { return m_doc; }

    // The document changed: re-reads the current frame's size, makes the
    // buffers anew when the frame outgrows them, and repaints.
    void OnUpdate();
    // "Shrink Large Images": flips the shrink flag and scrolls back to the
    // origin; the picture's size follows the shrink flag again.
    void OnShrinkLargeImages();
    // View > Fit to Window: on, the picture fills the window as far as it
    // can without being enlarged and follows the window's size; off, it
    // stays at the scale it has.
    void OnFitToWindow();
    void SetZoom(Zoom zoom);
    Zoom ZoomMode() const { return m_zoom; }
    // Zoom In and Zoom Out by ZOOM_STEP about the window's centre; Actual
    // Size shows one frame pixel per screen pixel.
    void OnZoomIn();
    void OnZoomOut();
    void OnActualSize();
    // Scales the picture by `factor` (the scale kept between MIN_ZOOM and
    // MAX_ZOOM) so that the frame point under `anchor` (viewport pixels)
    // stays where it is.
    void ZoomBy(double factor, QPointF anchor);
    // Drawn pixels per frame pixel (1 without a frame).
    double Scale() const;
    // Print: this build has no printer support; returns false so the caller
    // can say so.
    bool OnFilePrint() { return false; }

    // Frees the old buffers; with all three values positive makes new ones
    // and sets the large-image flag and the display size.
    void AllocateBuffers(int width, int height, int channels);
    void ReleaseBuffers();
    // Scroll bar ranges for the content size and the viewport: 0 to
    // max(0, content - viewport) per axis, 1-pixel lines, 32-pixel pages.
    void RecomputeScrollRanges();
    // Raises nothing: sets the scrollable extent (the report widens it).
    void SetContentSize(int width, int height);

    // Draws picture, overlay and report at the current scroll position.
    void Draw(QPainter& painter);

    // Where an image point (full-resolution pixels) lands on the viewport.
    QPoint MapImagePoint(double x, double y) const;
    // Where frame points land on the viewport as the frame is drawn now:
    // moved as the lens distortion is removed when the frame is drawn
    // undistorted, then as MapImagePoint places them.
    std::vector<QPoint> MapFramePoints(const std::vector<QPointF>& points) const;

    // View > Undistorted: the frame is drawn without the lens distortion of
    // the calibration, and the grid and the coverage dots move with it.
    // Switching it on needs a calibration that fits the frame: returns
    // false, and stays off, without one (UndistortionProblem says why). It
    // goes off by itself when the calibration goes. The distortion is
    // removed on a thread of its own: until the picture is ready the frame
    // is drawn as it is, and a frame the calibration does not fit is drawn
    // as it is (the view says why with UndistortionRefused).
    bool OnUndistorted();
    // Why the frame on screen cannot be drawn undistorted now (empty: it can).
    QString UndistortionProblem() const;
    // An undistorted picture is being made.
    bool UndistortionPending() const { return m_undistortPending; }
    // View > Coverage: the correspondences of every frame in use, of the
    // current frame's size, drawn as dots over the current frame. Refused
    // (false, CoverageProblem says why) while a calibration of another size
    // than the frame is held.
    bool OnCoverage();
    QString CoverageProblem() const { return m_coverageProblem; }
    bool Undistorted() const;
    bool Coverage() const { return m_coverage; }
    // View > Residuals: after an intrinsic calibration, every correspondence
    // of the frame as its detected point, its reprojected point and the
    // error between them scaled up (the scale in a legend), coloured by
    // length, the frame's worst corners ringed.
    void OnResiduals();
    bool Residuals() const { return m_residuals; }
    // The scale the errors are drawn at (0 without a calibration's
    // residuals): a round number that draws most errors a few hundredths of
    // the image's diagonal long.
    double ResidualScale() const;
    // View > Uncertainty: how far a projection may be off across the frame,
    // as colours with labelled contour lines, and where it is high the
    // advice to put the board there.
    void OnUncertainty();
    bool Uncertainty() const { return m_uncertainty; }
    static constexpr const char* ADD_VIEWS_HERE = "add views that put the board here";
    // How often the undistorted drawing made its maps (once per calibration
    // and frame size).
    std::uint64_t UndistortMapBuilds() const;
    static constexpr int COVERAGE_DOT_RADIUS = 2;

    // While a command changes the document on another thread, drawing reads
    // from it only what its lock guards (the pixels of the current frame);
    // the overlay and the report come from what the view took at the last
    // update, the overlay only while that frame is on screen.
    void SetDocumentBusy(bool busy);
    bool DocumentBusy() const { return m_docBusy; }
    // The report's lines for the document as it is now: the record's lines,
    // then how well the calibration fits (empty without a record).
    std::vector<std::string> ReportLines() const;

    bool ShrinkLargeImages() const { return m_shrink; }
    bool IsLargeImage() const { return m_large; }
    bool IsShrinking() const { return m_zoom == Zoom::Shrink && m_large && m_shrink; }
    bool HasBuffers() const { return !m_displayBuffer.empty(); }
    int ImageWidth() const { return m_imageWidth; }
    int ImageHeight() const { return m_imageHeight; }
    int Channels() const { return m_channels; }
    int DisplayWidth() const { return m_displayWidth; }
    int DisplayHeight() const { return m_displayHeight; }
    int ContentWidth() const { return m_contentWidth; }
    int ContentHeight() const { return m_contentHeight; }
    int ScrollX() const;
    int ScrollY() const;

Q_SIGNALS:
    // The undistorted drawing is on, but the frame now on screen cannot be
    // drawn so: `reason` says why.
    void UndistortionRefused(const QString& reason);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The large-image flag and the display size for the stored frame size:
    // a large frame, while shrinking, fits inside 800 x 600 with its aspect
    // ratio kept; fitted or zoomed as the zoom says.
    void UpdateDisplaySize();
    // After the display size changed: the content is the picture and the
    // report's room beside it, and the scroll ranges follow.
    void ResizeContent(int oldDisplayWidth);
    void FillDisplayBuffer();
    // Copies the current frame's pixels when the document changed since the
    // last copy (always while a command runs); the picture's serial grows
    // only when the pixels did change.
    void RefreshPicture();
    void DrawPicture(QPainter& painter);
    // The outlines of the frame's cells that are in its grid, image pixels.
    std::vector<std::vector<QPointF>> GridCells(int frame) const;
    void DrawCells(QPainter& painter, const std::vector<std::vector<QPointF>>& cells);
    void DrawReport(QPainter& painter);
    // After an extrinsic calibration, on its frame: the board's axes from
    // its origin, one cell long, X red, Y green, Z blue.
    void DrawBoardAxes(QPainter& painter);
    // With the undistorted drawing on: asks for the picture without the
    // distortion when the one held is not of this frame's pixels and this
    // calibration; switches the drawing off when there is no calibration
    // any more.
    void PrepareUndistortion();
    // The undistorted picture held is that of the frame on screen now.
    bool UndistortionActive() const;
    void OnUndistortedPicture(std::uint64_t request, const QImage& picture);
    void DrawCoverage(QPainter& painter);
    // The calibration's insight to draw over the current frame: null when
    // there is none or it was made for frames of another size.
    std::shared_ptr<const CalibrationInsight> InsightForFrame() const;
    void DrawResiduals(QPainter& painter, const CalibrationInsight& insight, int frame);
    void DrawUncertainty(QPainter& painter, const std::shared_ptr<const CalibrationInsight>& insight);
    // A box with `lines`, and under them `ramp` (a colour scale) when
    // given: under the picture where the window has room for it, else
    // inside the picture at its bottom edge; to the right of the legends
    // drawn before it.
    void DrawLegend(QPainter& painter, const std::vector<QString>& lines, const QImage* ramp = nullptr);
    // What drawing needs from the document beyond the pixels, taken while
    // nothing else changes it.
    void TakeSnapshot();

    CVexelDoc* m_doc;
    // The frame as 32-bit 0xffRRGGBB pixels, rows top to bottom, the form
    // the window system draws from without converting.
    std::vector<std::uint32_t> m_displayBuffer;
    // The raw copy of the current frame as the document hands it out
    // (packed rows), and the next copy, kept apart until it is known to
    // differ. The picture's serial grows with every change of its pixels.
    std::vector<std::uint8_t> m_frameBuffer, m_scratchBuffer;
    bool m_pictureStale = true;
    std::uint64_t m_pictureSerial = 0;
    struct PixelShape {
        int frame = -1, width = 0, height = 0, channels = 0;
        bool operator==(const PixelShape&) const = default;
    } m_shownShape;  // of the pixels shown
    int m_imageWidth = 0;
    int m_imageHeight = 0;
    int m_channels = 0;
    bool m_large = false;
    int m_displayWidth = 0;
    int m_displayHeight = 0;
    int m_contentWidth = 0;
    int m_contentHeight = 0;
    bool m_shrink = true;
    Zoom m_zoom = Zoom::Shrink;
    double m_scale = 1.0;  // with Zoom::Scale
    bool m_undistorted = false;
    bool m_coverage = false;
    bool m_residuals = false;
    bool m_uncertainty = false;
    int m_legendRight = 0;  // the right edge of the legends drawn so far
    // What the uncertainty drawing makes once per insight: the colours and
    // the contour lines with their levels. It keeps its insight, so that
    // another cannot take its place at the same address.
    struct UncertaintyPicture {
        std::shared_ptr<const CalibrationInsight> insight;
        std::shared_ptr<QImage> colours;
        std::vector<std::pair<double, std::vector<std::vector<QPointF>>>> contours;
        std::vector<std::vector<QPointF>> highOutline;
    };
    std::shared_ptr<UncertaintyPicture> m_uncertaintyPicture;
    std::unique_ptr<UndistortWorker> m_undistortWorker;
    // The undistorted picture held, of which pixels and calibration, and
    // the request being worked on.
    QImage m_undistortedPicture;
    std::uint64_t m_undistortedSerial = 0;
    CalibrationRecord m_undistortedRecord;
    bool m_undistortPending = false;
    std::uint64_t m_requestId = 0;
    std::uint64_t m_requestedSerial = 0;
    CalibrationRecord m_requestedRecord;
    QString m_refusal;  // the last reason given by UndistortionRefused
    QString m_coverageProblem;

    bool m_docBusy = false;
    struct Snapshot {
        int frame = -1;
        std::vector<std::vector<QPointF>> cells;  // the grid cells drawn, image pixels
        std::vector<std::string> report;
        std::shared_ptr<const CalibrationInsight> insight;
    } m_snapshot;
};
