#include "projectnotifications.h"

#include "notificationoutbox.h"
#include "notificationscheduler.h"
#include "notificationservice.h"
#include "projectfile.h"
#include "secretstore.h"

#include <QDebug>
#include <QFileInfo>

ProjectNotifications::ProjectNotifications(const QString& projectFilePath, DatabaseWriter* writer,
                                           AlarmMonitor* monitor, QObject* parent)
    : QObject(parent), m_projectPath(projectFilePath)
{
    m_service = new NotificationService(this);
    m_outbox =
        new NotificationOutbox(writer, ProjectFile::databasePath(projectFilePath), m_service, this);
    m_scheduler = new NotificationScheduler(monitor, m_outbox, this);
    // The same project's secrets as the dialog keeps, wherever its file was opened from.
    const QFileInfo file(projectFilePath);
    m_secrets =
        new SecretStore(file.exists() ? file.canonicalFilePath() : file.absoluteFilePath(), this);
    connect(m_secrets, &SecretStore::readFinished, this, &ProjectNotifications::secretRead);
    connect(m_outbox, &NotificationOutbox::stateChanged, this,
            &ProjectNotifications::outboxStateChanged);
}

// The send in progress is interrupted (the program must not wait on a server); its message
// stays in the outbox.
ProjectNotifications::~ProjectNotifications()
{
    m_service->stop();
}

void ProjectNotifications::start()
{
    reload();
    m_outbox->load();
}

void ProjectNotifications::reload()
{
    const QString oldWebhook = m_settings.webhookName;
    m_settings = NotificationSettings::load(m_projectPath);
    // The sender refuses such a target; its messages wait, shown as not sent, for new settings.
    if (m_settings.emailEnabled && !m_settings.addressProblem().isEmpty())
        qWarning().noquote() << QStringLiteral("ProjectNotifications : ") +
                                    m_settings.addressProblem();
    m_scheduler->setSettings(m_settings);
    m_outbox->setRetentionDays(m_settings.retentionDays);
    // Targets come back as their secrets are read; until then their messages wait. Messages
    // for a target the settings no longer hold show as failing.
    QStringList expected;
    if (m_settings.emailEnabled)
        expected << QStringLiteral("email") << QStringLiteral("email-escalation");
    if (m_settings.webhookEnabled)
        expected << m_settings.webhookName;
    m_outbox->setExpectedTargets(expected);
    m_outbox->removeTarget(QStringLiteral("email"));
    m_outbox->removeTarget(QStringLiteral("email-escalation"));
    m_outbox->removeTarget(oldWebhook);
    if (m_settings.emailEnabled)
        m_secrets->read(NotificationSettings::smtpPasswordSecret());
    if (m_settings.webhookEnabled)
        m_secrets->read(m_settings.webhookUrlSecret());
}

void ProjectNotifications::setClock(const Clock& clock)
{
    m_outbox->setClock(clock);
    m_scheduler->setClock(clock);
}

void ProjectNotifications::tick()
{
    m_scheduler->tick();
    m_outbox->tick();
}

void ProjectNotifications::secretRead(const QString& name, const QString& secret, bool found)
{
    if (name == NotificationSettings::smtpPasswordSecret() && m_settings.emailEnabled) {
        // A relay that wants no login has no password: the targets go without one.
        m_outbox->setTarget(m_settings.emailTarget(secret));
        m_outbox->setTarget(m_settings.emailTarget(secret, true));
    } else if (name == m_settings.webhookUrlSecret() && m_settings.webhookEnabled && found) {
        m_outbox->setTarget(m_settings.webhookTarget(secret));
    }
}
