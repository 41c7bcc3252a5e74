#pragma once

#include "textring.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class Axis;
class Layer;

// One series of values in a layer, with its colour, name and the y axis it is scaled on.
class DataSet
{
public:
    DataSet(Layer *layer, const double *data, int count, int color, const QString &name);

    QString getDataName() const { return m_name; }
    int getDataColor() const { return m_color; }
    // Mark-up for the legend icon: a short line in the data set's colour.
    QString getLegendIcon() const;
    // The value at an index, or the no-value marker outside the data.
    double getValue(int i) const;
    // Where the value is drawn; lines do not stack, so this is the value itself.
    double getPosition(int i) const;
    int size() const { return m_values.size(); }
    const QVector<double> &values() const { return m_values; }

    Axis *getUseYAxis() const { return m_yAxis; }
    void setUseYAxis(Axis *axis);
    Layer *layer() const { return m_layer; }

    // Storage for texts handed out through the C entry points.
    TextRing &texts() const { return m_texts; }

private:
    Layer *m_layer;
    QVector<double> m_values;
    int m_color;
    QString m_name;
    Axis *m_yAxis = nullptr;
    mutable TextRing m_texts;
};
