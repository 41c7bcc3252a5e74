// `Tallyforge --verify`: the audit trail's chain and the seals of the samples checked against
// tampering done the way an attacker would, with SQL on a connection of their own (the triggers
// dropped first), against outside heads, and the rows that come late or are still being
// recorded, which are no tampering.

#include "auditentry.h"
#include "auditreviewtable.h"
#include "audittrail.h"
#include "alarmeventwrite.h"
#include "auditverifier.h"
#include "databasewriter.h"
#include "reportfixture.h"
#include "samplerecord.h"
#include "sampleseal.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "userchaincheck.h"
#include "userchangesignature.h"
#include "userdirectory.h"
#include "usertable.h"
#include "verifycommand.h"
#include "writejob.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUuid>
#include <QtTest>

#include <sqlite3.h>

#include <ctime>

using namespace ReportFixture;

namespace {

// 2026-12-09 13:00 UTC, 14:00 in Berlin: quarter q0; the test runs under TZ=Europe/Berlin.
constexpr qint64 Q0 = 1796821200 / 900;

qint64 startOf(qint64 quarter)
{
    return quarter * 900;
}

struct Connection
{
    sqlite3* db = nullptr;
    explicit Connection(const QString& path)
    {
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 5000);
    }
    ~Connection() { sqlite3_close(db); }
    bool exec(const QString& sql)
    {
        char* message = nullptr;
        const bool ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) ==
                        SQLITE_OK;
        if (!ok)
            qWarning() << sql << message;
        sqlite3_free(message);
        return ok;
    }
};

AuditEntry note(qint64 timeMs, const QString& action)
{
    AuditEntry e;
    e.timeMs = timeMs;
    e.user = QStringLiteral("anna");
    e.action = action;
    e.object = QStringLiteral("N1 channel 1 high limit");
    e.oldValue = QStringLiteral("8.00");
    e.newValue = QStringLiteral("9.00");
    e.reason = QStringLiteral("new freezer");
    return e;
}

void queueQuarter(DatabaseWriter* writer, qint64 quarter)
{
    for (qint64 t = startOf(quarter); t < startOf(quarter + 1); t += 60) {
        writer->queueSample({QStringLiteral("N1"), 4.25 + double(t % 7) / 4, 50, quint32(t)});
        writer->queueSample({QStringLiteral("N2"), -18.5, 0, quint32(t + 3)});
    }
}

// The attacker's rewrite of the chain from `first` on, each entry hashed anew over the one before.
bool rehashFrom(sqlite3* db, qint64 first, const std::function<void(AuditEntry*)>& change)
{
    QString error;
    QVector<AuditEntry> entries;
    if (!AuditTrail::read(db, 1, 1000, &entries, &error))
        return false;
    QByteArray previous = AuditTrail::firstPreviousHash();
    for (AuditEntry& e : entries) {
        if (e.sequence >= first) {
            change(&e);
            e.previousHash = previous;
            e.hash = AuditTrail::hashOf(e);
            sqlite3_stmt* s = nullptr;
            sqlite3_prepare_v2(db,
                               "update audit_trail set newValue = ?, previousHash = ?, hash = ? "
                               "where sequence = ?",
                               -1, &s, nullptr);
            const QByteArray value = e.newValue.toUtf8();
            sqlite3_bind_text(s, 1, value.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(s, 2, e.previousHash.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(s, 3, e.hash.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(s, 4, e.sequence);
            const bool ok = sqlite3_step(s) == SQLITE_DONE;
            sqlite3_finalize(s);
            if (!ok)
                return false;
        }
        previous = e.hash;
    }
    return true;
}

} // namespace

class TestVerifyCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tampering_data();
    void tampering();
    void heads_data();
    void heads();
    void sealDigest_data();
    void sealDigest();

private:
    // The project: rows before sealing began (q0 - 1), an entry, the seals of q0 to q3 (q2 an
    // empty quarter), rows in q0, q1 and q3, and a last entry (6) after the seals.
    bool makeProject(const QString& folder, QString* project, QString* database,
                     QByteArray* lastHash);
};

void TestVerifyCommand::initTestCase()
{
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

bool TestVerifyCommand::makeProject(const QString& folder, QString* project, QString* database,
                                    QByteArray* lastHash)
{
    *project = writeProject(folder, QStringLiteral("Cold store.tpc"),
                            nestedDeviceList({QStringLiteral("N1"), QStringLiteral("N2")}), 60000,
                            QString(), QString());
    *database = folder + QStringLiteral("/Cold store.dat");
    DatabaseWriter writer(*database, QUuid::createUuid().toString());
    if (!writer.open())
        return false;
    queueQuarter(&writer, Q0 - 1);
    writer.submit(WriteJob::auditRecord(note(startOf(Q0) * 1000, QStringLiteral("setting changed"))));
    for (qint64 q = Q0; q <= Q0 + 3; ++q) {
        if (q != Q0 + 2)
            queueQuarter(&writer, q);
        writer.submit(WriteJob::sampleSeal(q, (startOf(q + 1) + 60) * 1000));
    }
    writer.submit(WriteJob::auditRecord(note(startOf(Q0 + 4) * 1000, QStringLiteral("note"))));
    if (!writer.flushAndWait(0))
        return false;
    Connection c(*database);
    std::optional<AuditEntry> head;
    QString error;
    if (!AuditTrail::head(c.db, &head, &error) || !head || head->sequence != 6)
        return false;
    *lastHash = head->hash;
    return true;
}

void TestVerifyCommand::tampering_data()
{
    QTest::addColumn<QStringList>("tampering"); // SQL, or "!" and a step of the test's own
    QTest::addColumn<QString>("heads");         // the heads file ("%H" the true head's hash)
    QTest::addColumn<qint64>("now");            // seconds after q0's start
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("output"); // lines the output holds

    const qint64 later = 10 * 3600;
    const QString dropTriggers = QStringLiteral(
        "drop trigger audit_trail_no_update; drop trigger audit_trail_no_delete; drop trigger "
        "audit_trail_only_next");
    const QString q1Row = QStringLiteral("(select min(id) from quorbinal where pointDate >= %1)")
                              .arg(startOf(Q0 + 1));

    QTest::newRow("a clean project")
        << QStringList() << QString() << later << 0
        << QStringList{"Audit trail: 6 entries, every hash recomputed and every link checked",
                       "Samples: 120 rows read",
                       "Seals: 4 quarters sealed, from quarter 2026-12-09 14:00 to quarter "
                       "2026-12-09 14:45, each against its newest seal",
                       "30 rows in 1 quarter recorded before sealing began",
                       "Result: everything holds"};
    QTest::newRow("heads that the chain holds")
        << QStringList() << QStringLiteral("Audit trail head: entry 6, SHA-256 %H\n3 junk\n")
        << later << 0 << QStringList{"Heads witnessed outside: 1", "Result: everything holds"};
    QTest::newRow("an entry updated")
        << QStringList{dropTriggers,
                       "update audit_trail set newValue = '12.00' where sequence = 1"}
        << QString() << later << 1
        << QStringList{"Finding: entry 1: its content does not match its hash",
                       "Result: 1 finding"};
    QTest::newRow("an entry deleted")
        << QStringList{dropTriggers, "delete from audit_trail where sequence = 3"} << QString()
        << later << 1
        << QStringList{"Finding: entry 4: entry 3 before it is missing",
                       "Finding: quarter 2026-12-09 14:15: 30 rows, not sealed"};
    QTest::newRow("an entry inserted")
        << QStringList{dropTriggers, "update audit_trail set sequence = -sequence where sequence >= 3",
                       "update audit_trail set sequence = 1 - sequence where sequence < 0",
                       "!insert entry 3"}
        << QString() << later << 1
        << QStringList{"Finding: entry 4: its content does not match its hash"};
    QTest::newRow("two entries swapped")
        << QStringList{dropTriggers, "update audit_trail set sequence = 100 where sequence = 2",
                       "update audit_trail set sequence = 2 where sequence = 3",
                       "update audit_trail set sequence = 3 where sequence = 100"}
        << QString() << later << 1
        << QStringList{"Finding: entry 2: its content does not match its hash"};
    QTest::newRow("the tail truncated up to a seal")
        << QStringList{dropTriggers, "delete from audit_trail where sequence >= 5"} << QString()
        << later << 1
        << QStringList{"Finding: entry 5 (the seal of quarter 2026-12-09 14:45) is missing: the "
                       "chain ends at entry 4",
                       "Finding: quarter 2026-12-09 14:45: 30 rows, not sealed"};
    // Without an outside copy a tail of entries other than seals can go unseen: the heads are
    // witnessed outside for that.
    QTest::newRow("the tail truncated, no heads")
        << QStringList{dropTriggers, "delete from audit_trail where sequence = 6"} << QString()
        << later << 0 << QStringList{"Result: everything holds"};
    QTest::newRow("the tail truncated, against the heads")
        << QStringList{dropTriggers, "delete from audit_trail where sequence = 6"}
        << QStringLiteral("6 %H") << later << 1
        << QStringList{"Finding: entry 6, witnessed outside with SHA-256 ",
                       "is missing: the chain ends at entry 5"};
    QTest::newRow("the chain rewritten consistently, no heads")
        << QStringList{dropTriggers, "update quorbinal set channel1 = 2.0 where id = " + q1Row,
                       "!rewrite from 3"}
        << QString() << later << 0 << QStringList{"Result: everything holds"};
    QTest::newRow("the chain rewritten consistently, against the heads")
        << QStringList{dropTriggers, "update quorbinal set channel1 = 2.0 where id = " + q1Row,
                       "!rewrite from 3"}
        << QStringLiteral("Audit trail head: entry 6, SHA-256 %H") << later << 1
        << QStringList{"Finding: entry 6: its hash ",
                       "is not the one witnessed outside"};
    QTest::newRow("a sample row changed")
        << QStringList{"update quorbinal set channel1 = channel1 + 0.5 where id = " + q1Row}
        << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 14:15: 30 rows sealed and now, but not the "
                       "rows sealed (seal entry 3)"};
    QTest::newRow("a sample row deleted")
        << QStringList{"delete from quorbinal where id = " + q1Row} << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 14:15: 30 rows sealed, 29 now (seal entry 3)"};
    QTest::newRow("a row fabricated in an empty sealed quarter")
        << QStringList{QStringLiteral("insert into quorbinal (serialno, channel1, channel2, "
                                      "pointDate) values ('N1', 4.0, 50, %1)")
                           .arg(startOf(Q0 + 2) + 120)}
        << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 14:30: 0 rows sealed, 1 now (seal entry 4)"};
    QTest::newRow("a row fabricated after the recording stopped")
        << QStringList{QStringLiteral("insert into quorbinal (serialno, channel1, channel2, "
                                      "pointDate) values ('N2', -18.0, 0, %1)")
                           .arg(startOf(Q0 + 6))}
        << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 15:30: 1 row, not sealed"};
    QTest::newRow("a row's time made a text")
        << QStringList{"update quorbinal set pointDate = 'x' where id = " + q1Row} << QString()
        << later << 1 << QStringList{"Finding: row 61: its time is not a number (1 row in all)"};
    QTest::newRow("rows of the quarter being recorded")
        << QStringList{QStringLiteral("insert into quorbinal (serialno, channel1, channel2, "
                                      "pointDate) values ('N2', -18.0, 0, %1)")
                           .arg(startOf(Q0 + 4) + 10)}
        << QString() << qint64(4 * 900 + 300) << 0
        << QStringList{"quarter 2026-12-09 15:00: 1 row, still being recorded (not sealed yet)",
                       "Result: everything holds"};
    QTest::newRow("a late row written after its quarter's seal")
        << QStringList{"!late row"} << QString() << later << 0
        << QStringList{"Audit trail: 7 entries", "Result: everything holds"};
    // Q0 + 3 taken as sealed at a stop and recorded again within it ("!rows after the seal":
    // two rows written while it runs, not sealed by that write).
    const qint64 q3Running = 3 * 900 + 700;
    const QString q3First = QStringLiteral("(select min(id) from quorbinal where pointDate >= %1)")
                                .arg(startOf(Q0 + 3));
    QTest::newRow("rows after a stop's seal of the quarter being recorded")
        << QStringList{"!rows after the seal"} << QString() << q3Running << 0
        << QStringList{"Audit trail: 6 entries",
                       "quarter 2026-12-09 14:45: 32 rows, the first 30 sealed before its end "
                       "(seal entry 5), still being recorded",
                       "Result: everything holds"};
    QTest::newRow("a row sealed at the stop changed, its quarter being recorded")
        << QStringList{"!rows after the seal",
                       "update quorbinal set channel1 = channel1 + 0.5 where id = " + q3First}
        << QString() << q3Running << 1
        << QStringList{"Finding: quarter 2026-12-09 14:45: 30 rows sealed, 32 now (seal entry 5)"};
    QTest::newRow("a row sealed at the stop deleted, its quarter being recorded")
        << QStringList{"!rows after the seal", "delete from quorbinal where id = " + q3First}
        << QString() << q3Running << 1
        << QStringList{"Finding: quarter 2026-12-09 14:45: 30 rows sealed, 31 now (seal entry 5)"};
    QTest::newRow("rows added after the seal of an ended quarter")
        << QStringList{"!rows after the seal"} << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 14:45: 30 rows sealed, 32 now (seal entry 5)"};
    // A recorder killed after it started again within the quarter: the next start seals it.
    QTest::newRow("rows after a stop's seal, sealed again at the next start")
        << QStringList{"!rows after the seal", "!catch up"} << QString() << later << 0
        << QStringList{"Audit trail: 7 entries", "Result: everything holds"};
    QTest::newRow("a sealed row deleted before the next start: not sealed over")
        << QStringList{"!rows after the seal", "delete from quorbinal where id = " + q3First,
                       "!catch up"}
        << QString() << later << 1
        << QStringList{"Audit trail: 6 entries",
                       "Finding: quarter 2026-12-09 14:45: 30 rows sealed, 31 now (seal entry 5)"};
    // Sealed at a stop and again at its end ("!sealed again": entry 7), then tampered with.
    QTest::newRow("a quarter sealed at a stop and at its end")
        << QStringList{"!sealed again"} << QString() << later << 0
        << QStringList{"Audit trail: 7 entries", "Result: everything holds"};
    QTest::newRow("a row changed in a quarter sealed twice")
        << QStringList{"!sealed again", "update quorbinal set channel2 = 51 where id = " + q3First}
        << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 14:45: 32 rows sealed and now, but not the "
                       "rows sealed (seal entry 7)"};
    QTest::newRow("a row deleted in a quarter sealed twice")
        << QStringList{"!sealed again",
                       "delete from quorbinal where id = (select max(id) from quorbinal)"}
        << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 14:45: 32 rows sealed, 31 now (seal entry 7)"};
    QTest::newRow("a row fabricated in a quarter sealed twice")
        << QStringList{"!sealed again",
                       QStringLiteral("insert into quorbinal (serialno, channel1, channel2, "
                                      "pointDate) values ('N1', 4.0, 50, %1)")
                           .arg(startOf(Q0 + 3) + 30)}
        << QString() << later << 1
        << QStringList{"Finding: quarter 2026-12-09 14:45: 32 rows sealed, 33 now (seal entry 7)"};
    // The users table against the entries that recorded its rows.
    QTest::newRow("a user added through the trail")
        << QStringList{"!add administrator"} << QString() << later << 0
        << QStringList{"Users: access control on", "Result: everything holds"};
    QTest::newRow("a user row inserted")
        << QStringList{"!add administrator",
                       "insert into users (name, role, passwordHash, disabled, failedSignIns, "
                       "waitUntil) values ('mallory', 'Administrator', 'x', 0, 0, 0)"}
        << QString() << later << 1 << QStringList{"Finding: ", "mallory", "Result: 1 finding"};
    QTest::newRow("a user's password hash replaced")
        << QStringList{"!add administrator",
                       "update users set passwordHash = '$argon2id$v=19$m=8,t=1,p=1$chosen'"}
        << QString() << later << 1 << QStringList{"Finding: ", "anna", "Result: 1 finding"};
    QTest::newRow("the users table emptied")
        << QStringList{"!add administrator", "drop trigger if exists users_no_delete",
                       "delete from users"}
        << QString() << later << 1
        << QStringList{"Users: access control on",
                       "Finding: The users table is empty although access control is on.",
                       "Result: 2 findings"};
    // Signatures: their entries, their hashes and the records they are bound to.
    const QString signedCheck = QStringLiteral(
        "Signatures: 1 checked against their audit entries and hashes, 1 against their records");
    const QString unlockSignatures = QStringLiteral(
        "drop trigger signature_no_update; drop trigger signature_no_delete");
    QTest::newRow("an acknowledgement signed")
        << QStringList{"!sign alarm"} << QString() << later << 0
        << QStringList{signedCheck, "Result: everything holds"};
    QTest::newRow("a signed alarm that ended and went further afterwards")
        << QStringList{"!sign alarm",
                       "update alarm_event set extremeValue = 11.5 where id = 1",
                       "update alarm_event set endTime = startTime + 900, endReason = 'back in "
                       "range' where id = 1"}
        << QString() << later << 0 << QStringList{signedCheck, "Result: everything holds"};
    QTest::newRow("a signed alarm's corrective action changed")
        << QStringList{"!sign alarm", "update alarm_event set comment = 'all fine' where id = 1"}
        << QString() << later << 1
        << QStringList{"Finding: signature 1 (acknowledged by anna of alarm event 1): its alarm "
                       "event's comment is \"all fine\", signed as \"door closed, goods moved\"",
                       "Result: 1 finding"};
    // Catches: a corrective action's field left out of what is signed, or not read back.
    QTest::newRow("a signed alarm's quantity changed")
        << QStringList{"!sign alarm", "update alarm_event set quantity = '2 boxes' where id = 1"}
        << QString() << later << 1
        << QStringList{"its alarm event's quantity is \"2 boxes\", signed as \"12 boxes\""};
    QTest::newRow("a signed alarm's extreme made milder")
        << QStringList{"!sign alarm", "update alarm_event set extremeValue = 8.5 where id = 1"}
        << QString() << later << 1
        << QStringList{"its alarm event's extreme is \"8.5\", signed as \"9.5\""};
    QTest::newRow("a signature moved to another record with the sqlite3 program")
        << QStringList{"!sign alarm", unlockSignatures,
                       "update signature set recordId = '2' where id = 1"}
        << QString() << later << 1
        << QStringList{"Finding: signature 1 (acknowledged by anna of alarm event 2): it differs "
                       "from its audit entry 7"};
    QTest::newRow("a signature moved with its fields rewritten")
        << QStringList{"!sign alarm", unlockSignatures, "!move signature to 2"} << QString()
        << later << 1 << QStringList{"it differs from its audit entry 7", "Result: 1 finding"};
    QTest::newRow("a signature deleted")
        << QStringList{"!sign alarm", unlockSignatures, "delete from signature"} << QString()
        << later << 1
        << QStringList{"Finding: audit entry 7 records a signature (alarm event 1) that is "
                       "missing"};
    QTest::newRow("a review signed")
        << QStringList{"!sign review"} << QString() << later << 0
        << QStringList{signedCheck, "Result: everything holds"};
    QTest::newRow("a signed review's comment changed")
        << QStringList{"!sign review", "drop trigger if exists audit_review_no_update",
                       "update audit_review set comment = 'nothing to see'"}
        << QString() << later << 1
        << QStringList{"Finding: signature 1 (reviewed by anna of review 1): The review 1 was "
                       "changed after it was signed: its comment was \"every change explained\", "
                       "is \"nothing to see\".",
                       "Result: 1 finding"};
    QTest::newRow("a signed review deleted")
        << QStringList{"!sign review", "drop trigger if exists audit_review_no_delete",
                       "delete from audit_review"}
        << QString() << later << 1
        << QStringList{"Finding: signature 1 (reviewed by anna of review 1): The review 1 was "
                       "deleted after it was signed.",
                       "Result: 1 finding"};
    // An Administrator's change of a user (entry 8), signed (entry 9): bound to the change's entry.
    QTest::newRow("a user change signed")
        << QStringList{"!sign user change"} << QString() << later << 0
        << QStringList{signedCheck, "Users: access control on", "Result: everything holds"};
    QTest::newRow("a signed user change's entry rewritten")
        << QStringList{"!sign user change", dropTriggers,
                       "update audit_trail set reason = 'no reason' where sequence = 8"}
        << QString() << later << 1
        << QStringList{"Finding: signature 1 (approved by anna of user change 8): its user "
                       "change, audit entry 8, has reason \"no reason\", signed as \"new "
                       "starter\""};
    QTest::newRow("a user change's signature moved to another entry")
        << QStringList{"!sign user change", unlockSignatures, "!move user change signature to 7"}
        << QString() << later << 1
        << QStringList{"Finding: signature 1 (approved by anna of user change 7): it differs from "
                       "its audit entry 9",
                       "Result: 1 finding"};
    QTest::newRow("the database not a database")
        << QStringList{"!garbage"} << QString() << later << 2 << QStringList();
    QTest::newRow("no heads file") << QStringList() << QStringLiteral("!none") << later << 2
                                   << QStringList();
}

// Catches: a tampering that goes unreported (or reported as success), a finding that names
// another entry or quarter than the first broken one, rows that came late or are still being
// recorded (after a stop's seal of their quarter too) taken for tampering, a catch-up at start
// that seals over tampered rows, and an unreadable file answered like a finding.
void TestVerifyCommand::tampering()
{
    QFETCH(QStringList, tampering);
    QFETCH(QString, heads);
    QFETCH(qint64, now);
    QFETCH(int, status);
    QFETCH(QStringList, output);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString project;
    QString database;
    QByteArray head;
    QVERIFY(makeProject(dir.path(), &project, &database, &head));
    for (const QString& step : qAsConst(tampering)) {
        if (step == QLatin1String("!late row")) {
            DatabaseWriter writer(database, QUuid::createUuid().toString());
            QVERIFY(writer.open());
            writer.queueSample({QStringLiteral("N2"), -17.0, 0, quint32(startOf(Q0 + 1) + 61)});
            QVERIFY(writer.flushAndWait((startOf(Q0 + 4) + 120) * 1000));
            continue;
        }
        if (step == QLatin1String("!rows after the seal") ||
            step == QLatin1String("!sealed again")) {
            DatabaseWriter writer(database, QUuid::createUuid().toString());
            QVERIFY(writer.open());
            writer.queueSample({QStringLiteral("N1"), 5.5, 50, quint32(startOf(Q0 + 3) + 600)});
            writer.queueSample({QStringLiteral("N2"), -17.5, 0, quint32(startOf(Q0 + 3) + 603)});
            QVERIFY(writer.flushAndWait((startOf(Q0 + 3) + 650) * 1000));
            if (step == QLatin1String("!sealed again")) {
                writer.submit(WriteJob::sampleSeal(Q0 + 3, (startOf(Q0 + 4) + 60) * 1000));
                QVERIFY(writer.flushAndWait((startOf(Q0 + 4) + 60) * 1000));
            }
            continue;
        }
        if (step == QLatin1String("!catch up")) {
            DatabaseWriter writer(database, QUuid::createUuid().toString());
            QVERIFY(writer.open());
            writer.submit(WriteJob::sampleSealCatchUp(Q0 + 4, startOf(Q0 + 5) * 1000));
            QVERIFY(writer.flushAndWait(startOf(Q0 + 5) * 1000));
            continue;
        }
        if (step == QLatin1String("!sign alarm")) {
            DatabaseWriter writer(database, QUuid::createUuid().toString());
            QVERIFY(writer.open());
            AlarmEventRecord event;
            event.serial = QStringLiteral("N1");
            event.channel = 1;
            event.kind = AlarmKind::High;
            event.limit = 8.0;
            event.start = startOf(Q0 + 4);
            event.raised = event.start + 300;
            event.extremeValue = 9.5;
            event.extremeTime = event.start + 200;
            for (const qint64 id : {1, 2}) {
                event.id = id;
                writer.submit(WriteJob::alarmEvent(AlarmEventWrite::insert(event)));
            }
            event.id = 1;
            event.acknowledgedAt = event.raised + 60;
            event.acknowledgedBy = QStringLiteral("anna");
            event.comment = QStringLiteral("door closed, goods moved");
            event.action = {QStringLiteral("door left open"), QStringLiteral("closed the door"),
                            QStringLiteral("quarantined"), QStringLiteral("12 boxes"),
                            QStringLiteral("Olga")};
            writer.submit(WriteJob::alarmEvent(AlarmEventWrite::acknowledge(
                1, *event.acknowledgedAt, event.acknowledgedBy, event.comment, event.action)));
            writer.submit(WriteJob::signature(
                SignatureTable::make(SignedRecord::alarmEvent(event), QStringLiteral("anna"),
                                     QStringLiteral("Anna Berg"), QStringLiteral("acknowledged"),
                                     *event.acknowledgedAt * 1000)));
            QVERIFY(writer.flushAndWait((startOf(Q0 + 4) + 400) * 1000));
            continue;
        }
        if (step == QLatin1String("!garbage")) {
            QFile::remove(database + QStringLiteral("-wal"));
            QFile file(database);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(8192, 'x'));
            continue;
        }
        Connection c(database);
        if (step == QLatin1String("!add administrator")) {
            UserChange add;
            add.row.name = QStringLiteral("anna");
            add.row.role = QStringLiteral("Administrator");
            add.row.passwordHash = "$argon2id$v=19$m=8,t=1,p=1$notarealhash";
            add.entry = note(startOf(Q0 + 4) * 1000 + 1, UserChainCheck::actionAdded());
            add.entry.object = add.row.name;
            add.entry.newValue = add.row.role;
            QString error;
            QVERIFY2(UserTable::applyCommitted(c.db, &add, &error), qPrintable(error));
            continue;
        }
        if (step == QLatin1String("!move signature to 2")) {
            // The signed fields made those of event 2 and hashed anew: only the chain's entry
            // still says which record was signed.
            QVector<ElectronicSignature> signatures;
            QString error;
            QVERIFY(SignatureTable::forRecord(c.db, SignedRecord::alarmEventKind(),
                                              QStringLiteral("1"), &signatures, &error));
            QCOMPARE(signatures.size(), 1);
            SignedRecord fields;
            QVERIFY(SignedRecord::parse(signatures.at(0).recordFields, &fields));
            fields.id = QStringLiteral("2");
            QVERIFY(c.exec(QStringLiteral("update signature set recordId = '2', recordFields = "
                                          "'%1', recordHash = '%2'")
                               .arg(QString::fromUtf8(fields.canonical()),
                                    QString::fromLatin1(fields.hash()))));
            continue;
        }
        if (step == QLatin1String("!sign user change")) {
            // Anna added first (unsigned, as without access control), then Bert by her, signed.
            qint64 time = startOf(Q0 + 4) * 1000 + 10;
            UserDirectory users(
                c.db, [&time] { return ++time; }, PasswordHash::least());
            QString error;
            QVERIFY2(users.add(QStringLiteral("root"), QStringLiteral("anna"),
                               AccessPolicy::Role::Administrator, "anna-password-1", QString(),
                               &error, QStringLiteral("Anna Berg")),
                     qPrintable(error));
            QVERIFY2(users.add(QStringLiteral("anna"), QStringLiteral("bert"),
                               AccessPolicy::Role::Operator, "bert-password-2",
                               QStringLiteral("new starter"), &error),
                     qPrintable(error));
            QVERIFY2(users.signLastChange(QStringLiteral("anna"), QStringLiteral("Anna Berg"),
                                          QStringLiteral("approved"), time, &error),
                     qPrintable(error));
            continue;
        }
        if (step == QLatin1String("!move user change signature to 7")) {
            // Fields and hash made those of entry 7: only the chain's "signed" entry still
            // says which change was signed.
            QVector<AuditEntry> entries;
            QString error;
            QVERIFY(AuditTrail::read(c.db, 7, 7, &entries, &error));
            const SignedRecord fields = UserChangeSignature::record(entries.at(0));
            QVERIFY(c.exec(QStringLiteral("update signature set recordId = '7', recordFields = "
                                          "'%1', recordHash = '%2'")
                               .arg(QString::fromUtf8(fields.canonical()).replace(
                                        QLatin1Char('\''), QStringLiteral("''")),
                                    QString::fromLatin1(fields.hash()))));
            continue;
        }
        if (step == QLatin1String("!sign review")) {
            AuditReviewTable::Row review;
            review.periodFrom = startOf(Q0) * 1000;
            review.periodTo = startOf(Q0 + 4) * 1000;
            review.comment = QStringLiteral("every change explained");
            review.timeMs = startOf(Q0 + 4) * 1000 + 5000;
            ElectronicSignature signature;
            QString error;
            QVERIFY2(AuditReviewTable::insertSigned(c.db, &review, QStringLiteral("anna"),
                                                    QStringLiteral("Anna Berg"),
                                                    QStringLiteral("reviewed"), &signature,
                                                    &error),
                     qPrintable(error));
            continue;
        }
        if (step == QLatin1String("!insert entry 3")) {
            QVector<AuditEntry> before;
            QString error;
            QVERIFY(AuditTrail::read(c.db, 2, 2, &before, &error));
            AuditEntry e = note(startOf(Q0) * 1000 + 5, QStringLiteral("setting changed"));
            e.sequence = 3;
            e.previousHash = before.at(0).hash;
            e.hash = AuditTrail::hashOf(e);
            QVERIFY(c.exec(QStringLiteral("insert into audit_trail values (3, %1, '%2', '%3', "
                                          "'%4', '%5', '%6', '%7', '%8', '%9')")
                               .arg(e.timeMs)
                               .arg(e.user, e.action, e.object, e.oldValue, e.newValue, e.reason,
                                    QString::fromLatin1(e.previousHash),
                                    QString::fromLatin1(e.hash))));
            continue;
        }
        if (step == QLatin1String("!rewrite from 3")) {
            qint64 rows = 0;
            QByteArray digest;
            QString error;
            QVERIFY(SampleSeal::digestOf(c.db, Q0 + 1, &rows, &digest, &error));
            QVERIFY(rehashFrom(c.db, 3, [&](AuditEntry* e) {
                if (e->sequence == 3)
                    e->newValue = SampleSeal::valueOf(rows, digest);
            }));
            continue;
        }
        QVERIFY(c.exec(step));
    }
    QString headsFile;
    if (heads == QLatin1String("!none")) {
        headsFile = dir.filePath(QStringLiteral("no such file"));
    } else if (!heads.isEmpty()) {
        headsFile = dir.filePath(QStringLiteral("heads.txt"));
        QFile file(headsFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString(heads).replace(QStringLiteral("%H"), QString::fromLatin1(head)).toUtf8());
    }
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    const int got =
        VerifyCommand::run(project, headsFile, outStream, errStream, startOf(Q0) + now);
    outStream.flush();
    errStream.flush();
    // The lead quotes these outputs.
    qInfo().noquote() << QTest::currentDataTag() << "->" << got << "\n" << out << err;
    QCOMPARE(got, status);
    for (const QString& line : qAsConst(output))
        QVERIFY2(out.contains(line), qPrintable(line));
    if (status == 2)
        QVERIFY2(err.startsWith(QStringLiteral("Tallyforge: cannot read")), qPrintable(err));
    else
        QVERIFY(err.isEmpty());
}

void TestVerifyCommand::heads_data()
{
    const QString hash =
        QStringLiteral("94eca6f301b14bbf8d0903f796aad3818063aa6b4e00de385304377c1a797d32");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("heads"); // "sequence hash"
    QTest::newRow("number and hash") << QString("12345 " + hash + "\n").toUtf8()
                                     << QStringList{"12345 " + hash};
    QTest::newRow("typed from a printed report")
        << QString("Audit trail head: entry 12345, SHA-256 " + hash).toUtf8()
        << QStringList{"12345 " + hash};
    QTest::newRow("capitals, CR LF, more text after")
        << QString("7\t" + hash.toUpper() + " forwarded 2026-12-09\r\n").toUtf8()
        << QStringList{"7 " + hash};
    QTest::newRow("lines without both are ignored")
        << QString("entry 5\n" + hash + "\n\n5 " + hash.left(63) + "\n" + hash + " 5\n" +
                   "x12 " + hash + "\n9 " + hash + "\n")
               .toUtf8()
        << QStringList{"9 " + hash};
    QTest::newRow("a hash of 65 digits is none")
        << QString("3 " + hash + "0\n").toUtf8() << QStringList();
}

// Catches: a head taken from the wrong number of a line (the "256" of "SHA-256"), a hash cut out
// of a longer run of digits, or a line without both read as a head.
void TestVerifyCommand::heads()
{
    QFETCH(QByteArray, text);
    QStringList got;
    for (const AuditVerifier::Head& head : AuditVerifier::parseHeads(text))
        got << QString::number(head.sequence) + QLatin1Char(' ') + QString::fromLatin1(head.hash);
    QTEST(got, "heads");
}

void TestVerifyCommand::sealDigest_data()
{
    QTest::addColumn<qint64>("quarter");
    QTest::addColumn<QString>("seal");
    // Computed apart from this code, with Python's sqlite3, struct and hashlib modules as the
    // README's description of the digest goes, over the rows of sealDigest().
    QTest::newRow("two nodes and a third, out of order, a NULL, a fraction of a second, UTF-8")
        << qint64(1996468)
        << "rows 6, sha256 e621314be94ece0c7d4f2f23d43dbe5b6f65a2e0036e38df9b3b999d6779722e";
    QTest::newRow("one row, the next quarter's first second") << qint64(1996469)
        << "rows 1, sha256 3efcbad5c9a6e9f3951eb447fcc9c1d2d1eb52711f47b7712970ff6dfcc0cb54";
    QTest::newRow("an empty quarter") << qint64(1996470)
        << "rows 0, sha256 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
}

// Catches: a digest an auditor cannot recompute from the README (another encoding of a value,
// another order of the rows or the nodes, a row of the quarter's edge in the wrong quarter).
void TestVerifyCommand::sealDigest()
{
    QFETCH(qint64, quarter);
    QTemporaryDir dir;
    Connection c(dir.filePath(QStringLiteral("digest.dat")));
    QVERIFY(c.exec(QStringLiteral(
        "create table quorbinal (id integer primary key autoincrement, serialno varchar(18) not "
        "null, channel1 float, channel2 float, pointDate integer not null); insert into quorbinal "
        "(serialno, channel1, channel2, pointDate) values ('N2', -18.5, 0, 1796821203), ('N1', "
        "4.25, 50, 1796821200), ('K\u00fchl 1', NULL, 12.75, 1796821260), ('N1', 4.3, NULL, "
        "1796821260), ('N2', 1e-5, 3, 1796822099), ('N1', 7, 8, 1796822100), ('N1', 0.1, 0.2, "
        "1796821201.5)")));
    qint64 rows = 0;
    QByteArray digest;
    QString error;
    QVERIFY2(SampleSeal::digestOf(c.db, quarter, &rows, &digest, &error), qPrintable(error));
    QTEST(SampleSeal::valueOf(rows, digest), "seal");
}

QTEST_GUILESS_MAIN(TestVerifyCommand)
#include "tst_verifycommand.moc"
