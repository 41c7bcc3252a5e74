#pragma once

#include <QString>

// From this magnitude on a value is shown in exponent notation: nothing a sensor measures comes
// near it, but a corrupted row (1e308) or a gateway's glitch near the largest float (3.4e38)
// would otherwise fill a table cell or an axis label with hundreds of digits.
constexpr double ValueTextExponentFrom = 1e9;

// A measured value or a figure made from such values, as the programs show it: two decimals
// ("21.50"); from ValueTextExponentFrom on in magnitude, two decimals of exponent notation
// ("1.00e+308", "-3.40e+38"); "inf", "-inf" or "nan" for what is no number. Only the text is
// shortened: figures are worked out from the values as stored.
QString valueText(double value);

// A duration as the reports show it: "H:MM:SS", the hours not wrapped at a day; 0:00:00 for a
// negative one.
QString durationText(qint64 seconds);
