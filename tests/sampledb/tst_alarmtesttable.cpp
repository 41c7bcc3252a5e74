#include "alarmtesttable.h"
#include "electronicsignature.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

AlarmTestRecord answer(qint64 testId, qint64 time, const QString& target, const QString& said)
{
    AlarmTestRecord r;
    r.testId = testId;
    r.time = time;
    r.user = QStringLiteral("olga (Olga Weiß)");
    r.nodes = QStringLiteral("N-7");
    r.target = target;
    r.answer = said;
    r.text = said == AlarmTestRecord::acceptedAnswer() ? QStringLiteral("250 OK")
                                                       : QStringLiteral("no answer in 30 s");
    return r;
}

QVector<AlarmTestRecord> test(qint64 testId, qint64 time)
{
    return {answer(testId, time, QStringLiteral("email"), AlarmTestRecord::acceptedAnswer()),
            answer(testId, time, QStringLiteral("mqtt"), AlarmTestRecord::noAnswer())};
}

} // namespace

// The alarm-test log on a real database file, written through the writer's jobs (and the
// journal's encoding): what the triggers refuse, the signature that covers every answer, and
// jobs no version of the program wrote.
class TestAlarmTestTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { db.close(); }
    void writtenOnceNeverChanged_data();
    void writtenOnceNeverChanged();
    void hostileJobs_data();
    void hostileJobs();

private:
    bool run(const WriteJob& job);
    bool exec(const char* sql);

    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    SqliteConnection db;
};

void TestAlarmTestTable::init()
{
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("project.dat"));
    QVERIFY(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
}

bool TestAlarmTestTable::run(const WriteJob& job)
{
    WriteJob back{job.kind, {}};
    qint64 rowId = 0;
    QString error;
    return WriteJob::decodeValues(job.encodedValues(), &back.values) &&
           back.run(db.get(), &rowId, &error);
}

bool TestAlarmTestTable::exec(const char* sql)
{
    return sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void TestAlarmTestTable::writtenOnceNeverChanged_data()
{
    QTest::addColumn<bool>("signedTest");
    QTest::addColumn<int>("writes"); // the same job again: a journal replayed
    QTest::newRow("unsigned") << false << 1;
    QTest::newRow("signed") << true << 1;
    QTest::newRow("signed, replayed") << true << 3;
}

// Catches: a test edited or deleted after the fact, a replayed journal writing a test (or its
// signature) twice, a signature that does not cover the answers.
void TestAlarmTestTable::writtenOnceNeverChanged()
{
    QFETCH(bool, signedTest);
    QFETCH(int, writes);
    const QVector<AlarmTestRecord> rows = test(1765000000123, 1765000000);
    const ElectronicSignature signature = SignatureTable::make(
        AlarmTestTable::signedRecord(rows), QStringLiteral("olga"), QStringLiteral("Olga Weiß"),
        AlarmTestTable::performedMeaning(), 1765000000000);
    for (int i = 0; i < writes; ++i)
        QVERIFY(run(WriteJob::alarmTest(rows, signedTest ? &signature : nullptr)));

    QVector<AlarmTestRecord> back;
    QString error;
    QVERIFY2(AlarmTestTable::all(db.get(), &back, &error), qPrintable(error));
    QCOMPARE(back.size(), 2);
    QCOMPARE(back.at(0).target, QStringLiteral("email"));
    QCOMPARE(back.at(1).answer, AlarmTestRecord::noAnswer());
    QCOMPARE(back.at(0).user, QStringLiteral("olga (Olga Weiß)"));
    QCOMPARE(back.at(0).signatureId > 0, signedTest);
    QCOMPARE(back.at(0).signatureId, back.at(1).signatureId);

    QVector<ElectronicSignature> signatures;
    QVERIFY(SignatureTable::forRecord(db.get(), AlarmTestTable::recordKind(),
                                      QString::number(rows.first().testId), &signatures, &error));
    QCOMPARE(signatures.size(), signedTest ? 1 : 0);

    QVERIFY(!exec("update alarm_test set answer = 'accepted'"));
    QVERIFY(!exec("delete from alarm_test"));
    QVERIFY2(AlarmTestTable::all(db.get(), &back, &error), qPrintable(error));
    QCOMPARE(back.size(), 2);
    if (!signedTest)
        return;
    SignedRecord signedFields;
    QVERIFY(SignedRecord::parse(signatures.first().recordFields, &signedFields));
    QCOMPARE(AlarmTestTable::signedRecordProblem(db.get(), signedFields), QString());
    // Past the triggers by hand: the signature no longer matches the answer it covered.
    QVERIFY(exec("drop trigger alarm_test_no_update"));
    QVERIFY(exec("update alarm_test set answer = 'accepted' where target = 'mqtt'"));
    QVERIFY(!AlarmTestTable::signedRecordProblem(db.get(), signedFields).isEmpty());
}

void TestAlarmTestTable::hostileJobs_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<int>("rows");
    const QVariantList good = WriteJob::alarmTest(test(5000, 5)).values;
    QTest::newRow("as written") << good << true << 2;
    QVariantList noRows{QStringLiteral("test"), 0};
    QTest::newRow("no rows") << noRows << false << 0;
    QVariantList counted = good;
    counted[1] = 3;
    QTest::newRow("count beyond the values") << counted << false << 0;
    QVariantList huge = good;
    huge[1] = 1000000;
    QTest::newRow("absurd count") << huge << false << 0;
    QVariantList otherTest = good;
    otherTest[2 + 7] = 6000; // the second row's test id
    QTest::newRow("rows of two tests") << otherTest << true << 0;
    QVariantList unknownAnswer = good;
    unknownAnswer[2 + 5] = QStringLiteral("maybe");
    QTest::newRow("an answer no test gives") << unknownAnswer << true << 0;
    QVariantList longText = good;
    longText[2 + 6] = QString(AlarmTestRecord::MaxText + 1, QLatin1Char('x'));
    QTest::newRow("text beyond its bound") << longText << true << 0;
    QTest::newRow("unknown state name")
        << QVariantList{QStringLiteral("state"), QStringLiteral("forward mqtt"), 5} << false << 0;
    QTest::newRow("unknown operation") << QVariantList{QStringLiteral("drop")} << false << 0;
}

// Catches: a journal changed by hand writing a row out of bounds, another table's state, or
// holding every sample behind it for ever (a bad row is left out, the job ends).
void TestAlarmTestTable::hostileJobs()
{
    QFETCH(QVariantList, values);
    QTEST(run(WriteJob{WriteJob::AlarmTest, values}), "runs");
    QVector<AlarmTestRecord> back;
    QString error;
    QVERIFY2(AlarmTestTable::all(db.get(), &back, &error), qPrintable(error));
    QTEST(int(back.size()), "rows");
}

QTEST_GUILESS_MAIN(TestAlarmTestTable)
#include "tst_alarmtesttable.moc"
