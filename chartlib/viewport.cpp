#include "viewport.h"

#include <QStringList>
#include <QtMath>

#include <cmath>

namespace {

constexpr double Epsilon = 1e-9;

bool differs(double a, double b)
{
    return std::fabs(a - b) > Epsilon;
}

} // namespace

void ViewPort::setChartMetrics(const QString &metrics)
{
    const QStringList parts = metrics.split(QLatin1Char(','));
    bool ok = parts.size() == 6;
    int values[6] = {};
    for (int i = 0; ok && i < 6; ++i)
        values[i] = parts.at(i).trimmed().toInt(&ok);
    m_hasChart = ok;
    if (!ok) {
        m_plotLeft = m_plotTop = m_plotWidth = m_plotHeight = 0;
        return;
    }
    m_plotLeft = values[2];
    m_plotTop = values[3];
    m_plotWidth = qMax(0, values[4]);
    m_plotHeight = qMax(0, values[5]);
}

bool ViewPort::inPlotArea(int x, int y) const
{
    return m_hasChart && x >= m_plotLeft && x <= m_plotLeft + m_plotWidth && y >= m_plotTop
        && y <= m_plotTop + m_plotHeight;
}

bool ViewPort::inExtendedPlotArea(int x, int y) const
{
    return m_hasChart && x >= m_plotLeft - ExtendedMargin
        && x <= m_plotLeft + m_plotWidth + ExtendedMargin && y >= m_plotTop - ExtendedMargin
        && y <= m_plotTop + m_plotHeight + ExtendedMargin;
}

void ViewPort::validateViewPort()
{
    m_width = qBound(qMin(m_zoomInWidthLimit, 1.0), m_width, qMin(m_zoomOutWidthLimit, 1.0));
    m_height = qBound(qMin(m_zoomInHeightLimit, 1.0), m_height, qMin(m_zoomOutHeightLimit, 1.0));
    m_left = qBound(0.0, m_left, 1.0 - m_width);
    m_top = qBound(0.0, m_top, 1.0 - m_height);
}

bool ViewPort::canZoomIn(int axes) const
{
    return (horizontalIn(axes) && m_width > m_zoomInWidthLimit + Epsilon)
        || (verticalIn(axes) && m_height > m_zoomInHeightLimit + Epsilon);
}

bool ViewPort::canZoomOut(int axes) const
{
    return (horizontalIn(axes) && m_width < qMin(m_zoomOutWidthLimit, 1.0) - Epsilon)
        || (verticalIn(axes) && m_height < qMin(m_zoomOutHeightLimit, 1.0) - Epsilon);
}

void ViewPort::startDrag()
{
    m_dragLeft = m_left;
    m_dragTop = m_top;
}

bool ViewPort::dragTo(int axes, int dx, int dy)
{
    const double oldLeft = m_left;
    const double oldTop = m_top;
    // Dragging the content right brings earlier data into view, so the view port moves left.
    if (horizontalIn(axes) && m_plotWidth > 0)
        m_left = qBound(0.0, m_dragLeft - double(dx) / m_plotWidth * m_width, 1.0 - m_width);
    if (verticalIn(axes) && m_plotHeight > 0)
        m_top = qBound(0.0, m_dragTop - double(dy) / m_plotHeight * m_height, 1.0 - m_height);
    return differs(oldLeft, m_left) || differs(oldTop, m_top);
}

bool ViewPort::zoomAt(int axes, int x, int y, double factor)
{
    if (!(factor > 0))
        return false;
    const double oldLeft = m_left, oldTop = m_top, oldWidth = m_width, oldHeight = m_height;
    if (horizontalIn(axes) && m_plotWidth > 0) {
        const double fx = qBound(0.0, double(x - m_plotLeft) / m_plotWidth, 1.0);
        const double anchor = m_left + fx * m_width;
        m_width = qBound(qMin(m_zoomInWidthLimit, 1.0), m_width / factor, qMin(m_zoomOutWidthLimit, 1.0));
        m_left = qBound(0.0, anchor - fx * m_width, 1.0 - m_width);
    }
    if (verticalIn(axes) && m_plotHeight > 0) {
        const double fy = qBound(0.0, double(y - m_plotTop) / m_plotHeight, 1.0);
        const double anchor = m_top + fy * m_height;
        m_height = qBound(qMin(m_zoomInHeightLimit, 1.0), m_height / factor, qMin(m_zoomOutHeightLimit, 1.0));
        m_top = qBound(0.0, anchor - fy * m_height, 1.0 - m_height);
    }
    return differs(oldLeft, m_left) || differs(oldTop, m_top) || differs(oldWidth, m_width)
        || differs(oldHeight, m_height);
}

bool ViewPort::zoomTo(int axes, int x1, int y1, int x2, int y2)
{
    const double oldLeft = m_left, oldTop = m_top, oldWidth = m_width, oldHeight = m_height;
    if (horizontalIn(axes) && m_plotWidth > 0 && x1 != x2) {
        const double f1 = qBound(0.0, double(qMin(x1, x2) - m_plotLeft) / m_plotWidth, 1.0);
        const double f2 = qBound(0.0, double(qMax(x1, x2) - m_plotLeft) / m_plotWidth, 1.0);
        const double left = m_left + f1 * m_width;
        m_width = qBound(qMin(m_zoomInWidthLimit, 1.0), (f2 - f1) * m_width, 1.0);
        m_left = qBound(0.0, left, 1.0 - m_width);
    }
    if (verticalIn(axes) && m_plotHeight > 0 && y1 != y2) {
        const double f1 = qBound(0.0, double(qMin(y1, y2) - m_plotTop) / m_plotHeight, 1.0);
        const double f2 = qBound(0.0, double(qMax(y1, y2) - m_plotTop) / m_plotHeight, 1.0);
        const double top = m_top + f1 * m_height;
        m_height = qBound(qMin(m_zoomInHeightLimit, 1.0), (f2 - f1) * m_height, 1.0);
        m_top = qBound(0.0, top, 1.0 - m_height);
    }
    return differs(oldLeft, m_left) || differs(oldTop, m_top) || differs(oldWidth, m_width)
        || differs(oldHeight, m_height);
}
