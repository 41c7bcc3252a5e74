#pragma once

#include <QString>

// Formats numbers and chart times the way axis labels and the mark-up templates ask:
// "{value|hh:nn:ss}" for clock time, "{value|2.}" for two decimals.
class ValueFormat
{
public:
    // Replaces each "{value}" or "{value|pattern}" in the template. A bare template without
    // braces is taken as a pattern. dateByDefault decides how "{value}" alone is written.
    static QString formatTemplate(const QString &tmpl, double value, bool dateByDefault = false);
    // One pattern: date tokens (yyyy yy mmm mm dd hh nn ss fff) make it a date pattern, otherwise
    // it is a number pattern: decimals, then optional thousands separator and decimal point.
    static QString formatPattern(double value, const QString &pattern);
    static bool isDatePattern(const QString &pattern);
    static QString formatDate(double chartTime, const QString &pattern);
    static QString formatNumber(double value, const QString &pattern);
    // Plain number with just enough decimals for the given step (axis labels without a format).
    static QString formatForStep(double value, double step);
};
