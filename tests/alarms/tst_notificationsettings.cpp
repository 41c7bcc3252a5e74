#include "notificationsettings.h"
#include "projectfile.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The notification settings in the project file: their own keys, the other keys untouched, an
// older file read as "off", hand-spoiled values read as defaults.
class TestNotificationSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void olderFileReadsAsOff();
    void roundTripLeavesOtherKeys();
    void spoiledValues_data();
    void spoiledValues();
    void escalationTargetAddsList();
    void handWrittenFile_data();
    void handWrittenFile();

private:
    QString m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestNotificationSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("store.tpc"));
    const ProjectFile file(m_path);
    file.create(1000);
    GatewayConfig gateway;
    gateway.ipAddress = QStringLiteral("10.0.0.5");
    gateway.port = 502;
    file.saveDeviceList({gateway});
    file.saveRecordStartTime(QStringLiteral("2024-07-03 11:00:00"));
}

// Catches an older project that starts sending because a missing key read as "on".
void TestNotificationSettings::olderFileReadsAsOff()
{
    const NotificationSettings s = NotificationSettings::load(m_path);
    QVERIFY(!s.anyEnabled());
    QVERIFY(!s.emailEnabled);
    QVERIFY(!s.webhookEnabled);
    QCOMPARE(s.reminderMinutes, 30);
    QCOMPARE(s.smtpSecurity, SmtpSecurity::StartTls);
}

// Catches a save that changes or drops a key of the recorder, or a setting that does not come
// back as saved.
void TestNotificationSettings::roundTripLeavesOtherKeys()
{
    QMap<QString, QVariant> before;
    {
        const QSettings ini(m_path, QSettings::IniFormat);
        for (const QString& key : ini.allKeys())
            before.insert(key, ini.value(key));
    }
    NotificationSettings s;
    s.emailEnabled = true;
    s.smtpHost = QStringLiteral("mail.store.example");
    s.smtpPort = 465;
    s.smtpSecurity = SmtpSecurity::Smtps;
    s.smtpUser = QStringLiteral("rec");
    s.sender = QStringLiteral("rec@store.example");
    s.recipients =
        QStringList{QStringLiteral("a@store.example"), QStringLiteral("b@store.example")};
    s.escalationRecipients = QStringList{QStringLiteral("boss@store.example")};
    s.caFile = QStringLiteral("/etc/ssl/company-ca.pem");
    s.webhookEnabled = true;
    s.webhookName = QStringLiteral("teams");
    s.notifyClear = false;
    s.reminderMinutes = 45;
    s.escalationEnabled = true;
    s.escalationMinutes = 90;
    s.retentionDays = 365;
    s.save(m_path);

    const NotificationSettings back = NotificationSettings::load(m_path);
    QCOMPARE(back.emailEnabled, true);
    QCOMPARE(back.smtpHost, s.smtpHost);
    QCOMPARE(back.smtpPort, quint16(465));
    QCOMPARE(back.smtpSecurity, SmtpSecurity::Smtps);
    QCOMPARE(back.smtpUser, s.smtpUser);
    QCOMPARE(back.sender, s.sender);
    QCOMPARE(back.recipients, s.recipients);
    QCOMPARE(back.escalationRecipients, s.escalationRecipients);
    QCOMPARE(back.caFile, s.caFile);
    QCOMPARE(back.webhookEnabled, true);
    QCOMPARE(back.webhookName, QStringLiteral("teams"));
    QCOMPARE(back.notifyStart, true);
    QCOMPARE(back.notifyClear, false);
    QCOMPARE(back.reminderMinutes, 45);
    QCOMPARE(back.escalationEnabled, true);
    QCOMPARE(back.escalationMinutes, 90);
    QCOMPARE(back.retentionDays, 365);

    const QSettings ini(m_path, QSettings::IniFormat);
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(ini.value(it.key()), it.value());
    for (const QString& key : ini.allKeys())
        QVERIFY2(before.contains(key) || key.startsWith(QLatin1String("Notify")), qPrintable(key));
    ProjectData project;
    QVERIFY(ProjectFile(m_path).load(&project));
    QCOMPARE(project.gateways.size(), 1);
}

void TestNotificationSettings::spoiledValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");

    QTest::newRow("port beyond 16 bits")
        << QStringLiteral("NotifySmtpPort") << QStringLiteral("70000") << QStringLiteral("port")
        << QStringLiteral("587");
    QTest::newRow("unknown security")
        << QStringLiteral("NotifySmtpSecurity") << QStringLiteral("tls1.0")
        << QStringLiteral("security") << QStringLiteral("starttls");
    QTest::newRow("security in capitals")
        << QStringLiteral("NotifySmtpSecurity") << QStringLiteral("SMTPS")
        << QStringLiteral("security") << QStringLiteral("smtps");
    QTest::newRow("reminder zero") << QStringLiteral("NotifyReminderMinutes") << QStringLiteral("0")
                                   << QStringLiteral("reminder") << QStringLiteral("30");
    QTest::newRow("reminder text")
        << QStringLiteral("NotifyReminderMinutes") << QStringLiteral("often")
        << QStringLiteral("reminder") << QStringLiteral("30");
    QTest::newRow("recipients with blanks and semicolons")
        << QStringLiteral("NotifyRecipients") << QStringLiteral(" a@x.example ;; b@x.example,")
        << QStringLiteral("recipients") << QStringLiteral("a@x.example|b@x.example");
    QTest::newRow("retention as written") << QStringLiteral("NotifyRetentionDays")
                                          << QStringLiteral("30") << QStringLiteral("retention")
                                          << QStringLiteral("30");
    QTest::newRow("retention negative") << QStringLiteral("NotifyRetentionDays")
                                        << QStringLiteral("-5") << QStringLiteral("retention")
                                        << QStringLiteral("90");
    // The calibration reminders: "<first> <second> <problems>" as read.
    QTest::newRow("calibration reminder off")
        << QStringLiteral("CalibrationReminderSecondDays") << QStringLiteral("0")
        << QStringLiteral("calibration") << QStringLiteral("30 0 0");
    QTest::newRow("calibration days negative: default, told")
        << QStringLiteral("CalibrationReminderSecondDays") << QStringLiteral("-7")
        << QStringLiteral("calibration") << QStringLiteral("30 7 1");
    QTest::newRow("calibration days as text: default, told")
        << QStringLiteral("CalibrationReminderFirstDays") << QStringLiteral("a month")
        << QStringLiteral("calibration") << QStringLiteral("30 7 1");
    // The heartbeat: "<minutes> <problems>" as read.
    QTest::newRow("heartbeat every 10 minutes")
        << QStringLiteral("HeartbeatMinutes") << QStringLiteral("10") << QStringLiteral("heartbeat")
        << QStringLiteral("10 0");
    QTest::newRow("heartbeat beyond a day: off, told")
        << QStringLiteral("HeartbeatMinutes") << QStringLiteral("1441")
        << QStringLiteral("heartbeat") << QStringLiteral("0 1");
    QTest::newRow("heartbeat as text: off, told")
        << QStringLiteral("HeartbeatMinutes") << QStringLiteral("hourly")
        << QStringLiteral("heartbeat") << QStringLiteral("0 1");
    // A line break in an address would let the rest pass as SMTP commands or headers.
    QTest::newRow("sender with CR LF")
        << QStringLiteral("NotifySender")
        << QStringLiteral("alarm@x>\r\nRCPT TO:<victim@evil.example>\r\nDATA")
        << QStringLiteral("problem") << QStringLiteral("Sender address is not valid");
    QTest::newRow("sender with two @")
        << QStringLiteral("NotifySender") << QStringLiteral("rec@lab@x.example")
        << QStringLiteral("problem") << QStringLiteral("Sender address is not valid");
    QTest::newRow("sender with blank")
        << QStringLiteral("NotifySender") << QStringLiteral("rec ord@x.example")
        << QStringLiteral("problem") << QStringLiteral("Sender address is not valid");
    QTest::newRow("sender's domain not a host name")
        << QStringLiteral("NotifySender") << QStringLiteral("rec@x_y.example")
        << QStringLiteral("problem") << QStringLiteral("Sender address is not valid");
    QTest::newRow("sender without @")
        << QStringLiteral("NotifySender") << QStringLiteral("recorder") << QStringLiteral("problem")
        << QStringLiteral("Sender address is not valid");
    QTest::newRow("recipient without domain")
        << QStringLiteral("NotifyRecipients") << QStringLiteral("a@x.example; gone@")
        << QStringLiteral("problem") << QStringLiteral("Recipient address is not valid: gone@");
    QTest::newRow("escalation recipient with control character")
        << QStringLiteral("NotifyEscalationRecipients") << QStringLiteral("boss@x.example\x01")
        << QStringLiteral("problem")
        << QStringLiteral("Recipient address is not valid: boss@x.example\uFFFD");
    QTest::newRow("valid addresses")
        << QStringLiteral("NotifyRecipients")
        << QStringLiteral("a.b+alarm@x.example; c@[192.0.2.1]; d@mail-1.x.example")
        << QStringLiteral("problem") << QString();
    // The user's choice for a login without TLS; any other text than 1 refuses.
    QTest::newRow("unencrypted login allowed")
        << QStringLiteral("NotifySmtpUnencryptedLogin") << QStringLiteral("1")
        << QStringLiteral("cleartext") << QStringLiteral("allowed");
    QTest::newRow("unencrypted login refused")
        << QStringLiteral("NotifySmtpUnencryptedLogin") << QStringLiteral("0")
        << QStringLiteral("cleartext") << QStringLiteral("refused");
    QTest::newRow("unencrypted login spoiled")
        << QStringLiteral("NotifySmtpUnencryptedLogin") << QStringLiteral("yes please")
        << QStringLiteral("cleartext") << QStringLiteral("refused");
}

// Catches a hand-edited value that the sender would take as it stands.
void TestNotificationSettings::spoiledValues()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, field);
    QFETCH(QString, expected);

    // The address checks look at the sender first.
    if (field == QLatin1String("problem") && key != QLatin1String("NotifySender"))
        ProjectFile(m_path).setValue(QStringLiteral("NotifySender"),
                                     QStringLiteral("rec@x.example"));
    ProjectFile(m_path).setValue(key, value);
    const NotificationSettings s = NotificationSettings::load(m_path);
    QString actual;
    if (field == QLatin1String("port"))
        actual = QString::number(s.smtpPort);
    else if (field == QLatin1String("security"))
        actual = NotificationSettings::securityName(s.smtpSecurity);
    else if (field == QLatin1String("reminder"))
        actual = QString::number(s.reminderMinutes);
    else if (field == QLatin1String("retention"))
        actual = QString::number(s.retentionDays);
    else if (field == QLatin1String("problem"))
        actual = s.addressProblem();
    else if (field == QLatin1String("calibration"))
        actual = QStringLiteral("%1 %2 %3")
                     .arg(s.calibrationFirstDays)
                     .arg(s.calibrationSecondDays)
                     .arg(s.keyProblems.filter(key).size());
    else if (field == QLatin1String("heartbeat"))
        actual =
            QStringLiteral("%1 %2").arg(s.heartbeatMinutes).arg(s.keyProblems.filter(key).size());
    else if (field == QLatin1String("cleartext"))
        actual = s.smtpCleartext == CleartextPassword::Allowed   ? QStringLiteral("allowed")
                 : s.smtpCleartext == CleartextPassword::Refused ? QStringLiteral("refused")
                                                                 : QStringLiteral("unset");
    else
        actual = s.recipients.join(QLatin1Char('|'));
    QCOMPARE(actual, expected);
}

// Catches an escalation that reaches only the escalation list, or some address twice.
void TestNotificationSettings::escalationTargetAddsList()
{
    NotificationSettings s;
    s.recipients = QStringList{QStringLiteral("duty@x.example"), QStringLiteral("boss@x.example")};
    s.escalationRecipients =
        QStringList{QStringLiteral("BOSS@x.example"), QStringLiteral("owner@x.example")};
    QCOMPARE(s.emailTarget(QStringLiteral("pw")).recipients, s.recipients);
    const NotificationTarget escalation = s.emailTarget(QStringLiteral("pw"), true);
    QCOMPARE(escalation.recipients,
             QStringList({QStringLiteral("duty@x.example"), QStringLiteral("boss@x.example"),
                          QStringLiteral("owner@x.example")}));
    QCOMPARE(escalation.password, QStringLiteral("pw"));
    QVERIFY(escalation.name != s.emailTarget(QString()).name);
}

void TestNotificationSettings::handWrittenFile_data()
{
    QTest::addColumn<QByteArray>("lines"); // added by hand at the end of the recorder's file
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");

    QTest::newRow("recipients as the README shows them")
        << QByteArray("NotifyRecipients=a@x.example, b@x.example\n") << QStringLiteral("recipients")
        << QStringLiteral("a@x.example|b@x.example");
    QTest::newRow("recipients without blanks")
        << QByteArray("NotifyRecipients=a@x.example,b@x.example\n") << QStringLiteral("recipients")
        << QStringLiteral("a@x.example|b@x.example");
    QTest::newRow("recipients quoted one by one")
        << QByteArray("NotifyRecipients=\"a@x.example\", \"b@x.example\"\n")
        << QStringLiteral("recipients") << QStringLiteral("a@x.example|b@x.example");
    QTest::newRow("recipients after a semicolon")
        << QByteArray("NotifyRecipients=a@x.example; b@x.example\n") << QStringLiteral("recipients")
        << QStringLiteral("a@x.example|b@x.example");
    QTest::newRow("escalation list with CRLF")
        << QByteArray("NotifyEscalationRecipients=boss@x.example, deputy@x.example\r\n")
        << QStringLiteral("escalation") << QStringLiteral("boss@x.example|deputy@x.example");
    QTest::newRow("repeated key: the last one counts")
        << QByteArray("NotifyRecipients=a@x.example\nNotifyRecipients=b@x.example, c@x.example\n")
        << QStringLiteral("recipients") << QStringLiteral("b@x.example|c@x.example");
    QTest::newRow("another section is not the project's")
        << QByteArray("NotifyRecipients=a@x.example\n[Other]\nNotifyRecipients=b@x.example, c@x\n")
        << QStringLiteral("recipients") << QStringLiteral("a@x.example");
    QTest::newRow("login with an equals sign")
        << QByteArray("NotifySmtpUser=domain=rec\n") << QStringLiteral("user")
        << QStringLiteral("domain=rec");
    QTest::newRow("sender with a display name in quotes")
        << QByteArray("NotifySender=\"Cold store\" <rec@x.example>\n") << QStringLiteral("sender")
        << QStringLiteral("\"Cold store\" <rec@x.example>");
    QTest::newRow("host in QSettings' quotes")
        << QByteArray("NotifySmtpHost=\"mail.x.example\"\n") << QStringLiteral("host")
        << QStringLiteral("mail.x.example");
}

// Catches a key written by hand, in the form the README documents, read as empty or changed.
void TestNotificationSettings::handWrittenFile()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, field);
    QFETCH(QString, expected);
    {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::Append));
        QCOMPARE(file.write(lines), qint64(lines.size()));
    }
    const NotificationSettings s = NotificationSettings::load(m_path);
    QString actual;
    if (field == QLatin1String("recipients"))
        actual = s.recipients.join(QLatin1Char('|'));
    else if (field == QLatin1String("escalation"))
        actual = s.escalationRecipients.join(QLatin1Char('|'));
    else if (field == QLatin1String("user"))
        actual = s.smtpUser;
    else if (field == QLatin1String("sender"))
        actual = s.sender;
    else
        actual = s.smtpHost;
    QCOMPARE(actual, expected);
}

QTEST_GUILESS_MAIN(TestNotificationSettings)
#include "tst_notificationsettings.moc"
