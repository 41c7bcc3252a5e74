// The period summary every report ends with, against figures the test computes itself from the
// rows it wrote (its own loop over the samples, knowing the interval each was recorded at), in
// Europe/Berlin with a day of 23 and one of 25 hours. Both ways a report reads it are checked:
// the days' worker (weekly, monthly, HACCP) and the daily report's own reading. A wrong weight,
// a gap counted, the period's end overrun, an interval change taken as a gap, a wrong scale or
// activation energy, or a day taken as 24 hours shows as a different figure.
#include "calibrationtable.h"
#include "generatedayqueries.h"
#include "insertserialdata.h"
#include "meankinetictemperature.h"
#include "novalue.h"
#include "periodsummary.h"
#include "reportcalibration.h"
#include "reportfixture.h"
#include "reportperiod.h"
#include "reporttables.h"
#include "sampletable.h"
#include "sqliteconnection.h"
#include "summarybuild.h"
#include "workertest.h"

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <sqlite3.h>

#include <cmath>

using namespace ReportFixture;

namespace {

// Samples of node A's first channel every `step` seconds in [from, to), from `from` on taking
// the values in turn.
struct Stretch
{
    const char* from;
    const char* to;
    qint64 step;
    QVector<double> values;
};

struct Expected
{
    int count = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
    double mkt = 0;
    qint64 out = 0;
    qint64 longest = 0;
    int excursions = 0;
    qint64 noData = 0;
};

struct Row
{
    qint64 time;
    double value;
    qint64 step; // the interval it was recorded at
};

QVector<Row> rowsOf(const QList<Stretch>& stretches)
{
    QVector<Row> rows;
    for (const Stretch& s : stretches) {
        int i = 0;
        for (qint64 t = localSecs(QLatin1String(s.from)); t < localSecs(QLatin1String(s.to));
             t += s.step)
            rows.append({t, s.values.at(i++ % s.values.size()), s.step});
    }
    return rows;
}

// The figures by their definitions, in a loop of the test's own.
Expected reference(const QVector<Row>& rows, qint64 start, qint64 end, double lower, double upper,
                   bool fahrenheit, double energy)
{
    Expected e;
    const double ratio = energy / 8.3144e-3;
    double terms = 0;
    double seconds = 0;
    double sum = 0;
    qint64 covered = 0;
    qint64 run = 0;
    int side = 0; // 1 high, -1 low, 0 inside
    for (int i = 0; i < rows.size(); ++i) {
        const Row& r = rows.at(i);
        if (r.time < start || r.time >= end)
            continue;
        e.min = e.count == 0 ? r.value : qMin(e.min, r.value);
        e.max = e.count == 0 ? r.value : qMax(e.max, r.value);
        sum += r.value;
        ++e.count;
        const bool next = i + 1 < rows.size();
        const qint64 spacing = next ? rows.at(i + 1).time - r.time : r.step;
        // Time to the next sample, at most the interval it was recorded at, up to the end.
        const qint64 w = qMin(qMin(spacing, r.step), end - r.time);
        const double kelvin = (fahrenheit ? (r.value - 32) * 5 / 9 : r.value) + 273.15;
        terms += double(w) * std::exp(-ratio / kelvin);
        seconds += double(w);
        // Covered: up to the next sample unless more than two intervals away (a gap).
        const qint64 cover = qMin(spacing <= 2 * r.step ? spacing : r.step, end - r.time);
        covered += cover;
        const int now = r.value > upper ? 1 : r.value < lower ? -1 : 0;
        if (now != 0) {
            if (now != side) {
                ++e.excursions;
                run = 0;
            }
            run += cover;
            e.out += cover;
            e.longest = qMax(e.longest, run);
        }
        side = now;
    }
    e.mean = e.count > 0 ? sum / e.count : 0;
    const double kelvin = ratio / -std::log(terms / seconds);
    e.mkt = fahrenheit ? (kelvin - 273.15) * 9 / 5 + 32 : kelvin - 273.15;
    e.noData = end - start - covered;
    return e;
}

} // namespace

Q_DECLARE_METATYPE(QList<Stretch>)

namespace {

// What the recorder's writer makes of a week of node A's first channel (the stretches; its
// second channel 50 % beside it) and node B's (5 degC every minute), with a restart of the
// recorder at `restart` ("" none): each writer flushes every 97 samples, as unevenly as a
// recording's ticks fall on bucket edges.
bool recordWeek(const QString& path, const QVector<Row>& rows, const QString& restart)
{
    QVector<SampleRecord> records;
    const qint64 from = localSecs(QStringLiteral("2026-03-22 23:00:00"));
    const qint64 to = localSecs(QStringLiteral("2026-03-30 01:00:00"));
    int a = 0;
    for (qint64 t = from; t < to; t += 60) {
        for (; a < rows.size() && rows.at(a).time <= t; ++a)
            records.append({QStringLiteral("A"), rows.at(a).value, 50.0, quint32(rows.at(a).time)});
        records.append({QStringLiteral("B"), 5.0 + (t / 60) % 3, NoValue, quint32(t)});
    }
    for (; a < rows.size(); ++a)
        records.append({QStringLiteral("A"), rows.at(a).value, 50.0, quint32(rows.at(a).time)});
    const qint64 cut = restart.isEmpty() ? to : localSecs(restart);
    int next = 0;
    // The writer traces every flush: thousands of lines that tell nothing here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const auto traces = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    for (int run = 0; run < 2; ++run) {
        InsertSerialData writer(path, QStringLiteral("week%1").arg(run));
        if (!writer.createConnection())
            return false;
        for (int queued = 0;
             next < records.size() && (run == 1 || records.at(next).pointDate < cut); ++next) {
            writer.queueSample(records.at(next));
            if (++queued % 97 == 0 && !writer.insertNow())
                return false;
        }
        if (!writer.insertNow())
            return false;
    }
    return true;
}

} // namespace

namespace {

// A register entry of A's first channel: calibrated and due on these days ("" none).
CalibrationRecord certificate(qint64 id, const char* calibrated, const char* due)
{
    CalibrationRecord r;
    r.id = id;
    r.serial = QStringLiteral("A");
    r.column = QStringLiteral("channel1");
    r.certificate = QStringLiteral("=CERT-%1").arg(id);
    r.laboratory = QStringLiteral("Lab");
    r.calibrated = QDate::fromString(QLatin1String(calibrated), Qt::ISODate);
    r.due = QDate::fromString(QLatin1String(due), Qt::ISODate);
    r.reference = QStringLiteral("Ref 1");
    r.asFound = 0.12;
    r.uncertainty = 0.05;
    r.enteredBy = QStringLiteral("olga");
    r.enteredAt = 1;
    return r;
}

} // namespace

class TestPeriodSummary : public WorkerTest
{
    Q_OBJECT

private slots:
    void figures_data();
    void figures();
    void notATemperature();
    void sumsAgreeWithRows_data();
    void sumsAgreeWithRows();
    void calibration_data();
    void calibration();
};

void TestPeriodSummary::figures_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QList<Stretch>>("stretches");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<double>("energy"); // kJ/mol
    QTest::addColumn<int>("interval");  // the project's, ms
    QTest::addColumn<double>("lower");  // the alarm range
    QTest::addColumn<double>("upper");
    QTest::addColumn<double>("mkt");      // the figure by the book; NaN: the reference's alone
    QTest::addColumn<double>("mktLimit"); // NaN: none

    const double d = MeanKineticTemperature::DefaultActivationEnergy;
    const double free = std::nan("");
    QTest::newRow("2, 8, 2, 8 degC equally spaced")
        << QDate(2026, 1, 12)
        << QList<Stretch>{{"2026-01-12 00:00:00", "2026-01-13 00:00:00", 600, {2, 8}}} << false << d
        << 600000 << 0.0 << 10.0 << 5.536 << free;
    QTest::newRow("23 h at 5 degC then 1 h at 15 degC")
        << QDate(2026, 1, 12)
        << QList<Stretch>{{"2026-01-12 00:00:00", "2026-01-12 23:00:00", 60, {5}},
                          {"2026-01-12 23:00:00", "2026-01-13 00:00:00", 60, {15}}}
        << false << d << 60000 << 0.0 << 10.0 << 5.764 << 5.5;
    QTest::newRow("2 h at 20, 4 h at 2, 1 h at 25 degC, the rest without data")
        << QDate(2026, 1, 12)
        << QList<Stretch>{{"2026-01-12 08:00:00", "2026-01-12 10:00:00", 60, {20}},
                          {"2026-01-12 10:00:00", "2026-01-12 14:00:00", 60, {2}},
                          {"2026-01-12 14:00:00", "2026-01-12 15:00:00", 60, {25}}}
        << false << d << 60000 << 0.0 << 22.0 << 15.678 << free;
    QTest::newRow("the same in degF")
        << QDate(2026, 1, 12)
        << QList<Stretch>{{"2026-01-12 00:00:00", "2026-01-13 00:00:00", 600, {35.6, 46.4}}} << true
        << d << 600000 << 32.0 << 50.0 << 41.966 << free;
    QTest::newRow("a gap of three hours counts for nothing")
        << QDate(2026, 1, 12)
        << QList<Stretch>{{"2026-01-12 00:00:00", "2026-01-12 09:00:00", 60, {4, 6}},
                          {"2026-01-12 12:00:00", "2026-01-13 00:00:00", 60, {9, 11}}}
        << false << d << 60000 << 2.0 << 10.0 << free << free;
    QTest::newRow("interval changed from 10 min to 1 min")
        << QDate(2026, 1, 12)
        << QList<Stretch>{{"2026-01-12 00:00:00", "2026-01-12 12:00:00", 600, {3, 12}},
                          {"2026-01-12 12:00:00", "2026-01-13 00:00:00", 60, {5, 7}}}
        << false << d << 60000 << 2.0 << 10.0 << free << free;
    QTest::newRow("own activation energy 60 kJ/mol")
        << QDate(2026, 1, 12)
        << QList<Stretch>{{"2026-01-12 00:00:00", "2026-01-12 02:00:00", 60, {20}},
                          {"2026-01-12 02:00:00", "2026-01-12 06:00:00", 60, {2}},
                          {"2026-01-12 06:00:00", "2026-01-12 07:00:00", 60, {25}}}
        << false << 60.0 << 60000 << 0.0 << 22.0 << 14.337 << free;
    QTest::newRow("the 23-hour day of spring")
        << QDate(2026, 3, 29)
        << QList<Stretch>{{"2026-03-29 00:00:00", "2026-03-30 00:00:00", 60, {3, 5, 9}}} << false
        << d << 60000 << 2.0 << 8.0 << free << free;
    QTest::newRow("the 25-hour day of autumn, the last sample short of midnight")
        << QDate(2026, 10, 25)
        << QList<Stretch>{{"2026-10-25 00:00:00", "2026-10-25 23:40:00", 60, {-1, 4, 5}}} << false
        << d << 60000 << 0.0 << 8.0 << free << 4.0;
}

void TestPeriodSummary::figures()
{
    QFETCH(QDate, day);
    QFETCH(QList<Stretch>, stretches);
    QFETCH(bool, fahrenheit);
    QFETCH(double, energy);
    QFETCH(int, interval);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(double, mkt);
    QFETCH(double, mktLimit);

    const QVector<Row> rows = rowsOf(stretches);
    QList<Sample> samples;
    for (const Row& r : rows)
        samples.append({QStringLiteral("A"), r.value, QVariant(), r.time});
    QVERIFY(writeDatabase(dbPath, samples, false, true));

    ReportChannel channel = ReportChannel::fromKey(QStringLiteral("A_channel1|x"));
    channel.ranged = true;
    channel.rangeLower = lower;
    channel.rangeUpper = upper;
    channel.scale = fahrenheit ? MeanKineticTemperature::Scale::Fahrenheit
                               : MeanKineticTemperature::Scale::Celsius;
    channel.activationEnergy = energy;
    if (!std::isnan(mktLimit))
        channel.mktLimit = mktLimit;

    const ReportPeriod period = ReportPeriod::of(ReportKind::Haccp, day, HaccpSpan::Day);
    const qint64 start = period.dayBounds().first();
    const qint64 end = period.dayBounds().last();
    const Expected e = reference(rows, start, end, lower, upper, fahrenheit, energy);
    if (!std::isnan(mkt))
        QVERIFY2(std::abs(e.mkt - mkt) < 0.005, qPrintable(QString::number(e.mkt, 'f', 4)));

    // The days' worker, and the daily report's reading of the same day.
    ReportTables daily;
    QVERIFY(PeriodSummary::read(dbPath, start, end, interval, {channel}, &daily));
    GenerateDayQueries worker(dbPath, period, interval, {channel}, &tables);
    QSignalSpy done(&worker, &GenerateDayQueries::done);
    worker.start();
    worker.wait();
    QCOMPARE(done.count(), 1);

    for (const ReportTables* read : {&tables, &daily}) {
        QCOMPARE(read->periodSummaries.size(), 1);
        const ChannelPeriodSummary& s = read->periodSummaries.at(0);
        QCOMPARE(s.count, e.count);
        QCOMPARE(s.min, e.min);
        QCOMPARE(s.max, e.max);
        QVERIFY(std::abs(s.mean - e.mean) < 1e-9);
        QVERIFY2(std::abs(s.meanKinetic - e.mkt) < 0.005,
                 qPrintable(QString::number(s.meanKinetic, 'f', 4) + QStringLiteral(" against ") +
                            QString::number(e.mkt, 'f', 4)));
        QCOMPARE(s.kineticAboveLimit, !std::isnan(mktLimit) && e.mkt > mktLimit);
        QVERIFY(s.ranged);
        QCOMPARE(s.outSeconds, e.out);
        QCOMPARE(s.longestOutSeconds, e.longest);
        QCOMPARE(s.excursions, e.excursions);
        QCOMPARE(s.noDataSeconds, e.noData);
    }
}

void TestPeriodSummary::notATemperature()
{
    // A humidity or custom channel has no mean kinetic temperature, nor one without samples;
    // a channel without an alarm range has no time out of range. The page says so.
    QList<Sample> samples;
    for (qint64 t = localSecs(QStringLiteral("2026-01-12 00:00:00"));
         t < localSecs(QStringLiteral("2026-01-12 06:00:00")); t += 60)
        samples.append({QStringLiteral("A"), 40.0, 3.0, t});
    QVERIFY(writeDatabase(dbPath, samples, false, true));
    ReportChannel humidity = ReportChannel::fromKey(QStringLiteral("A_channel1|x"));
    ReportChannel empty = ReportChannel::fromKey(QStringLiteral("B_channel1|x"));
    empty.scale = MeanKineticTemperature::Scale::Celsius;
    const qint64 start = localSecs(QStringLiteral("2026-01-12 00:00:00"));
    QVERIFY(PeriodSummary::read(dbPath, start, start + 86400, 60000, {humidity, empty}, &tables));
    QCOMPARE(tables.periodSummaries.size(), 2);
    QVERIFY(std::isnan(tables.periodSummaries.at(0).meanKinetic));
    QVERIFY(std::isnan(tables.periodSummaries.at(1).meanKinetic));
    QCOMPARE(tables.periodSummaries.at(0).noDataSeconds, qint64(18 * 3600));
    const QVector<QStringList> rows = PeriodSummary::rows(tables, {humidity, empty});
    QCOMPARE(rows.at(0).mid(2), (QStringList{"40.00", "40.00", "40.00", "-", "no range", "-", "-",
                                             "0 (0)", "18:00:00", "none recorded"}));
    QCOMPARE(rows.at(1).mid(2), (QStringList{"-", "-", "-", "-", "no range", "-", "-", "0 (0)",
                                             "24:00:00", "none recorded"}));
}

void TestPeriodSummary::sumsAgreeWithRows_data()
{
    QTest::addColumn<QList<Stretch>>("stretches"); // node A's first channel
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<double>("energy"); // kJ/mol
    QTest::addColumn<int>("interval");  // the project's, ms
    QTest::addColumn<double>("lower");  // the alarm range
    QTest::addColumn<double>("upper");
    QTest::addColumn<QString>("restart"); // the recorder restarted here ("" never)
    // Another program's SQL after the recording, %1 the local time after "|".
    QTest::addColumn<QStringList>("foreign");
    // Every quarter hour of both nodes answered by the sums (regular samples within the range).
    QTest::addColumn<bool>("allTaken");
    // The sums made again from the rows by the background build, as for a file of a recorder
    // before them.
    QTest::addColumn<bool>("refilled");

    const double d = MeanKineticTemperature::DefaultActivationEnergy;
    const QList<Stretch> week{{"2026-03-22 23:00:00", "2026-03-30 01:00:00", 60, {4, 5, 6.5}}};
    QTest::newRow("inside the range all week: the sums' weights are the rows'")
        << week << false << d << 60000 << 2.0 << 8.0 << QString() << QStringList() << true << false;
    QTest::newRow("excursions high and low, one open at the start")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-23 00:20:00", 60, {9}},
                          {"2026-03-23 00:20:00", "2026-03-25 10:07:00", 60, {4, 7.5}},
                          {"2026-03-25 10:07:00", "2026-03-25 11:31:00", 60, {8.5, 9.25}},
                          {"2026-03-25 11:31:00", "2026-03-27 03:00:00", 60, {5}},
                          {"2026-03-27 03:00:00", "2026-03-27 03:04:00", 60, {1.5}},
                          {"2026-03-27 03:04:00", "2026-03-30 01:00:00", 60, {6, 3}}}
        << false << d << 60000 << 2.0 << 8.0 << QString() << QStringList() << false << false;
    // The extremes of both (-0.5, 12.5) only inside quarter hours taken whole, never first.
    QTest::newRow("hours below the range across midnight, hours above over the spring change")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-24 21:10:00", 60, {4, 6}},
                          {"2026-03-24 21:10:00", "2026-03-24 22:00:00", 60, {1.5, 0.25, 1}},
                          {"2026-03-24 22:00:00", "2026-03-24 22:30:00", 60, {1.5, -0.5, 1.5}},
                          {"2026-03-24 22:30:00", "2026-03-25 03:05:00", 60, {1.5, 0.25, 1}},
                          {"2026-03-25 03:05:00", "2026-03-28 23:50:00", 60, {5}},
                          {"2026-03-28 23:50:00", "2026-03-29 01:00:00", 60, {9, 8.75, 11}},
                          {"2026-03-29 01:00:00", "2026-03-29 01:30:00", 60, {9.5, 12.5, 9.5}},
                          {"2026-03-29 01:30:00", "2026-03-29 05:20:00", 60, {9, 8.75, 11}},
                          {"2026-03-29 05:20:00", "2026-03-30 01:00:00", 60, {7}}}
        << false << d << 60000 << 2.0 << 8.0 << QString() << QStringList() << false << false;
    QTest::newRow("gaps of hours and of minutes, one across the spring change")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-24 09:00:00", 60, {4, 6}},
                          {"2026-03-24 12:00:00", "2026-03-24 12:50:00", 60, {5}},
                          {"2026-03-24 13:07:00", "2026-03-29 01:10:00", 60, {5, 7}},
                          {"2026-03-29 04:00:00", "2026-03-30 01:00:00", 60, {3, 9}}}
        << false << d << 60000 << 2.0 << 8.0 << QString() << QStringList() << false << false;
    QTest::newRow("interval shortened from 10 min to 1 min mid-bucket")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-26 12:05:00", 600, {3, 7}},
                          {"2026-03-26 12:05:00", "2026-03-30 01:00:00", 60, {4, 6}}}
        << false << d << 60000 << 2.0 << 8.0 << QString() << QStringList() << false << false;
    QTest::newRow("interval lengthened from 1 min to 5 min")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-25 07:00:00", 60, {4, 6}},
                          {"2026-03-25 07:00:00", "2026-03-30 01:00:00", 300, {5, 8.5, 6}}}
        << false << d << 60000 << 2.0 << 8.0 << QString() << QStringList() << false << false;
    QTest::newRow("degF, with an excursion")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-26 00:00:00", 60, {39.2, 42.8}},
                          {"2026-03-26 00:00:00", "2026-03-26 02:00:00", 60, {47.5}},
                          {"2026-03-26 02:00:00", "2026-03-30 01:00:00", 60, {40.1, 44.6}}}
        << true << d << 60000 << 35.6 << 46.4 << QString() << QStringList() << false << false;
    QTest::newRow("own activation energy 60 kJ/mol: read as rows")
        << week << false << 60.0 << 60000 << 2.0 << 8.0 << QString() << QStringList() << false
        << false;
    QTest::newRow("no alarm range")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-30 01:00:00", 60, {-3, 12, 30}}} << false
        << d << 60000 << 0.0 << 0.0 << QString() << QStringList() << true << false;
    QTest::newRow("rows inserted by another program")
        << week << false << d << 60000 << 2.0 << 8.0 << QString()
        << QStringList{"insert into quorbinal (serialno, channel1, channel2, pointDate) values "
                       "('A', 9.5, 50, %1)|2026-03-24 10:07:30",
                       "insert into quorbinal (serialno, channel1, channel2, pointDate) values "
                       "('B', 5, NULL, %1)|2026-03-27 23:59:30"}
        << false << false;
    QTest::newRow("a row updated and one deleted with sqlite")
        << week << false << d << 60000 << 2.0 << 8.0 << QString()
        << QStringList{"update quorbinal set channel1 = 11 where serialno = 'A' and pointDate = "
                       "%1|2026-03-25 14:20:00",
                       "delete from quorbinal where serialno = 'B' and pointDate = "
                       "%1|2026-03-26 08:08:00"}
        << false << false;
    QTest::newRow("the recorder restarted inside a bucket")
        << week << false << d << 60000 << 2.0 << 8.0 << QStringLiteral("2026-03-25 10:07:00")
        << QStringList() << true << false;
    QTest::newRow("restarted inside a bucket of an excursion, on the spring change day")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-29 05:02:00", 60, {4, 6}},
                          {"2026-03-29 05:02:00", "2026-03-29 05:13:00", 60, {9}},
                          {"2026-03-29 05:13:00", "2026-03-30 01:00:00", 60, {6}}}
        << false << d << 60000 << 2.0 << 8.0 << QStringLiteral("2026-03-29 05:06:00")
        << QStringList() << false << false;
    QTest::newRow("sums filled from the rows the writer stored, the restart among them")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-30 01:00:00", 60, {4, 5, 6.5}}} << false
        << d << 60000 << 2.0 << 8.0 << QStringLiteral("2026-03-25 10:07:00") << QStringList()
        << true << true;
    QTest::newRow("sums filled from the rows: excursions, gaps and a foreign row")
        << QList<Stretch>{{"2026-03-22 23:00:00", "2026-03-24 09:00:00", 60, {4, 6}},
                          {"2026-03-24 12:00:00", "2026-03-25 10:07:00", 60, {5}},
                          {"2026-03-25 10:07:00", "2026-03-25 11:31:00", 60, {8.5, 9.25}},
                          {"2026-03-25 11:31:00", "2026-03-30 01:00:00", 60, {5, 7}}}
        << false << d << 60000 << 2.0 << 8.0 << QString()
        << QStringList{"insert into quorbinal (serialno, channel1, channel2, pointDate) values "
                       "('B', 5, NULL, %1)|2026-03-27 23:59:30"}
        << false << true;
}

// The week of the spring change read from the kinetic sums where they answer and from every
// row: a weight, a run cut, a bucket with a foreign row or a restart taken from sums that do not
// hold it, or an edge taken whole shows as a figure that differs.
void TestPeriodSummary::sumsAgreeWithRows()
{
    QFETCH(QList<Stretch>, stretches);
    QFETCH(bool, fahrenheit);
    QFETCH(double, energy);
    QFETCH(int, interval);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(QString, restart);
    QFETCH(QStringList, foreign);
    QFETCH(bool, allTaken);
    QFETCH(bool, refilled);

    QVERIFY(recordWeek(dbPath, rowsOf(stretches), restart));
    if (refilled) {
        SqliteConnection db;
        QVERIFY(db.open(dbPath, SQLITE_OPEN_READWRITE));
        QVERIFY(sqlite3_exec(db.get(), "drop table quorbinal_kinetic", nullptr, nullptr, nullptr) ==
                SQLITE_OK);
        QString error;
        QVERIFY2(SummaryBuild::buildKinetic(db.get(), &error), qPrintable(error));
    }
    if (!foreign.isEmpty()) {
        SqliteConnection db;
        QVERIFY(db.open(dbPath, SQLITE_OPEN_READWRITE));
        for (const QString& statement : foreign) {
            const QStringList parts = statement.split(QLatin1Char('|'));
            const QByteArray sql = parts.at(0).arg(localSecs(parts.at(1))).toUtf8();
            QVERIFY2(sqlite3_exec(db.get(), sql.constData(), nullptr, nullptr, nullptr) ==
                         SQLITE_OK,
                     sqlite3_errmsg(db.get()));
        }
    }

    ReportChannel a1 = ReportChannel::fromKey(QStringLiteral("A_channel1|x"));
    a1.ranged = lower < upper;
    a1.rangeLower = lower;
    a1.rangeUpper = upper;
    a1.scale = fahrenheit ? MeanKineticTemperature::Scale::Fahrenheit
                          : MeanKineticTemperature::Scale::Celsius;
    a1.activationEnergy = energy;
    a1.mktLimit = fahrenheit ? 42.0 : 5.5;
    const ReportChannel a2 = ReportChannel::fromKey(QStringLiteral("A_channel2|x"));
    ReportChannel b1 = ReportChannel::fromKey(QStringLiteral("B_channel1|x"));
    b1.ranged = true;
    b1.rangeLower = 2;
    b1.rangeUpper = 8;
    b1.scale = MeanKineticTemperature::Scale::Celsius;
    const QList<ReportChannel> channels{a1, a2, b1};

    const ReportPeriod period = ReportPeriod::of(ReportKind::Weekly, QDate(2026, 3, 23));
    ReportTables fromRows;
    GenerateDayQueries rows(dbPath, period, interval, channels, &fromRows);
    rows.setKineticSums(false);
    GenerateDayQueries fast(dbPath, period, interval, channels, &tables);
    QSignalSpy done(&fast, &GenerateDayQueries::done);
    for (GenerateDayQueries* worker : {&rows, &fast}) {
        worker->start();
        worker->wait();
    }
    QCOMPARE(done.count(), 1);
    QCOMPARE(rows.reading().stretches, qint64(0));
    // Node B is regular all week: most of its quarter hours come from the sums.
    QVERIFY2(fast.reading().stretches > 500, qPrintable(QString::number(fast.reading().stretches)));
    QVERIFY(fast.reading().rows < rows.reading().rows);
    const QVector<qint64> bounds = period.dayBounds();
    if (allTaken)
        QCOMPARE(fast.reading().stretches,
                 2 * (bounds.last() - bounds.first()) / SampleTable::BucketSeconds);
    QCOMPARE(periodFigures(tables), periodFigures(fromRows));
    QCOMPARE(reportFigures(tables), reportFigures(fromRows));
}

void TestPeriodSummary::calibration_data()
{
    QTest::addColumn<QVector<CalibrationRecord>>("entries");
    QTest::addColumn<QString>("status");  // the summary's cell for the week of 2026-03-23
    QTest::addColumn<QString>("overdue"); // the calibration table's last cell ("": no row)

    QTest::newRow("no register") << QVector<CalibrationRecord>{} << "none recorded"
                                 << "";
    QTest::newRow("in force all week")
        << QVector<CalibrationRecord>{certificate(1, "2025-06-01", "2026-06-01")}
        << "due 2026-06-01"
        << "-";
    QTest::newRow("due on the week's Wednesday: overdue from Thursday")
        << QVector<CalibrationRecord>{certificate(1, "2025-03-25", "2026-03-25")}
        << "calibration overdue from 2026-03-26"
        << "calibration overdue 2026-03-26 to 2026-03-29";
    QTest::newRow("overdue, then calibrated again on Friday")
        << QVector<CalibrationRecord>{certificate(1, "2025-03-01", "2026-03-01"),
                                      certificate(2, "2026-03-27", "2027-03-27")}
        << "calibration overdue from 2026-03-23"
        << "calibration overdue 2026-03-23 to 2026-03-26";
    QTest::newRow("first calibrated mid-week: the days before count as overdue")
        << QVector<CalibrationRecord>{certificate(1, "2026-03-29", "2027-03-29")}
        << "calibration overdue from 2026-03-23"
        << "calibration overdue 2026-03-23 to 2026-03-28";
    CalibrationRecord elsewhere = certificate(1, "2025-01-01", "2025-02-01");
    elsewhere.serial = QStringLiteral("B");
    QTest::newRow("another node's entry does not count")
        << QVector<CalibrationRecord>{elsewhere} << "none recorded"
        << "";
}

// A calibration is judged day by day of the period (local days, the week of the spring change).
void TestPeriodSummary::calibration()
{
    QFETCH(QVector<CalibrationRecord>, entries);
    QFETCH(QString, status);
    QFETCH(QString, overdue);

    QList<Sample> samples;
    for (qint64 t = localSecs(QStringLiteral("2026-03-23 00:00:00"));
         t < localSecs(QStringLiteral("2026-03-30 00:00:00")); t += 600)
        samples.append({QStringLiteral("A"), 4.0, 50.0, t});
    QVERIFY(writeDatabase(dbPath, samples, false, true));
    {
        SqliteConnection db;
        QVERIFY(db.open(dbPath, SQLITE_OPEN_READWRITE));
        QString error;
        QVERIFY(CalibrationTable::ensureTable(db.get(), &error));
        for (const CalibrationRecord& r : entries)
            QVERIFY2(CalibrationTable::insert(db.get(), r, &error), qPrintable(error));
    }
    const QList<ReportChannel> channels{ReportChannel::fromKey(QStringLiteral("A_channel1|x")),
                                        ReportChannel::fromKey(QStringLiteral("A_channel2|x"))};
    const ReportPeriod week = ReportPeriod::of(ReportKind::Weekly, QDate(2026, 3, 23));
    GenerateDayQueries worker(dbPath, week, 600000, channels, &tables);
    worker.start();
    worker.wait();
    const QVector<QStringList> summary = PeriodSummary::rows(tables, channels);
    QCOMPARE(summary.size(), 2);
    QCOMPARE(summary.at(0).last(), status);
    QCOMPARE(summary.at(1).last(), QStringLiteral("none recorded"));
    const QVector<QStringList> register_ = ReportCalibration::rows(tables, channels);
    QCOMPARE(register_.size(), overdue.isEmpty() ? 0 : 1);
    if (!overdue.isEmpty()) {
        QCOMPARE(register_.at(0).last(), overdue);
        // The entry in force at the period's end; a formula-like certificate stays text.
        QVERIFY(register_.at(0).at(2).startsWith(QStringLiteral("=CERT-")));
    }
}

QTEST_MAIN(TestPeriodSummary)
#include "tst_periodsummary.moc"
