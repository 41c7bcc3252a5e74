// The recorder's changes in the project's audit trail: each kind of change gives its entry (who,
// what, old and new value, never a secret), recording started and stopped and by what, a
// recording a kill left running found at the next start, jumps of the computer's clock, and
// settings edited in the project file while the recorder was closed.

#include "alarmeventrecord.h"
#include "auditfill.h"
#include "audittrail.h"
#include "clockchanges.h"
#include "databasewriter.h"
#include "editedsettings.h"
#include "forwardingsettings.h"
#include "notificationsettings.h"
#include "projectaudit.h"
#include "reportschedulesettings.h"
#include "projectfile.h"
#include "projectfilecopy.h"
#include "projectforwarding.h"
#include "settingsdifference.h"
#include "spilljournal.h"
#include "sqliteconnection.h"
#include "sqliteprogram.h"
#include "tickingwriter.h"
#include "userdirectory.h"
#include "usertable.h"

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
    void silenceIsRecorded_data();
    void silenceIsRecorded();
    void recordingIsRecorded_data();
    void recordingIsRecorded();
    void clockJumpIsRecorded_data();
    void clockJumpIsRecorded();
    void fileEditedWhileClosed_data();
    void fileEditedWhileClosed();
    void fileEditedUnderAccessControl_data();
    void fileEditedUnderAccessControl();
    void changeWaitsForItsEntry_data();
    void changeWaitsForItsEntry();

private:
    // The project's writer and audit, opened as the recorder opens them.
    void openAudit(ProjectAudit::Opening opening = ProjectAudit::Opening::Opened,
                   const EditedSettings::Outcome& outside = EditedSettings::Outcome());
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

void TestProjectAudit::openAudit(ProjectAudit::Opening opening,
                                 const EditedSettings::Outcome& outside)
{
    writer = std::make_unique<TickingWriter>(ProjectFile::databasePath(project),
                                             QStringLiteral("audit"));
    QVERIFY(writer->open());
    audit = std::make_unique<ProjectAudit>(project, writer->writer());
    audit->setOutsideEdits(outside);
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
    QVERIFY(recorded.size() >= 2);
    compareEntries(recorded.mid(0, recorded.size() - 2), expected);
    QCOMPARE(recorded.at(recorded.size() - 2).action, ProjectFileCopy::keptAction());
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
    // Fault: the report schedule saved by its dialog left out of the trail.
    QTest::newRow("report schedule") << Edit([](const QString& p) {
        ReportScheduleSettings s = ReportScheduleSettings::load(p);
        s.entries[ReportScheduleSettings::Monthly].enabled = true;
        s.entries[ReportScheduleSettings::Monthly].day = ReportScheduleSettings::LastDay;
        s.recipients = QStringList{QStringLiteral("qa@example.org")};
        s.save(p);
    }) << QStringList{
           QStringLiteral("setting changed|project, ReportScheduleDaily||0"),
           QStringLiteral("setting changed|project, ReportScheduleDailyTime||06:00"),
           QStringLiteral("setting changed|project, ReportScheduleMonthly||1"),
           QStringLiteral("setting changed|project, ReportScheduleMonthlyDay||last"),
           QStringLiteral("setting changed|project, ReportScheduleMonthlyTime||06:00"),
           QStringLiteral("setting changed|project, ReportScheduleRecipients||qa@example.org"),
           QStringLiteral("setting changed|project, ReportScheduleWeekly||0"),
           QStringLiteral("setting changed|project, ReportScheduleWeeklyDay||Monday"),
           QStringLiteral("setting changed|project, ReportScheduleWeeklyTime||06:00")};
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
    QTest::newRow("heartbeat") << NotificationSettings::heartbeatUrlSecret()
                               << QStringLiteral("notifications, heartbeat URL");
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
    // cause, action taken, product affected, quantity, decided by; none: no corrective action
    QTest::addColumn<QStringList>("action");
    QTest::newRow("active alarm") << QStringLiteral("1001") << QStringLiteral("door closed")
                                  << QStringLiteral("alarm acknowledged|alarm event 7, node 1001, "
                                                    "high|unacknowledged|acknowledged by Tom: "
                                                    "door closed")
                                  << QStringList();
    // An alarm that ended already is known by its id only.
    QTest::newRow("ended alarm, no comment")
        << QString() << QString()
        << QStringLiteral("alarm acknowledged|alarm event 7|unacknowledged|acknowledged by Tom")
        << QStringList();
    // Catches: the corrective action missing from the trail, or the quantity without its product.
    QTest::newRow("with a corrective action")
        << QStringLiteral("1001") << QStringLiteral("see log")
        << QStringLiteral("alarm acknowledged|alarm event 7, node 1001, high|unacknowledged|"
                          "acknowledged by Tom: see log; cause defrost; action moved stock; "
                          "product quarantined (12 boxes); decided by Olga")
        << QStringList{"defrost", "moved stock", "quarantined", "12 boxes", "Olga"};
    QTest::newRow("product only")
        << QString() << QString()
        << QStringLiteral("alarm acknowledged|alarm event 7|unacknowledged|acknowledged by Tom; "
                          "product none")
        << QStringList{"", "", "none", "", ""};
}

// Catches: an acknowledgement, with the corrective action, that leaves no entry.
void TestProjectAudit::acknowledgementIsRecorded()
{
    QFETCH(QString, serial);
    QFETCH(QString, comment);
    QFETCH(QString, expected);
    QFETCH(QStringList, action);
    openAudit();
    const int before = entries().size();
    AlarmEventRecord event;
    if (!action.isEmpty())
        event.action = {action.at(0), action.at(1), action.at(2), action.at(3), action.at(4)};
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

void TestProjectAudit::silenceIsRecorded_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("expectedUser"); // empty: the desktop account
    QTest::addColumn<QString>("expected");
    // Catches: a silence that leaves no entry, or one recorded as signed.
    QTest::newRow("desk, 15 minutes") << 15 << QString() << QString()
                                      << "alarm sound silenced|alarm sound||for 15 minutes, unsigned";
    QTest::newRow("signed-in user") << 5 << "olga" << "olga"
                                    << "alarm sound silenced|alarm sound||for 5 minutes, unsigned";
    // Catches: an entry saying a longer silence than the sound keeps.
    QTest::newRow("beyond the longest") << 90 << QString() << QString()
                                        << "alarm sound silenced|alarm sound||for 30 minutes, unsigned";
}

void TestProjectAudit::silenceIsRecorded()
{
    QFETCH(int, minutes);
    QFETCH(QString, user);
    QFETCH(QString, expectedUser);
    QFETCH(QString, expected);
    openAudit();
    const int before = entries().size();
    audit->soundSilenced(minutes, user.isEmpty() ? ProjectAudit::desktopUser() : user);
    const QVector<AuditEntry> recorded = entries(before);
    compareEntries(recorded, {expected});
    QCOMPARE(recorded.first().user,
             expectedUser.isEmpty() ? ProjectAudit::desktopUser() : expectedUser);
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
    // The first run's entries: the project file kept, the settings accepted.
    const int before = 2;
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
    // Nor the copy of the file the database keeps (its bytes anywhere in the database's files).
    closeAudit();
    const QFileInfo database(ProjectFile::databasePath(project));
    const QFileInfoList files = database.dir().entryInfoList({database.fileName() + "*"});
    QVERIFY(!files.isEmpty());
    for (const QFileInfo& info : files) {
        QFile file(info.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains("hunter2"), qPrintable(info.fileName()));
    }
}

void TestProjectAudit::fileEditedUnderAccessControl_data()
{
    QTest::addColumn<bool>("accessControl");
    QTest::addColumn<bool>("copyKept");  // the first run kept the file (else: an older recorder's)
    QTest::addColumn<QString>("tamper"); // SQL run with the sqlite3 program while closed
    QTest::addColumn<bool>("earlierAside");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("decision"); // "accept", "reject" or none
    QTest::addColumn<bool>("restored");    // the recorder runs on the accepted settings
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("files"); // beside store.tpc and its database, at the end

    const Edit range =
        devices([](QList<GatewayConfig>* list) { (*list)[0].nodes[1].ch1Min = -30; });
    const QString difference =
        QStringLiteral("node 1002, channel 1 range: -20.00 to 5.00 -> -30.00 to 5.00");
    const QString heldAside = QStringLiteral("settings edited outside the recorder|project "
                                             "settings||set aside as store.tpc.edited; the "
                                             "accepted settings restored; waiting for a "
                                             "Supervisor: ") +
                              difference;
    const auto heldAsFound = [&difference](const QString& why) -> QString {
        return QStringLiteral("settings edited outside the recorder|project settings||not "
                              "restored (") +
               why + QStringLiteral("); running on the file as found; waiting for a Supervisor: ") +
               difference;
    };
    const QString changed = QStringLiteral("changed outside the recorder|node 1002, channel 1 "
                                           "range|-20.00 to 5.00|-30.00 to 5.00");
    const QString kept = QStringLiteral("project file kept|project file||SHA-256 *");
    const QString accepted = QStringLiteral("settings accepted|project settings||*");
    const QString edited = QStringLiteral("store.tpc.edited");

    QTest::newRow("restored, undecided")
        << true << true << QString() << false << range << QString() << true
        << QStringList{heldAside, heldAside} << QStringList{edited};
    QTest::newRow("restored, accepted")
        << true << true << QString() << false << range << QStringLiteral("accept") << true
        << QStringList{heldAside, changed, kept, accepted} << QStringList();
    QTest::newRow("restored, rejected")
        << true << true << QString() << false << range << QStringLiteral("reject") << true
        << QStringList{heldAside, QStringLiteral("settings rejected|project settings|") +
                                      difference + QStringLiteral("|kept as store.tpc.rejected")}
        << QStringList{QStringLiteral("store.tpc.rejected")};
    QTest::newRow("second edit set aside beside the first")
        << true << true << QString() << true << range << QString() << true
        << QStringList{QStringLiteral("settings edited outside the recorder|project settings||set "
                                      "aside as store.tpc.edited.2; the accepted settings *"),
                       QStringLiteral("settings edited outside the recorder|project settings||set "
                                      "aside as store.tpc.edited*")}
        << QStringList{edited, QStringLiteral("store.tpc.edited.2")};
    QTest::newRow("copy replaced with sqlite3")
        << true << true
        << QStringLiteral("update project_file_copy set text = "
                          "cast(replace(cast(text as text), '-20', '-25') as blob);")
        << false << range << QString() << false
        << QStringList{heldAsFound(QStringLiteral(
                           "the accepted copy was changed in the database and is refused")),
                       heldAsFound(QStringLiteral(
                           "the accepted copy was changed in the database and is refused"))}
        << QStringList();
    QTest::newRow("copy deleted with sqlite3")
        << true << true << QStringLiteral("delete from project_file_copy;") << false << range
        << QString() << false
        << QStringList{heldAsFound(
                           QStringLiteral("the accepted copy is missing from the database")),
                       heldAsFound(
                           QStringLiteral("the accepted copy is missing from the database"))}
        << QStringList();
    QTest::newRow("no copy yet, accepted")
        << true << false << QString() << false << range << QStringLiteral("accept") << false
        << QStringList{heldAsFound(
                           QStringLiteral("no copy of the accepted project file is kept yet")),
                       changed, kept, accepted}
        << QStringList();
    QTest::newRow("no copy yet, rejected")
        << true << false << QString() << false << range << QStringLiteral("reject") << false
        << QStringList{heldAsFound(QStringLiteral("no copy of the accepted project file is kept "
                                                  "yet")),
                       QStringLiteral("settings rejected|project settings|") + difference +
                           QStringLiteral("|the file as found stays in use: no accepted copy to "
                                          "put back"),
                       heldAsFound(QStringLiteral("no copy of the accepted project file is kept "
                                                  "yet"))}
        << QStringList();
    QTest::newRow("unchanged") << true << true << QString() << false << Edit([](const QString&) {})
                               << QString() << true << QStringList() << QStringList();
    QTest::newRow("without access control")
        << false << true << QString() << false << range << QString() << false
        << QStringList{changed, kept, accepted} << QStringList();
}

// Catches: under access control, settings edited by hand taken up without a Supervisor, the
// edited file lost or overwritten (a second edit over the first), a copy changed in the database
// put back instead of refused, no copy to put back and the edits then accepted silently, an
// accept or reject not recorded with the user and reason, and the decision not lasting to the
// next start; without access control, the edits not applied as today.
void TestProjectAudit::fileEditedUnderAccessControl()
{
    QFETCH(bool, accessControl);
    QFETCH(bool, copyKept);
    QFETCH(QString, tamper);
    QFETCH(bool, earlierAside);
    QFETCH(Edit, edit);
    QFETCH(QString, decision);
    QFETCH(bool, restored);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, files);
    const QString database = ProjectFile::databasePath(project);
    const SettingsSnapshot first = SettingsSnapshot::read(project);
    QString error;
    if (copyKept) {
        openAudit();
        QCOMPARE(entries().size(), 2);
        closeAudit();
    } else {
        // What a recorder that kept no copy left: the settings accepted alone.
        QFile(database).open(QIODevice::WriteOnly);
        QVERIFY2(AuditFill::append(database,
                                   {AuditFill::entry(NewYear, ProjectAudit::automaticUser(),
                                                     ProjectAudit::settingsAcceptedAction(),
                                                     QStringLiteral("project settings"), QString(),
                                                     QString::fromUtf8(first.toText()))},
                                   &error),
                 qPrintable(error));
    }
    if (accessControl) {
        SqliteConnection connection;
        QVERIFY2(UserTable::open(&connection, database, 5000, &error), qPrintable(error));
        UserDirectory users(connection.get(), UserDirectory::Clock(), PasswordHash::least());
        // The first user switches access control on.
        QVERIFY2(users.add(QStringLiteral("root"), QStringLiteral("sue"),
                           AccessPolicy::Role::Administrator,
                           QByteArrayLiteral("correct horse battery"), QString(), &error),
                 qPrintable(error));
    }
    if (!tamper.isEmpty())
        QVERIFY2(SqliteProgram::run(database, tamper, &error), qPrintable(error));
    QByteArray earlier;
    if (earlierAside) {
        // An edit set aside at an earlier start, still undecided.
        const QString earlierPath = project + EditedSettings::editedSuffix();
        QVERIFY(QFile::copy(project, earlierPath));
        edit(earlierPath);
        QSettings(earlierPath, QSettings::IniFormat).setValue(QStringLiteral("Mark"), 1);
        QFile file(earlierPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        earlier = file.readAll();
    }
    const int before = entries().size();

    edit(project);
    const SettingsSnapshot editedSettings = SettingsSnapshot::read(project);
    const EditedSettings::Outcome outcome = EditedSettings::prepare(project);
    if (first != editedSettings)
        QCOMPARE(outcome.accessControl, accessControl);
    openAudit(ProjectAudit::Opening::Opened, outcome);
    // The settings the recorder runs on.
    QCOMPARE(SettingsSnapshot::read(project), restored ? first : editedSettings);
    if (accessControl && first != editedSettings) {
        QVERIFY(audit->heldEdit().has_value());
        QCOMPARE(audit->heldEdit()->lines, SettingsDifference(first, editedSettings).lines());
        QCOMPARE(audit->acceptedSettings(), first);
        QCOMPARE(SettingsSnapshot::read(project),
                 outcome.asidePath.isEmpty() ? editedSettings : first);
    } else {
        QVERIFY(!audit->heldEdit().has_value());
    }

    const ProjectAudit::Actor sue{QStringLiteral("sue"), QStringLiteral("checked with QA")};
    QSignalSpy reopen(audit.get(), &ProjectAudit::editsAccepted);
    if (decision == QLatin1String("accept")) {
        QVERIFY2(audit->acceptHeld(sue, &error), qPrintable(error));
        // A file set aside takes the project file's place once the acceptance is recorded.
        if (!outcome.asidePath.isEmpty())
            QVERIFY(reopen.count() == 1 || reopen.wait(5000));
        QCOMPARE(SettingsSnapshot::read(project), editedSettings);
        QCOMPARE(audit->acceptedSettings(), editedSettings);
    } else if (decision == QLatin1String("reject")) {
        QVERIFY2(audit->rejectHeld(sue, &error), qPrintable(error));
        QCOMPARE(audit->acceptedSettings(), first);
        QCOMPARE(SettingsSnapshot::read(project), restored ? first : editedSettings);
    }
    QVERIFY(!(audit->heldEdit() && !decision.isEmpty()));
    // The next start: a decision lasts, an undecided edit waits on.
    closeAudit();
    openAudit(ProjectAudit::Opening::Opened, EditedSettings::prepare(project));

    const QVector<AuditEntry> recorded = entries(before);
    compareEntries(recorded, expected);
    for (const AuditEntry& e : recorded) {
        const bool decided =
            e.action == ProjectAudit::rejectedAction() ||
            (decision == QLatin1String("accept") && e.action != ProjectAudit::heldAction());
        QCOMPARE(e.user, decided && accessControl ? sue.user : ProjectAudit::automaticUser());
        QCOMPARE(e.reason, decided && accessControl ? sue.reason : QString());
    }
    QStringList beside = QDir(dir->path()).entryList({QStringLiteral("store.tpc.*")}, QDir::Files);
    QCOMPARE(beside, files);
    if (earlierAside) {
        QFile earlierFile(project + EditedSettings::editedSuffix());
        QVERIFY(earlierFile.open(QIODevice::ReadOnly));
        QCOMPARE(earlierFile.readAll(), earlier);
    }
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
