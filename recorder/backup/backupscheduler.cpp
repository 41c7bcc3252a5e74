#include "backupscheduler.h"

#include <QMetaObject>
#include <QThread>

#include <memory>

BackupScheduler::BackupScheduler(const QString& projectPath, const QString& projectName,
                                 const QString& databasePath, QObject* parent)
    : QObject(parent),
      m_projectPath(projectPath),
      m_projectName(projectName),
      m_databasePath(databasePath),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    qRegisterMetaType<BackupJob::Report>("BackupJob::Report");
}

BackupScheduler::~BackupScheduler()
{
    if (m_thread) {
        // The thread deletes itself once the job is done; nobody hears its answer.
        m_thread->disconnect(this);
        QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        m_thread->setParent(nullptr);
    }
}

void BackupScheduler::setSettings(const BackupSettings& settings)
{
    m_settings = settings;
    m_failure.clear();
    m_lastFailure = QDateTime();
    m_lastGood = QDateTime();
    m_scanned = false;
    if (m_thread)
        m_rescan = true;
    else if (m_settings.enabled())
        start(false);
    showStatus();
}

void BackupScheduler::tick()
{
    if (!m_settings.enabled() || m_thread || !m_scanned)
        return;
    const QDateTime now = m_clock();
    if (isDue(now, m_settings.timeOfDay, m_lastGood, m_lastFailure))
        start(true);
    else
        showStatus(); // the age runs on
}

void BackupScheduler::start(bool copy)
{
    BackupJob::Request request;
    request.projectPath = m_projectPath;
    request.projectName = m_projectName;
    request.databasePath = m_databasePath;
    request.settings = m_settings;
    request.now = m_clock();
    request.copy = copy;
    QPointer<BackupScheduler> self(this);
    QThread* thread = QThread::create([request, self] {
        BackupJob::lowerThreadPriority();
        const BackupJob::Report report = BackupJob::run(request);
        if (self)
            QMetaObject::invokeMethod(
                self, [self, report] {
                    if (self)
                        self->finish(report);
                },
                Qt::QueuedConnection);
    });
    thread->setObjectName(QStringLiteral("backup"));
    m_thread = thread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::LowPriority);
    showStatus();
}

void BackupScheduler::finish(const BackupJob::Report& report)
{
    m_thread = nullptr;
    if (m_rescan) {
        m_rescan = false;
        if (m_settings.enabled())
            start(false);
        showStatus();
        return;
    }
    m_scanned = true;
    m_lastGood = report.lastGood;
    if (report.attempted) {
        if (report.ok) {
            m_failure.clear();
            m_lastFailure = QDateTime();
        } else {
            m_failure = report.error;
            m_lastFailure = m_clock();
            emit backupFailed(report.error, report.copyPath);
        }
        emit backupFinished(report);
    }
    showStatus();
}

QString BackupScheduler::statusText() const
{
    if (!m_settings.enabled())
        return QString();
    if (!m_failure.isEmpty())
        return QStringLiteral("Backup failed: ") + m_failure;
    if (m_thread && m_scanned)
        return QStringLiteral("Backup running");
    if (!m_scanned)
        return QString();
    if (!m_lastGood.isValid())
        return QStringLiteral("Backup: none yet");
    return QStringLiteral("Backup: ") + ageText(m_lastGood, m_clock());
}

void BackupScheduler::showStatus()
{
    const QString text = statusText();
    if (text == m_shown)
        return;
    m_shown = text;
    emit statusChanged(text);
}

namespace {

// The day's backup time; one in the hour a spring-forward night skips comes when it ends.
QDateTime backupTime(const QDate& date, const QTime& time)
{
    const QDateTime at(date, time);
    return at.isValid() ? at : QDateTime(date, time.addSecs(3600));
}

} // namespace

bool BackupScheduler::isDue(const QDateTime& now, const QTime& timeOfDay,
                            const QDateTime& lastGood, const QDateTime& lastFailure)
{
    // The latest backup time that has come: today's, or yesterday's before today's has.
    QDateTime scheduled = backupTime(now.date(), timeOfDay);
    if (scheduled > now)
        scheduled = backupTime(now.date().addDays(-1), timeOfDay);
    if (lastGood.isValid() && (lastGood >= scheduled || lastGood.date() == now.date()))
        return false;
    return !lastFailure.isValid() || lastFailure.msecsTo(now) >= RetryMs ||
           lastFailure.msecsTo(now) < 0;
}

QString BackupScheduler::ageText(const QDateTime& then, const QDateTime& now)
{
    const qint64 seconds = qMax<qint64>(0, then.secsTo(now));
    if (seconds < 60)
        return QStringLiteral("just now");
    if (seconds < 3600)
        return QStringLiteral("%1 min ago").arg(seconds / 60);
    if (seconds < 48 * 3600)
        return QStringLiteral("%1 h ago").arg(seconds / 3600);
    return QStringLiteral("%1 days ago").arg(seconds / 86400);
}
