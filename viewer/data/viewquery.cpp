#include "viewquery.h"

#include "floordiv.h"
#include "summarycache.h"

#include <QElapsedTimer>

#include <cmath>
#include <limits>
#include <thread>

namespace {

constexpr qint64 NoMaxId = std::numeric_limits<qint64>::max();

} // namespace

ViewQuery::ViewQuery(ViewerSampleReader* store, const SummaryCache* cache)
    : ViewQuery(std::vector<ViewerSampleReader*>{store}, cache)
{
}

ViewQuery::ViewQuery(const std::vector<ViewerSampleReader*>& stores, const SummaryCache* cache)
    : m_cache(cache)
{
    for (ViewerSampleReader* store : stores)
        m_rows.emplace_back(store, cache);
}

ViewQuery::Result ViewQuery::run(const Request& request)
{
    QElapsedTimer clock;
    clock.start();
    Result result;
    result.id = request.id;
    result.slot = request.slot;
    result.from = request.from;
    result.to = request.to;
    result.columns = qMax(1, request.columns);
    const int count = request.channels.size();
    result.series.resize(count);
    const int lanes = qMin(count, int(m_rows.size()));
    auto lane = [&](int index) {
        RowSource& rows = m_rows[size_t(index)];
        rows.refresh();
        for (int i = index; i < count; i += lanes)
            result.series[i] = channelSeries(request, request.channels[i], rows);
    };
    // Zoomed in, a view reads the rows of several nodes: each on a connection of its own.
    std::vector<std::thread> others;
    for (int i = 1; i < lanes; ++i)
        others.emplace_back(lane, i);
    if (lanes > 0)
        lane(0);
    for (std::thread& t : others)
        t.join();
    result.queryMs = clock.nsecsElapsed() / 1e6;
    return result;
}

ViewQuery::Series ViewQuery::channelSeries(const Request& request, const Channel& channel,
                                           RowSource& rows)
{
    const double width = (request.to - request.from) / qMax(1, request.columns);
    const qint64 first = qint64(std::ceil(request.from));
    const qint64 last = qint64(std::floor(request.to));
    Series series;
    bool wideEnough = false;
    bool fromSummary = false;
    qint64 highId = 0;
    qint64 innerFirst = 0;
    qint64 innerEnd = 0;
    m_cache->read([&](const SampleSummary& summary) {
        wideEnough = width >= double(summary.fineSeconds()) && !summary.isEmpty();
        // Seconds whose rows changed since they were summarized come from the rows until they
        // are summarized again.
        fromSummary = wideEnough && request.from >= double(summary.completeFrom()) &&
                      !summary.isStale(channel.serial, first, last);
        if (!fromSummary)
            return;
        series = summarySeries(request, channel, summary);
        highId = summary.highId();
        const qint64 bucket = summary.bucketSeconds();
        innerFirst = floorDiv(first + bucket - 1, bucket) * bucket;
        innerEnd = floorDiv(last + 1, bucket) * bucket;
    });
    const qint64 interval = qMax(1, request.intervalSeconds);
    if (fromSummary) {
        // The seconds at both ends that no whole coarse bucket covers come from the rows the
        // summary holds; the three parts join in time order, as the kinetic sums need.
        bool complete = true;
        if (innerFirst >= innerEnd) {
            addEdgeStats(channel, interval, first, last, highId, rows, &series.stats, &complete);
        } else {
            ChannelStats stats;
            ChannelStats after;
            addEdgeStats(channel, interval, first, innerFirst - 1, highId, rows, &stats, &complete);
            addEdgeStats(channel, interval, innerEnd, last, highId, rows, &after, &complete);
            stats.merge(series.stats);
            stats.merge(after);
            series.stats = stats;
        }
        series.complete = series.complete && complete;
    } else {
        bool available = false;
        series = rawSeries(request, channel, rows, &available);
        if (!available && wideEnough) {
            // Not summarized that far back yet, and too many rows to read: what is there.
            m_cache->read([&](const SampleSummary& summary) {
                series = summarySeries(request, channel, summary);
            });
        }
        if (!available)
            series.complete = false;
    }
    if (channel.scale && !series.stats.kinetic.isEmpty())
        series.meanKinetic = series.stats.meanKinetic(
            MeanKineticTemperature(*channel.scale, channel.activationEnergy), last + 1);
    return series;
}

ViewQuery::Series ViewQuery::summarySeries(const Request& request, const Channel& channel,
                                           const SampleSummary& summary)
{
    Series series;
    series.kind = Series::Columns;
    const int index = summary.findSerial(channel.serial);
    const double width = (request.to - request.from) / qMax(1, request.columns);
    series.columns =
        summary.envelope(index, channel.channel, request.from, width, qMax(1, request.columns));
    // Columns before the point the summary is complete from, or whose rows changed, are not
    // known yet.
    for (SampleSummary::Column& column : series.columns) {
        if (column.from < summary.completeFrom() ||
            summary.isStale(channel.serial, column.from, column.to - 1)) {
            column.count = 0;
            series.complete = false;
        }
    }
    const qint64 bucket = summary.bucketSeconds();
    const qint64 first = qint64(std::ceil(request.from));
    const qint64 last = qint64(std::floor(request.to));
    const qint64 fromKey = floorDiv(first + bucket - 1, bucket);
    const qint64 toKey = floorDiv(last + 1, bucket) - 1;
    if (fromKey <= toKey)
        series.stats = summary.bucketStats(index, channel.channel, fromKey, toKey);
    // Kinetic sums made for another scale or energy (a summary of other settings) are no use.
    const std::optional<MeanKineticTemperature> kinetic = summary.kineticOf(index, channel.channel);
    if (!channel.scale || !kinetic || kinetic->scale() != *channel.scale ||
        kinetic->ratio() !=
            MeanKineticTemperature(*channel.scale, channel.activationEnergy).ratio())
        series.stats.kinetic = KineticSums();
    if (summary.isStale(channel.serial, first, last))
        series.complete = false;
    return series;
}

void ViewQuery::addEdgeStats(const Channel& channel, qint64 interval, qint64 from, qint64 to,
                             qint64 maxId, RowSource& rows, ChannelStats* stats, bool* complete)
{
    if (from > to)
        return;
    const int c = channel.channel - 1;
    std::optional<MeanKineticTemperature> kinetic;
    if (channel.scale)
        kinetic.emplace(*channel.scale, channel.activationEnergy);
    const bool ok = rows.rows(channel.serial, from, to, maxId, [&](const StoredRow& row) {
        if (!row.present[c])
            return true;
        stats->add(row.value[c], row.time,
                   SampleSummary::isOutside(channel.alarmMin, channel.alarmMax, row.value[c]));
        if (kinetic)
            stats->addTerm(kinetic->term(row.value[c]), row.time, interval);
        return true;
    });
    if (!ok)
        *complete = false;
}

ViewQuery::Series ViewQuery::rawSeries(const Request& request, const Channel& channel,
                                       RowSource& source, bool* available)
{
    Series series;
    const qint64 interval = qMax(1, request.intervalSeconds);
    const qint64 first = qint64(std::ceil(request.from));
    const qint64 last = qint64(std::floor(request.to));
    *available = (last - first) / interval <= RawBudget;
    if (!*available)
        return series;
    // One sample beyond each end, so lines run to the edges of the plot.
    const qint64 margin = 2 * interval;
    QVector<qint64> times;
    QVector<double> values;
    const int c = channel.channel - 1;
    std::optional<MeanKineticTemperature> kinetic;
    if (channel.scale)
        kinetic.emplace(*channel.scale, channel.activationEnergy);
    const bool ok = source.rows(
        channel.serial, first - margin, last + margin, NoMaxId, [&](const StoredRow& row) {
            times << row.time;
            values << (row.present[c] ? row.value[c] : std::numeric_limits<double>::quiet_NaN());
            if (row.present[c] && row.time >= first && row.time <= last) {
                series.stats.add(
                    row.value[c], row.time,
                    SampleSummary::isOutside(channel.alarmMin, channel.alarmMax, row.value[c]));
                if (kinetic)
                    series.stats.addTerm(kinetic->term(row.value[c]), row.time, interval);
            }
            return true;
        });
    if (!ok) {
        *available = false;
        series = Series();
        return series;
    }
    const int columns = qMax(1, request.columns);
    if (times.size() <= 2 * columns) {
        series.kind = Series::Points;
        for (int i = 0; i < times.size(); ++i) {
            if (i > 0 && times[i] - times[i - 1] > 2 * interval) {
                series.times << times[i - 1] + interval;
                series.values << std::numeric_limits<double>::quiet_NaN();
            }
            series.times << times[i];
            series.values << values[i];
        }
        return series;
    }
    // More samples than pixels: each pixel column gets the true extremes of its samples.
    series.kind = Series::Columns;
    series.columns.resize(columns);
    const double width = (request.to - request.from) / columns;
    for (int i = 0; i < columns; ++i) {
        series.columns[i].from = qint64(std::ceil(request.from + i * width));
        series.columns[i].to = qint64(std::ceil(request.from + (i + 1) * width));
    }
    int column = 0;
    for (int i = 0; i < times.size(); ++i) {
        const qint64 t = times[i];
        if (t < series.columns.first().from || std::isnan(values[i]))
            continue;
        while (column < columns && series.columns[column].to <= t)
            ++column;
        if (column >= columns)
            break;
        SampleSummary::Column& col = series.columns[column];
        col.min = col.count == 0 ? values[i] : qMin(col.min, values[i]);
        col.max = col.count == 0 ? values[i] : qMax(col.max, values[i]);
        ++col.count;
    }
    return series;
}
