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

// The header's value in a stored message, folded lines joined.
QByteArray header(const QByteArray& message, const QByteArray& name)
{
    const int end = message.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = message.left(end).split('\n');
    QByteArray value;
    bool inside = false;
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (inside && (line.startsWith(' ') || line.startsWith('\t'))) {
            value += line.mid(1);
            continue;
        }
        inside = line.toLower().startsWith(name.toLower() + ':');
        if (inside)
            value = line.mid(name.size() + 1).trimmed();
        else if (!value.isEmpty())
            break;
    }
    return value;
}

// Header text with its RFC 2047 words (UTF-8, base64) decoded; blanks between two encoded
// words do not count.
QString decodedWords(const QByteArray& value)
{
    QByteArray bytes;
    int at = 0;
    while (at < value.size()) {
        const int start = value.indexOf("=?UTF-8?B?", at);
        if (start < 0) {
            bytes += value.mid(at);
            break;
        }
        const QByteArray between = value.mid(at, start - at);
        if (at == 0 || !between.trimmed().isEmpty())
            bytes += between;
        const int end = value.indexOf("?=", start + 10);
        bytes += QByteArray::fromBase64(value.mid(start + 10, end - start - 10));
        at = end + 2;
    }
    return QString::fromUtf8(bytes);
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
    void passwordWithoutTls_data();
    void passwordWithoutTls();
    void serverDownIsRetryable();
    void silentServerFailsInBoundedTime();
    void stopDoesNotWaitForSilentServer();
    void webhookPostsJson();
    void webhookStatus_data();
    void webhookStatus();
    void testMessageReportsAnswers();

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

    // A relay on the local network: no TLS, no login.
    QTest::newRow("plain relay") << SmtpServer::Mode::Plain << SmtpSecurity::None << false
                                 << QByteArray("no");
    // The usual submission: STARTTLS required, login, a company CA named in the settings.
    QTest::newRow("starttls login")
        << SmtpServer::Mode::StartTls << SmtpSecurity::StartTls << true << QByteArray("yes");
    QTest::newRow("smtps login") << SmtpServer::Mode::Smtps << SmtpSecurity::Smtps << true
                                 << QByteArray("yes");
}

// Catches a message that is not delivered, or that arrives with wrong envelope, headers or body.
void TestNotificationSender::emailDelivered()
{
    QFETCH(SmtpServer::Mode, mode);
    QFETCH(SmtpSecurity, security);
    QFETCH(bool, login);
    QFETCH(QByteArray, tls);

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
    NotificationMessage message(roomEvent());
    // Made before an outage: the date stays the one it was made at.
    const QDateTime made = QDateTime::fromSecsSinceEpoch(1720000100);
    message.setCreated(made);
    const NotificationOutcome outcome = sendAndWait(service, message, target);
    QVERIFY2(outcome.accepted, qPrintable(outcome.answer));
    QCOMPARE(outcome.answer, QStringLiteral("250 Message accepted for delivery"));

    const QList<QByteArray> mails = server.messages();
    QCOMPARE(mails.size(), 1);
    const QByteArray& mail = mails.first();
    QCOMPARE(header(mail, "X-MailFrom"), QByteArray("recorder@store.example"));
    QCOMPARE(header(mail, "X-RcptTo"), QByteArray("duty@store.example, chef@store.example"));
    QCOMPARE(header(mail, "X-Auth-User"), login ? User.toUtf8() : QByteArray());
    QCOMPARE(header(mail, "X-Tls"), tls);
    QCOMPARE(header(mail, "Message-ID"), QByteArray("<alarm.4711.start@store.example>"));
    QCOMPARE(header(mail, "X-Alarm-Event-Id"), QByteArray("4711"));
    QCOMPARE(header(mail, "Date"), NotificationMessage::rfc5322Date(made));
    QCOMPARE(header(mail, "To"), QByteArray("duty@store.example, chef@store.example"));
    QCOMPARE(decodedWords(header(mail, "Subject")),
             QStringLiteral("[Cold store] Alarm: Room 3 / Temperature high, 31.25 °C (limit "
                            "30.00 °C)"));
    for (const QByteArray& line : mail.left(mail.indexOf("\r\n\r\n")).split('\n'))
        QVERIFY2(line.size() <= 78, line.constData());
    QVERIFY(mail.contains("Content-Transfer-Encoding: quoted-printable\r\n"));
    QVERIFY(mail.contains("\r\nValue: 31.25 =C2=B0C\r\n"));
    QVERIFY(mail.contains("\r\nEvent id: 4711\r\n"));
}

void TestNotificationSender::emailRefused_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("answerPart");

    // The server's certificate comes from a CA the client was not told to trust.
    QTest::newRow("another CA") << QStringLiteral("other-ca.pem") << Password
                                << QStringLiteral("certificate");
    QTest::newRow("system CAs only") << QString() << Password << QStringLiteral("certificate");
    QTest::newRow("wrong password")
        << QStringLiteral("ca.pem") << QStringLiteral("wrong") << QStringLiteral("535");
}

// Catches a send that goes through an untrusted TLS session or a refused login, or reports such
// a refusal as worth retrying.
void TestNotificationSender::emailRefused()
{
    QFETCH(QString, caFile);
    QFETCH(QString, password);
    QFETCH(QString, answerPart);

    SmtpServer server(m_dir.path());
    QVERIFY2(server.start(SmtpServer::Mode::StartTls, User, Password),
             qPrintable(server.errorString()));
    NotificationTarget target = mailTarget(server.port(), SmtpSecurity::StartTls);
    target.user = User;
    target.password = password;
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
    QCOMPARE(mails.size(), delivered ? 1 : 0);
    if (delivered) {
        QCOMPARE(header(mails.first(), "X-Auth-User"), User.toUtf8());
        QCOMPARE(header(mails.first(), "X-Tls"), QByteArray("no"));
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
    QCOMPARE(header(server.messages().first(), "Subject"), QByteArray("[Cold store] Test message"));
    QCOMPARE(header(server.messages().first(), "X-Alarm-Event"), QByteArray("test"));
    QCOMPARE(receiver.requests().size(), 1);
    const QJsonObject json = QJsonDocument::fromJson(receiver.requests().first().body).object();
    QCOMPARE(json.value(QStringLiteral("event")).toString(), QStringLiteral("test"));
}

QTEST_GUILESS_MAIN(TestNotificationSender)
#include "tst_notificationsender.moc"
