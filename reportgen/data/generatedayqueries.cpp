#include "generatedayqueries.h"

#include "channelanalysis.h"
#include "periodsummary.h"
#include "reportalarmtests.h"
#include "reportcalibration.h"
#include "reportsuppressions.h"
#include "reporttables.h"
#include "samplereader.h"
#include "samplespacing.h"

#include <QDateTime>
#include <QDebug>
#include <QMutex>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

struct ChannelKey
{
    QString serial;
    int column = 0; // 1 or 2
};

bool parseKey(const ReportChannel& channel, ChannelKey* key)
{
    key->serial = channel.serial;
    const QString& column = channel.column;
    if (column == QLatin1String("channel1"))
        key->column = 1;
    else if (column == QLatin1String("channel2"))
        key->column = 2;
    else
        return false;
    return true;
}

// The period's alarm events of the chosen channels and of their nodes, with the signatures of
// their acknowledgements.
bool readAlarmEvents(SampleReader* reader, const QList<ReportChannel>& channels,
                     const ReportPeriod& period, ReportTables* tables)
{
    const QVector<qint64> bounds = period.dayBounds();
    if (!PeriodSummary::readAlarmEvents(reader, channels, bounds.first(), bounds.last() - 1,
                                        &tables->alarmEvents, &tables->alarmLog))
        return false;
    if (tables->alarmLog && !reader->alarmSignatures(&tables->alarmSignatures)) {
        qDebug().noquote() << reader->errorText();
        return false;
    }
    return true;
}

// A channel's line on the chart of several days, whose points are its steps' extremes, breaks
// across empty steps by the rule of SampleSpacing, with the spacing of the samples told by the
// steps around them: a step of n samples holds them a step/n apart, and from one step to the
// next the spacing is what is left of the time between their starts. The empty steps alone
// (their time is the least the stretch without a sample can be) are measured against it. Only
// step counts are used, so that a report read from the recorder's summary breaks its lines
// where one read from the rows does; a stop shorter than a step cannot be shown anyway.
void addStepBreaks(int column, const QVector<ChannelAnalysis::Step>& steps,
                   const QVector<qint64>& starts, qint64 step, qint64 interval,
                   QList<ChartBreak>* breaks)
{
    QVector<int> filled;
    for (int s = 0; s < steps.size(); ++s) {
        if (steps.at(s).count > 0)
            filled.append(s);
    }
    SampleSpacing spacing(interval);
    QVector<int> between(filled.size()); // the entry of the spacing after each filled step
    for (int k = 0; k < filled.size(); ++k) {
        const int count = steps.at(filled.at(k)).count;
        const qint64 inside = step / count;
        if (count > 1)
            spacing.add(inside, count - 1);
        between[k] = spacing.size();
        if (k + 1 < filled.size())
            spacing.add(starts.at(filled.at(k + 1)) - starts.at(filled.at(k)) -
                        (count - 1) * inside);
    }
    for (int k = 0; k + 1 < filled.size(); ++k) {
        const int i = filled.at(k);
        const int j = filled.at(k + 1);
        if (j - i < 2)
            continue;
        const qint64 empty = starts.at(j) - starts.at(i + 1);
        if (empty > 2 * interval && empty > spacing.reach(between.at(k)))
            breaks->append({column, starts.at(i) + step / 2, starts.at(j), starts.at(i + 1)});
    }
}

// The chosen nodes' rows of one stretch of time, analysed for each chosen channel.
struct Piece
{
    qint64 from = 0;
    qint64 to = 0;
    std::vector<ChannelAnalysis> analyses; // by column
};

// A bucket's sum of spacing * term in the channel's scale; 0 for a channel of none.
double weightedTerms(const ChannelAnalysis::Settings& settings, const KineticTable::Channel& sums)
{
    if (!settings.scale)
        return 0;
    return *settings.scale == MeanKineticTemperature::Scale::Celsius ? sums.celsius
                                                                     : sums.fahrenheit;
}

} // namespace

GenerateDayQueries::GenerateDayQueries(const QString& databasePath_, const ReportPeriod& period_,
                                       int dataInterval_, const QList<ReportChannel>& channels_,
                                       ReportTables* tables_, QObject* parent)
    : ReportWorker(parent), databasePath(databasePath_), period(period_),
      dataInterval(dataInterval_), channels(channels_), tables(tables_)
{
}

qint64 GenerateDayQueries::chartStep(int days, int intervalMs)
{
    // A week's and a month's steps are whole quarter hours of the recorder's summary.
    const qint64 wanted = days <= 1 ? 120 : days <= 7 ? 900 : 1800;
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
    const QVector<qint64> bounds = period.dayBounds();
    if (!bounds.isEmpty())
        ReportSuppressions::read(databasePath, bounds.first(), bounds.last(), channels, tables);
    ReportCalibration::read(databasePath, period.firstDay(), period.lastDay(), channels, tables);
    if (!bounds.isEmpty())
        ReportAlarmTests::read(databasePath, bounds.first(), bounds.last(), tables);
    tables->auditHead = ReportAuditHead::read(databasePath);
    emit done();
}

// What the reading of one report needs: the chosen channels by node, and their settings.
struct GenerateDayQueries::Plan
{
    QList<ChannelKey> keys;
    QList<int> nodeOf; // by column, the index into nodes
    QVector<SampleReader::Node> nodes;
    std::vector<ChannelAnalysis::Settings> settings; // by column
    QVector<qint64> bounds;
    qint64 interval = 1;

    int columns() const { return int(keys.size()); }
    // The columns' analyses of a node's row.
    void add(std::vector<ChannelAnalysis>* analyses, int node, qint64 t, double v1, double v2) const
    {
        for (int c = 0; c < columns(); ++c) {
            if (nodeOf.at(c) == node)
                (*analyses)[size_t(c)].add(t, keys.at(c).column == 1 ? v1 : v2);
        }
    }
};

bool GenerateDayQueries::analyse()
{
    Plan plan;
    const int columns = qMin(int(channels.size()), ReportColumns);
    QStringList serials;
    for (int c = 0; c < columns; ++c) {
        ChannelKey key;
        if (!parseKey(channels.at(c), &key))
            return false;
        plan.keys.append(key);
        if (!serials.contains(key.serial))
            serials.append(key.serial);
        plan.nodeOf.append(int(serials.indexOf(key.serial)));
    }

    bool indexed = false;
    bool summarized = false;
    bool sums = false;
    {
        SampleReader probe(databasePath);
        if (!probe.isOpen() || !probe.hasTable()) {
            qDebug().noquote() << databasePath << probe.errorText();
            return false;
        }
        indexed = probe.hasIndex();
        // The summary's gaps between rows are not kept: excursions need the rows.
        summarized = figuresOnly && indexed && probe.hasSummary();
        // The kinetic sums stand in for the rows of the quarter hours they answer.
        sums = !figuresOnly && kineticSums && indexed && probe.hasSummary() && probe.hasKinetic();
        if (!figuresOnly && !readAlarmEvents(&probe, channels.mid(0, columns), period, tables))
            return false;
    }

    plan.bounds = period.dayBounds();
    plan.interval = qMax(1, dataInterval / 1000);
    const qint64 step = chartStep(int(plan.bounds.size()) - 1, dataInterval);
    plan.settings.reserve(size_t(columns));
    for (int c = 0; c < columns; ++c) {
        plan.settings.emplace_back(plan.bounds, step, plan.interval);
        PeriodSummary::configure(channels.at(c), &plan.settings.back());
    }
    plan.nodes.resize(serials.size());
    for (int c = 0; c < columns; ++c) {
        SampleReader::Node& node = plan.nodes[plan.nodeOf.at(c)];
        node.serial = plan.keys.at(c).serial;
        (plan.keys.at(c).column == 1 ? node.channel1 : node.channel2) = true;
    }

    counts = Reading();
    counts.summary = summarized;
    std::vector<ChannelAnalysis> merged;
    for (int c = 0; c < columns; ++c)
        merged.emplace_back(&plan.settings[size_t(c)]);
    const bool read = summarized ? readSummary(plan, &merged)
                      : sums     ? readSums(plan, &merged)
                                 : readRows(plan, indexed, &merged);
    if (!read)
        return false;

    const QVector<qint64>& bounds = plan.bounds;
    for (int d = 0; d + 1 < bounds.size(); ++d) {
        PeriodRow row = newPeriodRow(
            QDateTime::fromSecsSinceEpoch(bounds.at(d)).toString(QStringLiteral("yyyy-MM-dd")));
        tables->periodRows.insert(bounds.at(d), row);
    }
    for (int c = 0; c < columns; ++c) {
        const ChannelAnalysis& analysis = merged[size_t(c)];
        tables->channelEmpty[c] = analysis.rows() == 0;
        const QVector<ChannelAnalysis::Day>& days = analysis.dayFigures();
        for (int d = 0; d < days.size(); ++d) {
            if (days.at(d).count == 0)
                continue;
            PeriodRow& row = tables->periodRows[bounds.at(d)];
            row.avg[c] = days.at(d).sum / days.at(d).count;
            row.min[c] = days.at(d).min;
            row.max[c] = days.at(d).max;
        }
        if (figuresOnly)
            continue;
        const QVector<qint64> out = analysis.outSeconds();
        for (int d = 0; d < out.size(); ++d)
            tables->periodRows[bounds.at(d)].outSeconds[c] = out.at(d);
        tables->excursions.append(analysis.excursions(c));
        tables->gaps.append(analysis.gaps(c));
        tables->periodSummaries.append(
            PeriodSummary::of(analysis, channels.at(c), c, tables->alarmEvents));
    }

    // Two chart points per step, at its start and its middle: the step's lowest and highest
    // value in the order they were measured, so that short peaks stay visible.
    const QVector<qint64>& stepStarts = plan.settings.front().stepStarts;
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
    for (int c = 0; c < columns; ++c)
        addStepBreaks(c, merged[size_t(c)].steps(), stepStarts, step, plan.interval,
                      &tables->breaks);
    return true;
}

bool GenerateDayQueries::onThreads(size_t count,
                                   const std::function<bool(SampleReader*, size_t)>& task)
{
    std::atomic<size_t> next{0};
    std::atomic<int> finished{0};
    std::atomic<bool> failed{false};
    QMutex errorLock;
    QString errorText;
    auto work = [&] {
        SampleReader reader(databasePath);
        for (;;) {
            const size_t i = next++;
            if (i >= count || failed || isInterruptionRequested())
                return;
            if (!task(&reader, i)) {
                failed = true;
                QMutexLocker lock(&errorLock);
                errorText = reader.isOpen() ? reader.errorText() : databasePath;
                return;
            }
            emit progPlus(++finished);
        }
    };
    const int threads = int(qMin<size_t>(size_t(qBound(1, QThread::idealThreadCount(), 4)), count));
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
    return true;
}

bool GenerateDayQueries::readRows(const Plan& plan, bool indexed,
                                  std::vector<ChannelAnalysis>* merged)
{
    // Samples around the period tell how its edges are covered.
    const qint64 margin = ChannelAnalysis::edgeMargin(plan.interval);
    const qint64 first = plan.bounds.first() - margin;
    const qint64 last = plan.bounds.last() - 1 + margin;
    // A day per piece, read on as many threads; without the index every read scans the whole
    // table, so there is one piece.
    const int cuts = indexed ? int(plan.bounds.size()) - 2 : 0;
    std::vector<Piece> pieces;
    for (int i = 0; i <= cuts; ++i) {
        Piece piece;
        piece.from = i == 0 ? first : plan.bounds.at(i);
        piece.to = i == cuts ? last : plan.bounds.at(i + 1) - 1;
        for (int c = 0; c < plan.columns(); ++c)
            piece.analyses.emplace_back(&plan.settings[size_t(c)]);
        pieces.push_back(std::move(piece));
    }
    emit wholeCount(int(pieces.size()));
    qDebug().noquote() << "GenerateDayQueries : nodes " << plan.nodes.size() << " pieces "
                       << pieces.size() << " indexed " << indexed;

    std::atomic<qint64> rows{0};
    const bool ok = onThreads(pieces.size(), [&](SampleReader* reader, size_t i) {
        Piece& piece = pieces[i];
        qint64 pieceRows = 0;
        const bool read = reader->read(plan.nodes, piece.from, piece.to,
                                       [&](int node, qint64 t, double v1, double v2) {
                                           ++pieceRows;
                                           plan.add(&piece.analyses, node, t, v1, v2);
                                       });
        rows += pieceRows;
        return read;
    });
    counts.rows = rows;
    if (!ok)
        return false;

    // Join each channel's pieces in time order.
    for (int c = 0; c < plan.columns(); ++c) {
        for (const Piece& piece : pieces)
            (*merged)[size_t(c)].append(piece.analyses[size_t(c)]);
    }
    return true;
}

// Each node's buckets from the summary, and its rows where a bucket cannot be taken whole: cut
// by the period's edge, a midnight or a chart step (zones whose midnights are no quarter hour),
// or holding a second twice. One reader, one state of the file: a bucket is read either way,
// never both; in time order.
bool GenerateDayQueries::readSummary(const Plan& plan, std::vector<ChannelAnalysis>* merged)
{
    if (plan.nodes.isEmpty())
        return true;
    SampleReader reader(databasePath);
    if (!reader.begin()) {
        qDebug().noquote() << reader.errorText();
        return false;
    }
    emit wholeCount(int(plan.nodes.size()));
    qDebug().noquote() << "GenerateDayQueries : nodes " << plan.nodes.size() << " summary";
    const ChannelAnalysis::Settings& settings = plan.settings.front();
    const qint64 size = SampleTable::BucketSeconds;
    const qint64 periodStart = settings.periodStart();
    const qint64 periodLast = settings.periodEnd() - 1;
    bool ok = true;
    for (int n = 0; ok && n < plan.nodes.size() && !isInterruptionRequested(); ++n) {
        QVector<SampleTable::Bucket> buckets;
        ok = reader.readSummary(plan.nodes.at(n).serial, periodStart / size, periodLast / size,
                                [&buckets](const SampleTable::Bucket& b) { buckets.append(b); });
        qint64 rawFrom = 0;
        qint64 rawTo = -1;
        auto readRaw = [&] {
            if (ok && rawTo >= rawFrom)
                ok = reader.read({plan.nodes.at(n)}, rawFrom, rawTo,
                                 [&](int, qint64 t, double v1, double v2) {
                                     ++counts.rows;
                                     plan.add(merged, n, t, v1, v2);
                                 });
            rawTo = rawFrom - 1;
        };
        for (const SampleTable::Bucket& b : qAsConst(buckets)) {
            const qint64 start = b.bucket * size;
            if (!b.dirty && settings.holdsWhole(start, size)) {
                readRaw();
                ++counts.buckets;
                for (int c = 0; c < plan.columns(); ++c) {
                    if (plan.nodeOf.at(c) == n)
                        (*merged)[size_t(c)].addFigures(start, b.rows,
                                                        b.channel[plan.keys.at(c).column - 1]);
                }
                continue;
            }
            // Buckets between two read as rows hold no rows: one read takes them together.
            if (rawTo < rawFrom)
                rawFrom = qMax(start, periodStart);
            rawTo = qMin(start + size - 1, periodLast);
        }
        readRaw();
        emit progPlus(n + 1);
    }
    if (!ok)
        qDebug().noquote() << reader.errorText();
    reader.end();
    return ok && !isInterruptionRequested();
}

// Every figure, each node's quarter hours taken from the summary and the kinetic sums where they
// answer for every chosen channel of the node (ChannelAnalysis::takesStretch: all within the
// limits or all beyond one of them, evenly recorded; the sums' counts equal to the summary's;
// the bucket clean and whole in a day and a step), its rows read otherwise, and the rows around
// the period's edges as readRows() reads them. The pieces are those of readRows(), a day each,
// so that the runs are cut where its are. The nodes are read on threads, each in one read
// transaction: its summary, sums and rows as of one state of the file.
bool GenerateDayQueries::readSums(const Plan& plan, std::vector<ChannelAnalysis>* merged)
{
    if (plan.nodes.isEmpty())
        return true;
    emit wholeCount(int(plan.nodes.size()));
    qDebug().noquote() << "GenerateDayQueries : nodes " << plan.nodes.size() << " kinetic sums";
    const ChannelAnalysis::Settings& settings = plan.settings.front();
    const int days = settings.days();
    std::vector<std::vector<ChannelAnalysis>> pieces(size_t(qMax(1, days)));
    for (std::vector<ChannelAnalysis>& piece : pieces) {
        for (int c = 0; c < plan.columns(); ++c)
            piece.emplace_back(&plan.settings[size_t(c)]);
    }
    auto pieceOf = [&](qint64 t) -> std::vector<ChannelAnalysis>* {
        return &pieces[size_t(qBound(0, settings.dayOf(t), int(pieces.size()) - 1))];
    };
    const qint64 size = SampleTable::BucketSeconds;
    const qint64 margin = ChannelAnalysis::edgeMargin(plan.interval);
    const int parts = int(pieces.size());
    std::atomic<qint64> rows{0};
    std::atomic<qint64> stretches{0};
    // A day of a node per task: the analyses it adds to are its own, and the day's summary, sums
    // and rows are read in one read transaction, one state of the file. A bucket across a
    // midnight is read as rows, each day its own part.
    const bool read =
        onThreads(size_t(plan.nodes.size()) * size_t(parts), [&](SampleReader* reader, size_t i) {
            const int n = int(i) / parts;
            const int day = int(i) % parts;
            const qint64 periodStart = settings.dayBounds.at(day);
            const qint64 periodLast = settings.dayBounds.at(qMin(day + 1, settings.days())) - 1;
            bool ok = reader->begin();
            auto readRaw = [&](qint64 from, qint64 to) {
                if (ok && to >= from)
                    ok = reader->read({plan.nodes.at(n)}, from, to,
                                      [&](int, qint64 t, double v1, double v2) {
                                          ++rows;
                                          plan.add(pieceOf(t), n, t, v1, v2);
                                      });
            };
            struct Taken
            {
                SampleTable::Bucket bucket;
                KineticTable::Row sums;
                bool whole = false;
            };
            QVector<Taken> buckets;
            ok = ok &&
                 reader->readKinetic(
                     plan.nodes.at(n).serial, periodStart / size, periodLast / size,
                     [&](const SampleTable::Bucket& b, const KineticTable::Row* k) {
                         Taken taken{b, k ? *k : KineticTable::Row(), false};
                         const qint64 start = b.bucket * size;
                         taken.whole =
                             k && !b.dirty && k->rows == b.rows && settings.holdsWhole(start, size);
                         for (int c = 0; taken.whole && c < plan.columns(); ++c) {
                             if (plan.nodeOf.at(c) != n)
                                 continue;
                             const int column = plan.keys.at(c).column - 1;
                             const SampleTable::Figures& f = b.channel[column];
                             const KineticTable::Channel& kc = k->channel[column];
                             const double weighted = weightedTerms(plan.settings[size_t(c)], kc);
                             taken.whole =
                                 kc.count == f.count &&
                                 (f.count == 0 ||
                                  ((*merged)[size_t(c)].takesStretch(f.min, f.max, kc.longest) &&
                                   std::isfinite(weighted)));
                         }
                         buckets.append(taken);
                     });
            // Before the period: how its start is covered.
            if (day == 0)
                readRaw(periodStart - margin, periodStart - 1);
            qint64 rawFrom = 0;
            qint64 rawTo = -1;
            auto flush = [&] {
                readRaw(rawFrom, rawTo);
                rawTo = rawFrom - 1;
            };
            for (const Taken& t : qAsConst(buckets)) {
                const qint64 start = t.bucket.bucket * size;
                if (!t.whole) {
                    // Buckets between two read as rows hold no rows: one read takes them together.
                    if (rawTo < rawFrom)
                        rawFrom = qMax(start, periodStart);
                    rawTo = qMin(start + size - 1, periodLast);
                    continue;
                }
                flush();
                ++stretches;
                std::vector<ChannelAnalysis>* piece = pieceOf(start);
                for (int c = 0; c < plan.columns(); ++c) {
                    if (plan.nodeOf.at(c) != n)
                        continue;
                    const int column = plan.keys.at(c).column - 1;
                    const KineticTable::Channel& kc = t.sums.channel[column];
                    ChannelAnalysis& analysis = (*piece)[size_t(c)];
                    analysis.addFigures(start, t.bucket.rows, t.bucket.channel[column]);
                    ChannelAnalysis::Stretch stretch;
                    stretch.firstTime = kc.firstTime;
                    stretch.first = kc.first;
                    stretch.lastTime = kc.lastTime;
                    stretch.last = kc.last;
                    stretch.count = kc.count;
                    stretch.min = t.bucket.channel[column].min;
                    stretch.max = t.bucket.channel[column].max;
                    stretch.weightedTerms = weightedTerms(plan.settings[size_t(c)], kc);
                    analysis.addStretch(stretch);
                }
            }
            flush();
            // After the period: how its end is covered.
            if (day == parts - 1)
                readRaw(periodLast + 1, periodLast + margin);
            reader->end();
            return ok;
        });
    counts.rows = rows;
    counts.buckets = counts.stretches = stretches;
    if (!read)
        return false;
    for (int c = 0; c < plan.columns(); ++c) {
        for (const std::vector<ChannelAnalysis>& piece : pieces)
            (*merged)[size_t(c)].append(piece[size_t(c)]);
    }
    return true;
}
