// The desk's sign-in session against a real temporary database: sign-in and sign-out recorded,
// what each role is allowed, a user disabled or given another role while signed in, idle
// sign-out on an injectable clock, and answers of a closed project dropped.

#include "audittrail.h"
#include "signinsession.h"
#include "sqliteconnection.h"
#include "usertable.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using Action = AccessPolicy::Action;
using Role = AccessPolicy::Role;
using Outcome = UserDirectory::SignInResult::Outcome;

namespace {

const QByteArray AdminPassword = "admin-password-1";
const QByteArray OperatorPassword = "operator-password-2";

} // namespace

class TestSignInSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void signInAndRoles_data();
    void signInAndRoles();
    void changesWhileSignedIn_data();
    void changesWhileSignedIn();
    void idleSignOut();
    void noUsersMeansNoAccessControl();
    void signatures_data();
    void signatures();

private:
    bool wait(SignInSession* session, const char* signal);
    void openSession(SignInSession* session);
    bool runAndWait(SignInSession* session, const SignInSession::Work& work, QString* error);
    QVector<AuditEntry> trail();

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
    qint64 idleNow = 0;
};

void TestSignInSession::init()
{
    dir = std::make_unique<QTemporaryDir>();
    database = dir->filePath(QStringLiteral("project.dat"));
    QFile file(database);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    idleNow = 0;
}

bool TestSignInSession::wait(SignInSession* session, const char* signal)
{
    QSignalSpy spy(session, signal);
    return spy.wait(10000);
}

void TestSignInSession::openSession(SignInSession* session)
{
    session->setCost(PasswordHash::least());
    QSignalSpy opened(session, &SignInSession::opened);
    session->open(database);
    QVERIFY(opened.wait(10000));
    QVERIFY2(opened.at(0).at(0).toBool(), qPrintable(opened.at(0).at(1).toString()));
    QVERIFY(session->isReady());
}

bool TestSignInSession::runAndWait(SignInSession* session, const SignInSession::Work& work,
                                   QString* error)
{
    bool done = false;
    bool result = false;
    session->run(work, [&](bool ok, const QString& e) {
        done = true;
        result = ok;
        *error = e;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        *error = QStringLiteral("no answer");
    return result;
}

QVector<AuditEntry> TestSignInSession::trail()
{
    SqliteConnection connection;
    QString error;
    QVector<AuditEntry> entries;
    if (!UserTable::open(&connection, database, 5000, &error) ||
        !AuditTrail::read(connection.get(), 1, std::numeric_limits<qint64>::max(), &entries, &error))
        qWarning("%s", qPrintable(error));
    return entries;
}

void TestSignInSession::signInAndRoles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("mayAcknowledge");
    QTest::addColumn<bool>("mayChangeLimits");
    QTest::addColumn<bool>("mayManageUsers");
    QTest::addColumn<QString>("recorded");

    QTest::newRow("administrator") << "admin" << AdminPassword << int(Outcome::SignedIn) << true
                                   << true << true << "signed in";
    QTest::newRow("operator") << "olga" << OperatorPassword << int(Outcome::SignedIn) << true
                              << false << false << "signed in";
    QTest::newRow("name in other letter case") << "OLGA" << OperatorPassword
                                               << int(Outcome::SignedIn) << true << false << false
                                               << "signed in";
    QTest::newRow("wrong password") << "olga" << AdminPassword << int(Outcome::Refused) << false
                                    << false << false << "sign-in failed";
    QTest::newRow("no such user") << "nobody" << AdminPassword << int(Outcome::Refused) << false
                                  << false << false << "sign-in failed";
}

void TestSignInSession::signInAndRoles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, password);
    QFETCH(int, outcome);
    QFETCH(bool, mayAcknowledge);
    QFETCH(bool, mayChangeLimits);
    QFETCH(bool, mayManageUsers);
    QFETCH(QString, recorded);

    SignInSession session;
    openSession(&session);
    QVERIFY(!session.accessControlOn());
    QString error;
    QVERIFY2(runAndWait(&session,
                        [](UserDirectory& users, QString* e) {
                            return users.add(QStringLiteral("desk"), QStringLiteral("admin"),
                                             Role::Administrator, AdminPassword,
                                             QStringLiteral("first"), e) &&
                                   users.add(QStringLiteral("desk"), QStringLiteral("olga"),
                                             Role::Operator, OperatorPassword,
                                             QStringLiteral("night shift"), e);
                        },
                        &error),
             qPrintable(error));
    // The first Administrator switched it on; nobody is signed in, so nothing changing is allowed.
    QVERIFY(session.accessControlOn());
    QVERIFY(!session.allows(Action::Acknowledge));
    QVERIFY(!session.user());

    QSignalSpy finished(&session, &SignInSession::signInFinished);
    session.signIn(name, password);
    QVERIFY(finished.wait(10000));
    const auto result = finished.at(0).at(0).value<UserDirectory::SignInResult>();
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(bool(session.user()), outcome == int(Outcome::SignedIn));
    QCOMPARE(session.allows(Action::Acknowledge), mayAcknowledge);
    QCOMPARE(session.allows(Action::ChangeLimits), mayChangeLimits);
    QCOMPARE(session.allows(Action::ManageUsers), mayManageUsers);
    QCOMPARE(trail().constLast().action, recorded);

    // A sign-out is recorded only for someone signed in; closing the project signs out.
    session.close();
    QTRY_COMPARE_WITH_TIMEOUT(trail().constLast().action,
                              outcome == int(Outcome::SignedIn) ? SignInSession::signedOutAction()
                                                                : recorded,
                              10000);
    if (outcome == int(Outcome::SignedIn))
        QCOMPARE(trail().constLast().newValue,
                 SignInSession::causeText(SignInSession::SignOutCause::ProjectClosed));
    QVERIFY(!session.allows(Action::Acknowledge) || !session.accessControlOn());
}

void TestSignInSession::changesWhileSignedIn_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("stillSignedIn");
    QTest::addColumn<bool>("mayChangeLimits");

    QTest::newRow("made Supervisor") << "role" << true << true;
    QTest::newRow("disabled") << "disable" << false << false;
    QTest::newRow("password reset") << "reset" << true << false;
}

// Another Administrator's change of the signed-in user takes effect at once.
void TestSignInSession::changesWhileSignedIn()
{
    QFETCH(QString, change);
    QFETCH(bool, stillSignedIn);
    QFETCH(bool, mayChangeLimits);

    SignInSession session;
    openSession(&session);
    QString error;
    QVERIFY2(runAndWait(&session,
                        [](UserDirectory& users, QString* e) {
                            return users.add(QStringLiteral("desk"), QStringLiteral("admin"),
                                             Role::Administrator, AdminPassword, QString(), e) &&
                                   users.add(QStringLiteral("admin"), QStringLiteral("olga"),
                                             Role::Operator, OperatorPassword, QString(), e);
                        },
                        &error),
             qPrintable(error));
    QSignalSpy finished(&session, &SignInSession::signInFinished);
    session.signIn(QStringLiteral("olga"), OperatorPassword);
    QVERIFY(finished.wait(10000));
    QVERIFY(session.user());

    QVERIFY2(runAndWait(&session,
                        [change](UserDirectory& users, QString* e) {
                            const QString olga = QStringLiteral("olga");
                            const QString admin = QStringLiteral("admin");
                            if (change == QLatin1String("role"))
                                return users.changeRole(admin, olga, Role::Supervisor, QString(), e);
                            if (change == QLatin1String("disable"))
                                return users.setDisabled(admin, olga, true, QString(), e);
                            return users.resetPassword(admin, olga, "a-new-password-3", QString(),
                                                       e);
                        },
                        &error),
             qPrintable(error));
    QCOMPARE(bool(session.user()), stillSignedIn);
    QCOMPARE(session.allows(Action::ChangeLimits), mayChangeLimits);
    if (!stillSignedIn)
        QTRY_COMPARE_WITH_TIMEOUT(trail().constLast().action, SignInSession::signedOutAction(),
                                  10000);
}

void TestSignInSession::idleSignOut()
{
    SignInSession session([this] { return idleNow; });
    openSession(&session);
    QString error;
    QVERIFY2(runAndWait(&session,
                        [](UserDirectory& users, QString* e) {
                            return users.add(QStringLiteral("desk"), QStringLiteral("admin"),
                                             Role::Administrator, AdminPassword, QString(), e);
                        },
                        &error),
             qPrintable(error));
    QSignalSpy finished(&session, &SignInSession::signInFinished);
    session.signIn(QStringLiteral("admin"), AdminPassword);
    QVERIFY(finished.wait(10000));
    QVERIFY(session.user());

    // Activity keeps the user signed in; the idle time after the last of it signs out.
    idleNow += IdleSignOut::DefaultIdleMs - 1000;
    session.idle()->activity();
    idleNow += IdleSignOut::DefaultIdleMs - 1000;
    session.idle()->poll();
    QVERIFY(session.user());
    idleNow += 2000;
    session.idle()->poll();
    QVERIFY(!session.user());
    QVERIFY(!session.allows(Action::Acknowledge));
    QTRY_COMPARE_WITH_TIMEOUT(trail().constLast().newValue,
                              SignInSession::causeText(SignInSession::SignOutCause::Idle), 10000);
    QCOMPARE(trail().constLast().user, QStringLiteral("admin"));
}

void TestSignInSession::noUsersMeansNoAccessControl()
{
    SignInSession session;
    openSession(&session);
    QVERIFY(!session.accessControlOn());
    for (Action action : {Action::Acknowledge, Action::ManageUsers, Action::ChangeInterval})
        QVERIFY(session.allows(action));
    // Answers meant for a project closed meanwhile change nothing.
    QSignalSpy finished(&session, &SignInSession::signInFinished);
    session.signIn(QStringLiteral("admin"), AdminPassword);
    session.close();
    QVERIFY(!finished.wait(1000));
    QVERIFY(!session.user());
}

QTEST_MAIN(TestSignInSession)
#include "tst_signinsession.moc"

void TestSignInSession::signatures_data()
{
    // Steps, with "olga" (an Operator) signed in: "NAME|PASSWORD|signed" or "...|refused" (the
    // password "OP" is hers, "AP" the Administrator's), "!disable elsewhere" (another desk
    // disables her), "!sign in again".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("lastAction"); // the trail's last entry afterwards

    QTest::newRow("first signature: id and password")
        << QStringList{"olga|OP|signed"} << "signed in";
    QTest::newRow("the id in other letter case") << QStringList{"OLGA|OP|signed"} << "signed in";
    QTest::newRow("the password alone before a first signature")
        << QStringList{"|OP|refused"} << "signed in";
    QTest::newRow("the password alone for the second signature")
        << QStringList{"olga|OP|signed", "|OP|signed", "|OP|signed"} << "signed in";
    QTest::newRow("a wrong password, counted and recorded")
        << QStringList{"olga|AP|refused"} << "signature refused";
    QTest::newRow("a wrong password alone after a first signature")
        << QStringList{"olga|OP|signed", "|AP|refused"} << "signature refused";
    QTest::newRow("another user's id and password")
        << QStringList{"admin|AP|refused"} << "signed in";
    QTest::newRow("disabled at another desk")
        << QStringList{"!disable elsewhere", "olga|OP|refused"} << "signature refused";
    QTest::newRow("signed in again: the id is asked again")
        << QStringList{"olga|OP|signed", "!sign in again", "|OP|refused", "olga|OP|signed"}
        << "signed in";
}

// Catches: a signature given without both components the first time, for another user than
// the one signed in, by a disabled user, or whose wrong password is neither counted nor
// recorded; a later signature that still asks for the id.
void TestSignInSession::signatures()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, lastAction);

    SignInSession session;
    openSession(&session);
    QString error;
    QVERIFY2(runAndWait(&session,
                        [](UserDirectory& users, QString* e) {
                            return users.add(QStringLiteral("desk"), QStringLiteral("admin"),
                                             Role::Administrator, AdminPassword, QString(), e) &&
                                   users.add(QStringLiteral("admin"), QStringLiteral("olga"),
                                             Role::Operator, OperatorPassword, QString(), e);
                        },
                        &error),
             qPrintable(error));
    auto signIn = [&] {
        QSignalSpy finished(&session, &SignInSession::signInFinished);
        session.signIn(QStringLiteral("olga"), OperatorPassword);
        return finished.wait(10000) && session.user();
    };
    QVERIFY(signIn());
    for (const QString& step : qAsConst(steps)) {
        if (step == QLatin1String("!disable elsewhere")) {
            SqliteConnection other;
            QVERIFY(UserTable::open(&other, database, 5000, &error));
            UserDirectory users(other.get(), UserDirectory::Clock(), PasswordHash::least());
            QVERIFY2(users.setDisabled(QStringLiteral("admin"), QStringLiteral("olga"), true,
                                       QStringLiteral("left"), &error),
                     qPrintable(error));
            continue;
        }
        if (step == QLatin1String("!sign in again")) {
            session.signOut(SignInSession::SignOutCause::User);
            QVERIFY(signIn());
            continue;
        }
        const QStringList parts = step.split(QLatin1Char('|'));
        QCOMPARE(parts.size(), 3);
        const QByteArray password = parts.at(1) == QLatin1String("OP") ? OperatorPassword
                                                                         : AdminPassword;
        bool done = false;
        std::optional<SignatureGrant> grant;
        UserDirectory::SignInResult result;
        session.sign(parts.at(0), password,
                     [&](const UserDirectory::SignInResult& r,
                         const std::optional<SignatureGrant>& g) {
                         done = true;
                         result = r;
                         grant = g;
                     });
        QVERIFY(QTest::qWaitFor([&] { return done; }, 10000));
        const bool wanted = parts.at(2) == QLatin1String("signed");
        QVERIFY2(bool(grant) == wanted, qPrintable(step + QStringLiteral(": ") + result.message));
        if (grant) {
            QCOMPARE(grant->signer, QStringLiteral("olga"));
            QVERIFY(grant->timeMs > 0);
            QVERIFY(session.passwordAloneSigns());
        } else {
            QVERIFY(!result.message.isEmpty());
        }
    }
    QCOMPARE(trail().constLast().action, lastAction);
    // A wrong password counts with the sign-in's failures.
    SqliteConnection reader;
    std::optional<UserRecord> olga;
    QVERIFY(UserTable::open(&reader, database, 5000, &error));
    QVERIFY(UserTable::find(reader.get(), QStringLiteral("olga"), &olga, &error) && olga);
    if (lastAction == QLatin1String("signature refused") && !olga->disabled)
        QCOMPARE(olga->failedSignIns, 1);
}
