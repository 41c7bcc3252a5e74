#include "generateaveragequeries.h"
#include "novalue.h"
#include "reportfixture.h"
#include "reporttables.h"

#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

using namespace ReportFixture;

namespace {

const QString kDay = QStringLiteral("2026-01-10 ");

qint64 at(const QString& time)
{
    return localSecs(kDay + time);
}

struct Period
{
    QString start; // hh:mm:ss of the key
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

Outcome runWorker(const QString& databasePath, const QString& start, const QString& end,
                  const QStringList& keys)
{
    GenerateAverageQueries worker(QStringLiteral("testkey"), databasePath, QString(), start, end,
                                  keys);
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

class TestGenerateAverageQueries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void periods_data();
    void periods();
    void sharedTimeRows();
    void nullAndMarkerSamples();
    void emptyChannels();
    void progressAndCount();
    void failures_data();
    void failures();
    void serialIsBound();
    void walDatabaseWhileWriterOpen();
    void timeTextsAcrossZoneChanges_data();
    void timeTextsAcrossZoneChanges();

private:
    QTemporaryDir dir;
    QString dbPath;
};

void TestGenerateAverageQueries::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
}

void TestGenerateAverageQueries::init()
{
    clearReportTables();
    static int n = 0;
    dbPath = dir.filePath(QStringLiteral("db%1.dat").arg(++n));
}

void TestGenerateAverageQueries::periods_data()
{
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QList<Period>>("expected");

    auto s = [](const QString& time, double v) {
        return Sample{QStringLiteral("A"), v, QVariant(), at(time)};
    };

    // First period starts at the chosen start (00:30), the sample at its limit closes it and
    // is counted in it; later periods start at the hour of their closing sample; the last
    // period ends at the channel's last sample.
    QTest::newRow("start at half past, closing sample counted")
        << QList<Sample>{s("00:30:00", 1), s("00:59:00", 2), s("01:29:59", 3), s("01:45:00", 10),
                         s("02:10:00", 20), s("02:20:00", 30), s("02:30:00", 40)}
        << QStringLiteral("00:30:00")
        << QList<Period>{{"00:30:00", "2026-01-10 00:30-01:29", 0, 2, 1, 3},
                         {"01:00:00", "2026-01-10 01:00-01:59", 0, 15, 10, 20},
                         {"02:00:00", "2026-01-10 02:00-02:30", 0, 35, 30, 40}};

    // A period whose only valid sample is the one past its limit is not stored; that sample
    // opens and counts in the period of its own hour.
    QTest::newRow("single-sample period skipped")
        << QList<Sample>{s("00:10:00", 5), s("01:05:00", 7), s("03:30:00", 9), s("03:40:00", 11),
                         s("04:10:00", 13)}
        << QStringLiteral("00:00:00")
        << QList<Period>{{"00:00:00", "2026-01-10 00:00-00:59", 0, 6, 5, 7},
                         {"03:00:00", "2026-01-10 03:00-03:59", 0, 11, 9, 13}};

    // The last period is cut at the channel's last sample, which closes it.
    QTest::newRow("last period cut at the last sample")
        << QList<Sample>{s("00:00:00", 1), s("00:20:00", 2), s("00:40:00", 3)}
        << QStringLiteral("00:00:00")
        << QList<Period>{{"00:00:00", "2026-01-10 00:00-00:40", 0, 2, 1, 3}};

    // A lone sample after the last closed period is left in the accumulators, not stored.
    QTest::newRow("lone last sample dropped")
        << QList<Sample>{s("00:10:00", 5), s("01:05:00", 7), s("02:30:00", 9)}
        << QStringLiteral("00:00:00")
        << QList<Period>{{"00:00:00", "2026-01-10 00:00-00:59", 0, 6, 5, 7}};

    // Negative values: the extremes start from the marker and its negative, not from 0.
    QTest::newRow("negative values")
        << QList<Sample>{s("00:05:00", -20.5), s("00:30:00", -18.25), s("01:00:00", -19)}
        << QStringLiteral("00:00:00")
        << QList<Period>{{"00:00:00", "2026-01-10 00:00-00:59", 0, -19.25, -20.5, -18.25}};
}

// Catches wrong period boundaries, labels or statistics in the hourly condensing.
void TestGenerateAverageQueries::periods()
{
    QFETCH(QList<Sample>, samples);
    QFETCH(QString, start);
    QFETCH(QList<Period>, expected);
    QVERIFY(writeDatabase(dbPath, samples));
    const Outcome outcome = runWorker(dbPath, kDay + start, kDay + QStringLiteral("23:59:59"),
                                      {QStringLiteral("A_channel1|Temperature")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, samples.size());
    QCOMPARE(periodRows.size(), expected.size());
    for (const Period& p : expected) {
        const qint64 key = at(p.start);
        QVERIFY2(periodRows.contains(key), qPrintable(p.start));
        const PeriodRow& row = periodRows.value(key);
        QCOMPARE(row.label, p.label);
        QCOMPARE(row.avg[p.column], p.avg);
        QCOMPARE(row.min[p.column], p.min);
        QCOMPARE(row.max[p.column], p.max);
        for (int c = 1; c < ReportColumns; ++c) {
            QCOMPARE(row.avg[c], 0.0);
            QCOMPARE(row.min[c], NoValue);
        }
    }
    QCOMPARE(sampleRows.size(), samples.size());
    const SampleRow& first = sampleRows.first();
    QCOMPARE(first.timeText, QDateTime::fromSecsSinceEpoch(samples.first().pointDate)
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    QCOMPARE(first.values[1], NoValue);
}

// Catches channels that overwrite each other's sample rows or period columns.
void TestGenerateAverageQueries::sharedTimeRows()
{
    QVERIFY(writeDatabase(dbPath, {{"N1", 20.0, 40.0, at("00:00:00")},
                                   {"N1", 22.0, 42.0, at("00:30:00")},
                                   {"N1", 24.0, 44.0, at("01:00:00")},
                                   {"N2", 5.0, 50.0, at("00:15:00")},
                                   {"N2", 7.0, 70.0, at("01:15:00")}}));
    const Outcome outcome =
        runWorker(dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
                  {QStringLiteral("N1_channel1|a"), QStringLiteral("N1_channel2|b"),
                   QStringLiteral("N2_channel1|c")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, 3 + 3 + 2);
    QCOMPARE(sampleRows.size(), 5);
    const SampleRow shared = sampleRows.value(at("00:30:00"));
    QCOMPARE(shared.values[0], 22.0);
    QCOMPARE(shared.values[1], 42.0);
    QCOMPARE(shared.values[2], NoValue);
    QCOMPARE(shared.values[3], NoValue);
    const SampleRow other = sampleRows.value(at("00:15:00"));
    QCOMPARE(other.values[0], NoValue);
    QCOMPARE(other.values[2], 5.0);

    QCOMPARE(periodRows.size(), 1);
    const PeriodRow row = periodRows.first();
    QCOMPARE(row.avg[0], 22.0);
    QCOMPARE(row.avg[1], 42.0);
    QCOMPARE(row.avg[2], 6.0);
    QCOMPARE(row.min[2], 5.0);
    QCOMPARE(row.max[2], 7.0);
    QCOMPARE(row.avg[3], 0.0);
    QCOMPARE(row.max[3], NoValue);
}

// Catches NULL or marker values that are averaged as numbers (as 0 or 1.7E+308).
void TestGenerateAverageQueries::nullAndMarkerSamples()
{
    QVERIFY(writeDatabase(dbPath, {{"A", QVariant(), 1.0, at("00:10:00")},
                                   {"A", 4.0, 1.0, at("00:20:00")},
                                   {"A", NoValue, 1.0, at("00:30:00")},
                                   {"A", 6.0, 1.0, at("01:10:00")}}));
    const Outcome outcome =
        runWorker(dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
                  {QStringLiteral("A_channel1|x")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, 4);
    QCOMPARE(sampleRows.size(), 2);
    QVERIFY(!sampleRows.contains(at("00:10:00")));
    QVERIFY(!sampleRows.contains(at("00:30:00")));
    QCOMPARE(periodRows.size(), 1);
    QCOMPARE(periodRows.first().avg[0], 5.0);
    QCOMPARE(periodRows.first().min[0], 4.0);
    QCOMPARE(periodRows.first().max[0], 6.0);
}

// Catches an all-NULL channel flagged as empty, or a channel without rows not flagged.
void TestGenerateAverageQueries::emptyChannels()
{
    QVERIFY(writeDatabase(dbPath, {{"A", QVariant(), 3.0, at("00:10:00")},
                                   {"A", QVariant(), 4.0, at("01:10:00")}}));
    const Outcome outcome =
        runWorker(dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
                  {QStringLiteral("A_channel1|x"), QStringLiteral("B_channel1|x"),
                   QStringLiteral("A_channel2|y")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(channelEmpty[0], false);
    QCOMPARE(channelEmpty[1], true);
    QCOMPARE(channelEmpty[2], false);
    QCOMPARE(sampleRows.size(), 2);
    QCOMPARE(sampleRows.first().values[0], NoValue);
    QCOMPARE(sampleRows.first().values[2], 3.0);
    QCOMPARE(periodRows.size(), 1);
    QCOMPARE(periodRows.first().avg[0], 0.0);
    QCOMPARE(periodRows.first().min[0], NoValue);
    QCOMPARE(periodRows.first().avg[2], 3.5);
}

// Catches progress that is not reported every 10 samples, or a count over the wrong rows
// (outside the period, other nodes).
void TestGenerateAverageQueries::progressAndCount()
{
    QList<Sample> samples;
    for (int i = 0; i < 25; ++i)
        samples.append({"A", double(i), double(i), at("00:00:00") + i * 60});
    samples.append({"A", 1.0, 1.0, at("00:00:00") - 1});            // before the start
    samples.append({"A", 1.0, 1.0, localSecs("2026-01-11 00:00:00")}); // after the end
    samples.append({"B", 1.0, 1.0, at("00:05:00")});
    QVERIFY(writeDatabase(dbPath, samples));
    const Outcome outcome =
        runWorker(dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
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
    QTest::newRow("key with two underscores") << "good" << QStringList{"A_b_channel1|x"};
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
    const Outcome outcome =
        runWorker(dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
                  keys);
    QVERIFY(!outcome.done);
    QVERIFY(outcome.error.startsWith(QStringLiteral("makeModels error.")));
    QCOMPARE(outcome.whole, -1);
    QVERIFY(sampleRows.isEmpty());
    QVERIFY(periodRows.isEmpty());
    if (kind == QLatin1String("missing"))
        QVERIFY(!QFile::exists(dbPath));
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("testkeyreportdb")));
}

// Catches a serial number pasted into the query: quotes must neither break it nor widen it.
void TestGenerateAverageQueries::serialIsBound()
{
    QVERIFY(writeDatabase(dbPath, {{"O'Neil", 1.0, 2.0, at("00:10:00")},
                                   {"O'Neil", 3.0, 2.0, at("01:10:00")},
                                   {"Other", 9.0, 9.0, at("00:20:00")}}));
    Outcome outcome =
        runWorker(dbPath, kDay + QStringLiteral("00:00:00"), kDay + QStringLiteral("23:59:59"),
                  {QStringLiteral("O'Neil_channel1|x"), QStringLiteral("x' or '1'='1_channel1|x")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(outcome.whole, 2);
    QCOMPARE(channelEmpty[1], true);
    QCOMPARE(periodRows.first().avg[0], 2.0);
}

// Catches a reader that cannot open the recorder's database while the recorder holds it open.
void TestGenerateAverageQueries::walDatabaseWhileWriterOpen()
{
    QVERIFY(writeDatabase(dbPath, {{"A", 1.0, 2.0, at("00:10:00")}}, true));
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                        QStringLiteral("writer"));
        writer.setDatabaseName(dbPath);
        QVERIFY(writer.open());
        QSqlQuery q(writer);
        QVERIFY(q.exec(QStringLiteral("PRAGMA journal_mode = WAL")));
        QVERIFY(q.exec(QStringLiteral("insert into quorbinal (serialno, channel1, channel2, "
                                      "pointDate) values ('A', 3.0, 4.0, %1)")
                           .arg(at("01:10:00"))));
        const Outcome outcome =
            runWorker(dbPath, kDay + QStringLiteral("00:00:00"),
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
    QTest::newRow("Lord Howe, half-hour shift") << QByteArray("Australia/Lord_Howe")
                                                << "2026-04-05";
    QTest::newRow("Kathmandu, quarter-hour offset") << QByteArray("Asia/Kathmandu")
                                                    << "2026-01-10";
}

// Catches sample-row time texts that drift from the local time around a change of the zone's
// offset (the worker formats them without a full conversion per sample).
void TestGenerateAverageQueries::timeTextsAcrossZoneChanges()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, day);
    const QByteArray previous = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    const qint64 start = localSecs(day + QStringLiteral(" 00:00:00"));
    QList<Sample> samples;
    const qint64 end = localSecs(day + QStringLiteral(" 23:59:59"));
    for (qint64 t = start; t <= end; t += 97)
        samples.append({"A", 1.0, 2.0, t});
    QVERIFY(writeDatabase(dbPath, samples));
    const Outcome outcome = runWorker(dbPath, day + QStringLiteral(" 00:00:00"),
                                      day + QStringLiteral(" 23:59:59"),
                                      {QStringLiteral("A_channel1|x")});
    QVERIFY2(outcome.done, qPrintable(outcome.error));
    QCOMPARE(sampleRows.size(), samples.size());
    for (auto it = sampleRows.constBegin(); it != sampleRows.constEnd(); ++it)
        QCOMPARE(it->timeText, QDateTime::fromSecsSinceEpoch(it.key())
                                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (previous.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", previous);
    tzset();
}

QTEST_GUILESS_MAIN(TestGenerateAverageQueries)
#include "tst_generateaveragequeries.moc"
