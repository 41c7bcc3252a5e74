#pragma once

#include <QColor>

// Turns the library's colour integers into painter colours. Gradient and dash ids are resolved
// by the chart that issued them; this only reads plain colours.
class ChartColor
{
public:
    // True when the colour draws nothing (the transparent value or any fully transparent colour).
    static bool isTransparent(int color);
    // A plain 0xAARRGGBB colour; -1 gives fallback.
    static QColor toQColor(int color, const QColor &fallback = QColor(Qt::black));
    // A colour in the mark-up's hexadecimal form: RRGGBB, or AARRGGBB when it carries transparency.
    static QColor fromHex(const QString &hex, bool *ok = nullptr);
    static bool isGradient(int color);
    static bool isDash(int color);
};
