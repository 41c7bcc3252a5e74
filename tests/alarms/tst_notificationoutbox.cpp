#include "alarmmonitor.h"
#include "databasewriter.h"
#include "notificationoutbox.h"
#include "notificationscheduler.h"
#include "notificationservice.h"
#include "notificationsettings.h"
#include "novalue.h"
#include "outboxindicator.h"
#include "outboxtable.h"
#include "smtpserver.h"
#include "sqliteconnection.h"
#include "webhookreceiver.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

namespace {

const QDateTime Base(QDate(2024, 3, 31), QTime(0, 30), Qt::UTC);
const QString Duty = QStringLiteral("duty@store.example");
const QString Chief = QStringLiteral("chief@store.example");

// The Message-ID's local part ("alarm.1.start") of each stored mail, and its recipients.
QStringList mailKeys(const QList<QByteArray>& mails, QStringList* recipients = nullptr)
{
    QStringList keys;
    for (const QByteArray& mail : mails) {
        const int at = mail.indexOf("Message-ID: <");
        const int end = mail.indexOf('@', at);
        keys << QString::fromUtf8(mail.mid(at + 13, end - at - 13));
        if (recipients) {
            const int to = mail.indexOf("X-RcptTo: ");
            recipients->append(
                QString::fromUtf8(mail.mid(to + 10, mail.indexOf('\n', to) - to - 10)).trimmed());
        }
    }
    return keys;
}

QStringList hookKeys(const QList<WebhookReceiver::Request>& requests)
{
    QStringList keys;
    for (const WebhookReceiver::Request& r : requests)
        keys << QJsonDocument::fromJson(r.body)
                    .object()
                    .value(QStringLiteral("message_id"))
                    .toString();
    return keys;
}

// A port on which nothing listens: a mail server that is down.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QVector<OutboxRecord> outboxRows(const QString& database)
{
    QVector<OutboxRecord> rows;
    SqliteConnection db;
    QString error;
    if (db.open(database, SQLITE_OPEN_READONLY))
        OutboxTable::all(db.get(), &rows, &error);
    return rows;
}

} // namespace

// Alarms to messages at real servers on loopback (the test's SMTP server and a webhook
// receiver), through the outbox in the project's database, on a clock the test drives: what the
// delay, clearing, reminders, acknowledgements and escalation send, an outage of the mail
// server, and a recorder killed with messages in its outbox.
class TestNotificationOutbox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void messagesForAlarms_data();
    void messagesForAlarms();
    void retryDelays();
    void serverDownThenBack();
    void permanentFailures_data();
    void permanentFailures();
    void deferredRecipientTriedAgain();
    void killedWithMessagesInTheOutbox();

private:
    void openOutbox(quint16 smtpPort);
    // Ticks the clock a second at a time for `seconds`, with every send answered before the
    // next second.
    void advance(int seconds);
    void settle();

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
    std::unique_ptr<SmtpServer> smtp;
    std::unique_ptr<WebhookReceiver> hook;
    std::unique_ptr<DatabaseWriter> writer;
    std::unique_ptr<NotificationService> service;
    std::unique_ptr<NotificationOutbox> outbox;
    std::unique_ptr<AlarmMonitor> monitor;
    std::unique_ptr<NotificationScheduler> scheduler;
    NotificationSettings settings;
    QDateTime now;
    double value = 20;
};

void TestNotificationOutbox::initTestCase()
{
    qRegisterMetaType<AlarmEventRecord>();
}

void TestNotificationOutbox::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    database = dir->filePath(QStringLiteral("project.dat"));
    smtp = std::make_unique<SmtpServer>(dir->path());
    hook = std::make_unique<WebhookReceiver>();
    QVERIFY(hook->listen());
    now = Base;
    value = 20;
    settings = NotificationSettings();
    settings.emailEnabled = true;
    settings.smtpHost = QStringLiteral("127.0.0.1");
    settings.smtpSecurity = SmtpSecurity::None;
    settings.sender = QStringLiteral("recorder@store.example");
    settings.recipients = QStringList{Duty};
    settings.escalationRecipients = QStringList{Chief};
    settings.webhookEnabled = true;
    settings.reminderMinutes = 30;
    settings.escalationEnabled = true;
    settings.escalationMinutes = 60;
}

void TestNotificationOutbox::cleanup()
{
    scheduler.reset();
    monitor.reset();
    outbox.reset();
    service.reset();
    writer.reset();
    smtp.reset();
    hook.reset();
    dir.reset();
}

void TestNotificationOutbox::openOutbox(quint16 smtpPort)
{
    writer = std::make_unique<DatabaseWriter>(database, QUuid::createUuid().toString());
    QVERIFY(writer->open());
    service = std::make_unique<NotificationService>();
    outbox = std::make_unique<NotificationOutbox>(writer.get(), database, service.get());
    outbox->setClock([this] { return now; });
    monitor = std::make_unique<AlarmMonitor>();
    monitor->setClock([this] { return now; });
    monitor->setProjectName(QStringLiteral("Cold store"));
    scheduler = std::make_unique<NotificationScheduler>(monitor.get(), outbox.get());
    scheduler->setClock([this] { return now; });
    settings.smtpPort = smtpPort;
    scheduler->setSettings(settings);
    for (NotificationTarget t :
         {settings.emailTarget(QString()), settings.emailTarget(QString(), true),
          settings.webhookTarget(hook->url(QStringLiteral("/alarm")))}) {
        t.connectTimeoutMs = 3000;
        t.totalTimeoutMs = 10000;
        outbox->setTarget(t);
    }
}

void TestNotificationOutbox::settle()
{
    while (outbox->isSending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::processEvents();
}

void TestNotificationOutbox::advance(int seconds)
{
    for (int i = 0; i < seconds; ++i) {
        now = now.addSecs(1);
        // A sample every 10 s, as a gateway polls.
        if (now.time().second() % 10 == 0)
            monitor->sample(QStringLiteral("N1"), value, NoValue, -1, now);
        monitor->tick();
        scheduler->tick();
        outbox->tick();
        settle();
    }
}

void TestNotificationOutbox::messagesForAlarms_data()
{
    // Minutes: the value goes out of range at `outAt` and back at `backAt` (-1: never); an
    // acknowledgement at `ackAt` (-1: none); the clock runs to `until`.
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("outAt");
    QTest::addColumn<int>("backAt");
    QTest::addColumn<int>("ackAt");
    QTest::addColumn<int>("until");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("excursion shorter than the delay") << 2 << 1 << 2 << -1 << 40 << QStringList();
    QTest::newRow("excursion longer than the delay")
        << 2 << 1 << -1 << -1 << 10 << QStringList{QStringLiteral("alarm.1.start")};
    QTest::newRow("cleared") << 0 << 1 << 5 << -1 << 40
                             << QStringList{QStringLiteral("alarm.1.start"),
                                            QStringLiteral("alarm.1.clear")};
    QTest::newRow("reminders, then escalation")
        << 0 << 1 << -1 << -1 << 62
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.1.reminder.1"),
                       QStringLiteral("alarm.1.reminder.2"), QStringLiteral("alarm.1.escalation")};
    QTest::newRow("acknowledged: no reminder, no escalation")
        << 0 << 1 << -1 << 10 << 70 << QStringList{QStringLiteral("alarm.1.start")};
    QTest::newRow("cleared unacknowledged: no more reminders")
        << 0 << 1 << 35 << -1 << 100
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.1.reminder.1"),
                       QStringLiteral("alarm.1.clear")};
}

// Catches: a message for an excursion the delay swallows, a missing or repeated start, clear,
// reminder or escalation, reminders after an acknowledgement or the alarm's end, an escalation
// that misses the escalation list, or e-mail and webhook telling different stories.
void TestNotificationOutbox::messagesForAlarms()
{
    QFETCH(int, delay);
    QFETCH(int, outAt);
    QFETCH(int, backAt);
    QFETCH(int, ackAt);
    QFETCH(int, until);
    QFETCH(QStringList, expected);
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain), qPrintable(smtp->errorString()));
    openOutbox(smtp->port());
    value = 4;
    MonitoredNode node;
    node.serial = QStringLiteral("N1");
    node.nodeName = QStringLiteral("Cold room");
    node.channelName[0] = QStringLiteral("Temperature");
    node.unit[0] = QStringLiteral("°C");
    node.min[0] = 0;
    node.max[0] = 8;
    node.rules.channel[0].delayMinutes = delay;
    monitor->setNode(node);
    for (int minute = 0; minute < until; ++minute) {
        if (minute == outAt)
            value = 12.5;
        if (minute == backAt)
            value = 4;
        if (minute == ackAt)
            QVERIFY(monitor->acknowledge(1, QStringLiteral("Ana"), QStringLiteral("Door shut")));
        advance(60);
    }
    QTRY_COMPARE_WITH_TIMEOUT(outbox->waitingCount(), 0, 20000);
    QTRY_COMPARE(smtp->messages().size(), expected.size());
    QTRY_COMPARE(hook->requests().size(), expected.size());
    QStringList recipients;
    QCOMPARE(mailKeys(smtp->messages(), &recipients), expected);
    QCOMPARE(hookKeys(hook->requests()), expected);
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(recipients.at(i).contains(Chief),
                 expected.at(i).endsWith(QLatin1String("escalation")));
    // The mails as received, for a person to read on request.
    const QString shots = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    for (int i = 0; !shots.isEmpty() && i < expected.size(); ++i) {
        QFile file(shots + QStringLiteral("/mail-") + expected.at(i) + QStringLiteral(".txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(smtp->messages().at(i));
    }
}

// Catches: a back-off that does not start at 10 s, does not double, or passes 5 min.
void TestNotificationOutbox::retryDelays()
{
    QCOMPARE(NotificationOutbox::retryDelayMs(1), 10000);
    QCOMPARE(NotificationOutbox::retryDelayMs(2), 20000);
    QCOMPARE(NotificationOutbox::retryDelayMs(5), 160000);
    QCOMPARE(NotificationOutbox::retryDelayMs(6), 300000);
    QCOMPARE(NotificationOutbox::retryDelayMs(40), 300000);
}

// Catches: messages lost or sent twice over an outage of the mail server, retries faster than
// the back-off allows, a failing outbox not reported, or the table not telling what was sent.
void TestNotificationOutbox::serverDownThenBack()
{
    const quint16 port = closedPort();
    openOutbox(port);
    QSignalSpy state(outbox.get(), &NotificationOutbox::stateChanged);
    MonitoredNode node;
    node.serial = QStringLiteral("N1");
    node.max[0] = 8;
    monitor->setNode(node);
    value = 12;
    advance(31 * 60);
    // The start and one reminder, to the mail server that is down; the webhook got them.
    QTRY_COMPARE(hook->requests().size(), 2);
    QCOMPARE(outbox->failingCount(), 2);
    QVERIFY(!state.isEmpty());
    QCOMPARE(state.last().at(0).toInt(), 2);
    QVERIFY(!state.last().at(1).toString().isEmpty());
    value = 4;
    advance(60);
    QCOMPARE(outbox->failingCount(), 3);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    for (const OutboxRecord& r : outboxRows(database)) {
        if (r.target != QLatin1String("email"))
            continue;
        QVERIFY(!r.sentAt);
        // 31 min down: tries at 0, 10, 30, 70, 150, 310 s, then every 5 min.
        QVERIFY2(r.attempts >= 2 && r.attempts <= 11, qPrintable(QString::number(r.attempts)));
    }
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain, QString(), QString(), port),
             qPrintable(smtp->errorString()));
    advance(5 * 60);
    QTRY_COMPARE_WITH_TIMEOUT(outbox->waitingCount(), 0, 20000);
    const QStringList expected{QStringLiteral("alarm.1.start"),
                               QStringLiteral("alarm.1.reminder.1"),
                               QStringLiteral("alarm.1.clear")};
    QStringList keys = mailKeys(smtp->messages());
    keys.sort();
    QStringList sorted = expected;
    sorted.sort();
    QCOMPARE(keys, sorted);
    QCOMPARE(hookKeys(hook->requests()), expected);
    QCOMPARE(outbox->failingCount(), 0);
    QCOMPARE(state.last().at(0).toInt(), 0);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    const QVector<OutboxRecord> rows = outboxRows(database);
    QCOMPARE(rows.size(), 6);
    for (const OutboxRecord& r : rows)
        QVERIFY2(r.sentAt, qPrintable(r.messageId + QLatin1Char(' ') + r.target));
}

void TestNotificationOutbox::permanentFailures_data()
{
    QTest::addColumn<QStringList>("refuse");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<int>("mailsBefore");
    QTest::addColumn<int>("attemptsBefore");
    QTest::addColumn<QString>("stateBefore");
    QTest::addColumn<QString>("fixedSender");
    QTest::addColumn<QStringList>("fixedRecipients");
    QTest::addColumn<int>("mailsAfter");

    const QString sender = QStringLiteral("recorder@store.example");
    const QString gone = QStringLiteral("gone@store.example");
    QTest::newRow("one recipient refused")
        << QStringList{gone} << sender << QStringList{Duty, gone} << 1 << 0
        << QStringLiteral("Notifications: 1 recipient refused: gone@store.example") << sender
        << QStringList{Duty} << 1;
    QTest::newRow("every recipient refused")
        << QStringList{gone} << sender << QStringList{gone} << 0 << 1
        << QStringLiteral("Notifications: 1 not sent (550 5.1.1 <gone@store.exa...); 1 recipient "
                          "refused: gone@store.example")
        << sender << QStringList{Duty} << 1;
    // The forged second mail must not reach the server, and the message waits for a sender
    // that is an address.
    QTest::newRow("line break in sender")
        << QStringList() << QStringLiteral("alarm@x>\r\nRCPT TO:<victim@evil.example>\r\nDATA")
        << QStringList{Duty} << 0 << 1
        << QStringLiteral("Notifications: 1 not sent (Sender address is not valid)") << sender
        << QStringList{Duty} << 1;
}

// Catches: a refused recipient that stops the mail to the others, a permanent refusal tried
// again every 5 min for ever, a refusal the status does not show, or one that stays shown (or
// a message that stays held) after the settings changed.
void TestNotificationOutbox::permanentFailures()
{
    QFETCH(QStringList, refuse);
    QFETCH(QString, sender);
    QFETCH(QStringList, recipients);
    QFETCH(int, mailsBefore);
    QFETCH(int, attemptsBefore);
    QFETCH(QString, stateBefore);
    QFETCH(QString, fixedSender);
    QFETCH(QStringList, fixedRecipients);
    QFETCH(int, mailsAfter);

    for (const QString& address : refuse)
        smtp->refuseRecipient(address);
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain), qPrintable(smtp->errorString()));
    settings.sender = sender;
    settings.recipients = recipients;
    settings.escalationEnabled = false;
    openOutbox(smtp->port());
    QSignalSpy state(outbox.get(), &NotificationOutbox::stateChanged);
    MonitoredNode node;
    node.serial = QStringLiteral("N1");
    node.max[0] = 8;
    monitor->setNode(node);
    value = 12;
    // 20 minutes: a failure tried again would have been tried 8 times by now.
    advance(20 * 60);
    QTRY_COMPARE(hook->requests().size(), 1);
    QCOMPARE(smtp->messages().size(), mailsBefore);
    QCOMPARE(outbox->failingCount(), attemptsBefore > 0 ? 1 : 0);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    for (const OutboxRecord& r : outboxRows(database)) {
        if (r.target != QLatin1String("email"))
            continue;
        QCOMPARE(bool(r.sentAt), mailsBefore > 0);
        QCOMPARE(r.attempts, attemptsBefore > 0 ? attemptsBefore : 1);
        // The row tells who was refused.
        if (!refuse.isEmpty())
            QVERIFY2(r.lastError.contains(refuse.first()), qPrintable(r.lastError));
    }
    QVERIFY(!state.isEmpty());
    QCOMPARE(OutboxIndicator::stateText(state.last().at(0).toInt(), state.last().at(1).toString(),
                                        state.last().at(2).toStringList()),
             stateBefore);

    // New settings: what was held goes out, and the refusal is no longer shown.
    settings.sender = fixedSender;
    settings.recipients = fixedRecipients;
    NotificationTarget fixed = settings.emailTarget(QString());
    fixed.connectTimeoutMs = 3000;
    fixed.totalTimeoutMs = 10000;
    outbox->setTarget(fixed);
    advance(60);
    QTRY_COMPARE_WITH_TIMEOUT(outbox->waitingCount(), 0, 20000);
    QCOMPARE(smtp->messages().size(), mailsAfter);
    for (const QByteArray& mail : smtp->messages())
        QVERIFY(!mail.contains("victim"));
    QCOMPARE(OutboxIndicator::stateText(state.last().at(0).toInt(), state.last().at(1).toString(),
                                        state.last().at(2).toStringList()),
             QString());
}

// Catches: a recipient refused for now (450) who never gets the message, or the others getting
// it again on every try for that one.
void TestNotificationOutbox::deferredRecipientTriedAgain()
{
    const QString later = QStringLiteral("later@store.example");
    smtp->deferRecipient(later);
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain), qPrintable(smtp->errorString()));
    const quint16 port = smtp->port();
    settings.recipients = QStringList{Duty, later};
    settings.escalationEnabled = false;
    openOutbox(port);
    MonitoredNode node;
    node.serial = QStringLiteral("N1");
    node.max[0] = 8;
    monitor->setNode(node);
    value = 12;
    // Tries at 10, 20 and 40 s: the first reaches the duty, every one is refused for later.
    advance(60);
    QStringList recipients;
    QCOMPARE(mailKeys(smtp->messages(), &recipients), QStringList{QStringLiteral("alarm.1.start")});
    QCOMPARE(recipients, QStringList{Duty});
    QCOMPARE(outbox->waitingCount(), 1);
    QCOMPARE(outbox->failingCount(), 1);

    smtp->clearMisbehaviour();
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain, QString(), QString(), port),
             qPrintable(smtp->errorString()));
    advance(60);
    QTRY_COMPARE_WITH_TIMEOUT(outbox->waitingCount(), 0, 20000);
    recipients.clear();
    QCOMPARE(mailKeys(smtp->messages(), &recipients), QStringList{QStringLiteral("alarm.1.start")});
    QCOMPARE(recipients, QStringList{later});
    QCOMPARE(outbox->failingCount(), 0);
}

// Catches: messages in the outbox of a recorder that was killed lost, or sent more than once
// after the next start.
void TestNotificationOutbox::killedWithMessagesInTheOutbox()
{
    const int count = 3;
    const quint16 port = closedPort();
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral(OUTBOX_HELPER),
                 {database, QString::number(port), QString::number(count)});
    QVERIFY(helper.waitForStarted());
    QByteArray output;
    while (!output.contains("stored") && helper.state() == QProcess::Running &&
           helper.waitForReadyRead(30000))
        output += helper.readAllStandardOutput();
    QVERIFY2(output.contains("stored"), output.constData());
    helper.kill();
    QVERIFY(helper.waitForFinished());

    QVERIFY2(smtp->start(SmtpServer::Mode::Plain, QString(), QString(), port),
             qPrintable(smtp->errorString()));
    // The helper ran on the real clock; the next start goes on from it.
    now = QDateTime::currentDateTimeUtc();
    openOutbox(port);
    QSignalSpy loaded(outbox.get(), &NotificationOutbox::loaded);
    outbox->load();
    QVERIFY(loaded.wait());
    QCOMPARE(loaded.at(0).at(0).toInt(), count);
    // The helper's messages were due 10 s after their first try.
    advance(20);
    QTRY_COMPARE_WITH_TIMEOUT(outbox->waitingCount(), 0, 20000);
    QStringList keys = mailKeys(smtp->messages());
    keys.sort();
    QCOMPARE(keys, (QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.2.start"),
                                QStringLiteral("alarm.3.start")}));
    QVERIFY(smtp->messages().at(0).contains("Room "));
    // A second start sends nothing again.
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    scheduler.reset();
    monitor.reset();
    outbox.reset();
    openOutbox(port);
    QSignalSpy again(outbox.get(), &NotificationOutbox::loaded);
    outbox->load();
    QVERIFY(again.wait());
    QCOMPARE(again.at(0).at(0).toInt(), 0);
}

QTEST_GUILESS_MAIN(TestNotificationOutbox)
#include "tst_notificationoutbox.moc"
