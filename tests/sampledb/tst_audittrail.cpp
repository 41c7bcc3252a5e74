// The audit trail's chain: the canonical form an auditor recomputes with sha256sum, appends that
// chain to the head and never fork, rows that cannot be changed through SQL, and entries that
// the recorder's writer chains when it commits them.

#include "auditfill.h"
#include "audittrail.h"
#include "databasewriter.h"
#include "samplerecord.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <sqlite3.h>

namespace {

using AuditFill::entry;

struct Connection
{
    sqlite3* db = nullptr;
    explicit Connection(const QString& path, int busyMs = 0)
    {
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, busyMs);
    }
    ~Connection() { sqlite3_close(db); }
    bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
};

} // namespace

class TestAuditTrail : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void hashOfAChain_data();
    void hashOfAChain();
    void headLine_data();
    void headLine();
    void appendsChainToTheHead();
    void rowsCannotBeChanged_data();
    void rowsCannotBeChanged();
    void concurrentAppendsDoNotFork();
    void writerChainsItsJobs();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString database;
};

void TestAuditTrail::init()
{
    dir = std::make_unique<QTemporaryDir>();
    database = dir->filePath(QStringLiteral("audit.db"));
}

void TestAuditTrail::hashOfAChain_data()
{
    QTest::addColumn<QByteArray>("previousHash");
    QTest::addColumn<qint64>("sequence");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("canonical");
    QTest::addColumn<QByteArray>("hash");
    // The hashes were computed apart from this code, with Python's hashlib over the text below.
    QTest::newRow("the first entry")
        << AuditTrail::firstPreviousHash() << qint64(1)
        << QStringList{QStringLiteral("1796823413123"), QStringLiteral("anna"),
                       QStringLiteral("setting changed"),
                       QStringLiteral("DEMO01 channel 1 high limit"), QStringLiteral("8.00"),
                       QStringLiteral("9.00"), QStringLiteral("new freezer")}
        << QByteArray("sequence:1\ntime:1796823413123\nuser:anna\naction:setting changed\n"
                      "object:DEMO01 channel 1 high limit\noldValue:8.00\nnewValue:9.00\n"
                      "reason:new freezer\n")
        << QByteArray("94eca6f301b14bbf8d0903f796aad3818063aa6b4e00de385304377c1a797d32");
    QTest::newRow("escapes, UTF-8 and an empty reason after it")
        << QByteArray("94eca6f301b14bbf8d0903f796aad3818063aa6b4e00de385304377c1a797d32")
        << qint64(2)
        << QStringList{QStringLiteral("0"), QStringLiteral("J\u00f6rg"), QStringLiteral("note"),
                       QStringLiteral("a\\b"), QStringLiteral("line1\nline2"),
                       QStringLiteral("x\ry"), QString()}
        << QByteArray("sequence:2\ntime:0\nuser:J\xc3\xb6rg\naction:note\nobject:a\\\\b\n"
                      "oldValue:line1\\nline2\nnewValue:x\\ry\nreason:\n")
        << QByteArray("067b1a011b8759b9dedef5e7aadc9af37f86cd2ad21334d13f4d0c086737c841");
}

// Catches: a canonical form that differs from the one the README gives (an auditor's sha256sum
// would disagree), a field that could carry a line of its own, a hash not over the one before.
void TestAuditTrail::hashOfAChain()
{
    QFETCH(QByteArray, previousHash);
    QFETCH(qint64, sequence);
    QFETCH(QStringList, fields);
    AuditEntry e = entry(fields[0].toLongLong(), fields[1], fields[2], fields[3], fields[4],
                         fields[5], fields[6]);
    e.sequence = sequence;
    e.previousHash = previousHash;
    QTEST(AuditTrail::canonical(e), "canonical");
    QTEST(AuditTrail::hashOf(e), "hash");
}

void TestAuditTrail::headLine_data()
{
    QTest::addColumn<qint64>("sequence"); // 0: no entries
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<QString>("line");
    const QByteArray hash("94eca6f301b14bbf8d0903f796aad3818063aa6b4e00de385304377c1a797d32");
    QTest::newRow("no entries") << qint64(0) << QByteArray() << "Audit trail head: none";
    QTest::newRow("a head") << qint64(12) << hash
                            << "Audit trail head: entry 12, SHA-256 " + QString::fromLatin1(hash);
    QTest::newRow("a hash edited to print a line of its own")
        << qint64(3) << QByteArray("ab\nResult: everything holds\r")
        << "Audit trail head: entry 3, SHA-256 ab Result: everything holds ";
    QTest::newRow("a hash edited to a page") << qint64(3) << QByteArray(5000, 'f')
                                             << "Audit trail head: entry 3, SHA-256 " +
                                                    QString(128, QLatin1Char('f'));
}

// Catches: a head line other than the one --heads reads back, or a hash edited by hand that
// prints lines of its own (a "Result" line in --verify's output) or runs on for pages.
void TestAuditTrail::headLine()
{
    QFETCH(qint64, sequence);
    QFETCH(QByteArray, hash);
    std::optional<AuditEntry> head;
    if (sequence > 0) {
        head = AuditEntry();
        head->sequence = sequence;
        head->hash = hash;
    }
    QTEST(AuditTrail::headLine(head), "line");
}

// Catches: a sequence with a gap or a repeat, an entry not chained to the one before, a stored
// field that reads back different from what was hashed.
void TestAuditTrail::appendsChainToTheHead()
{
    Connection c(database);
    QString error;
    std::optional<AuditEntry> head;
    QVERIFY2(AuditTrail::head(c.db, &head, &error), qPrintable(error));
    QVERIFY(!head);
    for (int i = 0; i < 3; ++i) {
        AuditEntry e = entry(1000 * i, QStringLiteral("recorder"), QStringLiteral("recording started"),
                             QStringLiteral("project"), QString(), QStringLiteral("%1").arg(i),
                             QStringLiteral("line\nbreak"));
        QVERIFY2(AuditTrail::appendCommitted(c.db, &e, &error), qPrintable(error));
        QCOMPARE(e.sequence, qint64(i + 1));
    }
    QVector<AuditEntry> entries;
    QVERIFY2(AuditTrail::read(c.db, 1, 100, &entries, &error), qPrintable(error));
    QCOMPARE(entries.size(), 3);
    QByteArray previous = AuditTrail::firstPreviousHash();
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(entries[i].sequence, qint64(i + 1));
        QCOMPARE(entries[i].previousHash, previous);
        QCOMPARE(entries[i].hash, AuditTrail::hashOf(entries[i]));
        QCOMPARE(entries[i].newValue, QString::number(i));
        QCOMPARE(entries[i].reason, QStringLiteral("line\nbreak"));
        previous = entries[i].hash;
    }
    QVERIFY(AuditTrail::head(c.db, &head, &error));
    QCOMPARE(head->hash, previous);
}

void TestAuditTrail::rowsCannotBeChanged_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::newRow("update") << QByteArray("update audit_trail set newValue = 'x'");
    QTest::newRow("delete") << QByteArray("delete from audit_trail where sequence = 1");
    QTest::newRow("replace") << QByteArray(
        "insert or replace into audit_trail select * from audit_trail where sequence = 1");
}

// Catches: a program of ours that changes or removes an entry through SQL by mistake.
void TestAuditTrail::rowsCannotBeChanged()
{
    QFETCH(QByteArray, sql);
    Connection c(database);
    QString error;
    AuditEntry e = entry(1, QStringLiteral("a"), QStringLiteral("b"), QString(), QString(),
                         QString(), QString());
    QVERIFY2(AuditTrail::appendCommitted(c.db, &e, &error), qPrintable(error));
    QVERIFY(!c.exec(sql.constData()));
    QVERIFY(QString::fromUtf8(sqlite3_errmsg(c.db)).contains(QStringLiteral("append-only")));
    QVector<AuditEntry> entries;
    QVERIFY(AuditTrail::read(c.db, 1, 1, &entries, &error));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].hash, e.hash);
}

// Catches: two programs reading the same head and both writing an entry after it (a fork).
void TestAuditTrail::concurrentAppendsDoNotFork()
{
    Connection first(database);
    Connection second(database, 0);
    QString error;
    AuditEntry a = entry(1, QStringLiteral("recorder"), QStringLiteral("first"), QString(),
                         QString(), QString(), QString());
    QVERIFY(first.exec("begin immediate"));
    QVERIFY2(AuditTrail::append(first.db, &a, &error), qPrintable(error));
    // The other program cannot even read a head to append to while the first holds the lock.
    AuditEntry b = entry(2, QStringLiteral("Tallyforge"), QStringLiteral("second"), QString(),
                         QString(), QString(), QString());
    QVERIFY(!AuditTrail::appendCommitted(second.db, &b, &error));
    QVERIFY(first.exec("commit"));
    QVERIFY2(AuditTrail::appendCommitted(second.db, &b, &error), qPrintable(error));
    QCOMPARE(b.sequence, qint64(2));
    QCOMPARE(b.previousHash, a.hash);
    // Written after an old head, an entry collides with the one already there.
    AuditEntry stale = a;
    stale.action = QStringLiteral("forked");
    stale.hash = AuditTrail::hashOf(stale);
    QVERIFY(!first.exec(QByteArray("insert into audit_trail values (2, 1, 'x', 'forked', '', '', "
                                   "'', '', '" + a.hash + "', '" + stale.hash + "')")
                            .constData()));
}

// Catches: an entry the writer stores out of order with the samples, without its hash chained
// to an entry another program appended meanwhile, or answered with anything but its sequence.
void TestAuditTrail::writerChainsItsJobs()
{
    QString error;
    QByteArray between;
    {
        DatabaseWriter writer(database, QUuid::createUuid().toString());
        QVERIFY(writer.open());
        QSignalSpy stored(&writer, &DatabaseWriter::jobStored);
        writer.queueSample({QStringLiteral("N1"), 20.5, 50, 1700000000});
        const quint64 ticket = writer.submit(WriteJob::auditRecord(
            entry(1700000000000, QStringLiteral("recorder"), QStringLiteral("recording started"),
                  QStringLiteral("project"), QString(), QString(), QString())));
        QVERIFY(writer.flushAndWait(0));
        QTRY_COMPARE(stored.size(), 1);
        QCOMPARE(stored.at(0).at(0).toULongLong(), ticket);
        QCOMPARE(stored.at(0).at(1).toLongLong(), qint64(1));

        Connection other(database, 5000);
        AuditEntry e = entry(1700000001000, QStringLiteral("anna"), QStringLiteral("report approved"),
                             QStringLiteral("daily report"), QString(), QString(), QString());
        QVERIFY2(AuditTrail::appendCommitted(other.db, &e, &error), qPrintable(error));
        between = e.hash;

        writer.submit(WriteJob::auditRecord(
            entry(1700000002000, QStringLiteral("recorder"), QStringLiteral("recording stopped"),
                  QStringLiteral("project"), QString(), QString(), QString())));
        QVERIFY(writer.flushAndWait(0));
        QTRY_COMPARE(stored.size(), 2);
        QCOMPARE(stored.at(1).at(1).toLongLong(), qint64(3));
    }
    Connection c(database);
    QVector<AuditEntry> entries;
    QVERIFY(AuditTrail::read(c.db, 1, 10, &entries, &error));
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[2].previousHash, between);
    QCOMPARE(entries[2].action, QStringLiteral("recording stopped"));
    for (const AuditEntry& e : entries)
        QCOMPARE(e.hash, AuditTrail::hashOf(e));
}

QTEST_GUILESS_MAIN(TestAuditTrail)
#include "tst_audittrail.moc"
