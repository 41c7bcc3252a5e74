// A Supervisor's shelve and out-of-service command from the gate to the records: the row, its
// audit entry and its signature (under access control) written through the project's writer
// to a real database, nothing of them when the signature is cancelled or the request refused.
// The same for a calibration entered in the register (CalibrationCommands), its password
// checked by the sign-in session and its signature checked as `Tallyforge --verify` does.

#include "accessgate.h"
#include "alarmmonitor.h"
#include "alarmshelves.h"
#include "alarmsuppressiontable.h"
#include "audittrail.h"
#include "auditverifier.h"
#include "calibrationcommands.h"
#include "calibrationregister.h"
#include "calibrationtable.h"
#include "databasewriter.h"
#include "passwordhash.h"
#include "projectaudit.h"
#include "projectfile.h"
#include "signaturecheck.h"
#include "signaturegrant.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "signinsession.h"
#include "sqliteconnection.h"
#include "suppressioncommands.h"
#include "tickingwriter.h"
#include "userdirectory.h"
#include "writejob.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

using Outcome = SuppressionCommands::Outcome;

namespace {

const QByteArray Password = "shelve-password-1";
const QDateTime Now(QDate(2026, 12, 9), QTime(13, 0), Qt::UTC);

} // namespace

class TestSuppressionCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void commandRecorded_data();
    void commandRecorded();
    void calibrationRecorded_data();
    void calibrationRecorded();

private:
    QVector<AuditEntry> entries();
    void signInSupervisor();

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    std::unique_ptr<TickingWriter> writer;
    std::unique_ptr<ProjectAudit> audit;
    std::unique_ptr<AlarmMonitor> monitor;
    std::unique_ptr<AlarmShelves> shelves;
    std::unique_ptr<SignInSession> session;
};

void TestSuppressionCommands::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestSuppressionCommands::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("store.tpc"));
    ProjectFile(project).create(10000);
    writer = std::make_unique<TickingWriter>(ProjectFile::databasePath(project),
                                             QStringLiteral("shelves"));
    QVERIFY(writer->open());
    audit = std::make_unique<ProjectAudit>(project, writer->writer());
    QString error;
    QVERIFY2(audit->open(ProjectAudit::Opening::Opened, &error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(audit->isChecked() && !writer->writer()->isBuilding(), 30000);
    monitor = std::make_unique<AlarmMonitor>();
    monitor->setClock([] { return Now; });
    MonitoredNode node;
    node.serial = QStringLiteral("1001");
    monitor->setNode(node);
    shelves = std::make_unique<AlarmShelves>(
        monitor.get(), ProjectFile::databasePath(project),
        [this](const WriteJob& job) { writer->writer()->submit(job); });
    // The users in a file of their own: the sign-in is not what is under test.
    session = std::make_unique<SignInSession>();
    session->setCost(PasswordHash::least());
    const QString users = dir->filePath(QStringLiteral("users.dat"));
    QFile(users).open(QIODevice::WriteOnly);
    session->open(users);
    QTRY_VERIFY_WITH_TIMEOUT(session->isReady(), 10000);
}

void TestSuppressionCommands::cleanup()
{
    session.reset();
    shelves.reset();
    monitor.reset();
    audit.reset();
    writer.reset();
    dir.reset();
}

QVector<AuditEntry> TestSuppressionCommands::entries()
{
    writer->settle();
    SqliteConnection c;
    QVector<AuditEntry> all;
    QString error;
    if (c.open(ProjectFile::databasePath(project), SQLITE_OPEN_READONLY))
        AuditTrail::read(c.get(), 1, 1000000, &all, &error);
    return all;
}

// An Administrator and sam (a Supervisor), who is signed in.
void TestSuppressionCommands::signInSupervisor()
{
    bool done = false;
    session->run(
        [](UserDirectory& users, QString* e) {
            return users.add(QStringLiteral("desk"), QStringLiteral("ada"),
                             AccessPolicy::Role::Administrator, Password, QStringLiteral("first"),
                             e) &&
                   users.add(QStringLiteral("desk"), QStringLiteral("sam"),
                             AccessPolicy::Role::Supervisor, Password, QStringLiteral("lead"), e);
        },
        [&](bool, const QString&) { done = true; });
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    QVERIFY(session->accessControlOn());
    bool signedIn = false;
    QObject context;
    connect(session.get(), &SignInSession::signInFinished, &context, [&] { signedIn = true; });
    session->signIn(QStringLiteral("sam"), Password);
    QTRY_VERIFY_WITH_TIMEOUT(signedIn && session->user(), 10000);
}

void TestSuppressionCommands::commandRecorded_data()
{
    QTest::addColumn<bool>("accessControl");
    QTest::addColumn<bool>("outOfService");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<bool>("signs"); // the signer gives the password, or cancels
    QTest::addColumn<bool>("thenEnd");
    QTest::addColumn<int>("outcome");
    // The actions of the entries the command left, in order.
    QTest::addColumn<QStringList>("actions");
    QTest::newRow("no access control: shelved and recorded, nothing to sign")
        << false << false << 3600 << false << false << int(Outcome::Done)
        << QStringList{"alarm shelved"};
    QTest::newRow("shelve signed by a Supervisor")
        << true << false << 3600 << true << false << int(Outcome::Done)
        << QStringList{"alarm shelved", "signed"};
    QTest::newRow("shelve signed, then unshelved")
        << true << false << 3600 << true << true << int(Outcome::Done)
        << QStringList{"alarm shelved", "signed", "alarm unshelved"};
    QTest::newRow("signature cancelled: no shelve")
        << true << false << 3600 << false << false << int(Outcome::Cancelled) << QStringList{};
    QTest::newRow("shelve of 25 hours refused after the signature")
        << true << false << 25 * 3600 << true << false << int(Outcome::Refused) << QStringList{};
    QTest::newRow("out of service signed")
        << true << true << 7200 << true << false << int(Outcome::Done)
        << QStringList{"put out of service", "signed"};
    QTest::newRow("no access control: out of service, then back")
        << false << true << 7200 << false << true << int(Outcome::Done)
        << QStringList{"put out of service", "back in service"};
}

// Catches: a shelve that leaves no entry or no signature, a signature before its row or of
// other fields than the row's, a cancelled or refused one that quiets alarms or writes
// anything, and an early end that is not recorded.
void TestSuppressionCommands::commandRecorded()
{
    QFETCH(bool, accessControl);
    QFETCH(bool, outOfService);
    QFETCH(int, seconds);
    QFETCH(bool, signs);
    QFETCH(bool, thenEnd);
    QFETCH(int, outcome);
    QFETCH(QStringList, actions);
    if (accessControl)
        signInSupervisor();
    AccessGate gate(session.get());
    QString asked;
    gate.setSignatureAsk([&](SignInSession*, const QString& meaning, const QString&,
                             const AccessGate::SignatureDone& done) {
        asked = meaning;
        if (signs)
            done(SignatureGrant{QStringLiteral("sam"), QStringLiteral("Sam Lead"),
                                Now.toMSecsSinceEpoch()});
        else
            done(std::nullopt);
    });
    gate.setAsks([](SignInSession*, AccessPolicy::Action, const QString&) { return false; },
                 [](const QString&, QString* reason) {
                     *reason = QStringLiteral("done early");
                     return true;
                 });
    const int before = entries().size();

    SuppressionCommands commands(&gate, audit.get(), shelves.get());
    std::optional<int> answered;
    std::optional<AlarmSuppression> made;
    const auto done = [&](Outcome o, const QString&, const std::optional<AlarmSuppression>& s) {
        answered = int(o);
        made = s;
    };
    if (outOfService)
        commands.putOutOfService(QStringLiteral("1001"), Now.addSecs(seconds),
                                 QStringLiteral("probe replaced"), done);
    else
        commands.shelve(QStringLiteral("1001"), 1, seconds, QStringLiteral("defrost"), done);
    QTRY_VERIFY(answered.has_value());
    QCOMPARE(*answered, outcome);
    QCOMPARE(asked, accessControl ? (outOfService ? SuppressionCommands::outOfServiceMeaning()
                                                  : SuppressionCommands::shelvedMeaning())
                                  : QString());
    QCOMPARE(monitor->suppressions().size(), made ? 1 : 0);
    if (made && thenEnd) {
        answered.reset();
        commands.end(*made, done);
        QTRY_VERIFY(answered.has_value());
        QCOMPARE(*answered, int(Outcome::Done));
        QCOMPARE(monitor->suppressions().size(), 0);
    }

    const QVector<AuditEntry> recorded = entries().mid(before);
    QStringList seen;
    for (const AuditEntry& e : recorded)
        seen << e.action;
    QCOMPARE(seen, actions);

    SqliteConnection c;
    QVERIFY(c.open(ProjectFile::databasePath(project), SQLITE_OPEN_READONLY));
    QString error;
    QVector<AlarmSuppression> rows;
    QVERIFY(AlarmSuppressionTable::overlapping(c.get(), 0, 1LL << 40, &rows, &error));
    QCOMPARE(rows.size(), made ? 1 : 0);
    if (!made)
        return;
    QCOMPARE(rows.first().user,
             accessControl ? QStringLiteral("sam") : ProjectAudit::desktopUser());
    QCOMPARE(rows.first().ended.has_value(), thenEnd);
    QVector<ElectronicSignature> signatures;
    QVERIFY(SignatureTable::forRecord(c.get(), AlarmSuppressionTable::signedRecord(*made).kind,
                                      QString::number(made->id), &signatures, &error));
    QCOMPARE(signatures.size(), accessControl ? 1 : 0);
    if (signatures.isEmpty())
        return;
    // The signature holds the row's fields as they are now, an early end included.
    SignedRecord signedFields;
    QVERIFY(SignedRecord::parse(signatures.first().recordFields, &signedFields));
    QCOMPARE(AlarmSuppressionTable::signedRecordProblem(c.get(), signedFields), QString());
    QCOMPARE(signatures.first().signer, QStringLiteral("sam"));
}

void TestSuppressionCommands::calibrationRecorded_data()
{
    QTest::addColumn<bool>("accessControl");
    QTest::addColumn<QByteArray>("password"); // what the signer types; empty: cancels
    QTest::addColumn<QDate>("due");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("actions");
    using O = CalibrationCommands::Outcome;
    const QDate due(2027, 3, 2);
    QTest::newRow("no access control: recorded unsigned by the desk's account")
        << false << QByteArray() << due << int(O::Done) << QStringList{"calibration recorded"};
    QTest::newRow("signed by the Supervisor")
        << true << Password << due << int(O::Done) << QStringList{"signed", "calibration recorded"};
    QTest::newRow("wrong password: nothing recorded")
        << true << QByteArray("not-the-password") << due << int(O::Cancelled) << QStringList{};
    QTest::newRow("signature cancelled")
        << true << QByteArray() << due << int(O::Cancelled) << QStringList{};
    QTest::newRow("due before calibration: refused before anyone signs")
        << true << Password << QDate(2026, 3, 1) << int(O::Refused) << QStringList{};
}

// Catches: an entry without its audit entry or signature, a signature of other fields than the
// row's (or that --verify cannot match), a wrong password or a cancel that still writes, a
// refused entry that asks for a password first, an entry changed after signing that verifies.
void TestSuppressionCommands::calibrationRecorded()
{
    QFETCH(bool, accessControl);
    QFETCH(QByteArray, password);
    QFETCH(QDate, due);
    QFETCH(int, outcome);
    QFETCH(QStringList, actions);
    if (accessControl)
        signInSupervisor();
    AccessGate gate(session.get());
    int asked = 0;
    gate.setSignatureAsk([&](SignInSession* signing, const QString& meaning, const QString&,
                             const AccessGate::SignatureDone& done) {
        ++asked;
        QCOMPARE(meaning, CalibrationTable::recordedMeaning());
        if (password.isEmpty())
            return done(std::nullopt);
        signing->sign(QStringLiteral("sam"), password,
                      [done](const UserDirectory::SignInResult&,
                             const std::optional<SignatureGrant>& grant) { done(grant); });
    });
    const QString database = ProjectFile::databasePath(project);
    CalibrationRegister calibrations(
        database, [this](const WriteJob& job) { writer->writer()->submit(job); });
    const int before = entries().size();
    CalibrationRecord row;
    row.serial = QStringLiteral("1001");
    row.column = QStringLiteral("channel2");
    row.certificate = QStringLiteral("DAkkS 4711/26");
    row.laboratory = QStringLiteral("Kalibrierlabor Nord");
    row.calibrated = QDate(2026, 3, 2);
    row.due = due;
    row.asLeft = -0.04;
    row.uncertainty = 0.08;
    std::optional<int> answered;
    CalibrationCommands(&gate, audit.get(), &calibrations)
        .enter(row, [&](CalibrationCommands::Outcome o, const QString&,
                        const std::optional<CalibrationRecord>&) { answered = int(o); });
    QTRY_VERIFY_WITH_TIMEOUT(answered.has_value(), 10000);
    QCOMPARE(*answered, outcome);
    QCOMPARE(asked, accessControl && outcome != int(CalibrationCommands::Outcome::Refused));
    QStringList seen;
    QString entry;
    for (const AuditEntry& e : entries().mid(before)) {
        seen << e.action;
        entry = e.user + QLatin1Char('|') + e.object + QLatin1Char('|') + e.newValue;
    }
    QCOMPARE(seen, actions);
    QVector<CalibrationRecord> rows;
    QString error;
    QVERIFY(CalibrationTable::read(database, &rows, &error));
    QCOMPARE(rows.size(), actions.isEmpty() ? 0 : 1);
    if (rows.isEmpty())
        return;
    const QString who = accessControl ? QStringLiteral("sam") : ProjectAudit::desktopUser();
    QVERIFY2(entry.startsWith(who + QStringLiteral("|calibration node 1001 channel2|certificate "
                                                   "DAkkS 4711/26; laboratory Kalibrierlabor "
                                                   "Nord; calibrated 2026-03-02; due 2027-03-02; "
                                                   "as found not given; as left -0.04")),
             qPrintable(entry));
    QVERIFY(rows.first().enteredBy.startsWith(who));
    QCOMPARE(rows.first().signatureId > 0, accessControl);
    const auto verified = [&] {
        AuditVerifier verifier;
        verifier.addCheck(SignatureCheck::make());
        AuditVerifier::Result result;
        if (!verifier.verify(database, &result, &error))
            result.findings << error;
        return result.findings.join(QLatin1Char('\n'));
    };
    QCOMPARE(verified(), QString());
    if (!accessControl)
        return;
    // Changed behind the triggers' back: the signature no longer matches the row.
    SqliteConnection c;
    QVERIFY(c.open(database, SQLITE_OPEN_READWRITE));
    QCOMPARE(sqlite3_exec(c.get(),
                          "drop trigger calibration_no_update; update calibration set "
                          "uncertainty = 0.02",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    c.close();
    QVERIFY2(verified().contains(QStringLiteral("\"uncertainty\" was changed")),
             qPrintable(verified()));
}

QTEST_GUILESS_MAIN(TestSuppressionCommands)
#include "tst_suppressioncommands.moc"
