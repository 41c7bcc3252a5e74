#include "alarmeventwrite.h"
#include "alarmmonitor.h"
#include "alarmshelves.h"
#include "clockchanges.h"
#include "databasewriter.h"
#include "mailtext.h"
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
#include "writeralarmeventstore.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
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

// The database's origin at the end of a message id, or an empty text.
QString originOf(const QString& key)
{
    static const QRegularExpression origin(QStringLiteral("\\.([0-9a-f]{32})$"));
    return origin.match(key).captured(1);
}

// A message id without its origin ("alarm.1.start"), so that rows compare across databases.
QString plainKey(const QString& key)
{
    const QString origin = originOf(key);
    return origin.isEmpty() ? key : key.left(key.size() - origin.size() - 1);
}

// The Message-ID's local part without the origin ("alarm.1.start") of each stored mail, and its
// recipients; `ids` gets the whole local parts. Each recipient gets a copy of its own: the copies
// of one message to different recipients, received one after the other, count once, their
// recipients joined; a second copy to the same recipient counts again.
QStringList mailKeys(const QList<QByteArray>& mails, QStringList* recipients = nullptr,
                     QStringList* ids = nullptr)
{
    QStringList keys;
    QStringList wholeIds;
    QStringList to;
    for (const QByteArray& mail : mails) {
        const int at = mail.indexOf("Message-ID: <");
        const int end = mail.indexOf('@', at);
        const QString id = QString::fromUtf8(mail.mid(at + 13, end - at - 13));
        const int rcpt = mail.indexOf("X-RcptTo: ");
        const QString recipient =
            QString::fromUtf8(mail.mid(rcpt + 10, mail.indexOf('\n', rcpt) - rcpt - 10)).trimmed();
        if (!wholeIds.isEmpty() && wholeIds.last() == id &&
            !to.last().split(QStringLiteral(", ")).contains(recipient)) {
            to.last() += QStringLiteral(", ") + recipient;
            continue;
        }
        keys << plainKey(id);
        wholeIds << id;
        to << recipient;
    }
    if (ids)
        ids->append(wholeIds);
    if (recipients)
        recipients->append(to);
    return keys;
}

QStringList hookKeys(const QList<WebhookReceiver::Request>& requests)
{
    QStringList keys;
    for (const WebhookReceiver::Request& r : requests)
        keys << plainKey(QJsonDocument::fromJson(r.body)
                             .object()
                             .value(QStringLiteral("message_id"))
                             .toString());
    return keys;
}

// The outbox's rows; a table that cannot be read fails the test (no rows would pass the checks
// of every row).
QVector<OutboxRecord> outboxRows(const QString& database)
{
    QVector<OutboxRecord> rows;
    SqliteConnection db;
    QString error = QStringLiteral("the database does not open");
    if (!db.open(database, SQLITE_OPEN_READONLY) || !OutboxTable::all(db.get(), &rows, &error))
        QTest::qFail(qPrintable(QStringLiteral("outbox rows not read: ") + error), __FILE__,
                     __LINE__);
    return rows;
}

// A small real PDF: shapes, no text (no font is needed without a GUI).
QByteArray samplePdf()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter(&writer).fillRect(QRect(100, 100, 2000, 800), Qt::darkBlue);
    return buffer.data();
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
    void messageIdsAcrossDatabases();
    void clockSetBack_data();
    void clockSetBack();
    void sentTextsKeptForTheRetention();
    void removedTargetShowsAsFailing();
    void reportMails_data();
    void reportMails();
    void reportUploadBesideAlarms_data();
    void reportUploadBesideAlarms();

private:
    // With the node the monitor knows from the start, as the recorder's alarms give it.
    void openOutbox(quint16 smtpPort, const MonitoredNode& node = MonitoredNode());
    // The recorder killed: what was committed stays, nothing is closed or told.
    void kill();
    // One second on the test's clock: a sample at every tenth, and every part ticked.
    void tickSecond();
    // Ticks the clock a second at a time for `seconds`, with every send answered before the
    // next second.
    void advance(int seconds);
    void settle();
    // Node N1 gets a maximum of 8 and reads 12 from its next sample on.
    void exceedMaximum();

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
    std::unique_ptr<SmtpServer> smtp;
    std::unique_ptr<WebhookReceiver> hook;
    std::unique_ptr<DatabaseWriter> writer;
    std::unique_ptr<NotificationService> service;
    std::unique_ptr<NotificationService> reportService;
    std::unique_ptr<WriterAlarmEventStore> store;
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
    reportService.reset();
    store.reset();
    writer.reset();
    smtp.reset();
    hook.reset();
    dir.reset();
}

void TestNotificationOutbox::openOutbox(quint16 smtpPort, const MonitoredNode& node)
{
    writer = std::make_unique<DatabaseWriter>(database, QUuid::createUuid().toString());
    QVERIFY(writer->open());
    service = std::make_unique<NotificationService>();
    outbox = std::make_unique<NotificationOutbox>(writer.get(), database, service.get());
    outbox->setClock([this] { return now; });
    // The events go to the database as the recorder's do; its first write closes those a
    // killed run left open.
    store = std::make_unique<WriterAlarmEventStore>(writer.get(), database);
    QVERIFY2(store->open(), qPrintable(store->errorText()));
    store->submit(AlarmEventWrite::closeInterrupted());
    monitor = std::make_unique<AlarmMonitor>(store.get());
    monitor->setClock([this] { return now; });
    monitor->setProjectName(QStringLiteral("Cold store"));
    if (!node.serial.isEmpty())
        monitor->setNode(node);
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

void TestNotificationOutbox::kill()
{
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    scheduler.reset();
    monitor.reset();
    outbox.reset();
    service.reset();
    store.reset();
    writer.reset();
}

void TestNotificationOutbox::settle()
{
    while (outbox->isSending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::processEvents();
}

void TestNotificationOutbox::exceedMaximum()
{
    MonitoredNode node;
    node.serial = QStringLiteral("N1");
    node.max[0] = 8;
    monitor->setNode(node);
    value = 12;
}

void TestNotificationOutbox::tickSecond()
{
    now = now.addSecs(1);
    // A sample every 10 s, as a gateway polls.
    if (now.time().second() % 10 == 0)
        monitor->sample(QStringLiteral("N1"), value, NoValue, -1, now);
    monitor->tick();
    scheduler->tick();
    outbox->tick();
}

void TestNotificationOutbox::advance(int seconds)
{
    for (int i = 0; i < seconds; ++i) {
        tickSecond();
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
    // The minute the recorder stops (-1: never).
    QTest::addColumn<int>("stopAt");
    // The minutes the recorder is killed and started again.
    QTest::addColumn<QList<int>>("killsAt");
    // Before the kill the end message of the open event 1 was made and sent already.
    QTest::addColumn<bool>("endSentBeforeKill");
    // Channel 1 shelved from the first minute to the second (none: empty).
    QTest::addColumn<QList<int>>("shelve");
    QTest::newRow("excursion shorter than the delay")
        << 2 << 1 << 2 << -1 << 40 << QStringList() << -1 << QList<int>() << false << QList<int>();
    QTest::newRow("excursion longer than the delay")
        << 2 << 1 << -1 << -1 << 10 << QStringList{QStringLiteral("alarm.1.start")} << -1
        << QList<int>() << false << QList<int>();
    QTest::newRow("cleared") << 0 << 1 << 5 << -1 << 40
                             << QStringList{QStringLiteral("alarm.1.start"),
                                            QStringLiteral("alarm.1.clear")}
                             << -1 << QList<int>() << false << QList<int>();
    QTest::newRow("reminders, then escalation")
        << 0 << 1 << -1 << -1 << 62
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.1.reminder.1"),
                       QStringLiteral("alarm.1.reminder.2"), QStringLiteral("alarm.1.escalation")}
        << -1 << QList<int>() << false << QList<int>();
    QTest::newRow("acknowledged: no reminder, no escalation")
        << 0 << 1 << -1 << 10 << 70 << QStringList{QStringLiteral("alarm.1.start")} << -1
        << QList<int>() << false << QList<int>();
    QTest::newRow("cleared unacknowledged: no more reminders")
        << 0 << 1 << 35 << -1 << 100
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.1.reminder.1"),
                       QStringLiteral("alarm.1.clear")}
        << -1 << QList<int>() << false << QList<int>();
    QTest::newRow("recorder stopped: the end is told")
        << 0 << 1 << -1 << -1 << 10
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.1.clear")} << 5
        << QList<int>() << false << QList<int>();
    // Each start ends what the killed run left open with one end message; the alarm raised
    // again continues it.
    QTest::newRow("recorder killed: the end is told once by the next start")
        << 0 << 1 << -1 << -1 << 10
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.1.clear"),
                       QStringLiteral("alarm.2.start"), QStringLiteral("alarm.2.clear"),
                       QStringLiteral("alarm.3.start")}
        << -1 << QList<int>{5, 7} << false << QList<int>();
    QTest::newRow("recorder killed: an end sent already is not told again")
        << 0 << 1 << -1 << -1 << 10
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.2.start")} << -1
        << QList<int>{5} << true << QList<int>();
    QTest::newRow("shelved: an excursion during it is told to nobody")
        << 0 << 1 << 5 << -1 << 40 << QStringList() << -1 << QList<int>() << false
        << QList<int>{0, 30};
    QTest::newRow("shelve over with the alarm active: told from then, reminders from then")
        << 0 << 1 << -1 << -1 << 62
        << QStringList{QStringLiteral("alarm.1.start"), QStringLiteral("alarm.1.reminder.1")} << -1
        << QList<int>() << false << QList<int>{0, 30};
    QTest::newRow("shelved after its start: no reminder while shelved")
        << 0 << 1 << -1 << -1 << 70 << QStringList{QStringLiteral("alarm.1.start")} << -1
        << QList<int>() << false << QList<int>{10, 45};
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
    QFETCH(int, stopAt);
    QFETCH(QList<int>, killsAt);
    QFETCH(bool, endSentBeforeKill);
    QFETCH(QList<int>, shelve);
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
        if (minute == stopAt)
            monitor->stop();
        if (!shelve.isEmpty() && minute == shelve.at(0)) {
            AlarmShelves shelves(monitor.get(), database,
                                 [this](const WriteJob& job) { writer->submit(job); });
            QString problem;
            QVERIFY2(shelves.shelve(node.serial, 1, (shelve.at(1) - shelve.at(0)) * 60,
                                    QStringLiteral("defrost"), QStringLiteral("ana"), &problem),
                     qPrintable(problem));
        }
        if (killsAt.contains(minute)) {
            if (endSentBeforeKill) {
                OutboxRecord told;
                told.messageId = QStringLiteral("alarm.1.clear.earlier");
                told.eventId = 1;
                told.kind = QStringLiteral("clear");
                told.target = settings.webhookName;
                told.body = QStringLiteral("{}");
                told.created = now.toSecsSinceEpoch();
                writer->submit(WriteJob::outboxAdd(told));
                writer->submit(WriteJob::outboxSent(told.messageId, told.target, told.created));
            }
            kill();
            openOutbox(smtp->port(), node);
        }
        advance(60);
    }
    QTRY_COMPARE_WITH_TIMEOUT(outbox->waitingCount(), 0, 20000);
    QTRY_COMPARE(mailKeys(smtp->messages()).size(), expected.size());
    QTRY_COMPARE(hook->requests().size(), expected.size());
    QStringList recipients;
    QCOMPARE(mailKeys(smtp->messages(), &recipients), expected);
    QCOMPARE(hookKeys(hook->requests()), expected);
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(recipients.at(i).contains(Chief),
                 expected.at(i).endsWith(QLatin1String("escalation")));
    // An end with the recorder's stop or kill says so; an alarm raised again after a kill
    // names the event it continues.
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject body = QJsonDocument::fromJson(hook->requests().at(i).body).object();
        if ((stopAt >= 0 || !killsAt.isEmpty()) && expected.at(i).endsWith(QLatin1String("clear")))
            QCOMPARE(body.value(QStringLiteral("end_reason")).toString(),
                     QStringLiteral("recorder stopped"));
        const int event = expected.at(i).section(QLatin1Char('.'), 1, 1).toInt();
        if (!killsAt.isEmpty() && expected.at(i).endsWith(QLatin1String("start")) && event > 1)
            QCOMPARE(body.value(QStringLiteral("continues_event_id")).toInt(), event - 1);
    }
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
// the back-off allows, a failing outbox not reported, the table not telling what was sent, or
// a reminder that waited out the outage sent after its alarm ended.
void TestNotificationOutbox::serverDownThenBack()
{
    const quint16 port = SmtpServer::closedPort();
    openOutbox(port);
    QSignalSpy state(outbox.get(), &NotificationOutbox::stateChanged);
    exceedMaximum();
    advance(31 * 60);
    // The start and one reminder, to the mail server that is down; the webhook got them.
    QTRY_COMPARE(hook->requests().size(), 2);
    QCOMPARE(outbox->failingCount(), 2);
    QVERIFY(!state.isEmpty());
    QCOMPARE(state.last().at(0).toInt(), 2);
    QVERIFY(!state.last().at(1).toString().isEmpty());
    value = 4;
    advance(60);
    // The clear joins the start; the reminder is superseded at its next try, the alarm having
    // ended.
    QCOMPARE(outbox->failingCount(), 2);
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
    // The reminder that waited for the mail server is superseded by the alarm's end: the mail
    // would say the alarm is still active.
    QStringList keys = mailKeys(smtp->messages());
    keys.sort();
    QCOMPARE(keys, (QStringList{QStringLiteral("alarm.1.clear"), QStringLiteral("alarm.1.start")}));
    QCOMPARE(hookKeys(hook->requests()), expected);
    QCOMPARE(outbox->failingCount(), 0);
    QCOMPARE(state.last().at(0).toInt(), 0);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    const QVector<OutboxRecord> rows = outboxRows(database);
    QCOMPARE(rows.size(), 6);
    for (const OutboxRecord& r : rows) {
        const bool stale =
            r.target == QLatin1String("email") && r.kind == QLatin1String("reminder");
        QVERIFY2(stale ? !r.sentAt && r.isSuperseded() : r.sentAt && !r.isSuperseded(),
                 qPrintable(r.messageId + QLatin1Char(' ') + r.target));
    }
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
    exceedMaximum();
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
    exceedMaximum();
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
    const quint16 port = SmtpServer::closedPort();
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

// Catches: message ids that start at 1 in every database (two sites, or a project made anew,
// send the same id, and a receiver that drops repeats drops a real alarm), or an id that changes
// between the tries of one message or across a restart.
void TestNotificationOutbox::messageIdsAcrossDatabases()
{
    NotificationEvent event;
    event.eventId = 1;
    event.projectName = QStringLiteral("Cold store");
    event.nodeName = QStringLiteral("Room 1");
    event.serial = QStringLiteral("1001");
    event.start = now;
    // Two sites, each with a fresh database, telling of their event 1.
    QStringList ids;
    for (const QString& site : {QStringLiteral("a.dat"), QStringLiteral("b.dat")}) {
        database = dir->filePath(site);
        openOutbox(SmtpServer::closedPort());
        outbox->add(NotificationMessage(event), settings.webhookName);
        settle();
        QTRY_COMPARE(hook->requests().size(), ids.size() + 1);
        const WebhookReceiver::Request request = hook->requests().last();
        const QString id = QJsonDocument::fromJson(request.body)
                               .object()
                               .value(QStringLiteral("message_id"))
                               .toString();
        QCOMPARE(QString::fromUtf8(request.headers.value("idempotency-key")), id);
        QCOMPARE(plainKey(id), QStringLiteral("alarm.1.start"));
        QCOMPARE(originOf(id), writer->messageOrigin());
        ids << id;
        scheduler.reset();
        monitor.reset();
        outbox.reset();
        writer.reset();
    }
    QVERIFY2(ids.at(0) != ids.at(1), qPrintable(ids.join(QLatin1Char(' '))));

    // The mail of site a fails twice, and the recorder restarts before it goes out.
    database = dir->filePath(QStringLiteral("a.dat"));
    const quint16 port = SmtpServer::closedPort();
    openOutbox(port);
    const QString origin = writer->messageOrigin();
    outbox->add(NotificationMessage(event), QStringLiteral("email"));
    settle();
    advance(15);
    QCOMPARE(outbox->failingCount(), 1);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    scheduler.reset();
    monitor.reset();
    outbox.reset();
    writer.reset();
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain, QString(), QString(), port),
             qPrintable(smtp->errorString()));
    openOutbox(port);
    QCOMPARE(writer->messageOrigin(), origin);
    QSignalSpy loaded(outbox.get(), &NotificationOutbox::loaded);
    outbox->load();
    QVERIFY(loaded.wait());
    advance(25);
    QTRY_COMPARE_WITH_TIMEOUT(smtp->messages().size(), 1, 20000);
    QStringList mailIds;
    mailKeys(smtp->messages(), nullptr, &mailIds);
    // The webhook's copy was sent before the restart with the same id.
    QCOMPARE(mailIds, QStringList{ids.at(0)});
}

void TestNotificationOutbox::clockSetBack_data()
{
    // What is waiting when the clock is set back an hour (`setBackAt` seconds after the alarm
    // started), and by when it must go out after the set-back: within its nominal interval.
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<bool>("reminders");
    QTest::addColumn<bool>("escalation");
    QTest::addColumn<int>("setBackAt");
    QTest::addColumn<int>("within");
    QTest::addColumn<QString>("expected");
    // Two failed tries: the next one is 20 s away.
    QTest::newRow("retry of a failed send")
        << true << false << false << 15 << 20 + 5 << QStringLiteral("alarm.1.start");
    // Reminders every 30 min: 10 min were still to go; at most 30 min from the set-back.
    QTest::newRow("reminder") << false << true << false << 20 * 60 << 30 * 60 + 15
                              << QStringLiteral("alarm.1.reminder.1");
    // Escalation after 60 min: at most 60 min from the set-back, not 70.
    QTest::newRow("escalation") << false << false << true << 50 * 60 << 60 * 60 + 15
                                << QStringLiteral("alarm.1.escalation");
}

// Catches: due times kept on the wall clock that a clock set back an hour (by hand, or by a time
// server) delays by that hour: a retry, a reminder or an escalation that waits 1 h too long.
// The alarm starts at 01:30 local time, half an hour before the clocks go forward to summer
// time (TZ=Europe/Berlin), so that the rows cross the change.
void TestNotificationOutbox::clockSetBack()
{
    QFETCH(bool, serverDown);
    QFETCH(bool, reminders);
    QFETCH(bool, escalation);
    QFETCH(int, setBackAt);
    QFETCH(int, within);
    QFETCH(QString, expected);
    QVERIFY(ClockChanges::zoneInEffect());
    QVERIFY(!ClockChanges::inYear(Base.date().year()).isEmpty());
    settings.webhookEnabled = false;
    settings.remindersEnabled = reminders;
    settings.escalationEnabled = escalation;
    settings.escalationMinutes = 60;
    const quint16 port = SmtpServer::closedPort();
    if (!serverDown)
        QVERIFY2(smtp->start(SmtpServer::Mode::Plain, QString(), QString(), port),
                 qPrintable(smtp->errorString()));
    openOutbox(port);
    exceedMaximum();
    // The first sample beyond the limit comes at the next whole 10 s.
    advance(10);
    QCOMPARE(monitor->activeCount(), 1);
    advance(setBackAt);
    now = now.addSecs(-3600);
    if (serverDown)
        QVERIFY2(smtp->start(SmtpServer::Mode::Plain, QString(), QString(), port),
                 qPrintable(smtp->errorString()));
    for (int second = 0; second < within && !mailKeys(smtp->messages()).contains(expected);
         ++second)
        advance(1);
    QVERIFY2(mailKeys(smtp->messages()).contains(expected),
             qPrintable(mailKeys(smtp->messages()).join(QLatin1Char(' '))));
}

// Catches: sent rows that keep every message text for ever, or a retention that deletes the
// evidence that the person on call was told (id, event, kind, target, sent time) or the text
// of a message still waiting.
void TestNotificationOutbox::sentTextsKeptForTheRetention()
{
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain), qPrintable(smtp->errorString()));
    settings.webhookEnabled = false;
    settings.remindersEnabled = false;
    openOutbox(smtp->port());
    outbox->setRetentionDays(2);
    outbox->removeTarget(QStringLiteral("email-escalation"));
    exceedMaximum();
    advance(40);
    QTRY_COMPARE(smtp->messages().size(), 1);
    // A day later: the escalation waits for its target; the start's text is within the retention.
    now = now.addDays(1);
    advance(1);
    QCOMPARE(outbox->waitingCount(), 1);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    for (const OutboxRecord& r : outboxRows(database))
        QVERIFY2(!r.body.isEmpty(), qPrintable(r.messageId));
    // Two days later the start's text goes; what it was stays.
    now = now.addDays(2);
    advance(1);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    const QVector<OutboxRecord> rows = outboxRows(database);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(plainKey(rows.at(0).messageId), QStringLiteral("alarm.1.start"));
    QCOMPARE(rows.at(0).eventId, 1);
    QCOMPARE(rows.at(0).kind, QStringLiteral("start"));
    QCOMPARE(rows.at(0).target, QStringLiteral("email"));
    QVERIFY(rows.at(0).sentAt);
    QVERIFY(rows.at(0).body.isEmpty());
    QCOMPARE(rows.at(1).kind, QStringLiteral("escalation"));
    QVERIFY(!rows.at(1).sentAt);
    QVERIFY(!rows.at(1).body.isEmpty());
}

// Catches: messages for a target taken out of the settings that wait for ever without a word,
// while the status says all is well.
void TestNotificationOutbox::removedTargetShowsAsFailing()
{
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain), qPrintable(smtp->errorString()));
    openOutbox(smtp->port());
    QSignalSpy state(outbox.get(), &NotificationOutbox::stateChanged);
    // The webhook is switched off while its message waits for the target.
    outbox->removeTarget(settings.webhookName);
    exceedMaximum();
    advance(15);
    QTRY_COMPARE(smtp->messages().size(), 1);
    QCOMPARE(outbox->waitingCount(), 1);
    QCOMPARE(outbox->failingCount(), 0);
    outbox->setExpectedTargets({QStringLiteral("email"), QStringLiteral("email-escalation")});
    QCOMPARE(outbox->failingCount(), 1);
    QVERIFY(!state.isEmpty());
    QCOMPARE(state.last().at(0).toInt(), 1);
    QVERIFY2(state.last().at(1).toString().contains(settings.webhookName),
             qPrintable(state.last().at(1).toString()));
    // Back in the settings: it goes out, and nothing fails any more.
    outbox->setExpectedTargets({QStringLiteral("email"), settings.webhookName});
    outbox->setTarget(settings.webhookTarget(hook->url(QStringLiteral("/alarm"))));
    settle();
    QTRY_COMPARE(hook->requests().size(), 1);
    QTRY_COMPARE(outbox->waitingCount(), 0);
    QCOMPARE(state.last().at(0).toInt(), 0);
}

void TestNotificationOutbox::reportMails_data()
{
    // The mail server at the first tries: "up", "down" or "deferring" (450 for the recipient);
    // the recorder killed and started again before the server takes the report.
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("restart");
    QTest::newRow("delivered once") << QStringLiteral("up") << false;
    QTest::newRow("a restart before the server is up") << QStringLiteral("down") << true;
    QTest::newRow("refused for now, then taken") << QStringLiteral("deferring") << false;
}

// Catches a report lost across a restart or an outage, sent twice, not retried after a refusal,
// its PDF changed on the way (or not an application/pdf part), or kept past the retention.
void TestNotificationOutbox::reportMails()
{
    QFETCH(QString, server);
    QFETCH(bool, restart);
    const QByteArray pdf = samplePdf();
    QVERIFY2(pdf.startsWith("%PDF-") && pdf.size() > 500, pdf.left(20).constData());
    quint16 port = SmtpServer::closedPort();
    if (server == QLatin1String("deferring"))
        smtp->deferRecipient(Duty);
    if (server != QLatin1String("down")) {
        QVERIFY2(smtp->start(SmtpServer::Mode::Plain), qPrintable(smtp->errorString()));
        port = smtp->port();
    }
    openOutbox(port);
    const QString file = QStringLiteral("Cold store-monthly-2024-02.pdf");
    const NotificationMessage report =
        NotificationMessage::report(QStringLiteral("Cold store"), QStringLiteral("Monthly report"),
                                    QStringLiteral("2024-02-01 to 2024-02-29"), restart, file, pdf,
                                    QStringLiteral("report.monthly.2024-02"));
    QVERIFY(outbox->add(report, QStringLiteral("email")));
    // The first try and, for a server that fails, the one 10 s later.
    advance(15);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    // The PDF waits in the table with its message.
    QCOMPARE(outboxRows(database).value(0).attachment, pdf);
    QCOMPARE(outbox->failingCount(), server == QLatin1String("up") ? 0 : 1);
    if (restart) {
        kill();
        openOutbox(port);
        QSignalSpy loaded(outbox.get(), &NotificationOutbox::loaded);
        outbox->load();
        QVERIFY(loaded.wait());
        QCOMPARE(loaded.at(0).at(0).toInt(), 1);
    }
    if (server != QLatin1String("up")) {
        smtp->clearMisbehaviour();
        QVERIFY2(smtp->start(SmtpServer::Mode::Plain, QString(), QString(), port),
                 qPrintable(smtp->errorString()));
    }
    advance(60);
    QTRY_COMPARE_WITH_TIMEOUT(outbox->waitingCount(), 0, 20000);
    QCOMPARE(smtp->messages().size(), 1);
    const QByteArray mail = smtp->messages().first();
    QCOMPARE(mailKeys({mail}), QStringList{QStringLiteral("report.monthly.2024-02")});
    QCOMPARE(MailText::decodedWords(MailText::header(mail, "Subject")),
             QStringLiteral("[Cold store] Monthly report 2024-02-01 to 2024-02-29") +
                 (restart ? QStringLiteral(" (late)") : QString()));
    QVERIFY(MailText::part(mail, "text/plain").contains("Period: 2024-02-01 to 2024-02-29\r\n"));
    QCOMPARE(MailText::part(mail, "application/pdf"), pdf);
    QVERIFY(mail.contains("filename=\"" + file.toUtf8() + '"'));

    // Past the retention the PDF goes; the evidence of the send stays.
    outbox->setRetentionDays(1);
    now = now.addDays(2);
    advance(1);
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    const OutboxRecord row = outboxRows(database).value(0);
    QCOMPARE(plainKey(row.messageId) + QLatin1Char(' ') + row.kind,
             QStringLiteral("report.monthly.2024-02 report"));
    QVERIFY(row.sentAt && row.attachment.isNull() && row.body.isEmpty());
}

void TestNotificationOutbox::reportUploadBesideAlarms_data()
{
    QTest::addColumn<bool>("ownService"); // reports sent on a service of their own
    QTest::newRow("reports on their own service") << true;
    QTest::newRow("one service for all") << false;
}

// Catches an alarm's mail held back behind a report upload that takes minutes (a server that
// stops answering in the middle of a PDF): with the reports on their own service the alarm's
// mail is taken while the report is still on its way; on one service it waits for it.
void TestNotificationOutbox::reportUploadBesideAlarms()
{
    QFETCH(bool, ownService);
    QVERIFY2(smtp->start(SmtpServer::Mode::Plain), qPrintable(smtp->errorString()));
    openOutbox(smtp->port());
    if (ownService) {
        reportService = std::make_unique<NotificationService>();
        outbox->setReportService(reportService.get());
    }
    // Listening without ever reading: the report's server takes the connection and falls silent.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    NotificationTarget reports = settings.emailTarget(QString());
    reports.name = QStringLiteral("reports");
    reports.port = silent.serverPort();
    reports.connectTimeoutMs = 4000;
    reports.totalTimeoutMs = 4000;
    outbox->setTarget(reports);
    const NotificationMessage report = NotificationMessage::report(
        QStringLiteral("Cold store"), QStringLiteral("Daily report"), QStringLiteral("2024-03-30"),
        false, QStringLiteral("Cold store-daily-2024-03-30.pdf"), samplePdf(),
        QStringLiteral("report.daily.2024-03-30"));
    QVERIFY(outbox->add(report, reports.name));
    outbox->tick();
    QVERIFY(outbox->isSending());

    // The alarm starts at the next sample; its mail goes to the good server.
    exceedMaximum();
    QElapsedTimer clock;
    clock.start();
    while (smtp->messages().isEmpty() && clock.elapsed() < 20000) {
        tickSecond();
        QTest::qWait(50);
    }
    QCOMPARE(mailKeys(smtp->messages()), QStringList{QStringLiteral("alarm.1.start")});
    // The report's send has not ended yet (no failure counted) only beside the alarm's.
    QCOMPARE(outbox->failingCount() == 0, ownService);
    QVERIFY2(ownService ? clock.elapsed() < 2500 : clock.elapsed() >= 2500,
             qPrintable(QString::number(clock.elapsed())));
    // The report stays in the outbox for its next try, whichever way it went.
    QTRY_COMPARE_WITH_TIMEOUT(outbox->failingCount(), 1, 10000);
    QTRY_COMPARE(outbox->waitingCount(), 1);
    QCOMPARE(hookKeys(hook->requests()), QStringList{QStringLiteral("alarm.1.start")});
}

QTEST_GUILESS_MAIN(TestNotificationOutbox)
#include "tst_notificationoutbox.moc"
