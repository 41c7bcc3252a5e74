#pragma once

#include "notificationsettings.h"
#include "secretstore.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class AlarmMonitor;
class DatabaseWriter;
class NotificationOutbox;
class NotificationScheduler;
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

    // A calibration reminder (an event of kind Calibration) into the outbox for every enabled
    // target, as the alarms' messages go; false when no target is enabled (nothing to tell).
    bool postCalibration(const NotificationEvent& event);
    // A failed backup (an event of kind BackupFailed), the same way.
    bool postBackupFailed(const NotificationEvent& event);
    const NotificationSettings& settings() const { return m_settings; }

    NotificationOutbox* outbox() const { return m_outbox; }
    NotificationScheduler* scheduler() const { return m_scheduler; }
    SecretStore* secretStore() const { return m_secrets; }
    // What the status bar says about the e-mail password (not available, kept for another
    // server, sent unencrypted without the user's choice) and the webhook's address (not
    // available, not stored); empty when all is well.
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

    QString m_projectPath;
    NotificationSettings m_settings;
    NotificationService* m_service = nullptr;
    NotificationOutbox* m_outbox = nullptr;
    NotificationScheduler* m_scheduler = nullptr;
    SecretStore* m_secrets = nullptr;
    QString m_passwordProblem;
    QString m_webhookProblem;
    // A password the service could not give now is asked for again after a while.
    QTimer* m_secretRetry = nullptr;
};
