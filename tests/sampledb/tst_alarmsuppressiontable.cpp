#include "alarmsuppressiontable.h"
#include "signedrecord.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

AlarmSuppression row(qint64 id, AlarmSuppression::Kind kind, int channel, qint64 from, qint64 until)
{
    AlarmSuppression r;
    r.id = id;
    r.kind = kind;
    r.serial = QStringLiteral("1001");
    r.channel = channel;
    r.from = from;
    r.until = until;
    r.reason = QStringLiteral("defrost, door open");
    r.user = QStringLiteral("olga");
    return r;
}

QStringList ids(const QVector<AlarmSuppression>& rows)
{
    QStringList out;
    for (const AlarmSuppression& r : rows)
        out << QString::number(r.id);
    return out;
}

} // namespace

// The table of shelves and out-of-service times on a real database file, written as the
// recorder's writer writes it (its jobs): what the start and the early end leave, which rows a
// period or a start finds, and the check of a signed row.
class TestAlarmSuppressionTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void jobsWriteRows();
    void hostileJobsRefused_data();
    void hostileJobsRefused();
    void periodsFindRows_data();
    void periodsFindRows();
    void signedRowChecked_data();
    void signedRowChecked();

private:
    bool run(const WriteJob& job, QString* error = nullptr);
    void fill();

    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    SqliteConnection db;
};

void TestAlarmSuppressionTable::init()
{
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("project.dat"));
    QVERIFY(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
}

void TestAlarmSuppressionTable::cleanup()
{
    db.close();
    dir.reset();
}

bool TestAlarmSuppressionTable::run(const WriteJob& job, QString* error)
{
    // Through the journal's encoding, as a job that waited across a restart.
    WriteJob back;
    back.kind = job.kind;
    if (!WriteJob::decodeValues(job.encodedValues(), &back.values))
        return false;
    qint64 rowId = 0;
    QString why;
    const bool ok = back.run(db.get(), &rowId, &why);
    if (error)
        *error = why;
    return ok;
}

// 1: a shelve of channel 1 from 1000 to 2000; 2: out of service from 1500 to 5000, ended at
// 3000; 3: a shelve of the node from 6000 to 7000.
void TestAlarmSuppressionTable::fill()
{
    using K = AlarmSuppression::Kind;
    QVERIFY(run(WriteJob::suppressionStart(row(1, K::Shelve, 1, 1000, 2000))));
    QVERIFY(run(WriteJob::suppressionStart(row(2, K::OutOfService, 0, 1500, 5000))));
    QVERIFY(run(WriteJob::suppressionEnd(2, 3000)));
    QVERIFY(run(WriteJob::suppressionStart(row(3, K::Shelve, 0, 6000, 7000))));
}

// Catches: a field lost on the way through the journal, a replayed start that changes a row
// ended since, a second end that moves the first, an end before the start.
void TestAlarmSuppressionTable::jobsWriteRows()
{
    fill();
    std::optional<AlarmSuppression> r;
    QString error;
    QVERIFY(AlarmSuppressionTable::find(db.get(), 2, &r, &error));
    QVERIFY(r);
    QCOMPARE(r->kind, AlarmSuppression::Kind::OutOfService);
    QCOMPARE(r->serial, QStringLiteral("1001"));
    QCOMPARE(r->reason, QStringLiteral("defrost, door open"));
    QCOMPARE(r->user, QStringLiteral("olga"));
    QCOMPARE(r->from, 1500);
    QCOMPARE(r->until, 5000);
    QCOMPARE(r->ended, std::optional<qint64>(3000));

    QVERIFY(run(
        WriteJob::suppressionStart(row(2, AlarmSuppression::Kind::OutOfService, 0, 1500, 5000))));
    QVERIFY(run(WriteJob::suppressionEnd(2, 4000)));
    QVERIFY(run(WriteJob::suppressionEnd(3, 10)));
    QVERIFY(AlarmSuppressionTable::find(db.get(), 2, &r, &error));
    QCOMPARE(r->ended, std::optional<qint64>(3000));
    QVERIFY(AlarmSuppressionTable::find(db.get(), 3, &r, &error));
    QCOMPARE(r->ended, std::optional<qint64>(6000));
    QCOMPARE(r->channel, 0);
    // Rows stay for the reports.
    QVERIFY(sqlite3_exec(db.get(), "delete from alarm_suppression", nullptr, nullptr, nullptr) !=
            SQLITE_OK);
}

void TestAlarmSuppressionTable::hostileJobsRefused_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::newRow("no values") << QVariantList{};
    QTest::newRow("unknown operation") << QVariantList{"drop", 1, 2};
    QTest::newRow("start without its fields") << QVariantList{"start", 1, "shelve"};
    QTest::newRow("end with too many values") << QVariantList{"end", 1, 2, 3};
    QTest::newRow("kind no version wrote")
        << QVariantList{"start", 1, "silence", "1001", 1, 0, 10, "why", "who"};
}

// Catches a job of another version, or damaged, written as some row instead of refused.
void TestAlarmSuppressionTable::hostileJobsRefused()
{
    QFETCH(QVariantList, values);
    QString error;
    QVERIFY(!run(WriteJob{WriteJob::AlarmSuppression, values}, &error));
    QVERIFY(!error.isEmpty());
    QVector<AlarmSuppression> rows;
    QVERIFY(AlarmSuppressionTable::overlapping(db.get(), 0, 1LL << 40, &rows, &error));
    QVERIFY(rows.isEmpty());
}

void TestAlarmSuppressionTable::periodsFindRows_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to"); // -1: holdingAt(from)
    QTest::addColumn<QStringList>("found");
    QTest::newRow("before all") << qint64(0) << qint64(1000) << QStringList{};
    QTest::newRow("the whole time") << qint64(0) << qint64(10000) << QStringList{"1", "2", "3"};
    QTest::newRow("overlapping the first's end")
        << qint64(1999) << qint64(2100) << QStringList{"1", "2"};
    QTest::newRow("after the early end, before the planned one")
        << qint64(3000) << qint64(5000) << QStringList{};
    QTest::newRow("into the last") << qint64(5000) << qint64(6001) << QStringList{"3"};
    QTest::newRow("holding at 1500") << qint64(1500) << qint64(-1) << QStringList{"1", "2"};
    QTest::newRow("holding at 2000: the first is over")
        << qint64(2000) << qint64(-1) << QStringList{"2"};
    QTest::newRow("holding at 3000: ended early") << qint64(3000) << qint64(-1) << QStringList{};
}

// Catches: a report that misses a span reaching into its period or lists one ended early
// before it; a start that takes up a shelve over or one ended early.
void TestAlarmSuppressionTable::periodsFindRows()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(QStringList, found);
    fill();
    QVector<AlarmSuppression> rows;
    QString error;
    if (to < 0)
        QVERIFY(AlarmSuppressionTable::holdingAt(db.get(), from, &rows, &error));
    else
        QVERIFY(AlarmSuppressionTable::overlapping(db.get(), from, to, &rows, &error));
    QCOMPARE(ids(rows), found);
    db.close();
    // The same through a connection of its own, as the recorder's start and the reports read.
    if (to < 0)
        QVERIFY(AlarmSuppressionTable::readHolding(path, from, &rows, &error));
    else
        QVERIFY(AlarmSuppressionTable::readOverlapping(path, from, to, &rows, &error));
    QCOMPARE(ids(rows), found);
}

void TestAlarmSuppressionTable::signedRowChecked_data()
{
    QTest::addColumn<QByteArray>("change"); // SQL run after the signature
    QTest::addColumn<bool>("holds");
    QTest::newRow("unchanged") << QByteArray() << true;
    QTest::newRow("ended early later") << QByteArray("update alarm_suppression set endedTime = "
                                                     "1200 where id = 1")
                                       << true;
    QTest::newRow("reason changed") << QByteArray("update alarm_suppression set reason = 'x' "
                                                  "where id = 1")
                                    << false;
    QTest::newRow("shelve made longer") << QByteArray("update alarm_suppression set untilTime = "
                                                      "90000 where id = 1")
                                        << false;
    QTest::newRow("moved to another channel") << QByteArray("update alarm_suppression set "
                                                            "channel = 2 where id = 1")
                                              << false;
    QTest::newRow("turned into another kind") << QByteArray("update alarm_suppression set kind "
                                                            "= 'out of service' where id = 1")
                                              << false;
    QTest::newRow("row gone") << QByteArray("drop table alarm_suppression") << false;
}

// Catches a signed shelve whose row was changed afterwards still reported as matching, or an
// early end (which comes after the signature) reported as a change.
void TestAlarmSuppressionTable::signedRowChecked()
{
    QFETCH(QByteArray, change);
    QFETCH(bool, holds);
    fill();
    std::optional<AlarmSuppression> r;
    QString error;
    QVERIFY(AlarmSuppressionTable::find(db.get(), 1, &r, &error));
    const SignedRecord signedFields = AlarmSuppressionTable::signedRecord(*r);
    QCOMPARE(signedFields.kind, AlarmSuppressionTable::shelveRecordKind());
    if (!change.isEmpty())
        QCOMPARE(sqlite3_exec(db.get(), change.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    const QString problem = AlarmSuppressionTable::signedRecordProblem(db.get(), signedFields);
    QVERIFY2(problem.isEmpty() == holds, qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestAlarmSuppressionTable)
#include "tst_alarmsuppressiontable.moc"
