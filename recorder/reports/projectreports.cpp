#include "projectreports.h"

#include "notificationmessage.h"
#include "notificationoutbox.h"
#include "projectnotifications.h"
#include "reportruntable.h"
#include "reportschedule.h"
#include "writejob.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// The temporary PDFs of a project: in the user's cache, a folder per database.
QString cacheFolderOf(const QString& databasePath)
{
    const QByteArray key =
        QCryptographicHash::hash(QFileInfo(databasePath).absoluteFilePath().toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/reports/") + QString::fromLatin1(key);
}

} // namespace

ProjectReports::ProjectReports(const QString& projectPath, const QString& projectName,
                               const QString& databasePath, QObject* parent)
    : QObject(parent), m_projectPath(projectPath), m_projectName(projectName),
      m_databasePath(databasePath),
      m_runner(new ReportRunner(projectPath, cacheFolderOf(databasePath), this))
{
    m_runner->setMail(
        [this](const ScheduledPeriod& period, const QByteArray& pdf) { return mail(period, pdf); });
    connect(m_runner, &ReportRunner::noteChanged, this, &ProjectReports::noteChanged);
    connect(m_runner, &ReportRunner::finished, this,
            [this](const ReportRunRecord& row) { m_runs.insert(row.key(), row); });
}

ProjectReports::~ProjectReports() = default;

void ProjectReports::mailThrough(ProjectNotifications* notifications)
{
    m_notifications = notifications;
    m_post = [notifications](const NotificationMessage& message) {
        return notifications->postReport(message);
    };
    connect(notifications->outbox(), &NotificationOutbox::sent, this,
            [this](const QString& messageId, const QString&) { delivered(messageId); });
    notifications->setReportRecipients(ReportScheduleSettings::load(m_projectPath).recipients);
}

void ProjectReports::setClock(const Clock& clock)
{
    m_clock = clock;
    m_runner->setClock(clock);
}

QDateTime ProjectReports::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

bool ProjectReports::open(QString* error)
{
    m_settings = ReportScheduleSettings::load(m_projectPath);
    emit keyProblemsChanged(m_settings.keyProblems);
    QVector<ReportRunRecord> rows;
    int skipped = 0;
    if (!ReportRunTable::read(m_databasePath, &rows, error, &skipped))
        return false;
    if (skipped > 0)
        qWarning().noquote() << "ProjectReports::open :" << skipped
                             << "report run rows out of bounds left out";
    m_runs.clear();
    for (const ReportRunRecord& r : qAsConst(rows))
        m_runs.insert(r.key(), r);
    m_runningSince = now();
    m_open = true;
    check();
    return true;
}

void ProjectReports::reload()
{
    m_settings = ReportScheduleSettings::load(m_projectPath);
    if (m_notifications)
        m_notifications->setReportRecipients(m_settings.recipients);
    emit keyProblemsChanged(m_settings.keyProblems);
    check();
}

void ProjectReports::tick()
{
    const qint64 minute = now().toMSecsSinceEpoch() / 60000;
    if (minute == m_checkedMinute)
        return;
    check();
}

void ProjectReports::check()
{
    if (!m_open)
        return;
    const QDateTime at = now();
    m_checkedMinute = at.toMSecsSinceEpoch() / 60000;
    if (!m_settings.anyEnabled())
        return;
    const QVector<ReportRunRecord> rows(m_runs.cbegin(), m_runs.cend());
    QVector<ScheduledPeriod> due = ReportSchedule(m_settings).due(rows, m_runningSince, at);
    // A failed period the runner retries on its own stays with it.
    due.erase(std::remove_if(due.begin(), due.end(),
                             [this](const ScheduledPeriod& p) { return m_runner->holds(p.key()); }),
              due.end());
    if (!due.isEmpty())
        m_runner->enqueue(due);
}

QString ProjectReports::mail(const ScheduledPeriod& period, const QByteArray& pdf)
{
    if (!m_post)
        return QStringLiteral("E-mail notifications are off: the report is not mailed");
    const QString title = ReportScheduleSettings::kindTitle(period.kind);
    return m_post(NotificationMessage::report(
        m_projectName, title, period.periodText(), period.late,
        attachmentName(m_projectName, period.fileName()), pdf, messageKey(period.key())));
}

void ProjectReports::delivered(const QString& messageId)
{
    const QString key = periodKeyOf(messageId);
    if (key.isEmpty() || !m_runs.contains(key))
        return;
    ReportRunRecord row = m_runs.value(key);
    if (row.state == ReportRunRecord::stateSent())
        return;
    row.state = ReportRunRecord::stateSent();
    row.error.clear();
    m_runs.insert(key, row);
    m_runner->recordDelivery(row);
}

QString ProjectReports::messageKey(const QString& periodKey)
{
    return QStringLiteral("report.") + periodKey;
}

QString ProjectReports::periodKeyOf(const QString& messageId)
{
    if (!messageId.startsWith(QLatin1String("report.")))
        return QString();
    // "report.<kind>.<yyyy-MM-dd>.<origin>"
    const QString kind = messageId.section(QLatin1Char('.'), 1, 1);
    const QString first = messageId.section(QLatin1Char('.'), 2, 2);
    ReportScheduleSettings::Kind k;
    if (!ReportScheduleSettings::kindFromName(kind, &k) ||
        !QDate::fromString(first, Qt::ISODate).isValid())
        return QString();
    return kind + QLatin1Char('.') + first;
}

QString ProjectReports::attachmentName(const QString& projectName, const QString& fileName)
{
    return projectName + QLatin1Char('-') + fileName;
}
