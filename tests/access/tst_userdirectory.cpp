// The users of a project against a real temporary database: sign-in waits on an injectable
// clock, rows changed with the sqlite3 program, what a change needs, no secret in the audit
// trail, and changes carried by the recorder's writer.

#include "audittrail.h"
#include "databasewriter.h"
#include "sqliteconnection.h"
#include "sha256.h"
#include "sqliteprogram.h"
#include "userchaincheck.h"
#include "userdirectory.h"
#include "usertable.h"
#include "writejob.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <sqlite3.h>

using Role = AccessPolicy::Role;
using Outcome = UserDirectory::SignInResult::Outcome;

namespace {

const QByteArray AnnaPassword = "anna-password-1";
const QByteArray BobPassword = "bob-password-22";
const QByteArray CarlPassword = "carl-password-333";
const QByteArray MalloryPassword = "mallory-password-4444";
constexpr qint64 Start = 1796823413000; // 2026-12-09, a winter day in Berlin

} // namespace

class TestUserDirectory : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void signInWaits_data();
    void signInWaits();
    void tampering_data();
    void tampering();
    void changesAreChecked_data();
    void changesAreChecked();
    void noSecretInTheTrail();
    void writerStoresUserChanges();
    void fileWithoutFullNames();

private:
    UserDirectory directory();
    // Anna (Administrator), Bob (Operator) and Carl (Operator, disabled).
    void addThree();
    QVector<AuditEntry> trail();

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
    SqliteConnection connection;
    qint64 now = Start;
};

void TestUserDirectory::init()
{
    dir = std::make_unique<QTemporaryDir>();
    database = dir->filePath(QStringLiteral("project.dat"));
    QFile file(database);
    QVERIFY(file.open(QIODevice::WriteOnly)); // an empty file is an empty database
    file.close();
    QString error;
    QVERIFY2(UserTable::open(&connection, database, 5000, &error), qPrintable(error));
    now = Start;
}

UserDirectory TestUserDirectory::directory()
{
    // The least Argon2id cost keeps the many hashes of these tests quick; the stored string
    // carries its cost, so verification is the same code either way.
    return UserDirectory(
        connection.get(), [this] { return now; }, PasswordHash::least());
}

void TestUserDirectory::addThree()
{
    UserDirectory users = directory();
    QString error;
    QVERIFY2(users.add(QStringLiteral("root"), QStringLiteral("anna"), Role::Administrator,
                       AnnaPassword, QString(), &error),
             qPrintable(error));
    QVERIFY2(users.add(QStringLiteral("anna"), QStringLiteral("bob"), Role::Operator, BobPassword,
                       QStringLiteral("new starter"), &error),
             qPrintable(error));
    QVERIFY2(users.add(QStringLiteral("anna"), QStringLiteral("carl"), Role::Operator, CarlPassword,
                       QString(), &error),
             qPrintable(error));
    QVERIFY2(users.setDisabled(QStringLiteral("anna"), QStringLiteral("carl"), true,
                               QStringLiteral("left"), &error),
             qPrintable(error));
}

QVector<AuditEntry> TestUserDirectory::trail()
{
    QVector<AuditEntry> entries;
    QString error;
    if (!AuditTrail::read(connection.get(), 1, 1 << 30, &entries, &error))
        qWarning().noquote() << error;
    return entries;
}

void TestUserDirectory::signInWaits_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<qint64>("pauseMs");
    QTest::addColumn<int>("failuresAfterPause");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("waits");
    QTest::newRow("right password") << 0 << qint64(0) << 0 << int(Outcome::SignedIn) << 0;
    QTest::newRow("4 failures, then the right password")
        << 4 << qint64(0) << 0 << int(Outcome::SignedIn) << 0;
    QTest::newRow("5 failures wait, even with the right password")
        << 5 << qint64(0) << 0 << int(Outcome::Waiting) << 1;
    QTest::newRow("still waiting at 4:59")
        << 5 << qint64(299999) << 0 << int(Outcome::Waiting) << 1;
    QTest::newRow("signs in at 5:00") << 5 << qint64(300000) << 0 << int(Outcome::SignedIn) << 1;
    QTest::newRow("tries during the wait do not lengthen it")
        << 8 << qint64(300000) << 0 << int(Outcome::SignedIn) << 1;
    QTest::newRow("5 more failures after a wait wait again")
        << 5 << qint64(300000) << 5 << int(Outcome::Waiting) << 2;
    QTest::newRow("4 more failures after a wait do not")
        << 5 << qint64(300000) << 4 << int(Outcome::SignedIn) << 1;
}

// Catches: no wait after 5 failures, a wait that never ends (an Administrator locked out for
// good), a wait kept only in memory (another program's sign-in would not see it), a wait
// shown in UTC, failures and waits missing from the audit trail.
void TestUserDirectory::signInWaits()
{
    QFETCH(int, failures);
    QFETCH(qint64, pauseMs);
    QFETCH(int, failuresAfterPause);
    QFETCH(int, waits);
    addThree();
    const int before = trail().size();
    {
        UserDirectory users = directory();
        for (int i = 0; i < failures; ++i) {
            if (i > 0)
                now += 1000;
            QVERIFY(users.signIn(QStringLiteral("anna"), "wrong-password").outcome !=
                    Outcome::SignedIn);
        }
        now += pauseMs;
        for (int i = 0; i < failuresAfterPause; ++i)
            QVERIFY(users.signIn(QStringLiteral("anna"), "wrong-password").outcome !=
                    Outcome::SignedIn);
    }
    // Another program's directory: the wait is in the row.
    UserDirectory other = directory();
    const UserDirectory::SignInResult result = other.signIn(QStringLiteral("anna"), AnnaPassword);
    QTEST(int(result.outcome), "outcome");
    if (result.outcome == Outcome::Waiting) {
        QVERIFY(result.waitUntilMs > now);
        QVERIFY(result.waitUntilMs <= now + UserDirectory::WaitMs);
        QVERIFY2(result.message.contains(QDateTime::fromMSecsSinceEpoch(result.waitUntilMs)
                                             .toString(QStringLiteral("HH:mm:ss"))),
                 qPrintable(result.message));
    }
    const QVector<AuditEntry> entries = trail();
    QCOMPARE(entries.size() - before, failures + failuresAfterPause + 1);
    int waitEntries = 0;
    for (int i = before; i < entries.size(); ++i) {
        QCOMPARE(entries[i].object, QStringLiteral("anna"));
        waitEntries += entries[i].action == QStringLiteral("sign-in waits");
    }
    QCOMPARE(waitEntries, waits);
    QCOMPARE(entries.last().action, result.outcome == Outcome::SignedIn
                                        ? QStringLiteral("signed in")
                                        : QStringLiteral("sign-in failed"));
    QCOMPARE(UserChainCheck::check(connection.get()), QStringList());
}

void TestUserDirectory::tampering_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("finding");
    const QString hash =
        QString::fromLatin1(PasswordHash::make(MalloryPassword, PasswordHash::least()));
    QTest::newRow("nothing changed")
        << QString() << QStringLiteral("anna") << AnnaPassword << QString();
    QTest::newRow("user row inserted")
        << QStringLiteral("insert into users (name, role, passwordHash, disabled, "
                          "failedSignIns, waitUntil) values ('mallory', 'Administrator', '%1', "
                          "0, 0, 0)")
               .arg(hash)
        << QStringLiteral("mallory") << MalloryPassword
        << QStringLiteral("User \"mallory\" is in the users table but not in the audit trail");
    QTest::newRow("user row inserted with a line break in its name")
        << QStringLiteral("insert into users (name, role, passwordHash, disabled, "
                          "failedSignIns, waitUntil) values ('eve' || char(10) || 'anna', "
                          "'Administrator', '%1', 0, 0, 0)")
               .arg(hash)
        << QStringLiteral("eve\nanna") << MalloryPassword
        << QStringLiteral("User \"eve\\u{000a}anna\" is in the users table but not in the audit "
                          "trail");
    QTest::newRow("password hash replaced")
        << QStringLiteral("update users set passwordHash = '%1' where name = 'anna'").arg(hash)
        << QStringLiteral("anna") << MalloryPassword
        << QStringLiteral("User \"anna\" does not match the audit trail");
    QTest::newRow("role raised")
        << QStringLiteral("update users set role = 'Administrator' where name = 'bob'")
        << QStringLiteral("bob") << BobPassword
        << QStringLiteral("User \"bob\" does not match the audit trail");
    QTest::newRow("disabled user enabled")
        << QStringLiteral("update users set disabled = 0 where name = 'carl'")
        << QStringLiteral("carl") << CarlPassword
        << QStringLiteral("User \"carl\" does not match the audit trail");
    QTest::newRow("full name changed")
        << QStringLiteral("update users set fullName = 'Anna Admin' where name = 'bob'")
        << QStringLiteral("bob") << BobPassword
        << QStringLiteral("User \"bob\" does not match the audit trail");
    QTest::newRow("users table emptied")
        << QStringLiteral("drop trigger users_no_delete; delete from users")
        << QStringLiteral("anna") << AnnaPassword
        << QStringLiteral("The users table is empty although access control is on.");
    QTest::newRow("users table dropped")
        << QStringLiteral("drop table users") << QStringLiteral("anna") << AnnaPassword
        << QStringLiteral("User \"anna\" is in the audit trail but missing from the users table.");
}

// Catches: a user row added, a password hash replaced, a role raised or a user re-enabled with
// the sqlite3 program and then accepted at sign-in or by the check; access control switched off
// by emptying or dropping the users table; a forged name that breaks the lines of a finding.
void TestUserDirectory::tampering()
{
    QFETCH(QString, sql);
    QFETCH(QString, user);
    QFETCH(QByteArray, password);
    QFETCH(QString, finding);
    addThree();
    if (!sql.isEmpty())
        QVERIFY(SqliteProgram::run(database, sql));

    const QStringList findings = UserChainCheck::check(connection.get());
    UserDirectory users = directory();
    bool on = false;
    QString error;
    QVERIFY2(users.accessControlOn(&on, &error), qPrintable(error));
    QVERIFY(on);
    const UserDirectory::SignInResult result = users.signIn(user, password);
    if (finding.isEmpty()) {
        QCOMPARE(findings, QStringList());
        QCOMPARE(int(result.outcome), int(Outcome::SignedIn));
        return;
    }
    QVERIFY2(findings.join(QLatin1Char('\n')).contains(finding), qPrintable(findings.join('\n')));
    QCOMPARE(int(result.outcome), int(Outcome::Refused));
    // The refusal is recorded, and the untrusted row is not made to match by writing it.
    QVERIFY(trail().last().action.startsWith(QStringLiteral("sign-in")));
    QVERIFY2(UserChainCheck::check(connection.get()).join('\n').contains(finding),
             qPrintable(findings.join('\n')));
}

void TestUserDirectory::changesAreChecked_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("the only Administrator disabled")
        << QStringLiteral("disable") << QStringLiteral("anna")
        << QStringLiteral("At least one enabled Administrator must remain.");
    QTest::newRow("the only Administrator made an Operator")
        << QStringLiteral("operator") << QStringLiteral("anna")
        << QStringLiteral("At least one enabled Administrator must remain.");
    QTest::newRow("an Operator disabled")
        << QStringLiteral("disable") << QStringLiteral("bob") << QString();
    QTest::newRow("an Operator made an Administrator")
        << QStringLiteral("administrator") << QStringLiteral("bob") << QString();
    QTest::newRow("a name taken in other letter case")
        << QStringLiteral("add") << QStringLiteral("BOB")
        << QStringLiteral("There is already a user \"bob\".");
    QTest::newRow("a name with a line break")
        << QStringLiteral("add") << QStringLiteral("eve\nAdministrator")
        << QStringLiteral("A user's name has no control characters.");
    QTest::newRow("a name with a right-to-left override")
        << QStringLiteral("add") << QStringLiteral("eve\u202e")
        << QStringLiteral("A user's name has no control characters.");
    QTest::newRow("a name of 65 characters")
        << QStringLiteral("add") << QString(65, QLatin1Char('x'))
        << QStringLiteral("A user's name has at most 64 characters.");
    QTest::newRow("a name of 64 characters")
        << QStringLiteral("add") << QString(64, QLatin1Char('x')) << QString();
    QTest::newRow("a blank name") << QStringLiteral("add") << QStringLiteral("  ")
                                  << QStringLiteral("A user needs a name.");
    QTest::newRow("a password of 9 characters")
        << QStringLiteral("short password") << QStringLiteral("dora")
        << QStringLiteral("The password must have at least 10 characters.");
    QTest::newRow("a password of 10 characters, 5 of them two bytes long")
        << QStringLiteral("umlaut password") << QStringLiteral("dora") << QString();
    QTest::newRow("a full name given when adding")
        << QStringLiteral("add with full name") << QStringLiteral("Dora Lind") << QString();
    QTest::newRow("a full name changed") << QStringLiteral("full name")
                                         << QStringLiteral("Bob Brandt") << QString();
    QTest::newRow("a full name of 101 characters")
        << QStringLiteral("full name") << QString(101, QLatin1Char('x'))
        << QStringLiteral("A full name has at most 100 characters.");
    QTest::newRow("a full name with a line break, when adding")
        << QStringLiteral("add with full name") << QStringLiteral("Dora\nAdministrator")
        << QStringLiteral("A full name has no control characters.");
    QTest::newRow("a full name ending in a space")
        << QStringLiteral("full name") << QStringLiteral("Bob ")
        << QStringLiteral("A full name does not begin or end with a space.");
    QTest::newRow("a full name of a user who is not there")
        << QStringLiteral("full name of zoe") << QStringLiteral("Zoe Zett")
        << QStringLiteral("There is no user \"zoe\".");
    QTest::newRow("a reset of a user who is not there")
        << QStringLiteral("reset") << QStringLiteral("zoe")
        << QStringLiteral("There is no user \"zoe\".");
}

// Catches: the last Administrator disabled or demoted (access control that nobody can manage),
// two users of one name, a name that forges a line of the audit trail's display or hides its
// end, a password shorter than the minimum, a change of a user who does not exist.
void TestUserDirectory::changesAreChecked()
{
    QFETCH(QString, change);
    QFETCH(QString, name);
    QFETCH(QString, error);
    addThree();
    const int before = trail().size();
    UserDirectory users = directory();
    QString actual;
    const QString anna = QStringLiteral("anna");
    bool done = false;
    if (change == QLatin1String("disable"))
        done = users.setDisabled(anna, name, true, QString(), &actual);
    else if (change == QLatin1String("operator"))
        done = users.changeRole(anna, name, Role::Operator, QString(), &actual);
    else if (change == QLatin1String("administrator"))
        done = users.changeRole(anna, name, Role::Administrator, QString(), &actual);
    else if (change == QLatin1String("add"))
        done = users.add(anna, name, Role::Operator, "good-password-1", QString(), &actual);
    else if (change == QLatin1String("short password"))
        done = users.add(anna, name, Role::Operator, "123456789", QString(), &actual);
    else if (change == QLatin1String("umlaut password"))
        done = users.add(anna, name, Role::Operator,
                         QStringLiteral("\u00e4\u00f6\u00fc\u00df\u00e9abcde").toUtf8(), QString(),
                         &actual);
    else if (change == QLatin1String("reset"))
        done = users.resetPassword(anna, name, "good-password-1", QString(), &actual);
    else if (change == QLatin1String("add with full name"))
        done = users.add(anna, QStringLiteral("dora"), Role::Operator, "good-password-1",
                         QString(), &actual, name);
    else if (change == QLatin1String("full name"))
        done = users.setFullName(anna, QStringLiteral("bob"), name, QStringLiteral("married"),
                                 &actual);
    else if (change == QLatin1String("full name of zoe"))
        done = users.setFullName(anna, QStringLiteral("zoe"), name, QString(), &actual);
    QCOMPARE(actual, error);
    QCOMPARE(done, error.isEmpty());
    QCOMPARE(trail().size(), before + (done ? 1 : 0));
    QCOMPARE(UserChainCheck::check(connection.get()), QStringList());
    if (done && change.contains(QLatin1String("full name"))) {
        // Stored, and read back as given.
        std::optional<UserRecord> row;
        QVERIFY(UserTable::find(connection.get(), trail().constLast().object, &row, &actual));
        QVERIFY(row);
        QCOMPARE(row->fullName, name);
        QCOMPARE(trail().constLast().action,
                 change == QLatin1String("full name") ? QStringLiteral("full name changed")
                                                      : QStringLiteral("user added"));
    }
}

// Catches: a password, or its hash, written into the audit trail by a change or a sign-in.
void TestUserDirectory::noSecretInTheTrail()
{
    addThree();
    UserDirectory users = directory();
    QString error;
    const QByteArray newPassword = "anna-new-password-9";
    QVERIFY2(users.resetPassword(QStringLiteral("anna"), QStringLiteral("bob"), newPassword,
                                 QString(), &error),
             qPrintable(error));
    QCOMPARE(int(users.signIn(QStringLiteral("bob"), BobPassword).outcome), int(Outcome::Refused));
    QCOMPARE(int(users.signIn(QStringLiteral("bob"), newPassword).outcome), int(Outcome::SignedIn));
    QCOMPARE(int(users.signIn(QStringLiteral("anna"), "typed-wrong-123").outcome),
             int(Outcome::Refused));
    QVector<UserRecord> rows;
    QVERIFY(users.users(&rows, &error));
    QStringList secrets{QString::fromUtf8(AnnaPassword),   QString::fromUtf8(BobPassword),
                        QString::fromUtf8(CarlPassword),   QString::fromUtf8(newPassword),
                        QStringLiteral("typed-wrong-123"), QStringLiteral("$argon2")};
    for (const UserRecord& row : rows)
        secrets << QString::fromLatin1(row.passwordHash);
    const QVector<AuditEntry> entries = trail();
    QVERIFY(entries.size() >= 7);
    bool passwordChanged = false;
    for (const AuditEntry& e : entries) {
        const QString text =
            QStringList{e.user, e.action, e.object, e.oldValue, e.newValue, e.reason}.join(
                QLatin1Char('|'));
        for (const QString& secret : secrets)
            QVERIFY2(!text.contains(secret), qPrintable(text));
        passwordChanged |= e.action == QStringLiteral("password reset") &&
                           UserTable::describedValue(e) == QStringLiteral("password changed");
    }
    QVERIFY(passwordChanged);
}

// Catches: a user change the recorder's writer stores without its entry, or with an entry whose
// digest is not of the row it committed (the next sign-in would then be refused), a value that
// does not come back the same from the spill journal (the full name too).
void TestUserDirectory::writerStoresUserChanges()
{
    connection.close();
    DatabaseWriter writer(database, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    SqliteConnection reader;
    QString error;
    QVERIFY2(UserTable::open(&reader, database, 5000, &error), qPrintable(error));
    UserDirectory users(
        reader.get(), [this] { return now; }, PasswordHash::least());
    int jobs = 0;
    UserDirectory::Writes writes;
    writes.change = [&](UserChange* change, QString*) {
        // As it comes back from the spill journal after a restart.
        WriteJob job = WriteJob::userChange(*change);
        if (!WriteJob::decodeValues(job.encodedValues(), &job.values))
            return false;
        writer.submit(job);
        ++jobs;
        return writer.flushAndWait(0);
    };
    writes.entry = [&](AuditEntry* entry, QString*) {
        writer.submit(WriteJob::auditRecord(*entry));
        ++jobs;
        return writer.flushAndWait(0);
    };
    users.setWrites(writes);
    QVERIFY2(users.add(QStringLiteral("root"), QStringLiteral("anna"), Role::Administrator,
                       AnnaPassword, QString(), &error, QStringLiteral("Anna \u00c5berg")),
             qPrintable(error));
    QCOMPARE(int(users.signIn(QStringLiteral("anna"), "wrong-password").outcome),
             int(Outcome::Refused));
    QCOMPARE(int(users.signIn(QStringLiteral("anna"), AnnaPassword).outcome),
             int(Outcome::SignedIn));
    QCOMPARE(int(users.signIn(QStringLiteral("nobody"), AnnaPassword).outcome),
             int(Outcome::Refused));
    QCOMPARE(jobs, 4);
    QCOMPARE(UserChainCheck::check(reader.get()), QStringList());
    QVector<AuditEntry> entries;
    QVERIFY(AuditTrail::read(reader.get(), 1, 100, &entries, &error));
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries[1].action, QStringLiteral("sign-in failed"));
    QCOMPARE(entries[3].object, QStringLiteral("nobody"));
    std::optional<UserRecord> anna;
    QVERIFY(UserTable::find(reader.get(), QStringLiteral("anna"), &anna, &error) && anna);
    QCOMPARE(anna->fullName, QStringLiteral("Anna \u00c5berg"));
}

// Catches: a project made before users had full names that cannot be read (a read-only check
// failing on the missing column), whose rows' digests changed (every old project refused at
// sign-in), or that cannot take a full name later.
void TestUserDirectory::fileWithoutFullNames()
{
    UserRecord row{QStringLiteral("Anna"), QStringLiteral("Administrator"), "$argon2id$x", true,
                   3, Start, QString()};
    QCOMPARE(UserTable::rowDigest(row),
             Sha256::hexOf("name:Anna\nrole:Administrator\npasswordHash:$argon2id$x\n"
                           "disabled:1\nfailedSignIns:3\nwaitUntil:1796823413000\n"));
    addThree();
    connection.close();
    // The table as files made before full names have it.
    QVERIFY(SqliteProgram::run(
        database,
        QStringLiteral(
            "drop trigger users_no_delete; alter table users rename to users_new; "
            "create table users (name text not null unique collate nocase, role text not null, "
            "passwordHash text not null, disabled integer not null default 0, failedSignIns "
            "integer not null default 0, waitUntil integer not null default 0); "
            "insert into users select name, role, passwordHash, disabled, failedSignIns, "
            "waitUntil from users_new; drop table users_new;")));
    SqliteConnection readOnly;
    QVERIFY(readOnly.open(database, SQLITE_OPEN_READONLY));
    QVector<UserRecord> rows;
    QString error;
    QVERIFY2(UserTable::list(readOnly.get(), &rows, &error), qPrintable(error));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).fullName, QString());
    std::optional<UserRecord> bob;
    QCOMPARE(UserChainCheck::check(readOnly.get()), QStringList());
    readOnly.close();

    QVERIFY2(UserTable::open(&connection, database, 5000, &error), qPrintable(error));
    UserDirectory users = directory();
    QVERIFY2(users.setFullName(QStringLiteral("anna"), QStringLiteral("bob"),
                               QStringLiteral("Bob Brandt"), QString(), &error),
             qPrintable(error));
    QVERIFY2(UserTable::find(connection.get(), QStringLiteral("bob"), &bob, &error),
             qPrintable(error));
    QCOMPARE(bob->fullName, QStringLiteral("Bob Brandt"));
    QCOMPARE(UserChainCheck::check(connection.get()), QStringList());
}

QTEST_GUILESS_MAIN(TestUserDirectory)
#include "tst_userdirectory.moc"
