#include "chartstack.h"

#include "channelevents.h"
#include "qchartviewer.h"

#include <chartapi.h>

#include <QLabel>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double WheelStep = 1.25;
constexpr int MinimumChartHeight = 40;

// Shows the chart in the viewer (nothing for null) and frees the one it showed before.
void replaceChart(QChartViewer* viewer, BaseChart* chart)
{
    BaseChart* old = viewer->assignedChart();
    viewer->assignChart(chart);
    CBaseChart_destroy(old);
}

} // namespace

ChartStack::ChartStack(QWidget* parent) : QWidget(parent)
{
    m_hint =
        new QLabel(QStringLiteral("Tick up to eight channels on the left to see them here."), this);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setStyleSheet(QStringLiteral("color: rgb(170, 170, 170); background: transparent;"));
    setMinimumHeight(120);
}

ChartStack::~ChartStack()
{
    for (QChartViewer* viewer : m_viewers)
        replaceChart(viewer, nullptr);
}

void ChartStack::setChannels(const QVector<TrendChart::Look>& looks)
{
    while (m_viewers.size() > looks.size()) {
        QChartViewer* viewer = m_viewers.takeLast();
        replaceChart(viewer, nullptr);
        delete viewer;
    }
    while (m_viewers.size() < looks.size()) {
        auto* viewer = new QChartViewer(this);
        viewer->setPointerMode(QChartViewer::ScrollOnDrag);
        viewer->setScrollAxes(Chart::HorizontalAxis);
        viewer->setZoomAxes(Chart::HorizontalAxis);
        viewer->setFrameColor(QColor(230, 230, 230));
        viewer->installEventFilter(this);
        connect(viewer, &QChartViewer::viewPortChanged, this,
                [this, viewer]() { viewPortMoved(viewer); });
        connect(viewer, &QChartViewer::mouseWheel, this, &ChartStack::wheel);
        connect(viewer, &QChartViewer::mouseMovePlotArea, this,
                [this](QMouseEvent* event) { showCursorAt(event->x()); });
        connect(viewer, &QChartViewer::mouseLeavePlotArea, this, [this]() { showCursorAt(-1); });
        viewer->show();
        m_viewers << viewer;
    }
    m_looks = looks;
    // Room for every chart's plot, however small the window.
    const int n = looks.size();
    setMinimumHeight(qMax(120, n * MinimumChartHeight + qMax(0, n - 1) * Spacing +
                                   TrendChart::TimeLabelMargin - TrendChart::BottomMargin));
    m_result = ViewQuery::Result();
    m_hint->setVisible(looks.isEmpty());
    setWindow(m_from, m_to, m_first, m_last, m_minimumSpan);
    layoutViewers();
    redraw();
}

int ChartStack::columns() const
{
    return TrendChart::plotWidth(width());
}

void ChartStack::setWindow(double from, double to, double first, double last, double minimumSpan)
{
    m_from = from;
    m_to = to > from ? to : from + 1;
    m_first = first;
    m_last = last;
    m_minimumSpan = minimumSpan;
    const double period = m_last - m_first;
    m_syncing = true;
    for (QChartViewer* viewer : m_viewers) {
        viewer->setViewPortLeft(period > 0 ? (m_from - m_first) / period : 0);
        viewer->setViewPortWidth(period > 0 ? qMin(1.0, (m_to - m_from) / period) : 1);
        viewer->setZoomInWidthLimit(period > 0 ? qMin(1.0, minimumSpan / period) : 1);
    }
    m_syncing = false;
    redraw();
}

void ChartStack::setAlarmEvents(const QVector<AlarmEventRecord>& events, qint64 now)
{
    m_events = events;
    m_now = now;
    drawOverlays();
}

QVector<TrendChart::Span> ChartStack::alarmSpans(int index) const
{
    QVector<TrendChart::Span> spans;
    if (index < 0 || index >= m_looks.size())
        return spans;
    const TrendChart::Look& look = m_looks[index];
    for (const AlarmEventRecord& e : m_events) {
        if (!ChannelEvents::belongs(e, look.serial, look.channel))
            continue;
        const qint64 end = e.end ? *e.end : std::max(m_now, e.start);
        spans << TrendChart::Span(double(e.start), double(end));
    }
    return spans;
}

void ChartStack::setResult(const ViewQuery::Result& result)
{
    m_result = result;
    redraw();
}

int ChartStack::chartHeight(int index) const
{
    const int n = m_viewers.size();
    if (n == 0)
        return 0;
    const int extra = TrendChart::TimeLabelMargin - TrendChart::BottomMargin;
    const int base = (height() - (n - 1) * Spacing - extra) / n;
    return qMax(MinimumChartHeight, base) + (index == n - 1 ? extra : 0);
}

void ChartStack::layoutViewers()
{
    int y = 0;
    for (int i = 0; i < m_viewers.size(); ++i) {
        m_viewers[i]->move(0, y);
        y += chartHeight(i) + Spacing;
    }
    m_hint->setGeometry(rect());
}

void ChartStack::redraw()
{
    if (width() <= TrendChart::LeftMargin + TrendChart::RightMargin)
        return;
    m_cursorValues.clear();
    for (int i = 0; i < m_viewers.size(); ++i) {
        XYChart* chart = TrendChart::build(width(), chartHeight(i), m_from, m_to, seriesOf(i),
                                           m_result.from, m_result.to, lookOf(i));
        drawOverlay(i, chart);
        replaceChart(m_viewers[i], chart);
    }
}

void ChartStack::drawOverlays()
{
    m_cursorValues.clear();
    for (int i = 0; i < m_viewers.size(); ++i) {
        auto* chart = static_cast<XYChart*>(m_viewers[i]->assignedChart());
        if (!chart)
            continue;
        drawOverlay(i, chart);
        m_viewers[i]->refreshImage();
    }
}

TrendChart::Look ChartStack::lookOf(int index) const
{
    TrendChart::Look look = m_looks[index];
    // Only the lowest chart writes the times under its axis.
    look.timeLabels = index == m_viewers.size() - 1;
    return look;
}

ViewQuery::Series ChartStack::seriesOf(int index) const
{
    return index < m_result.series.size() ? m_result.series[index] : ViewQuery::Series();
}

void ChartStack::drawOverlay(int index, XYChart* chart)
{
    const TrendChart::Look look = lookOf(index);
    const QString value =
        TrendChart::drawOverlay(chart, look, seriesOf(index), m_result.from, m_result.to,
                                m_cursorShown, m_cursorTime, look.timeLabels, alarmSpans(index));
    if (m_cursorShown)
        m_cursorValues << value;
}

void ChartStack::showCursorAt(int plotX)
{
    m_cursorShown = plotX >= 0;
    if (m_cursorShown) {
        const double share = qBound(0.0, double(plotX - TrendChart::LeftMargin) / columns(), 1.0);
        m_cursorTime = m_from + share * (m_to - m_from);
        // Zoomed in to the samples, the cursor sits on the nearest one, so the time it shows is
        // the time of the values it shows.
        const ViewQuery::Series* first = m_result.series.isEmpty() ? nullptr : &m_result.series[0];
        if (first && first->kind == ViewQuery::Series::Points && !first->times.isEmpty()) {
            const auto it = std::lower_bound(first->times.begin(), first->times.end(),
                                             qint64(std::floor(m_cursorTime)));
            qint64 nearest = it == first->times.end() ? first->times.last() : *it;
            if (it != first->times.begin() &&
                std::fabs(double(*(it - 1)) - m_cursorTime) < std::fabs(nearest - m_cursorTime))
                nearest = *(it - 1);
            m_cursorTime = double(nearest);
        }
    }
    drawOverlays();
}

void ChartStack::viewPortMoved(QChartViewer* viewer)
{
    if (m_syncing)
        return;
    emit fractionsChanged(viewer->getViewPortLeft(), viewer->getViewPortWidth());
}

void ChartStack::wheel(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    const double share =
        qBound(0.0, (event->position().x() - TrendChart::LeftMargin) / columns(), 1.0);
    emit zoomRequested(m_from + share * (m_to - m_from), std::pow(WheelStep, steps));
}

void ChartStack::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutViewers();
    redraw();
    if (columns() != m_lastColumns) {
        m_lastColumns = columns();
        emit columnsChanged();
    }
}

bool ChartStack::eventFilter(QObject* watched, QEvent* event)
{
    // A drag scrolls; with Shift held it draws the frame to zoom to.
    if (event->type() == QEvent::MouseButtonPress) {
        auto* viewer = qobject_cast<QChartViewer*>(watched);
        const auto* press = static_cast<QMouseEvent*>(event);
        if (viewer)
            viewer->setPointerMode(press->modifiers() & Qt::ShiftModifier
                                       ? QChartViewer::ZoomIn
                                       : QChartViewer::ScrollOnDrag);
    }
    return QWidget::eventFilter(watched, event);
}
