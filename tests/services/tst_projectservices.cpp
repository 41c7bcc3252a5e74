#include "alarmmonitor.h"
#include "backupscheduler.h"
#include "backupsettings.h"
#include "projectnotifications.h"
#include "notificationoutbox.h"
#include "configureddevice.h"
#include "databasebackup.h"
#include "databasepeek.h"
#include "databasewriter.h"
#include "forwardingsettings.h"
#include "heartbeat.h"
#include "nodedevice.h"
#include "notificationsettings.h"
#include "notificationtarget.h"
#include "projectalarms.h"
#include "projectaudit.h"
#include "projectfile.h"
#include "projectforwarding.h"
#include "projectnotifications.h"
#include "projectservices.h"
#include "secretstore.h"
#include "spilljournal.h"
#include "sqliteconnection.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sqlite3.h>

// The open project's alarms and forwarding, owned without a window: what shows them hears
// their first word, and they come and go apart, while the project's writer is open.
class TestProjectServices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstNoteReachesWhatShowsIt_data();
    void firstNoteReachesWhatShowsIt();
    void alarmsAndForwardingComeAndGo();
    void alarmsHearTheGatewaysNodes();
    void changesReachTheAuditTrail_data();
    void changesReachTheAuditTrail();
    void forwardingWaitsForItsEntry_data();
    void forwardingWaitsForItsEntry();
    void heartbeatFollowsRecording_data();
    void heartbeatFollowsRecording();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    std::unique_ptr<DatabaseWriter> writer;
};

void TestProjectServices::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // Secrets go to the test's own file, never to the desktop's keyring.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void TestProjectServices::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("store.tpc"));
    ProjectFile(project).create(10000);
    writer = std::make_unique<DatabaseWriter>(ProjectFile::databasePath(project),
                                              QStringLiteral("services"));
    QVERIFY(writer->open());
}

void TestProjectServices::cleanup()
{
    writer.reset();
    dir.reset();
}

void TestProjectServices::firstNoteReachesWhatShowsIt_data()
{
    QTest::addColumn<bool>("email");
    QTest::addColumn<QString>("note");
    // The warning is given while the alarms open: a window told only later would never show it.
    QTest::newRow("password in clear, not chosen")
        << true << QStringLiteral("E-mail password sent unencrypted: choose in Notifications");
    QTest::newRow("no e-mail") << false << QString();
}

void TestProjectServices::firstNoteReachesWhatShowsIt()
{
    QFETCH(bool, email);
    QFETCH(QString, note);
    NotificationSettings settings;
    settings.emailEnabled = email;
    settings.smtpHost = QStringLiteral("127.0.0.1");
    settings.smtpUser = QStringLiteral("recorder");
    settings.smtpSecurity = SmtpSecurity::None;
    settings.sender = QStringLiteral("recorder@example.org");
    settings.recipients = QStringList{QStringLiteral("cold@example.org")};
    settings.save(project);

    ProjectServices services;
    QSignalSpy notes(&services, &ProjectServices::passwordNoteChanged);
    services.openAlarms(project, QStringLiteral("store"), {}, writer.get());
    QVERIFY(services.alarms());
    QVERIFY(!notes.isEmpty());
    QCOMPARE(notes.first().first().toString(), note);
}

void TestProjectServices::alarmsAndForwardingComeAndGo()
{
    ProjectServices services;
    services.startForwarding(project, writer.get(), {});
    QVERIFY(services.forwarding());
    // Forwarding is off in a new project: no forwarder, no connection.
    QVERIFY(!services.forwarding()->forwarder());
    services.openAlarms(project, QStringLiteral("store"), {}, writer.get());
    QVERIFY(services.alarms());
    QVERIFY(services.alarmStore());
    QVERIFY(services.notifications());
    QCOMPARE(services.alarms()->activeCount(), 0);

    // Closing the alarms (a project's editor opened) leaves the forwarding to the cycle.
    services.closeAlarms();
    QVERIFY(!services.alarms());
    QVERIFY(!services.alarmStore());
    QVERIFY(!services.notifications());
    QVERIFY(services.forwarding());
    services.stopForwarding();
    QVERIFY(!services.forwarding());
    // Closing twice, or with nothing open, is harmless (the window closes on every path).
    services.closeAlarms();
    services.stopForwarding();

    // Both open again go with the services, while the writer they use is still open.
    services.startForwarding(project, writer.get(), {});
    services.openAlarms(project, QStringLiteral("store"), {}, writer.get());
    QVERIFY(services.alarms() && services.forwarding());
}

// Catches: alarms no node feeds once the window hands the gateways over, a rename the monitor
// never learns, or a node that still tells alarms that are closed, or a gateway gone before the
// alarms that still is asked for its nodes, or alarms opened again without a close (each a use
// after free under the sanitizers).
void TestProjectServices::alarmsHearTheGatewaysNodes()
{
    GatewayConfig config;
    config.ipAddress = QStringLiteral("127.0.0.1");
    NodeConfig cold;
    cold.deviceNumber = QStringLiteral("N1");
    cold.deviceName = QStringLiteral("Cold room");
    cold.ch1Min = 10;
    cold.ch1Max = 30;
    config.nodes << cold;
    std::unique_ptr<ConfiguredDevice> gateway(ConfiguredDevice::fromConfig(config));
    NodeDevice* node = gateway->nodes().first();
    NodeSample high;
    high.time = QDateTime::currentDateTimeUtc();
    high.channel1 = 35;

    ProjectServices services;
    services.openAlarms(project, QStringLiteral("store"), {gateway.get()}, writer.get());
    node->setData(high);
    QCOMPARE(services.alarms()->activeCount(), 1);
    node->setNames(QStringLiteral("Freezer"), QString(), QString());
    services.rulesChanged();
    QCOMPARE(services.alarms()->nodes().size(), 1);
    QCOMPARE(services.alarms()->nodes().first().nodeName, QStringLiteral("Freezer"));

    services.closeAlarms();
    node->setData(high);
    node->deviceDisconnected();

    // Opened again, the alarms hear the node again; opened once more without a close, the
    // alarms open before end first (their store must not go before them); then the gateway goes
    // first.
    services.openAlarms(project, QStringLiteral("store"), {gateway.get()}, writer.get());
    node->setData(high);
    QCOMPARE(services.alarms()->activeCount(), 1);
    services.openAlarms(project, QStringLiteral("store"), {gateway.get()}, writer.get());
    QCOMPARE(services.alarms()->activeCount(), 0);
    node->setData(high);
    QCOMPARE(services.alarms()->activeCount(), 1);
    gateway.reset();
    services.rulesChanged();
    QVERIFY(services.alarms()->nodes().isEmpty());
    services.closeAlarms();
}

using ServicesChange = std::function<void(ProjectServices* services, const QString& path)>;
Q_DECLARE_METATYPE(ServicesChange)

void TestProjectServices::changesReachTheAuditTrail_data()
{
    QTest::addColumn<ServicesChange>("change");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("newValue");
    QTest::newRow("alarm acknowledged")
        << ServicesChange([](ProjectServices* services, const QString&) {
               AlarmMonitor* monitor = services->alarms()->monitor();
               QCOMPARE(monitor->activeAlarms().size(), 1);
               QVERIFY(monitor->acknowledge(monitor->activeAlarms().first().id,
                                            QStringLiteral("Tom"), QStringLiteral("door shut")));
           })
        << QStringLiteral("alarm acknowledged") << QStringLiteral("alarm event 1, node N1, high")
        << QStringLiteral("acknowledged by Tom: door shut");
    QTest::newRow("forwarding saved")
        << ServicesChange([](ProjectServices* services, const QString& path) {
               // The first save of a project's forwarding: each key is a setting changed.
               ForwardingSettings settings = ForwardingSettings::load(path);
               settings.mqtt.host = QStringLiteral("broker.example.org");
               settings.save(path);
               services->forwarding()->restart();
           })
        << QStringLiteral("setting changed") << QStringLiteral("forwarding, MqttHost")
        << QStringLiteral("broker.example.org");
    QTest::newRow("backup failed on a full disk, told through the outbox too")
        << ServicesChange([](ProjectServices* services, const QString& path) {
               NotificationSettings notify = NotificationSettings::load(path);
               notify.webhookEnabled = true;
               notify.save(path);
               services->reloadNotifications();
               BackupSettings backup;
               backup.folder = QFileInfo(path).path();
               backup.save(path);
               qputenv(DatabaseBackup::MaxPagesVariable, "3");
               services->openBackups(path, QStringLiteral("store"));
               // Due at once (no copy yet); the services' second drives it.
               QTRY_VERIFY_WITH_TIMEOUT((services->tick(), services->backups()->statusText() ==
                                                               "Backup failed: disk full"),
                                        20000);
               qunsetenv(DatabaseBackup::MaxPagesVariable);
               QCOMPARE(services->notifications()->outbox()->waitingCount(), 1);
           })
        << QStringLiteral("backup failed") << QStringLiteral("daily backup")
        << QStringLiteral("disk full");
}

// Catches: an acknowledgement, forwarding settings saved in their dialog, or a failed backup
// that the open project's services take without handing it to the audit trail.
void TestProjectServices::changesReachTheAuditTrail()
{
    QFETCH(ServicesChange, change);
    QFETCH(QString, action);
    QFETCH(QString, object);
    QFETCH(QString, newValue);
    GatewayConfig config;
    NodeConfig cold;
    cold.deviceNumber = QStringLiteral("N1");
    cold.ch1Max = 30;
    config.nodes << cold;
    ProjectFile(project).saveDeviceList({config});
    std::unique_ptr<ConfiguredDevice> gateway(ConfiguredDevice::fromConfig(config));
    ProjectServices services;
    services.openAudit(project, writer.get(), false);
    services.startForwarding(project, writer.get(), {gateway.get()});
    services.openAlarms(project, QStringLiteral("store"), {gateway.get()}, writer.get());
    NodeSample high;
    high.time = QDateTime::currentDateTimeUtc();
    high.channel1 = 35;
    gateway->nodes().first()->setData(high);

    change(&services, project);
    QVERIFY(writer->flushAndWait(0));
    QCOMPARE(DatabasePeek::scalar(ProjectFile::databasePath(project),
                                  QStringLiteral("select count(*) from audit_trail where action = "
                                                 "'%1' and object = '%2' and newValue = '%3'")
                                      .arg(action, object, newValue)),
             qint64(1));
    services.closeAlarms();
    services.stopForwarding();
}

void TestProjectServices::forwardingWaitsForItsEntry_data()
{
    QTest::addColumn<bool>("journalRefused");
    QTest::addColumn<QString>("runsWith");
    QTest::newRow("recorded: taken") << false << "broker.example.org";
    QTest::newRow("kept nowhere: not taken") << true << "";
}

// Catches: saved forwarding settings taken while their entry is only in memory, or taken
// although it could be kept nowhere (a full disk, the file locked).
void TestProjectServices::forwardingWaitsForItsEntry()
{
    QFETCH(bool, journalRefused);
    QFETCH(QString, runsWith);
    GatewayConfig config;
    NodeConfig node;
    node.deviceNumber = QStringLiteral("N1");
    config.nodes << node;
    ProjectFile(project).saveDeviceList({config});
    ProjectServices services;
    services.openAudit(project, writer.get(), false);
    services.startForwarding(project, writer.get(), {});
    QVERIFY(writer->flushAndWait(0));
    SqliteConnection holder;
    if (journalRefused) {
        QVERIFY(QDir().mkpath(SpillJournal::pathFor(ProjectFile::databasePath(project))));
        QVERIFY(holder.open(ProjectFile::databasePath(project), SQLITE_OPEN_READWRITE));
        QCOMPARE(sqlite3_exec(holder.get(), "begin immediate", nullptr, nullptr, nullptr),
                 SQLITE_OK);
    }
    ForwardingSettings settings = ForwardingSettings::load(project);
    settings.mqtt.host = QStringLiteral("broker.example.org");
    settings.save(project);
    QSignalSpy secured(writer.get(), &DatabaseWriter::secured);
    services.forwarding()->restart();
    QVERIFY(secured.wait(20000));
    QCoreApplication::processEvents();
    QCOMPARE(services.forwarding()->settings().mqtt.host, runsWith);
    if (journalRefused)
        sqlite3_exec(holder.get(), "rollback", nullptr, nullptr, nullptr);
    services.stopForwarding();
}

void TestProjectServices::heartbeatFollowsRecording_data()
{
    // Steps: o opens the alarms (with their notifications), c closes them, r starts recording,
    // s stops it.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("beating");
    QTest::newRow("recording before the alarms open") << "ro" << true;
    QTest::newRow("alarms open, then recording") << "or" << true;
    QTest::newRow("recording stopped") << "ors" << false;
    QTest::newRow("alarms opened again while recording") << "orco" << true;
    QTest::newRow("open, never recording") << "o" << false;
}

// Catches a heartbeat that beats while the project does not record (the service would not
// alert when recording stops), or that stays silent while it records because the recording
// began before the notifications were made.
void TestProjectServices::heartbeatFollowsRecording()
{
    QFETCH(QString, steps);
    QFETCH(bool, beating);
    {
        SecretStore store(QFileInfo(project).canonicalFilePath());
        QSignalSpy written(&store, &SecretStore::written);
        store.write(NotificationSettings::heartbeatUrlSecret(),
                    QStringLiteral("http://127.0.0.1:9/ping/x"));
        QVERIFY(written.wait(10000));
    }
    NotificationSettings settings;
    settings.heartbeatMinutes = 10;
    settings.save(project);

    ProjectServices services;
    for (const QChar step : steps) {
        if (step == QLatin1Char('o')) {
            services.openAlarms(project, QStringLiteral("store"), {}, writer.get());
            QSignalSpy read(services.notifications()->secretStore(), &SecretStore::readFinished);
            QVERIFY(read.wait(10000));
        } else if (step == QLatin1Char('c')) {
            services.closeAlarms();
        } else {
            services.setRecording(step == QLatin1Char('r'));
        }
    }
    QCOMPARE(services.notifications()->heartbeat()->isActive(), beating);
}

QTEST_GUILESS_MAIN(TestProjectServices)
#include "tst_projectservices.moc"
