#include "projectservices.h"

#include "configureddevice.h"
#include "nodedevice.h"

#include "alarmmonitor.h"
#include "alarmshelves.h"
#include "alarmtestlog.h"
#include "backupscheduler.h"
#include "backupsettings.h"
#include "calibrationregister.h"
#include "databasewriter.h"
#include "notificationevent.h"
#include "projectalarms.h"
#include "projectaudit.h"
#include "projectfile.h"
#include "projectforwarding.h"
#include "projectnotifications.h"
#include "projectreports.h"
#include "programlauncher.h"
#include "secretstore.h"
#include "writejob.h"
#include "writeralarmeventstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QPointer>

ProjectServices::ProjectServices(QObject* parent) : QObject(parent) {}

ProjectServices::~ProjectServices()
{
    m_backups.reset();
    closeAlarms();
    stopForwarding();
    closeAudit();
}

void ProjectServices::openAudit(const QString& projectPath, DatabaseWriter* writer,
                                bool afterEditing, const EditedSettings::Outcome& outside)
{
    m_audit = std::make_unique<ProjectAudit>(projectPath, writer);
    if (m_actorSource)
        m_audit->setActorSource(m_actorSource);
    m_audit->setOutsideEdits(outside);
    QString error;
    m_audit->open(
        afterEditing ? ProjectAudit::Opening::AfterEditing : ProjectAudit::Opening::Opened, &error);
}

void ProjectServices::closeAudit()
{
    m_audit.reset();
}

void ProjectServices::startForwarding(const QString& projectPath, DatabaseWriter* writer,
                                      const QList<ConfiguredDevice*>& gateways)
{
    // The names sent with the samples are read from the gateways' configurations as they stand.
    m_forwarding = std::make_unique<ProjectForwarding>(projectPath, writer, [gateways] {
        QList<GatewayConfig> configs;
        for (const ConfiguredDevice* gateway : gateways) {
            if (gateway)
                configs << gateway->configuration();
        }
        return configs;
    });
    if (m_audit) {
        ProjectAudit* audit = m_audit.get();
        connect(m_forwarding.get(), &ProjectForwarding::settingsSaved, audit,
                &ProjectAudit::settingsSaved);
        // The forwarder takes saved settings once their entries are durable; settings that
        // could be recorded nowhere are not applied (the forwarding goes on with those before).
        QPointer<ProjectAudit> guarded(audit);
        m_forwarding->setApplyGate([guarded](const std::function<void()>& apply) {
            if (!guarded) {
                apply();
                return;
            }
            guarded->whenRecorded([apply](bool recorded) {
                if (recorded)
                    apply();
                else
                    qWarning("ProjectForwarding : the saved settings could not be recorded; "
                             "they are not applied");
            });
        });
        connect(m_forwarding->secrets(), &SecretStore::written, audit,
                [audit](const QString& name, bool ok) {
                    if (ok)
                        audit->secretChanged(name);
                });
    }
    m_forwarding->start();
}

void ProjectServices::stopForwarding()
{
    m_forwarding.reset();
}

void ProjectServices::updateLabels()
{
    if (m_forwarding)
        m_forwarding->updateLabels();
}

// The log goes through the project's one writer, so that the GUI thread never waits on the file.
void ProjectServices::openAlarms(const QString& projectPath, const QString& projectName,
                                 const QList<ConfiguredDevice*>& gateways, DatabaseWriter* writer)
{
    // Alarms still open end first, as at a close: nothing of theirs may outlive their store.
    if (m_alarms)
        closeAlarms();
    m_store =
        std::make_unique<WriterAlarmEventStore>(writer, ProjectFile::databasePath(projectPath));
    // The trace keeps the text it had when the window's alarm desk opened the log.
    if (!m_store->open())
        qWarning().noquote() << QStringLiteral("AlarmDesk::open : ") + m_store->errorText();
    m_projectName = projectName;
    m_nodes = nodesOf(gateways);
    m_alarms =
        std::make_unique<ProjectAlarms>(projectPath, projectName, nodesOf(gateways), m_store.get());
    connect(m_alarms.get(), &ProjectAlarms::countsChanged, this, &ProjectServices::countsChanged);
    connect(m_store.get(), &WriterAlarmEventStore::written, m_alarms.get(),
            &ProjectAlarms::logWritten);
    connect(m_store.get(), &WriterAlarmEventStore::pendingChanged, this,
            &ProjectServices::pendingWritesChanged);
    if (m_audit)
        connect(m_alarms->monitor(), &AlarmMonitor::alarmAcknowledged, m_audit.get(),
                &ProjectAudit::alarmAcknowledged);
    m_alarms->open();
    // Shelves still holding come back before the first sample is judged.
    m_shelves = std::make_unique<AlarmShelves>(
        m_alarms->monitor(), ProjectFile::databasePath(projectPath),
        [writer = QPointer<DatabaseWriter>(writer)](const WriteJob& job) {
            if (writer)
                writer->submit(job);
        });
    QString shelvesError;
    if (!m_shelves->open(&shelvesError))
        qWarning().noquote() << QStringLiteral("ProjectServices::openAlarms : shelves not "
                                               "read : ") +
                                    shelvesError;
    if (m_audit)
        connect(m_alarms->monitor(), &AlarmMonitor::suppressionExpired, m_audit.get(),
                &ProjectAudit::suppressionExpired);
    feedAlarms(gateways, m_alarms.get());
    m_notifications =
        std::make_unique<ProjectNotifications>(projectPath, writer, m_alarms->monitor());
    connect(m_notifications.get(), &ProjectNotifications::outboxStateChanged, this,
            &ProjectServices::outboxStateChanged);
    connect(m_notifications.get(), &ProjectNotifications::passwordNoteChanged, this,
            &ProjectServices::passwordNoteChanged);
    // The report schedule's keys are told with the notifications' (its mails are theirs).
    connect(m_notifications.get(), &ProjectNotifications::keyProblemsChanged, this,
            [this](const QStringList& problems) {
                emit keyProblemsChanged(m_reports ? problems + m_reports->keyProblems()
                                                  : problems);
            });
    m_notifications->start();
    m_notifications->setRecording(m_recording);
    openCalibrations(projectPath, projectName, writer);
    openAlarmTests(projectPath, projectName, writer);
    openReports(projectPath, projectName, writer);
}

QList<NodeConfig> ProjectServices::nodes() const
{
    return m_nodes ? m_nodes() : QList<NodeConfig>();
}

void ProjectServices::openAlarmTests(const QString& projectPath, const QString& projectName,
                                     DatabaseWriter* writer)
{
    m_alarmTests = std::make_unique<AlarmTestLog>(
        ProjectFile::databasePath(projectPath),
        [writer = QPointer<DatabaseWriter>(writer)](const WriteJob& job) {
            if (writer)
                writer->submit(job);
        });
    QStringList problems;
    m_alarmTests->setReminderDays(ProjectFile::alarmTestReminderDays(projectPath, &problems));
    for (const QString& problem : qAsConst(problems))
        qWarning().noquote() << QStringLiteral("ProjectServices::openAlarms : ") + problem;
    ProjectNotifications* notifications = m_notifications.get();
    m_alarmTests->setRemind(
        [notifications, projectName](int days, const QDateTime& lastTest, qint64 lapseFrom) {
            NotificationEvent event;
            event.kind = NotificationKind::AlarmTestReminder;
            event.eventId = lapseFrom;
            event.sequence = days;
            event.projectName = projectName;
            event.start = lastTest;
            return notifications->postAlarmTestReminder(event);
        });
    QString error;
    if (!m_alarmTests->open(&error))
        qWarning().noquote() << QStringLiteral("ProjectServices::openAlarms : alarm-test log "
                                               "not read : ") +
                                    error;
}

void ProjectServices::openReports(const QString& projectPath, const QString& projectName,
                                  DatabaseWriter* writer)
{
    m_reports = std::make_unique<ProjectReports>(projectPath, projectName,
                                                 ProjectFile::databasePath(projectPath));
    ReportRunner* runner = m_reports->runner();
    runner->setProgram(ProgramLauncher::resolve(QStringLiteral("Tallyforge"),
                                                QCoreApplication::applicationDirPath()));
    runner->setSubmit([writer = QPointer<DatabaseWriter>(writer)](const WriteJob& job) {
        if (writer)
            writer->submit(job);
    });
    runner->setAudit([this](const QString& action, const QString& object, const QString& value) {
        if (m_audit)
            m_audit->reportRecorded(action, object, value);
    });
    m_reports->mailThrough(m_notifications.get());
    connect(m_reports.get(), &ProjectReports::noteChanged, this,
            &ProjectServices::reportNoteChanged);
    connect(m_reports.get(), &ProjectReports::keyProblemsChanged, this,
            [this](const QStringList& problems) {
                emit keyProblemsChanged(m_notifications ? m_notifications->keyProblems() + problems
                                                        : problems);
            });
    QString error;
    if (!m_reports->open(&error))
        qWarning().noquote() << QStringLiteral("ProjectServices::openAlarms : report runs not "
                                               "read, no report is made : ") +
                                    error;
}

void ProjectServices::reloadReports()
{
    if (m_reports)
        m_reports->reload();
}

void ProjectServices::openCalibrations(const QString& projectPath, const QString& projectName,
                                       DatabaseWriter* writer)
{
    m_calibrations = std::make_unique<CalibrationRegister>(
        ProjectFile::databasePath(projectPath),
        [writer = QPointer<DatabaseWriter>(writer)](const WriteJob& job) {
            if (writer)
                writer->submit(job);
        });
    AlarmMonitor* monitor = m_alarms->monitor();
    const auto names = [monitor](const QString& serial, int channel) {
        const MonitoredNode node = monitor->node(serial);
        const QString nodeName = node.nodeName.isEmpty() ? serial : node.nodeName;
        const QString channelName =
            channel == 1 || channel == 2 ? node.channelName[channel - 1] : QString();
        return qMakePair(nodeName, channelName);
    };
    // A QString, not the string builder of a pair that dies with the call.
    m_calibrations->setLabel([names](const QString& serial, int channel) -> QString {
        return names(serial, channel).first + QStringLiteral(" ch%1").arg(channel);
    });
    ProjectNotifications* notifications = m_notifications.get();
    m_calibrations->setRemind([=](const CalibrationRecord& entry, int daysBefore) {
        NotificationEvent event;
        event.kind = NotificationKind::Calibration;
        event.eventId = entry.id;
        event.sequence = daysBefore;
        event.projectName = projectName;
        const auto named = names(entry.serial, entry.channelNumber());
        event.nodeName = named.first;
        event.serial = entry.serial;
        event.channelName = named.second.isEmpty()
                                ? QStringLiteral("channel %1").arg(entry.channelNumber())
                                : named.second;
        event.start = QDateTime(entry.due, QTime(0, 0));
        event.detail = QStringLiteral("certificate ") + entry.certificate + QStringLiteral(" of ") +
                       entry.laboratory + QStringLiteral(", calibrated on ") +
                       CalibrationRecord::dateText(entry.calibrated);
        return notifications->postCalibration(event);
    });
    const NotificationSettings& settings = m_notifications->settings();
    m_calibrations->setReminderDays(settings.calibrationFirstDays, settings.calibrationSecondDays);
    connect(m_calibrations.get(), &CalibrationRegister::dueNotesChanged, this,
            &ProjectServices::calibrationNotesChanged);
    QString error;
    if (!m_calibrations->open(&error))
        qWarning().noquote() << QStringLiteral("ProjectServices::openAlarms : calibration "
                                               "register not read : ") +
                                    error;
    m_calibrations->refresh();
}

void ProjectServices::openBackups(const QString& projectPath, const QString& projectName)
{
    m_backups = std::make_unique<BackupScheduler>(projectPath, projectName,
                                                  ProjectFile::databasePath(projectPath));
    m_projectName = projectName;
    connect(m_backups.get(), &BackupScheduler::statusChanged, this,
            &ProjectServices::backupStatusChanged);
    connect(m_backups.get(), &BackupScheduler::backupFailed, this,
            [this](const QString& reason, const QString& copyPath) {
                const QString folder = m_backups->settings().folder;
                qWarning().noquote() << QStringLiteral("ProjectServices : backup failed : ") +
                                            reason + QStringLiteral(" : ") + copyPath;
                if (m_audit)
                    m_audit->backupFailed(folder, reason);
                if (m_notifications) {
                    NotificationEvent event;
                    event.kind = NotificationKind::BackupFailed;
                    event.start = QDateTime::currentDateTime();
                    event.eventId = event.start.toSecsSinceEpoch();
                    event.projectName = m_projectName;
                    event.nodeName = folder;
                    event.detail = reason;
                    m_notifications->postBackupFailed(event);
                }
            });
    reloadBackups();
}

void ProjectServices::reloadBackups()
{
    if (!m_backups)
        return;
    const BackupSettings settings = BackupSettings::load(m_backups->projectPath());
    for (const QString& problem : settings.keyProblems)
        qWarning().noquote() << QStringLiteral("ProjectServices : ") + problem;
    m_backups->setSettings(settings);
}

void ProjectServices::closeBackups()
{
    m_backups.reset();
    emit backupStatusChanged(QString());
}

void ProjectServices::closeAlarms()
{
    if (m_alarms)
        m_alarms->stop();
    m_alarmTests.reset();
    m_calibrations.reset();
    emit calibrationNotesChanged(QStringList());
    m_reports.reset();
    emit reportNoteChanged(QString());
    m_notifications.reset();
    m_shelves.reset();
    m_alarms.reset();
    // Its last writes are the writer's now, which goes with the recording cycle after this.
    m_store.reset();
}

ProjectAlarms::NodeList ProjectServices::nodesOf(const QList<ConfiguredDevice*>& gateways)
{
    QList<QPointer<ConfiguredDevice>> kept;
    for (ConfiguredDevice* gateway : gateways)
        kept << gateway;
    // The monitor learns the nodes' names, ranges and rules as they stand when it asks.
    return [kept] {
        QList<NodeConfig> nodes;
        for (const QPointer<ConfiguredDevice>& gateway : kept) {
            if (gateway)
                nodes << gateway->configuration().nodes;
        }
        return nodes;
    };
}

void ProjectServices::feedAlarms(const QList<ConfiguredDevice*>& gateways, ProjectAlarms* alarms)
{
    for (ConfiguredDevice* gateway : gateways) {
        if (!gateway)
            continue;
        for (NodeDevice* node : gateway->nodes()) {
            node->setSampleObserver(alarms);
            // A node never tells alarms that are gone; a node gone first takes the connection.
            connect(alarms, &QObject::destroyed, node,
                    [node] { node->setSampleObserver(nullptr); });
        }
    }
}

void ProjectServices::rulesChanged()
{
    if (m_alarms)
        m_alarms->rulesChanged();
}

void ProjectServices::tick()
{
    if (m_backups)
        m_backups->tick();
    if (!m_alarms)
        return;
    m_alarms->tick();
    m_notifications->tick();
    m_calibrations->tick();
    m_alarmTests->tick();
    if (m_reports)
        m_reports->tick();
}

void ProjectServices::reloadNotifications()
{
    if (m_notifications)
        m_notifications->reload();
    if (m_calibrations && m_notifications) {
        const NotificationSettings& settings = m_notifications->settings();
        m_calibrations->setReminderDays(settings.calibrationFirstDays,
                                        settings.calibrationSecondDays);
        m_calibrations->refresh();
    }
}

void ProjectServices::setRecording(bool recording)
{
    m_recording = recording;
    if (m_notifications)
        m_notifications->setRecording(recording);
}
