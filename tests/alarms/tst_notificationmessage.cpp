#include "mailtext.h"
#include "notificationmessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

QDateTime utc(const char* text)
{
    // The text carries no zone: its date and time are read as UTC.
    const QDateTime local = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

NotificationEvent labEvent(NotificationKind kind, AlarmKind alarm)
{
    NotificationEvent e;
    e.eventId = 12;
    e.kind = kind;
    e.alarmKind = alarm;
    e.projectName = QStringLiteral("Lab");
    e.nodeName = QStringLiteral("Freezer");
    e.serial = QStringLiteral("2002");
    e.channelName = QStringLiteral("Temp");
    e.value = -12.5;
    e.limit = -18.0;
    e.unit = QStringLiteral("degC");
    e.start = utc("2024-07-03T09:46:40");
    return e;
}

} // namespace

// The texts of a notification, in Europe/Berlin (set by the test's registration) so that both
// offsets of the zone and the hour that repeats in autumn are seen.
class TestNotificationMessage : public QObject
{
    Q_OBJECT

private slots:
    void localTimes_data();
    void localTimes();
    void subjects_data();
    void subjects();
    void acrossARestart_data();
    void acrossARestart();
    void emailIsWellFormed();
    void jsonOfNodeAlarm();
    void lineBreakInNameStartsNoHeader();
    void hostileTexts_data();
    void hostileTexts();
    void reports_data();
    void reports();
};

void TestNotificationMessage::localTimes_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QString>("iso");

    QTest::newRow("winter") << utc("2024-01-15T12:00:00")
                            << QByteArray("Mon, 15 Jan 2024 13:00:00 +0100")
                            << QStringLiteral("2024-01-15T13:00:00+01:00");
    QTest::newRow("summer") << utc("2024-07-03T09:46:40")
                            << QByteArray("Wed, 03 Jul 2024 11:46:40 +0200")
                            << QStringLiteral("2024-07-03T11:46:40+02:00");
    QTest::newRow("first hour of summer time")
        << utc("2024-03-31T01:30:00") << QByteArray("Sun, 31 Mar 2024 03:30:00 +0200")
        << QStringLiteral("2024-03-31T03:30:00+02:00");
    // 02:30 happens twice on that night; only the offset tells them apart.
    QTest::newRow("repeated hour, first")
        << utc("2024-10-27T00:30:00") << QByteArray("Sun, 27 Oct 2024 02:30:00 +0200")
        << QStringLiteral("2024-10-27T02:30:00+02:00");
    QTest::newRow("repeated hour, second")
        << utc("2024-10-27T01:30:00") << QByteArray("Sun, 27 Oct 2024 02:30:00 +0100")
        << QStringLiteral("2024-10-27T02:30:00+01:00");
}

// Catches times written in UTC, without their offset, or with the offset of the wrong season.
void TestNotificationMessage::localTimes()
{
    QFETCH(QDateTime, time);
    QFETCH(QByteArray, date);
    QFETCH(QString, iso);

    QCOMPARE(NotificationMessage::rfc5322Date(time), date);
    QCOMPARE(NotificationMessage::localIsoTime(time), iso);
    NotificationEvent e = labEvent(NotificationKind::Start, AlarmKind::High);
    e.start = time;
    const QJsonObject json = QJsonDocument::fromJson(NotificationMessage(e).json()).object();
    QCOMPARE(json.value(QStringLiteral("start_local")).toString(), iso);
    QCOMPARE(json.value(QStringLiteral("start")).toVariant().toLongLong(), time.toSecsSinceEpoch());
}

// A row of subjects_data() for an alarm test: an alarm's start marked as a test.
constexpr int AlarmTestRow = -1;

void TestNotificationMessage::subjects_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("alarm");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("start low")
        << int(NotificationKind::Start) << int(AlarmKind::Low) << QStringLiteral("alarm.12.start")
        << QStringLiteral("[Lab] Alarm: Freezer / Temp low, -12.50 degC (limit -18.00 degC)")
        << QStringLiteral("An alarm has started.");
    QTest::newRow("clear") << int(NotificationKind::Clear) << int(AlarmKind::High)
                           << QStringLiteral("alarm.12.clear")
                           << QStringLiteral("[Lab] Cleared: Freezer / Temp high")
                           << QStringLiteral("The alarm has cleared.");
    // Each reminder is a message of its own, not a copy of the one before.
    QTest::newRow("reminder 3")
        << int(NotificationKind::Reminder) << int(AlarmKind::High)
        << QStringLiteral("alarm.12.reminder.3")
        << QStringLiteral("[Lab] Reminder: Freezer / Temp high, -12.50 degC (limit -18.00 degC)")
        << QStringLiteral("The alarm is still active and has not been acknowledged (reminder 3).");
    QTest::newRow("escalation battery")
        << int(NotificationKind::Escalation) << int(AlarmKind::Battery)
        << QStringLiteral("alarm.12.escalation")
        << QStringLiteral(
               "[Lab] Escalation: Freezer / Temp battery, -12.50 degC (limit -18.00 degC)")
        << QStringLiteral("The alarm has not been acknowledged in time; this message also goes to "
                          "the escalation list.");
    QTest::newRow("no data") << int(NotificationKind::Start) << int(AlarmKind::NoData)
                             << QStringLiteral("alarm.12.start")
                             << QStringLiteral("[Lab] Alarm: Freezer / Temp no data")
                             << QStringLiteral("An alarm has started.");
    QTest::newRow("calibration overdue")
        << int(NotificationKind::Calibration) << int(AlarmKind::High)
        << QStringLiteral("calibration.12.3")
        << QStringLiteral("[Lab] Calibration overdue: Freezer / Temp since 2024-07-03")
        << QStringLiteral("Calibration overdue: Freezer / Temp since 2024-07-03.");
    QTest::newRow("test") << int(NotificationKind::Test) << int(AlarmKind::High)
                          << QStringLiteral("alarm.12.test") << QStringLiteral("[Lab] Test message")
                          << QStringLiteral("This is a test message. If you can read it, the "
                                            "recorder's notifications reach you.");
    // An alarm test looks like an alarm's start, marked as a test, with an id of its own.
    QTest::newRow("alarm test")
        << AlarmTestRow << int(AlarmKind::High) << QStringLiteral("alarmtest.12")
        << QStringLiteral("[TEST] [Lab] Alarm test: Freezer")
        << QStringLiteral("TEST: this is a test of the alarm notifications, run by olga. No alarm "
                          "is active.");
    QTest::newRow("alarm test reminder")
        << int(NotificationKind::AlarmTestReminder) << int(AlarmKind::High)
        << QStringLiteral("alarmtestreminder.12")
        << QStringLiteral("[Lab] Alarm test due: none for 3 days")
        << QStringLiteral("No alarm test has been run for 3 days. Run one: Record, Test alarms.");
    QTest::newRow("backup failed: its own id, the reason in the subject, no alarm")
        << int(NotificationKind::BackupFailed) << int(AlarmKind::High)
        << QStringLiteral("backup.12") << QStringLiteral("[Lab] Backup failed: disk full")
        << QStringLiteral("The daily backup of the project's database failed: disk full.");
}

// Catches a kind of message told as another, or two different messages sharing one id.
void TestNotificationMessage::subjects()
{
    QFETCH(int, kind);
    QFETCH(int, alarm);
    QFETCH(QString, key);
    QFETCH(QString, subject);
    QFETCH(QString, firstLine);

    const bool alarmTest = kind == AlarmTestRow;
    NotificationEvent e =
        labEvent(alarmTest ? NotificationKind::Start : NotificationKind(kind), AlarmKind(alarm));
    e.sequence = 3;
    e.detail = QStringLiteral("disk full");
    if (alarmTest) {
        e.test = true;
        e.detail = QStringLiteral("olga");
    }
    const NotificationMessage message(e);
    QCOMPARE(message.key(), key);
    QCOMPARE(message.subject(), subject);
    QCOMPARE(message.body().section(QLatin1Char('\n'), 0, 0), firstLine);
    // Only a test says so to a receiver that reads the JSON.
    QCOMPARE(
        QJsonDocument::fromJson(message.json()).object().value(QStringLiteral("test")).toBool(),
        alarmTest);
}

void TestNotificationMessage::acrossARestart_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("ended");
    QTest::addColumn<qint64>("continues");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("jsonKey");
    QTest::newRow("end with the recorder's stop")
        << int(NotificationKind::Clear) << int(AlarmEnd::RecorderStopped) << qint64(0)
        << QStringLiteral("[Lab] Recorder stopped: Freezer / Temp high")
        << QStringLiteral("recorder stopped: alarm state unknown until it runs again")
        << QStringLiteral("end_reason");
    QTest::newRow("start that continues an event")
        << int(NotificationKind::Start) << int(AlarmEnd::Active) << qint64(7)
        << QStringLiteral("[Lab] Alarm continues: Freezer / Temp high, -12.50 degC (limit -18.00 "
                          "degC)")
        << QStringLiteral("Continues event id: 7") << QStringLiteral("continues_event_id");
}

// Catches an end with the recorder's stop told as a clearing, or a start after a restart that
// does not say which event it continues (a receiver sees two starts and no end).
void TestNotificationMessage::acrossARestart()
{
    QFETCH(int, kind);
    QFETCH(int, ended);
    QFETCH(qint64, continues);
    QFETCH(QString, subject);
    QFETCH(QString, line);
    QFETCH(QString, jsonKey);
    NotificationEvent e = labEvent(NotificationKind(kind), AlarmKind::High);
    e.ended = AlarmEnd(ended);
    if (e.ended != AlarmEnd::Active)
        e.end = e.start.addSecs(600);
    e.continuesEventId = continues;
    const NotificationMessage message(e);
    QCOMPARE(message.subject(), subject);
    QVERIFY2(message.body().contains(line), qPrintable(message.body()));
    QVERIFY(QJsonDocument::fromJson(message.json()).object().contains(jsonKey));
}

// Catches bare line feeds, overlong lines, or a body that does not decode to the text.
void TestNotificationMessage::emailIsWellFormed()
{
    NotificationEvent e = labEvent(NotificationKind::Start, AlarmKind::High);
    e.nodeName = QStringLiteral("Kühlraum Süd, Regal 4 – links oben neben der Tür zum Lager");
    e.unit = QStringLiteral("°C");
    const NotificationMessage message(e);
    const QByteArray mail =
        message.email(QStringLiteral("rec@lab.example"), {QStringLiteral("a@lab.example")},
                      utc("2024-01-15T12:00:00"));

    QCOMPARE(mail.count('\n'), mail.count("\r\n"));
    for (const QByteArray& line : mail.split('\n'))
        QVERIFY2(line.size() <= 78, line.constData());
    QVERIFY(mail.startsWith("Date: Mon, 15 Jan 2024 13:00:00 +0100\r\n"));
    QVERIFY(mail.contains("\r\nMessage-ID: <alarm.12.start@lab.example>\r\n"));
    QVERIFY(mail.contains("\r\nMIME-Version: 1.0\r\n"));
    const int split = mail.indexOf("\r\n\r\n");
    QVERIFY(mail.left(split).contains("quoted-printable"));
    const QByteArray body = MailText::unquote(mail.mid(split + 4));
    QCOMPARE(QString::fromUtf8(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
             message.body());
    QVERIFY(message.body().contains(QStringLiteral("Start: 2024-07-03 11:46:40 +02:00\n")));
    QVERIFY(message.body().contains(QStringLiteral("End: still active\n")));
}

// Catches a node alarm whose missing value or end is sent as 0 instead of null.
void TestNotificationMessage::jsonOfNodeAlarm()
{
    NotificationEvent e = labEvent(NotificationKind::Start, AlarmKind::NoData);
    e.channelName.clear();
    e.value = std::numeric_limits<double>::quiet_NaN();
    const QJsonObject json = QJsonDocument::fromJson(NotificationMessage(e).json()).object();
    QCOMPARE(json.value(QStringLiteral("message_id")).toString(), QStringLiteral("alarm.12.start"));
    QCOMPARE(json.value(QStringLiteral("alarm")).toString(), QStringLiteral("no data"));
    QCOMPARE(json.value(QStringLiteral("channel")).toString(), QString());
    QVERIFY(json.value(QStringLiteral("value")).isNull());
    QCOMPARE(json.value(QStringLiteral("limit")).toDouble(), -18.0);
    QVERIFY(json.value(QStringLiteral("end")).isNull());
    QVERIFY(json.value(QStringLiteral("end_local")).isNull());
    QCOMPARE(json.value(QStringLiteral("serial")).toString(), QStringLiteral("2002"));
}

// Catches a node name with a line break that adds a header (a hidden recipient, say).
void TestNotificationMessage::lineBreakInNameStartsNoHeader()
{
    NotificationEvent e = labEvent(NotificationKind::Start, AlarmKind::High);
    e.nodeName = QStringLiteral("Freezer\r\nBcc: someone@elsewhere.example");
    const QByteArray mail =
        NotificationMessage(e).email(QStringLiteral("rec@lab.example\nCc: x@y.example"),
                                     {QStringLiteral("a@lab.example")}, utc("2024-01-15T12:00:00"));
    const QByteArray head = mail.left(mail.indexOf("\r\n\r\n"));
    QVERIFY(!head.contains("\nBcc:"));
    QVERIFY(!head.contains("\nCc:"));
    QVERIFY(head.contains("Subject: [Lab] Alarm: Freezer Bcc: someone@elsewhere.example / Temp"));
}

void TestNotificationMessage::hostileTexts_data()
{
    QTest::addColumn<QString>("nodeName");
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("recipients");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("domain");

    const QString from = QStringLiteral("rec@lab.example");
    const QByteArray lab("lab.example");
    // "<CR>.<CR>" ends a message for some servers; a bare CR must never reach a 7-bit body.
    QTest::newRow("bare CR in node name")
        << QStringLiteral("Cold\r.\rstore") << from << 1 << QByteArray("quoted-printable") << lab;
    QTest::newRow("escape in node name")
        << QStringLiteral("Cold\x1b[2Jstore") << from << 1 << QByteArray("quoted-printable") << lab;
    QTest::newRow("DEL in node name")
        << QStringLiteral("Cold\x7fstore") << from << 1 << QByteArray("quoted-printable") << lab;
    QTest::newRow("plain text stays 7-bit")
        << QStringLiteral("Cold store") << from << 1 << QByteArray("7bit") << lab;
    // 2000 characters of words: the subject is folded, the body line (past 998) encoded.
    QTest::newRow("long name of words") << QStringLiteral("Room ").repeated(400).trimmed() << from
                                        << 1 << QByteArray("quoted-printable") << lab;
    // One word of 1500 characters cannot be folded: encoded words, split.
    QTest::newRow("long name without blank")
        << QStringLiteral("X").repeated(1500) << from << 1 << QByteArray("quoted-printable") << lab;
    QTest::newRow("many recipients")
        << QStringLiteral("Cold store") << from << 80 << QByteArray("7bit") << lab;
    // The text after the last "@" of a forged sender is no Message-ID domain.
    QTest::newRow("line break in sender")
        << QStringLiteral("Cold store")
        << QStringLiteral("alarm@x>\r\nRCPT TO:<victim@evil.example>\r\nDATA") << 1
        << QByteArray("7bit") << QByteArray("localhost");
    QTest::newRow("blank in sender's domain")
        << QStringLiteral("Cold store") << QStringLiteral("rec@lab.example evil.example") << 1
        << QByteArray("7bit") << QByteArray("localhost");
}

// Catches: a control character that reaches a 7-bit body, a header or body line past 998
// characters (or a header line past 78 where it can be folded), a fold or an encoded word that
// does not give back the text, and a Message-ID domain taken from an unchecked sender.
void TestNotificationMessage::hostileTexts()
{
    QFETCH(QString, nodeName);
    QFETCH(QString, from);
    QFETCH(int, recipients);
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, domain);

    NotificationEvent e = labEvent(NotificationKind::Start, AlarmKind::High);
    e.nodeName = nodeName;
    const NotificationMessage message(e);
    QStringList to;
    for (int i = 0; i < recipients; ++i)
        to << QStringLiteral("person.number.%1@lab.example").arg(i);
    const QByteArray mail = message.email(from, to, utc("2024-01-15T12:00:00"));

    QCOMPARE(mail.count('\r'), mail.count("\r\n"));
    QCOMPARE(mail.count('\n'), mail.count("\r\n"));
    const int split = mail.indexOf("\r\n\r\n");
    for (const QByteArray& line : mail.left(split).split('\n'))
        QVERIFY2(line.size() <= 79, line.left(100).constData());
    for (const QByteArray& line : mail.mid(split + 4).split('\n'))
        QVERIFY2(line.size() <= 999, line.left(100).constData());
    QCOMPARE(MailText::header(mail, "Content-Transfer-Encoding"), encoding);
    QCOMPARE(MailText::header(mail, "Message-ID"), "<alarm.12.start@" + domain + '>');
    QCOMPARE(MailText::decodedWords(MailText::header(mail, "Subject")),
             message.subject().simplified());
    QCOMPARE(QString::fromUtf8(MailText::header(mail, "To")), to.join(QStringLiteral(", ")));
    QByteArray body = mail.mid(split + 4);
    if (encoding == "quoted-printable") {
        for (const QByteArray& line : body.split('\n'))
            QVERIFY2(line.size() <= 77, line.constData());
        body = MailText::unquote(body);
    }
    QCOMPARE(QString::fromUtf8(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
             message.body());
}

void TestNotificationMessage::reports_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("subject"); // "[Lab] <subject> 2024-06"
    QTest::addColumn<QString>("attachmentName");
    QTest::addColumn<QString>("refusal"); // under a limit of 10 MiB
    const QString monthly = QStringLiteral("Monthly report");
    const QString file = QStringLiteral("lab.pdf");
    const int tenMb = 10 * 1024 * 1024;
    // The name goes into a MIME header: no quote, line break, folder or 8-bit byte reaches it.
    QTest::newRow("hostile name") << monthly << QStringLiteral("../x\"y\r\nZ: wä.pdf") << 10
                                  << monthly << QStringLiteral("report.._x_y__Z_ w_.pdf")
                                  << QString();
    QTest::newRow("line break in the title")
        << QStringLiteral("Monthly\r\nBcc: x@evil.example") << file << 10
        << QStringLiteral("Monthly Bcc: x@evil.example") << file << QString();
    QTest::newRow("exactly the limit") << monthly << file << tenMb << monthly << file << QString();
    QTest::newRow("over the limit")
        << monthly << file << int(12.3 * 1024 * 1024) << monthly << file
        << QStringLiteral("Report too large to mail: 12.3 MB, the limit is 10 MB");
    // Rounded, the size would read as the limit.
    QTest::newRow("one byte over") << monthly << file << tenMb + 1 << monthly << file
                                   << QStringLiteral("Report too large to mail: 10.000 MB, the "
                                                     "limit is 10 MB");
}

// Catches an attachment name or title that breaks out of its header (a line break in the
// subject), the PDF in the webhook's JSON, or a wrong size refusal.
void TestNotificationMessage::reports()
{
    QFETCH(QString, title);
    QFETCH(QString, name);
    QFETCH(int, bytes);
    QFETCH(QString, subject);
    QFETCH(QString, attachmentName);
    QFETCH(QString, refusal);
    const NotificationMessage m =
        NotificationMessage::report(QStringLiteral("Lab"), title, QStringLiteral("2024-06"), false,
                                    name, QByteArray(bytes, 'P'), QStringLiteral("report.m"));
    QCOMPARE(m.subject(), QStringLiteral("[Lab] ") + subject + QStringLiteral(" 2024-06"));
    QCOMPARE(m.attachmentName(), attachmentName);
    QCOMPARE(NotificationMessage::reportSizeRefusal(bytes, 10 * 1024 * 1024), refusal);
    const QJsonObject json = QJsonDocument::fromJson(m.json()).object();
    QCOMPARE(json.value(QStringLiteral("file")).toString() + QLatin1Char(' ') +
                 QString::number(json.value(QStringLiteral("size")).toInt()),
             attachmentName + QLatin1Char(' ') + QString::number(bytes));
    QVERIFY(m.json().size() < 1000);
}

QTEST_GUILESS_MAIN(TestNotificationMessage)
#include "tst_notificationmessage.moc"
