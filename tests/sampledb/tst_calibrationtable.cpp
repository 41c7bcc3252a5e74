#include "calibrationtable.h"
#include "signedrecord.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace {

// Channel 1 of node 1001, certificate "C-<id>" of one lab.
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
    r.reference = QStringLiteral("PT100 ref 7");
    r.asFound = 0.3;
    r.asLeft = 0.05;
    r.uncertainty = 0.1;
    r.enteredBy = QStringLiteral("sam (Sam Lead)");
    r.enteredAt = 1765000000;
    return r;
}

} // namespace

// The calibration register on a real database file, written as the recorder's writer writes it
// (its jobs, through the journal's encoding): what a reader gets back, what the triggers refuse,
// the entry in force on a day, and rows made by hand that must not be trusted.
class TestCalibrationTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void jobsWriteRows();
    void triggersRefuseChanges_data();
    void triggersRefuseChanges();
    void entryInForce_data();
    void entryInForce();
    void boundsRefused_data();
    void boundsRefused();
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

void TestCalibrationTable::cleanup()
{
    db.close();
    dir.reset();
}

bool TestCalibrationTable::run(const WriteJob& job)
{
    WriteJob back;
    back.kind = job.kind;
    if (!WriteJob::decodeValues(job.encodedValues(), &back.values))
        return false;
    qint64 rowId = 0;
    QString error;
    return back.run(db.get(), &rowId, &error);
}

QVector<CalibrationRecord> TestCalibrationTable::readBack(int* skipped)
{
    QVector<CalibrationRecord> rows;
    QString error;
    if (!CalibrationTable::read(path, &rows, &error, skipped))
        qWarning() << error;
    return rows;
}

// Catches: a field lost on the way through the journal, a missing as-found read as 0, a
// replayed job that adds a second row, a reader that fails on a file without the table.
void TestCalibrationTable::jobsWriteRows()
{
    QCOMPARE(readBack().size(), 0); // no table yet
    QVector<CalibrationRecord> none;
    QString error;
    QVERIFY(CalibrationTable::read(dir->filePath(QStringLiteral("absent.dat")), &none, &error));
    CalibrationRecord first = entry(7, QDate(2026, 3, 2), QDate(2027, 3, 2));
    first.asFound.reset();
    first.certificateFile = QStringLiteral("/srv/certs/C-7 (ö).pdf");
    QVERIFY(run(WriteJob::calibration(first)));
    QVERIFY(run(WriteJob::calibration(first)));
    const QVector<CalibrationRecord> rows = readBack();
    QCOMPARE(rows.size(), 1);
    const CalibrationRecord& r = rows.first();
    QCOMPARE(CalibrationTable::signedRecord(r).canonical(),
             CalibrationTable::signedRecord(first).canonical());
    QVERIFY(!r.asFound.has_value());
    QCOMPARE(r.asLeft, std::optional<double>(0.05));
    QCOMPARE(r.signatureId, 0);
}

void TestCalibrationTable::triggersRefuseChanges_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::newRow("certificate changed") << QByteArray("update calibration set certificate='X'");
    QTest::newRow("due date moved") << QByteArray("update calibration set due='2030-01-01'");
    QTest::newRow("signature taken off") << QByteArray("update calibration set signatureId=0");
    QTest::newRow("entry deleted") << QByteArray("delete from calibration");
}

// Catches an entry that can be edited or removed after it was made (and signed).
void TestCalibrationTable::triggersRefuseChanges()
{
    QFETCH(QByteArray, sql);
    QVERIFY(run(WriteJob::calibration(entry(1, QDate(2026, 1, 5), QDate(2027, 1, 5)))));
    QVERIFY(sqlite3_exec(db.get(), sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK);
    const QVector<CalibrationRecord> rows = readBack();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().certificate, QStringLiteral("C-1"));
    QCOMPARE(rows.first().due, QDate(2027, 1, 5));
}

void TestCalibrationTable::entryInForce_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<qint64>("expected"); // 0: none
    QTest::addColumn<bool>("overdue");
    // 1: 2026-01-10 due 2026-07-10; 2: 2026-06-01; 3: also 2026-06-01, entered later (a
    // correction); 4: channel 2 from 2026-02-01.
    QTest::newRow("a day before the first") << "channel1" << QDate(2026, 1, 9) << qint64(0) << false;
    QTest::newRow("on its calibration day") << "channel1" << QDate(2026, 1, 10) << qint64(1) << false;
    QTest::newRow("the day before the newer") << "channel1" << QDate(2026, 5, 31) << qint64(1) << false;
    QTest::newRow("the newer supersedes, by id on a tie")
        << "channel1" << QDate(2026, 6, 1) << qint64(3) << false;
    QTest::newRow("on the due date: not overdue")
        << "channel1" << QDate(2027, 6, 1) << qint64(3) << false;
    QTest::newRow("the day after due: overdue")
        << "channel1" << QDate(2027, 6, 2) << qint64(3) << true;
    QTest::newRow("the other channel keeps its own")
        << "channel2" << QDate(2026, 6, 1) << qint64(4) << false;
    QTest::newRow("no such channel") << "channel3" << QDate(2026, 6, 1) << qint64(0) << false;
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
    QVERIFY(run(WriteJob::calibration(
        entry(4, QDate(2026, 2, 1), QDate(2027, 2, 1), QStringLiteral("channel2")))));
    const QVector<CalibrationRecord> rows = readBack();
    const CalibrationRecord* found =
        CalibrationTable::inForce(rows, QStringLiteral("1001"), column, day);
    QCOMPARE(found ? found->id : 0, expected);
    if (found)
        QCOMPARE(found->isOverdueOn(day), overdue);
}

void TestCalibrationTable::boundsRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("due on the calibration day") << "due" << QVariant(QDate(2026, 1, 5));
    QTest::newRow("due before calibration") << "due" << QVariant(QDate(2025, 12, 31));
    QTest::newRow("no certificate number") << "certificate" << QVariant(QString(" "));
    QTest::newRow("certificate of 101 characters") << "certificate" << QVariant(QString(101, 'c'));
    QTest::newRow("channel 3") << "column" << QVariant(QString("channel3"));
    QTest::newRow("infinite error as found")
        << "asFound" << QVariant(std::numeric_limits<double>::infinity());
    QTest::newRow("not a number left") << "asLeft" << QVariant(std::nan(""));
    QTest::newRow("negative uncertainty") << "uncertainty" << QVariant(-0.1);
}

// Catches a field out of bounds that the writer keeps (and a reader would then skip).
void TestCalibrationTable::boundsRefused()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    CalibrationRecord r = entry(1, QDate(2026, 1, 5), QDate(2027, 1, 5));
    QVERIFY(r.problem().isEmpty());
    if (field == QLatin1String("due"))
        r.due = value.toDate();
    else if (field == QLatin1String("certificate"))
        r.certificate = value.toString();
    else if (field == QLatin1String("column"))
        r.column = value.toString();
    else if (field == QLatin1String("asFound"))
        r.asFound = value.toDouble();
    else if (field == QLatin1String("asLeft"))
        r.asLeft = value.toDouble();
    else
        r.uncertainty = value.toDouble();
    QVERIFY(!r.problem().isEmpty());
    QString error;
    QVERIFY(!CalibrationTable::insert(db.get(), r, &error));
    QVERIFY(run(WriteJob::calibration(r))); // the writer goes on without it
    QCOMPARE(readBack().size(), 0);
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
    QTest::newRow("NULL serial") << QByteArray("2, NULL, 'channel1', 'C', " + rest +
                                               "0.1, '', 'x', 0, 0");
    QTest::newRow("NULL everywhere")
        << QByteArray("2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                      "NULL, NULL, NULL");
    QTest::newRow("a date not written as the table writes it")
        << QByteArray("2, '1001', 'channel1', 'C', 'L', '2026-1-5', '2027-01-05', '', 0.1, 0.1, "
                      "0.1, '', 'x', 0, 0");
    QTest::newRow("due before calibration")
        << QByteArray("2, '1001', 'channel1', 'C', 'L', '2027-01-05', '2026-01-05', '', 0.1, "
                      "0.1, 0.1, '', 'x', 0, 0");
    QTest::newRow("text in the id")
        << QByteArray("'two', '1001', 'channel1', 'C', " + rest + "0.1, '', 'x', 0, 0");
}

// A table made by another tool, without the constraints, holding one good row and one bad.
// Catches a reader that crashes, fails as a whole, keeps the bad row, or drops the good one.
void TestCalibrationTable::handMadeRowsLeftOut()
{
    QFETCH(QByteArray, values);
    const QByteArray create =
        "create table calibration (id, serial, channelColumn, certificate, laboratory, "
        "calibrated, due, reference, asFound, asLeft, uncertainty, certificateFile, enteredBy, "
        "enteredAt, signatureId)";
    QCOMPARE(sqlite3_exec(db.get(), create.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    for (const QByteArray& row :
         {QByteArray("1, '1001', 'channel1', 'C', 'L', '2026-01-05', '2027-01-05', '', NULL, "
                     "0.1, 0.1, '', 'x', 0, 0"),
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
