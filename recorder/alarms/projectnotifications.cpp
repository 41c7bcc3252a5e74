#include "projectnotifications.h"

#include "heartbeat.h"
#include "notificationmessage.h"
#include "notificationoutbox.h"
#include "notificationscheduler.h"
#include "notificationservice.h"
#include "projectfile.h"
#include "secretstore.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace {

// How long a locked secret service is left alone before the password is asked for again.
constexpr int SecretRetryMs = 60000;
// The longest a report mail's send may take, to all its recipients.
constexpr int ReportSendTimeoutMs = 5 * 60 * 1000;

} // namespace

ProjectNotifications::ProjectNotifications(const QString& projectFilePath, DatabaseWriter* writer,
                                           AlarmMonitor* monitor, QObject* parent)
    : QObject(parent), m_projectPath(projectFilePath)
{
    m_service = new NotificationService(this);
    m_outbox =
        new NotificationOutbox(writer, ProjectFile::databasePath(projectFilePath), m_service, this);
    // Reports on a thread of their own: an upload of minutes never holds an alarm's mail back.
    m_reportService = new NotificationService(this);
    m_outbox->setReportService(m_reportService);
    m_scheduler = new NotificationScheduler(monitor, m_outbox, this);
    // The same project's secrets as the dialog keeps, wherever its file was opened from.
    const QFileInfo file(projectFilePath);
    m_secrets =
        new SecretStore(file.exists() ? file.canonicalFilePath() : file.absoluteFilePath(), this);
    connect(m_secrets, &SecretStore::readFinished, this, &ProjectNotifications::secretRead);
    m_heartbeat = new Heartbeat(this);
    connect(m_heartbeat, &Heartbeat::problemChanged, this,
            [this] { emit passwordNoteChanged(passwordNote()); });
    m_secretRetry = new QTimer(this);
    m_secretRetry->setSingleShot(true);
    m_secretRetry->setInterval(SecretRetryMs);
    connect(m_secretRetry, &QTimer::timeout, this, [this] {
        if (m_settings.emailEnabled && m_passwordProblem == SecretStore::unavailableText())
            m_secrets->read(NotificationSettings::smtpPasswordSecret(),
                            m_settings.smtpSecretTarget());
        if (m_settings.webhookEnabled && m_webhookProblem == SecretStore::unavailableText())
            m_secrets->read(m_settings.webhookUrlSecret());
        if (m_settings.heartbeatMinutes > 0 && m_heartbeatProblem == SecretStore::unavailableText())
            m_secrets->read(NotificationSettings::heartbeatUrlSecret());
    });
    connect(m_outbox, &NotificationOutbox::stateChanged, this,
            &ProjectNotifications::outboxStateChanged);
}

// The send in progress is interrupted (the program must not wait on a server); its message
// stays in the outbox.
ProjectNotifications::~ProjectNotifications()
{
    m_service->stop();
    m_reportService->stop();
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

void ProjectNotifications::setReportRecipients(const QStringList& recipients)
{
    m_reportRecipients = recipients;
    if (m_haveEmailTarget)
        m_outbox->setTarget(reportTarget());
}

NotificationTarget ProjectNotifications::reportTarget() const
{
    NotificationTarget target = m_emailTarget;
    target.name = reportTargetName();
    target.recipients = m_reportRecipients;
    // A PDF of megabytes takes longer than an alarm's text on a slow line; a server that stops
    // answering still ends the send after the response time-out.
    target.totalTimeoutMs = std::max(target.totalTimeoutMs, ReportSendTimeoutMs);
    return target;
}

QString ProjectNotifications::postReport(const NotificationMessage& report)
{
    const QString refusal =
        NotificationMessage::reportSizeRefusal(report.attachment().size(), m_reportMailMaxBytes);
    if (!refusal.isEmpty())
        return refusal;
    if (!m_settings.emailEnabled)
        return QStringLiteral("E-mail notifications are off: the report is not mailed");
    if (m_reportRecipients.isEmpty())
        return QStringLiteral("No report recipient is set");
    if (!m_outbox->add(report, reportTargetName()))
        return QStringLiteral("The report could not be put into the outbox");
    return QString();
}

bool ProjectNotifications::postAlarmTestReminder(const NotificationEvent& event)
{
    return postCalibration(event);
}

QVector<NotificationTarget> ProjectNotifications::readyTargets() const
{
    QVector<NotificationTarget> targets;
    const QString email = m_settings.emailTarget(QString()).name;
    if (m_settings.emailEnabled && m_ready.contains(email))
        targets << m_ready.value(email);
    if (m_settings.webhookEnabled && m_ready.contains(m_settings.webhookName))
        targets << m_ready.value(m_settings.webhookName);
    return targets;
}

QHash<QString, QString> ProjectNotifications::unavailableTargets() const
{
    QHash<QString, QString> reasons;
    const QString email = m_settings.emailTarget(QString()).name;
    if (m_settings.emailEnabled && !m_ready.contains(email))
        reasons.insert(email, QStringLiteral("the e-mail password is still being read"));
    if (m_settings.webhookEnabled && !m_ready.contains(m_settings.webhookName))
        reasons.insert(m_settings.webhookName,
                       m_webhookProblem.isEmpty()
                           ? QStringLiteral("the webhook address is still being read")
                           : m_webhookProblem);
    return reasons;
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
    // The sender refuses such a target; its messages wait, shown as not sent, for new settings.
    if (m_settings.emailEnabled && !m_settings.addressProblem().isEmpty())
        qWarning().noquote() << QStringLiteral("ProjectNotifications : ") +
                                    m_settings.addressProblem();
    m_scheduler->setSettings(m_settings);
    m_outbox->setRetentionDays(m_settings.retentionDays);
    // A wrong value is shown with the project's own key problems (ProjectFile::load()).
    m_reportMailMaxBytes = ProjectFile(m_projectPath).reportMailMaxBytes();
    m_outbox->setAttachmentLimit(m_reportMailMaxBytes);
    emit keyProblemsChanged(m_settings.keyProblems);
    // Targets come back as their secrets are read; until then their messages wait. Messages
    // for a target the settings no longer hold show as failing.
    QStringList expected;
    if (m_settings.emailEnabled)
        expected << QStringLiteral("email") << QStringLiteral("email-escalation")
                 << reportTargetName();
    if (m_settings.webhookEnabled)
        expected << m_settings.webhookName;
    m_outbox->setExpectedTargets(expected);
    m_outbox->removeTarget(QStringLiteral("email"));
    m_outbox->removeTarget(QStringLiteral("email-escalation"));
    m_outbox->removeTarget(reportTargetName());
    m_haveEmailTarget = false;
    m_outbox->removeTarget(oldWebhook);
    m_ready.clear();
    m_secretRetry->stop();
    m_webhookProblem.clear();
    m_heartbeatProblem.clear();
    m_heartbeat->setMinutes(m_settings.heartbeatMinutes);
    setPasswordProblem(QString());
    if (m_settings.emailEnabled)
        m_secrets->read(NotificationSettings::smtpPasswordSecret(), m_settings.smtpSecretTarget());
    if (m_settings.webhookEnabled)
        m_secrets->read(m_settings.webhookUrlSecret());
    // Read again at each reload: the dialog may have stored another URL.
    if (m_settings.heartbeatMinutes > 0)
        m_secrets->read(NotificationSettings::heartbeatUrlSecret());
    else
        m_heartbeat->setUrl(QString());
}

QString ProjectNotifications::passwordNote() const
{
    const QString warning = m_settings.cleartextWarning();
    QStringList notes;
    for (const QString& note :
         {m_passwordProblem, m_webhookProblem, m_heartbeatProblem, m_heartbeat->problem(), warning})
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
    m_heartbeat->setClock(clock);
}

void ProjectNotifications::tick()
{
    m_scheduler->tick();
    m_outbox->tick();
    m_heartbeat->tick();
}

void ProjectNotifications::setRecording(bool recording)
{
    m_heartbeat->setRecording(recording);
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
        m_ready.insert(target.name, target);
        NotificationTarget escalation = m_settings.emailTarget(secret, true);
        escalation.passwordProblem = problem;
        m_outbox->setTarget(escalation);
        m_emailTarget = target;
        m_haveEmailTarget = true;
        m_outbox->setTarget(reportTarget());
        setPasswordProblem(problem);
    } else if (name == m_settings.webhookUrlSecret() && m_settings.webhookEnabled) {
        // Without its address the webhook's messages wait: the status says why, and a service
        // that could not answer now is asked again.
        if (result == Result::Found) {
            m_webhookProblem.clear();
            m_outbox->setTarget(m_settings.webhookTarget(secret));
            m_ready.insert(m_settings.webhookName, m_settings.webhookTarget(secret));
        } else if (result == Result::Unavailable) {
            m_webhookProblem = SecretStore::unavailableText();
            m_secretRetry->start();
        } else {
            m_webhookProblem =
                QStringLiteral("No webhook address is stored: enter it in Notifications");
        }
        emit passwordNoteChanged(passwordNote());
    } else if (name == NotificationSettings::heartbeatUrlSecret() &&
               m_settings.heartbeatMinutes > 0) {
        // Without its URL no beat goes out, and the service alerts: the status says why.
        // A service locked for now leaves a URL read before in use.
        if (result != Result::Unavailable)
            m_heartbeat->setUrl(result == Result::Found ? secret : QString());
        if (result == Result::Found) {
            m_heartbeatProblem.clear();
        } else if (result == Result::Unavailable) {
            m_heartbeatProblem = SecretStore::unavailableText();
            m_secretRetry->start();
        } else {
            m_heartbeatProblem =
                QStringLiteral("No heartbeat URL is stored: enter it in Notifications");
        }
        emit passwordNoteChanged(passwordNote());
    }
}
