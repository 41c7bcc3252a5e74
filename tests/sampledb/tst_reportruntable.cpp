#include "reportruntable.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

// The scheduled reports' runs on a real database file, written through the writer's job (and
// the journal's encoding), and rows made by hand that must not be trusted.
class TestReportRunTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { db.close(); }
    void laterStateReplaces_data();
    void laterStateReplaces();

private:
    bool run(const WriteJob& job);

    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    SqliteConnection db;
};

void TestReportRunTable::init()
{
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("project.dat"));
    QVERIFY(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
}

bool TestReportRunTable::run(const WriteJob& job)
{
    WriteJob back{job.kind, {}};
    qint64 rowId = 0;
    QString error;
    return WriteJob::decodeValues(job.encodedValues(), &back.values) &&
           back.run(db.get(), &rowId, &error);
}

void TestReportRunTable::laterStateReplaces_data()
{
    // What spoils the second write of the period ("sent"): none, "kind", "period".
    QTest::addColumn<QString>("spoiled");
    // A row put in by hand after both, or empty.
    QTest::addColumn<QByteArray>("handMade");
    QTest::addColumn<QStringList>("read");

    // Faults: a retry's row beside the failed one (the period made twice at the next start), a
    // field lost through the journal.
    QTest::newRow("failed, then sent")
        << "" << QByteArray() << QStringList{"monthly.2028-02-01 sent late 3 "};
    // Faults: a job no version writes stopping the writer for good, or stored.
    QTest::newRow("unknown kind: left out, the writer goes on")
        << "kind" << QByteArray() << QStringList{"monthly.2028-02-01 failed late 3 boom"};
    // Faults: a hand-made row with text for a time, or a state of its own, trusted.
    QTest::newRow("hand-made row with a text due time")
        << ""
        << QByteArray("'daily', '2028-03-01', '2028-03-01', 'soon', 0, 'sent', 0, 0, ''")
        << QStringList{"monthly.2028-02-01 sent late 3 "};
}

void TestReportRunTable::laterStateReplaces()
{
    QFETCH(QString, spoiled);
    QFETCH(QByteArray, handMade);
    QFETCH(QStringList, read);

    ReportRunRecord r;
    r.kind = QStringLiteral("monthly");
    r.first = QDate(2028, 2, 1);
    r.last = QDate(2028, 2, 29);
    r.dueMs = 1838156400000;
    r.madeMs = r.dueMs + 60000;
    r.state = ReportRunRecord::stateFailed();
    r.late = true;
    r.attempts = 3;
    r.error = QStringLiteral("boom");
    QVERIFY(run(WriteJob::reportRun(r)));
    r.state = ReportRunRecord::stateSent();
    r.error.clear();
    if (spoiled == QLatin1String("kind"))
        r.kind = QStringLiteral("hourly");
    if (spoiled == QLatin1String("period"))
        r.last = r.first.addDays(40);
    QVERIFY(run(WriteJob::reportRun(r)));
    if (!handMade.isEmpty()) {
        const QByteArray insert = "insert into report_run values (" + handMade + ")";
        QCOMPARE(sqlite3_exec(db.get(), insert.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    QVector<ReportRunRecord> rows;
    QString error;
    int skipped = -1;
    QVERIFY2(ReportRunTable::read(path, &rows, &error, &skipped), qPrintable(error));
    QStringList got;
    for (const ReportRunRecord& row : rows)
        got << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(row.key(), row.state, row.late ? "late" : "on time")
                   .arg(row.attempts)
                   .arg(row.error);
    QCOMPARE(got, read);
    QCOMPARE(skipped, handMade.isEmpty() ? 0 : 1);
    QCOMPARE(rows.constFirst().last, QDate(2028, 2, 29));
}

QTEST_GUILESS_MAIN(TestReportRunTable)
#include "tst_reportruntable.moc"
