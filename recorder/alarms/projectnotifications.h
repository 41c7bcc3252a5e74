#pragma once

#include "notificationsettings.h"
#include "secretstore.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class AlarmMonitor;
class DatabaseWriter;
class Heartbeat;
class NotificationOutbox;
class NotificationScheduler;
class NotificationMessage;
class NotificationService;
class QTimer;
struct NotificationEvent;

// The notifications of the open project: its settings from the project file, the secrets from
// the user's secret store, the outbox written through the project's database writer, the
// scheduler fed by the alarm monitor, and the sender's thread. Made with the alarms, ended
// before the writer goes; what waits stays in the outbox table for the next start.
class ProjectNotifications : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // `writer` and `monitor` must outlive this object.
    ProjectNotifications(const QString& projectFilePath, DatabaseWriter* writer,
                         AlarmMonitor* monitor, QObject* parent = nullptr);
    ~ProjectNotifications() override;

    // Reads the settings and secrets and the messages earlier runs left unsent.
    void start();
    // The settings or secrets changed (the dialog saved them).
    void reload();
    void setClock(const Clock& clock);
    // Every second.
    void tick();
    // The heartbeat calls its URL only while the project records.
    void setRecording(bool recording);

    // A calibration reminder (an event of kind Calibration) into the outbox for every enabled
    // target, as the alarms' messages go; false when no target is enabled (nothing to tell).
    bool postCalibration(const NotificationEvent& event);
    // Scheduled reports go to the notification e-mail server (its sender, login and security)
    // with a recipient list of their own, under the outbox target reportTargetName().
    void setReportRecipients(const QStringList& recipients);
    static QString reportTargetName() { return QStringLiteral("email-report"); }
    // A report message (NotificationMessage::report()) into the outbox for the report
    // recipients; empty when it was put in, else why not: too large for the project's
    // ReportMailMaxBytes (NotificationMessage::reportSizeRefusal()), e-mail notifications off,
    // no report recipient set.
    QString postReport(const NotificationMessage& report);
    qint64 reportMailMaxBytes() const { return m_reportMailMaxBytes; }
    // An alarm-test reminder (kind AlarmTestReminder) the same way.
    bool postAlarmTestReminder(const NotificationEvent& event);
    // The targets as they can be sent to now (secrets read), for an alarm test; and those
    // switched on that cannot, by name with the reason.
    QVector<NotificationTarget> readyTargets() const;
    QHash<QString, QString> unavailableTargets() const;
    NotificationService* service() const { return m_service; }
    // A failed backup (an event of kind BackupFailed), the same way.
    bool postBackupFailed(const NotificationEvent& event);
    const NotificationSettings& settings() const { return m_settings; }

    NotificationOutbox* outbox() const { return m_outbox; }
    NotificationScheduler* scheduler() const { return m_scheduler; }
    SecretStore* secretStore() const { return m_secrets; }
    Heartbeat* heartbeat() const { return m_heartbeat; }
    // What the status bar says about the e-mail password (not available, kept for another
    // server, sent unencrypted without the user's choice), the webhook's and the heartbeat's
    // addresses (not available, not stored) and the heartbeat's last failed call; empty when
    // all is well.
    QString passwordNote() const;
    const QStringList& keyProblems() const { return m_settings.keyProblems; }

signals:
    // Messages that failed at least once and are still waiting, the last server answer, and
    // the recipients the mail server refused.
    void outboxStateChanged(int failing, const QString& lastError, const QStringList& refused);
    void passwordNoteChanged(const QString& note);
    // The notification keys that could not be read, at each start and reload (empty when all
    // were read).
    void keyProblemsChanged(const QStringList& problems);

private:
    // A message of no alarm into the outbox for every enabled target.
    bool postToTargets(const NotificationEvent& event);
    void secretRead(const QString& name, const QString& secret, SecretStore::ReadResult result);
    void setPasswordProblem(const QString& problem);
    NotificationTarget reportTarget() const;

    QString m_projectPath;
    NotificationSettings m_settings;
    NotificationService* m_service = nullptr;
    NotificationService* m_reportService = nullptr;
    NotificationOutbox* m_outbox = nullptr;
    NotificationScheduler* m_scheduler = nullptr;
    SecretStore* m_secrets = nullptr;
    QString m_passwordProblem;
    QStringList m_reportRecipients;
    // The e-mail target as last read (its password looked up), the report target's base.
    NotificationTarget m_emailTarget;
    bool m_haveEmailTarget = false;
    qint64 m_reportMailMaxBytes = 0;
    QString m_webhookProblem;
    QString m_heartbeatProblem;
    Heartbeat* m_heartbeat = nullptr;
    // The e-mail and webhook targets as last handed to the outbox.
    QHash<QString, NotificationTarget> m_ready;
    // A password the service could not give now is asked for again after a while.
    QTimer* m_secretRetry = nullptr;
};
