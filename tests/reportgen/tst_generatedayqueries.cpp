#include "alarmsuppressiontable.h"
#include "generatedayqueries.h"
#include "meankinetictemperature.h"
#include "novalue.h"
#include "reportfixture.h"
#include "reportsuppressions.h"
#include "reporttables.h"
#include "sampletable.h"
#include "sqliteconnection.h"
#include "summarybuild.h"
#include "workertest.h"

#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <sqlite3.h>

#include <ctime>
#include <functional>

using namespace ReportFixture;

namespace {

qint64 at(const char* text)
{
    return localSecs(QLatin1String(text));
}

struct Day
{
    const char* date;
    double avg;
    double min;
    double max;
};

struct Outcome
{
    bool done = false;
    QString error;
};

Outcome runWorker(ReportTables* tables, const QString& path, const ReportPeriod& period,
                  const QList<ReportChannel>& channels, int interval = 60000,
                  bool figuresOnly = false, GenerateDayQueries::Reading* reading = nullptr,
                  bool kineticSums = true)
{
    GenerateDayQueries worker(path, period, interval, channels, tables);
    worker.setFiguresOnly(figuresOnly);
    worker.setKineticSums(kineticSums);
    QSignalSpy done(&worker, &GenerateDayQueries::done);
    QSignalSpy error(&worker, &GenerateDayQueries::error);
    worker.start();
    worker.wait();
    Outcome outcome;
    outcome.done = done.count() == 1;
    if (error.count() == 1)
        outcome.error = error.at(0).at(0).toString();
    if (reading)
        *reading = worker.reading();
    return outcome;
}

// What a weekly or monthly report shows: per day and column the average as shown, minimum and
// maximum; the chart's points and where its lines break; the channels without rows.
QStringList shownFigures(const ReportTables& tables)
{
    QStringList lines = WorkerTest::reportFigures(tables);
    for (bool empty : tables.channelEmpty)
        lines << (empty ? QStringLiteral("empty") : QStringLiteral("rows"));
    for (const ChartBreak& b : tables.breaks)
        lines << QStringLiteral("break %1 %2 %3 %4").arg(b.column).arg(b.from).arg(b.to).arg(b.at);
    return lines;
}

ReportChannel limited(const QString& key, double lower, double upper)
{
    ReportChannel channel = ReportChannel::fromKey(key + QStringLiteral("|x"));
    channel.limited = true;
    channel.lower = lower;
    channel.upper = upper;
    return channel;
}

// Rows of node A every minute from..to (inclusive), channel 1 = value(time).
QList<Sample> minutes(const char* from, const char* to,
                      const std::function<QVariant(qint64)>& value)
{
    QList<Sample> samples;
    for (qint64 t = at(from); t <= at(to); t += 60)
        samples.append({QStringLiteral("A"), value(t), QVariant(), t});
    return samples;
}

} // namespace

Q_DECLARE_METATYPE(QList<Sample>)
Q_DECLARE_METATYPE(QList<Excursion>)
Q_DECLARE_METATYPE(QList<DataGap>)
Q_DECLARE_METATYPE(QList<Day>)
Q_DECLARE_METATYPE(QVector<AlarmSuppression>)

class TestGenerateDayQueries : public WorkerTest
{
    Q_OBJECT

private slots:
    void dayFigures_data();
    void dayFigures();
    void excursionsAndGaps_data();
    void excursionsAndGaps();
    void sameAsEveryRow_data();
    void sameAsEveryRow();
    void chartSteps();
    void summaryAsRows_data();
    void summaryAsRows();
    void failures_data();
    void failures();
    void suppressionsListed_data();
    void suppressionsListed();
};

void TestGenerateDayQueries::dayFigures_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QDate>("start");
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<int>("dayCount");
    QTest::addColumn<QList<Day>>("expected"); // days with values; all others empty

    auto s = [](const char* time, QVariant v) {
        return Sample{QStringLiteral("A"), v, QVariant(), at(time)};
    };
    // 2026-03-29: 02:00 becomes 03:00, the day has 23 hours; 01:59:59 and 03:00:00 are one
    // second apart and both on the 29th. NULL and marker rows count nowhere.
    QTest::newRow("week over the spring change")
        << int(ReportKind::Weekly) << QDate(2026, 3, 26)
        << QList<Sample>{s("2026-03-27 10:00:00", QVariant()), s("2026-03-27 11:00:00", NoValue),
                         s("2026-03-28 23:59:59", 10),         s("2026-03-29 00:00:00", 20),
                         s("2026-03-29 01:59:59", 30),         s("2026-03-29 03:00:00", 40),
                         s("2026-03-29 23:59:59", 50),         s("2026-03-30 00:00:00", 60),
                         s("2026-04-02 00:00:00", 99)}
        << 7
        << QList<Day>{
               {"2026-03-28", 10, 10, 10}, {"2026-03-29", 35, 20, 50}, {"2026-03-30", 60, 60, 60}};

    // 2026-10-25: 03:00 becomes 02:00, the day has 25 hours; both 02:30 are on it.
    QList<Sample> autumn{s("2026-10-24 23:59:59", -1), s("2026-10-25 00:30:00", 1),
                         s("2026-10-25 23:30:00", 4),  s("2026-10-26 00:00:00", 8),
                         s("2026-10-31 23:59:59", 16), s("2026-11-01 00:00:00", 99)};
    const qint64 firstHalfPast2 =
        QDateTime(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC).toSecsSinceEpoch();
    autumn.append({QStringLiteral("A"), 2, QVariant(), firstHalfPast2});
    autumn.append({QStringLiteral("A"), 3, QVariant(), firstHalfPast2 + 3600});
    QTest::newRow("month over the autumn change")
        << int(ReportKind::Monthly) << QDate(2026, 10, 17) << autumn << 31
        << QList<Day>{{"2026-10-24", -1, -1, -1},
                      {"2026-10-25", 2.5, 1, 4},
                      {"2026-10-26", 8, 8, 8},
                      {"2026-10-31", 16, 16, 16}};
}

// Catches a sample counted in the wrong local day (UTC days, 24-hour days over a clock
// change), NULL or marker rows averaged, days without samples dropped, and a monthly report
// that does not cover the calendar month of its start.
void TestGenerateDayQueries::dayFigures()
{
    QFETCH(int, kind);
    QFETCH(QDate, start);
    QFETCH(QList<Sample>, samples);
    QFETCH(int, dayCount);
    QFETCH(QList<Day>, expected);
    QVERIFY(writeDatabase(dbPath, samples));
    const ReportPeriod period = ReportPeriod::of(ReportKind(kind), start);
    const Outcome outcome = runWorker(&tables, dbPath, period,
                                      {ReportChannel::fromKey(QStringLiteral("A_channel1|x"))});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(tables.periodRows.size(), dayCount);
    int withValues = 0;
    for (auto it = tables.periodRows.constBegin(); it != tables.periodRows.constEnd(); ++it) {
        QCOMPARE(it.key(), ReportPeriod::dayStart(QDate::fromString(it->label, Qt::ISODate)));
        withValues += it->min[0] != NoValue ? 1 : 0;
        QCOMPARE(it->avg[1], 0.0);
        QCOMPARE(it->min[1], NoValue);
    }
    QCOMPARE(withValues, expected.size());
    for (const Day& day : expected) {
        const PeriodRow row = tables.periodRows.value(
            ReportPeriod::dayStart(QDate::fromString(day.date, Qt::ISODate)));
        QCOMPARE(row.label, QLatin1String(day.date));
        QCOMPARE(row.avg[0], day.avg);
        QCOMPARE(row.min[0], day.min);
        QCOMPARE(row.max[0], day.max);
    }
}

void TestGenerateDayQueries::excursionsAndGaps_data()
{
    QTest::addColumn<QDate>("start");
    QTest::addColumn<int>("span");
    QTest::addColumn<double>("upper"); // lower limit 2
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<QList<Excursion>>("excursions");
    QTest::addColumn<QList<DataGap>>("gaps");
    QTest::addColumn<QList<qint64>>("outSeconds"); // per day
    QTest::addColumn<int>("interval");             // the project's, milliseconds

    // Every minute, limits 2 to 8. A sample stands for the time to the next one when that
    // follows within two intervals; else for one interval, and the rest is a gap.
    const auto inOut = [](const char* from, const char* to, double out) {
        return [from, to, out](qint64 t) {
            return QVariant(t >= at(from) && t < at(to) ? out + double(t - at(from)) / 600 : 5.0);
        };
    };
    // 23:56 to 00:04 out, rising from 9.0 by 0.1 a minute: 9 minutes, 4 on the first day.
    QTest::newRow("excursion across midnight")
        << QDate(2026, 1, 10) << int(HaccpSpan::Week) << 8.0
        << minutes("2026-01-10 23:50:00", "2026-01-11 00:10:00",
                   inOut("2026-01-10 23:56:00", "2026-01-11 00:05:00", 9.0))
        << QList<Excursion>{{0, true, at("2026-01-10 23:56:00"), at("2026-01-11 00:05:00"), 9.8, 0,
                             false, false}}
        << QList<DataGap>{{0, at("2026-01-10 00:00:00"), at("2026-01-10 23:50:00")},
                          {0, at("2026-01-11 00:11:00"), at("2026-01-17 00:00:00")}}
        << QList<qint64>{240, 300, 0, 0, 0, 0, 0} << 60000;

    // Out from 23:50 to the last sample at 23:59, which stands for the minute to midnight; the
    // sample in the limits just after the period does not close it.
    QList<Sample> open = minutes("2026-01-10 23:40:00", "2026-01-10 23:59:00",
                                 inOut("2026-01-10 23:50:00", "2026-01-11 00:00:00", 8.5));
    open.append({QStringLiteral("A"), 5.0, QVariant(), at("2026-01-11 00:00:30")});
    QTest::newRow("excursion open at the end")
        << QDate(2026, 1, 10) << int(HaccpSpan::Day) << 8.0 << open
        << QList<Excursion>{{0, true, at("2026-01-10 23:50:00"), at("2026-01-11 00:00:00"), 9.4, 0,
                             false, true}}
        << QList<DataGap>{{0, at("2026-01-10 00:00:00"), at("2026-01-10 23:40:00")}}
        << QList<qint64>{600} << 60000;

    // Out 10:00-10:05 and 10:20-10:25 (9.0, then 9.5), the node unreachable (NULL) between,
    // the poll of 10:26 missed: one excursion of 27 minutes holding 14 without data, 13
    // minutes out of limits (the 10:25 sample stands for the two minutes to 10:27).
    QList<Sample> hole = minutes("2026-01-10 09:55:00", "2026-01-10 10:30:00", [](qint64 t) {
        if (t >= at("2026-01-10 10:06:00") && t < at("2026-01-10 10:20:00"))
            return QVariant();
        if (t >= at("2026-01-10 10:00:00") && t < at("2026-01-10 10:06:00"))
            return QVariant(9.0);
        if (t >= at("2026-01-10 10:20:00") && t < at("2026-01-10 10:26:00"))
            return QVariant(9.5);
        return QVariant(5.0);
    });
    hole.removeAt(31); // 10:26
    QTest::newRow("gap inside an excursion")
        << QDate(2026, 1, 10) << int(HaccpSpan::Day) << 8.0 << hole
        << QList<Excursion>{{0, true, at("2026-01-10 10:00:00"), at("2026-01-10 10:27:00"), 9.5,
                             14 * 60, false, false}}
        << QList<DataGap>{{0, at("2026-01-10 00:00:00"), at("2026-01-10 09:55:00")},
                          {0, at("2026-01-10 10:06:00"), at("2026-01-10 10:20:00")},
                          {0, at("2026-01-10 10:31:00"), at("2026-01-11 00:00:00")}}
        << QList<qint64>{780} << 60000;

    // The sample before midnight (9.9) covers the period's first minute; the extreme is of the
    // period's own samples. One missed poll (00:08 to 00:10) is no gap; two (00:12 to 00:15)
    // are, and so is 00:03 to 00:08. The last sample, below the lower limit, stays open.
    QList<Sample> before{{QStringLiteral("A"), 9.9, QVariant(), at("2026-01-09 23:59:00")}};
    for (const char* time : {"2026-01-10 00:00:00", "2026-01-10 00:01:00", "2026-01-10 00:02:00"})
        before.append({QStringLiteral("A"), 8.6, QVariant(), at(time)});
    for (const char* time : {"2026-01-10 00:03:00", "2026-01-10 00:08:00", "2026-01-10 00:10:00",
                             "2026-01-10 00:12:00"})
        before.append({QStringLiteral("A"), 5.0, QVariant(), at(time)});
    before.append({QStringLiteral("A"), 1.5, QVariant(), at("2026-01-10 00:15:00")});
    QTest::newRow("excursion from before the period, a missed poll, a low one")
        << QDate(2026, 1, 10) << int(HaccpSpan::Day) << 8.0 << before
        << QList<Excursion>{{0, true, at("2026-01-10 00:00:00"), at("2026-01-10 00:03:00"), 8.6, 0,
                             true, false},
                            {0, false, at("2026-01-10 00:15:00"), at("2026-01-10 00:16:00"), 1.5, 0,
                             false, true}}
        << QList<DataGap>{{0, at("2026-01-10 00:04:00"), at("2026-01-10 00:08:00")},
                          {0, at("2026-01-10 00:13:00"), at("2026-01-10 00:15:00")},
                          {0, at("2026-01-10 00:16:00"), at("2026-01-11 00:00:00")}}
        << QList<qint64>{180 + 60} << 60000;

    // Equal bounds switch the limits off, as the recorder's alarm.
    QTest::newRow("no limits") << QDate(2026, 1, 10) << int(HaccpSpan::Day) << 2.0
                               << minutes("2026-01-10 00:00:00", "2026-01-10 23:59:00",
                                          [](qint64) { return QVariant(50.0); })
                               << QList<Excursion>{} << QList<DataGap>{} << QList<qint64>{0}
                               << 60000;

    // The upper limit as the project keeps it, in single precision (2.1f is 2.0999999): a value
    // of 2.10 is in limits, 2.11 from 10:00 to 10:04 is out.
    QTest::newRow("a value equal to the upper limit as shown")
        << QDate(2026, 1, 10) << int(HaccpSpan::Day) << double(2.1f)
        << minutes("2026-01-10 00:00:00", "2026-01-10 23:59:00",
                   [](qint64 t) {
                       return QVariant(
                           t >= at("2026-01-10 10:00:00") && t < at("2026-01-10 10:05:00") ? 2.11
                                                                                           : 2.10);
                   })
        << QList<Excursion>{{0, true, at("2026-01-10 10:00:00"), at("2026-01-10 10:05:00"), 2.11, 0,
                             false, false}}
        << QList<DataGap>{} << QList<qint64>{300} << 60000;

    // A day of samples every 10 s, out of limits from 10:00 to 10:29:50, stopped from 13:00:00
    // to 13:05:00 and 40 s without samples at 16:00. In a 10-s project a sample stands for the
    // time to the next one up to 20 s away; in a 1-s project the samples themselves show that
    // they come every 10 s: the same excursion, gaps and time out of limits, not a gap after
    // every sample.
    QList<Sample> tens;
    for (qint64 t = at("2026-01-09 23:59:00"); t <= at("2026-01-11 00:01:00"); t += 10) {
        if ((t > at("2026-01-10 13:00:00") && t < at("2026-01-10 13:05:00")) ||
            (t > at("2026-01-10 16:00:00") && t < at("2026-01-10 16:00:50")))
            continue;
        const bool out = t >= at("2026-01-10 10:00:00") && t < at("2026-01-10 10:30:00");
        tens.append({QStringLiteral("A"), out ? 9.0 : 5.0, QVariant(), t});
    }
    for (const int interval : {10000, 1000}) {
        QTest::addRow("10-s samples in a %d-s project", interval / 1000)
            << QDate(2026, 1, 10) << int(HaccpSpan::Day) << 8.0 << tens
            << QList<Excursion>{{0, true, at("2026-01-10 10:00:00"), at("2026-01-10 10:30:00"), 9.0,
                                 0, false, false}}
            << QList<DataGap>{{0, at("2026-01-10 13:00:10"), at("2026-01-10 13:05:00")},
                              {0, at("2026-01-10 16:00:10"), at("2026-01-10 16:00:50")}}
            << QList<qint64>{1800} << interval;
    }
}

// Catches time out of limits, excursion bounds, extremes, notes or gaps that differ from the
// rule worked out by hand: an excursion across midnight split between its days, one open at
// the period's end, a gap inside one (neither in nor out of limits), a missed poll taken for a
// gap, a period that opens inside an excursion, a value equal to a limit as shown counted out.
void TestGenerateDayQueries::excursionsAndGaps()
{
    QFETCH(QDate, start);
    QFETCH(int, span);
    QFETCH(double, upper);
    QFETCH(QList<Sample>, samples);
    QFETCH(QList<Excursion>, excursions);
    QFETCH(QList<DataGap>, gaps);
    QFETCH(QList<qint64>, outSeconds);
    QFETCH(int, interval);
    QVERIFY(writeDatabase(dbPath, samples));
    const ReportPeriod period = ReportPeriod::of(ReportKind::Haccp, start, HaccpSpan(span));
    // Read in one piece, then (with the index) in a piece per day joined afterwards.
    for (const bool indexed : {false, true}) {
        if (indexed) {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("i"));
            db.setDatabaseName(dbPath);
            QVERIFY(db.open() && QSqlQuery(db).exec(SampleTable::createIndexStatement()));
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("i"));
        }
        const Outcome outcome = runWorker(
            &tables, dbPath, period, {limited(QStringLiteral("A_channel1"), 2, upper)}, interval);
        QVERIFY2(outcome.done, qPrintable(outcome.error));

        QCOMPARE(tables.excursions.size(), excursions.size());
        for (int i = 0; i < excursions.size(); ++i) {
            const Excursion& got = tables.excursions.at(i);
            const Excursion& want = excursions.at(i);
            QCOMPARE(got.high, want.high);
            QCOMPARE(QDateTime::fromSecsSinceEpoch(got.start),
                     QDateTime::fromSecsSinceEpoch(want.start));
            QCOMPARE(QDateTime::fromSecsSinceEpoch(got.end),
                     QDateTime::fromSecsSinceEpoch(want.end));
            QCOMPARE(got.extreme, want.extreme);
            QCOMPARE(got.gapSeconds, want.gapSeconds);
            QCOMPARE(got.openAtStart, want.openAtStart);
            QCOMPARE(got.openAtEnd, want.openAtEnd);
        }
        QCOMPARE(tables.gaps.size(), gaps.size());
        for (int i = 0; i < gaps.size(); ++i) {
            QCOMPARE(QDateTime::fromSecsSinceEpoch(tables.gaps.at(i).start),
                     QDateTime::fromSecsSinceEpoch(gaps.at(i).start));
            QCOMPARE(QDateTime::fromSecsSinceEpoch(tables.gaps.at(i).end),
                     QDateTime::fromSecsSinceEpoch(gaps.at(i).end));
        }
        QList<qint64> out;
        for (const PeriodRow& row : qAsConst(tables.periodRows))
            out.append(row.outSeconds[0]);
        QCOMPARE(out, outSeconds);
    }
}

void TestGenerateDayQueries::sameAsEveryRow_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("without the index") << "plain";
    QTest::newRow("with the index") << "indexed";
    QTest::newRow("WAL, the recorder writing") << "writer";
}

// Catches day figures that differ from the figures of every valid row counted in its local
// day (rows lost or counted twice where the reading is split by days or spread over threads,
// of two rows at one time the earlier taken), with or without the recorder's index and while
// the recorder holds the file; and a worker that changes the file.
void TestGenerateDayQueries::sameAsEveryRow()
{
    QFETCH(QString, file);
    QList<Sample> samples;
    const qint64 first = at("2026-03-28 00:00:00");
    for (qint64 t = first - 7200; t < first + 4 * 86400; t += 37) {
        const qint64 i = (t - first) / 37;
        const QVariant v1 = i % 13 == 0 ? QVariant() : QVariant(double(i % 101) / 4 - 5);
        samples.append({QStringLiteral("N_1"), v1, double(i % 7), t});
        samples.append({QStringLiteral("N_2"), double(i % 17), QVariant(), t + 1});
        if (i % 50 == 0) // a second row at one time: the later one counts
            samples.append({QStringLiteral("N_1"), 1000.0, double(-i), t});
    }
    QVERIFY(writeDatabase(dbPath, samples, file == QLatin1String("writer")));
    QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("w"));
    writer.setDatabaseName(dbPath);
    QVERIFY(writer.open());
    if (file == QLatin1String("indexed"))
        QVERIFY(QSqlQuery(writer).exec(SampleTable::createIndexStatement()));
    if (file == QLatin1String("writer"))
        QVERIFY(
            QSqlQuery(writer).exec(QStringLiteral("insert into quorbinal (serialno, channel1, "
                                                  "channel2, pointDate) values ('N_2', 1, 1, 1)")));
    else
        writer.close();
    QFile db(dbPath);
    QVERIFY(db.open(QIODevice::ReadOnly));
    const QByteArray bytes = db.readAll();
    db.close();

    const QStringList keys{"N_1_channel1", "N_1_channel2", "N_2_channel1", "N_2_channel2"};
    QList<ReportChannel> channels;
    for (const QString& key : keys)
        channels.append(limited(key, 0, 10));
    const ReportPeriod period = ReportPeriod::of(ReportKind::Weekly, QDate(2026, 3, 27));
    const Outcome outcome = runWorker(&tables, dbPath, period, channels, 30000);
    QVERIFY2(outcome.done, qPrintable(outcome.error));

    // Every row by itself: the later of two at one time, valid values only, local days.
    QMap<QString, QMap<qint64, QPair<double, double>>> last;
    for (const Sample& s : samples)
        last[s.serial][s.pointDate] = {s.channel1.isNull() ? NoValue : s.channel1.toDouble(),
                                       s.channel2.isNull() ? NoValue : s.channel2.toDouble()};
    for (int c = 0; c < keys.size(); ++c) {
        QMap<qint64, QList<double>> days;
        const auto& rows = last[keys.at(c).left(3)];
        for (auto it = rows.constBegin(); it != rows.constEnd(); ++it) {
            const double v = keys.at(c).endsWith('1') ? it->first : it->second;
            const QDate date = QDateTime::fromSecsSinceEpoch(it.key()).date();
            if (v != NoValue && date >= period.firstDay() && date <= period.lastDay())
                days[ReportPeriod::dayStart(date)].append(v);
        }
        for (auto it = tables.periodRows.constBegin(); it != tables.periodRows.constEnd(); ++it) {
            const QList<double> values = days.value(it.key());
            if (values.isEmpty()) {
                QCOMPARE(it->min[c], NoValue);
                continue;
            }
            double sum = 0;
            for (double v : values)
                sum += v;
            QCOMPARE(it->avg[c], sum / values.size());
            QCOMPARE(it->min[c], *std::min_element(values.cbegin(), values.cend()));
            QCOMPARE(it->max[c], *std::max_element(values.cbegin(), values.cend()));
        }
        QCOMPARE(tables.channelEmpty[c], false);
    }
    QVERIFY(db.open(QIODevice::ReadOnly));
    QVERIFY(db.readAll() == bytes);
    writer.close();
    writer = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("w"));
}

// Catches a chart that averages a step's peaks away or puts them out of their order.
void TestGenerateDayQueries::chartSteps()
{
    // A day's chart step is 120 s: two points per step, at its start and its middle.
    QVERIFY(writeDatabase(dbPath, {{"A", 5.0, 1.0, at("2026-01-10 10:00:00")},
                                   {"A", 7.0, 1.0, at("2026-01-10 10:00:30")},
                                   {"A", 3.0, 2.0, at("2026-01-10 10:01:00")},
                                   {"A", 4.0, 9.0, at("2026-01-10 10:02:10")}}));
    const Outcome outcome =
        runWorker(&tables, dbPath, ReportPeriod::of(ReportKind::Haccp, QDate(2026, 1, 10)),
                  {ReportChannel::fromKey(QStringLiteral("A_channel1|x")),
                   ReportChannel::fromKey(QStringLiteral("A_channel2|y"))},
                  1000);
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(tables.sampleRows.keys(),
             (QList<qint64>{at("2026-01-10 10:00:00"), at("2026-01-10 10:01:00"),
                            at("2026-01-10 10:02:00"), at("2026-01-10 10:03:00")}));
    const QList<SampleRow> rows = tables.sampleRows.values();
    QCOMPARE(rows.at(0).values[0], 7.0); // the highest came first
    QCOMPARE(rows.at(1).values[0], 3.0);
    QCOMPARE(rows.at(0).values[1], 1.0);
    QCOMPARE(rows.at(1).values[1], 2.0);
    QCOMPARE(rows.at(2).values[1], 9.0);
    QCOMPARE(rows.at(3).values[1], 9.0);
    QCOMPARE(rows.at(0).timeText, QStringLiteral("2026-01-10 10:00:00"));
}

void TestGenerateDayQueries::summaryAsRows_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QDate>("start");
    QTest::addColumn<int>("interval"); // seconds
    // Midnights and chart steps on quarter hours: rows are read only where a second was stored
    // twice. Otherwise also for every quarter hour across a midnight or a step.
    QTest::addColumn<bool>("aligned");

    QTest::newRow("month over the spring change")
        << QByteArray("Europe/Berlin") << int(ReportKind::Monthly) << QDate(2026, 3, 1) << 120
        << true;
    QTest::newRow("week over the autumn change")
        << QByteArray("Europe/Berlin") << int(ReportKind::Weekly) << QDate(2026, 10, 22) << 60
        << true;
    QTest::newRow("month at half past") << QByteArray("Asia/Kolkata") << int(ReportKind::Monthly)
                                        << QDate(2026, 2, 1) << 120 << true;
    QTest::newRow("month at a quarter to")
        << QByteArray("Asia/Kathmandu") << int(ReportKind::Monthly) << QDate(2026, 2, 1) << 120
        << true;
    // Monrovia kept -0:44:30 until 1972: no midnight falls on a quarter hour, and every other
    // quarter hour lies across a chart step.
    QTest::newRow("midnights off the quarter hours")
        << QByteArray("Africa/Monrovia") << int(ReportKind::Monthly) << QDate(1971, 6, 1) << 120
        << false;
    // Ten minutes between samples: steps of 20 minutes, some across two quarter hours.
    QTest::newRow("week of steps across quarter hours")
        << QByteArray("Europe/Berlin") << int(ReportKind::Weekly) << QDate(2026, 3, 26) << 600
        << false;
}

// Catches: weekly or monthly figures, chart points or line breaks from the recorder's summary
// that differ from those of the rows (a quarter hour cut by a midnight, a chart step or the
// period's edge taken whole; one holding a second twice taken from sums; rows read twice or not at
// all; the first extreme of equal ones lost); quarter hours whose rows were deleted or changed
// later taken whole; a summary read whose trigger is gone, or by a HACCP report.
void TestGenerateDayQueries::summaryAsRows()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, kind);
    QFETCH(QDate, start);
    QFETCH(int, interval);
    QFETCH(bool, aligned);
    const QByteArray before = setZone(zone);
    const auto restore = qScopeGuard([&before] { restoreZone(before); });

    const ReportPeriod period = ReportPeriod::of(ReportKind(kind), start);
    const qint64 first = period.dayBounds().first();
    const qint64 last = period.dayBounds().last();
    QList<Sample> samples;
    QList<Sample> repeats;
    qint64 i = 0;
    // Quarters sum exactly in any order: the averages shown cannot differ by rounding.
    for (qint64 t = first - 3600; t < last + 3600; t += interval, ++i) {
        if (t < first + 2 * 86400 || t >= first + 2 * 86400 + 5 * 3600) // N_1 silent 5 hours
            samples.append({QStringLiteral("N_1"),
                            i % 13 == 0 ? QVariant() : QVariant((i * 7 % 23) * 0.25 - 2),
                            double(i % 5), t});
        const bool gapRow = i % 41 == 0;
        samples.append({QStringLiteral("N_2"), gapRow ? QVariant() : QVariant(double(i * 3 % 11)),
                        gapRow ? QVariant() : QVariant((i % 9) * 0.5), t + 1});
        if (i % 50 == 7) // a second stored again later: the later row counts
            repeats.append({QStringLiteral("N_1"), 1000.0, double(-i), t});
    }
    QVERIFY(writeDatabase(dbPath, samples + repeats, false, true));
    QList<ReportChannel> channels;
    for (const char* key : {"N_1_channel1", "N_1_channel2", "N_2_channel1", "N_2_channel2"})
        channels.append(limited(QLatin1String(key), 0, 10));

    GenerateDayQueries::Reading summary;
    QVERIFY(runWorker(&tables, dbPath, period, channels, interval * 1000, true, &summary).done);
    const QStringList fromSummary = shownFigures(tables);
    QVERIFY(summary.summary);
    QVERIFY(summary.buckets > 0);
    // N_1's lines break in its five silent hours (around the rows stored again there, which
    // are points of their own), and only there; N_2's nowhere.
    const qint64 silentFrom = first + 2 * 86400;
    const qint64 silentTo = silentFrom + 5 * 3600;
    for (int c = 0; c < 4; ++c) {
        int inside = 0;
        for (const ChartBreak& b : qAsConst(tables.breaks)) {
            if (b.column != c)
                continue;
            QVERIFY(b.from >= silentFrom - 3600 && b.to <= silentTo + 3600);
            inside += b.at >= silentFrom && b.at < silentTo ? 1 : 0;
        }
        QCOMPARE(inside > 0, c < 2);
    }

    GenerateDayQueries::Reading haccp;
    tables = ReportTables();
    QVERIFY(runWorker(&tables, dbPath, period, channels, interval * 1000, false, &haccp).done);
    QVERIFY(!haccp.summary);
    QCOMPARE(shownFigures(tables), fromSummary);
    QVERIFY2(
        summary.rows < (aligned ? haccp.rows / 4 : haccp.rows),
        qPrintable(QString::number(summary.rows) + QLatin1Char('/') + QString::number(haccp.rows)));

    // The kinetic sums filled from the same rows, the channels taken as degC: every figure of
    // the period as from the rows, quarter hours across a midnight or a step read as rows.
    {
        SqliteConnection db;
        QVERIFY(db.open(dbPath, SQLITE_OPEN_READWRITE));
        QString error;
        QVERIFY2(SummaryBuild::buildKinetic(db.get(), &error), qPrintable(error));
    }
    QList<ReportChannel> temperatures = channels;
    for (ReportChannel& channel : temperatures)
        channel.scale = MeanKineticTemperature::Scale::Celsius;
    ReportTables fromRows;
    QVERIFY(
        runWorker(&fromRows, dbPath, period, temperatures, interval * 1000, false, nullptr, false)
            .done);
    GenerateDayQueries::Reading sums;
    ReportTables fromSums;
    QVERIFY(runWorker(&fromSums, dbPath, period, temperatures, interval * 1000, false, &sums).done);
    QVERIFY(sums.stretches > 0);
    QCOMPARE(WorkerTest::periodFigures(fromSums), WorkerTest::periodFigures(fromRows));
    QCOMPARE(shownFigures(fromSums), shownFigures(fromRows));

    // Rows deleted or changed later by another program: their quarter hours are read as rows.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("c"));
        db.setDatabaseName(dbPath);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const char* change :
             {"delete from quorbinal where id % 97 = 0",
              "update quorbinal set channel1 = channel1 + 50 where id % 89 = 0",
              "update quorbinal set pointDate = pointDate + 1800 where id % 83 = 0",
              "update quorbinal set serialno = 'N_2', pointDate = pointDate + 7 where id % 79 = 0"})
            QVERIFY2(query.exec(QLatin1String(change)), change);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("c"));
    tables = ReportTables();
    QVERIFY(runWorker(&tables, dbPath, period, channels, interval * 1000, true, &summary).done);
    QVERIFY(summary.summary);
    const QStringList changed = shownFigures(tables);
    QVERIFY(changed != fromSummary);
    tables = ReportTables();
    QVERIFY(runWorker(&tables, dbPath, period, channels, interval * 1000, false, &haccp).done);
    QCOMPARE(changed, shownFigures(tables));

    // Without its trigger the summary may have missed rows: never read, whatever it holds.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("t"));
        db.setDatabaseName(dbPath);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("drop trigger ") + SampleTable::triggerNames().first()));
        QVERIFY(query.exec(QStringLiteral("update quorbinal_summary set min1 = min1 - 1000, max2 "
                                          "= max2 + 1000, rowCount = 0")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("t"));
    GenerateDayQueries::Reading rows;
    tables = ReportTables();
    QVERIFY(runWorker(&tables, dbPath, period, channels, interval * 1000, true, &rows).done);
    QVERIFY(!rows.summary);
    QCOMPARE(shownFigures(tables), changed);
    QVERIFY(changed.filter(QStringLiteral(" 1000 ")).size() > 0);
}

void TestGenerateDayQueries::failures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("key");
    QTest::newRow("database missing") << "missing"
                                      << "A_channel1|x";
    QTest::newRow("not a database") << "garbage"
                                    << "A_channel1|x";
    QTest::newRow("no table") << "notable"
                              << "A_channel1|x";
    QTest::newRow("key without underscore") << "good"
                                            << "Achannel1|x";
    QTest::newRow("unknown column") << "good"
                                    << "A_pointDate|x";
}

// Catches failures reported as a report, and a missing database that the reader creates.
void TestGenerateDayQueries::failures()
{
    QFETCH(QString, kind);
    QFETCH(QString, key);
    if (kind == QLatin1String("good")) {
        QVERIFY(writeDatabase(dbPath, {{"A", 1.0, 2.0, at("2026-01-10 00:10:00")}}));
    } else if (kind != QLatin1String("missing")) {
        QFile file(dbPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind == QLatin1String("garbage"))
            file.write(QByteArray(4096, 'x'));
    }
    const Outcome outcome =
        runWorker(&tables, dbPath, ReportPeriod::of(ReportKind::Weekly, QDate(2026, 1, 10)),
                  {ReportChannel::fromKey(key)});
    QVERIFY(!outcome.done);
    QCOMPARE(outcome.error, QStringLiteral("makeModels error."));
    QVERIFY(tables.periodRows.isEmpty());
    QCOMPARE(QFile::exists(dbPath), kind != QLatin1String("missing"));
}


namespace {

// A shelve (channel 1, 2 or 0) or, with channel -1, an out-of-service time of a node.
AlarmSuppression quiet(const char* serial, int channel, const char* from, const char* until,
                       const char* ended = nullptr)
{
    static qint64 id = 0;
    AlarmSuppression s;
    s.id = ++id;
    s.kind = channel < 0 ? AlarmSuppression::Kind::OutOfService : AlarmSuppression::Kind::Shelve;
    s.serial = QLatin1String(serial);
    s.channel = qMax(channel, 0);
    s.from = at(from);
    s.until = at(until);
    if (ended)
        s.ended = at(ended);
    s.reason = QStringLiteral("defrost <b>");
    s.user = QStringLiteral("sam");
    return s;
}

} // namespace

void TestGenerateDayQueries::suppressionsListed_data()
{
    QTest::addColumn<QVector<AlarmSuppression>>("rows");
    QTest::addColumn<QStringList>("listed"); // "|"-joined texts of each row
    // The week from 2026-03-26 00:00 to 2026-04-02 00:00 (local, over the spring change).
    QTest::newRow("a shelve of the channel inside the week")
        << QVector<AlarmSuppression>{quiet("A", 1, "2026-03-27 10:00:00", "2026-03-27 12:00:00")}
        << QStringList{"A|Channel 1|shelved|2026-03-27 10:00|2026-03-27 12:00|defrost <b>|sam|"};
    QTest::newRow("out of service past the week's end: still at its end")
        << QVector<AlarmSuppression>{quiet("A", -1, "2026-04-01 22:00:00", "2026-04-03 08:00:00")}
        << QStringList{"A|all|out of service|2026-04-01 22:00|2026-04-03 08:00|defrost <b>|sam|"
                       "still out of service at the period's end"};
    QTest::newRow("begun before the week, over the spring change")
        << QVector<AlarmSuppression>{quiet("A", 0, "2026-03-25 20:00:00", "2026-03-29 03:30:00")}
        << QStringList{"A|all|shelved|2026-03-25 20:00|2026-03-29 03:30|defrost <b>|sam|"};
    QTest::newRow("ended early before the week: not listed")
        << QVector<AlarmSuppression>{quiet("A", 1, "2026-03-25 10:00:00", "2026-03-27 10:00:00",
                                           "2026-03-25 12:00:00")}
        << QStringList{};
    QTest::newRow("ended early within the week: says so")
        << QVector<AlarmSuppression>{quiet("A", 1, "2026-03-31 10:00:00", "2026-04-01 10:00:00",
                                           "2026-03-31 11:00:00")}
        << QStringList{"A|Channel 1|shelved|2026-03-31 10:00|2026-03-31 11:00 (ended early)|"
                       "defrost <b>|sam|"};
    QTest::newRow("another node's, and a channel not in the report: not listed")
        << QVector<AlarmSuppression>{quiet("B", 1, "2026-03-27 10:00:00", "2026-03-27 12:00:00"),
                                     quiet("A", 2, "2026-03-27 10:00:00", "2026-03-27 12:00:00")}
        << QStringList{};
    QTest::newRow("still shelved at the period's end")
        << QVector<AlarmSuppression>{quiet("A", 1, "2026-04-01 23:00:00", "2026-04-02 01:00:00")}
        << QStringList{"A|Channel 1|shelved|2026-04-01 23:00|2026-04-02 01:00|defrost <b>|sam|"
                       "still shelved at the period's end"};
}

// Catches: a report that misses a shelve or out-of-service time reaching into its period, lists
// one of a node or channel it does not show or one ended before it, or does not say that one
// was still running at its end.
void TestGenerateDayQueries::suppressionsListed()
{
    QFETCH(QVector<AlarmSuppression>, rows);
    QFETCH(QStringList, listed);
    QVERIFY(writeDatabase(dbPath, minutes("2026-03-27 00:00:00", "2026-03-27 01:00:00",
                                          [](qint64) { return 5; })));
    {
        SqliteConnection db;
        QVERIFY(db.open(dbPath, SQLITE_OPEN_READWRITE));
        QString error;
        for (const AlarmSuppression& row : rows)
            QVERIFY2(AlarmSuppressionTable::insert(db.get(), row, &error), qPrintable(error));
    }
    const QList<ReportChannel> channels{ReportChannel::fromKey(QStringLiteral("A_channel1|x"))};
    const Outcome outcome = runWorker(&tables, dbPath,
                                      ReportPeriod::of(ReportKind::Weekly, QDate(2026, 3, 26)),
                                      channels);
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QStringList seen;
    for (const QStringList& row : ReportSuppressions::rows(tables, channels))
        seen << row.join(QLatin1Char('|'));
    QCOMPARE(seen, listed);
    // The figures are there as before.
    QVERIFY(!tables.periodRows.isEmpty());
}

QTEST_GUILESS_MAIN(TestGenerateDayQueries)
#include "tst_generatedayqueries.moc"
