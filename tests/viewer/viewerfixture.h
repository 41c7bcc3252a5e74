#pragma once

#include "samplesummary.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class SummaryCache;

// What the viewer's tests share: rows read the plain way (Qt's SQL driver, no viewer code) to
// compare against, and summaries built the way the viewer builds them.
namespace ViewerFixture {

struct Row
{
    qint64 id = 0;
    qint64 time = 0;
    double value[2] = {0, 0};
    bool present[2] = {false, false};
};

// One node's rows in (pointDate, id) order.
QVector<Row> nodeRows(const QString& databasePath, const QByteArray& serial);

// The summary settings of a project: its interval and its nodes' alarm ranges.
SampleSummary settingsOf(const QString& projectPath);

// Builds the whole summary of the database into a new cache; null on failure.
std::shared_ptr<SummaryCache> buildSummary(const QString& projectPath);

// The extremes and statistics of rows with time in [from, to) for one channel.
struct Brute
{
    quint64 count = 0;
    quint64 outside = 0;
    double sum = 0;
    double min = 0;
    double max = 0;
    qint64 minTime = 0;
    qint64 maxTime = 0;
};
Brute brute(const QVector<Row>& rows, int channel, qint64 from, qint64 to, float low = 0,
            float high = 0);

} // namespace ViewerFixture
