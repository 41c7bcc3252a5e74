// An alarm test through real servers (aiosmtpd, a local HTTP receiver, mosquitto), one of them
// down or refusing: each target's answer reaches the alarm-test log through the project's
// writer, the alarm event log stays empty, and the report's table lists the test.

#include "alarmtestlog.h"
#include "alarmtestrun.h"
#include "alarmtesttable.h"
#include "databasepeek.h"
#include "databasewriter.h"
#include "forwarder.h"
#include "influxserver.h"
#include "mosquittobroker.h"
#include "mqttsubscriber.h"
#include "notificationservice.h"
#include "notificationsettings.h"
#include "smtpserver.h"
#include "tickingwriter.h"
#include "webhookreceiver.h"
#include "writejob.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

namespace {

QString answerOf(const QVector<AlarmTestRecord>& rows, const QString& target)
{
    for (const AlarmTestRecord& r : rows) {
        if (r.target == target)
            return r.answer;
    }
    return QStringLiteral("(none)");
}

} // namespace

class TestAlarmTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneTargetDown_data();
    void oneTargetDown();

private:
    QTemporaryDir dir;
    std::unique_ptr<InfluxServer> influx;
    qint64 nextTest = 1765000000;
};

void TestAlarmTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("influx"))));
    influx = std::make_unique<InfluxServer>(dir.filePath(QStringLiteral("influx")));
    QVERIFY2(influx->start(), qPrintable(influx->error()));
    QVERIFY(influx->createDatabase(QStringLiteral("plant")));
}

void TestAlarmTest::oneTargetDown_data()
{
    QTest::addColumn<bool>("mailUp");
    QTest::addColumn<int>("webhookStatus");
    QTest::addColumn<bool>("brokerUp");
    QTest::addColumn<QString>("influxDatabase");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<QString>("webhook");
    QTest::addColumn<QString>("mqtt");
    QTest::addColumn<QString>("influx");
    const QString ok = AlarmTestRecord::acceptedAnswer();
    const QString refused = AlarmTestRecord::refusedAnswer();
    const QString silent = AlarmTestRecord::noAnswer();
    // Catches: a target that failed logged as accepted, one answer waiting for another.
    const QString db = QStringLiteral("plant");
    QTest::newRow("mail server down") << false << 200 << true << db << refused << ok << ok << ok;
    // Catches: a webhook's 5xx taken for an answer, the receiver's words lost.
    QTest::newRow("webhook refuses") << true << 503 << true << db << ok << refused << ok << ok;
    // Catches: a broker that never answers holding the test for ever, or logged as accepted.
    QTest::newRow("broker down") << true << 200 << false << db << ok << ok << silent << ok;
    // Catches: a write InfluxDB cannot store (no such database) logged as taken.
    QTest::newRow("InfluxDB without the database")
        << true << 200 << true << QStringLiteral("missing") << ok << ok << ok << silent;
}

void TestAlarmTest::oneTargetDown()
{
    QFETCH(bool, mailUp);
    QFETCH(int, webhookStatus);
    QFETCH(bool, brokerUp);
    QFETCH(QString, influxDatabase);
    const QString row = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');
    const QString folder = dir.filePath(row);
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/smtp")));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/mqtt")));

    SmtpServer smtp(folder + QStringLiteral("/smtp"));
    if (mailUp)
        QVERIFY2(smtp.start(SmtpServer::Mode::Plain), qPrintable(smtp.errorString()));
    WebhookReceiver webhook;
    QVERIFY(webhook.listen());
    webhook.setAnswer(webhookStatus, webhookStatus == 200 ? "OK" : "Service Unavailable",
                      webhookStatus == 200 ? "{\"ok\":true}" : "maintenance window");
    MosquittoBroker broker(folder + QStringLiteral("/mqtt"));
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    std::unique_ptr<MqttSubscriber> subscriber;
    if (brokerUp) {
        subscriber = std::make_unique<MqttSubscriber>(QStringLiteral("alarmtest-") + row,
                                                      broker.port(), QStringLiteral("plant/#"));
        QVERIFY(subscriber->start());
    }
    const quint16 brokerPort = broker.port();
    if (!brokerUp)
        broker.stop();

    const QString database = folder + QStringLiteral("/plant.db");
    TickingWriter ticking(database, QUuid::createUuid().toString());
    QVERIFY(ticking.open());

    NotificationSettings settings;
    settings.emailEnabled = true;
    settings.smtpHost = QStringLiteral("127.0.0.1");
    settings.smtpPort = mailUp ? smtp.port() : SmtpServer::closedPort();
    settings.smtpSecurity = SmtpSecurity::None;
    settings.sender = QStringLiteral("recorder@plant.example");
    settings.recipients = QStringList{QStringLiteral("qa@plant.example")};
    settings.webhookEnabled = true;
    NotificationTarget mail = settings.emailTarget(QString());
    mail.connectTimeoutMs = 3000;
    const QVector<NotificationTarget> targets{mail, settings.webhookTarget(webhook.url("/hook"))};

    ForwardingSettings forwarding;
    forwarding.mqtt.enabled = true;
    forwarding.mqtt.host = QStringLiteral("127.0.0.1");
    forwarding.mqtt.port = brokerPort;
    forwarding.mqtt.topicPrefix = QStringLiteral("plant");
    forwarding.influx.enabled = true;
    forwarding.influx.url = influx->url();
    forwarding.influx.database = influxDatabase;
    ForwarderOptions options;
    options.timing.connectTimeoutMs = 1000;
    options.timing.retryFirstMs = 200;
    options.timing.reportIntervalMs = 20;
    Forwarder forwarder(database, forwarding, QString(), QString(), ticking.writer(), options);

    NotificationService service;
    AlarmTestRun run(&service, &forwarder);
    run.setTimeoutMs(6000);
    AlarmTestRun::Request request;
    request.time = ++nextTest;
    request.testId = request.time * 1000 + 123;
    request.user = QStringLiteral("olga");
    request.project = QStringLiteral("Plant");
    request.serial = QStringLiteral("N-7");
    request.nodesText = QStringLiteral("Freezer 2 (N-7)");
    request.serials = QStringList{QStringLiteral("N-7")};
    QSignalSpy finished(&run, &AlarmTestRun::finished);
    QCOMPARE(run.start(request, targets), 4);
    QVERIFY(finished.wait(20000));
    const auto rows = finished.first().first().value<QVector<AlarmTestRecord>>();
    QTEST(answerOf(rows, QStringLiteral("email")), "mail");
    QTEST(answerOf(rows, settings.webhookName), "webhook");
    QTEST(answerOf(rows, QStringLiteral("mqtt")), "mqtt");
    QTEST(answerOf(rows, QStringLiteral("influx")), "influx");
    for (const AlarmTestRecord& r : rows)
        QVERIFY2(!r.text.isEmpty(), qPrintable(r.target));

    // What reached the servers that were up is marked as a test.
    if (mailUp) {
        QTRY_COMPARE_WITH_TIMEOUT(smtp.messages().size(), 1, 5000);
        QVERIFY(smtp.messages().first().contains("Subject: [TEST] [Plant] Alarm test:"));
    }
    QCOMPARE(webhook.requests().size(), 1);
    QCOMPARE(QJsonDocument::fromJson(webhook.requests().first().body)
                 .object()
                 .value(QStringLiteral("test"))
                 .toBool(),
             true);
    if (brokerUp) {
        QTRY_COMPARE_WITH_TIMEOUT(subscriber->count(QStringLiteral("plant/alarmtest/N-7/test")), 1,
                                  5000);
        QCOMPARE(subscriber->count(QStringLiteral("plant/N-7/alarm")), 0);
    }
    if (influxDatabase == QLatin1String("plant")) {
        const QString points = QString::fromUtf8(
            QJsonDocument(
                influx->query(influxDatabase, QStringLiteral("SELECT test_id FROM alarm_test WHERE "
                                                             "test = 'true' AND serial = 'N-7' AND "
                                                             "time = %1s")
                                                  .arg(request.time)))
                .toJson(QJsonDocument::Compact));
        QVERIFY2(points.contains(QString::number(request.testId)), qPrintable(points));
    }

    // The log through the writer; never an alarm event.
    AlarmTestLog log(database, [&ticking](const WriteJob& job) { ticking.writer()->submit(job); });
    QString error;
    QVERIFY2(log.open(&error), qPrintable(error));
    log.add(rows);
    QVERIFY(ticking.settle());
    QVector<AlarmTestRecord> stored;
    QVERIFY2(AlarmTestTable::read(database, request.time, request.time + 1, &stored, &error),
             qPrintable(error));
    QCOMPARE(stored.size(), 4);
    QTEST(answerOf(stored, QStringLiteral("mqtt")), "mqtt");
    QVERIFY(DatabasePeek::scalar(database, QStringLiteral("select count(*) from alarm_event")) <=
            0);

    // The log of a period holding it (what the reports read) has it, one row per target; one
    // after it does not. The report's table itself is checked by the golden report pages.
    QVector<AlarmTestRecord> period;
    QVERIFY2(AlarmTestTable::read(database, request.time - 3600, request.time + 3600, &period,
                                  &error),
             qPrintable(error));
    QCOMPARE(period.size(), 4);
    for (const AlarmTestRecord& logged : qAsConst(period))
        QCOMPARE(logged.nodes, QStringLiteral("N-7"));
    QVERIFY2(AlarmTestTable::read(database, request.time + 1, request.time + 3600, &period, &error),
             qPrintable(error));
    QVERIFY(period.isEmpty());
}

QTEST_GUILESS_MAIN(TestAlarmTest)
#include "tst_alarmtest.moc"
