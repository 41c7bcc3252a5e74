#include "loopbackcertificates.h"
#include "mosquittobroker.h"
#include "mqttlayout.h"
#include "mqttsubscriber.h"
#include "mqtttarget.h"
#include "serverprocess.h"
#include "targetprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

const QString Prefix = QStringLiteral("company/site 3");
const char* const ChildArgument = "--forwarding-child";

// Serials that are awkward as topic levels.
const QVector<QStringList> Nodes = {
    {QStringLiteral("plain"), QStringLiteral("Store 1"), QStringLiteral("Air"),
     QStringLiteral("°C")},
    {QStringLiteral("a/b"), QStringLiteral("Room \"3\""), QStringLiteral("T"),
     QStringLiteral("°F")},
    {QStringLiteral("wild+#card"), QStringLiteral("Ωμέγα"), QStringLiteral("rH"),
     QStringLiteral("%RH")},
    {QStringLiteral("$100%"), QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")},
    // Characters libmosquitto refuses in a topic: control characters, DEL, C1 controls, Unicode
    // noncharacters.
    {QStringLiteral("ctl\x01\t\x7F\u0085\uFDD0\uFFFF"), QStringLiteral("c"), QStringLiteral("d"),
     QStringLiteral("e")},
};

ForwardTiming quickTiming()
{
    ForwardTiming timing;
    timing.retryFirstMs = 100;
    timing.retryMaxMs = 400;
    timing.connectTimeoutMs = 2000;
    timing.keepAliveSeconds = 5;
    timing.maxInFlight = 8;
    timing.reportIntervalMs = 20;
    return timing;
}

MqttForwarding settingsFor(quint16 port)
{
    MqttForwarding settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.topicPrefix = Prefix;
    return settings;
}

// Topic and payload of every message a batch should bring.
QSet<QPair<QString, QByteArray>> expectedMessages(const ForwardBatch& batch)
{
    QSet<QPair<QString, QByteArray>> messages;
    for (const ForwardSample& s : batch.samples)
        messages.insert(
            {MqttLayout::sampleTopic(Prefix, s.serial, s.channel), MqttLayout::samplePayload(s)});
    for (const ForwardAlarmChange& c : batch.alarmChanges)
        messages.insert({MqttLayout::alarmTopic(Prefix, c.serial), MqttLayout::alarmPayload(c)});
    return messages;
}

// How many of the expected messages the subscriber has not received.
int missing(const MqttSubscriber& subscriber, const QSet<QPair<QString, QByteArray>>& expected)
{
    QSet<QPair<QString, QByteArray>> received;
    for (const MqttSubscriber::Message& m : subscriber.messages())
        received.insert({m.topic, m.payload});
    int count = 0;
    for (const auto& message : expected)
        count += received.contains(message) ? 0 : 1;
    return count;
}

// The retained status a subscriber that comes now is told.
QByteArray retainedStatus(quint16 port, const QString& clientId)
{
    MqttSubscriber late(clientId, port, MqttLayout::statusTopic(Prefix));
    if (!late.start())
        return "no subscription";
    if (!QTest::qWaitFor([&late] { return late.count() > 0; }, 5000))
        return "nothing";
    const QVector<MqttSubscriber::Message> messages = late.messages();
    return messages.first().retained ? messages.first().payload
                                     : "not retained: " + messages.first().payload;
}

// The child: a target that says when it is connected and then waits to be killed.
int runChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MqttTarget target(settingsFor(quint16(QByteArray(argv[2]).toUInt())), QString(), quickTiming());
    QObject::connect(&target, &ForwardTarget::statusChanged, &app, [](const ForwardStatus& status) {
        if (status.state == ForwardStatus::State::Connected) {
            std::fputs("connected\n", stdout);
            std::fflush(stdout);
        }
    });
    return app.exec();
}

} // namespace

Q_DECLARE_METATYPE(CleartextPassword)

// MqttTarget against a real mosquitto broker of the test's own.
class TestMqttTarget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyRecordAtLeastOnce();
    void statusWhenTheTargetEnds_data();
    void statusWhenTheTargetEnds();
    void brokerOutage();
    void failureIsNamed_data();
    void failureIsNamed();
    void wrongPasswordBacksOff();
    void passwordWithoutTls_data();
    void passwordWithoutTls();
    void tls_data();
    void tls();

private:
    std::unique_ptr<QTemporaryDir> dir;
};

void TestMqttTarget::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestMqttTarget::everyRecordAtLeastOnce()
{
    // Faults: a message acknowledged to the caller before the broker took it, a serial that
    // becomes extra topic levels or a wildcard, a serial with characters the library refuses in
    // a topic (the node missing from the broker, its records counted as sent), more messages in
    // flight than the bound, no retained "online".
    MosquittoBroker broker(dir->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    MqttSubscriber subscriber(QStringLiteral("counter"), broker.port(), Prefix + "/#");
    QVERIFY(subscriber.start());

    ForwardBatch batch = sampleBatch(Nodes, 60, 1700000000, 1);
    ForwardAlarmChange change;
    change.eventId = 3;
    change.changeMark = 11;
    change.serial = QStringLiteral("a/b");
    change.channel = 2;
    change.start = 1700000005;
    batch.alarmChanges << change;
    change.changeMark = 12;
    change.acknowledgedAt = 1700000009;
    change.acknowledgedBy = QStringLiteral("Kim");
    batch.alarmChanges << change;

    MqttTarget target(settingsFor(broker.port()), QString(), quickTiming());
    TargetProbe probe(&target);
    target.send(batch);
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), batch.samples.size(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.alarmChangesAcknowledged(), 2, 5000);
    QCOMPARE(probe.repeated(), 0);
    QCOMPARE(probe.last().refused, qint64(0));
    QVERIFY(probe.largestInFlight() > 0);
    QVERIFY2(probe.largestInFlight() <= quickTiming().maxInFlight,
             qPrintable(QString::number(probe.largestInFlight())));

    const auto expected = expectedMessages(batch);
    QCOMPARE(expected.size(), batch.size());
    QTRY_COMPARE_WITH_TIMEOUT(missing(subscriber, expected), 0, 10000);
    QCOMPARE(subscriber.count(MqttLayout::sampleTopic(Prefix, QStringLiteral("a/b"), 1)), 60);
    QCOMPARE(retainedStatus(broker.port(), QStringLiteral("late")), QByteArray("online"));
}

void TestMqttTarget::statusWhenTheTargetEnds_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("recorder killed: the last will") << true;
    QTest::newRow("target ended: said on the way out") << false;
}

void TestMqttTarget::statusWhenTheTargetEnds()
{
    // Faults: no last will (a dead site looks online for ever), "offline" not retained, or not
    // said on a clean end (the broker drops the will on DISCONNECT).
    QFETCH(bool, killed);
    MosquittoBroker broker(dir->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    MqttSubscriber watcher(QStringLiteral("watcher"), broker.port(),
                           MqttLayout::statusTopic(Prefix));
    QVERIFY(watcher.start());

    QProcess child;
    std::unique_ptr<MqttTarget> target;
    if (killed) {
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(ChildArgument), QString::number(broker.port())});
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(child.readAll().contains("connected") || watcher.count() > 0,
                                 20000);
    } else {
        target = std::make_unique<MqttTarget>(settingsFor(broker.port()), QString(), quickTiming());
    }
    QTRY_COMPARE_WITH_TIMEOUT(watcher.count(), 1, 20000);
    QCOMPARE(watcher.messages().last().payload, QByteArray("online"));

    if (killed) {
        child.kill();
        QVERIFY(child.waitForFinished());
    } else {
        target.reset();
    }
    QTRY_COMPARE_WITH_TIMEOUT(watcher.count(), 2, 20000);
    QCOMPARE(watcher.messages().last().payload, QByteArray("offline"));
    QCOMPARE(retainedStatus(broker.port(), QStringLiteral("late")), QByteArray("offline"));
}

void TestMqttTarget::brokerOutage()
{
    // Faults: messages in flight when the broker went away counted as sent and never sent
    // again, records handed over during the outage dropped, no reconnect after it.
    MosquittoBroker::Options options;
    options.persistence = true; // the subscriber's session outlives the broker's restart
    MosquittoBroker broker(dir->path(), options);
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    MqttSubscriber subscriber(QStringLiteral("counter"), broker.port(), Prefix + "/#");
    QVERIFY(subscriber.start());

    MqttTarget target(settingsFor(broker.port()), QString(), quickTiming());
    TargetProbe probe(&target);
    const ForwardBatch first = sampleBatch(Nodes, 300, 1700000000, 1);
    // The broker stops at the first acknowledgement, with most of the batch not yet sent.
    int ackedAtStop = -1;
    QMetaObject::Connection stopper =
        connect(&target, &ForwardTarget::acknowledged, this, [&](const ForwardAck&) {
            if (ackedAtStop >= 0)
                return;
            broker.stop();
            ackedAtStop = probe.samplesAcknowledged();
        });
    target.send(first);
    QTRY_VERIFY_WITH_TIMEOUT(ackedAtStop >= 0, 20000);
    disconnect(stopper);
    QVERIFY2(ackedAtStop < first.samples.size(), qPrintable(QString::number(ackedAtStop)));
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 20000);

    const ForwardBatch during = sampleBatch(Nodes, 20, 1700001000, 10001);
    target.send(during);
    const int attempts = probe.last().attempts;
    QTRY_VERIFY_WITH_TIMEOUT(probe.last().attempts >= attempts + 2, 20000);
    QVERIFY(probe.samplesAcknowledged() < first.samples.size());

    QVERIFY2(broker.start(), qPrintable(broker.error()));
    const int all = first.samples.size() + during.samples.size();
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), all, 30000);
    QCOMPARE(probe.last().state, ForwardStatus::State::Connected);

    auto expected = expectedMessages(first);
    expected.unite(expectedMessages(during));
    QTRY_COMPARE_WITH_TIMEOUT(missing(subscriber, expected), 0, 20000);
}

void TestMqttTarget::failureIsNamed_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("silentServer");
    QTest::addColumn<QString>("text");

    // Fault: a target that fails without saying why, or that never gives up waiting.
    QTest::newRow("nothing listens") << "127.0.0.1" << Prefix << false << "Connection refused";
    QTest::newRow("never answers") << "127.0.0.1" << Prefix << true << "did not answer within";
    QTest::newRow("wildcard prefix") << "127.0.0.1"
                                     << "a/+" << false << "must not contain";
    QTest::newRow("no host") << " " << Prefix << false << "No broker host";
    QTest::newRow("control character in prefix")
        << "127.0.0.1" << QStringLiteral("site\x01") << false << "must not contain control";
}

void TestMqttTarget::failureIsNamed()
{
    QFETCH(QString, host);
    QFETCH(QString, prefix);
    QFETCH(bool, silentServer);
    QFETCH(QString, text);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    MqttForwarding settings =
        settingsFor(silentServer ? silent.serverPort() : ServerProcess::freeLoopbackPort());
    settings.host = host;
    settings.topicPrefix = prefix;
    ForwardTiming timing = quickTiming();
    timing.connectTimeoutMs = 300;
    MqttTarget target(settings, QString(), timing);
    TargetProbe probe(&target);
    target.send(sampleBatch(Nodes.mid(0, 1), 2, 1700000000, 1));
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 10000);
    QVERIFY2(probe.last().lastError.contains(text), qPrintable(probe.last().lastError));
    // Counted once the worker took them, a moment after the failure.
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().waiting, 4, 5000);
    QCOMPARE(probe.samplesAcknowledged(), 0);
}

void TestMqttTarget::wrongPasswordBacksOff()
{
    // Faults: a refused login retried in a storm, not named as such, or records acknowledged.
    MosquittoBroker::Options options;
    options.user = QStringLiteral("site-3");
    options.password = QStringLiteral("right");
    MosquittoBroker broker(dir->path(), options);
    QVERIFY2(broker.start(), qPrintable(broker.error()));

    MqttForwarding settings = settingsFor(broker.port());
    settings.user = options.user;
    ForwardTiming timing = quickTiming();
    timing.retryFirstMs = 200;
    timing.retryMaxMs = 1600;
    MqttTarget target(settings, QStringLiteral("wrong"), timing);
    TargetProbe probe(&target);
    target.send(sampleBatch(Nodes.mid(0, 1), 2, 1700000000, 1));
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 10000);
    QVERIFY2(probe.last().lastError.contains(QLatin1String("not authorised")),
             qPrintable(probe.last().lastError));
    QElapsedTimer sinceFirstRefusal;
    sinceFirstRefusal.start();
    const int first = probe.last().attempts;
    QCOMPARE(first, 1);

    // Three more tries wait 200, 400 and 800 ms after the ones before.
    QTRY_VERIFY_WITH_TIMEOUT(probe.last().attempts >= first + 3, 10000);
    QVERIFY2(sinceFirstRefusal.elapsed() >= 1300,
             qPrintable(QString::number(sinceFirstRefusal.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(broker.countInLog(QStringLiteral("New connection from")),
                              probe.last().attempts, 5000);
    QCOMPARE(probe.samplesAcknowledged(), 0);

    MqttTarget right(settings, options.password, timing);
    TargetProbe rightProbe(&right);
    right.send(sampleBatch(Nodes.mid(0, 1), 2, 1700000000, 1));
    QTRY_COMPARE_WITH_TIMEOUT(rightProbe.samplesAcknowledged(), 4, 10000);
}

void TestMqttTarget::passwordWithoutTls_data()
{
    QTest::addColumn<CleartextPassword>("cleartext");
    QTest::addColumn<QString>("passwordProblem");
    QTest::addColumn<QString>("text");

    // A broker without TLS: CONNECT carries the password readable.
    QTest::newRow("refused: never connects")
        << CleartextPassword::Refused << QString() << "The password is not sent unencrypted";
    QTest::newRow("ticked: sent") << CleartextPassword::Allowed << QString() << QString();
    // A project from before the choice goes on as it did (the status bar warns).
    QTest::newRow("legacy project: sent") << CleartextPassword::Unset << QString() << QString();
    // The password could not be had: no login with an empty one.
    QTest::newRow("secret service locked")
        << CleartextPassword::Allowed
        << QStringLiteral("Secret service locked: password not available")
        << "Secret service locked: password not available";
}

// Catches a password sent readable without the user's choice, or a login tried with an empty
// password when the stored one could not be had.
void TestMqttTarget::passwordWithoutTls()
{
    QFETCH(CleartextPassword, cleartext);
    QFETCH(QString, passwordProblem);
    QFETCH(QString, text);
    MosquittoBroker::Options options;
    options.user = QStringLiteral("site-3");
    options.password = QStringLiteral("right");
    MosquittoBroker broker(dir->path(), options);
    QVERIFY2(broker.start(), qPrintable(broker.error()));

    MqttForwarding settings = settingsFor(broker.port());
    settings.user = options.user;
    settings.cleartext = cleartext;
    settings.passwordProblem = passwordProblem;
    MqttTarget target(settings, passwordProblem.isEmpty() ? options.password : QString(),
                      quickTiming());
    TargetProbe probe(&target);
    target.send(sampleBatch(Nodes.mid(0, 1), 2, 1700000000, 1));
    if (text.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), 4, 10000);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 10000);
    QVERIFY2(probe.last().lastError.contains(text), qPrintable(probe.last().lastError));
    QTest::qWait(300);
    QCOMPARE(broker.countInLog(QStringLiteral("New connection from")), 0);
    QCOMPARE(probe.samplesAcknowledged(), 0);
}

void TestMqttTarget::tls_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::newRow("the broker's CA") << true;
    QTest::newRow("another CA") << false;
}

void TestMqttTarget::tls()
{
    // Faults: TLS without verification (any certificate accepted), or a verified connection
    // that sends nothing.
    QFETCH(bool, trusted);
    LoopbackCertificates brokerCa(dir->filePath(QStringLiteral("ca-broker")));
    QVERIFY2(brokerCa.make(), qPrintable(brokerCa.error()));
    LoopbackCertificates otherCa(dir->filePath(QStringLiteral("ca-other")));
    QVERIFY2(otherCa.make(), qPrintable(otherCa.error()));

    MosquittoBroker::Options options;
    options.caFile = brokerCa.caFile();
    options.certFile = brokerCa.certFile();
    options.keyFile = brokerCa.keyFile();
    MosquittoBroker broker(dir->path(), options);
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    MqttSubscriber subscriber(QStringLiteral("counter"), broker.port(), Prefix + "/#");
    QVERIFY(subscriber.start());

    MqttForwarding settings = settingsFor(broker.tlsPort());
    settings.tls = true;
    settings.caFile = trusted ? brokerCa.caFile() : otherCa.caFile();
    MqttTarget target(settings, QString(), quickTiming());
    TargetProbe probe(&target);
    const ForwardBatch batch = sampleBatch(Nodes, 5, 1700000000, 1);
    target.send(batch);
    if (trusted) {
        QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), batch.samples.size(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(missing(subscriber, expectedMessages(batch)), 0, 10000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 20000);
        QVERIFY2(probe.last().lastError.contains(QLatin1String("certificate verify failed")),
                 qPrintable(probe.last().lastError));
        QTRY_VERIFY_WITH_TIMEOUT(probe.last().attempts >= 3, 10000);
        QCOMPARE(probe.samplesAcknowledged(), 0);
        QCOMPARE(subscriber.count(), 0);
    }
}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], ChildArgument) == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestMqttTarget test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mqtttarget.moc"
