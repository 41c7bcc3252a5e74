#include "generatedayqueries.h"
#include "indexbuilder.h"
#include "insertserialdata.h"
#include "novalue.h"
#include "reporttables.h"
#include "sampledatabasegenerator.h"
#include "sampletable.h"
#include "summarytriggers.h"
#include "viewersamplereader.h"
#include "workertest.h"

#include <QDir>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

#include <sqlite3.h>

#include <algorithm>

namespace {

// The triggers a file was made with: this version's, the summary's first version's, or this
// version's as first written.
constexpr int Now = 0;
constexpr int FirstVersion = 1;
constexpr int SlowerTriggers = 2;

// The same report from the recorder's summary (a weekly or monthly report) and from every row
// (as a HACCP report reads them); whether the first took the summary.
struct Report
{
    QStringList fromSummary;
    QStringList fromRows;
    bool summaryTaken = false;
};

Report bothWays(const QString& path, const ReportPeriod& period)
{
    QList<ReportChannel> channels;
    for (int node = 0; node < 2; ++node)
        for (int column = 1; column <= 2; ++column) {
            ReportChannel channel;
            channel.serial = SampleDatabaseGenerator::serialOf(node);
            channel.column = QStringLiteral("channel%1").arg(column);
            channel.name = QStringLiteral("x");
            channel.limited = true;
            channel.lower = 10;
            channel.upper = 40;
            channels.append(channel);
        }
    Report report;
    for (bool summary : {true, false}) {
        ReportTables tables;
        GenerateDayQueries worker(path, period, 60000, channels, &tables);
        worker.setFiguresOnly(summary);
        QSignalSpy done(&worker, &GenerateDayQueries::done);
        worker.start();
        worker.wait();
        if (done.count() != 1)
            return {};
        (summary ? report.fromSummary : report.fromRows) = WorkerTest::reportFigures(tables);
        if (summary)
            report.summaryTaken = worker.reading().summary;
    }
    return report;
}

bool exec(const QString& path, const QStringList& statements, QString* error)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE,
                              nullptr) == SQLITE_OK;
    for (const QString& sql : statements) {
        if (ok &&
            sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            *error = sql + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db));
            ok = false;
        }
    }
    sqlite3_close(db);
    return ok;
}

bool build(const QString& path)
{
    IndexBuilder builder(path);
    builder.start();
    return builder.wait(120000) && builder.indexReady() && builder.summaryReady();
}

SampleRecord sample(const QString& serial, double value, qint64 time)
{
    return {serial, value, value + 30, quint32(time)};
}

} // namespace

// The recorder's summary against the rows it summarizes, after the edits a user makes with the
// sqlite3 program, and after the recorder has opened such a file and written to it.
class TestSummaryEdits : public WorkerTest
{
    Q_OBJECT

private slots:
    void sameFiguresAfterEdits_data();
    void sameFiguresAfterEdits();
};

void TestSummaryEdits::sameFiguresAfterEdits_data()
{
    QTest::addColumn<int>("kind");
    // The triggers the file was made with; the rows went in through them.
    QTest::addColumn<int>("madeWith");
    // {S0}, {S1}: the nodes; {T}: a minute in the period's third day; {D}: a midnight in it;
    // {SCHEMA}: the sample table's statement.
    QTest::addColumn<QStringList>("edits");
    // The recorder has the file open while it is edited.
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<bool>("summaryAfterEdit");
    QTest::addColumn<bool>("summaryAfterRecorder");
    // The recorder had to build the summary again.
    QTest::addColumn<bool>("rebuilt");
    // The change marks name {T}'s quarter hour of {S0}, in the generation from before the edit.
    QTest::addColumn<bool>("marked");

    const int week = int(ReportKind::Weekly);
    const int month = int(ReportKind::Monthly);
    const QString backup = QStringLiteral(
        "insert or replace into quorbinal (id, serialno, channel1, channel2, pointDate) select id, "
        "serialno, channel1 + 40, channel2 - 10, pointDate from quorbinal where pointDate between "
        "{T} and {T} + 3599");
    const QString markers = QStringLiteral(
        "insert into quorbinal (serialno, channel1, channel2, pointDate) select serialno, 1.7e308, "
        "channel2, pointDate + 30 from quorbinal where pointDate between {T} and {T} + 7199");
    QTest::newRow("insert or replace: a backup's hour merged back")
        << week << Now << QStringList{backup} << false << true << true << false << true;
    QTest::newRow("insert or replace, month")
        << month << Now << QStringList{backup} << false << true << true << false << true;
    QTest::newRow("replace into: rows moved on, a channel emptied")
        << week << Now
        << QStringList{"replace into quorbinal (id, serialno, channel1, channel2, pointDate) "
                       "select id, serialno, null, channel2 + 5, pointDate + 900 from quorbinal "
                       "where serialno = '{S0}' and pointDate between {T} and {T} + 1799"}
        << false << true << true << false << true;
    QTest::newRow("update or replace of the id")
        << week << Now
        << QStringList{"update or replace quorbinal set id = id + 1 where serialno = '{S0}' and "
                       "pointDate between {T} and {T} + 1200"}
        << false << true << true << false << true;
    QTest::newRow("the no-value marker of older recorders")
        << week << Now
        << QStringList{markers, "insert into quorbinal (serialno, channel1, channel2, pointDate) "
                                "values ('{S1}', 1.7e308, 1.7e308, {T} + 45)"}
        << false << true << true << false << false;
    QTest::newRow("the no-value marker, month")
        << month << Now << QStringList{markers} << false << true << true << false << false;
    QTest::newRow("NULLs inserted and set")
        << week << Now
        << QStringList{"insert into quorbinal (serialno, channel1, channel2, pointDate) select "
                       "serialno, null, channel2 + 1, pointDate + 20 from quorbinal where "
                       "pointDate between {T} and {T} + 3599",
                       "update quorbinal set channel2 = null where serialno = '{S0}' and "
                       "pointDate between {T} and {T} + 600"}
        << false << true << true << false << true;
    QTest::newRow("times with a fraction, one just before a midnight")
        << week << Now
        << QStringList{"insert into quorbinal (serialno, channel1, channel2, pointDate) select "
                       "serialno, channel1 - 30, channel2, pointDate + 0.5 from quorbinal where "
                       "pointDate between {T} and {T} + 1799",
                       "insert into quorbinal (serialno, channel1, channel2, pointDate) values "
                       "('{S0}', -80, 99, {D} - 0.5)",
                       "update quorbinal set pointDate = pointDate + 0.25 where serialno = '{S0}' "
                       "and pointDate = {T}"}
        << false << true << true << false << true;
    QTest::newRow("rows deleted")
        << week << Now
        << QStringList{"delete from quorbinal where serialno = '{S0}' and pointDate between {T} "
                       "and {T} + 600"}
        << false << true << true << false << true;
    QTest::newRow("summary dropped while the recorder runs")
        << week << Now << QStringList{"drop table quorbinal_summary"} << true << false << true
        << true << false;
    QTest::newRow("summary dropped, the recorder started after")
        << week << Now << QStringList{"drop table quorbinal_summary"} << false << false << true
        << true << false;
    QTest::newRow("sample table renamed, a new one made")
        << week << Now
        << QStringList{"alter table quorbinal rename to quorbinal_old", "{SCHEMA}",
                       "insert into quorbinal select * from quorbinal_old where pointDate < {D}"}
        << false << false << true << true << false;
    QTest::newRow("the summary's trigger belongs to another table")
        << week << Now
        << QStringList{"drop trigger quorbinal_summarize",
                       "create table shadow (serialno, pointDate)",
                       "create trigger quorbinal_summarize after insert on shadow begin select 1; "
                       "end",
                       "insert into quorbinal (serialno, channel1, channel2, pointDate) select "
                       "serialno, channel1 + 9, channel2, pointDate + 10 from quorbinal where "
                       "pointDate between {T} and {T} + 3599"}
        << false << false << true << true << false;
    QTest::newRow("a unique index, rows replaced through it")
        << week << Now
        << QStringList{"create unique index quorbinal_unique on quorbinal (serialno, pointDate)",
                       "insert or replace into quorbinal (serialno, channel1, channel2, "
                       "pointDate) select serialno, channel1 + 7, channel2, pointDate from "
                       "quorbinal where serialno = '{S0}' and pointDate between {T} and {T} + "
                       "3599"}
        << false << false << false << false << false;
    QTest::newRow("a file of the summary's first version")
        << week << FirstVersion
        << QStringList{"insert into quorbinal (serialno, channel1, channel2, pointDate) select "
                       "serialno, channel1 + 2, channel2, pointDate + 5 from quorbinal where "
                       "pointDate between {T} and {T} + 3599"}
        << false << false << true << false << false;
    QTest::newRow("a file of the first version holding marker sums")
        << week << FirstVersion << QStringList{markers} << false << false << true << true << false;
    QTest::newRow("a file of this version's slower triggers, a backup merged back")
        << week << SlowerTriggers << QStringList{backup} << false << false << true << false
        << false;
}

// Catches: weekly or monthly figures from the summary that differ from the rows after a REPLACE
// (which deletes without the delete trigger), the no-value marker summed as a value, a time with
// a fraction, a summary dropped or kept by triggers of another table (found by name only), a
// REPLACE through a unique index; inserts failing on broken triggers; a file of the first
// version used before it is upgraded, or rebuilt when replacing its triggers would do; change
// marks missing for rows replaced, changed or deleted.
void TestSummaryEdits::sameFiguresAfterEdits()
{
    QFETCH(int, kind);
    QFETCH(int, madeWith);
    QFETCH(QStringList, edits);
    QFETCH(bool, openFirst);
    QFETCH(bool, summaryAfterEdit);
    QFETCH(bool, summaryAfterRecorder);
    QFETCH(bool, rebuilt);
    QFETCH(bool, marked);

    const ReportPeriod period =
        ReportPeriod::of(ReportKind(kind),
                         kind == int(ReportKind::Weekly) ? QDate(2026, 10, 22) : QDate(2026, 3, 1));
    const QVector<qint64> bounds = period.dayBounds();
    SampleDatabaseGenerator::Options options;
    options.projectPath = QFileInfo(dbPath).path() + QLatin1Char('/') +
                          QFileInfo(dbPath).completeBaseName() + QStringLiteral(".tpc");
    options.end = bounds.last() + 86400 - 60;
    options.seconds = options.end - bounds.first() + 2 * 86400;
    options.nodes = 2;
    options.interval = 60;
    options.nullRows = 40;
    options.gaps = 3;
    options.index = madeWith == Now;
    const SampleDatabaseGenerator::Result made = SampleDatabaseGenerator::generate(options);
    QVERIFY2(made.ok, qPrintable(made.error));
    const QString path = made.databasePath;
    QString error;
    if (madeWith != Now) {
        QStringList statements{QStringLiteral("alter table quorbinal rename to generated"),
                               SampleTable::createStatement(), SampleTable::createIndexStatement(),
                               SampleTable::createSummaryStatement()};
        if (madeWith == FirstVersion)
            statements << SummaryTriggers::earlierTriggerStatements();
        else
            statements << SampleTable::createChangesStatement()
                       << SampleTable::createStateStatement()
                       << SummaryTriggers::slowerTriggerStatements()
                       << SampleTable::newGenerationStatement();
        statements << QStringLiteral("insert into quorbinal select * from generated")
                   << QStringLiteral("drop table generated");
        QVERIFY2(exec(path, statements, &error), qPrintable(error));
    }

    const qint64 t = bounds.at(2) + 3 * 3600 + 17 * 60;
    const QString s0 = SampleDatabaseGenerator::serialOf(0);
    for (QString& edit : edits)
        edit.replace(QLatin1String("{S0}"), s0)
            .replace(QLatin1String("{S1}"), SampleDatabaseGenerator::serialOf(1))
            .replace(QLatin1String("{T}"), QString::number(t))
            .replace(QLatin1String("{D}"), QString::number(bounds.at(4)))
            .replace(QLatin1String("{SCHEMA}"), SampleTable::createStatement());
    const qint64 generation = ViewerSampleReader(path).changeGeneration();
    QCOMPARE(generation != 0, madeWith == Now);

    std::unique_ptr<InsertSerialData> recorder;
    auto openRecorder = [&] {
        recorder = std::make_unique<InsertSerialData>(path, QUuid::createUuid().toString());
        return recorder->createConnection();
    };
    if (openFirst)
        QVERIFY(openRecorder());
    QVERIFY2(exec(path, edits, &error), qPrintable(error));

    const Report edited = bothWays(path, period);
    QVERIFY(!edited.fromRows.isEmpty());
    QCOMPARE(edited.fromSummary, edited.fromRows);
    QCOMPARE(edited.summaryTaken, summaryAfterEdit);
    {
        ViewerSampleReader reader(path);
        std::vector<ViewerSampleReader::ChangedBucket> changes;
        const bool found =
            reader.changeGeneration() == generation && reader.changedBuckets(&changes) &&
            std::any_of(changes.begin(), changes.end(),
                        [&](const ViewerSampleReader::ChangedBucket& b) {
                            return b.serial == s0.toUtf8() &&
                                   b.bucket == t / SampleTable::BucketSeconds && b.changeCount > 0;
                        });
        QCOMPARE(found, marked);
    }

    // The recorder writes whatever the summary's state, and makes it usable again.
    if (!openFirst)
        QVERIFY(openRecorder());
    for (int i = 1; i <= 3; ++i)
        recorder->queueSample(sample(s0, 20 + i, t + 7 * i));
    QVERIFY(recorder->insertNow());
    QCOMPARE(!recorder->hasIndex() || !recorder->hasSummary(), rebuilt);
    if (rebuilt)
        QVERIFY(build(path));
    recorder->queueSample(sample(s0, 33, bounds.at(5) + 11));
    recorder->queueSample(sample(SampleDatabaseGenerator::serialOf(1), 34, bounds.at(5) + 11));
    QVERIFY(recorder->insertNow());
    recorder.reset();

    const Report written = bothWays(path, period);
    QVERIFY(!written.fromRows.isEmpty());
    QCOMPARE(written.fromSummary, written.fromRows);
    QCOMPARE(written.summaryTaken, summaryAfterRecorder);
    QVERIFY(written.fromRows != edited.fromRows);
}

QTEST_GUILESS_MAIN(TestSummaryEdits)
#include "tst_summaryedits.moc"
