#include "heartbeat.h"
#include "smtpserver.h"
#include "webhookreceiver.h"

#include <QtTest>

namespace {

// The token a dead-man's-switch service puts into its URL; it must show nowhere.
const QByteArray Path = "/ping/3f1c2a9e-7d4b-4e7a-9c11-token-b8e0";
QStringList traced;
QtMessageHandler previousHandler = nullptr;

void keepTrace(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    traced << text;
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
    void tickAt(const QDateTime& at);

    QDateTime now;
    std::unique_ptr<Heartbeat> heartbeat;
};

void TestHeartbeat::init()
{
    traced.clear();
    previousHandler = qInstallMessageHandler(keepTrace);
    now = QDateTime(QDate(2026, 3, 29), QTime(1, 50));
    heartbeat = std::make_unique<Heartbeat>();
    heartbeat->setClock([this] { return now; });
}

void TestHeartbeat::cleanup()
{
    heartbeat.reset();
    qInstallMessageHandler(previousHandler);
    for (const QString& line : qAsConst(traced))
        QVERIFY2(!line.contains(QString::fromLatin1(Path)), qPrintable(line));
}

void TestHeartbeat::tickAt(const QDateTime& at)
{
    now = at;
    heartbeat->tick();
    QTRY_VERIFY_WITH_TIMEOUT(!heartbeat->isCalling(), 20000);
}

void TestHeartbeat::beatsWhileRecording_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<bool>("withUrl");
    QTest::addColumn<int>("duration"); // minutes recorded
    QTest::addColumn<int>("backAt");   // the minute the clock is set back an hour; -1: never
    QTest::addColumn<int>("calls");
    QTest::newRow("every minute") << 1 << true << 5 << -1 << 5;
    QTest::newRow("every 5 minutes") << 5 << true << 12 << -1 << 3;
    QTest::newRow("off") << 0 << true << 5 << -1 << 0;
    QTest::newRow("no URL stored") << 1 << false << 5 << -1 << 0;
    QTest::newRow("clock set back an hour") << 5 << true << 12 << 7 << 3;
    QTest::newRow("once a day, across summer time") << 1440 << true << 1441 << -1 << 2;
}

// Catches beats that do not come every N minutes, calls with the heartbeat off or without a
// URL, calls that go on after recording stopped, and a clock set back that holds the calls until
// it has caught up (the service would alert for an hour).
void TestHeartbeat::beatsWhileRecording()
{
    QFETCH(int, minutes);
    QFETCH(bool, withUrl);
    QFETCH(int, duration);
    QFETCH(int, backAt);
    QFETCH(int, calls);
    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    heartbeat->setMinutes(minutes);
    heartbeat->setUrl(withUrl ? receiver.url(QString::fromLatin1(Path)) : QString());
    heartbeat->setRecording(true);
    const QDateTime start = now;
    // The first and the last second of each minute: a beat neither early nor late.
    for (qint64 s = 0; s < qint64(duration) * 60; s += s % 60 == 0 ? 59 : 1)
        tickAt(start.addSecs(s - (backAt >= 0 && s >= backAt * 60 ? 3600 : 0)));
    QCOMPARE(receiver.requests().size(), calls);
    for (const WebhookReceiver::Request& request : receiver.requests())
        QCOMPARE(QByteArray(request.method + ' ' + request.path + request.body),
                 QByteArray("GET " + Path));
    heartbeat->setRecording(false);
    for (int m = 0; m <= 3 * qMax(minutes, 1); ++m)
        tickAt(now.addSecs(60));
    QCOMPARE(receiver.requests().size(), calls);
}

void TestHeartbeat::failedCallShownAndNextBeatCalls_data()
{
    QTest::addColumn<int>("status"); // 0: nothing listens on the port
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QString>("shown"); // part of the problem shown
    QTest::newRow("server error") << 500 << QByteArray("Internal Server Error") << "500";
    QTest::newRow("answer that echoes the URL")
        << 503 << QByteArray("Unavailable: GET " + Path) << "Unavailable: GET <heartbeat URL>";
    QTest::newRow("closed port") << 0 << QByteArray() << "connect";
}

// Catches a failed call that is not shown (the user believes the watch is on), one that stops
// the beats that follow, a problem still shown once a call went through or the heartbeat
// stopped, a trace at every beat of an outage, and the URL's token in a text shown or traced.
void TestHeartbeat::failedCallShownAndNextBeatCalls()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(QString, shown);
    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    receiver.setAnswer(status, reason, QByteArray());
    heartbeat->setMinutes(2);
    heartbeat->setUrl(status ? receiver.url(QString::fromLatin1(Path))
                             : QStringLiteral("http://127.0.0.1:%1").arg(SmtpServer::closedPort()) +
                                   QString::fromLatin1(Path));
    heartbeat->setRecording(true);
    tickAt(now);
    QVERIFY2(heartbeat->problem().startsWith(QStringLiteral("Heartbeat failed at 01:50:00: ")) &&
                 heartbeat->problem().contains(shown),
             qPrintable(heartbeat->problem()));

    // Not called again before the next beat; called again at it. Still failing: the time of the
    // last failure; else nothing.
    tickAt(now.addSecs(119));
    QCOMPARE(receiver.requests().size(), status ? 1 : 0);
    receiver.setAnswer(200, "OK", QByteArray());
    tickAt(now.addSecs(1));
    QCOMPARE(receiver.requests().size(), status ? 2 : 0);
    QCOMPARE(heartbeat->problem().left(28),
             status ? QString() : QStringLiteral("Heartbeat failed at 01:52:00"));
    QCOMPARE(traced.filter(QStringLiteral("call failed")).size(), 1);
    QCOMPARE(traced.filter(QStringLiteral("go through again")).size(), status ? 1 : 0);
    heartbeat->setRecording(false);
    QCOMPARE(heartbeat->problem(), QString());
}

QTEST_GUILESS_MAIN(TestHeartbeat)
#include "tst_heartbeat.moc"
