#pragma once

#include <QString>

#include <limits>

// Formats numbers and chart times the way axis labels and the mark-up templates ask:
// "{value|hh:nn:ss}" for clock time, "{value|2.}" for two decimals.
class ValueFormat
{
public:
    // For a date pattern: the local clock's offset from UTC is looked up at the value. A caller
    // that knows it (an axis laying out its ticks) passes it instead and saves the look-up.
    static constexpr int OffsetAtValue = std::numeric_limits<int>::min();

    // Replaces each "{value}" or "{value|pattern}" in the template. A bare template without
    // braces is taken as a pattern. dateByDefault decides how "{value}" alone is written.
    static QString formatTemplate(const QString& tmpl, double value, bool dateByDefault = false,
                                  int utcOffset = OffsetAtValue);
    // One pattern: date tokens (yyyy yy mmm mm dd hh nn ss fff) make it a date pattern, otherwise
    // it is a number pattern: decimals, then optional thousands separator and decimal point.
    static QString formatPattern(double value, const QString& pattern,
                                 int utcOffset = OffsetAtValue);
    static bool isDatePattern(const QString& pattern);
    // The local clock at a chart time, whose offset from UTC is utcOffset seconds.
    static QString formatDate(double chartTime, const QString& pattern,
                              int utcOffset = OffsetAtValue);
    static QString formatNumber(double value, const QString& pattern);
    // Plain number with just enough decimals for the given step (axis labels without a format).
    static QString formatForStep(double value, double step);
};
