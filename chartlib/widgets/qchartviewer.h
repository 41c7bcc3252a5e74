#pragma once

#include "chartcursors.h"

#include <QColor>
#include <QLabel>
#include <QString>

#include <chartbufferpool.h>
#include <viewportmanager.h>

#include <memory>

class BaseChart;
class ImageMapHandler;
class QMouseEvent;
class QWheelEvent;

// Shows a chart of the chart library as a pixmap, follows the mouse over the chart and its plot
// area, and coalesces redraws: renders asked for during a handled move or during
// viewPortChanged() become one render at its end, and viewPortChanged() comes at most once per
// hold-off interval. Offers drag-scrolling, zooming and hot-spot tooltips through the library.
class QChartViewer : public QLabel, public ViewPortManager
{
    Q_OBJECT

public:
    enum PointerMode
    {
        Pointer = 0,
        ScrollOnDrag = 1,
        ZoomIn = 3,
        ZoomOut = 4,
    };

    explicit QChartViewer(QWidget* parent = nullptr);
    ~QChartViewer() override;

    // The caller keeps ownership of the chart.
    virtual void assignChart(BaseChart* chart);
    virtual BaseChart* assignedChart();
    virtual void loadHotSpotMap(const char* imageMap);
    virtual ImageMapHandler* hotSpotHandler();
    virtual void setFallbackToolTip(const QString& tip);
    virtual void setFrameThickness(int thickness);
    virtual int frameThickness();
    virtual void setFrameColor(const QColor& color);
    virtual QColor frameColor();
    virtual void setPointerMode(int mode);
    virtual int pointerMode();
    virtual void setZoomAxes(int axes);
    virtual int zoomAxes();
    virtual void setScrollAxes(int axes);
    virtual int scrollAxes();
    virtual void setZoomInFactor(double factor);
    virtual double zoomInFactor();
    virtual void setZoomOutFactor(double factor);
    virtual double zoomOutFactor();
    virtual void setDragThreshold(int pixels);
    virtual int dragThreshold();
    virtual void setHoldOffInterval(int milliseconds);
    virtual int holdOffInterval();
    virtual bool chartRefreshPending();
    virtual bool hotSpotRefreshPending();
    virtual bool isPointerOnPlotArea();
    virtual bool isHandlingMove();
    virtual bool isSignallingViewPort();
    virtual void refreshViewPort(bool chartChanged, bool hotSpotsChanged);
    virtual void refreshImage();
    // Mode "now" drops the dynamic layer at once; "mouseleaveplotarea" and "mouseleavechart"
    // drop it when the pointer leaves the plot area or the chart; empty keeps it.
    virtual void clearDynamicLayer(const char* mode = "now");
    virtual int pointerX();
    virtual int pointerY();
    virtual int plotPointerX();
    virtual int plotPointerY();
    virtual void flushPendingMove();
    virtual void refreshCursor();

    QString dynamicLayerMode() const { return m_dynamicLayerMode; }
    bool hasPendingMove() const { return m_pendingMove != nullptr; }

signals:
    void viewPortChanged();
    void clicked(QMouseEvent* event);
    void mouseMove(QMouseEvent* event);
    void mouseWheel(QWheelEvent* event);
    void mouseMoveChart(QMouseEvent* event);
    void mouseLeaveChart(QEvent* event);
    void mouseMovePlotArea(QMouseEvent* event);
    void mouseLeavePlotArea(QEvent* event);

protected:
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct ChartReleaser
    {
        void operator()(BaseChart* chart) const;
    };

    void handleMove(QMouseEvent* event);
    void dragStep(int x, int y);
    bool passesThreshold(int axes, int x, int y) const;
    void commitImage();
    void applyDynamicLayerMode(const QString& mode);
    void placeFrame(int x, int y, int w, int h);
    void showFrame(bool show);
    void stopPendingMove();
    void updateToolTip(QMouseEvent* event);

    BaseChart* m_chart = nullptr;
    // The buffers of the charts shown here: each chart assigned renders into those of the one
    // before it.
    ChartBufferPool m_bufferPool;
    ChartCursors m_cursors;
    ImageMapHandler* m_hotSpotHandler = nullptr;
    QString m_fallbackToolTip;
    QColor m_frameColor = QColor(0, 0, 0, 255);
    int m_frameThickness = 2;
    int m_pointerMode = Pointer;
    int m_zoomAxes = 0;
    int m_scrollAxes = 0;
    double m_zoomInFactor = 2.0;
    double m_zoomOutFactor = 0.5;
    int m_dragThreshold = 5;
    int m_holdOffInterval = 20;
    bool m_chartRefreshPending = false;
    bool m_hotSpotRefreshPending = false;
    int m_currentHotSpot = -1;
    bool m_isClickable = false;
    bool m_isOnPlotArea = false;
    bool m_isPlotAreaMouseDown = false;
    bool m_isDragScrolling = false;
    bool m_isMouseTracking = false;
    bool m_isInMouseMove = false;
    int m_pressX = 0;
    int m_pressY = 0;
    QLabel* m_frameBars[4] = {nullptr, nullptr, nullptr, nullptr};
    bool m_holdOffRunning = false;
    int m_holdOffTimerId = 0;
    bool m_isInViewPortChanged = false;
    int m_delayUpdateChart = 0;
    std::unique_ptr<BaseChart, ChartReleaser> m_delayedChart;
    unsigned m_lastMouseMove = 0;
    std::unique_ptr<QMouseEvent> m_pendingMove;
    int m_pendingMoveTimerId = 0;
    int m_pointerX = 0;
    int m_pointerY = 0;
    bool m_isInExtendedPlotArea = false;
    QString m_dynamicLayerMode;
};
