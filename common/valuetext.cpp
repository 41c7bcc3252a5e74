#include "valuetext.h"

#include <cmath>

QString valueText(double value)
{
    if (std::isfinite(value) && std::fabs(value) >= ValueTextExponentFrom)
        return QString::number(value, 'e', 2);
    return QString::number(value, 'f', 2);
}
