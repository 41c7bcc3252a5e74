// The recorder's changes in the project's audit trail: each kind of change gives its entry (who,
// what, old and new value, never a secret), recording started and stopped and by what, a
// recording a kill left running found at the next start, jumps of the computer's clock, and
// settings edited in the project file while the recorder was closed.

#include "alarmeventrecord.h"
#include "audittrail.h"
#include "clockchanges.h"
#include "databasewriter.h"
#include "forwardingsettings.h"
#include "notificationsettings.h"
#include "projectaudit.h"
#include "projectfile.h"
#include "projectforwarding.h"
#include "settingsdifference.h"
#include "spilljournal.h"
#include "sqliteconnection.h"
#include "tickingwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <ctime>
#include <functional>
#include <memory>

namespace {

// 2026-01-01 00:00:00 UTC, 01:00:00 in Berlin.
constexpr qint64 NewYear = 1767225600000;

using Edit = std::function<void(const QString& project)>;

NodeConfig node(const QString& serial, const QString& name)
{
    NodeConfig n;
    n.deviceNumber = serial;
    n.deviceName = name;
    n.ch1Name = QStringLiteral("Temperature");
    n.ch1Unit = TemperatureC;
    n.ch1Min = -20;
    n.ch1Max = 5;
    return n;
}

QList<GatewayConfig> gateways(const QString& project)
{
    ProjectData data;
    ProjectFile(project).load(&data);
    return data.gateways;
}

// Changes the gateways as the recorder's editor saves them.
Edit devices(const std::function<void(QList<GatewayConfig>*)>& change)
{
    return [change](const QString& project) {
        QList<GatewayConfig> list = gateways(project);
        change(&list);
        ProjectFile(project).saveDeviceList(list);
    };
}

// Sets a key the way a hand edit of the INI file does.
Edit key(const QString& name, const QString& value)
{
    return [name, value](const QString& project) {
        QSettings(project, QSettings::IniFormat).setValue(name, value);
    };
}

// "action|object|old|new"; a pattern ending in '*' matches any rest.
QString line(const AuditEntry& e)
{
    return QStringList{e.action, e.object, e.oldValue, e.newValue}.join(QLatin1Char('|'));
}

bool matches(const QString& pattern, const QString& text)
{
    return pattern.endsWith(QLatin1Char('*')) ? text.startsWith(pattern.chopped(1))
                                              : text == pattern;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestProjectAudit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void changeIsRecorded_data();
    void changeIsRecorded();
    void secretChangeIsRecorded_data();
    void secretChangeIsRecorded();
    void acknowledgementIsRecorded_data();
    void acknowledgementIsRecorded();
    void recordingIsRecorded_data();
    void recordingIsRecorded();
    void clockJumpIsRecorded_data();
    void clockJumpIsRecorded();
    void fileEditedWhileClosed_data();
    void fileEditedWhileClosed();
    void changeWaitsForItsEntry_data();
    void changeWaitsForItsEntry();

private:
    // The project's writer and audit, opened as the recorder opens them.
    void openAudit(ProjectAudit::Opening opening = ProjectAudit::Opening::Opened);
    void closeAudit();
    // The entries after the first `skip`, once the writer has them in the file.
    QVector<AuditEntry> entries(int skip = 0);
    void compareEntries(const QVector<AuditEntry>& actual, const QStringList& expected);
    // The differences recorded, then the settings they leave accepted; nothing for none.
    void compareChanges(const QVector<AuditEntry>& recorded, const QStringList& expected);

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    std::unique_ptr<TickingWriter> writer;
    std::unique_ptr<ProjectAudit> audit;
};

void TestProjectAudit::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QVERIFY(ClockChanges::zoneInEffect());
}

void TestProjectAudit::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("store.tpc"));
    ProjectFile file(project);
    file.create(10000);
    GatewayConfig gateway;
    gateway.ipAddress = QStringLiteral("10.0.0.5");
    gateway.nodes << node(QStringLiteral("1001"), QStringLiteral("Freezer"))
                  << node(QStringLiteral("1002"), QStringLiteral("Fridge"));
    file.saveDeviceList({gateway});
    NotificationSettings notifications;
    notifications.smtpHost = QStringLiteral("mail.example.org");
    notifications.save(project);
    ForwardingSettings forwarding;
    forwarding.mqtt.host = QStringLiteral("broker.example.org");
    forwarding.save(project);
}

void TestProjectAudit::cleanup()
{
    closeAudit();
    dir.reset();
}

void TestProjectAudit::openAudit(ProjectAudit::Opening opening)
{
    writer = std::make_unique<TickingWriter>(ProjectFile::databasePath(project),
                                             QStringLiteral("audit"));
    QVERIFY(writer->open());
    audit = std::make_unique<ProjectAudit>(project, writer->writer());
    QString error;
    QVERIFY2(audit->open(opening, &error), qPrintable(error));
    // A new file gets its index first; writes wait for it.
    QTRY_VERIFY_WITH_TIMEOUT(audit->isChecked() && !writer->writer()->isBuilding(), 30000);
}

void TestProjectAudit::closeAudit()
{
    audit.reset();
    writer.reset();
}

QVector<AuditEntry> TestProjectAudit::entries(int skip)
{
    if (writer)
        writer->settle();
    SqliteConnection c;
    if (!c.open(ProjectFile::databasePath(project), SQLITE_OPEN_READONLY))
        return {};
    QVector<AuditEntry> all;
    QString error;
    AuditTrail::read(c.get(), 1, 1000000, &all, &error);
    return all.mid(skip);
}

void TestProjectAudit::compareEntries(const QVector<AuditEntry>& actual,
                                      const QStringList& expected)
{
    QStringList lines;
    for (const AuditEntry& e : actual)
        lines << line(e);
    QVERIFY2(actual.size() == expected.size(), qPrintable(lines.join(QLatin1Char('\n'))));
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(matches(expected[i], lines[i]), qPrintable(lines[i] + " != " + expected[i]));
}

void TestProjectAudit::compareChanges(const QVector<AuditEntry>& recorded,
                                      const QStringList& expected)
{
    if (expected.isEmpty()) {
        QCOMPARE(recorded.size(), 0);
        return;
    }
    compareEntries(recorded.mid(0, recorded.size() - 1), expected);
    QCOMPARE(recorded.last().action, ProjectAudit::settingsAcceptedAction());
}

void TestProjectAudit::changeIsRecorded_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QStringList>("expected");
    const auto first = [](const std::function<void(NodeConfig*)>& change) {
        return devices([change](QList<GatewayConfig>* list) { change(&(*list)[0].nodes[0]); });
    };
    QTest::newRow("range") << first([](NodeConfig* n) { n->ch1Max = 8; })
                           << QStringList{QStringLiteral("setting changed|node 1001, channel 1 "
                                                         "range|-20.00 to 5.00|-20.00 to 8.00")};
    QTest::newRow("alarm delay")
        << first([](NodeConfig* n) { n->alarmRules.channel[0].delayMinutes = 15; })
        << QStringList{
               QStringLiteral("setting changed|node 1001, channel 1 alarm delay|0 min|15 min")};
    QTest::newRow("no data alarm and battery")
        << first([](NodeConfig* n) {
               n->alarmRules.noDataMinutes = 30;
               n->alarmRules.batteryLow = 20;
           })
        << QStringList{
               QStringLiteral("setting changed|node 1001, battery low alarm|off|below 20 %"),
               QStringLiteral("setting changed|node 1001, no data alarm|off|after 30 min")};
    QTest::newRow("renamed") << first([](NodeConfig* n) {
        n->deviceName = QStringLiteral("Cold room");
    }) << QStringList{QStringLiteral("setting changed|node 1001, name|Freezer|Cold room")};
    QTest::newRow("node added") << devices([](QList<GatewayConfig>* list) {
        (*list)[0].nodes << node(QStringLiteral("1003"), QStringLiteral("Ice"));
    })
                                << QStringList{QStringLiteral(
                                       "added|node 1003||battery low alarm: off; channel 1 alarm "
                                       "deadband: 0.00; channel 1 alarm delay: 0 min; channel 1 "
                                       "name: Temperature; channel 1 range: -20.00 to 5.00;*")};
    QTest::newRow("node removed") << devices([](QList<GatewayConfig>* list) {
        (*list)[0].nodes.removeLast();
    }) << QStringList{QStringLiteral("removed|node 1002|battery low alarm: off;*")};
    QTest::newRow("gateway added") << devices([](QList<GatewayConfig>* list) {
        GatewayConfig g;
        g.ipAddress = QStringLiteral("10.0.0.9");
        g.port = 503;
        *list << g;
    }) << QStringList{QStringLiteral("added|gateway 10.0.0.9:503||model: TQ100")};
    QTest::newRow("interval") << Edit([](const QString& p) {
        ProjectFile(p).saveInterval(60000);
    }) << QStringList{QStringLiteral("setting changed|project, interval|10 sec|1 min")};
    QTest::newRow("notifications")
        << Edit([](const QString& p) {
               NotificationSettings s = NotificationSettings::load(p);
               s.smtpHost = QStringLiteral("smtp.example.org");
               s.reminderMinutes = 45;
               s.save(p);
           })
        << QStringList{QStringLiteral("setting changed|notifications, ReminderMinutes|30|45"),
                       QStringLiteral("setting changed|notifications, SmtpHost|mail.example.org|"
                                      "smtp.example.org")};
    QTest::newRow("forwarding") << Edit([](const QString& p) {
        ForwardingSettings s = ForwardingSettings::load(p);
        s.mqtt.enabled = true;
        s.save(p);
    }) << QStringList{QStringLiteral("setting changed|forwarding, Mqtt|false|true")};
    QTest::newRow("saved unchanged") << Edit([](const QString&) {}) << QStringList();
}

// Catches: a change of the project's settings that leaves no entry, or one that names the wrong
// object, loses the value before it, or is not the user's the sign-in names.
void TestProjectAudit::changeIsRecorded()
{
    QFETCH(Edit, edit);
    QFETCH(QStringList, expected);
    openAudit();
    const int before = entries().size();
    QStringList asked;
    audit->setActorSource([&asked](const QString& action) {
        asked << action;
        return ProjectAudit::Actor{QStringLiteral("anna"), QStringLiteral("per SOP 12")};
    });
    edit(project);
    audit->settingsSaved();
    const QVector<AuditEntry> recorded = entries(before);
    compareChanges(recorded, expected);
    if (expected.isEmpty())
        return;
    QCOMPARE(asked, QStringList{QStringLiteral("setting changed")});
    for (const AuditEntry& e : recorded) {
        QCOMPARE(e.user, QStringLiteral("anna"));
        QCOMPARE(e.reason, QStringLiteral("per SOP 12"));
    }
    // The next start finds the file as accepted: nothing changed outside.
    closeAudit();
    const int accepted = entries().size();
    openAudit();
    QCOMPARE(entries(accepted).size(), 0);
}

void TestProjectAudit::secretChangeIsRecorded_data()
{
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QString>("object");
    QTest::newRow("mail") << NotificationSettings::smtpPasswordSecret()
                          << QStringLiteral("notifications, mail server password");
    QTest::newRow("webhook") << QStringLiteral("webhook-url/ops")
                             << QStringLiteral("notifications, webhook URL ops");
    QTest::newRow("mqtt") << ProjectForwarding::mqttSecretName()
                          << QStringLiteral("forwarding, MQTT password");
    QTest::newRow("influx") << ProjectForwarding::influxSecretName()
                            << QStringLiteral("forwarding, InfluxDB password");
}

// Catches: a password change that goes unrecorded, or is recorded with anything but the words
// "password changed".
void TestProjectAudit::secretChangeIsRecorded()
{
    QFETCH(QString, secret);
    QFETCH(QString, object);
    openAudit();
    const int before = entries().size();
    audit->secretChanged(secret);
    compareEntries(entries(before), {QStringLiteral("setting changed|") + object +
                                     QStringLiteral("||password changed")});
    QCOMPARE(entries(before).first().user, ProjectAudit::desktopUser());
}

void TestProjectAudit::acknowledgementIsRecorded_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("expected");
    QTest::newRow("active alarm") << QStringLiteral("1001") << QStringLiteral("door closed")
                                  << QStringLiteral("alarm acknowledged|alarm event 7, node 1001, "
                                                    "high|unacknowledged|acknowledged by Tom: "
                                                    "door closed");
    // An alarm that ended already is known by its id only.
    QTest::newRow("ended alarm, no comment")
        << QString() << QString()
        << QStringLiteral("alarm acknowledged|alarm event 7|unacknowledged|acknowledged by Tom");
}

// Catches: an acknowledgement, with the corrective action, that leaves no entry.
void TestProjectAudit::acknowledgementIsRecorded()
{
    QFETCH(QString, serial);
    QFETCH(QString, comment);
    QFETCH(QString, expected);
    openAudit();
    const int before = entries().size();
    AlarmEventRecord event;
    event.id = 7;
    event.serial = serial;
    event.kind = AlarmKind::High;
    event.acknowledgedAt = NewYear;
    event.acknowledgedBy = QStringLiteral("Tom");
    event.comment = comment;
    audit->alarmAcknowledged(event);
    const QVector<AuditEntry> recorded = entries(before);
    compareEntries(recorded, {expected});
    QCOMPARE(recorded.first().user, ProjectAudit::desktopUser());
}

void TestProjectAudit::recordingIsRecorded_data()
{
    using Cause = ProjectAudit::Cause;
    QTest::addColumn<QVector<int>>("steps"); // a cause to start (> 0) or stop (< 0): cause + 1
    QTest::addColumn<bool>("killed");        // the run ends without the audit's own end
    QTest::addColumn<bool>("inJournal");     // its entries still in the writer's journal then
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("users");
    const auto start = [](Cause c) { return int(c) + 1; };
    const auto stop = [](Cause c) { return -(int(c) + 1); };
    const QString desk = ProjectAudit::desktopUser();
    const QString recorder = ProjectAudit::automaticUser();
    QTest::newRow("user starts and stops")
        << QVector<int>{start(Cause::User), stop(Cause::User)} << false << false
        << QStringList{QStringLiteral("recording started|recording|stopped|recording, started by "
                                      "the user"),
                       QStringLiteral("recording stopped|recording|recording|stopped by the user")}
        << QStringList{desk, desk};
    QTest::newRow("at start, stopped by a signal")
        << QVector<int>{start(Cause::AtStart), stop(Cause::Signal)} << false << false
        << QStringList{QStringLiteral("recording started|recording|stopped|recording, started by "
                                      "the recorder at start"),
                       QStringLiteral("recording stopped|recording|recording|stopped by a signal "
                                      "to end the program")}
        << QStringList{recorder, recorder};
    QTest::newRow("logout") << QVector<int>{start(Cause::User), stop(Cause::Logout)} << false
                            << false
                            << QStringList{QStringLiteral("recording started*"),
                                           QStringLiteral("recording stopped|recording|recording|"
                                                          "stopped by the end of the desktop "
                                                          "session")}
                            << QStringList{desk, recorder};
    const QStringList lost{QStringLiteral("recording started*"),
                           QStringLiteral("recording ended without a stop|recording|recording "
                                          "since 2026-01-01 01:00:00|stopped by a kill or a power "
                                          "loss, found at the next start")};
    QTest::newRow("killed while recording") << QVector<int>{start(Cause::AtStart)} << true << false
                                            << lost << QStringList{recorder, recorder};
    // The start waits in the journal until the next run has written it: only then is the
    // recording found running.
    QTest::newRow("killed, start in the journal")
        << QVector<int>{start(Cause::AtStart)} << true << true << lost
        << QStringList{recorder, recorder};
    QTest::newRow("killed after a stop")
        << QVector<int>{start(Cause::User), stop(Cause::User)} << true << true
        << QStringList{QStringLiteral("recording started*"), QStringLiteral("recording stopped*")}
        << QStringList{desk, desk};
}

// Catches: a start or stop without its entry or its cause, and a recording that a kill or a
// power loss ended (its start committed, no stop) passing unnoticed at the next start.
void TestProjectAudit::recordingIsRecorded()
{
    QFETCH(QVector<int>, steps);
    QFETCH(bool, killed);
    QFETCH(bool, inJournal);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, users);
    openAudit();
    audit->setClocks([] { return NewYear; }, [] { return qint64(0); });
    const int before = entries().size();
    for (int step : steps) {
        const auto cause = ProjectAudit::Cause(qAbs(step) - 1);
        if (step > 0)
            audit->recordingStarted(cause);
        else
            audit->recordingStopped(cause);
    }
    if (killed) {
        // What a kill leaves: the entries committed (or spilled), nothing after them.
        if (!inJournal)
            QVERIFY(writer->settle());
        closeAudit();
        openAudit();
        // A second start finds the loss recorded already.
        closeAudit();
        openAudit();
    }
    const QVector<AuditEntry> recorded = entries(before);
    compareEntries(recorded, expected);
    for (int i = 0; i < users.size(); ++i)
        QCOMPARE(recorded[i].user, users[i]);
}

void TestProjectAudit::clockJumpIsRecorded_data()
{
    QTest::addColumn<qint64>("wallStep");
    QTest::addColumn<QStringList>("expected");
    // One second passes on the monotonic clock; the wall clock moves by wallStep.
    QTest::newRow("forward 5 s") << qint64(6000)
                                 << QStringList{QStringLiteral("clock changed|computer clock|"
                                                               "2026-01-01 01:00:01|2026-01-01 "
                                                               "01:00:06")};
    QTest::newRow("back an hour") << qint64(1000 - 3600000)
                                  << QStringList{QStringLiteral("clock changed|computer clock|"
                                                                "2026-01-01 01:00:01|2026-01-01 "
                                                                "00:00:01")};
    QTest::newRow("forward 3 s") << qint64(4000)
                                 << QStringList{QStringLiteral("clock changed|computer clock|"
                                                               "2026-01-01 01:00:01|2026-01-01 "
                                                               "01:00:04")};
    QTest::newRow("2 s, within") << qint64(3000) << QStringList();
    QTest::newRow("late tick") << qint64(1500) << QStringList();
}

// Catches: the computer's clock set forward or back (samples then carry wrong times) without an
// entry, in local time, and ordinary tick jitter recorded as a jump.
void TestProjectAudit::clockJumpIsRecorded()
{
    QFETCH(qint64, wallStep);
    QFETCH(QStringList, expected);
    openAudit();
    const int before = entries().size();
    qint64 wall = NewYear;
    qint64 monotonic = 0;
    audit->setClocks([&wall] { return wall; }, [&monotonic] { return monotonic; });
    audit->checkClock();
    wall += wallStep;
    monotonic += 1000;
    audit->checkClock();
    // The new time is the one the next jump is measured from.
    wall += 1000;
    monotonic += 1000;
    audit->checkClock();
    const QVector<AuditEntry> recorded = entries(before);
    compareEntries(recorded, expected);
    for (const AuditEntry& e : recorded)
        QCOMPARE(e.user, ProjectAudit::automaticUser());
}

void TestProjectAudit::fileEditedWhileClosed_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<bool>("afterEditing");
    QTest::addColumn<bool>("inJournal"); // the last run's entries still in the writer's journal
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("expected");
    const Edit range =
        devices([](QList<GatewayConfig>* list) { (*list)[0].nodes[1].ch1Min = -30; });
    QTest::newRow("range by hand")
        << range << false << false
        << QStringList{QStringLiteral(
               "node 1002, channel 1 range: -20.00 to 5.00 -> -30.00 to 5.00")}
        << QStringList{QStringLiteral("changed outside the recorder|node 1002, channel 1 range|"
                                      "-20.00 to 5.00|-30.00 to 5.00")};
    QTest::newRow("range by hand, journal")
        << range << false << true
        << QStringList{QStringLiteral(
               "node 1002, channel 1 range: -20.00 to 5.00 -> -30.00 to 5.00")}
        << QStringList{QStringLiteral("changed outside the recorder|node 1002, channel 1 range|"
                                      "-20.00 to 5.00|-30.00 to 5.00")};
    QTest::newRow("in the recorder's editor")
        << range << true << false
        << QStringList{QStringLiteral(
               "node 1002, channel 1 range: -20.00 to 5.00 -> -30.00 to 5.00")}
        << QStringList{QStringLiteral("setting changed|node 1002, channel 1 range|-20.00 to 5.00|"
                                      "-30.00 to 5.00")};
    QTest::newRow("interval by hand")
        << key(QStringLiteral("DataInterval"), QStringLiteral("1")) << false << false
        << QStringList{QStringLiteral("project, interval: 10 sec -> 1 ms")}
        << QStringList{
               QStringLiteral("changed outside the recorder|project, interval|10 sec|1 ms")};
    QTest::newRow("node removed by hand")
        << devices([](QList<GatewayConfig>* list) { (*list)[0].nodes.removeFirst(); }) << false
        << false << QStringList{QStringLiteral("node 1001 removed (battery low alarm: off;*")}
        << QStringList{QStringLiteral("changed outside the recorder|node 1001|removed: battery "
                                      "low alarm: off;*")};
    QTest::newRow("password written in")
        << key(QStringLiteral("NotifySmtpPassword"), QStringLiteral("hunter2")) << false << false
        << QStringList{QStringLiteral("notifications, SmtpPassword:  -> (secret, not recorded)")}
        << QStringList{QStringLiteral("changed outside the recorder|notifications, SmtpPassword||"
                                      "(secret, not recorded)")};
    QTest::newRow("unchanged") << Edit([](const QString&) {}) << false << false << QStringList()
                               << QStringList();
}

// Catches: settings edited in the project file while the recorder was closed taken up without
// an entry (or, from the recorder's own editor, taken for an outside change), differences that
// do not say which node, which setting, old and new, and a secret written into the file that
// reaches the trail.
void TestProjectAudit::fileEditedWhileClosed()
{
    QFETCH(Edit, edit);
    QFETCH(bool, afterEditing);
    QFETCH(bool, inJournal);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, expected);
    openAudit();
    const SettingsSnapshot accepted = audit->acceptedSettings();
    // The first run's one entry: the settings accepted.
    const int before = 1;
    if (!inJournal)
        QCOMPARE(entries().size(), before);
    closeAudit();

    edit(project);
    const QStringList listed =
        SettingsDifference(accepted, SettingsSnapshot::read(project)).lines();
    QCOMPARE(listed.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(matches(lines[i], listed[i]), qPrintable(listed[i]));

    openAudit(afterEditing ? ProjectAudit::Opening::AfterEditing : ProjectAudit::Opening::Opened);
    const QVector<AuditEntry> recorded = entries(before);
    compareChanges(recorded, expected);
    if (expected.isEmpty())
        return;
    QCOMPARE(recorded.first().user,
             afterEditing ? ProjectAudit::desktopUser() : ProjectAudit::automaticUser());
    // The file's settings are applied: a second start finds nothing new.
    QCOMPARE(audit->acceptedSettings(), SettingsSnapshot::read(project));
    for (const AuditEntry& e : entries())
        QVERIFY2(!line(e).contains(QLatin1String("hunter2")), qPrintable(line(e)));
}

void TestProjectAudit::changeWaitsForItsEntry_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("journalWritable");
    QTest::addColumn<bool>("recorded");
    QTest::newRow("file writable: committed first") << false << true << true;
    QTest::newRow("file locked: in the journal first") << true << true << true;
    QTest::newRow("file locked, journal refused: not made") << true << false << false;
}

// Catches: a change made while its entry is only in memory (a crash would keep the change and
// lose the entry), a change made although its entry was kept nowhere, or one never made.
void TestProjectAudit::changeWaitsForItsEntry()
{
    QFETCH(bool, locked);
    QFETCH(bool, journalWritable);
    QFETCH(bool, recorded);
    openAudit();
    const QString database = ProjectFile::databasePath(project);
    const QString journal = SpillJournal::pathFor(database);
    if (!journalWritable)
        QVERIFY(QDir().mkpath(journal));
    const int before = entries().size();
    SqliteConnection holder;
    if (locked) {
        QVERIFY(holder.open(database, SQLITE_OPEN_READWRITE));
        QCOMPARE(sqlite3_exec(holder.get(), "begin immediate", nullptr, nullptr, nullptr),
                 SQLITE_OK);
    }
    audit->recordingStarted(ProjectAudit::Cause::User);
    int calls = 0;
    bool answer = !recorded;
    int committedThen = -1;
    bool journalThen = false;
    audit->whenRecorded([&](bool ok) {
        ++calls;
        answer = ok;
        SqliteConnection reader;
        QVector<AuditEntry> all;
        QString error;
        if (reader.open(database, SQLITE_OPEN_READONLY) &&
            AuditTrail::read(reader.get(), 1, 1000000, &all, &error))
            committedThen = all.size() - before;
        journalThen = QFileInfo(journal).isFile() && QFileInfo(journal).size() > 0;
    });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 20000);
    QCOMPARE(answer, recorded);
    QCOMPARE(committedThen, locked ? 0 : 1);
    QCOMPARE(journalThen, locked && journalWritable);
    if (locked)
        sqlite3_exec(holder.get(), "rollback", nullptr, nullptr, nullptr);
    holder.close();
    // Whatever waited reaches the file once it can; nothing is called twice.
    QCOMPARE(entries(before).size(), 1);
    QCOMPARE(calls, 1);
}

QTEST_GUILESS_MAIN(TestProjectAudit)
#include "tst_projectaudit.moc"
