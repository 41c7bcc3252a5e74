#include "forwardingsettings.h"
#include "projectfile.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// The forwarding settings in the project file, beside the keys the file always had.
class TestForwardingSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void olderFileReadsAsOff();
    void savedSettingsReadBack();
    void otherKeysUntouched();
    void unusablePortReadsAsDefault_data();
    void unusablePortReadsAsDefault();
    void handWrittenFile_data();
    void handWrittenFile();
    void unencryptedLogin_data();
    void unencryptedLogin();
    void secretTargetFollowsServer_data();
    void secretTargetFollowsServer();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString project;
};

void TestForwardingSettings::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("site.tpc"));
    ProjectFile(project).create(1000);
}

void TestForwardingSettings::olderFileReadsAsOff()
{
    // Fault: a project written before forwarding existed starts sending somewhere.
    const ForwardingSettings settings = ForwardingSettings::load(project);
    QVERIFY(settings.isOff());
    QCOMPARE(settings, ForwardingSettings());
    QCOMPARE(settings.mqtt.port, 1883);
    QVERIFY(!settings.mqtt.tls);
}

void TestForwardingSettings::savedSettingsReadBack()
{
    // Fault: a field written under one key and read under another, or not written at all.
    ForwardingSettings settings;
    settings.mqtt.enabled = true;
    settings.mqtt.host = QStringLiteral("broker.example.org");
    settings.mqtt.port = 8883;
    settings.mqtt.tls = true;
    settings.mqtt.caFile = QStringLiteral("/etc/company/ca.pem");
    settings.mqtt.user = QStringLiteral("site-3");
    settings.mqtt.topicPrefix = QStringLiteral("company/cold store 3");
    settings.influx.enabled = true;
    settings.influx.url = QStringLiteral("https://influx.example.org:8086/base");
    settings.influx.database = QStringLiteral("sites");
    settings.influx.user = QStringLiteral("writer");
    settings.influx.caFile = QStringLiteral("/etc/company/ca2.pem");
    settings.mqtt.cleartext = CleartextPassword::Refused;
    settings.influx.cleartext = CleartextPassword::Allowed;
    settings.save(project);
    const ForwardingSettings read = ForwardingSettings::load(project);
    QCOMPARE(read, settings);
    QVERIFY(!read.isOff());

    settings.mqtt.enabled = false;
    settings.influx.enabled = false;
    settings.save(project);
    QVERIFY(ForwardingSettings::load(project).isOff());
    // Nothing secret is written.
    QFile file(project);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().toLower().contains("password"));
}

void TestForwardingSettings::otherKeysUntouched()
{
    // Fault: saving the forwarding settings rewrites or drops a key of the project itself.
    ProjectFile file(project);
    file.setValue(QStringLiteral("DeviceList"), QByteArray("{\"devices\": []}"));
    file.saveRecordStartTime(QStringLiteral("2024-03-31 01:59:59"));
    QSettings before(project, QSettings::IniFormat);
    QMap<QString, QVariant> values;
    for (const QString& key : before.allKeys())
        values.insert(key, before.value(key));

    ForwardingSettings settings;
    settings.influx.enabled = true;
    settings.save(project);

    QSettings after(project, QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        QCOMPARE(after.value(it.key()), it.value());
    for (const QString& key : after.allKeys())
        QVERIFY2(values.contains(key) || key.startsWith(QLatin1String("Forward")), qPrintable(key));
}

void TestForwardingSettings::unusablePortReadsAsDefault_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("port");
    QTest::newRow("number") << "1884" << 1884;
    QTest::newRow("zero") << "0" << 1883;
    QTest::newRow("too large") << "65536" << 1883;
    QTest::newRow("negative") << "-1" << 1883;
    QTest::newRow("text") << "mqtt" << 1883;
}

void TestForwardingSettings::unusablePortReadsAsDefault()
{
    // Fault: a hand-edited port wraps round to another port or reaches the library as 0.
    QFETCH(QString, stored);
    QFETCH(int, port);
    ProjectFile(project).setValue(QStringLiteral("ForwardMqttPort"), stored);
    QCOMPARE(ForwardingSettings::load(project).mqtt.port, port);
}

void TestForwardingSettings::handWrittenFile_data()
{
    QTest::addColumn<QByteArray>("lines"); // added by hand at the end of the recorder's file
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("topic prefix with a comma")
        << QByteArray("ForwardMqttTopicPrefix=coldstores,site 7\n") << QStringLiteral("prefix")
        << QStringLiteral("coldstores,site 7");
    QTest::newRow("URL with a semicolon")
        << QByteArray("ForwardInfluxUrl=http://influx.example:8086/a;b\n") << QStringLiteral("url")
        << QStringLiteral("http://influx.example:8086/a;b");
    QTest::newRow("database with quotes inside")
        << QByteArray("ForwardInfluxDatabase=site \"7\"\r\n") << QStringLiteral("database")
        << QStringLiteral("site \"7\"");
    QTest::newRow("host in QSettings' quotes, key repeated")
        << QByteArray("ForwardMqttHost=old.example\nForwardMqttHost=\"broker.example\"\n")
        << QStringLiteral("host") << QStringLiteral("broker.example");
    QTest::newRow("backslashes in QSettings' notation")
        << QByteArray("ForwardMqttCaFile=C:\\\\certs\\\\ca.pem\n") << QStringLiteral("ca")
        << QStringLiteral("C:\\certs\\ca.pem");
}

void TestForwardingSettings::handWrittenFile()
{
    // Fault: a value written by hand read as empty (a comma), cut (a ';') or stripped of quotes.
    QFETCH(QByteArray, lines);
    QFETCH(QString, field);
    QFETCH(QString, expected);
    {
        QFile file(project);
        QVERIFY(file.open(QIODevice::Append));
        QCOMPARE(file.write(lines), qint64(lines.size()));
    }
    const ForwardingSettings s = ForwardingSettings::load(project);
    const QMap<QString, QString> fields{{QStringLiteral("prefix"), s.mqtt.topicPrefix},
                                        {QStringLiteral("url"), s.influx.url},
                                        {QStringLiteral("database"), s.influx.database},
                                        {QStringLiteral("host"), s.mqtt.host},
                                        {QStringLiteral("ca"), s.mqtt.caFile}};
    QCOMPARE(fields.value(field), expected);
}

void TestForwardingSettings::unencryptedLogin_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("mqtt");
    QTest::addColumn<int>("influx");
    const int unset = int(CleartextPassword::Unset);
    // A project from before the choice: absent, which goes on with a warning.
    QTest::newRow("absent") << QString() << QString() << unset << unset;
    QTest::newRow("mqtt allowed") << "ForwardMqttUnencryptedLogin"
                                  << "1" << int(CleartextPassword::Allowed) << unset;
    QTest::newRow("influx refused") << "ForwardInfluxUnencryptedLogin"
                                    << "0" << unset << int(CleartextPassword::Refused);
}

// Catches a choice read under another key or another target's, or an older project read as
// having refused (its forwarding would stop on upgrade).
void TestForwardingSettings::unencryptedLogin()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(int, mqtt);
    QFETCH(int, influx);
    if (!key.isEmpty())
        ProjectFile(project).setValue(key, stored);
    const ForwardingSettings s = ForwardingSettings::load(project);
    QCOMPARE(int(s.mqtt.cleartext), mqtt);
    QCOMPARE(int(s.influx.cleartext), influx);
    // Saved as read: an absent choice stays absent.
    s.save(project);
    QCOMPARE(QSettings(project, QSettings::IniFormat)
                 .contains(QStringLiteral("ForwardMqttUnencryptedLogin")),
             mqtt != int(CleartextPassword::Unset));
}

void TestForwardingSettings::secretTargetFollowsServer_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("same");
    QTest::newRow("host") << "host"
                          << "broker.evil.example" << false;
    QTest::newRow("host in capitals") << "host"
                                      << "BROKER.site.example" << true;
    QTest::newRow("port") << "port"
                          << "1884" << false;
    QTest::newRow("login") << "user"
                           << "boss" << false;
    QTest::newRow("prefix") << "prefix"
                            << "other/site" << true;
    QTest::newRow("influx host") << "url"
                                 << "https://influx.evil.example:8086" << false;
    QTest::newRow("influx default port") << "url"
                                         << "https://influx.site.example" << false;
    QTest::newRow("influx path") << "url"
                                 << "https://influx.site.example:8086/base" << true;
}

// Catches a password kept for one server that another one named in the project file receives.
void TestForwardingSettings::secretTargetFollowsServer()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, same);
    ForwardingSettings s;
    s.mqtt.host = QStringLiteral("broker.site.example");
    s.mqtt.user = QStringLiteral("site-3");
    s.influx.url = QStringLiteral("https://influx.site.example:8086");
    s.influx.user = QStringLiteral("writer");
    ForwardingSettings changed = s;
    if (field == QLatin1String("host"))
        changed.mqtt.host = value;
    else if (field == QLatin1String("port"))
        changed.mqtt.port = value.toInt();
    else if (field == QLatin1String("user"))
        changed.mqtt.user = value;
    else if (field == QLatin1String("prefix"))
        changed.mqtt.topicPrefix = value;
    else
        changed.influx.url = value;
    const bool mqttSame = s.mqtt.secretTarget() == changed.mqtt.secretTarget();
    const bool influxSame = s.influx.secretTarget() == changed.influx.secretTarget();
    QCOMPARE(mqttSame && influxSame, same);
}

QTEST_GUILESS_MAIN(TestForwardingSettings)
#include "tst_forwardingsettings.moc"
