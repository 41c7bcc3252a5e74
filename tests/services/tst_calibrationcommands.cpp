// A calibration entered through the command, from the gate to the records: the entry, its
// signature ('recorded', under access control, with the password checked by the sign-in
// session) and its audit entry written through the project's writer to a real database, and
// checked as `Tallyforge --verify` checks signatures.

#include "accessgate.h"
#include "auditentry.h"
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
#include "signinsession.h"
#include "sqliteconnection.h"
#include "tickingwriter.h"
#include "userdirectory.h"
#include "writejob.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

using Outcome = CalibrationCommands::Outcome;

namespace {

const QByteArray Password = "calibration-password-1";

} // namespace

class TestCalibrationCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void entryRecorded_data();
    void entryRecorded();

private:
    void accessControlFor(const QString& supervisor);
    QStringList actionsSince(int before, QString* calibrationEntry = nullptr);
    AuditVerifier::Result verified();

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    std::unique_ptr<TickingWriter> writer;
    std::unique_ptr<ProjectAudit> audit;
    std::unique_ptr<CalibrationRegister> calibrations;
    std::unique_ptr<SignInSession> session;
};

void TestCalibrationCommands::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestCalibrationCommands::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("pharmacy.tpc"));
    ProjectFile(project).create(10000);
    writer = std::make_unique<TickingWriter>(ProjectFile::databasePath(project),
                                             QStringLiteral("calibrations"));
    QVERIFY(writer->open());
    audit = std::make_unique<ProjectAudit>(project, writer->writer());
    QString error;
    QVERIFY2(audit->open(ProjectAudit::Opening::Opened, &error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(audit->isChecked() && !writer->writer()->isBuilding(), 30000);
    calibrations = std::make_unique<CalibrationRegister>(
        ProjectFile::databasePath(project),
        [this](const WriteJob& job) { writer->writer()->submit(job); });
    session = std::make_unique<SignInSession>();
    session->setCost(PasswordHash::least());
    const QString users = dir->filePath(QStringLiteral("users.dat"));
    QFile(users).open(QIODevice::WriteOnly);
    session->open(users);
    QTRY_VERIFY_WITH_TIMEOUT(session->isReady(), 10000);
}

void TestCalibrationCommands::cleanup()
{
    session.reset();
    calibrations.reset();
    audit.reset();
    writer.reset();
    dir.reset();
}

// An Administrator and `supervisor` (a Supervisor), who is signed in.
void TestCalibrationCommands::accessControlFor(const QString& supervisor)
{
    bool done = false;
    session->run(
        [&](UserDirectory& users, QString* e) {
            return users.add(QStringLiteral("desk"), QStringLiteral("ada"),
                             AccessPolicy::Role::Administrator, Password, QStringLiteral("first"),
                             e) &&
                   users.add(QStringLiteral("desk"), supervisor, AccessPolicy::Role::Supervisor,
                             Password, QStringLiteral("lead"), e);
        },
        [&](bool, const QString&) { done = true; });
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    bool signedIn = false;
    QObject context;
    connect(session.get(), &SignInSession::signInFinished, &context, [&] { signedIn = true; });
    session->signIn(supervisor, Password);
    QTRY_VERIFY_WITH_TIMEOUT(signedIn && session->user(), 10000);
}

QStringList TestCalibrationCommands::actionsSince(int before, QString* calibrationEntry)
{
    writer->settle();
    SqliteConnection c;
    QVector<AuditEntry> all;
    QString error;
    if (c.open(ProjectFile::databasePath(project), SQLITE_OPEN_READONLY))
        AuditTrail::read(c.get(), 1, 1000000, &all, &error);
    QStringList actions;
    for (const AuditEntry& e : all.mid(before)) {
        actions << e.action;
        if (calibrationEntry && e.action == QLatin1String("calibration recorded"))
            *calibrationEntry = e.user + QLatin1Char('|') + e.object + QLatin1Char('|') +
                                e.newValue;
    }
    return actions;
}

AuditVerifier::Result TestCalibrationCommands::verified()
{
    writer->settle();
    AuditVerifier verifier;
    verifier.addCheck(SignatureCheck::make());
    AuditVerifier::Result result;
    QString error;
    if (!verifier.verify(ProjectFile::databasePath(project), &result, &error))
        result.findings << error;
    return result;
}

void TestCalibrationCommands::entryRecorded_data()
{
    QTest::addColumn<bool>("accessControl");
    QTest::addColumn<QByteArray>("password"); // what the signer types; empty: cancels
    QTest::addColumn<QDate>("due");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("actions");
    const QDate due(2027, 3, 2);
    QTest::newRow("no access control: recorded unsigned by the desk's account")
        << false << QByteArray() << due << int(Outcome::Done)
        << QStringList{"calibration recorded"};
    QTest::newRow("signed by the Supervisor")
        << true << Password << due << int(Outcome::Done)
        << QStringList{"signed", "calibration recorded"};
    QTest::newRow("wrong password: nothing recorded")
        << true << QByteArray("not-the-password") << due << int(Outcome::Cancelled)
        << QStringList{};
    QTest::newRow("signature cancelled") << true << QByteArray() << due
                                         << int(Outcome::Cancelled) << QStringList{};
    QTest::newRow("due before calibration: refused before anyone signs")
        << true << Password << QDate(2026, 3, 1) << int(Outcome::Refused) << QStringList{};
}

// Catches: an entry without its audit entry or signature, a signature of other fields than the
// row's (or that --verify cannot match), a wrong password or a cancel that still writes, a
// refused entry that asks for a password first, an entry changed after signing that verifies.
void TestCalibrationCommands::entryRecorded()
{
    QFETCH(bool, accessControl);
    QFETCH(QByteArray, password);
    QFETCH(QDate, due);
    QFETCH(int, outcome);
    QFETCH(QStringList, actions);
    if (accessControl)
        accessControlFor(QStringLiteral("sam"));
    AccessGate gate(session.get());
    int asked = 0;
    gate.setSignatureAsk([&](SignInSession* signing, const QString& meaning, const QString&,
                             const AccessGate::SignatureDone& done) {
        ++asked;
        QCOMPARE(meaning, QStringLiteral("recorded"));
        if (password.isEmpty()) {
            done(std::nullopt);
            return;
        }
        signing->sign(QStringLiteral("sam"), password,
                      [done](const UserDirectory::SignInResult&,
                             const std::optional<SignatureGrant>& grant) { done(grant); });
    });
    gate.setAsks([](SignInSession*, AccessPolicy::Action, const QString&) { return false; },
                 [](const QString&, QString*) { return false; });
    const int before = actionsSince(0).size();

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
    std::optional<CalibrationRecord> made;
    CalibrationCommands(&gate, audit.get(), calibrations.get())
        .enter(row, [&](Outcome o, const QString&, const std::optional<CalibrationRecord>& m) {
            answered = int(o);
            made = m;
        });
    QTRY_VERIFY_WITH_TIMEOUT(answered.has_value(), 10000);
    QCOMPARE(*answered, outcome);
    QCOMPARE(asked, accessControl && outcome != int(Outcome::Refused) ? 1 : 0);
    QString entry;
    QCOMPARE(actionsSince(before, &entry), actions);

    QVector<CalibrationRecord> rows;
    QString error;
    QVERIFY(CalibrationTable::read(ProjectFile::databasePath(project), &rows, &error));
    QCOMPARE(rows.size(), made ? 1 : 0);
    QCOMPARE(calibrations->entries().size(), rows.size());
    if (!made)
        return;
    const QString who = accessControl ? QStringLiteral("sam") : ProjectAudit::desktopUser();
    QVERIFY2(entry.startsWith(who + QStringLiteral("|calibration node 1001 channel2|")
                              + QStringLiteral("certificate DAkkS 4711/26; laboratory ")),
             qPrintable(entry));
    QVERIFY(entry.contains(QStringLiteral("due 2027-03-02; as found not given; as left -0.04")));
    QVERIFY(rows.first().enteredBy.startsWith(who));
    QCOMPARE(rows.first().signatureId > 0, accessControl);
    const AuditVerifier::Result result = verified();
    QVERIFY2(result.holds(), qPrintable(result.findings.join(QLatin1Char('\n'))));
    if (!accessControl)
        return;
    // Changed behind the triggers' back: the signature no longer matches the row.
    SqliteConnection c;
    QVERIFY(c.open(ProjectFile::databasePath(project), SQLITE_OPEN_READWRITE));
    QCOMPARE(sqlite3_exec(c.get(),
                          "drop trigger calibration_no_update; update calibration set "
                          "uncertainty = 0.02",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    c.close();
    const QStringList findings = verified().findings;
    QVERIFY2(findings.join(QLatin1Char('\n')).contains(QStringLiteral("uncertainty")),
             qPrintable(findings.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestCalibrationCommands)
#include "tst_calibrationcommands.moc"
