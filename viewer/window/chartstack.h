#pragma once

#include "alarmeventrecord.h"
#include "trendchart.h"
#include "viewquery.h"

#include <QVector>
#include <QWidget>

class QChartViewer;
class QLabel;
class QMouseEvent;
class QWheelEvent;
class XYChart;

// The chosen channels' charts stacked on one time axis, each in a chart viewer widget. Dragging
// scrolls (through the viewers' view port), dragging with Shift held draws a frame to zoom to,
// the wheel zooms about the time under the pointer, and a track cursor follows the pointer
// through every chart. The stack only shows and reports; the window decides the time range.
class ChartStack : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Spacing = 2;

    explicit ChartStack(QWidget* parent = nullptr);
    ~ChartStack() override;

    void setChannels(const QVector<TrendChart::Look>& looks);
    int channelCount() const { return m_looks.size(); }
    // Pixel columns of each plot: the resolution to ask data for.
    int columns() const;
    // The visible range inside the recorded period, which the view ports count in.
    void setWindow(double from, double to, double first, double last, double minimumSpan);
    void setResult(const ViewQuery::Result& result);
    // The alarm events to shade: each chart those of its channel and of its node as a whole.
    // An event still active lasts until `now`.
    void setAlarmEvents(const QVector<AlarmEventRecord>& events, qint64 now);
    QVector<TrendChart::Span> alarmSpans(int index) const;
    const ViewQuery::Result& result() const { return m_result; }

    QChartViewer* viewer(int index) const { return m_viewers.value(index); }
    // The value texts the track cursor shows, one per chart; empty while it is away.
    QStringList cursorValues() const { return m_cursorValues; }
    double cursorTime() const { return m_cursorTime; }
    // Moves the track cursor to a plot x (as the pointer does); negative hides it.
    void showCursorAt(int plotX);

signals:
    // The user scrolled or drew a frame: the new window as view-port fractions.
    void fractionsChanged(double left, double width);
    void zoomRequested(double anchor, double factor);
    // The plot width changed: data must be asked for again.
    void columnsChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void redraw();
    void layoutViewers();
    void drawOverlays();
    // Chart index's look, the series it shows, and its title and cursor on its dynamic layer.
    TrendChart::Look lookOf(int index) const;
    ViewQuery::Series seriesOf(int index) const;
    void drawOverlay(int index, XYChart* chart);
    int chartHeight(int index) const;
    void viewPortMoved(QChartViewer* viewer);
    void wheel(QWheelEvent* event);

    QVector<TrendChart::Look> m_looks;
    QVector<QChartViewer*> m_viewers;
    QVector<XYChart*> m_charts;
    QLabel* m_hint = nullptr;
    ViewQuery::Result m_result;
    double m_from = 0;
    double m_to = 1;
    double m_first = 0;
    double m_last = 1;
    double m_minimumSpan = 60;
    bool m_syncing = false;
    bool m_cursorShown = false;
    double m_cursorTime = 0;
    QStringList m_cursorValues;
    QVector<AlarmEventRecord> m_events;
    qint64 m_now = 0;
    int m_lastColumns = 0;
};
