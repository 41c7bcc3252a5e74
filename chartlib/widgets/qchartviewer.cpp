#include "qchartviewer.h"

#include "chartcursors.h"

#include <chartapi.h>
#include <imagemaphandler.h>

#include <QMetaMethod>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimerEvent>
#include <QToolTip>
#include <QWheelEvent>

#include <chrono>
#include <cstdlib>

namespace {

// Milliseconds of a monotonic process clock; only differences are used, in unsigned arithmetic
// so that wrapping does no harm.
unsigned processClockMs()
{
    using namespace std::chrono;
    return unsigned(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

constexpr unsigned ThrottleMs = 10;
constexpr unsigned MaxHoldMs = 250;

} // namespace

void QChartViewer::ChartReleaser::operator()(BaseChart* chart) const
{
    CBaseChart_destroy(chart);
}

QChartViewer::QChartViewer(QWidget* parent) : QLabel(parent)
{
    setMouseTracking(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QChartViewer::~QChartViewer()
{
    if (m_hotSpotHandler)
        CImageMapHandler_destroy(m_hotSpotHandler);
}

void QChartViewer::assignChart(BaseChart* chart)
{
    m_chart = chart;
    loadHotSpotMap(nullptr);
    if (chart) {
        CBaseChart_setBufferPool(chart, &m_bufferPool);
        CViewPortManager_commitPendingSyncAxis(m_vpm, chart);
        // Listeners inside the running handler may ask for coordinates before the render.
        if (m_delayUpdateChart != 0)
            CBaseChart_makeChart3(chart);
    }
    refreshImage();
}

BaseChart* QChartViewer::assignedChart()
{
    return m_chart;
}

void QChartViewer::loadHotSpotMap(const char* imageMap)
{
    if (m_hotSpotHandler) {
        CImageMapHandler_destroy(m_hotSpotHandler);
        m_hotSpotHandler = nullptr;
    }
    m_currentHotSpot = -1;
    m_isClickable = false;
    if (imageMap && *imageMap)
        m_hotSpotHandler = CImageMapHandler_create(imageMap);
}

ImageMapHandler* QChartViewer::hotSpotHandler()
{
    return m_hotSpotHandler;
}
void QChartViewer::setFallbackToolTip(const QString& tip)
{
    m_fallbackToolTip = tip;
}
void QChartViewer::setFrameThickness(int thickness)
{
    m_frameThickness = thickness;
}
int QChartViewer::frameThickness()
{
    return m_frameThickness;
}

void QChartViewer::setFrameColor(const QColor& color)
{
    m_frameColor = color;
    for (QLabel* bar : m_frameBars) {
        if (!bar)
            continue;
        QPalette palette = bar->palette();
        palette.setColor(QPalette::Button, color);
        palette.setColor(QPalette::Window, color);
        bar->setPalette(palette);
    }
}

QColor QChartViewer::frameColor()
{
    return m_frameColor;
}
void QChartViewer::setPointerMode(int mode)
{
    m_pointerMode = mode;
}
int QChartViewer::pointerMode()
{
    return m_pointerMode;
}
void QChartViewer::setZoomAxes(int axes)
{
    m_zoomAxes = axes;
}
int QChartViewer::zoomAxes()
{
    return m_zoomAxes;
}
void QChartViewer::setScrollAxes(int axes)
{
    m_scrollAxes = axes;
}
int QChartViewer::scrollAxes()
{
    return m_scrollAxes;
}
void QChartViewer::setZoomInFactor(double factor)
{
    m_zoomInFactor = factor;
}
double QChartViewer::zoomInFactor()
{
    return m_zoomInFactor;
}
void QChartViewer::setZoomOutFactor(double factor)
{
    m_zoomOutFactor = factor;
}
double QChartViewer::zoomOutFactor()
{
    return m_zoomOutFactor;
}
void QChartViewer::setDragThreshold(int pixels)
{
    m_dragThreshold = pixels;
}
int QChartViewer::dragThreshold()
{
    return m_dragThreshold;
}
void QChartViewer::setHoldOffInterval(int milliseconds)
{
    m_holdOffInterval = milliseconds;
}
int QChartViewer::holdOffInterval()
{
    return m_holdOffInterval;
}
bool QChartViewer::chartRefreshPending()
{
    return m_chartRefreshPending;
}
bool QChartViewer::hotSpotRefreshPending()
{
    return m_hotSpotRefreshPending;
}

bool QChartViewer::isPointerOnPlotArea()
{
    return m_isMouseTracking && CViewPortManager_inExtendedPlotArea(m_vpm, m_pointerX, m_pointerY);
}

bool QChartViewer::isHandlingMove()
{
    return m_isInMouseMove;
}
bool QChartViewer::isSignallingViewPort()
{
    return m_isInViewPortChanged;
}
int QChartViewer::pointerX()
{
    return m_pointerX;
}
int QChartViewer::pointerY()
{
    return m_pointerY;
}

int QChartViewer::plotPointerX()
{
    const int left = CViewPortManager_getPlotAreaLeft(m_vpm);
    const int width = CViewPortManager_getPlotAreaWidth(m_vpm);
    return qBound(left, m_pointerX, left + width);
}

int QChartViewer::plotPointerY()
{
    const int top = CViewPortManager_getPlotAreaTop(m_vpm);
    const int height = CViewPortManager_getPlotAreaHeight(m_vpm);
    return qBound(top, m_pointerY, top + height);
}

void QChartViewer::refreshViewPort(bool chartChanged, bool hotSpotsChanged)
{
    if (m_isInViewPortChanged)
        return;
    m_chartRefreshPending = m_chartRefreshPending || chartChanged;
    m_hotSpotRefreshPending = hotSpotsChanged;
    if (m_holdOffRunning)
        return;

    const bool startedDeferring = m_delayUpdateChart == 0;
    if (startedDeferring)
        m_delayUpdateChart = 1;

    CViewPortManager_validateViewPort(m_vpm);
    m_isInViewPortChanged = true;
    emit viewPortChanged();
    m_isInViewPortChanged = false;

    if (startedDeferring)
        commitImage();

    m_chartRefreshPending = false;
    m_hotSpotRefreshPending = false;
    if (m_holdOffInterval > 0) {
        m_holdOffTimerId = startTimer(m_holdOffInterval, Qt::CoarseTimer);
        m_holdOffRunning = m_holdOffTimerId != 0;
    }
}

void QChartViewer::refreshImage()
{
    if (m_delayUpdateChart == 0) {
        commitImage();
        return;
    }
    m_delayUpdateChart = 2;
    m_delayedChart.reset(m_chart ? CBaseChart_share(m_chart) : nullptr);
}

void QChartViewer::commitImage()
{
    if (m_delayUpdateChart == 1) {
        m_delayUpdateChart = 0;
        return;
    }
    BaseChart* chart = m_delayUpdateChart == 2 ? m_delayedChart.get() : m_chart;
    QPixmap pixmap;
    const char* metrics = nullptr;
    if (chart) {
        const char* bytes = nullptr;
        int length = 0;
        CBaseChart_makeChart2(chart, Chart::RawImage, &bytes, &length);
        pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes), uint(length));
        setFixedSize(CBaseChart_getWidth(chart), CBaseChart_getHeight(chart));
        metrics = CBaseChart_getChartMetrics(chart);
    }
    setPixmap(pixmap);
    CViewPortManager_setChartMetrics(m_vpm, metrics);
    m_delayUpdateChart = 0;
    m_delayedChart.reset();
}

void QChartViewer::clearDynamicLayer(const char* mode)
{
    const QString given = mode ? QString::fromUtf8(mode) : QString();
    m_dynamicLayerMode = given.toLower();
    // Only the exact word applies at once; "NOW" is stored as "now" but never matches later.
    if (m_dynamicLayerMode == QLatin1String("now") && given == m_dynamicLayerMode)
        applyDynamicLayerMode(given);
}

void QChartViewer::applyDynamicLayerMode(const QString& mode)
{
    if (mode != m_dynamicLayerMode)
        return;
    if (m_chart)
        CBaseChart_removeDynamicLayer(m_chart);
    m_dynamicLayerMode.clear();
    refreshImage();
}

void QChartViewer::stopPendingMove()
{
    if (m_pendingMoveTimerId != 0) {
        killTimer(m_pendingMoveTimerId);
        m_pendingMoveTimerId = 0;
    }
    m_pendingMove.reset();
}

void QChartViewer::flushPendingMove()
{
    if (m_pendingMove) {
        // Handling ends by dropping the copy, so keep it alive while it is handled.
        std::unique_ptr<QMouseEvent> event = std::move(m_pendingMove);
        handleMove(event.get());
    }
    stopPendingMove();
}

void QChartViewer::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_holdOffTimerId && m_holdOffRunning) {
        killTimer(m_holdOffTimerId);
        m_holdOffTimerId = 0;
        m_holdOffRunning = false;
        if (m_chartRefreshPending || m_hotSpotRefreshPending)
            refreshViewPort(m_chartRefreshPending, m_hotSpotRefreshPending);
        return;
    }
    if (event->timerId() == m_pendingMoveTimerId && m_pendingMoveTimerId != 0) {
        flushPendingMove();
        return;
    }
    QLabel::timerEvent(event);
}

void QChartViewer::mouseMoveEvent(QMouseEvent* event)
{
    m_isMouseTracking = true;
    emit mouseMove(event);

    const unsigned elapsed = processClockMs() - m_lastMouseMove;
    if ((m_pendingMove && elapsed < MaxHoldMs) || elapsed < ThrottleMs) {
        if (!m_pendingMove)
            m_pendingMoveTimerId = startTimer(1, Qt::CoarseTimer);
        m_pendingMove =
            std::make_unique<QMouseEvent>(event->type(), event->localPos(), event->screenPos(),
                                          event->button(), event->buttons(), event->modifiers());
    } else {
        handleMove(event);
    }
    refreshCursor();
}

void QChartViewer::handleMove(QMouseEvent* event)
{
    const int x = event->x();
    const int y = event->y();
    m_pointerX = x;
    m_pointerY = y;
    m_delayUpdateChart = 1;
    m_isInMouseMove = true;

    m_isOnPlotArea = m_isPlotAreaMouseDown || CViewPortManager_inPlotArea(m_vpm, x, y);
    if (m_isPlotAreaMouseDown)
        dragStep(x, y);

    emit mouseMoveChart(event);

    if (CViewPortManager_inExtendedPlotArea(m_vpm, x, y)) {
        m_isInExtendedPlotArea = true;
        emit mouseMovePlotArea(event);
    } else if (m_isInExtendedPlotArea) {
        m_isInExtendedPlotArea = false;
        emit mouseLeavePlotArea(event);
        applyDynamicLayerMode(QStringLiteral("mouseleaveplotarea"));
    }

    updateToolTip(event);
    stopPendingMove();

    commitImage();
    m_isInMouseMove = false;
    m_lastMouseMove = processClockMs();
}

void QChartViewer::updateToolTip(QMouseEvent* event)
{
    if (event->buttons() != Qt::NoButton) {
        QToolTip::hideText();
        return;
    }
    const int hotSpot = m_hotSpotHandler
                            ? CImageMapHandler_getHotSpot(m_hotSpotHandler, event->x(), event->y())
                            : 0;
    if (hotSpot == m_currentHotSpot)
        return;
    m_currentHotSpot = hotSpot;
    if (hotSpot == 0) {
        if (m_fallbackToolTip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), m_fallbackToolTip, this);
        m_isClickable = false;
        return;
    }
    const char* path = CImageMapHandler_getValue(m_hotSpotHandler, "path");
    m_isClickable = path && *path;
    const char* title = CImageMapHandler_getValue(m_hotSpotHandler, "title");
    const QString tip = title ? QString::fromUtf8(title) : QString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPos(), tip, this);
}

bool QChartViewer::passesThreshold(int axes, int x, int y) const
{
    return (std::abs(x - m_pressX) >= m_dragThreshold && axes != 1) ||
           (std::abs(y - m_pressY) >= m_dragThreshold && axes != 0);
}

void QChartViewer::dragStep(int x, int y)
{
    if (m_pointerMode == ScrollOnDrag) {
        if (m_isDragScrolling || passesThreshold(m_scrollAxes, x, y)) {
            m_isDragScrolling = true;
            if (CViewPortManager_dragTo(m_vpm, m_scrollAxes, x - m_pressX, y - m_pressY))
                refreshViewPort(true, false);
        }
    } else if (m_pointerMode == ZoomIn) {
        if (CViewPortManager_canZoomIn(m_vpm, m_zoomAxes) && passesThreshold(m_zoomAxes, x, y)) {
            const int left = CViewPortManager_getPlotAreaLeft(m_vpm);
            const int top = CViewPortManager_getPlotAreaTop(m_vpm);
            const int width = CViewPortManager_getPlotAreaWidth(m_vpm);
            const int height = CViewPortManager_getPlotAreaHeight(m_vpm);
            if (m_zoomAxes == 0)
                placeFrame(x, top, m_pressX - x, height);
            else if (m_zoomAxes == 1)
                placeFrame(left, y, width, m_pressY - y);
            else
                placeFrame(x, y, m_pressX - x, m_pressY - y);
            showFrame(true);
        } else {
            showFrame(false);
        }
    }
}

void QChartViewer::placeFrame(int x, int y, int w, int h)
{
    if (!m_frameBars[0]) {
        for (QLabel*& bar : m_frameBars) {
            bar = new QLabel(this);
            bar->setAutoFillBackground(true);
            bar->hide();
        }
        setFrameColor(frameColor());
    }
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    const int t = m_frameThickness;
    m_frameBars[0]->setGeometry(x, y, w, t);
    m_frameBars[1]->setGeometry(x, y, t, h);
    m_frameBars[2]->setGeometry(x, y + h - t + 1, w, t);
    m_frameBars[3]->setGeometry(x + w - t + 1, y, t, h);
}

void QChartViewer::showFrame(bool show)
{
    if (show && !m_frameBars[0])
        placeFrame(0, 0, 0, 0);
    if (!m_frameBars[0])
        return;
    for (QLabel* bar : m_frameBars)
        bar->setVisible(show);
}

void QChartViewer::mousePressEvent(QMouseEvent* event)
{
    flushPendingMove();
    if (event->button() != Qt::LeftButton)
        return;
    if (CViewPortManager_inPlotArea(m_vpm, event->x(), event->y()) && m_pointerMode != Pointer) {
        m_isPlotAreaMouseDown = true;
        m_pressX = event->x();
        m_pressY = event->y();
        CViewPortManager_startDrag(m_vpm);
    }
}

void QChartViewer::mouseReleaseEvent(QMouseEvent* event)
{
    flushPendingMove();
    if (event->button() == Qt::LeftButton && m_isPlotAreaMouseDown) {
        m_isPlotAreaMouseDown = false;
        if (m_frameBars[0])
            showFrame(false);
        bool changed = false;
        const int x = event->x();
        const int y = event->y();
        if (m_pointerMode == ZoomIn) {
            if (CViewPortManager_canZoomIn(m_vpm, m_zoomAxes)) {
                if (passesThreshold(m_zoomAxes, x, y))
                    changed = CViewPortManager_zoomTo(m_vpm, m_zoomAxes, m_pressX, m_pressY, x, y);
                else
                    changed = CViewPortManager_zoomAt(m_vpm, m_zoomAxes, x, y, m_zoomInFactor);
            }
        } else if (m_pointerMode == ZoomOut) {
            if (CViewPortManager_canZoomOut(m_vpm, m_zoomAxes))
                changed = CViewPortManager_zoomAt(m_vpm, m_zoomAxes, x, y, m_zoomOutFactor);
        } else if (m_isDragScrolling) {
            refreshViewPort(false, true);
        } else {
            emit clicked(event);
        }
        m_isDragScrolling = false;
        if (changed)
            refreshViewPort(true, true);
    } else {
        emit clicked(event);
    }
    refreshCursor();
}

void QChartViewer::wheelEvent(QWheelEvent* event)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&QChartViewer::mouseWheel))) {
        flushPendingMove();
        // Taken by the listener (which may still ignore it) rather than passed to the parent.
        event->accept();
        emit mouseWheel(event);
    } else {
        event->ignore();
    }
}

void QChartViewer::leaveEvent(QEvent* event)
{
    flushPendingMove();
    m_isMouseTracking = false;
    if (m_isInExtendedPlotArea) {
        m_isInExtendedPlotArea = false;
        emit mouseLeavePlotArea(event);
        applyDynamicLayerMode(QStringLiteral("mouseleaveplotarea"));
    }
    emit mouseLeaveChart(event);
    applyDynamicLayerMode(QStringLiteral("mouseleavechart"));
}

void QChartViewer::refreshCursor()
{
    if (m_isDragScrolling) {
        const ChartCursors::Kind kind = m_scrollAxes == 0   ? ChartCursors::ScrollHorizontal
                                        : m_scrollAxes == 1 ? ChartCursors::ScrollVertical
                                                            : ChartCursors::ScrollBoth;
        setCursor(m_cursors.cursor(kind));
    } else if (m_isOnPlotArea && m_pointerMode == ZoomIn) {
        setCursor(m_cursors.cursor(CViewPortManager_canZoomIn(m_vpm, m_zoomAxes)
                                       ? ChartCursors::ZoomIn
                                       : ChartCursors::NoZoom));
    } else if (m_isOnPlotArea && m_pointerMode == ZoomOut) {
        setCursor(m_cursors.cursor(CViewPortManager_canZoomOut(m_vpm, m_zoomAxes)
                                       ? ChartCursors::ZoomOut
                                       : ChartCursors::NoZoom));
    } else if (m_isClickable) {
        setCursor(Qt::PointingHandCursor);
    } else {
        unsetCursor();
    }
}
