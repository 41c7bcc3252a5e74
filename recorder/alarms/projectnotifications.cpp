#include "projectnotifications.h"

#include "notificationmessage.h"
#include "notificationoutbox.h"
#include "notificationscheduler.h"
#include "notificationservice.h"
#include "projectfile.h"
#include "secretstore.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

namespace {

// How long a locked secret service is left alone before the password is asked for again.
constexpr int SecretRetryMs = 60000;

} // namespace

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
    m_secretRetry = new QTimer(this);
    m_secretRetry->setSingleShot(true);
    m_secretRetry->setInterval(SecretRetryMs);
    connect(m_secretRetry, &QTimer::timeout, this, [this] {
        if (m_settings.emailEnabled && m_passwordProblem == SecretStore::unavailableText())
            m_secrets->read(NotificationSettings::smtpPasswordSecret(),
                            m_settings.smtpSecretTarget());
        if (m_settings.webhookEnabled && m_webhookProblem == SecretStore::unavailableText())
            m_secrets->read(m_settings.webhookUrlSecret());
    });
    connect(m_outbox, &NotificationOutbox::stateChanged, this,
            &ProjectNotifications::outboxStateChanged);
}

// The send in progress is interrupted (the program must not wait on a server); its message
// stays in the outbox.
ProjectNotifications::~ProjectNotifications()
{
    m_service->stop();
}

bool ProjectNotifications::postCalibration(const NotificationEvent& event)
{
    return postToTargets(event);
}

bool ProjectNotifications::postToTargets(const NotificationEvent& event)
{
    if (!m_settings.anyEnabled())
        return false;
    const NotificationMessage message(event);
    if (m_settings.emailEnabled)
        m_outbox->add(message, m_settings.emailTarget(QString()).name);
    if (m_settings.webhookEnabled)
        m_outbox->add(message, m_settings.webhookName);
    return true;
}

bool ProjectNotifications::postBackupFailed(const NotificationEvent& event)
{
    return postToTargets(event);
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
    emit keyProblemsChanged(m_settings.keyProblems);
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
    m_secretRetry->stop();
    m_webhookProblem.clear();
    setPasswordProblem(QString());
    if (m_settings.emailEnabled)
        m_secrets->read(NotificationSettings::smtpPasswordSecret(), m_settings.smtpSecretTarget());
    if (m_settings.webhookEnabled)
        m_secrets->read(m_settings.webhookUrlSecret());
}

QString ProjectNotifications::passwordNote() const
{
    const QString warning = m_settings.cleartextWarning();
    QStringList notes;
    for (const QString& note : {m_passwordProblem, m_webhookProblem, warning})
        if (!note.isEmpty())
            notes << note;
    return notes.join(QStringLiteral("; "));
}

void ProjectNotifications::setPasswordProblem(const QString& problem)
{
    m_passwordProblem = problem;
    emit passwordNoteChanged(passwordNote());
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

void ProjectNotifications::secretRead(const QString& name, const QString& secret,
                                      SecretStore::ReadResult result)
{
    using Result = SecretStore::ReadResult;
    if (name == NotificationSettings::smtpPasswordSecret() && m_settings.emailEnabled) {
        // A relay that wants no login has no password: the targets go without one. A login
        // never goes out with an empty password for want of the stored one: its messages wait
        // with the reason as their status.
        QString problem;
        if (!m_settings.smtpUser.isEmpty() && result != Result::Found) {
            if (result == Result::Unavailable) {
                problem = SecretStore::unavailableText();
                m_secretRetry->start();
            } else if (result == Result::OtherTarget) {
                problem = QStringLiteral("E-mail password kept for another server: enter it "
                                         "again in Notifications");
            } else {
                problem = QStringLiteral("No e-mail password is stored: enter it in "
                                         "Notifications");
            }
        }
        NotificationTarget target = m_settings.emailTarget(secret);
        target.passwordProblem = problem;
        m_outbox->setTarget(target);
        NotificationTarget escalation = m_settings.emailTarget(secret, true);
        escalation.passwordProblem = problem;
        m_outbox->setTarget(escalation);
        setPasswordProblem(problem);
    } else if (name == m_settings.webhookUrlSecret() && m_settings.webhookEnabled) {
        // Without its address the webhook's messages wait: the status says why, and a service
        // that could not answer now is asked again.
        if (result == Result::Found) {
            m_webhookProblem.clear();
            m_outbox->setTarget(m_settings.webhookTarget(secret));
        } else if (result == Result::Unavailable) {
            m_webhookProblem = SecretStore::unavailableText();
            m_secretRetry->start();
        } else {
            m_webhookProblem =
                QStringLiteral("No webhook address is stored: enter it in Notifications");
        }
        emit passwordNoteChanged(passwordNote());
    }
}
