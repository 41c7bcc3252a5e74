#pragma once

// The visible part of the recorded period and the steps that move it: zoom about a time,
// scroll, jump to either end, show a typed range. The window never leaves the recorded period
// and never gets narrower than the minimum span (nor wider than the period, unless the period
// itself is shorter than the minimum span).
class TimeWindow
{
public:
    void setLimits(double first, double last);
    void setMinimumSpan(double seconds);

    double first() const { return m_first; }
    double last() const { return m_last; }
    double from() const { return m_from; }
    double to() const { return m_to; }
    double span() const { return m_to - m_from; }
    double minimumSpan() const { return m_minimumSpan; }

    // Each returns true when the window changed.
    bool setRange(double from, double to);
    // factor above 1 zooms in; the time under the anchor stays where it is.
    bool zoomAt(double anchor, double factor);
    bool scrollBy(double seconds);
    bool toStart();
    bool toEnd();
    // Moves the window so that it ends at the last sample, when it ended there before the
    // period grew (the right edge was at the newest data).
    bool follow(double previousLast);
    bool isAtEnd() const;

    // The window as fractions of the period, the way a chart view port counts.
    double leftFraction() const;
    double widthFraction() const;
    bool setFractions(double left, double width);

private:
    bool place(double from, double to);

    double m_first = 0;
    double m_last = 0;
    double m_from = 0;
    double m_to = 0;
    double m_minimumSpan = 60;
};
