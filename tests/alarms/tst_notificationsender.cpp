#include "mailtext.h"
#include "notificationmessage.h"
#include "notificationservice.h"
#include "notificationsettings.h"
#include "notificationtest.h"
#include "secretstore.h"
#include "smtpserver.h"
#include "webhookreceiver.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(SmtpServer::Mode)
Q_DECLARE_METATYPE(SmtpSecurity)
Q_DECLARE_METATYPE(CleartextPassword)

namespace {

const QString User = QStringLiteral("recorder");
const QString Password = QStringLiteral("s3cret-Pa55");

NotificationEvent roomEvent()
{
    NotificationEvent e;
    e.eventId = 4711;
    e.kind = NotificationKind::Start;
    e.alarmKind = AlarmKind::High;
    e.projectName = QStringLiteral("Cold store");
    e.nodeName = QStringLiteral("Room 3");
    e.serial = QStringLiteral("1001");
    e.channelName = QStringLiteral("Temperature");
    e.value = 31.25;
    e.limit = 30.0;
    e.unit = QStringLiteral("°C");
    e.start = QDateTime::fromSecsSinceEpoch(1720000000);
    return e;
}

NotificationTarget mailTarget(quint16 port, SmtpSecurity security)
{
    NotificationTarget t;
    t.kind = NotificationTarget::Kind::Email;
    t.name = QStringLiteral("email");
    t.host = QStringLiteral("127.0.0.1");
    t.port = port;
    t.security = security;
    t.sender = QStringLiteral("recorder@store.example");
    t.recipients =
        QStringList{QStringLiteral("duty@store.example"), QStringLiteral("chef@store.example")};
    t.connectTimeoutMs = 5000;
    t.totalTimeoutMs = 15000;
    return t;
}

// A mail that would pass for the recorder's own if the sender's line break reached the server.
const QString InjectingSender = QStringLiteral(
    "alarm@x>\r\nRCPT TO:<victim@evil.example>\r\nDATA\r\nSubject: forged\r\n\r\nforged\r\n."
    "\r\nMAIL FROM:<alarm@x");

// The message as sent, without the lines the test server puts in front of it.
QByteArray messageText(const QByteArray& stored)
{
    const int tls = stored.indexOf("X-Tls: ");
    return stored.mid(stored.indexOf('\n', tls) + 1);
}

} // namespace

// Sends through libcurl to real servers on loopback: the test's own SMTP server (plain,
// STARTTLS with login, SMTPS) and an HTTP receiver, plus servers that refuse or never answer.
class TestNotificationSender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emailDelivered_data();
    void emailDelivered();
    void emailRefused_data();
    void emailRefused();
    void misbehavingServer_data();
    void misbehavingServer();
    void silentQuitHoldsNoOtherTarget();
    void silentWebhookFailsInItsResponseTime();
    void webhookBodyWithoutEnd();
    void passwordWithoutTls_data();
    void passwordWithoutTls();
    void serverDownIsRetryable();
    void silentServerFailsInBoundedTime();
    void stopDoesNotWaitForSilentServer();
    void webhookPostsJson();
    void webhookStatus_data();
    void webhookStatus();
    void testMessageReportsAnswers();
    void testMessageCallsHeartbeat_data();
    void testMessageCallsHeartbeat();

private:
    NotificationOutcome sendAndWait(NotificationService& service,
                                    const NotificationMessage& message,
                                    const NotificationTarget& target, int boundMs = 20000);

    QTemporaryDir m_dir;
};

void TestNotificationSender::initTestCase()
{
    QVERIFY(m_dir.isValid());
    SmtpServer certificates(m_dir.path());
    QVERIFY2(certificates.makeCertificates(), qPrintable(certificates.errorString()));
}

NotificationOutcome TestNotificationSender::sendAndWait(NotificationService& service,
                                                        const NotificationMessage& message,
                                                        const NotificationTarget& target,
                                                        int boundMs)
{
    QSignalSpy finished(&service, &NotificationService::finished);
    const quint64 id = service.send(message, target);
    if (!finished.wait(boundMs))
        return {false, false, QStringLiteral("(no outcome within the bound)")};
    if (finished.first().at(0).toULongLong() != id)
        return {false, false, QStringLiteral("(outcome of another request)")};
    return finished.first().at(1).value<NotificationOutcome>();
}

void TestNotificationSender::emailDelivered_data()
{
    QTest::addColumn<SmtpServer::Mode>("mode");
    QTest::addColumn<SmtpSecurity>("security");
    QTest::addColumn<bool>("login");
    QTest::addColumn<QByteArray>("tls");
    QTest::addColumn<QString>("nodeName");
    QTest::addColumn<QString>("unit");

    const QString room = QStringLiteral("Room 3");
    const QString degrees = QStringLiteral("°C");
    // A relay on the local network: no TLS, no login.
    QTest::newRow("plain relay") << SmtpServer::Mode::Plain << SmtpSecurity::None << false
                                 << QByteArray("no") << room << degrees;
    // The usual submission: STARTTLS required, login, a company CA named in the settings.
    QTest::newRow("starttls login") << SmtpServer::Mode::StartTls << SmtpSecurity::StartTls << true
                                    << QByteArray("yes") << room << degrees;
    QTest::newRow("smtps login") << SmtpServer::Mode::Smtps << SmtpSecurity::Smtps << true
                                 << QByteArray("yes") << room << degrees;
    // A bare CR in an all-ASCII text ("<CR>.<CR>" ends a message for some servers) must not
    // reach the 7-bit body.
    QTest::newRow("bare CR in node name")
        << SmtpServer::Mode::Plain << SmtpSecurity::None << false << QByteArray("no")
        << QStringLiteral("Cold\r.\rstore") << QStringLiteral("degC");
}

// Catches a message that is not delivered, or that arrives with wrong envelope, headers or body.
void TestNotificationSender::emailDelivered()
{
    QFETCH(SmtpServer::Mode, mode);
    QFETCH(SmtpSecurity, security);
    QFETCH(bool, login);
    QFETCH(QByteArray, tls);
    QFETCH(QString, nodeName);
    QFETCH(QString, unit);

    SmtpServer server(m_dir.path());
    QVERIFY2(server.start(mode, login ? User : QString(), Password),
             qPrintable(server.errorString()));
    NotificationTarget target = mailTarget(server.port(), security);
    if (login) {
        target.user = User;
        target.password = Password;
    }
    target.caFile = server.caFile();

    NotificationService service;
    NotificationEvent event = roomEvent();
    event.nodeName = nodeName;
    event.unit = unit;
    NotificationMessage message(event);
    // Made before an outage: the date stays the one it was made at.
    const QDateTime made = QDateTime::fromSecsSinceEpoch(1720000100);
    message.setCreated(made);
    const NotificationOutcome outcome = sendAndWait(service, message, target);
    QVERIFY2(outcome.accepted, qPrintable(outcome.answer));
    QCOMPARE(outcome.answer, QStringLiteral("250 Message accepted for delivery"));

    // One copy per recipient, each with the same text: the To: line names them all.
    const QList<QByteArray> mails = server.messages();
    QCOMPARE(mails.size(), 2);
    QCOMPARE(MailText::header(mails.at(0), "X-RcptTo"), QByteArray("duty@store.example"));
    QCOMPARE(MailText::header(mails.at(1), "X-RcptTo"), QByteArray("chef@store.example"));
    QCOMPARE(messageText(mails.at(1)), messageText(mails.at(0)));
    const QByteArray& mail = mails.first();
    QCOMPARE(MailText::header(mail, "X-MailFrom"), QByteArray("recorder@store.example"));
    QCOMPARE(MailText::header(mail, "X-Auth-User"), login ? User.toUtf8() : QByteArray());
    QCOMPARE(MailText::header(mail, "X-Tls"), tls);
    QCOMPARE(MailText::header(mail, "Message-ID"), QByteArray("<alarm.4711.start@store.example>"));
    QCOMPARE(MailText::header(mail, "X-Alarm-Event-Id"), QByteArray("4711"));
    QCOMPARE(MailText::header(mail, "Date"), NotificationMessage::rfc5322Date(made));
    QCOMPARE(MailText::header(mail, "To"), QByteArray("duty@store.example, chef@store.example"));
    QCOMPARE(MailText::decodedWords(MailText::header(mail, "Subject")),
             QStringLiteral("[Cold store] Alarm: ") + nodeName.simplified() +
                 QStringLiteral(" / Temperature high, 31.25 ") + unit +
                 QStringLiteral(" (limit 30.00 ") + unit + QLatin1Char(')'));
    for (const QByteArray& line : mail.left(mail.indexOf("\r\n\r\n")).split('\n'))
        QVERIFY2(line.size() <= 78, line.constData());
    QVERIFY(mail.contains("Content-Transfer-Encoding: quoted-printable\r\n"));
    if (unit == QStringLiteral("°C"))
        QVERIFY(mail.contains("\r\nValue: 31.25 =C2=B0C\r\n"));
    QVERIFY(mail.contains("\r\nEvent id: 4711\r\n"));
    // No CR but in a line end, no line past 76 in the body, and the body decodes to the text.
    QCOMPARE(mail.count('\r'), mail.count("\r\n"));
    const QByteArray body = mail.mid(mail.indexOf("\r\n\r\n") + 4);
    for (const QByteArray& line : body.split('\n'))
        QVERIFY2(line.size() <= 77, line.constData());
    QCOMPARE(QString::fromUtf8(MailText::unquote(body))
                 .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
             message.body());
}

void TestNotificationSender::emailRefused_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("answerPart");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("recipient");

    const QString sender = QStringLiteral("recorder@store.example");
    const QString duty = QStringLiteral("duty@store.example");
    // The server's certificate comes from a CA the client was not told to trust.
    QTest::newRow("another CA") << QStringLiteral("other-ca.pem") << Password
                                << QStringLiteral("certificate") << sender << duty;
    QTest::newRow("system CAs only")
        << QString() << Password << QStringLiteral("certificate") << sender << duty;
    QTest::newRow("wrong password") << QStringLiteral("ca.pem") << QStringLiteral("wrong")
                                    << QStringLiteral("535") << sender << duty;
    // A line break in the sender would send a second, forged mail through the logged-in server.
    QTest::newRow("CR LF in sender")
        << QStringLiteral("ca.pem") << Password << QStringLiteral("Sender address is not valid")
        << InjectingSender << duty;
    QTest::newRow("CR LF in recipient")
        << QStringLiteral("ca.pem") << Password
        << QStringLiteral("Recipient address is not valid: duty@store.example") << sender
        << QStringLiteral("duty@store.example>\r\nRCPT TO:<victim@evil.example");
    QTest::newRow("recipient without domain")
        << QStringLiteral("ca.pem") << Password
        << QStringLiteral("Recipient address is not valid: duty@") << sender
        << QStringLiteral("duty@");
}

// Catches a send that goes through an untrusted TLS session or a refused login, or reports such
// a refusal as worth retrying.
void TestNotificationSender::emailRefused()
{
    QFETCH(QString, caFile);
    QFETCH(QString, password);
    QFETCH(QString, answerPart);
    QFETCH(QString, sender);
    QFETCH(QString, recipient);

    SmtpServer server(m_dir.path());
    QVERIFY2(server.start(SmtpServer::Mode::StartTls, User, Password),
             qPrintable(server.errorString()));
    NotificationTarget target = mailTarget(server.port(), SmtpSecurity::StartTls);
    target.user = User;
    target.password = password;
    target.sender = sender;
    target.recipients = QStringList{recipient};
    if (!caFile.isEmpty())
        target.caFile = m_dir.filePath(caFile);

    NotificationService service;
    const NotificationOutcome outcome =
        sendAndWait(service, NotificationMessage(roomEvent()), target);
    QVERIFY(!outcome.accepted);
    QVERIFY(!outcome.retryable);
    QVERIFY2(outcome.answer.contains(answerPart), qPrintable(outcome.answer));
    QVERIFY(server.messages().isEmpty());
}

void TestNotificationSender::misbehavingServer_data()
{
    QTest::addColumn<QStringList>("refuse");
    QTest::addColumn<QStringList>("defer");
    QTest::addColumn<int>("longReply");
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("retryable");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("deferred");
    QTest::addColumn<QByteArray>("deliveredTo");
    QTest::addColumn<QString>("answerPart");

    const QString duty = QStringLiteral("duty@store.example");
    const QString gone = QStringLiteral("gone@store.example");
    const QString later = QStringLiteral("later@store.example");
    const QStringList none;
    // A refusal stopping the mail to everyone, or told of the wrong recipient.
    QTest::newRow("one recipient refused")
        << QStringList{gone} << none << 0 << QStringList{duty, gone} << true << false
        << QStringList{gone} << none << duty.toUtf8()
        << QStringLiteral("1 recipient refused: gone@store.example (550 5.1.1 "
                          "<gone@store.example>: mailbox unavailable)\n250 Message accepted");
    QTest::newRow("first recipient refused")
        << QStringList{gone} << none << 0 << QStringList{gone, duty} << true << false
        << QStringList{gone} << none << duty.toUtf8()
        << QStringLiteral("1 recipient refused: gone@store.example (550 5.1.1 "
                          "<gone@store.example>: mailbox unavailable)\n250 Message accepted");
    // Refused for now: delivered to the others, to be tried again for this one.
    QTest::newRow("one recipient deferred")
        << none << QStringList{later} << 0 << QStringList{duty, later} << true << true << none
        << QStringList{later} << duty.toUtf8()
        << QStringLiteral("1 recipient refused: later@store.example (450 4.2.0");
    QTest::newRow("every recipient refused")
        << QStringList{duty, gone} << none << 0 << QStringList{duty, gone} << false << false
        << QStringList{duty, gone} << none << QByteArray()
        << QStringLiteral("2 recipients refused");
    QTest::newRow("every recipient refused, one for now")
        << QStringList{gone} << QStringList{later} << 0 << QStringList{gone, later} << false << true
        << QStringList{gone} << QStringList{later} << QByteArray()
        << QStringLiteral("2 recipients refused");
    // Each reply was kept whole, up to the 300 KB libcurl stops at: 3000 lines, 240 KB.
    QTest::newRow("reply of 3000 lines")
        << none << none << 3000 << QStringList{duty} << false << false << none << none
        << QByteArray() << QStringLiteral("554 5.6.0 Message refused");
}

// Catches: one refused recipient that stops the mail to all the others, a refusal that is not
// reported (or a temporary one told as final, or the other way round), and a server's reply kept
// whole however long it is.
void TestNotificationSender::misbehavingServer()
{
    QFETCH(QStringList, refuse);
    QFETCH(QStringList, defer);
    QFETCH(int, longReply);
    QFETCH(QStringList, recipients);
    QFETCH(bool, accepted);
    QFETCH(bool, retryable);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, deferred);
    QFETCH(QByteArray, deliveredTo);
    QFETCH(QString, answerPart);

    SmtpServer server(m_dir.path());
    for (const QString& address : refuse)
        server.refuseRecipient(address);
    for (const QString& address : defer)
        server.deferRecipient(address);
    server.setLongReply(longReply);
    QVERIFY2(server.start(SmtpServer::Mode::Plain), qPrintable(server.errorString()));
    NotificationTarget target = mailTarget(server.port(), SmtpSecurity::None);
    target.recipients = recipients;

    NotificationService service;
    const NotificationOutcome outcome =
        sendAndWait(service, NotificationMessage(roomEvent()), target);
    QVERIFY2(outcome.accepted == accepted, qPrintable(outcome.answer.left(300)));
    // Refusals of 5xx and a 554 to the message need other settings, not another try.
    QVERIFY2(outcome.retryable == retryable, qPrintable(outcome.answer.left(300)));
    QCOMPARE(outcome.refused, refused);
    QCOMPARE(outcome.deferred, deferred);
    QVERIFY2(outcome.answer.contains(answerPart), qPrintable(outcome.answer.left(300)));
    QVERIFY2(outcome.answer.size() <= 8192, qPrintable(QString::number(outcome.answer.size())));
    // The one taken gets exactly one copy, its To: line naming every recipient.
    const QList<QByteArray> mails = server.messages();
    QCOMPARE(mails.size(), deliveredTo.isEmpty() ? 0 : 1);
    if (!deliveredTo.isEmpty()) {
        QCOMPARE(MailText::header(mails.first(), "X-RcptTo"), deliveredTo);
        QCOMPARE(MailText::header(mails.first(), "To"),
                 recipients.join(QStringLiteral(", ")).toUtf8());
    }
}

// Catches a server that takes the mail and never answers QUIT holding the sender (and the
// webhook's message queued behind it) for libcurl's 120 s instead of the target's own time-out.
void TestNotificationSender::silentQuitHoldsNoOtherTarget()
{
    SmtpServer server(m_dir.path());
    server.setSilentQuit(true);
    QVERIFY2(server.start(SmtpServer::Mode::Plain), qPrintable(server.errorString()));
    NotificationTarget mail = mailTarget(server.port(), SmtpSecurity::None);
    mail.responseTimeoutMs = 1000;
    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    NotificationTarget hook;
    hook.kind = NotificationTarget::Kind::Webhook;
    hook.url = receiver.url(QStringLiteral("/h"));

    NotificationService service;
    QSignalSpy finished(&service, &NotificationService::finished);
    QElapsedTimer clock;
    clock.start();
    const quint64 mailId = service.send(NotificationMessage(roomEvent()), mail);
    service.send(NotificationMessage(roomEvent()), hook);
    // The mail's own time-out (1 s) and the sends themselves; libcurl's default would be 120 s.
    QTRY_COMPARE_WITH_TIMEOUT(receiver.requests().size(), 1, 8000);
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(finished.size(), 2);
    QCOMPARE(finished.first().at(0).toULongLong(), mailId);
    const auto outcome = finished.first().at(1).value<NotificationOutcome>();
    // The server took the message before it fell silent.
    QVERIFY2(outcome.accepted, qPrintable(outcome.answer));
    QCOMPARE(server.messages().size(), mail.recipients.size());
}

// Catches a webhook that takes the request and never answers holding the sender for the whole
// total time-out (or longer) rather than its response time-out.
void TestNotificationSender::silentWebhookFailsInItsResponseTime()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    NotificationTarget hook;
    hook.kind = NotificationTarget::Kind::Webhook;
    hook.url = QStringLiteral("http://127.0.0.1:") + QString::number(silent.serverPort()) +
               QStringLiteral("/h");
    hook.totalTimeoutMs = 60000;
    hook.responseTimeoutMs = 1000;

    NotificationService service;
    QElapsedTimer clock;
    clock.start();
    const NotificationOutcome outcome =
        sendAndWait(service, NotificationMessage(roomEvent()), hook, 15000);
    // libcurl judges the speed over its last 5 s or so, the request's own bytes included: the
    // silence counts from then on.
    QVERIFY2(clock.elapsed() < 12000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!outcome.accepted);
    QVERIFY2(outcome.retryable, qPrintable(outcome.answer));
}

// Catches a webhook reply whose body never ends read until the total time-out and then taken as
// a failure (the message sent again and again), or kept whole.
void TestNotificationSender::webhookBodyWithoutEnd()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTimer stream;
    QList<QTcpSocket*> clients;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        clients << socket;
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n");
        stream.start(10);
    });
    connect(&stream, &QTimer::timeout, this, [&] {
        for (QTcpSocket* socket : qAsConst(clients))
            socket->write(QByteArray(64 * 1024, 'x'));
    });
    NotificationTarget hook;
    hook.kind = NotificationTarget::Kind::Webhook;
    hook.url = QStringLiteral("http://127.0.0.1:") + QString::number(server.serverPort()) +
               QStringLiteral("/h");
    hook.totalTimeoutMs = 20000;

    NotificationService service;
    QElapsedTimer clock;
    clock.start();
    const NotificationOutcome outcome =
        sendAndWait(service, NotificationMessage(roomEvent()), hook, 30000);
    QVERIFY2(outcome.accepted, qPrintable(outcome.answer.left(300)));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(outcome.answer.size() < 1000, qPrintable(QString::number(outcome.answer.size())));
}

void TestNotificationSender::passwordWithoutTls_data()
{
    QTest::addColumn<CleartextPassword>("cleartext");
    QTest::addColumn<QString>("passwordProblem");
    QTest::addColumn<bool>("delivered");
    QTest::addColumn<QString>("answerPart");

    // A server without TLS that takes AUTH PLAIN: the password would cross the network readable.
    QTest::newRow("refused: no AUTH sent")
        << CleartextPassword::Refused << QString() << false
        << QStringLiteral("The password is not sent unencrypted");
    QTest::newRow("ticked: sent") << CleartextPassword::Allowed << QString() << true
                                  << QStringLiteral("250 ");
    // A project from before the choice goes on as it did (the status bar warns).
    QTest::newRow("legacy project: sent")
        << CleartextPassword::Unset << QString() << true << QStringLiteral("250 ");
    // The secret service could not give the password: no login with an empty one.
    QTest::newRow("secret service locked")
        << CleartextPassword::Allowed << SecretStore::unavailableText() << false
        << SecretStore::unavailableText();
    QTest::newRow("kept for another server")
        << CleartextPassword::Allowed << QStringLiteral("E-mail password kept for another server")
        << false << QStringLiteral("kept for another server");
}

// Catches a password sent readable without the user's choice, or a login tried with an empty
// password when the stored one could not be had.
void TestNotificationSender::passwordWithoutTls()
{
    QFETCH(CleartextPassword, cleartext);
    QFETCH(QString, passwordProblem);
    QFETCH(bool, delivered);
    QFETCH(QString, answerPart);

    SmtpServer server(m_dir.path());
    QVERIFY2(server.start(SmtpServer::Mode::Plain, User, Password),
             qPrintable(server.errorString()));
    NotificationTarget target = mailTarget(server.port(), SmtpSecurity::None);
    target.user = User;
    target.password = passwordProblem.isEmpty() ? Password : QString();
    target.cleartext = cleartext;
    target.passwordProblem = passwordProblem;

    NotificationService service;
    const NotificationOutcome outcome =
        sendAndWait(service, NotificationMessage(roomEvent()), target);
    QCOMPARE(outcome.accepted, delivered);
    QVERIFY2(outcome.answer.contains(answerPart), qPrintable(outcome.answer));
    const QList<QByteArray> mails = server.messages();
    QCOMPARE(mails.size(), delivered ? target.recipients.size() : 0);
    if (delivered) {
        QCOMPARE(MailText::header(mails.first(), "X-Auth-User"), User.toUtf8());
        QCOMPARE(MailText::header(mails.first(), "X-Tls"), QByteArray("no"));
    } else {
        // A missing password may come back (the service unlocked): worth another try.
        QCOMPARE(outcome.retryable, !passwordProblem.isEmpty());
    }
}

// Catches a connection refusal reported as final: the outbox must try again later.
void TestNotificationSender::serverDownIsRetryable()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();

    NotificationService service;
    const NotificationOutcome outcome = sendAndWait(service, NotificationMessage(roomEvent()),
                                                    mailTarget(port, SmtpSecurity::None));
    QVERIFY(!outcome.accepted);
    QVERIFY(outcome.retryable);
    QVERIFY2(outcome.answer.contains(QStringLiteral("onnect")), qPrintable(outcome.answer));
}

// Catches a send that hangs on a server that takes the connection and never says a word, or
// that holds up the calling thread's event loop meanwhile.
void TestNotificationSender::silentServerFailsInBoundedTime()
{
    // Listening without ever reading: the kernel completes the handshake, nobody answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    NotificationTarget target = mailTarget(silent.serverPort(), SmtpSecurity::StartTls);
    target.totalTimeoutMs = 1500;

    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(20);
    NotificationService service;
    const NotificationOutcome outcome =
        sendAndWait(service, NotificationMessage(roomEvent()), target, 10000);
    ticker.stop();
    QVERIFY(!outcome.accepted);
    QVERIFY(outcome.retryable);
    QVERIFY2(outcome.answer.contains(QStringLiteral("imeout")) ||
                 outcome.answer.contains(QStringLiteral("timed out")),
             qPrintable(outcome.answer));
    // 1.5 s at 20 ms: a loop that the send blocked would have seen almost none.
    QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
}

// Catches a shutdown that waits for the silent server's timeout.
void TestNotificationSender::stopDoesNotWaitForSilentServer()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    NotificationTarget target = mailTarget(silent.serverPort(), SmtpSecurity::StartTls);
    target.totalTimeoutMs = 60000;

    NotificationService service;
    QSignalSpy finished(&service, &NotificationService::finished);
    service.send(NotificationMessage(roomEvent()), target);
    // The connection is up and waiting for the banner once the server has it.
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 5000);
    QElapsedTimer clock;
    clock.start();
    service.stop();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    // The interrupted send still reports, as worth retrying.
    QTRY_COMPARE(finished.size(), 1);
    const auto outcome = finished.first().at(1).value<NotificationOutcome>();
    QVERIFY(!outcome.accepted);
    QVERIFY(outcome.retryable);
}

// Catches a webhook body that a receiver cannot parse or that lacks the event's fields.
void TestNotificationSender::webhookPostsJson()
{
    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    NotificationTarget target;
    target.kind = NotificationTarget::Kind::Webhook;
    target.url = receiver.url(QStringLiteral("/hook/token-abc"));

    NotificationService service;
    NotificationEvent event = roomEvent();
    event.kind = NotificationKind::Clear;
    event.end = event.start.addSecs(600);
    const NotificationOutcome outcome = sendAndWait(service, NotificationMessage(event), target);
    QVERIFY2(outcome.accepted, qPrintable(outcome.answer));
    QCOMPARE(outcome.answer, QStringLiteral("HTTP/1.1 200 OK\n{\"ok\":true}"));

    QCOMPARE(receiver.requests().size(), 1);
    const WebhookReceiver::Request& request = receiver.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/hook/token-abc"));
    QVERIFY(request.headers.value("content-type").startsWith("application/json"));
    QCOMPARE(request.headers.value("idempotency-key"), QByteArray("alarm.4711.clear"));
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(request.body, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json.value(QStringLiteral("event_id")).toInt(), 4711);
    QCOMPARE(json.value(QStringLiteral("event")).toString(), QStringLiteral("clear"));
    QCOMPARE(json.value(QStringLiteral("alarm")).toString(), QStringLiteral("high"));
    QCOMPARE(json.value(QStringLiteral("node")).toString(), QStringLiteral("Room 3"));
    QCOMPARE(json.value(QStringLiteral("channel")).toString(), QStringLiteral("Temperature"));
    QCOMPARE(json.value(QStringLiteral("value")).toDouble(), 31.25);
    QCOMPARE(json.value(QStringLiteral("limit")).toDouble(), 30.0);
    QCOMPARE(json.value(QStringLiteral("unit")).toString(), QStringLiteral("°C"));
    QCOMPARE(json.value(QStringLiteral("start")).toVariant().toLongLong(), 1720000000LL);
    QCOMPARE(json.value(QStringLiteral("end")).toVariant().toLongLong(), 1720000600LL);
    QCOMPARE(json.value(QStringLiteral("project")).toString(), QStringLiteral("Cold store"));
}

void TestNotificationSender::webhookStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("retryable");

    QTest::newRow("200 taken") << 200 << true << false;
    QTest::newRow("202 queued") << 202 << true << false;
    QTest::newRow("500 server fault passes") << 500 << false << true;
    QTest::newRow("503 busy") << 503 << false << true;
    QTest::newRow("429 too many") << 429 << false << true;
    QTest::newRow("401 token wrong") << 401 << false << false;
    QTest::newRow("404 no such hook") << 404 << false << false;
    // A redirect is not followed: a POST elsewhere is not what the user set.
    QTest::newRow("301 moved") << 301 << false << false;
}

// Catches an HTTP refusal taken as delivered, or a retry decision that loops on a bad token.
void TestNotificationSender::webhookStatus()
{
    QFETCH(int, status);
    QFETCH(bool, accepted);
    QFETCH(bool, retryable);

    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    receiver.setAnswer(status, "Status", "detail text");
    NotificationTarget target;
    target.kind = NotificationTarget::Kind::Webhook;
    target.url = receiver.url(QStringLiteral("/h"));

    NotificationService service;
    const NotificationOutcome outcome =
        sendAndWait(service, NotificationMessage(roomEvent()), target);
    QCOMPARE(outcome.accepted, accepted);
    QCOMPARE(outcome.retryable, retryable);
    QCOMPARE(outcome.answer, QStringLiteral("HTTP/1.1 ") + QString::number(status) +
                                 QStringLiteral(" Status\ndetail text"));
}

// Catches a test button that sends nowhere or drops one of the two answers.
void TestNotificationSender::testMessageReportsAnswers()
{
    SmtpServer server(m_dir.path());
    QVERIFY2(server.start(SmtpServer::Mode::StartTls, User, Password),
             qPrintable(server.errorString()));
    WebhookReceiver receiver;
    QVERIFY(receiver.listen());

    NotificationSettings settings;
    settings.emailEnabled = true;
    settings.smtpHost = QStringLiteral("127.0.0.1");
    settings.smtpPort = server.port();
    settings.smtpSecurity = SmtpSecurity::StartTls;
    settings.smtpUser = User;
    settings.sender = QStringLiteral("recorder@store.example");
    settings.recipients = QStringList{QStringLiteral("duty@store.example")};
    settings.caFile = server.caFile();
    settings.webhookEnabled = true;

    NotificationService service;
    NotificationTest test(&service);
    QSignalSpy answered(&test, &NotificationTest::answered);
    QSignalSpy finished(&test, &NotificationTest::finished);
    QCOMPARE(test.start(settings, QStringLiteral("Cold store"), Password,
                        receiver.url(QStringLiteral("/t"))),
             2);
    QVERIFY(finished.wait(20000));
    QCOMPARE(answered.size(), 2);
    for (const QList<QVariant>& answer : answered) {
        const auto outcome = answer.at(1).value<NotificationOutcome>();
        QVERIFY2(outcome.accepted, qPrintable(outcome.answer));
    }
    QCOMPARE(server.messages().size(), 1);
    QCOMPARE(MailText::header(server.messages().first(), "Subject"),
             QByteArray("[Cold store] Test message"));
    QCOMPARE(MailText::header(server.messages().first(), "X-Alarm-Event"), QByteArray("test"));
    QCOMPARE(receiver.requests().size(), 1);
    const QJsonObject json = QJsonDocument::fromJson(receiver.requests().first().body).object();
    QCOMPARE(json.value(QStringLiteral("event")).toString(), QStringLiteral("test"));
}

void TestNotificationSender::testMessageCallsHeartbeat_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<bool>("withUrl");
    QTest::addColumn<int>("calls");
    QTest::newRow("heartbeat on") << 5 << true << 1;
    QTest::newRow("heartbeat off") << 0 << true << 0;
    QTest::newRow("no URL typed") << 5 << false << 0;
}

// Catches a test button that does not call the heartbeat URL the user typed (or calls it with
// the heartbeat off), or calls it as a POST with the alarm text.
void TestNotificationSender::testMessageCallsHeartbeat()
{
    QFETCH(int, minutes);
    QFETCH(bool, withUrl);
    QFETCH(int, calls);
    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    NotificationSettings settings;
    settings.heartbeatMinutes = minutes;

    NotificationService service;
    NotificationTest test(&service);
    QSignalSpy answered(&test, &NotificationTest::answered);
    QSignalSpy finished(&test, &NotificationTest::finished);
    QCOMPARE(test.start(settings, QStringLiteral("Cold store"), QString(), QString(),
                        withUrl ? receiver.url(QStringLiteral("/ping/k1")) : QString()),
             calls);
    if (calls == 0)
        return;
    QVERIFY(finished.wait(20000));
    QCOMPARE(answered.size(), 1);
    QCOMPARE(answered.first().at(0).value<NotificationTarget::Kind>(),
             NotificationTarget::Kind::Heartbeat);
    QVERIFY(answered.first().at(1).value<NotificationOutcome>().accepted);
    QCOMPARE(receiver.requests().size(), 1);
    QCOMPARE(receiver.requests().first().method, QByteArray("GET"));
    QCOMPARE(receiver.requests().first().path, QByteArray("/ping/k1"));
}

QTEST_GUILESS_MAIN(TestNotificationSender)
#include "tst_notificationsender.moc"
