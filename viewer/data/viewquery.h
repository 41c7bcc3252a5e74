#pragma once

#include "channelstats.h"
#include "meankinetictemperature.h"
#include "rowsource.h"
#include "samplesummary.h"

#include <QByteArray>
#include <QMetaType>
#include <QVector>

#include <limits>
#include <optional>
#include <vector>

class ViewerSampleReader;
class SummaryCache;

// Answers what the charts need for one visible time range: per channel either the samples
// themselves (zoomed in), or per pixel column the true minimum and maximum of the samples under
// it (zoomed out), and the channel's statistics over the range. Wide ranges come from the
// summary; narrow ones, and the few seconds at the ends of a range that no whole bucket covers,
// from the rows.
class ViewQuery
{
public:
    struct Channel
    {
        QByteArray serial;
        int channel = 1;
        float alarmMin = 0;
        float alarmMax = 0;
        // A temperature channel's scale and activation energy (0: the default): its mean
        // kinetic temperature is worked out; none for any other channel.
        std::optional<MeanKineticTemperature::Scale> scale;
        double activationEnergy = 0;
    };
    struct Request
    {
        quint64 id = 0;
        int slot = 0;    // who asked: answers come back with it
        double from = 0; // Unix seconds
        double to = 0;
        int columns = 1; // pixel columns of the plot
        QVector<Channel> channels;
        int intervalSeconds = 1;
    };
    struct Series
    {
        enum Kind
        {
            Nothing,
            Points,
            Columns
        };
        Kind kind = Nothing;
        // Points: one per sample, value NaN for a sample without value and for the break put
        // where no sample came for more than two intervals.
        QVector<qint64> times;
        QVector<double> values;
        // Columns: one per pixel column, count 0 where there is no value.
        QVector<SampleSummary::Column> columns;
        ChannelStats stats;
        // The mean kinetic temperature over the range in the channel's unit; NaN for a channel
        // that is no temperature or without samples.
        double meanKinetic = std::numeric_limits<double>::quiet_NaN();
        // False while part of the range is still missing from a summary being built.
        bool complete = true;
    };
    struct Result
    {
        quint64 id = 0;
        int slot = 0;
        double from = 0;
        double to = 0;
        int columns = 0;
        QVector<Series> series;
        double queryMs = 0; // time spent answering
    };

    // Rows are read for ranges of at most this many samples per node while the summary cannot
    // answer them yet.
    static constexpr qint64 RawBudget = 120000;

    ViewQuery(ViewerSampleReader* store, const SummaryCache* cache);
    // With several connections the channels are read side by side, one connection each.
    ViewQuery(const std::vector<ViewerSampleReader*>& stores, const SummaryCache* cache);

    Result run(const Request& request);

private:
    Series channelSeries(const Request& request, const Channel& channel, RowSource& rows);
    Series summarySeries(const Request& request, const Channel& channel,
                         const SampleSummary& summary);
    Series rawSeries(const Request& request, const Channel& channel, RowSource& rows,
                     bool* available);
    void addEdgeStats(const Channel& channel, qint64 interval, qint64 from, qint64 to, qint64 maxId,
                      RowSource& rows, ChannelStats* stats, bool* complete);

    const SummaryCache* m_cache;
    std::vector<RowSource> m_rows;
};

Q_DECLARE_METATYPE(ViewQuery::Request)
Q_DECLARE_METATYPE(ViewQuery::Result)
