#include "generatedayqueries.h"

#include "channelanalysis.h"
#include "reporttables.h"
#include "samplereader.h"

#include <QDateTime>
#include <QDebug>
#include <QMutex>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct ChannelKey
{
    QString serial;
    int column = 0; // 1 or 2
};

bool parseKey(const QString& toolTip, ChannelKey* key)
{
    // Serial numbers may hold "_"; the column names do not.
    const QString text = toolTip.section(QLatin1Char('|'), 0, 0);
    const int cut = text.lastIndexOf(QLatin1Char('_'));
    if (cut < 0)
        return false;
    const QString column = text.mid(cut + 1);
    if (column == QLatin1String("channel1"))
        key->column = 1;
    else if (column == QLatin1String("channel2"))
        key->column = 2;
    else
        return false;
    key->serial = text.left(cut);
    return true;
}

// The chosen nodes' rows of one stretch of time, analysed for each chosen channel.
struct Piece
{
    qint64 from = 0;
    qint64 to = 0;
    std::vector<ChannelAnalysis> analyses; // by column
};

} // namespace

GenerateDayQueries::GenerateDayQueries(const QString& databasePath_, const ReportPeriod& period_,
                                       int dataInterval_, const QList<Channel>& channels_,
                                       ReportTables* tables_, QObject* parent)
    : ReportWorker(parent), databasePath(databasePath_), period(period_),
      dataInterval(dataInterval_), channels(channels_), tables(tables_)
{
}

qint64 GenerateDayQueries::chartStep(int days, int intervalMs)
{
    const qint64 wanted = days <= 1 ? 120 : days <= 7 ? 600 : 1800;
    const qint64 least = 2 * qMax(1, intervalMs / 1000);
    // Steps divide an hour, so they fall on the same clock times every day.
    for (const qint64 step : {wanted, qint64(1200), qint64(1800), qint64(3600)}) {
        if (step >= least && step >= wanted)
            return step;
    }
    return 3600;
}

void GenerateDayQueries::run()
{
    tables->clear();
    emit createHashTables();
    if (!analyse()) {
        // A window that closes stops its worker: nobody waits for the outcome.
        if (isInterruptionRequested())
            return;
        qDebug() << "makeModels error.";
        tables->clear();
        emit error(QStringLiteral("makeModels error."));
        return;
    }
    emit done();
}

bool GenerateDayQueries::analyse()
{
    const int columns = qMin(int(channels.size()), ReportColumns);
    QList<ChannelKey> keys;
    QStringList serials;
    QList<int> nodeOf;
    for (int c = 0; c < columns; ++c) {
        ChannelKey key;
        if (!parseKey(channels.at(c).toolTip, &key))
            return false;
        keys.append(key);
        if (!serials.contains(key.serial))
            serials.append(key.serial);
        nodeOf.append(int(serials.indexOf(key.serial)));
    }

    bool indexed = false;
    {
        SampleReader probe(databasePath);
        if (!probe.isOpen() || !probe.hasTable()) {
            qDebug().noquote() << databasePath << probe.errorText();
            return false;
        }
        indexed = probe.hasIndex();
    }

    const QVector<qint64> bounds = period.dayBounds();
    const qint64 interval = qMax(1, dataInterval / 1000);
    const qint64 step = chartStep(int(bounds.size()) - 1, dataInterval);
    std::vector<ChannelAnalysis::Settings> settings;
    settings.reserve(size_t(columns));
    for (int c = 0; c < columns; ++c) {
        settings.emplace_back(bounds, step, interval);
        const Channel& channel = channels.at(c);
        settings.back().limited = channel.limited && channel.lower != channel.upper;
        settings.back().lower = channel.lower;
        settings.back().upper = channel.upper;
    }

    // Samples up to two intervals around the period tell how its edges are covered.
    const qint64 first = bounds.first() - 2 * interval;
    const qint64 last = bounds.last() - 1 + 2 * interval;
    // A day per piece, read on as many threads; without the index every read scans the whole
    // table, so there is one piece.
    const int cuts = indexed ? int(bounds.size()) - 2 : 0;
    std::vector<Piece> pieces;
    for (int i = 0; i <= cuts; ++i) {
        Piece piece;
        piece.from = i == 0 ? first : bounds.at(i);
        piece.to = i == cuts ? last : bounds.at(i + 1) - 1;
        for (int c = 0; c < columns; ++c)
            piece.analyses.emplace_back(&settings[size_t(c)]);
        pieces.push_back(std::move(piece));
    }
    QVector<SampleReader::Node> nodes(serials.size());
    for (int c = 0; c < columns; ++c) {
        SampleReader::Node& node = nodes[nodeOf.at(c)];
        node.serial = keys.at(c).serial;
        (keys.at(c).column == 1 ? node.channel1 : node.channel2) = true;
    }
    emit wholeCount(int(pieces.size()));
    qDebug().noquote() << "GenerateDayQueries : nodes " << serials.size() << " pieces "
                       << pieces.size() << " indexed " << indexed;

    std::atomic<size_t> next{0};
    std::atomic<int> finished{0};
    std::atomic<bool> failed{false};
    QMutex errorLock;
    QString errorText;
    auto work = [&] {
        SampleReader reader(databasePath);
        for (;;) {
            const size_t i = next++;
            if (i >= pieces.size() || failed || isInterruptionRequested())
                return;
            Piece& piece = pieces[i];
            const bool ok = reader.read(
                nodes, piece.from, piece.to, [&](int node, qint64 t, double v1, double v2) {
                    for (int c = 0; c < columns; ++c) {
                        if (nodeOf.at(c) == node)
                            piece.analyses[size_t(c)].add(t, keys.at(c).column == 1 ? v1 : v2);
                    }
                });
            if (!ok) {
                failed = true;
                QMutexLocker lock(&errorLock);
                errorText = reader.isOpen() ? reader.errorText() : databasePath;
                return;
            }
            emit progPlus(++finished);
        }
    };
    const int threads =
        int(qMin<size_t>(size_t(qBound(1, QThread::idealThreadCount(), 4)), pieces.size()));
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failed || isInterruptionRequested()) {
        qDebug().noquote() << errorText;
        return false;
    }

    // Join each channel's pieces in time order.
    std::vector<ChannelAnalysis> merged;
    for (int c = 0; c < columns; ++c) {
        merged.emplace_back(&settings[size_t(c)]);
        for (const Piece& piece : pieces)
            merged.back().append(piece.analyses[size_t(c)]);
    }

    for (int d = 0; d + 1 < bounds.size(); ++d) {
        PeriodRow row = newPeriodRow(
            QDateTime::fromSecsSinceEpoch(bounds.at(d)).toString(QStringLiteral("yyyy-MM-dd")));
        tables->periodRows.insert(bounds.at(d), row);
    }
    for (int c = 0; c < columns; ++c) {
        const ChannelAnalysis& analysis = merged[size_t(c)];
        tables->channelEmpty[c] = analysis.rows() == 0;
        const QVector<ChannelAnalysis::Day>& days = analysis.dayFigures();
        const QVector<qint64> out = analysis.outSeconds();
        for (int d = 0; d < days.size(); ++d) {
            if (days.at(d).count == 0)
                continue;
            PeriodRow& row = tables->periodRows[bounds.at(d)];
            row.avg[c] = days.at(d).sum / days.at(d).count;
            row.min[c] = days.at(d).min;
            row.max[c] = days.at(d).max;
        }
        for (int d = 0; d < out.size(); ++d)
            tables->periodRows[bounds.at(d)].outSeconds[c] = out.at(d);
        tables->excursions.append(analysis.excursions(c));
        tables->gaps.append(analysis.gaps(c));
    }

    // Two chart points per step, at its start and its middle: the step's lowest and highest
    // value in the order they were measured, so that short peaks stay visible.
    const QVector<qint64>& stepStarts = settings.front().stepStarts;
    for (int s = 0; s < stepStarts.size(); ++s) {
        const qint64 times[2] = {stepStarts.at(s), stepStarts.at(s) + step / 2};
        for (int half = 0; half < 2; ++half) {
            SampleRow row;
            bool any = false;
            for (int c = 0; c < columns; ++c) {
                const QVector<ChannelAnalysis::Step>& steps = merged[size_t(c)].steps();
                if (steps.isEmpty() || steps.at(s).count == 0)
                    continue;
                if (!any)
                    row = newSampleRow(QDateTime::fromSecsSinceEpoch(times[half])
                                           .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
                any = true;
                row.values[c] = half == 0 ? steps.at(s).firstValue() : steps.at(s).secondValue();
            }
            if (any)
                tables->sampleRows.insert(times[half], row);
        }
    }
    return true;
}
