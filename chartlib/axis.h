#pragma once

#include "textring.h"

#include <QByteArray>
#include <QFont>
#include <QString>
#include <QVector>

class ChartCore;

// One axis of an XY chart: its scale (set, date or automatic), ticks, labels and colours.
// The scale is worked out when the chart is laid out.
class Axis
{
public:
    struct Tick
    {
        double value;
        bool major;
        QString label;
    };

    Axis(ChartCore* core, bool horizontal);

    void setTickDensity(int majorTickSpacing, int minorTickSpacing = -1);
    void setWidth(int width);
    void setColors(int axisColor, int labelColor = -1, int titleColor = -1, int tickColor = -1);
    // Step 0 lets the axis pick round clock steps.
    void setDateScale(double lowerLimit, double upperLimit, double majorTickInc = 0,
                      double minorTickInc = 0);
    void setLinearScale(double lowerLimit, double upperLimit, double majorTickInc = 0,
                        double minorTickInc = 0);
    void setLabelFormat(const QString& format);
    void setLabelFont(const QString& fontFile, double fontSize);

    // The value written with a pattern ("hh:nn:ss") or a template ("{value|2.}").
    QString getFormattedLabel(double value, const QString& format) const;

    bool isHorizontal() const { return m_horizontal; }
    bool isDateScale() const { return m_dateScale; }
    bool hasScale() const { return m_hasScale; }
    double getMinValue() const { return m_min; }
    double getMaxValue() const { return m_max; }
    int width() const { return m_width; }
    int axisColor() const { return m_axisColor; }
    int labelColor() const { return m_labelColor; }
    int tickColor() const { return m_tickColor; }
    QFont labelFont() const;
    const QVector<Tick>& ticks() const { return m_ticks; }

    // Works out the scale for a pixel range (start maps the minimum, end the maximum) and the
    // range of the data shown on it.
    void layout(double pixelStart, double pixelEnd, bool hasData, double dataMin, double dataMax);
    double toPixel(double value) const;
    double fromPixel(double pixel) const;

    // Storage for texts handed out through the C entry points.
    TextRing& texts() const { return m_texts; }

private:
    void layoutDate(double length);
    void layoutLinear(double length);
    void layoutEmpty(double length);
    QString labelFor(double value, int utcOffset) const;

    ChartCore* m_core;
    bool m_horizontal;
    int m_majorSpacing;
    int m_minorSpacing;
    int m_width = 1;
    int m_axisColor;
    int m_labelColor;
    int m_tickColor;
    QString m_labelFontFile = QStringLiteral("arial.ttf");
    double m_labelFontSize = 8;
    QString m_labelFormat;
    bool m_fixedScale = false;
    bool m_dateScale = false;
    double m_lower = 0;
    double m_upper = 0;
    double m_majorInc = 0;
    double m_minorInc = 0;

    // Results of the layout.
    bool m_hasScale = false;
    double m_min = 0;
    double m_max = 1;
    double m_step = 0;
    double m_pixelStart = 0;
    double m_pixelEnd = 1;
    QVector<Tick> m_ticks;
    mutable TextRing m_texts;
};
