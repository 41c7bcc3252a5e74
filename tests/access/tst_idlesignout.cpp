// Sign-out after an idle time, on an injectable clock.

#include "idlesignout.h"

#include <QSignalSpy>
#include <QtTest>

class TestIdleSignOut : public QObject
{
    Q_OBJECT

private slots:
    void signsOutWhenIdle_data();
    void signsOutWhenIdle();
};

void TestIdleSignOut::signsOutWhenIdle_data()
{
    QTest::addColumn<qint64>("idleMs"); // 0: the default
    QTest::addColumn<QString>("steps"); // "a" activity, "o" signed out, "i" signed in; at minutes
    QTest::addColumn<QList<int>>("minutes"); // the minute of each step
    QTest::addColumn<qint64>("pollAtMs");
    QTest::addColumn<bool>("idle");
    QTest::addColumn<bool>("signedIn"); // at the end
    const qint64 minute = 60 * 1000;
    QTest::newRow("default: 14:59 idle stays signed in")
        << qint64(0) << QString() << QList<int>() << 15 * minute - 1000 << false << true;
    QTest::newRow("default: 15:00 idle signs out")
        << qint64(0) << QString() << QList<int>() << 15 * minute << true << false;
    QTest::newRow("activity at 10 min: 24:59 stays")
        << qint64(0) << QStringLiteral("a") << QList<int>{10} << 25 * minute - 1000 << false
        << true;
    QTest::newRow("activity at 10 min: 25:00 signs out")
        << qint64(0) << QStringLiteral("a") << QList<int>{10} << 25 * minute << true << false;
    QTest::newRow("5 minutes set: 5:00 signs out")
        << 5 * minute << QString() << QList<int>() << 5 * minute << true << false;
    QTest::newRow("10 seconds set are a minute: 0:30 stays")
        << qint64(10000) << QString() << QList<int>() << 30000ll << false << true;
    QTest::newRow("10 seconds set are a minute: 1:00 signs out")
        << qint64(10000) << QString() << QList<int>() << minute << true << false;
    QTest::newRow("signed out by hand: no idle sign-out")
        << qint64(0) << QStringLiteral("o") << QList<int>{3} << 60 * minute << false << false;
    QTest::newRow("activity after signing out does not sign in")
        << qint64(0) << QStringLiteral("oa") << QList<int>{3, 4} << 60 * minute << false << false;
    QTest::newRow("signed in again at 20 min: 34:59 stays")
        << qint64(0) << QStringLiteral("oi") << QList<int>{3, 20} << 35 * minute - 1000 << false
        << true;
}

// Catches: a sign-out before the idle time or never, activity that does not move it, a short
// setting that would sign people out while they read, a sign-out after an explicit one, idle()
// emitted twice for one sign-out.
void TestIdleSignOut::signsOutWhenIdle()
{
    QFETCH(qint64, idleMs);
    QFETCH(QString, steps);
    QFETCH(QList<int>, minutes);
    QFETCH(qint64, pollAtMs);
    QFETCH(bool, idle);
    qint64 now = 0;
    IdleSignOut idleSignOut([&now] { return now; });
    if (idleMs > 0)
        idleSignOut.setIdleMs(idleMs);
    QSignalSpy spy(&idleSignOut, &IdleSignOut::idle);
    idleSignOut.signedIn();
    for (int i = 0; i < steps.size(); ++i) {
        now = qint64(minutes.at(i)) * 60 * 1000;
        idleSignOut.poll();
        if (steps.at(i) == QLatin1Char('a'))
            idleSignOut.activity();
        else if (steps.at(i) == QLatin1Char('o'))
            idleSignOut.signedOut();
        else
            idleSignOut.signedIn();
    }
    QCOMPARE(spy.count(), 0);
    now = pollAtMs;
    idleSignOut.poll();
    idleSignOut.poll();
    QCOMPARE(spy.count(), idle ? 1 : 0);
    QTEST(idleSignOut.isSignedIn(), "signedIn");
}

QTEST_GUILESS_MAIN(TestIdleSignOut)
#include "tst_idlesignout.moc"
