#include "alarmeventtable.h"
#include "alarmlogquery.h"
#include "sampletable.h"
#include "sqliteconnection.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sqlite3.h>

namespace {

// Local midnight that starts 2024-03-31 (the night the clocks go forward) in the test's zone.
qint64 localMidnight()
{
    return QDateTime(QDate(2024, 3, 31), QTime(0, 0), Qt::LocalTime).toSecsSinceEpoch();
}

QList<qint64> idsOf(const QVector<AlarmEventRecord>& events)
{
    QList<qint64> ids;
    for (const AlarmEventRecord& e : events)
        ids << e.id;
    return ids;
}

} // namespace

// The alarm log's questions through AlarmLogQuery on a real database file: the right rows for
// each question, each answer with its own request's id, the asking thread never held by a locked
// file, and a log that cannot be read told rather than shown empty.
class TestAlarmLogQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answers_data();
    void answers();
    void lockedFileHoldsNoAsker();
    void unreadableLogTold();

private:
    QTemporaryDir dir;
    QString database;
};

void TestAlarmLogQuery::initTestCase()
{
    QVERIFY(dir.isValid());
    database = dir.filePath(QStringLiteral("p.dat"));
    SqliteConnection db;
    QVERIFY(db.open(database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
    QCOMPARE(sqlite3_exec(db.get(), SampleTable::createStatement().toUtf8().constData(), nullptr,
                          nullptr, nullptr),
             SQLITE_OK);
    const qint64 day = localMidnight();
    // id, node, kind, start (from local midnight), end (0: active), acknowledged.
    struct Row
    {
        qint64 id;
        const char* serial;
        AlarmKind kind;
        qint64 start;
        qint64 end;
        bool acknowledged;
    };
    const Row rows[] = {
        {1, "N1", AlarmKind::High, -3600, -1800, true},  // the evening before, local time
        {2, "N1", AlarmKind::Low, 600, 1200, false},     // just after local midnight
        {3, "N2", AlarmKind::High, 7200, 0, false},      // still active
        {4, "N2", AlarmKind::NoData, 23 * 3600 - 120, 23 * 3600 - 60, true}, // 23:58 local
        {5, "N1", AlarmKind::High, 23 * 3600 + 60, 0, false}, // 00:01 the next local day
    };
    QString error;
    for (const Row& r : rows) {
        AlarmEventRecord e;
        e.id = r.id;
        e.serial = QString::fromLatin1(r.serial);
        e.kind = r.kind;
        e.channel = r.kind == AlarmKind::NoData ? 0 : 1;
        if (r.kind != AlarmKind::NoData)
            e.limit = 30;
        e.start = day + r.start;
        e.raised = e.start;
        QVERIFY2(AlarmEventTable::apply(db.get(), AlarmEventWrite::insert(e), &error),
                 qPrintable(error));
        if (r.end)
            QVERIFY2(AlarmEventTable::apply(
                         db.get(), AlarmEventWrite::close(r.id, day + r.end, AlarmEnd::Cleared),
                         &error),
                     qPrintable(error));
        if (r.acknowledged)
            QVERIFY2(AlarmEventTable::apply(db.get(),
                                            AlarmEventWrite::acknowledge(r.id, e.start + 60,
                                                                         QStringLiteral("Kim"),
                                                                         QString()),
                                            &error),
                     qPrintable(error));
    }
}

void TestAlarmLogQuery::answers_data()
{
    QTest::addColumn<AlarmEventFilter>("filter");
    QTest::addColumn<QList<qint64>>("ids"); // active ones first, then the newest
    QTest::addColumn<qint64>("count");

    const qint64 day = localMidnight();
    AlarmEventFilter all;
    QTest::newRow("every event") << all << QList<qint64>{5, 3, 4, 2, 1} << qint64(5);
    AlarmEventFilter node;
    node.serial = QStringLiteral("N1");
    node.unacknowledgedOnly = true;
    QTest::newRow("one node, unacknowledged") << node << QList<qint64>{5, 2} << qint64(2);
    // The local day of the clock change is 23 hours long: an event of the evening before and
    // one of the next day stay out, whatever UTC's day says.
    AlarmEventFilter localDay;
    localDay.from = day;
    localDay.to = day + 23 * 3600 - 1;
    QTest::newRow("a local day") << localDay << QList<qint64>{3, 4, 2} << qint64(3);
    AlarmEventFilter newest;
    newest.limit = 2;
    QTest::newRow("the newest two") << newest << QList<qint64>{5, 3} << qint64(5);
}

// Catches: rows of another question (or of the other kind of question) given as the answer, an
// answer under another request's id, and a period shifted off the local day it was asked for.
void TestAlarmLogQuery::answers()
{
    QFETCH(AlarmEventFilter, filter);
    QFETCH(QList<qint64>, ids);
    QFETCH(qint64, count);

    AlarmLogQuery query(database);
    QSignalSpy listed(&query, &AlarmLogQuery::listed);
    QSignalSpy counted(&query, &AlarmLogQuery::counted);
    const quint64 listRequest = query.list(filter);
    const quint64 countRequest = query.count(filter);
    QVERIFY(countRequest != listRequest);
    QTRY_COMPARE(listed.size(), 1);
    QTRY_COMPARE(counted.size(), 1);
    QCOMPARE(listed.first().at(0).toULongLong(), listRequest);
    QCOMPARE(listed.first().at(2).toString(), QString());
    QCOMPARE(idsOf(listed.first().at(1).value<QVector<AlarmEventRecord>>()), ids);
    QCOMPARE(counted.first().at(0).toULongLong(), countRequest);
    QCOMPARE(counted.first().at(2).toString(), QString());
    QCOMPARE(counted.first().at(1).toLongLong(), count);
}

// Catches a question answered on the asking thread: with another program holding the file, the
// asker would wait for it.
void TestAlarmLogQuery::lockedFileHoldsNoAsker()
{
    SqliteConnection holder;
    QVERIFY(holder.open(database, SQLITE_OPEN_READWRITE));
    QCOMPARE(sqlite3_exec(holder.get(), "pragma locking_mode = exclusive; begin exclusive; "
                                        "update alarm_event set comment = comment where id = 1;",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    // Let go of the file a moment later, well within the reader's busy wait.
    QTimer::singleShot(300, [&holder] {
        sqlite3_exec(holder.get(), "commit; pragma locking_mode = normal; select 1 from "
                                   "alarm_event limit 1;",
                     nullptr, nullptr, nullptr);
    });

    AlarmLogQuery query(database);
    QSignalSpy listed(&query, &AlarmLogQuery::listed);
    QElapsedTimer clock;
    clock.start();
    const quint64 request = query.list(AlarmEventFilter());
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(listed.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(listed.size(), 1, 5000);
    QCOMPARE(listed.first().at(0).toULongLong(), request);
    QCOMPARE(listed.first().at(2).toString(), QString());
    QCOMPARE(listed.first().at(1).value<QVector<AlarmEventRecord>>().size(), 5);
}

// Catches a log that cannot be read shown as a log without events.
void TestAlarmLogQuery::unreadableLogTold()
{
    AlarmLogQuery query(dir.filePath(QStringLiteral("missing.dat")));
    QSignalSpy listed(&query, &AlarmLogQuery::listed);
    QSignalSpy counted(&query, &AlarmLogQuery::counted);
    query.list(AlarmEventFilter());
    query.count(AlarmEventFilter());
    QTRY_COMPARE(listed.size(), 1);
    QTRY_COMPARE(counted.size(), 1);
    QVERIFY(!listed.first().at(2).toString().isEmpty());
    QVERIFY(!counted.first().at(2).toString().isEmpty());
    QCOMPARE(counted.first().at(1).toLongLong(), qint64(-1));
}

QTEST_GUILESS_MAIN(TestAlarmLogQuery)
#include "tst_alarmlogquery.moc"
