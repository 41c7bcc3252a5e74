#pragma once

#include "channelstats.h"
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

// One node's rows in (pointDate, id) order, the later of two in one second only.
QVector<Row> nodeRows(const QString& databasePath, const QByteArray& serial);

// The summary settings of a project: its interval and its nodes' alarm ranges.
SampleSummary settingsOf(const QString& projectPath);

// Builds the whole summary of the database into a new cache; null on failure.
std::shared_ptr<SummaryCache> buildSummary(const QString& projectPath);

// The extremes and statistics of rows with time in [from, to) for one channel, worked out here
// row by row (only the record is the viewer's).
using Brute = ChannelStats;
Brute brute(const QVector<Row>& rows, int channel, qint64 from, qint64 to, float low = 0,
            float high = 0);

// The mean kinetic temperature of one channel's rows with time in [from, to), worked out here:
// each value stands for the time to the next value, at most `interval`, the last up to `to`;
// in degrees Celsius or Fahrenheit as the values are. NaN without values.
double kineticBrute(const QVector<Row>& rows, int channel, qint64 from, qint64 to, qint64 interval,
                    bool fahrenheit = false, double kiloJoulePerMole = 83.144);

} // namespace ViewerFixture
