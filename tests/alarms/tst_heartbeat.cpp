#include "heartbeat.h"
#include "smtpserver.h"
#include "webhookreceiver.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// The token a dead-man's-switch service puts into its URL; it must show nowhere.
const QByteArray Token = "3f1c2a9e-7d4b-4e7a-9c11-token-b8e0";

// Every message the test process traces while installed.
QStringList traced;
QtMessageHandler previousHandler = nullptr;

void keepTrace(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    traced << text;
    if (previousHandler)
        previousHandler(type, context, text);
}

} // namespace

// The heartbeat on a clock the test drives, calling a receiver on loopback.
class TestHeartbeat : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void beatsWhileRecording_data();
    void beatsWhileRecording();
    void failedCallShownAndNextBeatCalls_data();
    void failedCallShownAndNextBeatCalls();

private:
    // One tick at `now`, and the wait for the answer of a call it made.
    void tickAt(Heartbeat& heartbeat, const QDateTime& at);

    QDateTime now;
};

void TestHeartbeat::init()
{
    traced.clear();
    previousHandler = qInstallMessageHandler(keepTrace);
    now = QDateTime(QDate(2026, 3, 29), QTime(1, 50), Qt::LocalTime);
}

void TestHeartbeat::cleanup()
{
    qInstallMessageHandler(previousHandler);
    for (const QString& line : qAsConst(traced))
        QVERIFY2(!line.contains(QString::fromLatin1(Token)), qPrintable(line));
}

void TestHeartbeat::tickAt(Heartbeat& heartbeat, const QDateTime& at)
{
    now = at;
    heartbeat.tick();
    QTRY_VERIFY_WITH_TIMEOUT(!heartbeat.isCalling(), 20000);
}

void TestHeartbeat::beatsWhileRecording_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<bool>("withUrl");
    QTest::addColumn<bool>("recording");
    QTest::addColumn<int>("duration"); // minutes recorded, ticked each second
    QTest::addColumn<int>("backAt");   // the minute the clock is set back an hour; -1: never
    QTest::addColumn<int>("calls");
    QTest::newRow("every minute") << 1 << true << true << 5 << -1 << 5;
    QTest::newRow("every 5 minutes") << 5 << true << true << 12 << -1 << 3;
    QTest::newRow("off") << 0 << true << true << 5 << -1 << 0;
    QTest::newRow("no URL stored") << 1 << false << true << 5 << -1 << 0;
    QTest::newRow("open but not recording") << 1 << true << false << 5 << -1 << 0;
    QTest::newRow("clock set back an hour") << 5 << true << true << 12 << 7 << 3;
    QTest::newRow("longest beat, across the summer-time change")
        << 1440 << true << true << 1441 << -1 << 2;
}

// Catches beats that do not come every N minutes, calls made with the heartbeat off, without a
// URL or while not recording, calls that go on after recording stopped, and a clock set back
// that holds the calls until it has caught up (the service would alert for an hour).
void TestHeartbeat::beatsWhileRecording()
{
    QFETCH(int, minutes);
    QFETCH(bool, withUrl);
    QFETCH(bool, recording);
    QFETCH(int, duration);
    QFETCH(int, backAt);
    QFETCH(int, calls);

    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    Heartbeat heartbeat;
    heartbeat.setClock([this] { return now; });
    heartbeat.setMinutes(minutes);
    if (withUrl)
        heartbeat.setUrl(receiver.url(QStringLiteral("/ping/") + QString::fromLatin1(Token)));
    heartbeat.setRecording(recording);
    const QDateTime start = now;
    // Each second where a minute of the day begins; the second before a beat as well, to see
    // that it is not early.
    for (qint64 s = 0; s < qint64(duration) * 60; ++s) {
        if (s % 60 != 0 && s % 60 != 59)
            continue;
        const qint64 back = backAt >= 0 && s >= backAt * 60 ? 3600 : 0;
        tickAt(heartbeat, start.addSecs(s - back));
    }
    QCOMPARE(receiver.requests().size(), calls);
    for (const WebhookReceiver::Request& request : receiver.requests()) {
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, "/ping/" + Token);
        QVERIFY(request.body.isEmpty());
    }
    QVERIFY(heartbeat.problem().isEmpty());

    // Recording stops: no call, however long the project stays open.
    heartbeat.setRecording(false);
    for (int m = 0; m <= 3 * qMax(minutes, 1); ++m)
        tickAt(heartbeat, now.addSecs(60));
    QCOMPARE(receiver.requests().size(), calls);
}

void TestHeartbeat::failedCallShownAndNextBeatCalls_data()
{
    QTest::addColumn<int>("status"); // 0: nothing listens on the port
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QString>("shown"); // part of the problem shown
    QTest::newRow("server error") << 500 << QByteArray("Internal Server Error") << "500";
    QTest::newRow("unknown check") << 404 << QByteArray("Not Found") << "404";
    QTest::newRow("answer that echoes the URL")
        << 503 << QByteArray("Unavailable: GET /ping/" + Token) << "<heartbeat URL>";
    QTest::newRow("redirect not followed") << 302 << QByteArray("Found") << "302";
    QTest::newRow("closed port") << 0 << QByteArray() << "Heartbeat failed at";
}

// Catches a failed call that is not shown (the user believes the watch is on), one that stops
// the beats that follow, a problem still shown once a call went through, a trace at every beat
// of an outage, and the URL's token in a text shown or traced.
void TestHeartbeat::failedCallShownAndNextBeatCalls()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(QString, shown);

    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    receiver.setAnswer(status, reason, QByteArray());
    const QString path = QStringLiteral("/ping/") + QString::fromLatin1(Token);
    const QString url = status == 0 ? QStringLiteral("http://127.0.0.1:") +
                                          QString::number(SmtpServer::closedPort()) + path
                                    : receiver.url(path);
    Heartbeat heartbeat;
    heartbeat.setClock([this] { return now; });
    QSignalSpy problems(&heartbeat, &Heartbeat::problemChanged);
    QSignalSpy called(&heartbeat, &Heartbeat::called);
    heartbeat.setMinutes(2);
    heartbeat.setUrl(url);
    heartbeat.setRecording(true);

    tickAt(heartbeat, now);
    QCOMPARE(called.size(), 1);
    QCOMPARE(called.last().at(0).toBool(), false);
    QCOMPARE(problems.size(), 1);
    QVERIFY2(heartbeat.problem().startsWith(QStringLiteral("Heartbeat failed at 01:50:00")),
             qPrintable(heartbeat.problem()));
    QVERIFY2(heartbeat.problem().contains(shown), qPrintable(heartbeat.problem()));
    QVERIFY(!heartbeat.problem().contains(QString::fromLatin1(Token)));

    // Not called again before the next beat; called again at it.
    tickAt(heartbeat, now.addSecs(119));
    QCOMPARE(called.size(), 1);
    receiver.setAnswer(200, "OK", QByteArray());
    tickAt(heartbeat, now.addSecs(1));
    QCOMPARE(called.size(), 2);
    // An outage is traced once, and the end of it once, not at every beat.
    QCOMPARE(traced.filter(QStringLiteral("call failed")).size(), 1);
    QCOMPARE(traced.filter(QStringLiteral("go through again")).size(), status == 0 ? 0 : 1);
    QCOMPARE(receiver.requests().size(), status == 0 ? 0 : 2);
    if (status == 0) {
        // Still failing: still shown, with the time of the last failure.
        QVERIFY2(heartbeat.problem().startsWith(QStringLiteral("Heartbeat failed at 01:52:00")),
                 qPrintable(heartbeat.problem()));
    } else {
        QCOMPARE(called.last().at(0).toBool(), true);
        QCOMPARE(heartbeat.problem(), QString());
    }

    // Stopped: the problem of a watch no longer running is not shown.
    heartbeat.setRecording(false);
    QCOMPARE(heartbeat.problem(), QString());
}

QTEST_GUILESS_MAIN(TestHeartbeat)
#include "tst_heartbeat.moc"
