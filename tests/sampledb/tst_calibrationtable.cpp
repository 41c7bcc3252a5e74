#include "calibrationtable.h"
#include "signedrecord.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

CalibrationRecord entry(qint64 id, const QDate& calibrated, const QDate& due,
                        const QString& column = QStringLiteral("channel1"))
{
    CalibrationRecord r;
    r.id = id;
    r.serial = QStringLiteral("1001");
    r.column = column;
    r.certificate = QStringLiteral("C-%1").arg(id);
    r.laboratory = QStringLiteral("Kalibrierlabor Nord");
    r.calibrated = calibrated;
    r.due = due;
    r.asLeft = 0.05;
    r.uncertainty = 0.1;
    r.certificateFile = QStringLiteral("/srv/certs/C (ö).pdf"); // as-found left out
    return r;
}

} // namespace

// The calibration register on a real database file, written through the writer's jobs (and the
// journal's encoding): what a reader gets back, what the triggers refuse, the entry in force on
// a day, and rows made by hand that must not be trusted.
class TestCalibrationTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { db.close(); }
    void writtenOnceNeverChanged_data();
    void writtenOnceNeverChanged();
    void entryInForce_data();
    void entryInForce();
    void handMadeRowsLeftOut_data();
    void handMadeRowsLeftOut();

private:
    bool run(const WriteJob& job);
    QVector<CalibrationRecord> readBack(int* skipped = nullptr);

    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    SqliteConnection db;
};

void TestCalibrationTable::init()
{
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("project.dat"));
    QVERIFY(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
}

bool TestCalibrationTable::run(const WriteJob& job)
{
    WriteJob back{job.kind, {}};
    qint64 rowId = 0;
    QString error;
    return WriteJob::decodeValues(job.encodedValues(), &back.values) &&
           back.run(db.get(), &rowId, &error);
}

QVector<CalibrationRecord> TestCalibrationTable::readBack(int* skipped)
{
    QVector<CalibrationRecord> rows;
    QString error;
    if (!CalibrationTable::read(path, &rows, &error, skipped))
        qWarning() << error;
    return rows;
}

void TestCalibrationTable::writtenOnceNeverChanged_data()
{
    QTest::addColumn<QByteArray>("sql");
    // 0: none spoiled; 1: due on the calibration day; 2: 101 characters of certificate; 3:
    // channel3.
    QTest::addColumn<int>("field");
    QTest::newRow("certificate changed")
        << QByteArray("update calibration set certificate='X'") << 0;
    QTest::newRow("entry deleted") << QByteArray("delete from calibration") << 0;
    QTest::newRow("due on the calibration day: not written") << QByteArray() << 1;
    QTest::newRow("certificate of 101 characters: not written") << QByteArray() << 2;
    QTest::newRow("channel 3: not written") << QByteArray() << 3;
}

// Catches: a field lost on the way through the journal, a missing error read as 0, a replayed
// job that adds a second row, an entry edited or removed after it was made (and signed), a row
// out of bounds kept (or one that stops the writer for good).
void TestCalibrationTable::writtenOnceNeverChanged()
{
    QFETCH(QByteArray, sql);
    QFETCH(int, field);
    QCOMPARE(readBack().size(), 0); // no table yet
    CalibrationRecord r = entry(7, QDate(2026, 3, 2), QDate(2027, 3, 2));
    r.due = field == 1 ? r.calibrated : r.due;
    r.certificate = field == 2 ? QString(101, 'c') : r.certificate;
    r.column = field == 3 ? QStringLiteral("channel3") : r.column;
    QVERIFY(run(WriteJob::calibration(r)));
    QVERIFY(run(WriteJob::calibration(r)));
    if (!sql.isEmpty())
        QVERIFY(sqlite3_exec(db.get(), sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK);
    const QVector<CalibrationRecord> rows = readBack();
    QCOMPARE(rows.size(), field == 0 ? 1 : 0);
    if (field == 0) {
        QCOMPARE(CalibrationTable::signedRecord(rows.first()).canonical(),
                 CalibrationTable::signedRecord(r).canonical());
        QVERIFY(!rows.first().asFound.has_value());
    }
}

void TestCalibrationTable::entryInForce_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<qint64>("expected"); // 0: none
    QTest::addColumn<bool>("overdue");
    // 1: 2026-01-10 due 2026-07-10; 2 and 3: 2026-06-01 (3 entered later, a correction);
    // 4: channel 2 from 2026-02-01.
    QTest::newRow("a day before the first")
        << "channel1" << QDate(2026, 1, 9) << qint64(0) << false;
    QTest::newRow("on its calibration day")
        << "channel1" << QDate(2026, 1, 10) << qint64(1) << false;
    QTest::newRow("the day before the newer")
        << "channel1" << QDate(2026, 5, 31) << qint64(1) << false;
    QTest::newRow("the newer supersedes, by id on a tie")
        << "channel1" << QDate(2026, 6, 1) << qint64(3) << false;
    QTest::newRow("on the due date: not overdue")
        << "channel1" << QDate(2027, 6, 1) << qint64(3) << false;
    QTest::newRow("the day after due: overdue")
        << "channel1" << QDate(2027, 6, 2) << qint64(3) << true;
    QTest::newRow("the other channel keeps its own")
        << "channel2" << QDate(2026, 6, 1) << qint64(4) << false;
}

// Catches: an entry in force before its calibration, the older of two on the same day, one
// channel's certificate shown for the other, overdue a day early.
void TestCalibrationTable::entryInForce()
{
    QFETCH(QString, column);
    QFETCH(QDate, day);
    QFETCH(qint64, expected);
    QFETCH(bool, overdue);
    QVERIFY(run(WriteJob::calibration(entry(3, QDate(2026, 6, 1), QDate(2027, 6, 1)))));
    QVERIFY(run(WriteJob::calibration(entry(1, QDate(2026, 1, 10), QDate(2026, 7, 10)))));
    QVERIFY(run(WriteJob::calibration(entry(2, QDate(2026, 6, 1), QDate(2026, 12, 1)))));
    QVERIFY(run(WriteJob::calibration(entry(4, QDate(2026, 2, 1), QDate(2027, 2, 1), "channel2"))));
    const QVector<CalibrationRecord> rows = readBack();
    const CalibrationRecord* found =
        CalibrationTable::inForce(rows, QStringLiteral("1001"), column, day);
    QCOMPARE(found ? found->id : 0, expected);
    QCOMPARE(found && found->isOverdueOn(day), overdue);
}

void TestCalibrationTable::handMadeRowsLeftOut_data()
{
    QTest::addColumn<QByteArray>("values");
    const QByteArray rest = "'L', '2026-01-05', '2027-01-05', '', 0.1, 0.1, ";
    QTest::newRow("text in the uncertainty")
        << QByteArray("2, '1001', 'channel1', 'C', " + rest + "'a lot', '', 'x', 0, 0");
    QTest::newRow("a 100 kB certificate number")
        << QByteArray("2, '1001', 'channel1', replace(hex(zeroblob(50000)), '0', 'x'), " + rest +
                      "0.1, '', 'x', 0, 0");
    QTest::newRow("NULL everywhere") << QByteArray("NULL" + QByteArray(", NULL").repeated(14));
    QTest::newRow("a date not written as the table writes it")
        << QByteArray("2, '1001', 'channel1', 'C', 'L', '2026-1-5', '2027-01-05', '', 0.1, 0.1, "
                      "0.1, '', 'x', 0, 0");
}

// A table made by another tool, without the constraints, holding one good row and one bad.
// Catches a reader that crashes, fails as a whole, keeps the bad row, or drops the good one.
void TestCalibrationTable::handMadeRowsLeftOut()
{
    QFETCH(QByteArray, values);
    QCOMPARE(sqlite3_exec(db.get(),
                          "create table calibration (id, serial, channelColumn, certificate, "
                          "laboratory, calibrated, due, reference, asFound, asLeft, uncertainty, "
                          "certificateFile, enteredBy, enteredAt, signatureId)",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    for (const QByteArray& row : {QByteArray("1, '1001', 'channel1', 'C', " +
                                             QByteArray("'L', '2026-01-05', '2027-01-05', '', "
                                                        "NULL, 0.1, 0.1, '', 'x', 0, 0")),
                                  values}) {
        const QByteArray insert = "insert into calibration values (" + row + ")";
        QCOMPARE(sqlite3_exec(db.get(), insert.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    int skipped = -1;
    const QVector<CalibrationRecord> rows = readBack(&skipped);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().id, 1);
    QCOMPARE(skipped, 1);
}

QTEST_GUILESS_MAIN(TestCalibrationTable)
#include "tst_calibrationtable.moc"
