#include "chartcolor.h"

#include "chartdefs.h"

bool ChartColor::isTransparent(int color)
{
    const unsigned c = unsigned(color);
    return color != Chart::DefaultColor && (c & Chart::SpecialColorMask) == 0xFF000000u;
}

QColor ChartColor::toQColor(int color, const QColor &fallback)
{
    if (color == Chart::DefaultColor)
        return fallback;
    const unsigned c = unsigned(color);
    const int transparency = int((c >> 24) & 0xFF);
    return QColor(int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF), 255 - transparency);
}

QColor ChartColor::fromHex(const QString &hex, bool *ok)
{
    bool parsed = false;
    const QString digits = hex.trimmed();
    const unsigned value = digits.toUInt(&parsed, 16);
    if (ok)
        *ok = parsed && !digits.isEmpty() && digits.size() <= 8;
    if (!parsed || digits.size() > 8)
        return QColor();
    return toQColor(int(value));
}

bool ChartColor::isGradient(int color)
{
    return color != Chart::DefaultColor
        && (unsigned(color) & Chart::SpecialColorMask) == Chart::GradientColorBase;
}

bool ChartColor::isDash(int color)
{
    return color != Chart::DefaultColor
        && (unsigned(color) & Chart::SpecialColorMask) == Chart::DashColorBase;
}
