#include "alarmtestlog.h"
#include "alarmtesttable.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

// Day 0 of every row; summer time begins in Europe/Berlin on day 27 (2027-03-28).
const QDate Start(2027, 3, 1);

} // namespace

// The alarm-test reminder on a fake clock in Europe/Berlin, against a real database file that
// outlives each run of the recorder.
class TestAlarmTestLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void reminderOncePerLapse_data();
    void reminderOncePerLapse();

private:
    std::unique_ptr<AlarmTestLog> start(int days);

    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    SqliteConnection db;
    QDateTime now;
    QStringList sent; // "<day sent>:<day the lapse began>" per reminder
    QList<WriteJob::Kind> kinds;
};

void TestAlarmTestLog::init()
{
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("project.dat"));
    QVERIFY(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
    sent.clear();
    kinds.clear();
}

void TestAlarmTestLog::cleanup()
{
    db.close();
    dir.reset();
}

// A recorder starting now: the log read from the file, its writes run on it at once.
std::unique_ptr<AlarmTestLog> TestAlarmTestLog::start(int days)
{
    auto log = std::make_unique<AlarmTestLog>(path, [this](const WriteJob& job) {
        kinds << job.kind;
        qint64 rowId = 0;
        QString error;
        QVERIFY2(job.run(db.get(), &rowId, &error), qPrintable(error));
    });
    log->setClock([this] { return now; });
    log->setReminderDays(days);
    log->setRemind([this, days](int told, const QDateTime& lastTest, qint64 lapseFrom) {
        const QDate lapse = QDateTime::fromSecsSinceEpoch(lapseFrom).toLocalTime().date();
        // The last test, when there is one, is where the lapse began.
        if (lastTest.isValid() && lastTest.toSecsSinceEpoch() != lapseFrom)
            return false;
        if (told != days)
            return false;
        sent << QStringLiteral("%1:%2").arg(Start.daysTo(now.date())).arg(Start.daysTo(lapse));
        return true;
    });
    QString error;
    if (!log->open(&error))
        qWarning() << error;
    return log;
}

void TestAlarmTestLog::reminderOncePerLapse_data()
{
    QTest::addColumn<int>("days");
    // Days the recorder runs, "from..to" per run; "test" runs an alarm test at the last moment
    // of the run before.
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("never tested, running throughout: once, counted from the first start")
        << 30 << QStringList{"0..70"} << QStringList{"30:0"};
    QTest::newRow("restarted every few days: not sent again")
        << 30 << QStringList{"0..29", "30..31", "32..40", "41..70"} << QStringList{"30:0"};
    QTest::newRow("off when it fell due: sent at the next start")
        << 30 << QStringList{"0..10", "45..50"} << QStringList{"45:0"};
    QTest::newRow("a test in time: the lapse starts again from it")
        << 30 << QStringList{"0..20", "test", "21..60"} << QStringList{"50:20"};
    QTest::newRow("a test after a reminder: a new lapse, a new reminder")
        << 30 << QStringList{"0..35", "test", "36..70"} << QStringList{"30:0", "65:35"};
    QTest::newRow("a test the day before, then restarted: a week after the test")
        << 7 << QStringList{"test", "0..20"} << QStringList{"6:-1"};
    QTest::newRow("key 0: never") << 0 << QStringList{"0..400"} << QStringList{};
}

// Catches: a reminder sent on every tick or again after a restart, one lost while the recorder
// was off, a test that does not restart the lapse, a new project reminded at its first start, a
// key of 0 that still sends, and anything written but the log's own (never an alarm event).
void TestAlarmTestLog::reminderOncePerLapse()
{
    QFETCH(int, days);
    QFETCH(QStringList, runs);
    QFETCH(QStringList, expected);
    std::unique_ptr<AlarmTestLog> log;
    now = QDateTime(Start.addDays(-1), QTime(12, 0));
    for (const QString& run : runs) {
        if (run == QLatin1String("test")) {
            if (!log)
                log = start(days);
            AlarmTestRecord r;
            r.testId = log->newTestId();
            r.time = now.toSecsSinceEpoch();
            r.user = QStringLiteral("olga");
            r.nodes = QStringLiteral("N-7");
            r.target = QStringLiteral("email");
            r.answer = AlarmTestRecord::acceptedAnswer();
            log->add({r});
            QCOMPARE(log->lastTest(), r.time);
            continue;
        }
        const int from = run.section(QStringLiteral(".."), 0, 0).toInt();
        const int to = run.section(QStringLiteral(".."), 1, 1).toInt();
        log.reset();
        for (int d = from; d <= to; ++d) {
            // Three checks a day, the first at 00:30 local time.
            for (const QTime& at : {QTime(0, 30), QTime(12, 0), QTime(23, 59)}) {
                now = QDateTime(Start.addDays(d), at);
                if (!log)
                    log = start(days);
                log->tick();
            }
        }
    }
    QCOMPARE(sent, expected);
    for (const WriteJob::Kind kind : qAsConst(kinds))
        QCOMPARE(kind, WriteJob::AlarmTest);
    // No alarm event table was even made.
    sqlite3_stmt* s = nullptr;
    const int rc = sqlite3_prepare_v2(db.get(), "select 1 from alarm_event", -1, &s, nullptr);
    sqlite3_finalize(s);
    QVERIFY(rc != SQLITE_OK);
}

QTEST_GUILESS_MAIN(TestAlarmTestLog)
#include "tst_alarmtestlog.moc"
