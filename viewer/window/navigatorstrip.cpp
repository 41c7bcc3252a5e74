#include "navigatorstrip.h"

#include "trendchart.h"

#include <chartapi.h>

#include <QMouseEvent>
#include <QPainter>

NavigatorStrip::NavigatorStrip(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumHeight(40);
}

void NavigatorStrip::setPeriod(double first, double last)
{
    m_first = first;
    m_last = last > first ? last : first + 1;
    update();
}

void NavigatorStrip::setWindow(double from, double to)
{
    m_from = from;
    m_to = to;
    update();
}

void NavigatorStrip::setOverview(const ViewQuery::Result& result)
{
    XYChart* chart =
        TrendChart::buildOverview(width(), height(), result.from, result.to, result.series);
    const char* bytes = nullptr;
    int length = 0;
    CBaseChart_makeChart2(chart, Chart::RawImage, &bytes, &length);
    m_overview.loadFromData(reinterpret_cast<const uchar*>(bytes), uint(length));
    CBaseChart_destroy(chart);
    update();
}

double NavigatorStrip::timeAt(int x) const
{
    return m_first + double(x) / qMax(1, width()) * (m_last - m_first);
}

int NavigatorStrip::xAt(double time) const
{
    return int((time - m_first) / (m_last - m_first) * width() + 0.5);
}

QRect NavigatorStrip::windowRect() const
{
    const int left = qBound(0, xAt(m_from), width() - 1);
    const int right = qBound(left + 2, xAt(m_to), width());
    return QRect(left, 0, right - left, height());
}

void NavigatorStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(48, 48, 48));
    if (!m_overview.isNull())
        p.drawPixmap(0, 0, m_overview);
    const QRect window = windowRect();
    const QColor shade(0, 0, 0, 120);
    p.fillRect(QRect(0, 0, window.left(), height()), shade);
    p.fillRect(QRect(window.right() + 1, 0, width() - window.right() - 1, height()), shade);
    p.fillRect(window, QColor(255, 255, 255, 28));
    p.setPen(QPen(QColor(230, 230, 230), 1));
    p.drawRect(window.adjusted(0, 0, -1, -1));
    // Grips on both edges.
    p.fillRect(QRect(window.left(), height() / 2 - 8, 3, 16), QColor(230, 230, 230));
    p.fillRect(QRect(window.right() - 2, height() / 2 - 8, 3, 16), QColor(230, 230, 230));
}

void NavigatorStrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QRect window = windowRect();
    const int x = event->x();
    m_pressX = x;
    if (qAbs(x - window.left()) <= EdgeGrip) {
        m_drag = LeftEdge;
    } else if (qAbs(x - window.right()) <= EdgeGrip) {
        m_drag = RightEdge;
    } else {
        m_drag = Move;
        if (!window.contains(event->pos())) {
            // Centre the window where the press was, then drag it from there.
            const double half = (m_to - m_from) / 2;
            emit windowRequested(timeAt(x) - half, timeAt(x) + half);
        }
    }
    m_pressFrom = m_from;
    m_pressTo = m_to;
}

void NavigatorStrip::mouseMoveEvent(QMouseEvent* event)
{
    if (m_drag == None) {
        const QRect window = windowRect();
        const int x = event->x();
        const bool onEdge =
            qAbs(x - window.left()) <= EdgeGrip || qAbs(x - window.right()) <= EdgeGrip;
        setCursor(onEdge                          ? Qt::SizeHorCursor
                  : window.contains(event->pos()) ? Qt::OpenHandCursor
                                                  : Qt::ArrowCursor);
        return;
    }
    const double shift = timeAt(event->x()) - timeAt(m_pressX);
    if (m_drag == Move)
        emit windowRequested(m_pressFrom + shift, m_pressTo + shift);
    else if (m_drag == LeftEdge)
        emit windowRequested(qMin(m_pressFrom + shift, m_pressTo), m_pressTo);
    else
        emit windowRequested(m_pressFrom, qMax(m_pressTo + shift, m_pressFrom));
}

void NavigatorStrip::mouseReleaseEvent(QMouseEvent*)
{
    m_drag = None;
}

void NavigatorStrip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit overviewWanted();
}
