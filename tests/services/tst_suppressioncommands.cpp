// A Supervisor's shelve and out-of-service command from the gate to the records: the row, its
// audit entry and its signature (under access control) written through the project's writer
// to a real database, nothing of them when the signature is cancelled or the request refused.

#include "accessgate.h"
#include "alarmmonitor.h"
#include "alarmshelves.h"
#include "alarmsuppressiontable.h"
#include "audittrail.h"
#include "databasewriter.h"
#include "passwordhash.h"
#include "projectaudit.h"
#include "projectfile.h"
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

private:
    QVector<AuditEntry> entries();

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
    if (accessControl) {
        bool done = false;
        session->run(
            [](UserDirectory& users, QString* e) {
                return users.add(QStringLiteral("desk"), QStringLiteral("ada"),
                                 AccessPolicy::Role::Administrator, Password,
                                 QStringLiteral("first"), e) &&
                       users.add(QStringLiteral("desk"), QStringLiteral("sam"),
                                 AccessPolicy::Role::Supervisor, Password, QStringLiteral("lead"),
                                 e);
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

QTEST_GUILESS_MAIN(TestSuppressionCommands)
#include "tst_suppressioncommands.moc"
