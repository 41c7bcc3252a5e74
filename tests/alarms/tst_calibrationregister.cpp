#include "calibrationregister.h"
#include "calibrationtable.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

// The seventh day before it is the day summer time begins in Europe/Berlin (2027-03-28).
const QDate Due(2027, 4, 4);

} // namespace

// The register's notes and reminders on a fake clock in Europe/Berlin, against a real database
// file that outlives each run of the recorder.
class TestCalibrationRegister : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void remindersOnce_data();
    void remindersOnce();
    void dueNotes_data();
    void dueNotes();

private:
    std::unique_ptr<CalibrationRegister> start();

    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    SqliteConnection db;
    QDateTime now;
    QStringList sent; // "<days to due>:<days before>" per reminder
    QList<WriteJob::Kind> kinds;
};

void TestCalibrationRegister::init()
{
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("project.dat"));
    QVERIFY(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
    sent.clear();
    kinds.clear();
    CalibrationRecord r;
    r.id = 1;
    r.serial = QStringLiteral("1001");
    r.column = QStringLiteral("channel1");
    r.certificate = QStringLiteral("C-1");
    r.laboratory = QStringLiteral("Lab");
    r.calibrated = Due.addYears(-1);
    r.due = Due;
    QString error;
    QVERIFY2(CalibrationTable::insert(db.get(), r, &error), qPrintable(error));
}

void TestCalibrationRegister::cleanup()
{
    db.close();
    dir.reset();
}

// A recorder starting now: the register read from the file, its writes run on it at once.
std::unique_ptr<CalibrationRegister> TestCalibrationRegister::start()
{
    auto reg = std::make_unique<CalibrationRegister>(path, [this](const WriteJob& job) {
        kinds << job.kind;
        qint64 rowId = 0;
        QString error;
        QVERIFY2(job.run(db.get(), &rowId, &error), qPrintable(error));
    });
    reg->setClock([this] { return now; });
    reg->setRemind([this](const CalibrationRecord& entry, int daysBefore) {
        sent << QStringLiteral("%1:%2").arg(now.date().daysTo(entry.due)).arg(daysBefore);
        return true;
    });
    QString error;
    if (!reg->open(&error))
        qWarning() << error;
    return reg;
}

void TestCalibrationRegister::remindersOnce_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    // Days to the due date the recorder runs, "from..to" per run; a run at "renew" enters a
    // new certificate that day.
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("running throughout: 30 and 7 days before, once each")
        << 30 << 7 << QStringList{"40..-3"} << QStringList{"30:30", "7:7"};
    QTest::newRow("restarted after each: not sent again")
        << 30 << 7 << QStringList{"31..29", "28..6", "5..-2"} << QStringList{"30:30", "7:7"};
    QTest::newRow("off over the first: sent at the next start")
        << 30 << 7 << QStringList{"40..35", "20..-1"} << QStringList{"20:30", "7:7"};
    QTest::newRow("off over both: only the nearer at the next start")
        << 30 << 7 << QStringList{"40..35", "5..0"} << QStringList{"5:7"};
    QTest::newRow("first key 0: only the second")
        << 0 << 7 << QStringList{"40..0"} << QStringList{"7:7"};
    QTest::newRow("renewed before the second: the old entry is not reminded")
        << 30 << 7 << QStringList{"40..10", "renew", "9..-5"} << QStringList{"30:30"};
}

// Catches: a reminder sent on every tick or again after a restart, one lost while the recorder
// was off, a burst of stale ones at a start, a key of 0 that still sends, a day counted in UTC
// (missed or doubled on the night summer time begins), a reminder of an entry superseded, and
// anything written but the register's own rows (never an alarm event).
void TestCalibrationRegister::remindersOnce()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(QStringList, runs);
    QFETCH(QStringList, expected);
    std::unique_ptr<CalibrationRegister> reg;
    for (const QString& run : runs) {
        if (run == QLatin1String("renew")) {
            CalibrationRecord renewed = reg->entries().first();
            renewed.calibrated = now.date();
            renewed.due = now.date().addYears(1);
            QString problem;
            const auto prepared = reg->prepare(renewed, QStringLiteral("sam"), &problem);
            QVERIFY2(prepared, qPrintable(problem));
            reg->add(*prepared);
            continue;
        }
        const int from = run.section(QStringLiteral(".."), 0, 0).toInt();
        const int to = run.section(QStringLiteral(".."), 1, 1).toInt();
        reg.reset();
        for (int d = from; d >= to; --d) {
            // Three checks a day, the first at 00:30 local time.
            for (const QTime& at : {QTime(0, 30), QTime(12, 0), QTime(23, 59)}) {
                now = QDateTime(Due.addDays(-d), at);
                if (!reg) {
                    reg = start();
                    reg->setReminderDays(first, second);
                    reg->refresh();
                }
                reg->tick();
            }
        }
    }
    QCOMPARE(sent, expected);
    for (const WriteJob::Kind kind : qAsConst(kinds))
        QCOMPARE(kind, WriteJob::Calibration);
}

void TestCalibrationRegister::dueNotes_data()
{
    QTest::addColumn<int>("daysToDue");
    QTest::addColumn<QStringList>("notes");
    QTest::newRow("31 days before: none") << 31 << QStringList{};
    QTest::newRow("30 days before") << 30 << QStringList{"Calibration due: 1001 ch1 on 2027-04-04"};
    QTest::newRow("on the due date: not yet overdue")
        << 0 << QStringList{"Calibration due: 1001 ch1 on 2027-04-04"};
    QTest::newRow("the day after")
        << -1 << QStringList{"Calibration overdue: 1001 ch1 since 2027-04-04"};
}

// Catches a channel shown as due a day early or late, or overdue on its due date.
void TestCalibrationRegister::dueNotes()
{
    QFETCH(int, daysToDue);
    QFETCH(QStringList, notes);
    // Just after midnight: a date taken in UTC would still be the day before.
    now = QDateTime(Due.addDays(-daysToDue), QTime(0, 10));
    std::unique_ptr<CalibrationRegister> reg = start();
    QSignalSpy changed(reg.get(), &CalibrationRegister::dueNotesChanged);
    reg->tick();
    QCOMPARE(reg->dueNotes(), notes);
    QCOMPARE(changed.count(), notes.isEmpty() ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestCalibrationRegister)
#include "tst_calibrationregister.moc"
