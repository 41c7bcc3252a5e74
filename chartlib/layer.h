#pragma once

#include <QVector>

#include <memory>
#include <vector>

class ChartCore;
class DataSet;
class QString;

// A layer of an XY chart: shared x data and the data sets drawn over it.
class Layer
{
public:
    explicit Layer(ChartCore *core);
    virtual ~Layer();
    Layer(const Layer &) = delete;
    Layer &operator=(const Layer &) = delete;

    void setXData(const double *data, int count);
    DataSet *addDataSet(const double *data, int count, int color, const QString &name);
    int getDataSetCount() const;
    DataSet *getDataSetByZ(int i) const;
    // Index of the sample whose x lies within tolerance of xValue, or -1.
    int getXIndexOf(double xValue, double tolerance = 0) const;
    void setLineWidth(int width);
    int lineWidth() const { return m_lineWidth; }

    // The x of sample i: the x data when given, else the index itself.
    double xAt(int i) const;
    int sampleCount() const;
    bool hasXData() const { return !m_xData.isEmpty(); }
    ChartCore *core() const { return m_core; }

private:
    ChartCore *m_core;
    QVector<double> m_xData;
    std::vector<std::unique_ptr<DataSet>> m_dataSets;
    int m_lineWidth = 2;
};
