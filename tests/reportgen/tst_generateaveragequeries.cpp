#include "generateaveragequeries.h"
#include "novalue.h"
#include "reportfixture.h"
#include "reporttables.h"
#include "samplereader.h"
#include "sampletable.h"
#include "workertest.h"

#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <ctime>

using namespace ReportFixture;

namespace {

const QString kDay = QStringLiteral("2026-01-10 ");

qint64 at(const QString& time)
{
    return localSecs(kDay + time);
}

// Unix seconds of a UTC "yyyy-MM-dd hh:mm:ss": names the instants of a repeated local hour.
qint64 utc(const QString& text)
{
    return QDateTime(QDate::fromString(text.left(10), Qt::ISODate),
                     QTime::fromString(text.mid(11), Qt::ISODate), Qt::UTC)
        .toSecsSinceEpoch();
}

struct Period
{
    qint64 key; // period start
    QString label;
    int column;
    double avg;
    double min;
    double max;
};

struct Outcome
{
    bool done = false;
    QString error;
    int whole = -1;
    QList<int> progress;
};

Outcome runWorker(ReportTables* tables, const QString& databasePath, const QString& start,
                  const QString& end, const QStringList& keys, int interval = 60000)
{
    QList<ReportChannel> channels;
    for (const QString& key : keys)
        channels.append(ReportChannel::fromKey(key));
    GenerateAverageQueries worker(QStringLiteral("testkey"), databasePath, QString(), start, end,
                                  channels, tables);
    worker.setDataInterval(interval);
    QSignalSpy done(&worker, &GenerateAverageQueries::done);
    QSignalSpy error(&worker, &GenerateAverageQueries::error);
    QSignalSpy whole(&worker, &GenerateAverageQueries::wholeCount);
    QSignalSpy progress(&worker, &GenerateAverageQueries::progPlus);
    QSignalSpy hashTables(&worker, &GenerateAverageQueries::createHashTables);
    worker.start(QThread::LowPriority);
    worker.wait();
    Outcome outcome;
    outcome.done = done.count() == 1;
    if (error.count() == 1)
        outcome.error = error.at(0).at(0).toString();
    if (whole.count() == 1)
        outcome.whole = whole.at(0).at(0).toInt();
    for (const QList<QVariant>& p : progress)
        outcome.progress.append(p.at(0).toInt());
    if (hashTables.count() != 1)
        outcome.error += QStringLiteral(" (createHashTables not emitted once)");
    return outcome;
}

} // namespace

Q_DECLARE_METATYPE(QList<Sample>)
Q_DECLARE_METATYPE(QList<Period>)
Q_DECLARE_METATYPE(QList<ChartBreak>)

class TestGenerateAverageQueries : public WorkerTest
{
    Q_OBJECT

private slots:
    void periods_data();
    void periods();
    void sharedTimeRows();
    void nullAndMarkerSamples();
    void emptyChannels();
    void chartBreaks_data();
    void chartBreaks();
    void progressAndCount();
    void failures_data();
    void failures();
    void serialNumbers();
    void walDatabaseWhileWriterOpen();
    void timeTextsAcrossZoneChanges_data();
    void timeTextsAcrossZoneChanges();
    void queriesUseTheIndex_data();
    void queriesUseTheIndex();
};

void TestGenerateAverageQueries::periods_data()
{
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QList<Period>>("expected");

    auto s = [](const QString& time, double v) {
        return Sample{QStringLiteral("A"), v, QVariant(), at(time)};
    };
    auto gap = [](const QString& time) {
        return Sample{QStringLiteral("A"), QVariant(), QVariant(), at(time)};
    };
    auto u = [](const QString& time, double v) {
        return Sample{QStringLiteral("A"), v, QVariant(), utc(time)};
    };
    const QString midnight = kDay + QStringLiteral("00:00:00");

    // Periods run from the chosen start (00:30) end to end; a sample at a period's last second
    // stays in it; the last period ends at the last sample.
    QTest::newRow("start at half past")
        << QList<Sample>{s("00:30:00", 1),  s("00:59:00", 2),  s("01:29:59", 3), s("01:45:00", 10),
                         s("02:10:00", 20), s("02:20:00", 30), s("02:30:00", 40)}
        << kDay + QStringLiteral("00:30:00")
        << QList<Period>{{at("00:30:00"), "2026-01-10 00:30-01:29", 0, 2, 1, 3},
                         {at("01:30:00"), "2026-01-10 01:30-02:29", 0, 20, 10, 30},
                         {at("02:30:00"), "2026-01-10 02:30-02:30", 0, 40, 40, 40}};

    // At a 10-minute interval the sample on the full hour opens the next hour, never closes
    // the one before.
    QList<Sample> tenMinutes;
    for (int i = 0; i < 18; ++i)
        tenMinutes.append(s(QTime(0, 0).addSecs(i * 600).toString(QStringLiteral("hh:mm:ss")), i));
    QTest::newRow("10-minute interval, each hour its own six samples")
        << tenMinutes << midnight
        << QList<Period>{{at("00:00:00"), "2026-01-10 00:00-00:59", 0, 2.5, 0, 5},
                         {at("01:00:00"), "2026-01-10 01:00-01:59", 0, 8.5, 6, 11},
                         {at("02:00:00"), "2026-01-10 02:00-02:50", 0, 14.5, 12, 17}};

    // Stopping writes an empty row one interval after the last sample: the restart's samples
    // stay in their own hours and the empty row cuts nothing.
    QTest::newRow("stopped at 09:20, restarted at 14:10, stopped at 15:20")
        << QList<Sample>{s("08:00:00", 1),  s("08:10:00", 2),  s("08:20:00", 3),  s("08:30:00", 4),
                         s("08:40:00", 5),  s("08:50:00", 6),  s("09:00:00", 10), s("09:10:00", 11),
                         s("09:20:00", 12), gap("09:30:00"),   s("14:10:00", 40), s("14:20:00", 41),
                         s("14:30:00", 42), s("14:40:00", 43), s("14:50:00", 44), s("15:00:00", 50),
                         s("15:10:00", 51), s("15:20:00", 52), gap("15:30:00")}
        << midnight
        << QList<Period>{{at("08:00:00"), "2026-01-10 08:00-08:59", 0, 3.5, 1, 6},
                         {at("09:00:00"), "2026-01-10 09:00-09:59", 0, 11, 10, 12},
                         {at("14:00:00"), "2026-01-10 14:00-14:59", 0, 42, 40, 44},
                         {at("15:00:00"), "2026-01-10 15:00-15:20", 0, 51, 50, 52}};

    // A period with a single valid sample gives its row like any other.
    QTest::newRow("single-sample periods kept")
        << QList<Sample>{s("00:10:00", 5), s("01:05:00", 7), s("03:30:00", 9), s("03:40:00", 11),
                         s("04:10:00", 13)}
        << midnight
        << QList<Period>{{at("00:00:00"), "2026-01-10 00:00-00:59", 0, 5, 5, 5},
                         {at("01:00:00"), "2026-01-10 01:00-01:59", 0, 7, 7, 7},
                         {at("03:00:00"), "2026-01-10 03:00-03:59", 0, 10, 9, 11},
                         {at("04:00:00"), "2026-01-10 04:00-04:10", 0, 13, 13, 13}};

    QTest::newRow("last period cut at the last sample")
        << QList<Sample>{s("00:00:00", 1), s("00:20:00", 2), s("00:40:00", 3)} << midnight
        << QList<Period>{{at("00:00:00"), "2026-01-10 00:00-00:40", 0, 2, 1, 3}};

    QTest::newRow("lone last sample kept")
        << QList<Sample>{s("00:10:00", 5), s("01:05:00", 7), s("02:30:00", 9)} << midnight
        << QList<Period>{{at("00:00:00"), "2026-01-10 00:00-00:59", 0, 5, 5, 5},
                         {at("01:00:00"), "2026-01-10 01:00-01:59", 0, 7, 7, 7},
                         {at("02:00:00"), "2026-01-10 02:00-02:30", 0, 9, 9, 9}};

    // Negative values: the extremes start from the marker and its negative, not from 0.
    QTest::newRow("negative values")
        << QList<Sample>{s("00:05:00", -20.5), s("00:30:00", -18.25), s("01:00:00", -19)}
        << midnight
        << QList<Period>{{at("00:00:00"), "2026-01-10 00:00-00:59", 0, -19.375, -20.5, -18.25},
                         {at("01:00:00"), "2026-01-10 01:00-01:00", 0, -19, -19, -19}};

    // Berlin, 2026-10-25: 03:00 summer time is 02:00 winter time; the day has 25 hours.
    QTest::newRow("autumn clock change, the repeated hour twice")
        << QList<Sample>{u("2026-10-24 23:00:00", 10), u("2026-10-24 23:20:00", 11),
                         u("2026-10-24 23:40:00", 12), u("2026-10-25 00:00:00", 20),
                         u("2026-10-25 00:20:00", 21), u("2026-10-25 00:40:00", 22),
                         u("2026-10-25 01:00:00", 30), u("2026-10-25 01:20:00", 31),
                         u("2026-10-25 01:40:00", 32), u("2026-10-25 02:00:00", 40),
                         u("2026-10-25 02:20:00", 41), u("2026-10-25 02:40:00", 42)}
        << QStringLiteral("2026-10-25 00:00:00")
        << QList<Period>{{utc("2026-10-24 23:00:00"), "2026-10-25 01:00-01:59", 0, 11, 10, 12},
                         {utc("2026-10-25 00:00:00"), "2026-10-25 02:00-02:59", 0, 21, 20, 22},
                         {utc("2026-10-25 01:00:00"), "2026-10-25 02:00-02:59", 0, 31, 30, 32},
                         {utc("2026-10-25 02:00:00"), "2026-10-25 03:00-03:40", 0, 41, 40, 42}};

    // Berlin, 2026-03-29: 02:00 winter time is 03:00 summer time; the day has 23 hours.
    QTest::newRow("spring clock change, the skipped hour")
        << QList<Sample>{u("2026-03-29 00:00:00", 10), u("2026-03-29 00:20:00", 11),
                         u("2026-03-29 00:40:00", 12), u("2026-03-29 01:00:00", 30),
                         u("2026-03-29 01:20:00", 31), u("2026-03-29 01:40:00", 32),
                         u("2026-03-29 02:00:00", 40), u("2026-03-29 02:20:00", 41)}
        << QStringLiteral("2026-03-29 00:00:00")
        << QList<Period>{{utc("2026-03-29 00:00:00"), "2026-03-29 01:00-01:59", 0, 11, 10, 12},
                         {utc("2026-03-29 01:00:00"), "2026-03-29 03:00-03:59", 0, 31, 30, 32},
                         {utc("2026-03-29 02:00:00"), "2026-03-29 04:00-04:20", 0, 40.5, 40, 41}};
}

// Catches samples counted in a period that does not hold their time (a full-hour sample in the
// hour before, a restart's sample in the hour of the stop), hours lost before a stop's empty
// row, merged clock-change hours, and wrong labels or statistics.
void TestGenerateAverageQueries::periods()
{
    QFETCH(QList<Sample>, samples);
    QFETCH(QString, start);
    QFETCH(QList<Period>, expected);
    QVERIFY(writeDatabase(dbPath, samples));
    const QString end = QDateTime::fromString(start, QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                            .addDays(1)
                            .addSecs(-1)
                            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const Outcome outcome =
        runWorker(&tables, dbPath, start, end, {QStringLiteral("A_channel1|Temperature")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, samples.size());
    QCOMPARE(tables.periodRows.size(), expected.size());
    for (const Period& p : expected) {
        QVERIFY2(tables.periodRows.contains(p.key), qPrintable(p.label));
        const PeriodRow& row = tables.periodRows.value(p.key);
        QCOMPARE(row.label, p.label);
        QCOMPARE(row.avg[p.column], p.avg);
        QCOMPARE(row.min[p.column], p.min);
        QCOMPARE(row.max[p.column], p.max);
        for (int c = 1; c < ReportColumns; ++c) {
            QCOMPARE(row.avg[c], 0.0);
            QCOMPARE(row.min[c], NoValue);
        }
    }
    const int valid = int(std::count_if(samples.cbegin(), samples.cend(),
                                        [](const Sample& x) { return !x.channel1.isNull(); }));
    QCOMPARE(tables.sampleRows.size(), valid);
    const SampleRow& first = tables.sampleRows.first();
    QCOMPARE(first.timeText, QDateTime::fromSecsSinceEpoch(samples.first().pointDate)
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    QCOMPARE(first.values[1], NoValue);
}

// Catches channels that overwrite each other's sample rows, period columns or row labels.
void TestGenerateAverageQueries::sharedTimeRows()
{
    QVERIFY(writeDatabase(dbPath, {{"N1", 20.0, 40.0, at("00:00:00")},
                                   {"N1", 22.0, 42.0, at("00:30:00")},
                                   {"N1", 24.0, 44.0, at("01:00:00")},
                                   {"N2", 5.0, 50.0, at("00:15:00")},
                                   {"N2", 7.0, 70.0, at("01:15:00")}}));
    const Outcome outcome = runWorker(
        &tables, dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
        {QStringLiteral("N1_channel1|a"), QStringLiteral("N1_channel2|b"),
         QStringLiteral("N2_channel1|c")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, 3 + 3 + 2);
    QCOMPARE(tables.sampleRows.size(), 5);
    const SampleRow shared = tables.sampleRows.value(at("00:30:00"));
    QCOMPARE(shared.values[0], 22.0);
    QCOMPARE(shared.values[1], 42.0);
    QCOMPARE(shared.values[2], NoValue);
    QCOMPARE(shared.values[3], NoValue);
    const SampleRow other = tables.sampleRows.value(at("00:15:00"));
    QCOMPARE(other.values[0], NoValue);
    QCOMPARE(other.values[2], 5.0);

    QCOMPARE(tables.periodRows.size(), 2);
    const PeriodRow row = tables.periodRows.first();
    QCOMPARE(row.label, QStringLiteral("2026-01-10 00:00-00:59"));
    QCOMPARE(row.avg[0], 21.0);
    QCOMPARE(row.avg[1], 41.0);
    QCOMPARE(row.avg[2], 5.0);
    QCOMPARE(row.avg[3], 0.0);
    QCOMPARE(row.max[3], NoValue);
    // N1 ends at 01:00, N2 at 01:15: the row's label covers both.
    const PeriodRow last = tables.periodRows.last();
    QCOMPARE(last.label, QStringLiteral("2026-01-10 01:00-01:15"));
    QCOMPARE(last.avg[0], 24.0);
    QCOMPARE(last.min[2], 7.0);
    QCOMPARE(last.max[2], 7.0);
}

// Catches NULL or marker values that are averaged as numbers (as 0 or 1.7E+308).
void TestGenerateAverageQueries::nullAndMarkerSamples()
{
    QVERIFY(writeDatabase(dbPath, {{"A", QVariant(), 1.0, at("00:10:00")},
                                   {"A", 4.0, 1.0, at("00:20:00")},
                                   {"A", NoValue, 1.0, at("00:30:00")},
                                   {"A", 6.0, 1.0, at("01:10:00")}}));
    const Outcome outcome =
        runWorker(&tables, dbPath, kDay + QStringLiteral("00:00:00"),
                  kDay + QStringLiteral("23:59:59"), {QStringLiteral("A_channel1|x")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, 4);
    QCOMPARE(tables.sampleRows.size(), 2);
    QVERIFY(!tables.sampleRows.contains(at("00:10:00")));
    QVERIFY(!tables.sampleRows.contains(at("00:30:00")));
    QCOMPARE(tables.periodRows.size(), 2);
    QCOMPARE(tables.periodRows.first().avg[0], 4.0);
    QCOMPARE(tables.periodRows.first().min[0], 4.0);
    QCOMPARE(tables.periodRows.first().max[0], 4.0);
    QCOMPARE(tables.periodRows.last().avg[0], 6.0);
}

// Catches an all-NULL channel flagged as empty, or a channel without rows not flagged.
void TestGenerateAverageQueries::emptyChannels()
{
    QVERIFY(writeDatabase(
        dbPath, {{"A", QVariant(), 3.0, at("00:10:00")}, {"A", QVariant(), 4.0, at("01:10:00")}}));
    const Outcome outcome = runWorker(
        &tables, dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
        {QStringLiteral("A_channel1|x"), QStringLiteral("B_channel1|x"),
         QStringLiteral("A_channel2|y")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(tables.channelEmpty[0], false);
    QCOMPARE(tables.channelEmpty[1], true);
    QCOMPARE(tables.channelEmpty[2], false);
    QCOMPARE(tables.sampleRows.size(), 2);
    QCOMPARE(tables.sampleRows.first().values[0], NoValue);
    QCOMPARE(tables.sampleRows.first().values[2], 3.0);
    QCOMPARE(tables.periodRows.size(), 2);
    QCOMPARE(tables.periodRows.first().avg[0], 0.0);
    QCOMPARE(tables.periodRows.first().min[0], NoValue);
    QCOMPARE(tables.periodRows.first().avg[2], 3.0);
    QCOMPARE(tables.periodRows.last().avg[2], 4.0);
}

void TestGenerateAverageQueries::chartBreaks_data()
{
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<ChartBreak>>("breaks"); // of channel 1

    // Every minute: stopped at 09:20 (the gap record at 09:21) and restarted at 09:22; nothing
    // from 09:40 to 09:50; the poll of 10:00 missed; channel 2 alone without value at 10:05.
    QList<Sample> minutes;
    for (int m = 0; m <= 70; ++m) {
        const qint64 t = at(QStringLiteral("09:00:00")) + m * 60;
        if (m == 21)
            minutes.append({"A", QVariant(), QVariant(), t});
        else if (m != 60 && (m < 41 || m > 49))
            minutes.append({"A", 20.0 + m % 3, m == 65 ? QVariant() : QVariant(50.0), t});
    }
    QTest::newRow("stop, silence, a missed poll")
        << minutes << 60000
        << QList<ChartBreak>{{0, at("09:20:00"), at("09:22:00"), at("09:21:00")},
                             {0, at("09:40:00"), at("09:50:00"), at("09:41:00")}};

    // Every 10 s in a project now at 1 s, nothing from 12:30:10 to 12:34:50: one break, where
    // the next sample was due.
    QList<Sample> tens;
    for (qint64 t = at("12:00:00"); t <= at("13:00:00"); t += 10) {
        if (t <= at("12:30:00") || t >= at("12:35:00"))
            tens.append({"A", 4.0, 60.0, t});
    }
    QTest::newRow("10-s samples in a 1-s project")
        << tens << 1000 << QList<ChartBreak>{{0, at("12:30:00"), at("12:35:00"), at("12:30:10")}};
}

// Catches a chart line drawn across a stop (a gap record) or a silence much longer than the
// samples' spacing, and lines broken at every missed poll or between every two samples that
// came at a longer interval than the project's.
void TestGenerateAverageQueries::chartBreaks()
{
    QFETCH(QList<Sample>, samples);
    QFETCH(int, interval);
    QFETCH(QList<ChartBreak>, breaks);
    QVERIFY(writeDatabase(dbPath, samples));
    const Outcome outcome = runWorker(
        &tables, dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
        {QStringLiteral("A_channel1|x"), QStringLiteral("A_channel2|y")}, interval);
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QList<ChartBreak> first;
    for (const ChartBreak& b : qAsConst(tables.breaks)) {
        if (b.column == 0)
            first.append(b);
    }
    QCOMPARE(first.size(), breaks.size());
    for (int i = 0; i < breaks.size(); ++i) {
        QCOMPARE(QDateTime::fromSecsSinceEpoch(first.at(i).from),
                 QDateTime::fromSecsSinceEpoch(breaks.at(i).from));
        QCOMPARE(QDateTime::fromSecsSinceEpoch(first.at(i).to),
                 QDateTime::fromSecsSinceEpoch(breaks.at(i).to));
        QCOMPARE(QDateTime::fromSecsSinceEpoch(first.at(i).at),
                 QDateTime::fromSecsSinceEpoch(breaks.at(i).at));
    }
    // Channel 2 breaks at the same places: its lone value missing at 10:05 is no break.
    QCOMPARE(tables.breaks.size() - first.size(), breaks.size());
}

// Catches progress that is not reported every 10 samples, or a count over the wrong rows
// (outside the period, other nodes).
void TestGenerateAverageQueries::progressAndCount()
{
    QList<Sample> samples;
    for (int i = 0; i < 25; ++i)
        samples.append({"A", double(i), double(i), at("00:00:00") + i * 60});
    samples.append({"A", 1.0, 1.0, at("00:00:00") - 1});               // before the start
    samples.append({"A", 1.0, 1.0, localSecs("2026-01-11 00:00:00")}); // after the end
    samples.append({"B", 1.0, 1.0, at("00:05:00")});
    QVERIFY(writeDatabase(dbPath, samples));
    const Outcome outcome = runWorker(
        &tables, dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
        {QStringLiteral("A_channel1|x"), QStringLiteral("A_channel2|y")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, 50);
    QCOMPARE(outcome.progress, (QList<int>{10, 20, 30, 40, 50}));
}

void TestGenerateAverageQueries::failures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("database missing") << "missing" << QStringList{"A_channel1|x"};
    QTest::newRow("not a database") << "garbage" << QStringList{"A_channel1|x"};
    QTest::newRow("no table") << "notable" << QStringList{"A_channel1|x"};
    QTest::newRow("key without underscore") << "good" << QStringList{"A_channel1|x", "Achannel1|x"};
    QTest::newRow("serial with underscore, unknown column")
        << "good" << QStringList{"A_b_pointDate|x"};
    QTest::newRow("unknown column") << "good" << QStringList{"A_pointDate|x"};
}

// Catches failing queries that are reported as a report, and a missing database that the
// worker creates empty.
void TestGenerateAverageQueries::failures()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, keys);
    if (kind == QLatin1String("good")) {
        QVERIFY(writeDatabase(dbPath, {{"A", 1.0, 2.0, at("00:10:00")}}));
    } else if (kind == QLatin1String("garbage")) {
        QFile file(dbPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    } else if (kind == QLatin1String("notable")) {
        QFile file(dbPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const Outcome outcome = runWorker(&tables, dbPath, kDay + QStringLiteral("00:00:00"),
                                      kDay + QStringLiteral("23:59:59"), keys);
    QVERIFY(!outcome.done);
    QVERIFY(outcome.error.startsWith(QStringLiteral("makeModels error.")));
    QCOMPARE(outcome.whole, -1);
    QVERIFY(tables.sampleRows.isEmpty());
    QVERIFY(tables.periodRows.isEmpty());
    if (kind == QLatin1String("missing"))
        QVERIFY(!QFile::exists(dbPath));
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("testkeyreportdb")));
}

// Catches a serial number pasted into the query (quotes must neither break it nor widen it),
// and a serial number holding "_" that cannot be reported.
void TestGenerateAverageQueries::serialNumbers()
{
    QVERIFY(writeDatabase(dbPath, {{"O'Neil", 1.0, 2.0, at("00:10:00")},
                                   {"O'Neil", 3.0, 2.0, at("00:40:00")},
                                   {"Other", 9.0, 9.0, at("00:20:00")},
                                   {"CS_01_b", 4.0, 6.5, at("00:30:00")}}));
    Outcome outcome = runWorker(
        &tables, dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
        {QStringLiteral("O'Neil_channel1|x"), QStringLiteral("x' or '1'='1_channel1|x"),
         QStringLiteral("CS_01_b_channel2|y")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, 3);
    QCOMPARE(tables.channelEmpty[1], true);
    QCOMPARE(tables.periodRows.first().avg[0], 2.0);
    QCOMPARE(tables.periodRows.first().avg[2], 6.5);
}

// Catches a reader that cannot open the recorder's database while the recorder holds it open.
void TestGenerateAverageQueries::walDatabaseWhileWriterOpen()
{
    QVERIFY(writeDatabase(dbPath, {{"A", 1.0, 2.0, at("00:10:00")}}, true));
    {
        QSqlDatabase writer =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        writer.setDatabaseName(dbPath);
        QVERIFY(writer.open());
        QSqlQuery q(writer);
        QVERIFY(q.exec(QStringLiteral("PRAGMA journal_mode = WAL")));
        QVERIFY(q.exec(QStringLiteral("insert into quorbinal (serialno, channel1, channel2, "
                                      "pointDate) values ('A', 3.0, 4.0, %1)")
                           .arg(at("01:10:00"))));
        const Outcome outcome =
            runWorker(&tables, dbPath, kDay + QStringLiteral("00:00:00"),
                      kDay + QStringLiteral("23:59:59"), {QStringLiteral("A_channel1|x")});
        QVERIFY2(outcome.done, qPrintable(outcome.error));
        QCOMPARE(outcome.whole, 2);
        writer.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));
}

void TestGenerateAverageQueries::timeTextsAcrossZoneChanges_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("day");
    QTest::newRow("Berlin, clocks forward") << QByteArray("Europe/Berlin") << "2026-03-29";
    QTest::newRow("Berlin, clocks back") << QByteArray("Europe/Berlin") << "2026-10-25";
    QTest::newRow("Lord Howe, half-hour shift")
        << QByteArray("Australia/Lord_Howe") << "2026-04-05";
    QTest::newRow("Kathmandu, quarter-hour offset") << QByteArray("Asia/Kathmandu") << "2026-01-10";
}

// Catches sample-row time texts that drift from the local time around a change of the zone's
// offset (the worker formats them without a full conversion per sample).
void TestGenerateAverageQueries::timeTextsAcrossZoneChanges()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, day);
    const QByteArray previous = setZone(zone);
    // From noon the day before, so that the texts also cross a midnight.
    const QString startText =
        QDate::fromString(day, Qt::ISODate).addDays(-1).toString(Qt::ISODate) + " 12:00:00";
    const QString endText = day + QStringLiteral(" 11:59:59");
    const qint64 start = localSecs(startText);
    QList<Sample> samples;
    const qint64 end = localSecs(endText);
    for (qint64 t = start; t <= end; t += 97)
        samples.append({"A", 1.0, 2.0, t});
    QVERIFY(writeDatabase(dbPath, samples));
    const Outcome outcome =
        runWorker(&tables, dbPath, startText, endText, {QStringLiteral("A_channel1|x")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(tables.sampleRows.size(), samples.size());
    for (auto it = tables.sampleRows.constBegin(); it != tables.sampleRows.constEnd(); ++it)
        QCOMPARE(it->timeText, QDateTime::fromSecsSinceEpoch(it.key()).toString(
                                   QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    restoreZone(previous);
}

void TestGenerateAverageQueries::queriesUseTheIndex_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::newRow("file without the index") << false;
    QTest::newRow("file with the index") << true;
}

// Catches queries that scan the whole table where the recorder's index finds a node's period,
// results that differ with the index, and a report that builds the index itself.
void TestGenerateAverageQueries::queriesUseTheIndex()
{
    QFETCH(bool, indexed);
    QVERIFY(writeDatabase(dbPath, {{"A", 1.0, 2.0, at("00:10:00")},
                                   {"B", 7.0, 8.0, at("00:15:00")},
                                   {"A", 3.0, 4.0, at("00:20:00")},
                                   {"A", 5.0, 6.0, localSecs("2026-01-11 00:20:00")}}));
    const QString connection = QStringLiteral("plan");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(dbPath);
        QVERIFY(db.open());
        if (indexed)
            QVERIFY(QSqlQuery(db).exec(SampleTable::createIndexStatement()));

        const Outcome outcome =
            runWorker(&tables, dbPath, kDay + QStringLiteral("00:00:00"),
                      kDay + QStringLiteral("23:59:59"), {"A_channel1|x", "A_channel2|y"});
        QVERIFY2(outcome.done, qPrintable(outcome.error));
        QCOMPARE(outcome.whole, 4);
        QCOMPARE(tables.periodRows.first().avg[0], 2.0);
        QCOMPARE(tables.periodRows.first().avg[1], 3.0);

        const QString one = QStringLiteral("channel1");
        const QString two = QStringLiteral("channel2");
        for (const QStringList& columns : {QStringList{one}, QStringList{two}, {one, two}}) {
            QSqlQuery plan(db);
            QVERIFY(plan.prepare(QStringLiteral("explain query plan ") +
                                 SampleReader::channelQuery(columns)));
            plan.addBindValue(QStringLiteral("A"));
            plan.addBindValue(at("00:00:00"));
            plan.addBindValue(at("23:59:59"));
            QVERIFY(plan.exec());
            QString steps;
            while (plan.next())
                steps += plan.value(3).toString() + QLatin1Char('\n');
            QCOMPARE(steps.contains(QStringLiteral("USING INDEX ") + SampleTable::indexName()),
                     indexed);
        }
        QCOMPARE(SampleTable::hasIndex(db), indexed);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

QTEST_GUILESS_MAIN(TestGenerateAverageQueries)
#include "tst_generateaveragequeries.moc"
