// The gate before each changing action, against a real sign-in session on a temporary database,
// with the person at the desk played by the test's asks.

#include "accessgate.h"
#include "signinsession.h"

#include <QFile>
#include <QTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Action = AccessPolicy::Action;
using Role = AccessPolicy::Role;

namespace {

const QByteArray Password = "gate-password-1";

struct Refusal
{
    QString user;
    QString action;
    QString what;
};

} // namespace

class TestAccessGate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void authorize_data();
    void authorize();

    void sign_data();
    void sign();

private:
    bool signIn(SignInSession* session, const QString& name);
    // Ada (Administrator), sam (Supervisor) and olga (Operator); `before` signed in.
    void prepare(SignInSession* session, const QString& before);

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
};

void TestAccessGate::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    database = dir->filePath(QStringLiteral("project.dat"));
    QFile file(database);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

bool TestAccessGate::signIn(SignInSession* session, const QString& name)
{
    bool done = false;
    QObject context;
    connect(session, &SignInSession::signInFinished, &context, [&] { done = true; });
    session->signIn(name, Password);
    return QTest::qWaitFor([&] { return done; }, 10000) && session->user();
}

void TestAccessGate::authorize_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("before");  // signed in before the action ("": nobody)
    QTest::addColumn<QString>("signsIn"); // "cancel", "claim" (true, nobody signed in) or a name
    QTest::addColumn<QString>("reason");  // "cancel" or the text given
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("refusedAs"); // the user of the refusal recorded

    const int limits = int(Action::ChangeLimits);
    QTest::newRow("allowed user signed in: only the reason asked")
        << limits << "sam"
        << "cancel"
        << "new stock" << true << QString();
    QTest::newRow("nobody signed in, sign-in cancelled")
        << limits << ""
        << "cancel"
        << "new stock" << false << AccessGate::notSignedIn();
    QTest::newRow("too low a role, the other user signs in") << limits << "olga"
                                                             << "sam"
                                                             << "new stock" << true << QString();
    QTest::newRow("too low a role, sign-in cancelled") << limits << "olga"
                                                       << "cancel"
                                                       << "new stock" << false << "olga";
    QTest::newRow("an ask claiming a sign-in that did not happen")
        << limits << ""
        << "claim"
        << "new stock" << false << AccessGate::notSignedIn();
    QTest::newRow("an ask claiming a sign-in of too low a role") << limits << "olga"
                                                                 << "claim"
                                                                 << "new stock" << false << "olga";
    QTest::newRow("reason cancelled") << limits << "sam"
                                      << "cancel"
                                      << "cancel" << false << "sam";
    QTest::newRow("blank reason") << limits << "sam"
                                  << "cancel"
                                  << " \t\n " << false << "sam";
    QTest::newRow("acknowledgement: no reason asked") << int(Action::Acknowledge) << "olga"
                                                      << "cancel"
                                                      << "cancel" << true << QString();
    QTest::newRow("users need an Administrator") << int(Action::ManageUsers) << "sam"
                                                 << "cancel"
                                                 << "leaver" << false << "sam";
}

void TestAccessGate::prepare(SignInSession* session, const QString& before)
{
    session->setCost(PasswordHash::least());
    session->open(database);
    QTRY_VERIFY_WITH_TIMEOUT(session->isReady(), 10000);
    bool done = false;
    bool added = false;
    session->run(
        [](UserDirectory& users, QString* e) {
            return users.add(QStringLiteral("desk"), QStringLiteral("ada"), Role::Administrator,
                             Password, QStringLiteral("first"), e) &&
                   users.add(QStringLiteral("desk"), QStringLiteral("sam"), Role::Supervisor,
                             Password, QStringLiteral("lead"), e) &&
                   users.add(QStringLiteral("desk"), QStringLiteral("olga"), Role::Operator,
                             Password, QStringLiteral("shift"), e);
        },
        [&](bool ok, const QString&) {
            done = true;
            added = ok;
        });
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    QVERIFY(added);
    QVERIFY(session->accessControlOn());
    if (!before.isEmpty())
        QVERIFY(signIn(session, before));
}

void TestAccessGate::authorize()
{
    QFETCH(int, action);
    QFETCH(QString, before);
    QFETCH(QString, signsIn);
    QFETCH(QString, reason);
    QFETCH(bool, allowed);
    QFETCH(QString, refusedAs);

    SignInSession session;
    prepare(&session, before);
    if (QTest::currentTestFailed())
        return;

    AccessGate gate(&session);
    QVector<Refusal> refusals;
    gate.setRefusalRecorder([&](const QString& user, const QString& act, const QString& what) {
        refusals << Refusal{user, act, what};
    });
    int reasonAsks = 0;
    gate.setAsks(
        [&](SignInSession* asked, Action, const QString&) {
            if (signsIn == QLatin1String("cancel"))
                return false;
            if (signsIn == QLatin1String("claim"))
                return true;
            return signIn(asked, signsIn);
        },
        [&](const QString&, QString* given) {
            ++reasonAsks;
            if (reason == QLatin1String("cancel"))
                return false;
            *given = reason;
            return true;
        });

    ProjectAudit::Actor actor;
    QCOMPARE(gate.authorize(Action(action), QStringLiteral("Change node 7"), &actor), allowed);
    const bool asksReason = AccessGate::asksReason(Action(action));
    if (allowed) {
        QVERIFY(refusals.isEmpty());
        QCOMPARE(actor.user, session.user()->name);
        QCOMPARE(actor.reason, asksReason ? reason : QString());
        QCOMPARE(reasonAsks, asksReason ? 1 : 0);
        // Held for what the change records.
        QCOMPARE(gate.currentActor().user, actor.user);
        QCOMPARE(gate.currentActor().reason, actor.reason);
        gate.release();
        QCOMPARE(gate.currentActor().reason, QString());
    } else {
        QCOMPARE(refusals.size(), 1);
        QCOMPARE(refusals.first().user, refusedAs);
        QCOMPARE(refusals.first().what, QStringLiteral("Change node 7"));
        QVERIFY2(refusals.first().action.contains(
                     AccessPolicy::roleText(AccessPolicy::neededFor(Action(action)))),
                 qPrintable(refusals.first().action));
        QCOMPARE(gate.currentActor().reason, QString());
    }
    session.close();
}

void TestAccessGate::sign_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("before");    // signed in before ("": nobody)
    QTest::addColumn<QString>("signature"); // what the signature ask answers: a signer, "cancel"
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("signatureAsks");
    QTest::addColumn<QString>("refused"); // in the refusal recorded; "": none

    using Answer = AccessGate::SignatureAnswer;
    QTest::newRow("signed by the user signed in")
        << int(Action::Acknowledge) << "olga" << "olga" << int(Answer::Signed) << 1 << "";
    QTest::newRow("the id in other letter case")
        << int(Action::ShelveAlarms) << "sam" << "SAM" << int(Answer::Signed) << 1 << "";
    QTest::newRow("signature cancelled") << int(Action::Acknowledge) << "olga" << "cancel"
                                         << int(Answer::Cancelled) << 1 << "cancelled";
    QTest::newRow("a grant of another user than the one signed in")
        << int(Action::Acknowledge) << "olga" << "sam" << int(Answer::Cancelled) << 1
        << "not allowed";
    QTest::newRow("too low a role: no signature asked")
        << int(Action::PutOutOfService) << "olga" << "olga" << int(Answer::Cancelled) << 0
        << "Supervisor";
}

// Catches: a signature taken from anyone but the user signed in and allowed, a cancelled one
// taken as given, and a refused or cancelled one not recorded.
void TestAccessGate::sign()
{
    QFETCH(int, action);
    QFETCH(QString, before);
    QFETCH(QString, signature);
    QFETCH(int, outcome);
    QFETCH(int, signatureAsks);
    QFETCH(QString, refused);

    SignInSession session;
    prepare(&session, before);
    if (QTest::currentTestFailed())
        return;
    AccessGate gate(&session);
    QVector<Refusal> refusals;
    gate.setRefusalRecorder([&](const QString& user, const QString& act, const QString& what) {
        refusals << Refusal{user, act, what};
    });
    // No other sign-in: the one before stands.
    gate.setAsks([](SignInSession*, Action, const QString&) { return false; },
                 [](const QString&, QString*) { return false; });
    int asks = 0;
    gate.setSignatureAsk([&](SignInSession*, const QString& meaning, const QString& what,
                             const AccessGate::SignatureDone& done) {
        ++asks;
        QCOMPARE(meaning, QStringLiteral("shelved"));
        QCOMPARE(what, QStringLiteral("Shelve node 7"));
        // Answered later, from the event loop, as the dialog does.
        QTimer::singleShot(0, [done, signature] {
            if (signature == QLatin1String("cancel"))
                done(std::nullopt);
            else
                done(SignatureGrant{signature, signature, 1000});
        });
    });
    std::optional<AccessGate::SignatureAnswer> answer;
    gate.sign(Action(action), QStringLiteral("shelved"), QStringLiteral("Shelve node 7"),
              [&](const AccessGate::SignatureAnswer& a) { answer = a; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(int(answer->outcome), outcome);
    QCOMPARE(asks, signatureAsks);
    QCOMPARE(answer->grant.has_value(), outcome == int(AccessGate::SignatureAnswer::Signed));
    if (refused.isEmpty()) {
        QVERIFY(refusals.isEmpty());
    } else {
        QCOMPARE(refusals.size(), 1);
        QCOMPARE(refusals.first().user, before);
        QVERIFY2(refusals.first().action.contains(refused), qPrintable(refusals.first().action));
    }
    session.close();
}

QTEST_MAIN(TestAccessGate)
#include "tst_accessgate.moc"
