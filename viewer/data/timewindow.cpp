#include "timewindow.h"

#include <QtGlobal>

#include <cmath>

namespace {

// Times are whole seconds; a window edge within this of the last sample counts as at it.
constexpr double EndTolerance = 1.0;

} // namespace

void TimeWindow::setLimits(double first, double last)
{
    m_first = first;
    m_last = qMax(first, last);
    place(m_from, m_to);
}

void TimeWindow::setMinimumSpan(double seconds)
{
    m_minimumSpan = qMax(1.0, seconds);
    place(m_from, m_to);
}

bool TimeWindow::place(double from, double to)
{
    const double period = m_last - m_first;
    double wanted = qBound(m_minimumSpan, to - from, qMax(period, m_minimumSpan));
    if (!std::isfinite(wanted))
        wanted = m_minimumSpan;
    double newFrom = (from + to) / 2 - wanted / 2;
    if (newFrom + wanted > m_last)
        newFrom = m_last - wanted;
    if (newFrom < m_first)
        newFrom = m_first;
    const double newTo = newFrom + wanted;
    const bool changed = newFrom != m_from || newTo != m_to;
    m_from = newFrom;
    m_to = newTo;
    return changed;
}

bool TimeWindow::setRange(double from, double to)
{
    if (to < from)
        qSwap(from, to);
    // A typed range keeps its start where it can, rather than its centre.
    const double span = qMax(to - from, m_minimumSpan);
    return place(from, from + span);
}

bool TimeWindow::zoomAt(double anchor, double factor)
{
    if (!(factor > 0))
        return false;
    const double wanted =
        qBound(m_minimumSpan, span() / factor, qMax(m_minimumSpan, m_last - m_first));
    const double share = span() > 0 ? (anchor - m_from) / span() : 0.5;
    const double from = anchor - share * wanted;
    return place(from, from + wanted);
}

bool TimeWindow::scrollBy(double seconds)
{
    return place(m_from + seconds, m_to + seconds);
}

bool TimeWindow::toStart()
{
    return place(m_first, m_first + span());
}

bool TimeWindow::toEnd()
{
    return place(m_last - span(), m_last);
}

bool TimeWindow::follow(double previousLast)
{
    if (m_to < previousLast - EndTolerance)
        return false;
    return toEnd();
}

bool TimeWindow::isAtEnd() const
{
    return m_to >= m_last - EndTolerance;
}

double TimeWindow::leftFraction() const
{
    const double period = m_last - m_first;
    return period > 0 ? (m_from - m_first) / period : 0.0;
}

double TimeWindow::widthFraction() const
{
    const double period = m_last - m_first;
    return period > 0 ? qMin(1.0, span() / period) : 1.0;
}

bool TimeWindow::setFractions(double left, double width)
{
    const double period = m_last - m_first;
    const double from = m_first + left * period;
    return place(from, from + width * period);
}
