#pragma once

#include "editedsettings.h"
#include "projectalarms.h"
#include "projectaudit.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class AlarmShelves;
class AlarmTestLog;
class BackupScheduler;
class CalibrationRegister;
class ConfiguredDevice;
class DatabaseWriter;
class ProjectAudit;
class ProjectForwarding;
class ProjectNotifications;
class ProjectReports;
class WriterAlarmEventStore;

// What runs for the open project beside its session (ProjectSession): the alarms with their log
// and notifications, and the forwarding to MQTT and InfluxDB. It owns them without any window;
// the recorder's window opens and closes them with the project and only shows them.
class ProjectServices : public QObject
{
    Q_OBJECT

public:
    explicit ProjectServices(QObject* parent = nullptr);
    // The alarms end first, then the forwarding.
    ~ProjectServices() override;

    // Forwarding of the project at `projectPath`, started on the open cycle's `writer`; it makes
    // no connection when the project has it off. The writer and the gateways outlive it:
    // stopForwarding() before the cycle closes, since the writer keeps its cursors.
    void startForwarding(const QString& projectPath, DatabaseWriter* writer,
                         const QList<ConfiguredDevice*>& gateways);
    void stopForwarding();
    // Renamed nodes and channels go out under their new names from now on.
    void updateLabels();
    ProjectForwarding* forwarding() const { return m_forwarding.get(); }

    // The audit trail of the project at `projectPath`, through the open cycle's `writer`, first
    // of the services (alarms and forwarding opened later record their changes in it). See
    // ProjectAudit::open(); closeAudit() before the cycle closes. `outside`: what
    // EditedSettings::prepare() found before the project opened.
    void openAudit(const QString& projectPath, DatabaseWriter* writer, bool afterEditing,
                   const EditedSettings::Outcome& outside = EditedSettings::Outcome());
    // Who and why for the users' changes, given to each audit trail opened from now on (before
    // its open(), which may record the editor's changes at once).
    void setActorSource(const ProjectAudit::ActorSource& source) { m_actorSource = source; }
    void closeAudit();
    // Null while no project runs.
    ProjectAudit* audit() const { return m_audit.get(); }

    // The daily backup of the project's database, on a thread of its own; a failure is recorded
    // in the audit trail and told through the notifications (when they are open).
    void openBackups(const QString& projectPath, const QString& projectName);
    void closeBackups();
    // The backup settings were saved: the running backups take them at once.
    void reloadBackups();
    // Null while no project runs.
    BackupScheduler* backups() const { return m_backups.get(); }

    // The alarms and their notifications; the log goes through the project's one database
    // `writer`, which must stay open until closeAlarms().
    void openAlarms(const QString& projectPath, const QString& projectName,
                    const QList<ConfiguredDevice*>& gateways, DatabaseWriter* writer);
    // Active alarms end as stopped by the recorder; their end messages go into the outbox while
    // it is there. What waits stays in the outbox for the next start.
    void closeAlarms();
    void rulesChanged();
    // Once a clock second: delays and no-data times run on.
    void tick();
    // The notification settings were saved: the running notifications take them at once.
    void reloadNotifications();
    // The project records or not: the heartbeat calls only while it does (also for alarms
    // opened later).
    void setRecording(bool recording);
    ProjectAlarms* alarms() const { return m_alarms.get(); }
    // The shelves and out-of-service times of the open alarms (those still holding read again
    // when they open); null while no project runs.
    AlarmShelves* shelves() const { return m_shelves.get(); }
    // The calibration register of the open project, with the alarms; null while no project
    // runs. Its reminders go through the notifications.
    CalibrationRegister* calibrations() const { return m_calibrations.get(); }
    // The alarm-test log of the open project with its reminder, with the alarms; null while no
    // project runs.
    AlarmTestLog* alarmTests() const { return m_alarmTests.get(); }
    // The project's name and nodes as configured now (for the alarm test's choice).
    const QString& projectName() const { return m_projectName; }
    QList<NodeConfig> nodes() const;
    WriterAlarmEventStore* alarmStore() const { return m_store.get(); }
    // The scheduled reports, with the notifications that mail them; null while no project
    // runs.
    ProjectReports* reports() const { return m_reports.get(); }
    // The report schedule was saved: the running schedule takes it at once.
    void reloadReports();
    ProjectNotifications* notifications() const { return m_notifications.get(); }

    // What alarms are to know of the gateways' nodes: their configurations as they stand when
    // asked (a gateway gone by then has none).
    static ProjectAlarms::NodeList nodesOf(const QList<ConfiguredDevice*>& gateways);
    // Makes `alarms` the sample observer of every node of the gateways, after their open(),
    // until the alarms go.
    static void feedAlarms(const QList<ConfiguredDevice*>& gateways, ProjectAlarms* alarms);

signals:
    // Those of the open project's alarms, their log and notifications, passed on from their
    // opening, so that what shows them misses none of the first.
    void countsChanged(int active, int unacknowledged);
    void pendingWritesChanged(int count);
    void outboxStateChanged(int failing, const QString& lastError, const QStringList& refused);
    void passwordNoteChanged(const QString& note);
    // The notification keys of the project file that could not be read.
    void keyProblemsChanged(const QStringList& problems);
    // The channels whose calibration is due within 30 days or past, one note each.
    void calibrationNotesChanged(const QStringList& notes);
    // A scheduled report that failed (retried) or could not be mailed; empty while all is well.
    void reportNoteChanged(const QString& note);
    // "Backup: 5 h ago", "Backup failed: disk full"; empty while backups are off.
    void backupStatusChanged(const QString& text);

private:
    void openCalibrations(const QString& projectPath, const QString& projectName,
                          DatabaseWriter* writer);
    void openAlarmTests(const QString& projectPath, const QString& projectName,
                        DatabaseWriter* writer);
    void openReports(const QString& projectPath, const QString& projectName,
                     DatabaseWriter* writer);

    std::unique_ptr<ProjectAudit> m_audit;
    ProjectAudit::ActorSource m_actorSource;
    // The log's writes through the project's writer; it outlives the alarms.
    std::unique_ptr<WriterAlarmEventStore> m_store;
    std::unique_ptr<ProjectAlarms> m_alarms;
    // Goes before the alarms.
    std::unique_ptr<AlarmShelves> m_shelves;
    // Fed by the alarms; they go first.
    std::unique_ptr<ProjectNotifications> m_notifications;
    // Reminds through the notifications: goes before them.
    std::unique_ptr<CalibrationRegister> m_calibrations;
    // Reminds through the notifications too: goes before them.
    std::unique_ptr<AlarmTestLog> m_alarmTests;
    QString m_projectName;
    ProjectAlarms::NodeList m_nodes;
    // Mails through the notifications: goes before them.
    std::unique_ptr<ProjectReports> m_reports;
    std::unique_ptr<ProjectForwarding> m_forwarding;
    bool m_recording = false;
    std::unique_ptr<BackupScheduler> m_backups;
};
